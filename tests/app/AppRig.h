#pragma once

// One application state with its account, a real history store in a temporary directory (written through the
// application's recorder) and recording fakes for the platform, as the main window's pages see them.

#include "base/AppIdentity.h"
#include "core/ControllerFakes.h"
#include "core/KeychainStore.h"
#include "core/VoxleAccount.h"
#include "core/VoxleAppState.h"
#include "core/VoxleHistoryRecorder.h"
#include "history/VoxleHistoryStore.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeSettingsOpener.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"
#include "support/Settle.h"
#include "platform/linux/X11WindowKeyTranslator.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <memory>

struct AppRig {
    AppRig()
    {
        secrets.items[{Voxle::applicationId(), QStringLiteral("dashscope_api_key")}] = QStringLiteral("sk-test");
        defaults.setBool(QStringLiteral("use_proxy"), false);
        historyStore = std::make_unique<VoxleHistoryStore>(historyDir.path(), clock);
        history = std::make_unique<VoxleHistoryRecorder>(*historyStore);
        account = std::make_unique<VoxleAccount>(defaults, keychain, clock, network,
                                                 [this] { return state->preferences().useProxy(); });
        state = std::make_unique<VoxleAppState>(
            VoxleAppStateServices{clock, defaults, keychain, *history, audio, sessions, injector, cloud, mic,
                                  [this] { return inputMonitoring; }, [this] { return accessibility; },
                                  [this] { account->restoreAuthState(); }, [this] { ++inputMonitoringRequests; },
                                  [this] { ++accessibilityRequests; }});
        QObject::connect(account.get(), &VoxleAccount::apiKeyReceived, state.get(),
                         &VoxleAppState::saveDashScopeApiKey);
        state->load();
        settle();
    }

    ~AppRig()
    {
        settle();
        state.reset();
        settle();
    }

    void advance(qint64 ms)
    {
        clock.advance(ms);
        settle();
    }

    // Stores a signed-in user whose session is valid for a day, as a previous run would have left it.
    void storeSignedInUser(const QString &phone)
    {
        defaults.setBool(QStringLiteral("has_run_before_v1"), true);
        // Through the keychain: it remembers what it has read, as the application's does.
        keychain.save(QStringLiteral("token-0123456789"), QStringLiteral("voxle_auth_token"));
        keychain.save(clock.now().addDays(1).toString(Qt::ISODate), QStringLiteral("voxle_auth_expires_at_utc"));
        const QByteArray user =
            R"({"id":"u1","phone":")" + phone.toUtf8() + R"(","isAdmin":false,"createdAtUtc":"2026-01-01T00:00:00Z"})";
        defaults.setData(QStringLiteral("voxle_auth_user_json"), user);
        account->restoreAuthState();
    }

    QTemporaryDir historyDir;
    ManualClock clock;
    FakeUserDefaults defaults;
    FakeSecretStore secrets;
    KeychainStore keychain{secrets};
    FakeAudioCapture audio;
    FakeSessionFactory sessions;
    FakeTextInjector injector;
    FakeDictationCloud cloud;
    FakeMicrophone mic;
    FakeSettingsOpener settingsOpener;
    FakePasteboard pasteboard;
    QNetworkAccessManager network;
    bool inputMonitoring = false;
    bool accessibility = false;
    int inputMonitoringRequests = 0;
    int accessibilityRequests = 0;
    std::unique_ptr<VoxleHistoryStore> historyStore;
    std::unique_ptr<VoxleHistoryRecorder> history;
    std::unique_ptr<VoxleAccount> account;
    std::unique_ptr<VoxleAppState> state;
};
