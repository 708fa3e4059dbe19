#include "app/auth/SliderCaptchaView.h"

#include "app/auth/AuthButtonStyles.h"
#include "app/auth/SliderCaptchaPicture.h"
#include "app/auth/SliderCaptchaTrack.h"
#include "base/Async.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {
constexpr double kTravel = SliderCaptchaView::trackWidth - SliderCaptchaView::handleWidth;
}

SliderCaptchaView::Backend SliderCaptchaView::Backend::fromAccount(VoxleAccount &account)
{
    Backend backend;
    backend.challenge = [&account](CancelToken cancel) { return account.sliderChallenge(std::move(cancel)); };
    backend.verify = [&account](QString challengeId, qint64 position, CancelToken cancel) {
        return account.sliderVerify(std::move(challengeId), position, std::move(cancel));
    };
    return backend;
}

SliderCaptchaView::SliderCaptchaView(Backend backend, Clock &clock, QWidget *parent)
    : QWidget(parent), m_backend(std::move(backend)), m_clock(clock), m_backgroundSeed(randomSeed())
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(30, 14, 30, 14);
    column->setSpacing(8);

    auto *title = new QLabel(QStringLiteral("安全验证"), this);
    QFont titleFont = title->font();
    titleFont.setPointSize(15);
    titleFont.setBold(true);
    title->setFont(titleFont);
    auto *hint = new QLabel(QStringLiteral("向右滑动完成验证"), this);
    applyAuthSecondaryText(hint);

    m_picture = new SliderCaptchaPicture(trackWidth, puzzleSize, kTravel, this);
    m_picture->setSeed(m_backgroundSeed);
    m_track = new SliderCaptchaTrack(trackWidth, handleWidth, this);
    connect(m_track, &SliderCaptchaTrack::dragChanged, this, &SliderCaptchaView::onDragChanged);
    connect(m_track, &SliderCaptchaTrack::dragEnded, this, &SliderCaptchaView::onDragEnded);

    m_statusLabel = new QLabel(m_statusText, this);
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setMinimumHeight(16);
    m_refreshButton = new QPushButton(QStringLiteral("刷新"), this);
    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    connect(m_refreshButton, &QPushButton::clicked, this, &SliderCaptchaView::loadChallenge);
    connect(m_cancelButton, &QPushButton::clicked, this, &SliderCaptchaView::cancelled);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_refreshButton);
    buttons->addWidget(m_cancelButton);

    column->addWidget(title);
    column->addWidget(hint);
    column->addWidget(m_picture);
    column->addWidget(m_track);
    column->addWidget(m_statusLabel);
    column->addLayout(buttons);
    column->addStretch();
    syncTrack();
}

SliderCaptchaView::~SliderCaptchaView()
{
    m_operation.cancel();
}

bool SliderCaptchaView::isTrackInteractive() const
{
    return m_challengeId.has_value() && !m_isVerifying;
}

qint64 SliderCaptchaView::positionForHandle(double handleLeft)
{
    return static_cast<qint64>(std::lround(handleLeft / kTravel * 100.0));
}

qint64 SliderCaptchaView::randomSeed()
{
    for (;;) {
        const qint64 seed =
            static_cast<qint64>(QRandomGenerator::global()->generate64() & quint64(std::numeric_limits<qint64>::max()));
        if (seed >= 1)
            return seed;
    }
}

void SliderCaptchaView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!m_loadedOnce) {
        m_loadedOnce = true;
        loadChallenge();
    }
}

void SliderCaptchaView::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void SliderCaptchaView::loadChallenge()
{
    m_loadedOnce = true;
    m_operation.cancel();
    m_operation = CancelToken();
    m_isVerifying = false;
    m_dragStartLeft = 0;
    setHandleLeft(0);
    m_backgroundSeed = randomSeed();
    m_picture->setSeed(m_backgroundSeed);
    setStatusText(QStringLiteral("加载验证挑战…"));
    // The old challenge is spent or stale; the track waits for the new one.
    m_challengeId.reset();
    syncTrack();
    emit stateChanged();
    runLoad(m_operation);
}

QCoro::Task<> SliderCaptchaView::runLoad(CancelToken token)
{
    QPointer<SliderCaptchaView> self(this);
    const VoxleAccount::Outcome<VoxleSliderChallengeResponse> outcome = co_await m_backend.challenge(token);
    if (!self || token.isCancelled())
        co_return;
    if (outcome.value) {
        m_challengeId = outcome.value->challengeId;
        m_targetPosition = static_cast<int>(outcome.value->targetPosition);
        // A position outside 0...100 would put the slot off the picture.
        m_picture->setTargetPosition(std::clamp(m_targetPosition, 0, 100));
        setStatusText(QString());
    } else {
        m_challengeId.reset();
        setStatusText(QStringLiteral("无法获取验证挑战，请点击刷新重试。"));
    }
    syncTrack();
    emit stateChanged();
}

void SliderCaptchaView::onDragChanged(QPointF translation)
{
    if (!isTrackInteractive())
        return;
    if (m_dragStartLeft == 0 && translation == QPointF(0, 0))
        m_dragStartLeft = m_handleLeft;
    setHandleLeft(std::max(0.0, std::min(m_dragStartLeft + translation.x(), kTravel)));
}

void SliderCaptchaView::onDragEnded()
{
    m_dragStartLeft = 0;
    runVerify(m_operation);
}

QCoro::Task<> SliderCaptchaView::runVerify(CancelToken token)
{
    if (!m_challengeId || m_isVerifying)
        co_return;
    m_isVerifying = true;
    syncTrack();
    emit stateChanged();
    const qint64 position = positionForHandle(m_handleLeft);
    const QString challengeId = *m_challengeId;
    Clock &clock = m_clock;
    QPointer<SliderCaptchaView> self(this);

    const VoxleAccount::Outcome<QString> outcome = co_await m_backend.verify(challengeId, position, token);
    if (!self || token.isCancelled())
        co_return;
    if (outcome.value && !outcome.value->isEmpty()) {
        const QString sliderToken = *outcome.value;
        setStatusText(QStringLiteral("✓ 验证通过"));
        if (!co_await sleepFor(clock, solvedDelayMs, token) || !self)
            co_return;
        emit solved(sliderToken);
        co_return;
    }
    setStatusText(QStringLiteral("验证失败，正在刷新…"));
    if (!co_await sleepFor(clock, failedDelayMs, token) || !self)
        co_return;
    loadChallenge();
}

void SliderCaptchaView::setStatusText(const QString &text)
{
    m_statusText = text;
    m_statusLabel->setText(text);
}

void SliderCaptchaView::setHandleLeft(double left)
{
    m_handleLeft = left;
    m_track->setHandleLeft(left);
    m_picture->setPieceLeft(left);
}

void SliderCaptchaView::syncTrack()
{
    m_track->setEnabled(isTrackInteractive());
}
