#include "app/auth/AuthWindow.h"
#include "app/tst_AuthSupport.h"
#include "platform/fake/ManualClock.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The sign-in form: filtering, the guarded send with its countdown in virtual time, login and messages. The
// account operations are stand-ins whose answers the test releases.
class TestAuthWindow : public QObject
{
    Q_OBJECT
private:
    struct Rig {
        ManualClock clock;
        QList<OneShot<std::optional<QString>>> captchas;
        QList<OneShot<std::optional<QString>>> sends;
        QList<OneShot<std::optional<QString>>> logins;
        QList<std::pair<QString, std::optional<QString>>> sendCalls;
        QList<std::pair<QString, QString>> loginCalls;
        std::unique_ptr<AuthWindow> window;
        // Ends the calls a test left unanswered, so that no coroutine outlives the test.
        CancelToken unanswered;

        ~Rig()
        {
            window.reset();
            unanswered.cancel();
            drainEvents();
        }
        Rig()
        {
            AuthWindow::Actions actions;
            actions.runSliderCaptcha = [this]() {
                captchas << OneShot<std::optional<QString>>();
                return awaitTestMessage(captchas.last(), unanswered);
            };
            actions.sendCode = [this](QString phone, std::optional<QString> token) {
                sendCalls << std::make_pair(phone, token);
                sends << OneShot<std::optional<QString>>();
                return awaitTestMessage(sends.last(), unanswered);
            };
            actions.phoneLogin = [this](QString phone, QString code) {
                loginCalls << std::make_pair(phone, code);
                logins << OneShot<std::optional<QString>>();
                return awaitTestMessage(logins.last(), unanswered);
            };
            window = std::make_unique<AuthWindow>(actions, clock);
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
        static void answer(QList<OneShot<std::optional<QString>>> &calls, std::optional<QString> value)
        {
            calls.last().resolve(std::move(value));
            drainEvents();
        }
        QString sendLabel() const { return window->sendButton()->text(); }
        bool sendEnabled() const { return window->sendButton()->isEnabled(); }
        // Sends with a solved captcha and a successful send-code: the countdown starts.
        void sendSuccessfully(const QString &phone)
        {
            window->phoneField()->setText(phone);
            window->sendButton()->click();
            answer(captchas, QStringLiteral("slider-token"));
            answer(sends, std::nullopt);
        }
    };

private slots:
    void input_keepsOnlyDigitsUpToTheLimit_data()
    {
        QTest::addColumn<bool>("phone");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("phone with dashes and spaces")
            << true << QStringLiteral("138-0013 8000") << QStringLiteral("13800138000");
        QTest::newRow("phone with letters, too long")
            << true << QStringLiteral("+86 138a0013b80001234") << QStringLiteral("86138001380");
        QTest::newRow("phone full-width digits")
            << true << QStringLiteral("１３８００１３８０００") << QStringLiteral("13800138000");
        QTest::newRow("phone nothing numeric") << true << QStringLiteral("abc-") << QString();
        QTest::newRow("code with spaces") << false << QStringLiteral(" 12 34 56 ") << QStringLiteral("123456");
        QTest::newRow("code too long") << false << QStringLiteral("1234567890") << QStringLiteral("12345678");
    }
    void input_keepsOnlyDigitsUpToTheLimit()
    {
        QFETCH(bool, phone);
        QFETCH(QString, typed);
        QFETCH(QString, kept);
        Rig rig;
        QLineEdit *field = phone ? rig.window->phoneField() : rig.window->codeField();
        // Pasted at once and typed key by key give the same result.
        field->setText(typed);
        QCOMPARE(field->text(), kept);
        bool latin1 = true;
        for (const QChar c : typed)
            latin1 = latin1 && c.unicode() < 0x80;
        if (latin1) { // the key simulator types Latin-1 only
            field->clear();
            field->setFocus();
            QTest::keyClicks(field, typed);
            QCOMPARE(field->text(), kept);
        }
        QCOMPARE(phone ? rig.window->phone() : rig.window->code(), kept);
    }

    void send_tenDigitsAsksForElevenWithoutCaptcha()
    {
        Rig rig;
        QTRY_VERIFY(rig.window->phoneField()->hasFocus()); // the form opens ready for the number
        QTest::keyClicks(rig.window->phoneField(), QStringLiteral("1380013800"));
        rig.window->sendButton()->click();
        QVERIFY(rig.window->errorLabel()->isVisible());
        QCOMPARE(rig.window->errorLabel()->text(), QStringLiteral("请输入 11 位手机号"));
        QVERIFY(rig.captchas.isEmpty());
        QVERIFY(rig.sendEnabled());
    }

    // A closed captcha or a refused send returns to the form without a countdown; only the refusal shows a message,
    // which the next attempt clears.
    void send_unfinishedReturnsToTheForm_data()
    {
        QTest::addColumn<bool>("captchaSolved");
        QTest::addColumn<std::optional<QString>>("message");
        QTest::newRow("captcha closed") << false << std::optional<QString>();
        QTest::newRow("send refused") << true << std::optional(QStringLiteral("请先完成滑块验证"));
    }
    void send_unfinishedReturnsToTheForm()
    {
        QFETCH(bool, captchaSolved);
        QFETCH(std::optional<QString>, message);
        Rig rig;
        rig.window->phoneField()->setText(QStringLiteral("13800138000"));
        rig.window->sendButton()->click();
        QCOMPARE(rig.sendLabel(), QStringLiteral("发送中…"));
        QVERIFY(!rig.sendEnabled());
        Rig::answer(rig.captchas, captchaSolved ? std::optional(QStringLiteral("slider-token")) : std::nullopt);
        if (captchaSolved)
            Rig::answer(rig.sends, message);
        QCOMPARE(rig.sendCalls.size(), captchaSolved ? 1 : 0);
        QCOMPARE(rig.sendLabel(), QStringLiteral("发送验证码"));
        QVERIFY(rig.sendEnabled());
        QCOMPARE(rig.window->errorText(), message);
        QCOMPARE(rig.window->errorLabel()->isVisible(), message.has_value());
        QCOMPARE(rig.clock.pendingTimers(), 0);
        rig.window->sendButton()->click();
        QCOMPARE(rig.window->errorText(), std::nullopt);
    }

    void send_successCountsDownSixtySecondsOnTheClock()
    {
        Rig rig;
        rig.sendSuccessfully(QStringLiteral("13800138000"));
        QCOMPARE(rig.sendCalls, (QList<std::pair<QString, std::optional<QString>>>{
                                    {QStringLiteral("13800138000"), QStringLiteral("slider-token")}}));
        QCOMPARE(rig.sendLabel(), QStringLiteral("60s"));
        QVERIFY(!rig.sendEnabled());
        QVERIFY(rig.window->codeField()->hasFocus());

        rig.clock.advance(999);
        QCOMPARE(rig.sendLabel(), QStringLiteral("60s"));
        rig.clock.advance(1);
        QCOMPARE(rig.sendLabel(), QStringLiteral("59s"));
        // Pressing send during the countdown does nothing.
        rig.window->sendCodeAction();
        QCOMPARE(rig.captchas.size(), 1);
        rig.clock.advance(58000);
        QCOMPARE(rig.sendLabel(), QStringLiteral("1s"));
        QVERIFY(!rig.sendEnabled());
        rig.clock.advance(1000);
        QCOMPARE(rig.sendLabel(), QStringLiteral("发送验证码"));
        QVERIFY(rig.sendEnabled());
        QCOMPARE(rig.clock.pendingTimers(), 0);

        // And the next send may start again; its countdown ends with the window.
        rig.sendSuccessfully(QStringLiteral("13800138000"));
        QCOMPARE(rig.captchas.size(), 2);
        rig.clock.advance(3000);
        rig.window.reset();
        drainEvents();
        QCOMPARE(rig.clock.pendingTimers(), 0);
    }

    void login_requiresBothFieldsThenShowsTheFlowsMessage()
    {
        Rig rig;
        for (const QString &phone : {QString(), QStringLiteral("13800138000")}) {
            rig.window->phoneField()->setText(phone);
            rig.window->loginButton()->click();
            QCOMPARE(rig.window->errorText(), std::optional(QStringLiteral("请输入手机号和验证码")));
        }
        QVERIFY(rig.loginCalls.isEmpty());

        rig.window->codeField()->setText(QStringLiteral("246810"));
        rig.window->loginButton()->click();
        QCOMPARE(rig.loginCalls,
                 (QList<std::pair<QString, QString>>{{QStringLiteral("13800138000"), QStringLiteral("246810")}}));
        QCOMPARE(rig.window->errorText(), std::nullopt);
        QVERIFY(!rig.window->loginButton()->isEnabled());
        // A second press while the first is in flight sends nothing more.
        rig.window->loginAction();
        QCOMPARE(rig.loginCalls.size(), 1);

        Rig::answer(rig.logins, QStringLiteral("验证码错误"));
        QVERIFY(rig.window->loginButton()->isEnabled());
        QCOMPARE(rig.window->errorText(), std::optional(QStringLiteral("验证码错误")));
        QCOMPARE(rig.window->code(), QStringLiteral("246810"));

        rig.window->loginButton()->click();
        Rig::answer(rig.logins, std::nullopt);
        QCOMPARE(rig.window->errorText(), std::nullopt);
        QVERIFY(!rig.window->errorLabel()->isVisible());
    }
};

QTEST_MAIN(TestAuthWindow)
#include "tst_AuthWindow.moc"
