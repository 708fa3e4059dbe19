#pragma once

#include "base/CancelToken.h"
#include "core/VoxleAccount.h"

#include <QCoro/QCoroTask>
#include <QWidget>
#include <functional>
#include <optional>

class Clock;
class QLabel;
class QPushButton;
class SliderCaptchaPicture;
class SliderCaptchaTrack;

// The slider captcha: drag the handle until the piece covers the dashed slot. Loads a challenge when it is
// first shown and on "刷新", verifies the position when the drag ends, and reports the slider token once.
// Shown as its own window ("安全验证") by VoxleAuthUi.
class SliderCaptchaView : public QWidget
{
    Q_OBJECT
public:
    // The two backend calls; `fromAccount` routes them through the account's client.
    struct Backend {
        std::function<QCoro::Task<VoxleAccount::Outcome<VoxleSliderChallengeResponse>>(CancelToken)> challenge;
        std::function<QCoro::Task<VoxleAccount::Outcome<QString>>(QString, qint64, CancelToken)> verify;
        static Backend fromAccount(VoxleAccount &account);
    };

    static constexpr double trackWidth = 360;
    static constexpr double handleWidth = 52;
    static constexpr double puzzleSize = 52;
    static constexpr qint64 solvedDelayMs = 280;
    static constexpr qint64 failedDelayMs = 600;

    SliderCaptchaView(Backend backend, Clock &clock, QWidget *parent = nullptr);
    ~SliderCaptchaView() override;

    const std::optional<QString> &challengeId() const { return m_challengeId; }
    int targetPosition() const { return m_targetPosition; }
    double handleLeft() const { return m_handleLeft; }
    bool isVerifying() const { return m_isVerifying; }
    QString statusText() const { return m_statusText; }
    qint64 backgroundSeed() const { return m_backgroundSeed; }
    bool isTrackInteractive() const;

    SliderCaptchaTrack *track() const { return m_track; }
    SliderCaptchaPicture *picture() const { return m_picture; }
    QPushButton *refreshButton() const { return m_refreshButton; }
    QPushButton *cancelButton() const { return m_cancelButton; }

    // The verified position in percent for a handle offset, halves rounded away from zero.
    static qint64 positionForHandle(double handleLeft);
    // A uniformly random seed from 1 to the largest qint64.
    static qint64 randomSeed();

    // Back to loading: a fresh picture and a new challenge. Whatever was in flight is dropped.
    void loadChallenge();

signals:
    void solved(const QString &sliderToken);
    void cancelled();
    // The window was closed (by its close button or by code).
    void closed();
    void stateChanged();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onDragChanged(QPointF translation);
    void onDragEnded();
    QCoro::Task<> runLoad(CancelToken token);
    QCoro::Task<> runVerify(CancelToken token);
    void setStatusText(const QString &text);
    void setHandleLeft(double left);
    void syncTrack();

    Backend m_backend;
    Clock &m_clock;
    CancelToken m_operation;
    bool m_loadedOnce = false;

    std::optional<QString> m_challengeId;
    int m_targetPosition = 0;
    double m_handleLeft = 0;
    double m_dragStartLeft = 0;
    bool m_isVerifying = false;
    QString m_statusText = QStringLiteral("加载验证挑战…");
    qint64 m_backgroundSeed;

    SliderCaptchaPicture *m_picture;
    SliderCaptchaTrack *m_track;
    QLabel *m_statusLabel;
    QPushButton *m_refreshButton;
    QPushButton *m_cancelButton;
};
