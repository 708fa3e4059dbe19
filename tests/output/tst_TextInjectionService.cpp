#include "output/TextInjectionService.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeKeySynth.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"

#include <QTest>

namespace {
using Event = FakeKeySynth::Event;
const Pasteboard::Item kHello{QStringLiteral("text/plain"), QByteArrayLiteral("hello")};
const Pasteboard::Item kPng{QStringLiteral("image/png"), QByteArrayLiteral("\x89PNG\r\n\x1a\nfake-image")};
const Pasteboard::Item kHtml{QStringLiteral("text/html"), QByteArrayLiteral("<b>hello</b>")};
} // namespace

class TestTextInjectionService : public QObject
{
    Q_OBJECT

    FakeAccessibility *ax = nullptr;
    FakePasteboard *pb = nullptr;
    FakeKeySynth *keys = nullptr;
    ManualClock *clock = nullptr;
    TextInjectionService *service = nullptr;
    // Clipboard text at each key event, as the target would read it.
    QStringList pastedTexts;

    void useFieldWithoutAccessibility()
    {
        ax->field.acceptsSelectedText = false;
        ax->field.exposesValue = false;
    }

private slots:
    void init()
    {
        ax = new FakeAccessibility;
        pb = new FakePasteboard;
        keys = new FakeKeySynth;
        clock = new ManualClock;
        service = new TextInjectionService(*ax, *pb, *keys, *clock);
        pastedTexts.clear();
        keys->onPost = [this](const Event &e) {
            if (e.keyDown)
                pastedTexts << pb->string().value_or(QStringLiteral("<none>"));
        };
    }
    void cleanup()
    {
        delete service;
        delete clock;
        delete keys;
        delete pb;
        delete ax;
    }

    void injectAtCursor_whitespaceOnlyChangesNothing()
    {
        pb->items = {kHello};
        service->injectAtCursor(QStringLiteral(" \n\t \r\n\u3000"));
        QVERIFY(ax->calls.isEmpty());
        QCOMPARE(pb->count, 0);
        QCOMPARE(clock->pendingTimers(), 0);
        QVERIFY(keys->events.isEmpty());
    }

    void insertViaAccessibility_data()
    {
        QTest::addColumn<bool>("acceptsSelectedText");
        QTest::addColumn<bool>("masked");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("caret");
        const auto u = [](const char *text) { return QString::fromUtf8(text); };
        QTest::newRow("trimmed, at the caret")
            << true << false << u("ab") << 1 << 0 << u("\n  你好，world \n") << u("a你好，worldb") << 9;
        QTest::newRow("selection replaced") << true << false << u("abcdef") << 2 << 2 << u("XY") << u("abXYef") << 4;
        QTest::newRow("value rewritten") << false << false << u("abcdef") << 2 << 2 << u("XY") << u("abXYef") << 4;
        QTest::newRow("range beyond the value")
            << false << false << u("12345678") << 10 << 5 << u("XY") << u("12345678XY") << 10;
        // A masked field cannot be read back, but the right length is trusted.
        QTest::newRow("masked") << true << true << u("secret") << 6 << 0 << u("XY") << u("secretXY") << 8;
    }
    void insertViaAccessibility()
    {
        QFETCH(bool, acceptsSelectedText);
        QFETCH(bool, masked);
        QFETCH(QString, value);
        QFETCH(int, location);
        QFETCH(int, length);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(int, caret);
        pb->items = {kHello};
        ax->field.acceptsSelectedText = acceptsSelectedText;
        ax->field.masksValue = masked;
        ax->field.value = value;
        ax->field.selection = {location, length};
        service->injectAtCursor(text);
        QCOMPARE(ax->field.value, expected);
        QCOMPARE(ax->field.selection, (Accessibility::TextRange{caret, 0}));
        QVERIFY(ax->calls.contains(QStringLiteral("setSelectedTextRange:%1,0").arg(caret)));
        // The clipboard is left alone and nothing else is scheduled.
        QCOMPARE(pb->count, 0);
        QCOMPARE(clock->pendingTimers(), 0);
        clock->advance(1000);
        QVERIFY(keys->events.isEmpty());
    }

    void insertViaAccessibility_failuresFallBackToPaste_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("no focused element") << 0;
        QTest::newRow("no value") << 1;
        QTest::newRow("no range") << 2;
        QTest::newRow("value rejected") << 3;
        QTest::newRow("inserted text not read back") << 4;
        QTest::newRow("inserted text mangled, taken back") << 5;
        QTest::newRow("not trusted: prompt") << 6;
    }
    void insertViaAccessibility_failuresFallBackToPaste()
    {
        QFETCH(int, failure);
        ax->field.value = QStringLiteral("abc");
        ax->field.selection = {1, 1};
        ax->field.acceptsSelectedText = failure >= 4;
        ax->hasFocus = failure != 0;
        ax->field.exposesValue = failure != 1;
        ax->field.exposesRange = failure != 2;
        ax->field.acceptsValue = failure != 3;
        ax->field.dropsInsertedText = failure == 4;
        ax->field.truncatesInsertedText = failure == 5;
        ax->trusted = failure != 6;
        service->injectAtCursor(QStringLiteral("你好，world"));
        QCOMPARE(ax->field.value, QStringLiteral("abc"));
        if (failure == 6)
            QCOMPARE(ax->calls, QStringList{QStringLiteral("requestTrust")});
        QCOMPARE(pb->string(), QStringLiteral("你好，world"));
        clock->advance(TextInjectionService::pasteDelayMs);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("你好，world")});
    }

    void paste_timingsOnTheClock()
    {
        useFieldWithoutAccessibility();
        pb->items = {kHello};
        pb->count = 7;
        service->injectAtCursor(QStringLiteral(" 你好 "));
        QCOMPARE(pb->string(), QStringLiteral("你好"));
        QCOMPARE(pb->count, 8);

        clock->advance(49);
        QVERIFY(keys->events.isEmpty());
        clock->advance(1);
        const QList<Event> chord{{KeySynth::keyV, KeySynth::flagCommand, true},
                                 {KeySynth::keyV, KeySynth::flagCommand, false}};
        QCOMPARE(keys->events, chord);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("你好")});

        clock->advance(299);
        QCOMPARE(pb->string(), QStringLiteral("你好"));
        clock->advance(1);
        QCOMPARE(pb->items, Pasteboard::Contents{kHello});
        QCOMPARE(clock->pendingTimers(), 0);
        QCOMPARE(keys->events.size(), 2);
    }

    void restoreClipboard_bringsBackEveryFormat_data()
    {
        QTest::addColumn<Pasteboard::Contents>("old");
        QTest::newRow("image only") << Pasteboard::Contents{kPng};
        QTest::newRow("text, rich text and image") << Pasteboard::Contents{kHello, kHtml, kPng};
        QTest::newRow("empty") << Pasteboard::Contents{};
    }
    void restoreClipboard_bringsBackEveryFormat()
    {
        QFETCH(Pasteboard::Contents, old);
        useFieldWithoutAccessibility();
        pb->items = old;
        service->injectAtCursor(QStringLiteral("dictated"));
        clock->advance(TextInjectionService::pasteDelayMs);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("dictated")});
        clock->advance(TextInjectionService::restoreDelayMs);
        QCOMPARE(pb->items, old);
    }

    void restoreClipboard_skippedWhenUserCopiedMeanwhile_data()
    {
        QTest::addColumn<bool>("overlapping");
        QTest::newRow("one paste") << false;
        QTest::newRow("overlapping pastes") << true;
    }
    void restoreClipboard_skippedWhenUserCopiedMeanwhile()
    {
        QFETCH(bool, overlapping);
        useFieldWithoutAccessibility();
        pb->items = {kHello};
        service->injectAtCursor(QStringLiteral("first"));
        clock->advance(100);
        if (overlapping)
            service->injectAtCursor(QStringLiteral("second"));
        clock->advance(100);
        const Pasteboard::Item userCopy{QStringLiteral("text/plain"), QByteArrayLiteral("user copy")};
        pb->setContents({userCopy});
        clock->advance(2000);
        QCOMPARE(pb->items, Pasteboard::Contents{userCopy});
    }

    void injectAtCursor_overlappingPastesKeepUsersClipboard()
    {
        useFieldWithoutAccessibility();
        pb->items = {kHello, kPng};
        service->injectAtCursor(QStringLiteral("first"));
        clock->advance(100);
        service->injectAtCursor(QStringLiteral("second"));
        // The second text never replaces the first before the target has read it.
        QCOMPARE(pb->string(), QStringLiteral("first"));
        clock->advance(2000);
        QCOMPARE(pastedTexts, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
        QCOMPARE(pb->items, (Pasteboard::Contents{kHello, kPng}));
        QCOMPARE(clock->pendingTimers(), 0);
    }

    void injectAtCursor_waitsBehindPasteInFlightToKeepOrder()
    {
        ax->field.value = QStringLiteral("abc");
        ax->field.selection = {3, 0};
        ax->hasFocus = false; // the first text finds no field
        service->injectAtCursor(QStringLiteral("first"));
        ax->hasFocus = true;
        clock->advance(100);
        service->injectAtCursor(QStringLiteral("second"));
        QCOMPARE(ax->field.value, QStringLiteral("abc"));
        clock->advance(2000);
        QCOMPARE(pastedTexts, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
        // Once nothing is in flight, the field is typed into again.
        service->injectAtCursor(QStringLiteral("third"));
        QCOMPARE(ax->field.value, QStringLiteral("abcthird"));
    }

    void paste_terminalGetsShiftedChord_data()
    {
        QTest::addColumn<bool>("byElement");
        QTest::newRow("terminal element") << true;
        QTest::newRow("terminal window") << false;
    }
    void paste_terminalGetsShiftedChord()
    {
        QFETCH(bool, byElement);
        useFieldWithoutAccessibility();
        ax->field.terminal = byElement;
        keys->terminalWindow = !byElement;
        service->injectAtCursor(QStringLiteral("ls"));
        clock->advance(TextInjectionService::pasteDelayMs);
        const quint64 flags = KeySynth::flagCommand | KeySynth::flagShift;
        QCOMPARE(keys->events, (QList<Event>{{KeySynth::keyV, flags, true}, {KeySynth::keyV, flags, false}}));
    }

    void paste_failedKeyEventsStillRestore()
    {
        useFieldWithoutAccessibility();
        keys->failPosting = true;
        pb->items = {kHello};
        service->injectAtCursor(QStringLiteral("x"));
        clock->advance(1000);
        QCOMPARE(pb->items, Pasteboard::Contents{kHello});
    }

    void destructor_cancelsPendingSteps()
    {
        useFieldWithoutAccessibility();
        service->injectAtCursor(QStringLiteral("x"));
        QCOMPARE(clock->pendingTimers(), 1);
        delete service;
        service = nullptr;
        QCOMPARE(clock->pendingTimers(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTextInjectionService)
#include "tst_TextInjectionService.moc"
