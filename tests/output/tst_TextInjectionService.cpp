#include "output/TextInjectionService.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeKeySynth.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/ManualClock.h"

#include <QTest>

namespace {
using Event = FakeKeySynth::Event;
using Chord = KeySynth::PasteChord;
const Pasteboard::Item kHello{QStringLiteral("text/plain"), QByteArrayLiteral("hello")};
const Pasteboard::Item kPng{QStringLiteral("image/png"), QByteArrayLiteral("\x89PNG\r\n\x1a\nfake-image")};
const Pasteboard::Item kHtml{QStringLiteral("text/html"), QByteArrayLiteral("<b>hello</b>")};
const QList<Event> kCommandV{{KeySynth::keyV, KeySynth::flagCommand, true},
                             {KeySynth::keyV, KeySynth::flagCommand, false}};
} // namespace

class TestTextInjectionService : public QObject
{
    Q_OBJECT

    std::unique_ptr<ManualClock> clock;
    std::unique_ptr<FakeAccessibility> ax;
    std::unique_ptr<FakePasteboard> pb;
    std::unique_ptr<FakeKeySynth> keys;
    std::unique_ptr<TextInjectionService> service;
    // What the target pasted, read from the clipboard targetReadDelayMs after the key, as applications do.
    QStringList pastedTexts;
    qint64 targetReadDelayMs = 0;

    void useFieldWithoutAccessibility()
    {
        ax->field.acceptsSelectedText = false;
        ax->field.exposesValue = false;
    }

private slots:
    void init()
    {
        clock = std::make_unique<ManualClock>();
        ax = std::make_unique<FakeAccessibility>(*clock);
        pb = std::make_unique<FakePasteboard>();
        pb->clock = clock.get();
        keys = std::make_unique<FakeKeySynth>();
        service = std::make_unique<TextInjectionService>(*ax, *pb, *keys, *clock);
        pastedTexts.clear();
        targetReadDelayMs = 0;
        keys->onPost = [this](const Event &e) {
            if (e.keyDown)
                clock->schedule(targetReadDelayMs,
                                [this]() { pastedTexts << pb->readAsTarget().value_or(QStringLiteral("<none>")); });
        };
    }
    void cleanup()
    {
        service.reset();
        keys.reset();
        pb.reset();
        ax.reset();
        clock.reset();
    }

    void injectAtCursor_whitespaceOnlyChangesNothing()
    {
        pb->items = {kHello};
        service->injectAtCursor(QStringLiteral(" \n\t \r\n\u3000"));
        QCOMPARE(clock->pendingTimers(), 0);
        QVERIFY(ax->calls.isEmpty());
        QCOMPARE(pb->count, 0);
    }

    void insertViaAccessibility_data()
    {
        QTest::addColumn<bool>("acceptsSelectedText");
        QTest::addColumn<bool>("masked");
        QTest::addColumn<int>("appliesAfterPauses");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("location");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("caret");
        const auto u = [](const char *text) { return QString::fromUtf8(text); };
        QTest::newRow("trimmed, at the caret")
            << true << false << 0 << u("ab") << 1 << 0 << u("\n  你好，world \n") << u("a你好，worldb") << 9;
        QTest::newRow("selection replaced")
            << true << false << 0 << u("abcdef") << 2 << 2 << u("XY") << u("abXYef") << 4;
        QTest::newRow("applied a moment later, once")
            << true << false << 4 << u("ab") << 2 << 0 << u("XY") << u("abXY") << 4;
        QTest::newRow("value rewritten") << false << false << 0 << u("abcdef") << 2 << 2 << u("XY") << u("abXYef") << 4;
        QTest::newRow("range beyond the value")
            << false << false << 0 << u("12345678") << 10 << 5 << u("XY") << u("12345678XY") << 10;
        // A masked field cannot be read back, but the right length is trusted.
        QTest::newRow("masked") << true << true << 0 << u("secret") << 6 << 0 << u("XY") << u("secretXY") << 8;
        QTest::newRow("masked, selection replaced") << true << true << 0 << u("secret") << 0 << 6 << u("XY") << u("XY") << 2;
    }
    void insertViaAccessibility()
    {
        QFETCH(bool, acceptsSelectedText);
        QFETCH(bool, masked);
        QFETCH(int, appliesAfterPauses);
        QFETCH(QString, value);
        QFETCH(int, location);
        QFETCH(int, length);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(int, caret);
        pb->items = {kHello};
        ax->field.acceptsSelectedText = acceptsSelectedText;
        ax->field.masksValue = masked;
        ax->field.appliesAfterPauses = appliesAfterPauses;
        ax->field.value = value;
        ax->field.selection = {location, length};
        service->injectAtCursor(text);
        // Nothing reaches the other application from inside the call.
        QVERIFY(ax->calls.isEmpty());
        clock->advance(5000);
        QCOMPARE(ax->field.value, expected);
        QCOMPARE(ax->field.selection, (Accessibility::TextRange{caret, 0}));
        QCOMPARE(pb->count, 0);
        QCOMPARE(clock->pendingTimers(), 0);
        QVERIFY(keys->events.isEmpty());
    }

    void insertViaAccessibility_failuresFallBackToPaste_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("no focused element") << 0;
        QTest::newRow("no value") << 1;
        QTest::newRow("no range") << 2;
        QTest::newRow("value rejected") << 3;
        QTest::newRow("inserted text never shows") << 4;
        QTest::newRow("inserted text mangled, its range deleted") << 5;
        QTest::newRow("not trusted: prompt") << 6;
    }
    void insertViaAccessibility_failuresFallBackToPaste()
    {
        QFETCH(int, failure);
        ax->field.value = QStringLiteral("abc");
        ax->field.selection = {3, 0};
        ax->field.acceptsSelectedText = failure >= 4;
        ax->hasFocus = failure != 0;
        ax->field.exposesValue = failure != 1;
        ax->field.exposesRange = failure != 2;
        ax->field.acceptsValue = failure != 3;
        ax->field.dropsInsertedText = failure == 4;
        ax->field.truncatesInsertedText = failure == 5;
        ax->trusted = failure != 6;
        service->injectAtCursor(QStringLiteral("你好，world"));
        clock->advance(5000);
        QCOMPARE(ax->field.value, QStringLiteral("abc"));
        QVERIFY(!ax->calls.contains(QStringLiteral("setValue:abc")));
        if (failure == 5)
            QVERIFY(ax->calls.contains(QStringLiteral("deleteText:3,4")));
        if (failure == 6)
            QCOMPARE(ax->calls, QStringList{QStringLiteral("requestTrust")});
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("你好，world")});
    }

    void paste_restoresAfterTheTargetRead_data()
    {
        QTest::addColumn<Pasteboard::Contents>("old");
        QTest::addColumn<int>("readDelay");
        QTest::newRow("text, read at once") << Pasteboard::Contents{kHello} << 0;
        QTest::newRow("text, rich text and image, read 1 s late") << Pasteboard::Contents{kHello, kHtml, kPng} << 1000;
        QTest::newRow("image only, read 1.8 s late") << Pasteboard::Contents{kPng} << 1800;
        QTest::newRow("empty, never read") << Pasteboard::Contents{} << -1;
    }
    void paste_restoresAfterTheTargetRead()
    {
        QFETCH(Pasteboard::Contents, old);
        QFETCH(int, readDelay);
        useFieldWithoutAccessibility();
        pb->items = old;
        targetReadDelayMs = readDelay < 0 ? 100000 : readDelay;
        service->injectAtCursor(QStringLiteral(" 你好 "));
        clock->advance(0);
        QCOMPARE(pb->string(), QStringLiteral("你好"));
        QVERIFY(pb->transient);
        clock->advance(TextInjectionService::pasteDelayMs - 1);
        QVERIFY(keys->events.isEmpty());
        clock->advance(1);
        QCOMPARE(keys->events, kCommandV);
        const qint64 restoreAt =
            readDelay < 0 ? TextInjectionService::restoreBoundMs : readDelay + TextInjectionService::restoreAfterReadMs;
        clock->advance(restoreAt - 1);
        QCOMPARE(pb->string(), QStringLiteral("你好"));
        clock->advance(1);
        QCOMPARE(pb->items, old);
        QCOMPARE(pastedTexts, readDelay < 0 ? QStringList{} : QStringList{QStringLiteral("你好")});
        QCOMPARE(keys->events.size(), 2);
    }

    void paste_waitsForHeldModifiers_data()
    {
        QTest::addColumn<int>("releasedAt");
        QTest::addColumn<int>("chordAt");
        QTest::newRow("released after 200 ms") << 200 << 200;
        QTest::newRow("still held after the wait") << 100000 << int(TextInjectionService::modifierWaitMs);
    }
    void paste_waitsForHeldModifiers()
    {
        QFETCH(int, releasedAt);
        QFETCH(int, chordAt);
        useFieldWithoutAccessibility();
        keys->held = true;
        clock->schedule(TextInjectionService::pasteDelayMs + releasedAt, [this]() { keys->held = false; });
        service->injectAtCursor(QStringLiteral("x"));
        clock->advance(TextInjectionService::pasteDelayMs + chordAt - 1);
        QVERIFY(keys->events.isEmpty());
        clock->advance(TextInjectionService::modifierPollMs);
        QCOMPARE(keys->events, kCommandV);
    }

    void paste_chordAsTheTargetPastes_data()
    {
        QTest::addColumn<bool>("terminalRole");
        QTest::addColumn<int>("windowChord");
        QTest::addColumn<int>("key");
        QTest::addColumn<quint64>("flags");
        QTest::newRow("terminal role") << true << int(Chord::commandV) << int(KeySynth::keyV)
                                       << (KeySynth::flagCommand | KeySynth::flagShift);
        QTest::newRow("terminal window") << false << int(Chord::commandShiftV) << int(KeySynth::keyV)
                                         << (KeySynth::flagCommand | KeySynth::flagShift);
        QTest::newRow("xterm") << true << int(Chord::shiftInsert) << int(KeySynth::keyInsert) << KeySynth::flagShift;
    }
    void paste_chordAsTheTargetPastes()
    {
        QFETCH(bool, terminalRole);
        QFETCH(int, windowChord);
        QFETCH(int, key);
        QFETCH(quint64, flags);
        useFieldWithoutAccessibility();
        ax->field.terminal = terminalRole;
        keys->chord = Chord(windowChord);
        service->injectAtCursor(QStringLiteral("ls"));
        clock->advance(TextInjectionService::pasteDelayMs);
        const quint16 code = quint16(key);
        QCOMPARE(keys->events, (QList<Event>{{code, flags, true}, {code, flags, false}}));
        QCOMPARE(pb->primary, keys->chord == Chord::shiftInsert);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("ls")});
    }

    void restoreClipboard_afterOtherChanges_data()
    {
        QTest::addColumn<bool>("byManager");
        QTest::addColumn<bool>("overlapping");
        QTest::newRow("user copied") << false << false;
        QTest::newRow("user copied, overlapping pastes") << false << true;
        QTest::newRow("manager took the same text over") << true << false;
    }
    void restoreClipboard_afterOtherChanges()
    {
        QFETCH(bool, byManager);
        QFETCH(bool, overlapping);
        useFieldWithoutAccessibility();
        pb->items = {kHello};
        targetReadDelayMs = 1000;
        service->injectAtCursor(QStringLiteral("first"));
        clock->advance(10);
        if (overlapping)
            service->injectAtCursor(QStringLiteral("second"));
        clock->advance(100);
        const Pasteboard::Item userCopy{QStringLiteral("text/plain"), QByteArrayLiteral("user copy")};
        if (byManager)
            pb->managerTakesOver();
        else
            pb->setContents({userCopy});
        clock->advance(10000);
        QCOMPARE(pb->items, byManager ? Pasteboard::Contents{kHello} : Pasteboard::Contents{userCopy});
    }

    void injectAtCursor_laterTextsWaitInOrderAndKeepUsersClipboard()
    {
        ax->field.value = QStringLiteral("abc");
        ax->field.selection = {3, 0};
        ax->hasFocus = false; // the first text finds no field
        pb->items = {kHello, kPng};
        targetReadDelayMs = 300;
        service->injectAtCursor(QStringLiteral("first"));
        clock->advance(60);
        ax->hasFocus = true;
        service->injectAtCursor(QStringLiteral("second"));
        // The second text never replaces the first before the target has read it.
        clock->advance(200);
        QCOMPARE(pb->string(), QStringLiteral("first"));
        QCOMPARE(ax->field.value, QStringLiteral("abc"));
        clock->advance(5000);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("first")});
        QCOMPARE(ax->field.value, QStringLiteral("abcsecond"));
        QCOMPARE(pb->items, (Pasteboard::Contents{kHello, kPng}));
        QCOMPARE(clock->pendingTimers(), 0);
    }

    // Before each write the insertion checks it was not cancelled and the focus is where it started.
    void injectAtCursor_stopsWhereTheDictationNoLongerBelongs_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("pastePath");
        QTest::newRow("cancelled at once") << QString() << true << false;
        QTest::newRow("window changed before the write") << QStringLiteral("selectedTextRange") << false << false;
        QTest::newRow("element changed before the write") << QStringLiteral("element") << false << false;
        QTest::newRow("cancelled while reading the clipboard") << QStringLiteral("read") << true << true;
        QTest::newRow("window changed before the chord") << QStringLiteral("chord") << false << true;
        QTest::newRow("cancelled before the chord") << QStringLiteral("chord") << true << true;
    }
    void injectAtCursor_stopsWhereTheDictationNoLongerBelongs()
    {
        QFETCH(QString, when);
        QFETCH(bool, cancel);
        QFETCH(bool, pastePath);
        if (pastePath)
            useFieldWithoutAccessibility();
        ax->field.value = QStringLiteral("abc");
        pb->items = {kHello};
        pb->readDelayMs = 30;
        keys->held = true;
        const auto act = [&]() {
            if (cancel)
                service->cancelInsertion();
            else if (when == QLatin1String("element"))
                ax->focusMovedOn = true;
            else
                keys->window = 0x800001;
        };
        ax->onCall = [&](const QString &call) {
            if (call == when || (when == QLatin1String("element") && call == QLatin1String("selectedTextRange")))
                act();
        };
        service->injectAtCursor(QStringLiteral("x"));
        if (when.isEmpty())
            act();
        if (when == QLatin1String("read")) {
            clock->advance(10);
            act();
        }
        if (when == QLatin1String("chord")) {
            clock->advance(TextInjectionService::pasteDelayMs + 40);
            act();
        }
        clock->advance(10000);
        QCOMPARE(ax->field.value, QStringLiteral("abc"));
        QVERIFY(pastePath || !ax->calls.contains(QStringLiteral("setSelectedText:x")));
        QVERIFY(keys->events.isEmpty());
        QCOMPARE(pb->items, Pasteboard::Contents{kHello});
        QCOMPARE(clock->pendingTimers(), 0);
    }

    void injectAtCursor_hungTargetGivesUpWithoutPasting()
    {
        ax->hung = true;
        pb->items = {kHello};
        service->injectAtCursor(QStringLiteral("x"));
        service->injectAtCursor(QStringLiteral("z"));
        service->cancelInsertion();
        clock->advance(10000);
        QVERIFY(keys->events.isEmpty());
        QCOMPARE(pb->count, 0);
        // The next dictation is not held up behind them.
        ax->hung = false;
        service->injectAtCursor(QStringLiteral("y"));
        clock->advance(0);
        QCOMPARE(ax->field.value, QStringLiteral("y"));
    }

    void destructor_cancelsPendingSteps()
    {
        useFieldWithoutAccessibility();
        service->injectAtCursor(QStringLiteral("x"));
        clock->advance(TextInjectionService::pasteDelayMs / 2);
        service.reset();
        clock->advance(10000);
        QVERIFY(keys->events.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextInjectionService)
#include "tst_TextInjectionService.moc"
