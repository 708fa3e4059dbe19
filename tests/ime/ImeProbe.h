#pragma once

// The GTK 3 window of ime_probe.py in its own process: what its entries hold and show as preedit, as it reports.
#include "platform/InputMethodCommit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <functional>

class ImeProbe
{
public:
    // env: extra variables, e.g. GTK_IM_MODULE; a value of "-" removes the variable.
    ImeProbe(const QString &script, const QMap<QString, QString> &env)
    {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        e.insert(QStringLiteral("NO_AT_BRIDGE"), QStringLiteral("1"));
        for (auto it = env.cbegin(); it != env.cend(); ++it) {
            if (it.value() == QLatin1String("-"))
                e.remove(it.key());
            else
                e.insert(it.key(), it.value());
        }
        m_process.setProcessEnvironment(e);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this]() {
            while (m_process.canReadLine()) {
                const QJsonObject o = QJsonDocument::fromJson(m_process.readLine()).object();
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
            }
        });
        m_process.start(QStringLiteral("/usr/bin/python3"), {script});
    }
    ~ImeProbe()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    ImeProbe(const ImeProbe &) = delete;
    ImeProbe &operator=(const ImeProbe &) = delete;

    qint64 pid() const { return m_process.processId(); }

    // Gives the window the X input focus (the fcitx GTK module makes its input context then).
    bool focusX11Window()
    {
        QProcess search;
        search.start(QStringLiteral("xdotool"),
                     {QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                      QStringLiteral("--pid"), QString::number(pid())});
        search.waitForFinished(10000);
        const QString window = QString::fromUtf8(search.readAllStandardOutput()).split(QLatin1Char('\n')).value(0);
        if (window.isEmpty())
            return false;
        QProcess focus;
        focus.start(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
        return focus.waitForFinished(10000) && focus.exitCode() == 0;
    }
    void send(const QString &command) { m_process.write(command.toUtf8() + '\n'); }

    static bool waitUntil(const std::function<bool()> &condition, int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!condition()) {
            if (t.elapsed() > timeoutMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }

    // Waits until the input method reports the focus in this window (imeFocused), nudging the window's focus
    // now and then: a window that took the focus while its input-method module was still connecting may
    // never tell the framework.
    bool waitForImeFocus(const std::function<bool()> &imeFocused)
    {
        for (int attempt = 0; attempt < 6; ++attempt) {
            // The focus changes of a window's first moments (mapping, the window manager, xdotool) reach the
            // framework one after another: only a focus that stays counts.
            if (waitUntil(imeFocused, 2000) && !waitUntil([&]() { return !imeFocused(); }, 700))
                return true;
            send(QStringLiteral("refocus"));
        }
        return false;
    }

    // True when the input method reports a focused input context; asks and waits for the answer.
    static bool reportsFocus(InputMethodCommit &im)
    {
        std::optional<InputMethodCommit::FocusState> state;
        bool answered = false;
        im.focusState([&](std::optional<InputMethodCommit::FocusState> s) {
            state = s;
            answered = true;
        });
        waitUntil([&]() { return answered; });
        return state && state->focused;
    }

    QMap<QString, QString> text;
    QMap<QString, QString> preedit;
    int preeditChanges = 0;
    QString focus;
    bool ready = false;

private:
    QProcess m_process;
};
