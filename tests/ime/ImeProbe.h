#pragma once

// The GTK 3 window of ime_probe.py in its own process: what its entries hold and show as preedit, as it reports;
// and waiting on an input method's answers.
#include "../support/DesktopChild.h"
#include "platform/InputMethodCommit.h"

#include <QJsonDocument>
#include <QJsonObject>

class ImeProbe
{
public:
    // env: changes for the window's environment, e.g. GTK_IM_MODULE; a value of "-" removes the variable.
    explicit ImeProbe(QMap<QString, QString> env)
        : m_process(QStringLiteral("/usr/bin/python3"), {QStringLiteral(VOXLE_IME_PROBE)}, quiet(std::move(env)))
    {
        m_process.onLine = [this](const QString &line) {
            const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
            const QString entry = o.value(QStringLiteral("entry")).toString();
            if (o.contains(QStringLiteral("text")))
                text[entry] = o.value(QStringLiteral("text")).toString();
            if (o.contains(QStringLiteral("preedit"))) {
                preedit[entry] = o.value(QStringLiteral("preedit")).toString();
                ++preeditChanges;
            }
            if (o.contains(QStringLiteral("focus")))
                focus = o.value(QStringLiteral("focus")).toString();
            if (o.contains(QStringLiteral("ready")))
                ready = true;
        };
    }

    // Gives the window the X input focus (the fcitx GTK module makes its input context then).
    bool focusX11Window()
    {
        const QString window = DesktopChild::output(QStringLiteral("xdotool"),
                                                    {QStringLiteral("search"), QStringLiteral("--sync"),
                                                     QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                                     QString::number(m_process.pid())})
                                   .split(QLatin1Char('\n'))
                                   .value(0);
        if (window.isEmpty())
            return false;
        QProcess focus;
        focus.start(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        return focus.waitForFinished(10000) && focus.exitCode() == 0;
    }
    void send(const QString &command) { m_process.write(command.toUtf8() + '\n'); }

    // Waits until the input method reports the focus in this window (imeFocused), nudging the window's focus
    // now and then: a window that took the focus while its input-method module was still connecting may
    // never tell the framework.
    bool waitForImeFocus(const std::function<bool()> &imeFocused)
    {
        for (int attempt = 0; attempt < 6; ++attempt) {
            // The focus changes of a window's first moments (mapping, the window manager, xdotool) reach the
            // framework one after another: only a focus that stays counts.
            if (QTest::qWaitFor(imeFocused, 2000) && !QTest::qWaitFor([&]() { return !imeFocused(); }, 700))
                return true;
            send(QStringLiteral("refocus"));
        }
        return false;
    }

    // Gives the window the X focus when asked to, then waits until the input method runs and reports the focus.
    bool focusForInputMethod(InputMethodCommit &im, bool x11 = true)
    {
        return (!x11 || focusX11Window()) && QTest::qWaitFor([&]() { return im.isFrameworkRunning(); }) &&
               waitForImeFocus([&]() { return reportsFocus(im); });
    }

    // The input method's answer to a commit, or with preedit to live text; failed if none comes.
    static InputMethodCommit::Outcome commit(InputMethodCommit &im, const QString &text, bool preedit = false)
    {
        std::optional<InputMethodCommit::Outcome> outcome;
        const auto done = [&](InputMethodCommit::Outcome o) { outcome = o; };
        preedit ? im.setPreedit(text, done) : im.commit(text, done);
        (void)QTest::qWaitFor([&]() { return outcome.has_value(); });
        return outcome.value_or(InputMethodCommit::Outcome::failed);
    }
    static std::optional<InputMethodCommit::FocusState> focusState(InputMethodCommit &im)
    {
        std::optional<InputMethodCommit::FocusState> state;
        bool answered = false;
        im.focusState([&](std::optional<InputMethodCommit::FocusState> s) { state = s, answered = true; });
        (void)QTest::qWaitFor([&]() { return answered; });
        return state;
    }
    // True when the input method reports a focused input context.
    static bool reportsFocus(InputMethodCommit &im)
    {
        const auto state = focusState(im);
        return state && state->focused;
    }

    // Makes `owner` (xclip, which ends when another program takes the clipboard) hold the user's clipboard.
    static bool ownX11Clipboard(QProcess &owner, const QString &content)
    {
        owner.start(QStringLiteral("xclip"), {QStringLiteral("-quiet"), QStringLiteral("-selection"),
                                              QStringLiteral("clipboard"), QStringLiteral("-i")});
        owner.write(content.toUtf8());
        owner.closeWriteChannel();
        const QStringList read{QStringLiteral("-o"), QStringLiteral("-selection"), QStringLiteral("clipboard")};
        return QTest::qWaitFor([&]() { return DesktopChild::output(QStringLiteral("xclip"), read) == content; });
    }

    QMap<QString, QString> text;
    QMap<QString, QString> preedit;
    int preeditChanges = 0;
    QString focus;
    bool ready = false;

private:
    static QMap<QString, QString> quiet(QMap<QString, QString> env)
    {
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        return env;
    }

    DesktopChild m_process;
};
