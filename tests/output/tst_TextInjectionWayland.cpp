// Insertion into native Wayland GTK 3 entries on headless sway, with the real service and the Wayland
// backends: AT-SPI found by the focus events, else wl-clipboard and a wtype chord; a paste that cannot be made
// fails aloud. Run inside scripts/lib/desktop.sh (session bus, accessibility enabled).
#include "HeadlessSway.h"
#include "base/SystemClock.h"
#include "output/TextInjectionService.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/WaylandKeySynth.h"
#include "platform/linux/WlClipboardPasteboard.h"

#include <QDBusArgument>
#include <QDBusInterface>

class tst_TextInjectionWayland : public QObject
{
    Q_OBJECT

    HeadlessSway sway;
    SystemClock clock;
    std::unique_ptr<AtspiAccessibility> ax;

    std::unique_ptr<DesktopChild> entry(const QString &name, bool accessible)
    {
        QMap<QString, QString> env = sway.env;
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("wayland"));
        env.insert(QStringLiteral("GTK_IM_MODULE"), QStringLiteral("gtk-im-context-simple"));
        env.insert(QStringLiteral("GSETTINGS_BACKEND"), QStringLiteral("memory"));
        env.insert(QStringLiteral("NO_AT_BRIDGE"), accessible ? QStringLiteral("-") : QStringLiteral("1"));
        auto child = std::make_unique<DesktopChild>(QStringLiteral("/usr/bin/python3"),
                                                    QStringList{QStringLiteral(VOXLE_GTK_ENTRY), name}, env);
        return child->waitFor(QStringLiteral("FOCUSED"), 15000) ? std::move(child) : nullptr;
    }
    static QString clipboard()
    {
        return DesktopChild::output(QStringLiteral("wl-paste"), {QStringLiteral("--no-newline")});
    }
    static QStringList registeredEvents(QDBusInterface &registry)
    {
        QStringList events;
        const QDBusArgument list =
            registry.call(QStringLiteral("GetRegisteredEvents")).arguments().value(0).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString listener, event;
            list.beginStructure();
            list >> listener >> event;
            list.endStructure();
            events << event;
        }
        list.endArray();
        return events;
    }
    // Inserts text and gives what the user was told once the service is done.
    QStringList inject(TextInjectionService &service, const QString &text)
    {
        QStringList told;
        service.setFailureHandler([&](const QString &message) { told << message; });
        service.injectAtCursor(text);
        (void)QTest::qWaitFor([&]() { return !service.busy(); }, 10000);
        return told;
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            QSKIP("needs the test desktop's session bus (scripts/lib/desktop.sh)");
        QVERIFY(sway.start());
        // wl-copy, wl-paste and wtype run from here.
        for (auto it = sway.env.cbegin(); it != sway.env.cend(); ++it)
            it.value() == QLatin1String("-") ? qunsetenv(qPrintable(it.key()))
                                             : qputenv(qPrintable(it.key()), it.value().toUtf8());
        ax = std::make_unique<AtspiAccessibility>();
        ax->followFocus();
        // Applications only report focus to listeners the registry knew of when they started: the entries
        // start once the registry lists the listener (it hears of it after the listener is set up).
        const QDBusMessage bus = QDBusInterface(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                                QStringLiteral("org.a11y.Bus"))
                                     .call(QStringLiteral("GetAddress"));
        QDBusInterface registry(
            QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
            QStringLiteral("org.a11y.atspi.Registry"),
            QDBusConnection::connectToBus(bus.arguments().value(0).toString(), QStringLiteral("a11y")));
        QTRY_VERIFY(registeredEvents(registry).contains(QStringLiteral("Object:StateChanged:Focused")));
    }

    void accessibleEntry_thenPasteIntoOneWithout_thenFailures()
    {
        WlClipboardPasteboard pasteboard;
        WaylandKeySynth keys([this]() { return ax->focusIdentity(); });
        TextInjectionService service(*ax, pasteboard, keys, clock);

        // (a) The accessible entry: its focus event names it, and the text goes in without the clipboard.
        const std::unique_ptr<DesktopChild> first = entry(QStringLiteral("ab"), true);
        QVERIFY(first);
        QTRY_VERIFY(ax->focusIdentity() != 0);
        QCOMPARE(inject(service, QStringLiteral("无障碍 ok")), QStringList{});
        QVERIFY2(first->waitFor(QStringLiteral("TEXT:ab无障碍 ok")), qPrintable(first->log()));
        QCOMPARE(pasteboard.changeCount(), 0);

        // (b) The newest window takes the focus; without accessibility its text comes by the paste, and the
        // user's clipboard comes back after the target read it.
        pasteboard.setString(QStringLiteral("用户的剪贴板"));
        QTRY_COMPARE(clipboard(), QStringLiteral("用户的剪贴板"));
        const std::unique_ptr<DesktopChild> second = entry(QStringLiteral("x"), false);
        QVERIFY(second);
        QCOMPARE(inject(service, QStringLiteral("粘贴 ok")), QStringList{});
        QVERIFY2(second->waitFor(QStringLiteral("TEXT:x粘贴 ok")), qPrintable(second->log()));
        QTRY_COMPARE(clipboard(), QStringLiteral("用户的剪贴板"));
        QCOMPARE(first->lines.last(), QStringLiteral("TEXT:ab无障碍 ok"));

        // (c) No virtual keyboard: the text stays on the clipboard and the user is told to paste it.
        WaylandKeySynth noKeys([]() { return quint64(0); }, QStringLiteral("false"));
        TextInjectionService withoutKeys(*ax, pasteboard, noKeys, clock);
        QCOMPARE(inject(withoutKeys, QStringLiteral("留在剪贴板")),
                 QStringList{QStringLiteral("已复制到剪贴板，请按 Ctrl+V 粘贴")});
        QCOMPARE(clipboard(), QStringLiteral("留在剪贴板"));
        QCOMPARE(clipboard(), QStringLiteral("留在剪贴板")); // an ordinary copy, for more than one paste

        // Another client taking the clipboard over is a change.
        const qint64 count = pasteboard.changeCount();
        DesktopChild other(QStringLiteral("wl-copy"), {QStringLiteral("--foreground"), QStringLiteral("别的程序")});
        QTRY_VERIFY(pasteboard.changeCount() > count);

        // No clipboard owned (wl-copy missing, or failing where the compositor offers no data-control): nothing
        // is pasted.
        for (const QString &program : {QStringLiteral("voxle-no-such-program"), QStringLiteral("false")}) {
            WlClipboardPasteboard noClipboard(program);
            TextInjectionService withoutClipboard(*ax, noClipboard, keys, clock);
            QCOMPARE(inject(withoutClipboard, QStringLiteral("不该出现")),
                     QStringList{QStringLiteral("未能插入文字：无法写入剪贴板")});
        }
        QTest::qWait(300);
        QCOMPARE(second->lines.last(), QStringLiteral("TEXT:x粘贴 ok"));
    }

    void cleanupTestCase() { ax.reset(); }
};

QTEST_GUILESS_MAIN(tst_TextInjectionWayland)
#include "tst_TextInjectionWayland.moc"
