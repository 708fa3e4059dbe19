#pragma once

#include "ControllerFakes.h"
#include "base/AppIdentity.h"
#include "core/KeychainStore.h"
#include "core/VoxleAppState.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"
#include "support/Settle.h"

// One application state wired to fakes, on virtual time; the dictation tests drive its controller.
struct ControllerRig {
    explicit ControllerRig(bool useProxy = false, bool withKey = true, bool keychainReadable = true)
    {
        if (!keychainReadable)
            secrets.failReadWith = -25293;
        if (withKey)
            secrets.items[{Voxle::applicationId(), QStringLiteral("dashscope_api_key")}] = QStringLiteral("sk-test");
        defaults.setBool(QStringLiteral("use_proxy"), useProxy);
        const auto asked = [this] { ++permissionRequests; };
        state = std::make_unique<VoxleAppState>(VoxleAppStateServices{
            clock, defaults, keychain, history, audio, sessions, injector, cloud, mic, {}, {}, {}, asked, asked});
        state->load();
        dictation = &state->dictation();
        settle();
    }

    // Wake-ups still queued must run while everything they touch is alive.
    ~ControllerRig()
    {
        settle();
        dictation = nullptr;
        state.reset();
        settle();
    }

    void advance(qint64 ms)
    {
        clock.advance(ms);
        settle();
    }
    FakeStreamingSession *session() const { return sessions.last(); }
    // A hotkey toggle and the main-thread work it causes; returns the recording's session, if any.
    FakeStreamingSession *toggle(DictationMode mode = DictationMode::polish)
    {
        dictation->toggleRecordingFromHotkey(mode);
        settle();
        return session();
    }
    // Stops the recording by hotkey and lets its session answer `final`.
    void finish(const std::optional<QString> &final, DictationMode mode = DictationMode::polish)
    {
        FakeStreamingSession *s = session();
        dictation->toggleRecordingFromHotkey(mode);
        s->finalAnswer.resolve(final);
        settle();
    }
    // One hotkey dictation whose session answers `final`; returns that session.
    FakeStreamingSession *dictate(const std::optional<QString> &final)
    {
        FakeStreamingSession *s = toggle();
        finish(final);
        return s;
    }
    OverlayState::Kind overlayKind() const { return dictation->overlay().kind; }

    ManualClock clock;
    FakeUserDefaults defaults;
    FakeSecretStore secrets;
    KeychainStore keychain{secrets};
    FakeHistory history;
    FakeAudioCapture audio;
    FakeSessionFactory sessions;
    FakeTextInjector injector;
    FakeDictationCloud cloud;
    FakeMicrophone mic;
    std::unique_ptr<VoxleAppState> state;
    DictationController *dictation = nullptr;
    int permissionRequests = 0; // input monitoring and accessibility, asked of the platform
};
