// The injection path on a real desktop: Xvfb with openbox, the AT-SPI bus, XTest and the X clipboard, with text
// fields, a terminal and a clipboard manager in other processes. Run inside scripts/lib/desktop.sh.
#include "base/SystemClock.h"
#include "output/TextInjectionService.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11ClipboardPasteboard.h"
#include "platform/linux/XTestKeySynth.h"

#include "../support/CaseFiles.h"
#include "../support/DesktopChild.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kTimeoutMs = 5000;
const QString kDictation = QStringLiteral("你好，world");

std::unique_ptr<DesktopChild> gtkEntry(const QString &initial)
{
    return std::make_unique<DesktopChild>(QStringLiteral("/usr/bin/python3"),
                                          QStringList{QStringLiteral(VOXLE_GTK_ENTRY), initial});
}

std::unique_ptr<DesktopChild> qtTarget(const QStringList &args)
{
    return std::make_unique<DesktopChild>(QStringLiteral(VOXLE_TEXT_TARGET), args);
}

QString run(const QString &command)
{
    return DesktopChild::output(QStringLiteral("sh"), {QStringLiteral("-c"), command}).trimmed();
}

// A clipboard owner in its own process, serving text and a small PNG image; the image as written.
std::unique_ptr<DesktopChild> imageOwner(const QString &text, const QTemporaryDir &dir, QByteArray *png = nullptr)
{
    QImage image(8, 6, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 90));
    const QString path = dir.filePath(QStringLiteral("old.png"));
    image.save(path, "PNG");
    QFile file(path);
    if (png && file.open(QIODevice::ReadOnly))
        *png = file.readAll();
    return qtTarget({QStringLiteral("owner"), text, path});
}

QByteArray readClipboard(const QString &target, const char *selection = "clipboard")
{
    // xclip reads from whoever owns the clipboard; when that is us, our owner thread serves it.
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QString::fromLatin1(selection),
                                          QStringLiteral("-o"), QStringLiteral("-t"), target});
    (void)QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, kTimeoutMs);
    return xclip.exitCode() == 0 ? xclip.readAllStandardOutput() : QByteArray("<xclip failed>");
}

} // namespace

class TestTextInjectionDesktop : public QObject
{
    Q_OBJECT

    std::unique_ptr<SystemClock> clock;
    std::unique_ptr<XTestKeySynth> keys;
    std::unique_ptr<AtspiAccessibility> ax;
    std::unique_ptr<X11ClipboardPasteboard> pb;
    std::unique_ptr<TextInjectionService> service;

    // Runs fn on the accessibility thread with the focused element and waits for it.
    bool withFocusedElement(const std::function<void(Accessibility::Element &)> &fn)
    {
        bool done = false;
        bool found = false;
        ax->post(
            [&](Accessibility::Session &session) {
                if (auto element = session.focusedElement()) {
                    found = true;
                    fn(*element);
                }
            },
            [&]() { done = true; });
        (void)QTest::qWaitFor([&] { return done; }, kTimeoutMs);
        return found;
    }
    // Waits until nothing of an insertion is pending: the clipboard is served by us with the old content.
    void settle() { QTest::qWait(int(TextInjectionService::restoreBoundMs) + 300); }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test desktop (scripts/lib/desktop.sh)");
        clock = std::make_unique<SystemClock>();
        keys = std::make_unique<XTestKeySynth>();
        ax = std::make_unique<AtspiAccessibility>([this]() { return keys->focusedWindowPid(); });
        pb = std::make_unique<X11ClipboardPasteboard>();
        service = std::make_unique<TextInjectionService>(*ax, *pb, *keys, *clock);
        QVERIFY(keys->isAvailable());
        QVERIFY(pb->isAvailable());
        QVERIFY(service->requestAccessibilityTrust());
    }

    // Into the field that holds the keyboard focus, GTK first, then Qt once the user moves there. Offsets count
    // like the toolkit: a character outside the BMP is two UTF-16 units but one AT-SPI character in GTK.
    void injectAtCursor_insertsIntoTheFocusedTextField()
    {
        const QString initial = QStringLiteral("😀ab");
        auto qt = qtTarget({QStringLiteral("lineedit"), initial});
        QVERIFY(qt->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        auto gtk = gtkEntry(initial);
        QVERIFY(gtk->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        const qint64 clipboardBefore = pb->changeCount();
        // A selection is replaced in GTK; Qt's field takes the text at the caret.
        for (auto [target, length] : {std::pair{gtk.get(), 1}, {qt.get(), 0}}) {
            if (target == qt.get()) {
                run(QStringLiteral("xdotool windowactivate --sync $(xdotool search --onlyvisible --pid %1 | tail -1)")
                        .arg(qt->pid()));
                QTRY_COMPARE_WITH_TIMEOUT(keys->focusedWindowPid(), qt->pid(), kTimeoutMs);
            }
            QVERIFY(withFocusedElement([&](Accessibility::Element &e) {
                QCOMPARE(e.value(), initial);
                QCOMPARE(e.selectedTextRange(), (Accessibility::TextRange{4, 0}));
                QVERIFY(e.setSelectedTextRange({2, length}));
                QVERIFY(!e.isTerminal());
            }));
            QString expected = QString(initial).replace(2, length, kDictation);
            service->injectAtCursor(QStringLiteral("  ") + kDictation + QStringLiteral("\n"));
            QVERIFY2(target->waitFor(QStringLiteral("TEXT:") + expected), qPrintable(target->log()));
            QVERIFY(withFocusedElement([&](Accessibility::Element &e) { QVERIFY(e.deleteText({3, 2})); }));
            QVERIFY2(target->waitFor(QStringLiteral("TEXT:") + expected.remove(3, 2)), qPrintable(target->log()));
        }
        QTest::qWait(300);
        QCOMPARE(pb->changeCount(), clipboardBefore);
        QCOMPARE(gtk->lines.last(), QStringLiteral("TEXT:") + QString(initial).replace(2, 1, kDictation).remove(3, 2));
    }

    void paste_lateReaderAndHungOwner_textGoesInAndEveryFormatComesBack()
    {
        QTemporaryDir dir;
        QByteArray png;
        const qint64 changes = pb->changeCount();
        auto owner = imageOwner(QStringLiteral("旧的剪贴板 old"), dir, &png);
        QVERIFY(png.startsWith("\x89PNG"));
        QVERIFY(owner->waitFor(QStringLiteral("OWNED"), kStartTimeoutMs));
        // Another program taking the clipboard (the user's copy, a clipboard manager) is a change.
        QTRY_VERIFY_WITH_TIMEOUT(pb->changeCount() > changes, kTimeoutMs);
        // The target reads the clipboard a second after the key, as Electron or LibreOffice may.
        auto target = qtTarget({QStringLiteral("plain"), QStringLiteral("1000")});
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        service->injectAtCursor(kDictation);
        QVERIFY2(target->waitFor(QStringLiteral("PASTED:") + kDictation), qPrintable(target->log()));
        // The owner is gone: what comes back is served by us, every format of it, and marked as nothing else.
        owner.reset();
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readClipboard(QStringLiteral("UTF8_STRING"))),
                                  QStringLiteral("旧的剪贴板 old"), kTimeoutMs);
        QCOMPARE(readClipboard(QStringLiteral("image/png")), png);
        QVERIFY(!readClipboard(QStringLiteral("TARGETS")).contains("x-kde-passwordManagerHint"));

        // A stopped clipboard owner holds the next paste by the read bound only (the target reads 1 s late).
        auto hung = imageOwner(QStringLiteral("held"), dir);
        QVERIFY(hung->waitFor(QStringLiteral("OWNED"), kStartTimeoutMs));
        ::kill(static_cast<pid_t>(hung->pid()), SIGSTOP);
        QElapsedTimer timer;
        timer.start();
        service->injectAtCursor(QStringLiteral("第二"));
        QVERIFY2(target->waitFor(QStringLiteral("PASTED:第二")), qPrintable(target->log()));
        QCOMPARE_LT(timer.elapsed(), TextInjectionService::clipboardReadBoundMs + 3000);
        settle();
    }

    void paste_chordReachesTheTargetAsAPaste_data()
    {
        QTest::addColumn<bool>("dvorak");
        QTest::newRow("Super still held") << false;
        // With "us,us(dvorak)" and Dvorak active, the first group's V key types K.
        QTest::newRow("second layout group active") << true;
    }
    void paste_chordReachesTheTargetAsAPaste()
    {
        QFETCH(bool, dvorak);
        if (dvorak) {
            run(QStringLiteral("setxkbmap -layout us,us -variant ,dvorak"));
            Display *d = XOpenDisplay(nullptr);
            XkbLockGroup(d, XkbUseCoreKbd, 1);
            XSync(d, False);
            XCloseDisplay(d);
        }
        auto target = qtTarget({QStringLiteral("plain"), QStringLiteral("0")});
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        if (!dvorak) {
            run(QStringLiteral("xdotool keydown Super_L"));
            QTRY_VERIFY_WITH_TIMEOUT(keys->modifiersHeld(), kTimeoutMs);
        }
        service->injectAtCursor(QStringLiteral("held"));
        const bool pasted = target->waitFor(QStringLiteral("PASTED:held"));
        run(dvorak ? QStringLiteral("setxkbmap -layout us") : QStringLiteral("xdotool keyup Super_L"));
        QVERIFY2(pasted, qPrintable(target->log()));
        QVERIFY(!target->log().contains(QStringLiteral("RAW:")));
        settle();
    }

    void paste_terminalsGetTheirOwnChord()
    {
        // A widget with the terminal role pastes with Ctrl+Shift+V only.
        {
            auto terminal = qtTarget({QStringLiteral("terminal"), QStringLiteral("0")});
            QVERIFY(terminal->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
            bool role = false;
            QTRY_VERIFY_WITH_TIMEOUT(
                withFocusedElement([&](Accessibility::Element &e) { role = e.isTerminal(); }) && role, kTimeoutMs);
            service->injectAtCursor(QStringLiteral("echo 你好"));
            QVERIFY2(terminal->waitFor(QStringLiteral("PASTED:echo 你好")), qPrintable(terminal->log()));
            settle();
        }
        // A real xterm pastes the primary selection on Shift+Insert and ignores Ctrl+V and Ctrl+Shift+V. It has
        // no accessibility tree: the text entry focused before it must not take the text.
        auto gtk = gtkEntry(QStringLiteral("gtk:"));
        QVERIFY(gtk->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        QTemporaryDir dir;
        const QString out = dir.filePath(QStringLiteral("typed"));
        QProcess xterm;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
        xterm.setProcessEnvironment(env);
        xterm.start(QStringLiteral("xterm"), {QStringLiteral("-u8"), QStringLiteral("-e"), QStringLiteral("sh"),
                                              QStringLiteral("-c"), QStringLiteral("stty -icanon; cat > %1").arg(out)});
        QTRY_COMPARE_WITH_TIMEOUT(keys->focusedWindowClass(), QStringLiteral("xterm"), kStartTimeoutMs);
        QCOMPARE(keys->pasteChordForFocusedWindow(), KeySynth::PasteChord::shiftInsert);
        QTest::qWait(500); // the shell inside has set up the line discipline
        service->injectAtCursor(QStringLiteral("ls 你好"));
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromUtf8(readFile(out)), QStringLiteral("ls 你好"), kTimeoutMs);
        QCOMPARE(gtk->lines.last(), QStringLiteral("FOCUSED"));
        settle();
        xterm.kill();
        xterm.waitForFinished(kTimeoutMs);
    }

    // The hotkey's grab is answered on the main thread: nothing there may wait on the hung application (an
    // AT-SPI call to it blocks for half a second), and a cancel leaves nothing behind.
    void injectAtCursor_stoppedTargetNeverBlocksTheMainThread()
    {
        auto hung = gtkEntry(QStringLiteral("abc"));
        QVERIFY(hung->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        const qint64 clipboardBefore = pb->changeCount();
        ::kill(static_cast<pid_t>(hung->pid()), SIGSTOP);
        QElapsedTimer sinceTick;
        qint64 longestStall = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&]() { longestStall = std::max(longestStall, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        service->injectAtCursor(kDictation);
        QTest::qWait(150);
        service->cancelInsertion();
        // The insertion gave up within its bound: once the application runs again, nothing arrives anywhere.
        QTest::qWait(int(TextInjectionService::restoreBoundMs));
        tick.stop();
        QVERIFY2(longestStall < 300, qPrintable(QString::number(longestStall)));
        ::kill(static_cast<pid_t>(hung->pid()), SIGCONT);
        QTest::qWait(1000);
        QVERIFY2(!hung->log().contains(QStringLiteral("world")), qPrintable(hung->log()));
        QCOMPARE(pb->changeCount(), clipboardBefore);
    }
};

QTEST_MAIN(TestTextInjectionDesktop)
#include "tst_TextInjectionDesktop.moc"
