// The injection path on a real desktop: Xvfb, the AT-SPI bus, XTest and the X clipboard, with text fields in
// other processes. Run inside scripts/lib/desktop.sh.
#include "base/SystemClock.h"
#include "output/TextInjectionService.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/QtClipboardPasteboard.h"
#include "platform/linux/XTestKeySynth.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kTimeoutMs = 5000;
const QString kDictation = QStringLiteral("你好，world");

// A program in its own process whose standard output lines the test watches.
class Target
{
public:
    Target(const QString &program, const QStringList &args, const QString &resourceName = {})
    {
        if (!resourceName.isEmpty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("RESOURCE_NAME"), resourceName);
            m_process.setProcessEnvironment(env);
        }
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this]() {
            while (m_process.canReadLine())
                lines << QString::fromUtf8(m_process.readLine()).chopped(1);
        });
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(program, args);
    }
    ~Target()
    {
        m_process.kill();
        m_process.waitForFinished(kTimeoutMs);
    }
    bool waitFor(const QString &line, int timeoutMs = kTimeoutMs)
    {
        (void)QTest::qWaitFor([&] { return lines.contains(line) || m_process.state() == QProcess::NotRunning; },
                              timeoutMs);
        return lines.contains(line);
    }
    qint64 pid() const { return m_process.processId(); }
    QStringList lines;

private:
    QProcess m_process;
};

std::unique_ptr<Target> startGtkEntry(const QString &initial)
{
    return std::make_unique<Target>(QStringLiteral("/usr/bin/python3"),
                                    QStringList{QStringLiteral(VOXLE_GTK_ENTRY), initial});
}

std::unique_ptr<Target> startQtTarget(const QStringList &args, const QString &resourceName = {})
{
    return std::make_unique<Target>(QStringLiteral(VOXLE_TEXT_TARGET), args, resourceName);
}

QByteArray readClipboard(const QString &target)
{
    // xclip reads from whoever owns the clipboard; when that is us, our event loop must keep serving it.
    QProcess xclip;
    xclip.start(QStringLiteral("xclip"), {QStringLiteral("-selection"), QStringLiteral("clipboard"),
                                          QStringLiteral("-o"), QStringLiteral("-t"), target});
    (void)QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }, kTimeoutMs);
    return xclip.exitCode() == 0 ? xclip.readAllStandardOutput() : QByteArray("<xclip failed>");
}

} // namespace

class TestTextInjectionDesktop : public QObject
{
    Q_OBJECT

    std::unique_ptr<SystemClock> clock;
    std::unique_ptr<AtspiAccessibility> ax;
    std::unique_ptr<QtClipboardPasteboard> pb;
    std::unique_ptr<XTestKeySynth> keys;
    std::unique_ptr<TextInjectionService> service;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs the test desktop (scripts/lib/desktop.sh)");
        clock = std::make_unique<SystemClock>();
        keys = std::make_unique<XTestKeySynth>();
        ax = std::make_unique<AtspiAccessibility>([this]() { return keys->focusedWindowPid(); });
        pb = std::make_unique<QtClipboardPasteboard>();
        service = std::make_unique<TextInjectionService>(*ax, *pb, *keys, *clock);
        QVERIFY(keys->isAvailable());
        QVERIFY(service->requestAccessibilityTrust());
        QVERIFY(service->isAccessibilityTrusted());
    }

    void injectAtCursor_insertsIntoTextField_data()
    {
        QTest::addColumn<bool>("gtk");
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("length");
        QTest::newRow("gtk, caret at the end") << true << 3 << 0;
        QTest::newRow("gtk, caret in the middle") << true << 1 << 0;
        QTest::newRow("gtk, selection replaced") << true << 1 << 1;
        QTest::newRow("qt, caret at the end") << false << 3 << 0;
        QTest::newRow("qt, caret in the middle") << false << 1 << 0;
    }
    void injectAtCursor_insertsIntoTextField()
    {
        QFETCH(bool, gtk);
        QFETCH(int, location);
        QFETCH(int, length);
        auto target = gtk ? startGtkEntry(QStringLiteral("abc"))
                          : startQtTarget({QStringLiteral("lineedit"), QStringLiteral("abc")});
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        QVERIFY(ax->focusedElement() && ax->focusedElement()->setSelectedTextRange({location, length}));
        const QString expected = QStringLiteral("TEXT:") + QStringLiteral("abc").replace(location, length, kDictation);
        const qint64 clipboardBefore = pb->changeCount();
        service->injectAtCursor(QStringLiteral("  ") + kDictation + QStringLiteral("\n"));
        QVERIFY2(target->waitFor(expected), qPrintable(target->lines.join(u'|')));
        QTest::qWait(TextInjectionService::pasteDelayMs + TextInjectionService::restoreDelayMs + 100);
        QCOMPARE(pb->changeCount(), clipboardBefore);
        QCOMPARE(target->lines.last(), expected);
    }

    void injectAtCursor_followsTheKeyboardFocusAcrossApplications()
    {
        auto gtk = startGtkEntry(QStringLiteral("gtk:"));
        QVERIFY(gtk->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        auto qt = startQtTarget({QStringLiteral("lineedit"), QStringLiteral("qt:")});
        QVERIFY(qt->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        QCOMPARE(keys->focusedWindowPid(), qt->pid());
        service->injectAtCursor(QStringLiteral("一"));
        QVERIFY(qt->waitFor(QStringLiteral("TEXT:qt:一")));

        QProcess activate;
        activate.start(QStringLiteral("sh"),
                       {QStringLiteral("-c"), QStringLiteral("xdotool windowactivate --sync "
                                                             "$(xdotool search --onlyvisible --pid %1 | tail -1)")
                                                  .arg(gtk->pid())});
        QVERIFY(activate.waitForFinished(kTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(keys->focusedWindowPid(), gtk->pid(), kTimeoutMs);
        service->injectAtCursor(QStringLiteral("二"));
        QVERIFY2(gtk->waitFor(QStringLiteral("TEXT:gtk:二")), qPrintable(gtk->lines.join(u'|')));
        QVERIFY(!qt->lines.contains(QStringLiteral("TEXT:qt:一二")));
    }

    void focusedElement_countsInUtf16WhateverTheToolkit_data()
    {
        QTest::addColumn<bool>("gtk");
        QTest::newRow("gtk") << true;
        QTest::newRow("qt") << false;
    }
    void focusedElement_countsInUtf16WhateverTheToolkit()
    {
        QFETCH(bool, gtk);
        // A character outside the BMP is two UTF-16 units but one AT-SPI character in GTK.
        const QString initial = QStringLiteral("😀ab");
        auto target = gtk ? startGtkEntry(initial) : startQtTarget({QStringLiteral("lineedit"), initial});
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        auto element = ax->focusedElement();
        QVERIFY(element);
        QCOMPARE(element->value(), initial);
        QCOMPARE(element->selectedTextRange(), (Accessibility::TextRange{4, 0}));
        QVERIFY(element->setSelectedTextRange({2, 0}));
        QCOMPARE(element->selectedTextRange(), (Accessibility::TextRange{2, 0}));
        QVERIFY(element->setSelectedText(QStringLiteral("你")));
        QVERIFY2(target->waitFor(QStringLiteral("TEXT:😀你ab")), qPrintable(target->lines.join(u'|')));
        QVERIFY(element->setValue(QStringLiteral("x😀y")));
        QVERIFY(target->waitFor(QStringLiteral("TEXT:x😀y")));
        QVERIFY(!element->isTerminal());
    }

    void injectAtCursor_pastesIntoFieldWithoutTextInterfaceAndRestoresClipboard()
    {
        QTemporaryDir dir;
        QImage image(8, 6, QImage::Format_RGB32);
        image.fill(QColor(200, 30, 90));
        const QString pngPath = dir.filePath(QStringLiteral("old.png"));
        QVERIFY(image.save(pngPath, "PNG"));
        QFile pngFile(pngPath);
        QVERIFY(pngFile.open(QIODevice::ReadOnly));
        const QByteArray png = pngFile.readAll();

        auto owner = startQtTarget({QStringLiteral("owner"), QStringLiteral("旧的剪贴板 old"), pngPath});
        QVERIFY(owner->waitFor(QStringLiteral("OWNED"), kStartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(pb->string(), QStringLiteral("旧的剪贴板 old"), kTimeoutMs);

        auto target = startQtTarget({QStringLiteral("plain")});
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        service->injectAtCursor(kDictation);
        QVERIFY2(target->waitFor(QStringLiteral("PASTED:") + kDictation), qPrintable(target->lines.join(u'|')));
        QTRY_COMPARE_WITH_TIMEOUT(pb->string(), QStringLiteral("旧的剪贴板 old"), kTimeoutMs);

        // The earlier owner is gone: what comes back now is served by us, every format of it.
        owner.reset();
        QCOMPARE(QString::fromUtf8(readClipboard(QStringLiteral("UTF8_STRING"))), QStringLiteral("旧的剪贴板 old"));
        QCOMPARE(readClipboard(QStringLiteral("image/png")), png);
    }

    void injectAtCursor_pastesIntoTerminalWithShift_data()
    {
        QTest::addColumn<bool>("byRole");
        QTest::newRow("terminal role") << true;
        QTest::newRow("terminal window class") << false;
    }
    void injectAtCursor_pastesIntoTerminalWithShift()
    {
        QFETCH(bool, byRole);
        auto target = byRole ? startQtTarget({QStringLiteral("terminal")})
                             : startQtTarget({QStringLiteral("xterm")}, QStringLiteral("xterm"));
        QVERIFY(target->waitFor(QStringLiteral("FOCUSED"), kStartTimeoutMs));
        if (byRole) {
            QVERIFY(ax->focusedElement() && ax->focusedElement()->isTerminal());
        } else {
            QCOMPARE(keys->focusedWindowClass(), QStringLiteral("xterm"));
            QVERIFY(!(ax->focusedElement() && ax->focusedElement()->isTerminal()));
        }
        service->injectAtCursor(QStringLiteral("echo 你好"));
        QVERIFY2(target->waitFor(QStringLiteral("PASTED:echo 你好")), qPrintable(target->lines.join(u'|')));
        QVERIFY(!target->lines.contains(QStringLiteral("RAW:^V")));
        QTest::qWait(TextInjectionService::restoreDelayMs + 100);
    }
};

QTEST_MAIN(TestTextInjectionDesktop)
#include "tst_TextInjectionDesktop.moc"
