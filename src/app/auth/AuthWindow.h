#pragma once

#include "base/CancelToken.h"

#include <QCoro/QCoroTask>
#include <QWidget>
#include <functional>
#include <optional>

class Clock;
class QLabel;
class QLineEdit;
class QPushButton;
class VoxleAccount;

// The sign-in window's content ("登录 / 注册"): phone number and SMS code, the send button guarded by the
// slider captcha with its 60 s resend countdown, and the login button. Messages of the account flow are
// shown under the form; the form keeps what was typed.
class AuthWindow : public QWidget
{
    Q_OBJECT
public:
    // The account operations the form drives; `fromAccount` binds them to the application's account.
    struct Actions {
        std::function<QCoro::Task<std::optional<QString>>()> runSliderCaptcha;
        std::function<QCoro::Task<std::optional<QString>>(QString, std::optional<QString>)> sendCode;
        std::function<QCoro::Task<std::optional<QString>>(QString, QString)> phoneLogin;
        static Actions fromAccount(VoxleAccount &account);
    };

    static constexpr int phoneMaxDigits = 11;
    static constexpr int codeMaxDigits = 8;
    static constexpr int resendSeconds = 60;

    AuthWindow(Actions actions, Clock &clock, QWidget *parent = nullptr);
    ~AuthWindow() override;

    QString phone() const;
    QString code() const;
    int resendSecondsLeft() const { return m_resendSecondsLeft; }
    const std::optional<QString> &errorText() const { return m_errorText; }

    QLineEdit *phoneField() const { return m_phoneField; }
    QLineEdit *codeField() const { return m_codeField; }
    QPushButton *sendButton() const { return m_sendButton; }
    QPushButton *loginButton() const { return m_loginButton; }
    QLabel *errorLabel() const { return m_errorLabel; }

    // Decimal digits only (any script's digits become ASCII ones), at most the first `maxDigits`.
    static QString digitsOnly(const QString &text, int maxDigits);

    void sendCodeAction();
    void loginAction();

signals:
    void closed();
    void stateChanged();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setupLayout();
    void setupConnections();
    QCoro::Task<> runSend(QString phone);
    QCoro::Task<> runLogin(QString phone, QString code);
    QCoro::Task<> runCountdown(CancelToken token);
    void filterField(QLineEdit *field, int maxDigits);
    void setErrorText(std::optional<QString> text);
    void setSendingCode(bool sending);
    void setResendSecondsLeft(int seconds);
    void setLoggingIn(bool loggingIn);
    void refreshButtons();

    Actions m_actions;
    Clock &m_clock;
    CancelToken m_countdown;

    bool m_isSendingCode = false;
    int m_resendSecondsLeft = 0;
    bool m_isLoggingIn = false;
    std::optional<QString> m_errorText;

    QLineEdit *m_phoneField;
    QLineEdit *m_codeField;
    QPushButton *m_sendButton;
    QPushButton *m_loginButton;
    QLabel *m_errorLabel;
};
