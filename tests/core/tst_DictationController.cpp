#include "ControllerRig.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QtEndian>
#include <tuple>

using Kind = OverlayState::Kind;
using Status = AppStatus;

namespace {
QByteArray chunkNumbered(int n)
{
    QByteArray chunk(4, '\0');
    qToLittleEndian<qint32>(n, chunk.data());
    return chunk;
}

// Chunks 0 to count - 1 back to back: what arrives when nothing is lost or reordered.
QByteArray numbered(int count)
{
    QByteArray all;
    for (int i = 0; i < count; ++i)
        all += chunkNumbered(i);
    return all;
}

// Delivers chunks 0 to count - 1 from a capture thread while the main thread works, as capture and the main loop do.
void captureNumbered(FakeAudioCapture &audio, int count)
{
    const std::unique_ptr<QThread> producer(QThread::create([&audio, count] {
        for (int i = 0; i < count; ++i)
            audio.deliverPcm(chunkNumbered(i));
    }));
    producer->start();
    while (!producer->isFinished())
        QCoreApplication::processEvents();
    producer->wait();
}
} // namespace

class TestDictationController : public QObject
{
    Q_OBJECT
private slots:
    void streaming_hotkeyToggleInsertsStoresAndReturnsToIdle()
    {
        ControllerRig rig;
        // The overlay, the home page and the key grabs follow these, through the application state.
        QSignalSpy status(rig.state.get(), &VoxleAppState::statusChanged),
            overlay(rig.state.get(), &VoxleAppState::overlayChanged);
        rig.secrets.calls.clear();
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.secrets.calls, QStringList()); // the key was read at start-up: no D-Bus on the hotkey path
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.overlayKind(), Kind::recording);
        QCOMPARE(rig.dictation->overlay().hint,
                 QStringLiteral("按 Fn + Space 结束并粘贴；Fn 结束并润色；Fn + ⇧（左）结束并翻译 · ESC 取消"));
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("已连接（流式）"));
        QCOMPARE(rig.sessions.lastHints, std::optional<QStringList>(QStringList{QStringLiteral("zh")}));
        QVERIFY(rig.audio.running);

        FakeStreamingSession *session = rig.session();
        rig.advance(2500);
        constexpr int kChunks = 5000;
        captureNumbered(rig.audio, kChunks);
        rig.audio.deliverPcm(chunkNumbered(kChunks)); // still queued when the user stops
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        // The stop hands over what is still queued, in capture order, before the session is finalized.
        QCOMPARE(session->audio.join(), numbered(kChunks + 1));
        QCOMPARE(rig.dictation->status(), Status::processing);
        QCOMPARE(rig.dictation->overlay(), OverlayState::processing(QStringLiteral("处理中…")));
        QVERIFY(!rig.audio.running);
        QCOMPARE(session->finalizeTimeoutMs, 30000);

        session->finalAnswer.resolve(QStringLiteral("  你好世界 \n"));
        settle();
        QCOMPARE(rig.injector.injected, QStringList{QStringLiteral("你好世界")});
        QCOMPARE(rig.history.rows, (QList<QStringList>{{QStringLiteral("record"), QStringLiteral("你好世界"),
                                                        QStringLiteral("你好世界")}}));
        rig.advance(149); // a 0.15 s pause after insertion
        QCOMPARE(rig.dictation->status(), Status::processing);
        rig.advance(1);
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.overlayKind(), Kind::hidden);
        QCOMPARE(status.size(), 3);
        QVERIFY(overlay.size() >= 3);
        QVERIFY(!rig.dictation->pendingCommitToCursor());
        QVERIFY(rig.cloud.usage.isEmpty()); // signed out

        // Insertion and storage are separate choices: the home button stores without inserting, also when it
        // starts while a hotkey dictation still finishes; retention "never" inserts without storing.
        FakeStreamingSession *byHotkey = rig.toggle();
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->toggleRecording();
        settle();
        session = rig.session();
        rig.dictation->toggleRecording();
        session->finalAnswer.resolve(QStringLiteral("only history"));
        byHotkey->finalAnswer.resolve(QStringLiteral("superseded"));
        settle();
        rig.advance(150);
        QCOMPARE(rig.injector.injected.size(), 1);
        QCOMPARE(rig.history.rows.size(), 3);
        rig.state->preferences().setHistoryRetention(VoxleHistoryRetention::never);
        rig.dictate(QStringLiteral("secret"));
        QCOMPARE(rig.injector.injected.last(), QStringLiteral("secret"));
        QCOMPARE(rig.history.rows.size(), 3);
    }

    // The proxy route collects PCM from the capture thread in order, uploads it once after the stop, stops by
    // itself at sixty seconds and shows an upload failure without inserting or storing.
    void proxy_collectsUploadsAfterStopAndShowsFailures()
    {
        ControllerRig rig(/*useProxy=*/true);
        QStringList errorLabels; // as the pages see it at each change
        connect(rig.state.get(), &VoxleAppState::labelsChanged, this,
                [&] { errorLabels << rig.dictation->lastNetworkErrorLabel(); });
        rig.dictation->setLastNetworkErrorLabel(QStringLiteral("earlier failure"));
        QCOMPARE(errorLabels, QStringList{QStringLiteral("earlier failure")});
        rig.dictation->toggleRecording(); // the button would not insert, the sixty-second stop does
        settle();
        QCOMPARE(errorLabels.last(), QString());
        QVERIFY(rig.sessions.sessions.empty());
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("已连接（代理）"));
        captureNumbered(rig.audio, 2000);
        rig.advance(59999);
        QCOMPARE(rig.dictation->status(), Status::recording);
        rig.advance(1);
        QCOMPARE(rig.dictation->status(), Status::processing);
        QVERIFY(rig.dictation->pendingCommitToCursor());
        QCOMPARE(rig.cloud.uploads, QList<QByteArray>{numbered(2000)});
        rig.cloud.pendingUploads.front().resolve({QStringLiteral("proxy text"), {}});
        rig.advance(150);
        QCOMPARE(rig.injector.injected, QStringList{QStringLiteral("proxy text")});

        // What was said in a cancelled dictation never travels with the next one.
        rig.toggle();
        rig.audio.deliverPcm(QByteArray(6400, '\7'));
        rig.dictation->cancelRecording(); // and the next one starts before its queued work has run
        rig.toggle();
        rig.audio.deliverPcm(QByteArray(3200, '\1'));
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        QCOMPARE(rig.cloud.uploads, (QList<QByteArray>{numbered(2000), QByteArray(3200, '\1')}));
        rig.cloud.pendingUploads.back().resolve({std::nullopt, QStringLiteral("网络错误")});
        settle();
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("网络错误")));
        QCOMPARE(rig.injector.injected.size(), 1);
        QCOMPARE(rig.history.rows.size(), 1);

        // Its sixty-second limit ended with it: a streaming dictation started next runs on.
        rig.advance(1600);
        rig.state->preferences().setUseProxy(false);
        rig.toggle();
        rig.advance(59000);
        QCOMPARE(rig.dictation->status(), Status::recording);
    }

    void fnScheme_actionsWhileRecordingOnlyChooseTheFinish()
    {
        ControllerRig rig;
        rig.dictation->performHotkeyAction(HotkeyAction::off);
        settle();
        QCOMPARE(rig.dictation->status(), Status::idle);
        rig.dictation->performHotkeyAction(HotkeyAction::polish);
        settle();
        QCOMPARE(rig.dictation->overlay().hint, QStringLiteral("按 Fn 结束并润色 · ESC 取消"));
        rig.dictation->performHotkeyAction(HotkeyAction::record);
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.dictation->sessionPolishOverride(), std::optional<bool>(false));
        QCOMPARE(rig.dictation->overlay().hint, QStringLiteral("按 Fn + Space 结束并粘贴 · ESC 取消"));
        rig.dictation->performHotkeyAction(HotkeyAction::translate);
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.dictation->activeDictationMode(), DictationMode::translate);
        QCOMPARE(rig.dictation->overlay().hint, QStringLiteral("按 Fn + ⇧（左）结束并翻译 · ESC 取消"));
        rig.dictation->performHotkeyAction(HotkeyAction::off);
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.sessions.sessions.size(), 1u);
        // Destroyed mid-recording, the controller stops the capture first: nothing calls into it afterwards.
        rig.dictation = nullptr;
        rig.state.reset();
        QVERIFY(!rig.audio.running);
    }

    void modifiersScheme_translateActionStopsAndTranslatesIntoCursor()
    {
        ControllerRig rig;
        QSignalSpy mode(rig.state.get(), &VoxleAppState::activeDictationModeChanged); // the pill's title follows
        rig.state->preferences().setHotkeyScheme(HotkeyScheme::modifiers);
        rig.state->preferences().setTranslationTargetLanguage(TranslationTargetLanguage::ja);
        rig.dictation->performHotkeyAction(HotkeyAction::record);
        settle();
        FakeStreamingSession *session = rig.session();
        rig.dictation->performHotkeyAction(HotkeyAction::translate);
        QCOMPARE(rig.dictation->status(), Status::processing);
        QCOMPARE(rig.dictation->activeDictationMode(), DictationMode::translate);
        QCOMPARE(mode.size(), 1);
        QCOMPARE(rig.dictation->sessionPolishOverride(), std::nullopt);
        session->finalAnswer.resolve(QStringLiteral("早上好"));
        settle();
        QCOMPARE(rig.dictation->overlay(), OverlayState::processing(QStringLiteral("翻译中…")));
        QCOMPARE(rig.cloud.lastTarget, TranslationTargetLanguage::ja);
        rig.cloud.pendingRewrites.front().resolve(QStringLiteral("おはよう"));
        settle();
        QCOMPARE(rig.injector.injected, QStringList{QStringLiteral("おはよう")});
        QCOMPARE(rig.history.rows.first(),
                 (QStringList{QStringLiteral("translate"), QStringLiteral("早上好"), QStringLiteral("おはよう")}));
    }

    // Waiting for credentials: a second press starts nothing more, Escape abandons the start, a failure shows
    // its message; none of them leaves the start pending.
    void preparingStart_onlyOnceAbandonedByEscapeFailureShown()
    {
        ControllerRig rig;
        rig.cloud.holdCredentials = true;
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->cancelRecording();
        rig.cloud.pendingCredentials.front().resolve(std::nullopt); // answered too late
        settle();
        QVERIFY(!rig.dictation->isPreparingStart());
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.audio.starts, 0);

        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        QVERIFY(rig.dictation->isPreparingStart());
        QCOMPARE(rig.cloud.pendingCredentials.size(), 2u);
        rig.cloud.pendingCredentials.back().resolve(std::nullopt);
        settle();
        QVERIFY(!rig.dictation->isPreparingStart());
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.sessions.sessions.size(), 1u);

        rig.dictation->cancelRecording();
        rig.cloud.holdCredentials = false;
        rig.cloud.credentialFailure = QStringLiteral("无法获取 AI 配置，请稍后重试。");
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("无法获取 AI 配置，请稍后重试。")));
        QVERIFY(!rig.dictation->isPreparingStart());
        QCOMPARE(rig.audio.starts, 1);
    }

    // A recording started while the previous one is still finishing: the old dictation runs on detached and
    // reaches the history and the usage report, never the cursor or the new recording's screen.
    void startWhileProcessing_oldDictationIsStoredNotInserted()
    {
        ControllerRig rig;
        rig.cloud.loggedIn = true;
        rig.state->preferences().setPolishEnabled(true);
        FakeStreamingSession *first = rig.dictate(QStringLiteral("第一段"));
        QCOMPARE(rig.cloud.rewriteRequests, QStringList{QStringLiteral("第一段")});
        rig.dictation->performHotkeyAction(HotkeyAction::translate); // second recording, other mode
        settle();
        QCOMPARE(rig.dictation->status(), Status::recording);
        FakeStreamingSession *second = rig.session();
        QVERIFY(second != first);

        rig.cloud.pendingRewrites.front().resolve(std::nullopt); // the old polish fails
        settle();
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.overlayKind(), Kind::recording);
        QCOMPARE(rig.dictation->activeDictationMode(), DictationMode::translate);
        QVERIFY(rig.injector.injected.isEmpty());
        QCOMPARE(rig.history.rows,
                 (QList<QStringList>{{QStringLiteral("polish"), QStringLiteral("第一段"), QStringLiteral("第一段")}}));
        QCOMPARE(rig.cloud.usage.value(0).value(1), QStringLiteral("润色听写"));

        // A third recording supersedes the second while its session still finalizes; Escape ends both.
        rig.dictation->toggleRecordingFromHotkey(DictationMode::translate);
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->status(), Status::recording);
        QVERIFY(second->live());
        rig.dictation->cancelRecording();
        settle();
        QVERIFY(!rig.sessions.alive.count(second) || second->cancelled);
        QCOMPARE(rig.sessions.liveSessions(), 0);
        rig.advance(31000);
        QCOMPARE(rig.history.rows.size(), 1);
        QCOMPARE(rig.dictation->status(), Status::idle);

        // A new start that fails at once does not lose the dictation still finishing either.
        FakeStreamingSession *fourth = rig.toggle(DictationMode::polish);
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.cloud.credentialFailure = QStringLiteral("无法获取 AI 配置，请稍后重试。");
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        fourth->finalAnswer.resolve(QStringLiteral("第四段"));
        settle();
        rig.cloud.pendingRewrites.back().resolve(QStringLiteral("第四段。"));
        settle();
        QCOMPARE(rig.history.rows.value(1).value(2), QStringLiteral("第四段。"));
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("无法获取 AI 配置，请稍后重试。")));
    }

    // Two superseded finishing steps at once: the end of one leaves the other owned, so the controller's end
    // still closes that one's session.
    void detachedSteps_eachStaysOwnedUntilItEnds()
    {
        ControllerRig rig;
        rig.state->preferences().setPolishEnabled(true);
        rig.dictate(QStringLiteral("第一段"));
        FakeStreamingSession *second = rig.dictate(QStringLiteral("第二段")); // the first runs on detached
        rig.toggle(DictationMode::polish);                                   // and now the second too
        QCOMPARE(rig.cloud.pendingRewrites.size(), 2u);
        rig.cloud.pendingRewrites.front().resolve(QStringLiteral("第一段。"));
        settle();
        rig.dictation = nullptr;
        rig.state.reset();
        settle();
        QVERIFY(!rig.sessions.alive.count(second) || second->cancelled);
    }

    void cancelDuringFinishing_insertsNothingAndClosesSession()
    {
        ControllerRig rig;
        FakeStreamingSession *session = rig.toggle(DictationMode::polish);
        session->onPartialUpdated(QStringLiteral("partial words"));
        settle();
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->cancelRecording();
        settle();
        QVERIFY(!rig.sessions.alive.count(session) || session->cancelled);
        QVERIFY(!rig.dictation->pendingCommitToCursor());
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.overlayKind(), Kind::hidden);
        rig.advance(31000);
        QVERIFY(rig.injector.injected.isEmpty());
        QVERIFY(rig.history.rows.isEmpty());
        QCOMPARE(rig.injector.cancels, 1);

        // Partials and audio still queued from a cancelled recording never reach the next one.
        rig.toggle(DictationMode::polish);
        rig.session()->onPartialUpdated(QStringLiteral("旧的"));
        rig.audio.deliverPcm(chunkNumbered(7));
        rig.dictation->cancelRecording();
        QVERIFY(!rig.audio.running); // the microphone is closed at once
        FakeStreamingSession *next = rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->latestTranscript(), QString());
        QCOMPARE(rig.dictation->overlay().partial, std::nullopt);
        QVERIFY(next->audio.isEmpty());
        rig.finish(std::nullopt);
        QVERIFY(rig.injector.injected.isEmpty());
    }

    // The gain is applied, clamped, only while recording.
    void partialsLevelsAndGain_whitespaceClearsLateLevelsAreIgnored()
    {
        ControllerRig rig;
        rig.state->preferences().setAudioInputGain(10.0);
        QCOMPARE(rig.audio.gain, 1.0);
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.audio.gain, 6.0);
        rig.state->preferences().setAudioInputGain(0.1);
        QCOMPARE(rig.audio.gain, 0.5);
        rig.session()->onPartialUpdated(QStringLiteral(" 你好 "));
        settle();
        QCOMPARE(rig.dictation->overlay().partial, std::optional<QString>(QStringLiteral("你好")));
        rig.audio.deliverLevel(0.7);
        settle();
        QCOMPARE(rig.dictation->overlay().level, 0.7);
        QCOMPARE(rig.dictation->overlay().partial, std::optional<QString>(QStringLiteral("你好")));
        rig.session()->onPartialUpdated(QStringLiteral("   "));
        settle();
        QCOMPARE(rig.dictation->overlay().partial, std::nullopt);
        QCOMPARE(rig.dictation->latestTranscript(), QString());

        // A level measured just before the stop is handled after it.
        rig.audio.deliverLevel(0.9);
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->overlay(), OverlayState::processing(QStringLiteral("处理中…")));
    }

    // An empty final falls back on the last partial, a blank one hides at once; an error report shows its
    // message and skips insertion, storage and the usage report.
    void finals_emptyUsesLastPartialBlankHidesErrorReportSkipsEverything()
    {
        ControllerRig rig;
        rig.cloud.loggedIn = true;
        rig.toggle(DictationMode::polish);
        rig.session()->onPartialUpdated(QStringLiteral("last partial "));
        settle();
        rig.finish(std::nullopt);
        QCOMPARE(rig.injector.injected, QStringList{QStringLiteral("last partial")});

        rig.advance(150);
        rig.dictate(QString());
        QCOMPARE(rig.dictation->status(), Status::idle); // no 0.15 s pause for nothing
        const qsizetype reported = rig.cloud.usage.size();
        rig.dictate(QStringLiteral("[错误: 音频过短或全静音，无法识别。]"));
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("音频过短或全静音，无法识别。")));
        QVERIFY(!rig.dictation->pendingCommitToCursor());
        QCOMPARE(rig.injector.injected.size(), 1);
        QCOMPARE(rig.history.rows.size(), 1);
        QCOMPARE(rig.cloud.usage.size(), reported);
    }

    // A failed polish or translation outputs the original with its own message, and still stores and reports it;
    // Escape during a rewrite ends the dictation there: nothing inserted or stored, whatever the rewrite answers.
    void rewriteFailureFallsBackAndEscapeEndsARewrite()
    {
        ControllerRig rig;
        rig.cloud.loggedIn = true;
        rig.state->preferences().setPolishEnabled(true);
        rig.toggle(DictationMode::polish);
        rig.advance(1234);
        rig.finish(QStringLiteral("原文"));
        QCOMPARE(rig.dictation->overlay(), OverlayState::processing(QStringLiteral("润色中…")));
        rig.cloud.pendingRewrites.front().resolve(std::nullopt);
        settle();
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("润色失败，已输出原文。")));
        QCOMPARE(rig.injector.injected, QStringList{QStringLiteral("原文")});
        QCOMPARE(rig.history.rows.first(),
                 (QStringList{QStringLiteral("polish"), QStringLiteral("原文"), QStringLiteral("原文")}));
        QCOMPARE(rig.cloud.usage,
                 (QList<QStringList>{{QStringLiteral("polish"), QStringLiteral("润色听写"), QStringLiteral("原文"),
                                      QStringLiteral("原文"), QStringLiteral("1234")}}));
        rig.advance(1600);

        rig.dictation->performHotkeyAction(HotkeyAction::translate);
        settle();
        rig.finish(QStringLiteral("原话"), DictationMode::translate);
        rig.cloud.pendingRewrites.back().resolve(std::nullopt);
        settle();
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("翻译失败，已输出原文。")));
        QCOMPARE(rig.injector.injected.last(), QStringLiteral("原话"));
        QCOMPARE(rig.history.rows.size(), 2);
        rig.advance(1600);

        rig.dictate(QStringLiteral("再说一遍"));
        QCOMPARE(rig.dictation->overlay(), OverlayState::processing(QStringLiteral("润色中…")));
        rig.dictation->cancelRecording();
        rig.cloud.pendingRewrites.back().resolve(QStringLiteral("润色后"));
        rig.advance(1600);
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.injector.injected.size(), 2);
        QCOMPARE(rig.history.rows.size(), 2);
        QCOMPARE(rig.sessions.liveSessions(), 0);
    }

    void microphone_deniedShowsErrorAndUndeterminedAsksThenStarts()
    {
        ControllerRig rig;
        rig.mic.current = MicrophoneAccess::Status::denied;
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->overlay(),
                 OverlayState::error(
                     QStringLiteral("麦克风权限不可用，请在「系统设置 → 隐私与安全性 → 麦克风」中允许本应用。")));
        QCOMPARE(rig.state->microphonePermissionLabel(), QStringLiteral("已拒绝"));
        rig.advance(1600);

        // Two presses while the prompt is up: the consent starts one recording.
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.mic.holdRequests = true;
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.mic.requests, 2);
        QCOMPARE(rig.dictation->status(), Status::idle);
        rig.mic.pendingRequests.at(0).resolve(true);
        settle();
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.state->microphonePermissionLabel(), QStringLiteral("已允许"));
        rig.mic.pendingRequests.at(1).resolve(true);
        settle();
        QCOMPARE(rig.sessions.sessions.size(), 1u);
        QCOMPARE(rig.sessions.liveSessions(), 1);

        // Escape while the prompt is up: a later consent starts nothing.
        rig.dictation->cancelRecording();
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->toggleRecordingFromHotkey(DictationMode::polish);
        rig.dictation->cancelRecording();
        rig.mic.pendingRequests.at(2).resolve(true);
        rig.mic.pendingRequests.at(3).resolve(true);
        settle();
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.audio.starts, 1);
        // Refused at the prompt: the pages show it at once.
        rig.mic.current = MicrophoneAccess::Status::notDetermined;
        rig.toggle(DictationMode::polish);
        rig.mic.pendingRequests.at(4).resolve(false);
        settle();
        QCOMPARE(rig.state->microphonePermissionLabel(), QStringLiteral("已拒绝"));
    }

    // An error ends the recording and shows for 1.6 s, unless a newer recording took the screen meanwhile.
    void failures_showTheirErrorsUntilIdleOrANewerRecording()
    {
        ControllerRig rig;
        rig.audio.failNextStart = true;
        rig.toggle(DictationMode::polish);
        QCOMPARE(rig.dictation->overlay(), OverlayState::error(QStringLiteral("无法访问麦克风，请在系统设置中允许。")));
        rig.advance(1600);

        QString ackLabel; // as the pages see it
        connect(rig.dictation, &DictationController::labelsChanged, this,
                [&] { ackLabel = rig.dictation->lastStreamingAckLabel(); });
        rig.sessions.holdStarts = true;
        rig.toggle(DictationMode::polish);
        rig.session()->startAnswer.resolve(StartError{StartError::Kind::timeout, -1, 0, {}});
        settle();
        QCOMPARE(rig.dictation->status(), Status::error);
        QCOMPARE(rig.dictation->serverLabel(), QStringLiteral("连接失败"));
        QCOMPARE(ackLabel, QStringLiteral("启动超时：未收到 session.created"));
        QCOMPARE(rig.dictation->lastNetworkErrorLabel(), QStringLiteral("未在预期时间内收到 session.created。"));
        QCOMPARE(rig.dictation->overlay().message, std::optional<QString>(rig.dictation->lastNetworkErrorLabel()));
        QCOMPARE(rig.sessions.liveSessions(), 0);
        rig.advance(1600);
        rig.sessions.holdStarts = false;
        rig.toggle(DictationMode::translate);
        QCOMPARE(ackLabel, QString());
        QCOMPARE(rig.dictation->lastNetworkErrorLabel(), QString());

        rig.dictation->showError(QStringLiteral("失败"));
        QVERIFY(!rig.audio.running);
        rig.advance(1599);
        QCOMPARE(rig.sessions.liveSessions(), 0);
        QCOMPARE(rig.dictation->status(), Status::error);
        rig.advance(1);
        QCOMPARE(rig.dictation->status(), Status::idle);
        QCOMPARE(rig.dictation->activeDictationMode(), DictationMode::polish);
        rig.dictation->showError(QStringLiteral("boom"));
        rig.advance(1000);
        rig.toggle(DictationMode::polish);
        rig.advance(600);
        QCOMPARE(rig.dictation->status(), Status::recording);
        QCOMPARE(rig.overlayKind(), Kind::recording);
    }

    // The Fn scheme's hints are checked while switching actions in fnScheme_actionsWhileRecordingOnlyChooseTheFinish.
    void currentHint_followsSchemeTriggerModeAndOverride()
    {
        const std::tuple<HotkeyScheme, bool, HotkeyAction, QString> table[] = {
            {HotkeyScheme::modifiers, false, HotkeyAction::translate,
             QStringLiteral("再次单击相同热键结束并翻译 · ESC 取消")},
            {HotkeyScheme::custom, true, HotkeyAction::record, QStringLiteral("按住说话 · 松开结束 · ESC 取消")},
            {HotkeyScheme::custom, false, HotkeyAction::translate, QStringLiteral("再次按下结束（⇧ 翻译）· ESC 取消")},
            {HotkeyScheme::custom, false, HotkeyAction::polish, QStringLiteral("再次按下结束 · ESC 取消")}};
        for (const auto &[scheme, ptt, action, hint] : table) {
            ControllerRig rig;
            rig.state->preferences().setHotkeyScheme(scheme);
            if (ptt)
                rig.state->preferences().setTriggerMode(RecordingTriggerMode::ptt);
            rig.dictation->performHotkeyAction(action);
            settle();
            QCOMPARE(rig.dictation->overlay().hint, hint);
        }
    }
};

QTEST_GUILESS_MAIN(TestDictationController)
#include "tst_DictationController.moc"
