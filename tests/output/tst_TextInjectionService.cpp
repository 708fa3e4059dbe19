#include "InjectionRig.h"
#include "platform/fake/FakeInputMethodCommit.h"

#include <QTest>

namespace {
using Event = FakeKeySynth::Event;
using Chord = KeySynth::PasteChord;
using Field = FakeAccessibility::Field;
const Pasteboard::Item kHello{QStringLiteral("text/plain"), QByteArrayLiteral("hello")};
const Pasteboard::Item kPng{QStringLiteral("image/png"), QByteArrayLiteral("\x89PNG\r\n\x1a\nfake-image")};
const Pasteboard::Item kHtml{QStringLiteral("text/html"), QByteArrayLiteral("<b>hello</b>")};
const QList<Event> kCommandV{{KeySynth::keyV, KeySynth::flagCommand, true},
                             {KeySynth::keyV, KeySynth::flagCommand, false}};

} // namespace
Q_DECLARE_METATYPE(Field)

class TestTextInjectionService : public QObject
{
    Q_OBJECT

    std::unique_ptr<InjectionRig> r;
    // What the target pasted, read from the clipboard targetReadDelayMs after the key, as applications do.
    QStringList pastedTexts;
    qint64 targetReadDelayMs = 0;
    QStringList failures; // what the user was told
    std::unique_ptr<FakeInputMethodCommit> im;

    // A field the accessibility interface cannot write (a terminal, an application without a tree).
    void useFieldWithoutAccessibility()
    {
        r->ax.field.acceptsSelectedText = false;
        r->ax.field.exposesValue = false;
    }
    // The input-method route, tried after accessibility and before the paste, answering later.
    void useInputMethod()
    {
        useFieldWithoutAccessibility();
        im = std::make_unique<FakeInputMethodCommit>(r->clock);
        im->replyDelayMs = 30;
        r->service->setInputMethod(im.get());
    }

private slots:
    void init()
    {
        r = std::make_unique<InjectionRig>();
        pastedTexts.clear();
        failures.clear();
        targetReadDelayMs = 0;
        // The user's clipboard holds text; the focused field holds "abc", the caret at its end.
        r->pb.items = {kHello};
        r->ax.field.value = QStringLiteral("abc");
        r->ax.field.selection = {3, 0};
        r->service->setFailureHandler([this](const QString &message) { failures << message; });
        r->keys.onPost = [this](const Event &e) {
            if (e.keyDown)
                r->clock.schedule(targetReadDelayMs,
                                  [this]() { pastedTexts << r->pb.readAsTarget().value_or(QStringLiteral("<none>")); });
        };
    }
    void cleanup()
    {
        r->service.reset();
        im.reset();
        r.reset();
    }

    void insertViaAccessibility_data()
    {
        QTest::addColumn<Field>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<int>("caret");
        const auto u = [](const char *text) { return QString::fromUtf8(text); };
        QTest::newRow("trimmed, at the caret")
            << Field{.value = u("ab"), .selection = {1, 0}} << u("\n  你好，world \n") << u("a你好，worldb") << 9;
        QTest::newRow("selection replaced")
            << Field{.value = u("abcdef"), .selection = {2, 2}} << u("XY") << u("abXYef") << 4;
        QTest::newRow("applied a moment later, once")
            << Field{.value = u("ab"), .selection = {2, 0}, .appliesAfterPauses = 4} << u("XY") << u("abXY") << 4;
        QTest::newRow("value rewritten") << Field{.value = u("abcdef"),
                                                  .selection = {2, 2},
                                                  .acceptsSelectedText = false}
                                         << u("XY") << u("abXYef") << 4;
        QTest::newRow("range beyond the value")
            << Field{.value = u("12345678"), .selection = {10, 5}, .acceptsSelectedText = false} << u("XY")
            << u("12345678XY") << 10;
        // A masked field cannot be read back, but the right length is trusted; a caret it does not tell, its word.
        QTest::newRow("masked, inside") << Field{.value = u("secret"), .selection = {3, 0}, .masksValue = true}
                                        << u("XY") << u("secXYret") << 5;
        QTest::newRow("caret unreadable")
            << Field{.value = u("ab"), .selection = {2, 0}, .exposesRange = false} << u("XY") << u("abXY") << 4;
    }
    void insertViaAccessibility()
    {
        QFETCH(Field, field);
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QFETCH(int, caret);
        r->ax.field = field;
        r->service->injectAtCursor(text);
        // Nothing reaches the other application from inside the call.
        QVERIFY(r->ax.calls.isEmpty());
        r->clock.advance(5000);
        QCOMPARE(r->ax.field.value, expected);
        QCOMPARE(r->ax.field.selection, (Accessibility::TextRange{caret, 0}));
        QCOMPARE(r->pb.count, 0);
        QCOMPARE(r->clock.pendingTimers(), 0);
        QVERIFY(r->keys.events.isEmpty());
    }

    // Texts that neither accessibility nor the input method could insert are pasted, in their order.
    void failuresFallBackToPaste_data()
    {
        QTest::addColumn<int>("failure");
        QTest::newRow("no focused element") << 0;
        QTest::newRow("no value") << 1;
        QTest::newRow("no range") << 2;
        QTest::newRow("value rejected") << 3;
        QTest::newRow("inserted text never shows") << 4;
        QTest::newRow("inserted text altered, its range deleted") << 5;
        QTest::newRow("not trusted: prompt") << 6;
        QTest::newRow("value written but never shows") << 7;
        QTest::newRow("input method: password field") << 8;
        QTest::newRow("input method: no framework") << 9;
        QTest::newRow("input method: add-on missing") << 10;
    }
    void failuresFallBackToPaste()
    {
        QFETCH(int, failure);
        r->ax.field.acceptsSelectedText = failure >= 4 && failure != 7;
        r->ax.hasFocus = failure != 0;
        r->ax.field.exposesValue = failure != 1;
        r->ax.field.exposesRange = failure != 2;
        r->ax.field.acceptsValue = failure != 3;
        r->ax.field.dropsInsertedText = failure == 4 || failure == 7;
        r->ax.field.altersInsertedText = failure == 5;
        r->ax.trusted = failure != 6;
        if (failure >= 8) {
            useInputMethod();
            im->field.password = failure == 8;
            im->running = failure != 9;
            im->failing = failure == 10;
        }
        QCOMPARE(r->service->isAccessibilityTrusted(), failure != 6);
        r->service->injectAtCursor(QStringLiteral("你好，world"));
        r->service->injectAtCursor(QStringLiteral("二"));
        r->clock.advance(10000);
        QCOMPARE(r->ax.field.value, QStringLiteral("abc"));
        QVERIFY(!r->ax.calls.contains(QStringLiteral("setValue:abc")));
        if (failure == 5)
            QVERIFY(r->ax.calls.contains(QStringLiteral("deleteText:3,8")));
        if (failure == 6) // nothing but the prompt
            QCOMPARE(QSet<QString>(r->ax.calls.cbegin(), r->ax.calls.cend()),
                     QSet<QString>{QStringLiteral("requestTrust")});
        QCOMPARE(pastedTexts, (QStringList{QStringLiteral("你好，world"), QStringLiteral("二")}));
        QCOMPARE(r->keys.events, kCommandV + kCommandV); // no terminal's chord
        QCOMPARE(r->pb.items, Pasteboard::Contents{kHello});
        QVERIFY(!im || im->field.value.isEmpty());
    }

    void paste_restoresAfterTheTargetRead_data()
    {
        QTest::addColumn<Pasteboard::Contents>("old");
        QTest::addColumn<int>("readDelay");
        QTest::newRow("text, rich text and image, read 1 s late") << Pasteboard::Contents{kHello, kHtml, kPng} << 1000;
        QTest::newRow("image only, read 1.8 s late") << Pasteboard::Contents{kPng} << 1800;
        QTest::newRow("empty, read at once") << Pasteboard::Contents{} << 0;
    }
    void paste_restoresAfterTheTargetRead()
    {
        QFETCH(Pasteboard::Contents, old);
        QFETCH(int, readDelay);
        useFieldWithoutAccessibility();
        r->pb.items = old;
        targetReadDelayMs = readDelay;
        r->service->injectAtCursor(QStringLiteral(" 你好 "));
        r->clock.advance(0);
        QCOMPARE(r->pb.string(), QStringLiteral("你好"));
        QVERIFY(r->pb.transient);
        r->clock.advance(TextInjectionService::pasteDelayMs - 1);
        QVERIFY(r->keys.events.isEmpty());
        r->clock.advance(1);
        QCOMPARE(r->keys.events, kCommandV);
        r->clock.advance(readDelay + TextInjectionService::restoreAfterReadMs - 1);
        QCOMPARE(r->pb.string(), QStringLiteral("你好"));
        r->clock.advance(1);
        QCOMPARE(r->pb.items, old);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("你好")});
        QCOMPARE(r->keys.events.size(), 2);
        QCOMPARE(failures, QStringList{});
    }

    void paste_thatCannotBeMadeFailsAloud_data()
    {
        QTest::addColumn<bool>("clipboardFails");
        QTest::addColumn<bool>("chordFails");
        QTest::addColumn<bool>("terminal");
        QTest::addColumn<int>("windowChord");
        QTest::addColumn<QString>("message");
        const int ctrlV = int(Chord::commandV);
        QTest::newRow("chord never answered, terminal")
            << false << false << true << ctrlV << QStringLiteral("已复制到剪贴板，请按 Ctrl+Shift+V 粘贴");
        QTest::newRow("no chord, xterm")
            << false << true << false << int(Chord::shiftInsert) << QStringLiteral("已复制到剪贴板，请按 Shift+Insert 粘贴");
        QTest::newRow("no clipboard") << true << false << false << ctrlV << QStringLiteral("未能插入文字：无法写入剪贴板");
    }
    void paste_thatCannotBeMadeFailsAloud()
    {
        QFETCH(bool, clipboardFails);
        QFETCH(bool, chordFails);
        QFETCH(bool, terminal);
        QFETCH(int, windowChord);
        QFETCH(QString, message);
        useFieldWithoutAccessibility();
        r->ax.field.terminal = terminal;
        r->keys.chord = Chord(windowChord);
        r->pb.failWrites = clipboardFails;
        r->keys.failPosting = chordFails;
        targetReadDelayMs = 100000;
        r->service->injectAtCursor(QStringLiteral("听写"));
        r->clock.advance(10000);
        QCOMPARE(failures, QStringList{message});
        // The text stays for the user to paste, or the clipboard never changed.
        QCOMPARE(r->pb.string(), clipboardFails ? QStringLiteral("hello") : QStringLiteral("听写"));
        QVERIFY(!r->service->busy());
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
        r->keys.held = true;
        r->clock.schedule(TextInjectionService::pasteDelayMs + releasedAt, [this]() { r->keys.held = false; });
        r->service->injectAtCursor(QStringLiteral("x"));
        r->clock.advance(TextInjectionService::pasteDelayMs + chordAt - 1);
        QVERIFY(r->keys.events.isEmpty());
        r->clock.advance(TextInjectionService::modifierPollMs);
        QCOMPARE(r->keys.events, kCommandV);
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
        targetReadDelayMs = 1000;
        r->service->injectAtCursor(QStringLiteral("first"));
        r->clock.advance(10);
        if (overlapping)
            r->service->injectAtCursor(QStringLiteral("second"));
        r->clock.advance(100);
        const Pasteboard::Item userCopy{QStringLiteral("text/plain"), QByteArrayLiteral("user copy")};
        if (byManager)
            r->pb.managerTakesOver();
        else
            r->pb.setContents({userCopy});
        r->clock.advance(10000);
        QCOMPARE(r->pb.items, byManager ? Pasteboard::Contents{kHello} : Pasteboard::Contents{userCopy});
        // The text queued behind is still pasted, over whatever the clipboard then holds.
        QCOMPARE(pastedTexts.endsWith(QStringLiteral("second")), overlapping);
        QVERIFY(!r->service->busy());
    }

    // The first target's read ends the first paste's wait; its bound must not cut short the wait of the next.
    void paste_queuedTextReadLate_waitsForItsOwnRead()
    {
        useFieldWithoutAccessibility();
        r->service->injectAtCursor(QStringLiteral("first"));
        r->service->injectAtCursor(QStringLiteral("second"));
        r->clock.advance(TextInjectionService::pasteDelayMs);
        targetReadDelayMs = TextInjectionService::restoreBoundMs - 100;
        r->clock.advance(10000);
        QCOMPARE(pastedTexts, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
        QCOMPARE(failures, QStringList{});
        QCOMPARE(r->pb.items, Pasteboard::Contents{kHello});
    }

    void injectAtCursor_laterTextsWaitInOrderAndKeepUsersClipboard()
    {
        r->ax.hasFocus = false; // the first text finds no field
        r->pb.items = {kHello, kPng};
        targetReadDelayMs = 300;
        // Whitespace alone is no text.
        r->service->injectAtCursor(QStringLiteral(" \n\t \r\n\u3000"));
        QCOMPARE(r->clock.pendingTimers(), 0);
        QVERIFY(r->ax.calls.isEmpty());
        r->service->injectAtCursor(QStringLiteral("first"));
        r->clock.advance(60);
        r->ax.hasFocus = true;
        r->service->injectAtCursor(QStringLiteral("second"));
        // The second text never replaces the first before the target has read it.
        r->clock.advance(200);
        QCOMPARE(r->pb.string(), QStringLiteral("first"));
        QCOMPARE(r->ax.field.value, QStringLiteral("abc"));
        r->clock.advance(5000);
        QCOMPARE(pastedTexts, QStringList{QStringLiteral("first")});
        QCOMPARE(r->ax.field.value, QStringLiteral("abcsecond"));
        QCOMPARE(r->pb.items, (Pasteboard::Contents{kHello, kPng}));
        QCOMPARE(r->clock.pendingTimers(), 0);
    }

    // Before each write the insertion checks it was not cancelled and the focus is where it started.
    void injectAtCursor_stopsWhereTheDictationNoLongerBelongs_data()
    {
        QTest::addColumn<QString>("when");
        QTest::addColumn<bool>("cancel");
        QTest::addColumn<bool>("pastePath");
        QTest::addColumn<QString>("value"); // the field's at the end
        const QString abc = QStringLiteral("abc");
        QTest::newRow("cancelled at once") << QString() << true << false << abc;
        QTest::newRow("window changed before the write")
            << QStringLiteral("selectedTextRange") << false << false << abc;
        QTest::newRow("element changed before the write") << QStringLiteral("element") << false << false << abc;
        // What the field took stays, but nothing more is written to it: the caret is not moved.
        QTest::newRow("cancelled during the write")
            << QStringLiteral("setSelectedText:x") << true << false << QStringLiteral("abcx");
        QTest::newRow("cancelled while reading the clipboard") << QStringLiteral("read") << true << true << abc;
        QTest::newRow("window changed before the chord") << QStringLiteral("chord") << false << true << abc;
        QTest::newRow("cancelled before the chord") << QStringLiteral("chord") << true << true << abc;
    }
    void injectAtCursor_stopsWhereTheDictationNoLongerBelongs()
    {
        QFETCH(QString, when);
        QFETCH(bool, cancel);
        QFETCH(bool, pastePath);
        QFETCH(QString, value);
        r->ax.hasFocus = !pastePath;
        r->pb.readDelayMs = 30;
        r->keys.held = true;
        const auto act = [&]() {
            if (cancel)
                r->service->cancelInsertion();
            else if (when == QLatin1String("element"))
                r->ax.focusMovedOn = true;
            else
                r->keys.window = 0x800001;
        };
        r->ax.onCall = [&](const QString &call) {
            if (call == when || (when == QLatin1String("element") && call == QLatin1String("selectedTextRange")))
                act();
        };
        r->service->injectAtCursor(QStringLiteral("x"));
        if (when.isEmpty())
            act();
        if (when == QLatin1String("read")) {
            r->clock.advance(10);
            act();
        }
        if (when == QLatin1String("chord")) {
            r->clock.advance(TextInjectionService::pasteDelayMs + 40);
            act();
        }
        r->clock.advance(10000);
        QCOMPARE(r->ax.field.value, value);
        QCOMPARE(r->ax.calls.contains(QStringLiteral("setSelectedText:x")), value != QLatin1String("abc"));
        QVERIFY(!r->ax.calls.join(u' ').contains(QLatin1String("setSelectedTextRange")));
        QVERIFY(r->keys.events.isEmpty());
        QCOMPARE(r->pb.items, Pasteboard::Contents{kHello});
        QCOMPARE(r->clock.pendingTimers(), 0);
        QVERIFY(!r->service->busy());
    }

    void injectAtCursor_hungTargetGivesUpWithoutPasting()
    {
        r->ax.hung = true;
        r->service->injectAtCursor(QStringLiteral("x"));
        r->service->injectAtCursor(QStringLiteral("z"));
        r->service->cancelInsertion();
        r->clock.advance(10000);
        QVERIFY(r->keys.events.isEmpty());
        QCOMPARE(r->pb.count, 0);
        // The next dictation is not held up behind them.
        r->ax.hung = false;
        r->service->injectAtCursor(QStringLiteral("y"));
        r->clock.advance(0);
        QCOMPARE(r->ax.field.value, QStringLiteral("abcy"));
    }

    void inputMethod_takesWhatAccessibilityCannot()
    {
        useInputMethod();
        r->service->injectAtCursor(QStringLiteral("  你好 Voxle 😀\n"));
        r->service->injectAtCursor(QStringLiteral("第二"));
        // The second text waits for the answer to the first.
        r->clock.advance(30);
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀"));
        r->clock.advance(10000);
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀第二"));
        // Cancelled while accessibility looks for the focused element: the input method is not asked, and the
        // next text goes in.
        r->ax.hasFocus = false;
        bool cancelOnce = true;
        r->ax.onCall = [&](const QString &) {
            if (std::exchange(cancelOnce, false))
                r->service->cancelInsertion();
        };
        r->service->injectAtCursor(QStringLiteral("取消"));
        r->clock.advance(10000);
        r->service->injectAtCursor(QStringLiteral("第三"));
        r->clock.advance(10000);
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀第二第三"));
        // Without accessibility trust the route comes before the paste as well.
        r->ax.trusted = false;
        r->service->injectAtCursor(QStringLiteral("再来"));
        r->clock.advance(10000);
        QCOMPARE(im->field.value, QStringLiteral("你好 Voxle 😀第二第三再来"));
        QCOMPARE(r->pb.count, 0);
        QVERIFY(r->keys.events.isEmpty());
        // A field accessibility can write takes the text that way; the input method is not asked.
        r->ax.trusted = r->ax.hasFocus = true;
        r->ax.field = FakeAccessibility::Field{};
        const QStringList calls = im->calls;
        r->service->injectAtCursor(QStringLiteral("经无障碍"));
        r->clock.advance(10000);
        QCOMPARE(r->ax.field.value, QStringLiteral("经无障碍"));
        QCOMPARE(im->calls, calls);
    }

    void destructor_cancelsPendingSteps_data()
    {
        QTest::addColumn<bool>("inputMethod");
        QTest::newRow("paste chord pending") << false;
        QTest::newRow("input method answer pending") << true;
    }
    void destructor_cancelsPendingSteps()
    {
        QFETCH(bool, inputMethod);
        inputMethod ? useInputMethod() : useFieldWithoutAccessibility();
        r->service->injectAtCursor(QStringLiteral("x"));
        r->clock.advance(inputMethod ? 0 : TextInjectionService::pasteDelayMs / 2);
        r->service.reset();
        r->clock.advance(10000);
        QVERIFY(r->keys.events.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestTextInjectionService)
#include "tst_TextInjectionService.moc"
