#include "app/AuthWindow.h"
#include "app/SliderCaptchaTrack.h"
#include "app/SliderCaptchaView.h"
#include "app/VoxleAuthUi.h"
#include "app/tst_AuthSupport.h"
#include "core/KeychainStore.h"
#include "net/AwaitResult.h"
#include "net/LocalServerProcess.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QString kPhone = QStringLiteral("13900139000");
const QString kSmsCode = QStringLiteral("135790");

struct CaptchaResult {
    bool done = false;
    std::optional<QString> token;
};

QCoro::Task<> collect(QCoro::Task<std::optional<QString>> task, std::shared_ptr<CaptchaResult> result)
{
    result->token = co_await task;
    result->done = true;
}

} // namespace

// The sign-in window and the captcha window against the real stand-in backend over loopback HTTP.
class TestAuthSignInLocalServer : public QObject
{
    Q_OBJECT
private:
    LocalServerProcess m_server;
    QNetworkAccessManager m_nam;

    struct Fixture {
        FakeSecretStore secrets;
        KeychainStore keychain{secrets};
        FakeUserDefaults defaults;
        ManualClock clock;
        // Declared before the windows' owner so that the windows (and their requests) go first.
        std::unique_ptr<VoxleAccount> account;
        VoxleAuthUi ui{clock};
    };

    std::unique_ptr<Fixture> fixture()
    {
        auto f = std::make_unique<Fixture>();
        Fixture *raw = f.get();
        VoxleAccount::Hooks hooks;
        hooks.saveDashScopeApiKey = [raw](const QString &key) {
            raw->keychain.save(key.trimmed(), QStringLiteral("dashscope_api_key"));
        };
        hooks.useProxy = []() { return false; };
        const QUrl origin = m_server.origin();
        VoxleAccount::Endpoints endpoints{
            origin, QUrl(origin.toString() + QStringLiteral("/compatible-mode/v1/chat/completions"))};
        f->account =
            std::make_unique<VoxleAccount>(f->defaults, f->keychain, f->clock, m_nam, hooks, &f->ui, endpoints);
        f->ui.setAccount(f->account.get());
        return f;
    }

    std::shared_ptr<CaptchaResult> startCaptcha(Fixture &f)
    {
        auto result = std::make_shared<CaptchaResult>();
        collect(f.ui.runSliderCaptcha(), result);
        return result;
    }

    static bool waitForChallenge(SliderCaptchaView *view)
    {
        // Loaded, or failed with a message.
        return spinUntil([view]() {
            return view->challengeId().has_value() ||
                   (!view->statusText().isEmpty() && view->statusText() != QStringLiteral("加载验证挑战…"));
        });
    }

    static void dragTo(SliderCaptchaView *view, double handleLeft)
    {
        SliderCaptchaTrack *track = view->track();
        const QPoint start = track->handleRect().center().toPoint();
        QTest::mousePress(track, Qt::LeftButton, {}, start);
        QTest::mouseRelease(track, Qt::LeftButton, {}, start + QPoint(qRound(handleLeft), 0));
    }

    // Loads challenges until one lies on the track, then drags the piece onto the slot.
    static void solve(Fixture &f)
    {
        SliderCaptchaView *view = f.ui.sliderWindow();
        QVERIFY(view);
        for (int attempt = 0;; ++attempt) {
            QVERIFY(waitForChallenge(view));
            QVERIFY2(view->challengeId(), qPrintable(view->statusText()));
            if (view->targetPosition() <= 100)
                break;
            QVERIFY2(attempt < 80, "no challenge within the track's range");
            view->refreshButton()->click();
        }
        dragTo(view, view->targetPosition() / 100.0 * 308);
        QVERIFY(spinUntil([view]() { return view->statusText() == QStringLiteral("✓ 验证通过"); }));
        f.clock.advance(SliderCaptchaView::solvedDelayMs);
        drainEvents();
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start({QStringLiteral("--sms-code"), kSmsCode})); }
    void init() { QVERIFY(m_server.script({})); }
    // Lets the coroutines woken by closed windows finish before the next test.
    void cleanup() { drainEvents(); }

    void runSliderCaptcha_secondCallRaisesAndCloseOrCancelReturnNothing()
    {
        auto f = fixture();
        auto first = startCaptcha(*f);
        SliderCaptchaView *view = f->ui.sliderWindow();
        QVERIFY(view);
        QCOMPARE(view->windowTitle(), QStringLiteral("安全验证"));
        QCOMPARE(view->size(), QSize(420, 360));
        auto second = startCaptcha(*f);
        // The second call returns nothing at once; the first keeps waiting on the same window.
        QVERIFY(second->done);
        QCOMPARE(second->token, std::nullopt);
        QCOMPARE(f->ui.sliderWindow(), view);
        QVERIFY(!first->done);
        QVERIFY(view->isVisible());

        // Closing the window by its close button resumes the first call without a token.
        view->close();
        QVERIFY(spinUntil([&]() { return first->done; }));
        QCOMPARE(first->token, std::nullopt);
        QCOMPARE(f->ui.sliderWindow(), nullptr);

        // A new call opens a new window; its cancel button ends it the same way.
        auto third = startCaptcha(*f);
        QVERIFY(f->ui.sliderWindow());
        f->ui.sliderWindow()->cancelButton()->click();
        QVERIFY(spinUntil([&]() { return third->done; }));
        QCOMPARE(third->token, std::nullopt);
        QVERIFY(spinUntil([&]() { return f->ui.sliderWindow() == nullptr; }));
    }

    void signIn_throughBothWindowsEndsSignedInWithTheWindowClosed()
    {
        auto f = fixture();
        f->ui.presentAuthWindow();
        AuthWindow *window = f->ui.authWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), QStringLiteral("登录 / 注册"));
        QCOMPARE(window->size(), QSize(600, 520));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        f->ui.presentAuthWindow();
        QCOMPARE(f->ui.authWindow(), window);

        window->phoneField()->setText(kPhone);
        // The captcha's token is the backend's own: send-code accepts it and the countdown starts.
        window->sendButton()->click();
        QVERIFY(f->ui.sliderWindow());
        solve(*f);
        QVERIFY(spinUntil([window]() { return window->resendSecondsLeft() == 60; }));
        QCOMPARE(window->errorText(), std::nullopt);
        QCOMPARE(m_server.requestsTo(QStringLiteral("/api/auth/send-code")).size(), 1);

        window->codeField()->setText(QStringLiteral("000000"));
        window->loginButton()->click();
        QVERIFY(spinUntil([window]() { return !window->isLoggingIn(); }));
        QVERIFY(window->errorText().has_value());
        QVERIFY(!f->account->isLoggedIn());

        window->codeField()->setText(kSmsCode);
        window->loginButton()->click();
        QVERIFY(spinUntil([&]() { return f->account->isLoggedIn(); }));
        QVERIFY(spinUntil([&]() { return f->ui.authWindow() == nullptr; }));
        // Sign-in ends with the credentials fetch; let it finish before the account goes.
        QVERIFY(spinUntil([&]() { return f->account->aiCredentials().has_value(); }));
    }
};

QTEST_MAIN(TestAuthSignInLocalServer)
#include "tst_AuthSignInLocalServer.moc"
