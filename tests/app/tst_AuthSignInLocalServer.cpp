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

QJsonObject jsonBodyOf(const QJsonValue &request)
{
    return QJsonDocument::fromJson(request.toObject().value(QStringLiteral("body")).toString().toUtf8()).object();
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

    void captcha_solvedTokenIsAcceptedBySendCode()
    {
        auto f = fixture();
        auto result = startCaptcha(*f);
        SliderCaptchaView *view = f->ui.sliderWindow();
        QVERIFY(view);
        QCOMPARE(view->windowTitle(), QStringLiteral("安全验证"));
        QCOMPARE(view->size(), QSize(420, 360));
        solve(*f);
        QVERIFY(result->done);
        QVERIFY(result->token && !result->token->isEmpty());
        QVERIFY(spinUntil([&]() { return f->ui.sliderWindow() == nullptr; }));
        // The token is the backend's own: send-code accepts it once.
        QCOMPARE(QCoro::waitFor(f->account->sendCode(kPhone, result->token)), std::nullopt);
        QVERIFY(QCoro::waitFor(f->account->sendCode(kPhone, result->token)).has_value());
    }

    void captcha_wrongPositionFailsThenLoadsANewChallenge()
    {
        auto f = fixture();
        auto result = startCaptcha(*f);
        SliderCaptchaView *view = f->ui.sliderWindow();
        QVERIFY(waitForChallenge(view));
        const QString firstId = *view->challengeId();
        // Far from the slot on purpose.
        const bool right = view->targetPosition() < 50;
        dragTo(view, right ? 308 : 0);
        QVERIFY(spinUntil([view]() { return view->statusText() == QStringLiteral("验证失败，正在刷新…"); }));
        const QJsonArray verifies = m_server.requestsTo(QStringLiteral("/api/auth/slider-verify"));
        QCOMPARE(verifies.size(), 1);
        QCOMPARE(jsonBodyOf(verifies.first()).value(QStringLiteral("position")).toInt(), right ? 100 : 0);
        QCOMPARE(jsonBodyOf(verifies.first()).value(QStringLiteral("challengeId")).toString(), firstId);

        f->clock.advance(599);
        drainEvents();
        QCOMPARE(m_server.requestsTo(QStringLiteral("/api/auth/slider-challenge")).size(), 1);
        f->clock.advance(1);
        QVERIFY(waitForChallenge(view));
        QCOMPARE(m_server.requestsTo(QStringLiteral("/api/auth/slider-challenge")).size(), 2);
        QVERIFY(view->challengeId() != std::optional(firstId));
        QVERIFY(!result->done);
        view->cancelButton()->click();
        QVERIFY(spinUntil([&]() { return result->done; }));
        QCOMPARE(result->token, std::nullopt);
    }

    void runSliderCaptcha_secondCallRaisesAndCloseOrCancelReturnNothing()
    {
        auto f = fixture();
        auto first = startCaptcha(*f);
        SliderCaptchaView *view = f->ui.sliderWindow();
        QVERIFY(view);
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

        QTest::keyClicks(window->phoneField(), QStringLiteral("139-0013-9000"));
        QCOMPARE(window->phone(), kPhone);
        // Closing the captcha returns to the form: send enabled again, no message.
        window->sendButton()->click();
        QVERIFY(f->ui.sliderWindow());
        QVERIFY(window->isSendingCode());
        f->ui.sliderWindow()->close();
        QVERIFY(spinUntil([window]() { return !window->isSendingCode(); }));
        QVERIFY(window->sendButton()->isEnabled());
        QCOMPARE(window->errorText(), std::nullopt);
        QCOMPARE(m_server.requestsTo(QStringLiteral("/api/auth/send-code")).size(), 0);

        window->sendButton()->click();
        QVERIFY(f->ui.sliderWindow());
        solve(*f);
        QVERIFY(spinUntil([window]() { return window->resendSecondsLeft() == 60; }));
        QCOMPARE(window->sendButton()->text(), QStringLiteral("60s"));
        QCOMPARE(window->errorText(), std::nullopt);
        QCOMPARE(m_server.requestsTo(QStringLiteral("/api/auth/send-code")).size(), 1);
        f->clock.advance(5000);
        QCOMPARE(window->sendButton()->text(), QStringLiteral("55s"));

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
