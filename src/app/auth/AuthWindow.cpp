#include "app/auth/AuthWindow.h"

#include "app/auth/AuthButtonStyles.h"
#include "base/Async.h"
#include "core/VoxleAccount.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

AuthWindow::Actions AuthWindow::Actions::fromAccount(VoxleAccount &account)
{
    Actions actions;
    actions.runSliderCaptcha = [&account]() { return account.runSliderCaptcha(); };
    actions.sendCode = [&account](QString phone, std::optional<QString> sliderToken) {
        return account.sendCode(std::move(phone), std::move(sliderToken));
    };
    actions.phoneLogin = [&account](QString phone, QString code) {
        return account.phoneLogin(std::move(phone), std::move(code));
    };
    return actions;
}

AuthWindow::AuthWindow(Actions actions, Clock &clock, QWidget *parent)
    : QWidget(parent), m_actions(std::move(actions)), m_clock(clock)
{
    setupLayout();
    setupConnections();
    refreshButtons();
    m_phoneField->setFocus();
}

void AuthWindow::setupLayout()
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(90, 48, 90, 36);
    column->setSpacing(10);

    auto *header = new QLabel(QStringLiteral("言川 Voxle"), this);
    QFont headerFont = header->font();
    headerFont.setPointSize(24);
    headerFont.setBold(true);
    header->setFont(headerFont);
    header->setAlignment(Qt::AlignHCenter);

    auto *phoneLabel = new QLabel(QStringLiteral("手机号"), this);
    m_phoneField = new QLineEdit(this);
    m_phoneField->setPlaceholderText(QStringLiteral("11 位手机号"));
    m_phoneField->setMinimumHeight(34);
    m_phoneField->setInputMethodHints(Qt::ImhDigitsOnly);

    auto *codeLabel = new QLabel(QStringLiteral("验证码"), this);
    m_codeField = new QLineEdit(this);
    m_codeField->setPlaceholderText(QStringLiteral("输入短信验证码"));
    m_codeField->setMinimumHeight(34);
    m_codeField->setInputMethodHints(Qt::ImhDigitsOnly);
    m_sendButton = new QPushButton(this);
    applyVoxleSendCodeButtonStyle(m_sendButton);
    auto *codeRow = new QHBoxLayout;
    codeRow->setSpacing(8);
    codeRow->addWidget(m_codeField, 1);
    codeRow->addWidget(m_sendButton);

    m_loginButton = new QPushButton(QStringLiteral("登录"), this);
    applyVoxleAuthPrimaryButtonStyle(m_loginButton);

    auto *note = new QLabel(QStringLiteral("登录后自动注册；发送验证码前需要完成滑块验证。"), this);
    note->setWordWrap(true);
    applyAuthSecondaryText(note);
    m_errorLabel = new QLabel(this);
    m_errorLabel->setTextFormat(Qt::PlainText); // server messages are never markup
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setStyleSheet(QStringLiteral("color: #FF6B5E; font-size: 12px;"));
    m_errorLabel->hide();

    column->addWidget(header);
    column->addSpacing(18);
    column->addWidget(phoneLabel);
    column->addWidget(m_phoneField);
    column->addSpacing(6);
    column->addWidget(codeLabel);
    column->addLayout(codeRow);
    column->addSpacing(12);
    column->addWidget(m_loginButton);
    column->addWidget(note);
    column->addWidget(m_errorLabel);
    column->addStretch();
}

void AuthWindow::setupConnections()
{
    connect(m_phoneField, &QLineEdit::textChanged, this, [this]() { filterField(m_phoneField, phoneMaxDigits); });
    connect(m_codeField, &QLineEdit::textChanged, this, [this]() { filterField(m_codeField, codeMaxDigits); });
    connect(m_sendButton, &QPushButton::clicked, this, &AuthWindow::sendCodeAction);
    connect(m_loginButton, &QPushButton::clicked, this, &AuthWindow::loginAction);
    connect(m_codeField, &QLineEdit::returnPressed, this, &AuthWindow::loginAction);
}

AuthWindow::~AuthWindow()
{
    // The countdown runs only while the view exists.
    m_countdown.cancel();
}

QString AuthWindow::phone() const
{
    return m_phoneField->text();
}

QString AuthWindow::code() const
{
    return m_codeField->text();
}

QString AuthWindow::digitsOnly(const QString &text, int maxDigits)
{
    QString digits;
    for (const QChar c : text) {
        if (digits.size() >= maxDigits)
            break;
        // Full-width and other decimal digits count as the digit they stand for; the backend reads ASCII.
        if (c.category() == QChar::Number_DecimalDigit)
            digits.append(QChar(u'0' + c.digitValue()));
    }
    return digits;
}

void AuthWindow::filterField(QLineEdit *field, int maxDigits)
{
    const QString text = field->text();
    const QString filtered = digitsOnly(text, maxDigits);
    if (filtered == text)
        return;
    // Keep the cursor after the same digits it followed.
    const int cursorDigits = digitsOnly(text.left(field->cursorPosition()), maxDigits).size();
    field->setText(filtered);
    field->setCursorPosition(cursorDigits);
}

void AuthWindow::sendCodeAction()
{
    if (m_isSendingCode || m_resendSecondsLeft >= 1)
        return;
    const QString trimmed = phone().trimmed();
    if (trimmed.size() != phoneMaxDigits) {
        setErrorText(QStringLiteral("请输入 11 位手机号"));
        return;
    }
    setSendingCode(true);
    setErrorText(std::nullopt);
    runSend(trimmed);
}

QCoro::Task<> AuthWindow::runSend(QString phone)
{
    QPointer<AuthWindow> self(this);
    const std::optional<QString> sliderToken = co_await m_actions.runSliderCaptcha();
    if (!self)
        co_return;
    if (!sliderToken) {
        // Cancelled or closed: back to the form without a message.
        setSendingCode(false);
        co_return;
    }
    const std::optional<QString> message = co_await m_actions.sendCode(phone, sliderToken);
    if (!self)
        co_return;
    if (message) {
        setErrorText(message);
        setSendingCode(false);
        co_return;
    }
    setResendSecondsLeft(resendSeconds);
    m_codeField->setFocus();
    setSendingCode(false);
    m_countdown.cancel();
    m_countdown = CancelToken();
    runCountdown(m_countdown);
}

QCoro::Task<> AuthWindow::runCountdown(CancelToken token)
{
    Clock &clock = m_clock;
    QPointer<AuthWindow> self(this);
    while (true) {
        if (!co_await sleepFor(clock, 1000, token) || !self)
            co_return;
        setResendSecondsLeft(m_resendSecondsLeft - 1);
        if (m_resendSecondsLeft <= 0)
            co_return;
    }
}

void AuthWindow::loginAction()
{
    if (m_isLoggingIn)
        return;
    const QString trimmedPhone = phone().trimmed();
    const QString trimmedCode = code().trimmed();
    if (trimmedPhone.isEmpty() || trimmedCode.isEmpty()) {
        setErrorText(QStringLiteral("请输入手机号和验证码"));
        return;
    }
    setLoggingIn(true);
    setErrorText(std::nullopt);
    runLogin(phone(), code());
}

QCoro::Task<> AuthWindow::runLogin(QString phone, QString code)
{
    QPointer<AuthWindow> self(this);
    const std::optional<QString> message = co_await m_actions.phoneLogin(phone, code);
    if (!self)
        co_return;
    setErrorText(message);
    setLoggingIn(false);
}

void AuthWindow::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void AuthWindow::setErrorText(std::optional<QString> text)
{
    m_errorText = std::move(text);
    m_errorLabel->setText(m_errorText.value_or(QString()));
    m_errorLabel->setVisible(m_errorText.has_value());
    emit stateChanged();
}

void AuthWindow::setSendingCode(bool sending)
{
    m_isSendingCode = sending;
    refreshButtons();
}

void AuthWindow::setResendSecondsLeft(int seconds)
{
    m_resendSecondsLeft = std::max(0, seconds);
    refreshButtons();
}

void AuthWindow::setLoggingIn(bool loggingIn)
{
    m_isLoggingIn = loggingIn;
    refreshButtons();
}

void AuthWindow::refreshButtons()
{
    if (m_resendSecondsLeft >= 1)
        m_sendButton->setText(QStringLiteral("%1s").arg(m_resendSecondsLeft));
    else if (m_isSendingCode)
        m_sendButton->setText(QStringLiteral("发送中…"));
    else
        m_sendButton->setText(QStringLiteral("发送验证码"));
    m_sendButton->setEnabled(!m_isSendingCode && m_resendSecondsLeft < 1);
    m_loginButton->setEnabled(!m_isLoggingIn);
    emit stateChanged();
}
