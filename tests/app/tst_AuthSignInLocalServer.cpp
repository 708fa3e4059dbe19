#include "app/auth/AuthWindow.h"
#include "app/auth/SliderCaptchaView.h"
#include "app/auth/VoxleAuthUi.h"
#include "app/tst_AuthSupport.h"
#include "core/KeychainStore.h"
#include "net/AwaitResult.h"
#include "net/LocalServerProcess.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"

#include <QPushButton>
#include <QTest>

namespace {

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

// The captcha window against the real stand-in backend over loopback HTTP: one window at a time, and closing or
// cancelling it ends the wait without a token. (Signing in through both windows is driven end to end by the
// user-journey test.)
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
        const QUrl origin = m_server.origin();
        VoxleAccount::Endpoints endpoints{
            origin, QUrl(origin.toString() + QStringLiteral("/compatible-mode/v1/chat/completions"))};
        f->account = std::make_unique<VoxleAccount>(
            f->defaults, f->keychain, f->clock, m_nam, [] { return false; }, &f->ui, endpoints);
        f->ui.setAccount(f->account.get());
        return f;
    }

    std::shared_ptr<CaptchaResult> startCaptcha(Fixture &f)
    {
        auto result = std::make_shared<CaptchaResult>();
        collect(f.account->runSliderCaptcha(), result); // through the account, as sending a code asks
        return result;
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start({})); }
    void init() { QVERIFY(m_server.script({})); }
    // Lets the coroutines woken by closed windows finish before the next test.
    void cleanup() { drainEvents(); }

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
};

QTEST_MAIN(TestAuthSignInLocalServer)
#include "tst_AuthSignInLocalServer.moc"
