#include "app/auth/AuthWindow.h"
#include "app/auth/SliderCaptchaArtView.h"
#include "app/auth/SliderCaptchaPicture.h"
#include "app/auth/SliderCaptchaTrack.h"
#include "app/auth/SliderCaptchaView.h"
#include "app/auth/VoxleAuthUi.h"
#include "base/Async.h"
#include "core/KeychainStore.h"
#include "core/VoxleAccount.h"
#include "platform/fake/FakeSecretStore.h"
#include "platform/fake/FakeUserDefaults.h"
#include "platform/fake/ManualClock.h"
#include "support/Settle.h"

#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
using ChallengeOutcome = VoxleAccount::Outcome<VoxleSliderChallengeResponse>;
using VerifyOutcome = VoxleAccount::Outcome<QString>;
using Message = std::optional<QString>;

// Backend answers a test hands out one by one: every call adds its own OneShot to `calls` and waits on it until
// the test resolves it.
template <typename T> QCoro::Task<T> nextReply(QList<OneShot<T>> &calls, CancelToken cancel)
{
    calls << OneShot<T>();
    const OneShot<T> reply = calls.last(); // `calls` may grow while this one waits
    const std::optional<T> value = co_await reply.wait(cancel);
    co_return value ? *value : T{};
}
template <typename T> void answer(QList<OneShot<T>> &calls, T value)
{
    calls.last().resolve(std::move(value));
    settle();
}

ChallengeOutcome challenge(const QString &id, qint64 target)
{
    return {VoxleSliderChallengeResponse{id, target}, {}};
}

// The share of pixels that differ from the stored reference by more than 16 of 255 in any channel;
// VOXLE_UPDATE_REFERENCES=1 rewrites the reference after a deliberate change.
double differsFromReference(const QImage &shot, const QString &name)
{
    const QImage image = shot.convertToFormat(QImage::Format_RGB32);
    const QString path = QStringLiteral(VOXLE_REFERENCE_DIR "/") + name + QStringLiteral(".png");
    if (qEnvironmentVariableIntValue("VOXLE_UPDATE_REFERENCES"))
        return image.save(path) ? 0.0 : 1.0;
    const QImage reference = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (image.size() != reference.size())
        return 1.0;
    const auto far = [](int a, int b) { return std::abs(a - b) > 16; };
    qint64 differing = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const QRgb q = reference.pixel(x, y);
            differing += far(qRed(p), qRed(q)) || far(qGreen(p), qGreen(q)) || far(qBlue(p), qBlue(q));
        }
    }
    return double(differing) / (double(image.width()) * image.height());
}
} // namespace

// The account flow's windows: the sign-in form and the slider captcha with account operations whose answers the
// test releases, on a manual clock; and the windows' owner, one captcha at a time. Signing in through both windows
// against the stand-in service is driven end to end by the user-journey test.
class TestAuthWindow : public QObject
{
    Q_OBJECT
private:
    struct Rig {
        ManualClock clock;
        QList<OneShot<Message>> captchas;
        QList<OneShot<Message>> sends;
        QList<OneShot<Message>> logins;
        QList<std::pair<QString, Message>> sendCalls;
        QList<std::pair<QString, QString>> loginCalls;
        std::unique_ptr<AuthWindow> window;
        // Ends the calls a test left unanswered, so that no coroutine outlives the test.
        CancelToken unanswered;

        ~Rig()
        {
            window.reset();
            unanswered.cancel();
            settle();
        }
        Rig()
        {
            AuthWindow::Actions actions;
            actions.runSliderCaptcha = [this]() { return nextReply(captchas, unanswered); };
            actions.sendCode = [this](QString phone, Message token) {
                sendCalls << std::make_pair(phone, token);
                return nextReply(sends, unanswered);
            };
            actions.phoneLogin = [this](QString phone, QString code) {
                loginCalls << std::make_pair(phone, code);
                return nextReply(logins, unanswered);
            };
            window = std::make_unique<AuthWindow>(actions, clock);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
        QString sendLabel() const { return window->sendButton()->text(); }
        bool sendEnabled() const { return window->sendButton()->isEnabled(); }
        // Sends with a solved captcha and a successful send-code: the countdown starts.
        void sendSuccessfully(const QString &phone)
        {
            window->phoneField()->setText(phone);
            window->sendButton()->click();
            answer(captchas, Message(QStringLiteral("slider-token")));
            answer(sends, Message());
        }
    };

    struct CaptchaRig {
        ManualClock clock;
        QList<OneShot<ChallengeOutcome>> challenges;
        QList<OneShot<VerifyOutcome>> verifies;
        QList<std::pair<QString, qint64>> verified;
        std::unique_ptr<SliderCaptchaView> view;

        CaptchaRig()
        {
            SliderCaptchaView::Backend backend;
            backend.challenge = [this](CancelToken cancel) { return nextReply(challenges, std::move(cancel)); };
            backend.verify = [this](QString id, qint64 position, CancelToken cancel) {
                verified << std::make_pair(id, position);
                return nextReply(verifies, std::move(cancel));
            };
            view = std::make_unique<SliderCaptchaView>(backend, clock);
            view->show();
        }
        ~CaptchaRig()
        {
            // The view cancels what it still awaits; let those coroutines end.
            view.reset();
            settle();
        }
        // Presses the handle and lets go `dx` points further right; half way, the handle is `midway`.
        void drag(int dx, std::optional<double> midway = std::nullopt)
        {
            SliderCaptchaTrack *track = view->track();
            const QPoint start = track->handleRect().center().toPoint();
            QTest::mousePress(track, Qt::LeftButton, {}, start);
            QTest::mouseMove(track, start + QPoint(dx / 2, 3));
            if (midway)
                QCOMPARE(view->handleLeft(), *midway);
            QTest::mouseRelease(track, Qt::LeftButton, {}, start + QPoint(dx, 0));
            settle();
        }
    };

private slots:
    // The fields keep only digits, up to their limits; logging in needs both, then shows the flow's message.
    void form_digitsOnlyAndLoginNeedsBothFields()
    {
        Rig rig;
        QLineEdit *phone = rig.window->phoneField();
        QLineEdit *code = rig.window->codeField();
        const std::tuple<QLineEdit *, QString, QString> cases[] = {
            {phone, QStringLiteral("138-0013 8000"), QStringLiteral("13800138000")},
            {phone, QStringLiteral("+86 138a0013b80001234"), QStringLiteral("86138001380")},
            {phone, QStringLiteral("１３８００１３８０００"), QStringLiteral("13800138000")},
            {phone, QStringLiteral("abc-"), QString()},
            {code, QStringLiteral(" 12 34 56 "), QStringLiteral("123456")},
            {code, QStringLiteral("1234567890"), QStringLiteral("12345678")}};
        for (const auto &[field, typed, kept] : cases) {
            // Pasted at once and typed key by key (the key simulator types Latin-1 only) give the same result.
            field->setText(typed);
            QCOMPARE(field->text(), kept);
            QCOMPARE(field == phone ? rig.window->phone() : rig.window->code(), kept);
            if (std::all_of(typed.cbegin(), typed.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
                field->clear();
                field->setFocus();
                QTest::keyClicks(field, typed);
                QCOMPARE(field->text(), kept);
            }
        }

        code->clear();
        for (const QString &number : {QString(), QStringLiteral("13800138000")}) {
            phone->setText(number);
            rig.window->loginButton()->click();
            QCOMPARE(rig.window->errorText(), Message(QStringLiteral("请输入手机号和验证码")));
        }
        QVERIFY(rig.loginCalls.isEmpty());

        code->setText(QStringLiteral("246810"));
        rig.window->loginButton()->click();
        QCOMPARE(rig.loginCalls,
                 (QList<std::pair<QString, QString>>{{QStringLiteral("13800138000"), QStringLiteral("246810")}}));
        QCOMPARE(rig.window->errorText(), std::nullopt);
        QVERIFY(!rig.window->loginButton()->isEnabled());
        // A second press while the first is in flight sends nothing more.
        rig.window->loginAction();
        QCOMPARE(rig.loginCalls.size(), 1);

        answer(rig.logins, Message(QStringLiteral("验证码错误")));
        QVERIFY(rig.window->loginButton()->isEnabled());
        QCOMPARE(rig.window->errorText(), Message(QStringLiteral("验证码错误")));
        QCOMPARE(rig.window->code(), QStringLiteral("246810"));

        rig.window->loginButton()->click();
        answer(rig.logins, Message());
        QCOMPARE(rig.window->errorText(), std::nullopt);
        QVERIFY(!rig.window->errorLabel()->isVisible());
    }

    // Sending asks for eleven digits, then for the captcha. A closed captcha or a refused send returns to the form
    // without a countdown; only the refusal shows a message, which the next attempt clears. A sent code counts
    // down sixty seconds on the clock.
    void send_elevenDigitsThenCaptchaThenTheCountdown()
    {
        Rig rig;
        QTRY_VERIFY(rig.window->phoneField()->hasFocus()); // the form opens ready for the number
        QTest::keyClicks(rig.window->phoneField(), QStringLiteral("1380013800"));
        rig.window->sendButton()->click();
        QVERIFY(rig.window->errorLabel()->isVisible());
        QCOMPARE(rig.window->errorLabel()->text(), QStringLiteral("请输入 11 位手机号"));
        QVERIFY(rig.captchas.isEmpty());
        QVERIFY(rig.sendEnabled());

        QTest::keyClicks(rig.window->phoneField(), QStringLiteral("0"));
        // First the captcha is closed, then the send is refused.
        for (const Message &refusal : {Message(), Message(QStringLiteral("请先完成滑块验证"))}) {
            const bool solved = refusal.has_value();
            rig.window->sendButton()->click();
            QCOMPARE(rig.window->errorText(), std::nullopt);
            QCOMPARE(rig.sendLabel(), QStringLiteral("发送中…"));
            QVERIFY(!rig.sendEnabled());
            answer(rig.captchas, solved ? Message(QStringLiteral("slider-token")) : Message());
            if (solved)
                answer(rig.sends, refusal);
            QCOMPARE(rig.sendCalls.size(), solved ? 1 : 0);
            QCOMPARE(rig.sendLabel(), QStringLiteral("发送验证码"));
            QVERIFY(rig.sendEnabled());
            QCOMPARE(rig.window->errorText(), refusal);
            QCOMPARE(rig.window->errorLabel()->isVisible(), solved);
            QCOMPARE(rig.clock.pendingTimers(), 0);
        }

        rig.sendSuccessfully(QStringLiteral("13800138000"));
        QCOMPARE(rig.window->errorText(), std::nullopt);
        QCOMPARE(rig.sendCalls.last(),
                 std::make_pair(QStringLiteral("13800138000"), Message(QStringLiteral("slider-token"))));
        QCOMPARE(rig.sendLabel(), QStringLiteral("60s"));
        QVERIFY(!rig.sendEnabled());
        QVERIFY(rig.window->codeField()->hasFocus());
        rig.clock.advance(999);
        QCOMPARE(rig.sendLabel(), QStringLiteral("60s"));
        rig.clock.advance(1);
        QCOMPARE(rig.sendLabel(), QStringLiteral("59s"));
        // Pressing send during the countdown does nothing.
        rig.window->sendCodeAction();
        QCOMPARE(rig.captchas.size(), 3);
        rig.clock.advance(58000);
        QCOMPARE(rig.sendLabel(), QStringLiteral("1s"));
        QVERIFY(!rig.sendEnabled());
        rig.clock.advance(1000);
        QCOMPARE(rig.sendLabel(), QStringLiteral("发送验证码"));
        QVERIFY(rig.sendEnabled());
        QCOMPARE(rig.clock.pendingTimers(), 0);

        // And the next send may start again; its countdown ends with the window.
        rig.sendSuccessfully(QStringLiteral("13800138000"));
        QCOMPARE(rig.captchas.size(), 4);
        rig.clock.advance(3000);
        rig.window.reset();
        settle();
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    // The generator's draws for a seed are pinned by a stored picture; the widget paints what it renders.
    void captchaArt_sameSeedSamePictureAndTheWidgetDrawsIt()
    {
        const QSize size(388, 200);
        const QImage art = SliderCaptchaArtView::renderImage(20261206, size);
        QVERIFY(art != SliderCaptchaArtView::renderImage(2, size));
        QVERIFY(differsFromReference(art, QStringLiteral("captcha-art")) <= 0.001);
        SliderCaptchaArtView view;
        view.setSeed(20261206);
        view.resize(size);
        QImage grabbed(size, QImage::Format_ARGB32_Premultiplied);
        grabbed.fill(Qt::transparent);
        view.render(&grabbed, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(grabbed, art);
    }

    void captchaDrag_positionIsRoundedPercentWithEndsAtZeroAndHundred_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<double>("handleLeft");
        QTest::addColumn<qint64>("position");
        QTest::newRow("left end") << -40 << 0.0 << qint64(0);
        QTest::newRow("one point") << 1 << 1.0 << qint64(0);
        QTest::newRow("two points") << 2 << 2.0 << qint64(1);
        QTest::newRow("middle") << 154 << 154.0 << qint64(50);
        QTest::newRow("beyond") << 500 << 308.0 << qint64(100);
    }
    void captchaDrag_positionIsRoundedPercentWithEndsAtZeroAndHundred()
    {
        QFETCH(int, dx);
        QFETCH(double, handleLeft);
        QFETCH(qint64, position);
        CaptchaRig rig;
        answer(rig.challenges, challenge(QStringLiteral("c-1"), 50));
        // A move before the press is no drag.
        QTest::mouseMove(rig.view->track(), rig.view->track()->handleRect().center().toPoint() + QPoint(40, 0));
        QCOMPARE(rig.view->handleLeft(), 0.0);
        rig.drag(dx, std::clamp(dx / 2, 0, 308));
        QCOMPARE(rig.view->handleLeft(), handleLeft);
        QCOMPARE(rig.view->picture()->pieceRect().left(), handleLeft);
        QCOMPARE(rig.verified, (QList<std::pair<QString, qint64>>{{QStringLiteral("c-1"), position}}));
    }

    // A token is handed over after a short pause, unless a refresh drops it first; a refresh also drops a
    // challenge answer that arrives after a newer request.
    void captchaVerify_tokenIsHandedOverAfterTheShortPauseUnlessRefreshed()
    {
        CaptchaRig rig;
        QSignalSpy solved(rig.view.get(), &SliderCaptchaView::solved);
        answer(rig.challenges, challenge(QStringLiteral("c-1"), 50));
        rig.drag(154);
        QVERIFY(rig.view->isVerifying());
        QVERIFY(!rig.view->track()->isEnabled());
        // A second drag while verifying changes nothing.
        rig.drag(40);
        QCOMPARE(rig.verified.size(), 1);
        QCOMPARE(rig.view->handleLeft(), 154.0);
        answer(rig.verifies, VerifyOutcome{QStringLiteral("tok-late"), {}});
        rig.view->refreshButton()->click();
        rig.clock.advance(1000);
        settle();
        QCOMPARE(solved.size(), 0);
        QCOMPARE(rig.challenges.size(), 2);

        rig.view->refreshButton()->click();
        rig.challenges[1].resolve(challenge(QStringLiteral("stale"), 10));
        settle();
        QVERIFY(!rig.view->challengeId());
        answer(rig.challenges, challenge(QStringLiteral("fresh"), 20));
        QCOMPARE(rig.view->challengeId(), Message(QStringLiteral("fresh")));
        rig.drag(62);
        answer(rig.verifies, VerifyOutcome{QStringLiteral("tok-123"), {}});
        QCOMPARE(rig.view->statusText(), QStringLiteral("✓ 验证通过"));
        rig.clock.advance(279);
        QCOMPARE(solved.size(), 0);
        rig.clock.advance(1);
        QCOMPARE(solved.size(), 1);
        QCOMPARE(solved.first().first().toString(), QStringLiteral("tok-123"));
        rig.clock.advance(10000);
        QCOMPARE(solved.size(), 1);
        QCOMPARE(rig.challenges.size(), 3);
    }

    // A challenge that cannot be loaded asks for a refresh; a failed verification says so and loads a fresh
    // challenge after a pause.
    void captchaFailures_loadAsksForRefreshAndVerifyLoadsAFreshChallenge_data()
    {
        QTest::addColumn<bool>("emptyToken");
        QTest::newRow("empty token") << true;
        QTest::newRow("request failed") << false;
    }
    void captchaFailures_loadAsksForRefreshAndVerifyLoadsAFreshChallenge()
    {
        QFETCH(bool, emptyToken);
        CaptchaRig rig;
        QSignalSpy solved(rig.view.get(), &SliderCaptchaView::solved);
        QCOMPARE(rig.challenges.size(), 1);
        QCOMPARE(rig.view->statusText(), QStringLiteral("加载验证挑战…"));
        QVERIFY(!rig.view->track()->isEnabled());
        answer(rig.challenges, ChallengeOutcome{std::nullopt, QStringLiteral("连接失败：无响应")});
        QCOMPARE(rig.view->statusText(), QStringLiteral("无法获取验证挑战，请点击刷新重试。"));
        QVERIFY(!rig.view->track()->isEnabled());
        // A drag on the disabled track verifies nothing.
        rig.drag(100);
        QVERIFY(rig.verified.isEmpty());
        QCOMPARE(rig.view->handleLeft(), 0.0);
        const qint64 failedSeed = rig.view->backgroundSeed();
        rig.view->refreshButton()->click();
        QCOMPARE(rig.challenges.size(), 2);
        QVERIFY(rig.view->backgroundSeed() != failedSeed);
        QVERIFY(rig.view->backgroundSeed() >= 1);
        answer(rig.challenges, challenge(QStringLiteral("c-1"), 40));
        QCOMPARE(rig.view->statusText(), QString());
        QVERIFY(rig.view->track()->isEnabled());
        QCOMPARE(rig.view->picture()->slotRect().left(), 0.4 * 308);

        const qint64 firstSeed = rig.view->backgroundSeed();
        rig.drag(100);
        answer(rig.verifies, emptyToken ? VerifyOutcome{QString(), {}}
                                        : VerifyOutcome{std::nullopt, QStringLiteral("滑块验证失败，请重试")});
        QCOMPARE(rig.view->statusText(), QStringLiteral("验证失败，正在刷新…"));
        rig.clock.advance(599);
        QCOMPARE(rig.challenges.size(), 2);
        rig.clock.advance(1);
        QCOMPARE(rig.challenges.size(), 3);
        QCOMPARE(rig.view->statusText(), QStringLiteral("加载验证挑战…"));
        QCOMPARE(rig.view->handleLeft(), 0.0);
        QVERIFY(!rig.view->isVerifying());
        QVERIFY(rig.view->backgroundSeed() != firstSeed);
        answer(rig.challenges, challenge(QStringLiteral("c-2"), 70));
        rig.drag(216);
        QCOMPARE(rig.verified.last(), std::make_pair(QStringLiteral("c-2"), qint64(70)));
        QCOMPARE(solved.size(), 0);
    }

    // Through the account, as sending a code asks: one captcha window at a time, asking the account for its
    // challenge (nothing listens on port 1: it fails); closing or cancelling it ends the wait without a token.
    void authUi_oneCaptchaAtATimeAndCloseOrCancelReturnNothing()
    {
        FakeSecretStore secrets;
        KeychainStore keychain{secrets};
        FakeUserDefaults defaults;
        ManualClock clock;
        QNetworkAccessManager network;
        std::unique_ptr<VoxleAccount> account;
        VoxleAuthUi ui{clock}; // goes first, with its windows and their requests
        const QUrl nowhere(QStringLiteral("http://127.0.0.1:1"));
        account = std::make_unique<VoxleAccount>(
            defaults, keychain, clock, network, [] { return false; }, &ui, VoxleAccount::Endpoints{nowhere, nowhere});
        ui.setAccount(account.get());

        auto first = account->runSliderCaptcha();
        SliderCaptchaView *view = ui.sliderWindow();
        QVERIFY(view);
        QTRY_COMPARE(view->statusText(), QStringLiteral("无法获取验证挑战，请点击刷新重试。"));
        // A second call returns nothing at once; the first keeps waiting on the same window.
        auto second = account->runSliderCaptcha();
        QVERIFY(second.isReady());
        QCOMPARE(QCoro::waitFor(second), std::nullopt);
        QCOMPARE(ui.sliderWindow(), view);
        QVERIFY(!first.isReady());
        QVERIFY(view->isVisible());

        view->close();
        QTRY_VERIFY(first.isReady());
        QCOMPARE(QCoro::waitFor(first), std::nullopt);
        QCOMPARE(ui.sliderWindow(), nullptr);

        auto third = account->runSliderCaptcha();
        ui.sliderWindow()->cancelButton()->click();
        QTRY_VERIFY(third.isReady());
        QCOMPARE(QCoro::waitFor(third), std::nullopt);
        QTRY_COMPARE(ui.sliderWindow(), nullptr);
    }
};

QTEST_MAIN(TestAuthWindow)
#include "tst_AuthWindow.moc"
