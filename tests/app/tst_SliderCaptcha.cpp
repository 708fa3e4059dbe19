#include "app/auth/SliderCaptchaArtView.h"
#include "app/auth/SliderCaptchaPicture.h"
#include "app/auth/SliderCaptchaTrack.h"
#include "app/auth/SliderCaptchaView.h"
#include "app/tst_AuthSupport.h"
#include "platform/fake/ManualClock.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {
using ChallengeOutcome = VoxleAccount::Outcome<VoxleSliderChallengeResponse>;
using VerifyOutcome = VoxleAccount::Outcome<QString>;

ChallengeOutcome challenge(const QString &id, qint64 target)
{
    ChallengeOutcome outcome;
    outcome.value = VoxleSliderChallengeResponse{id, target};
    return outcome;
}
template <typename T> T failure(const QString &message)
{
    T outcome;
    outcome.message = message;
    return outcome;
}
VerifyOutcome token(const QString &text)
{
    VerifyOutcome outcome;
    outcome.value = text;
    return outcome;
}
} // namespace

// The captcha view with a backend whose answers the test releases one at a time, on a manual clock.
class TestSliderCaptcha : public QObject
{
    Q_OBJECT
private:
    struct Rig {
        ManualClock clock;
        QList<OneShot<ChallengeOutcome>> challenges;
        QList<OneShot<VerifyOutcome>> verifies;
        QList<std::pair<QString, qint64>> verified;
        std::unique_ptr<SliderCaptchaView> view;

        Rig()
        {
            SliderCaptchaView::Backend backend;
            backend.challenge = [this](CancelToken cancel) {
                challenges << OneShot<ChallengeOutcome>();
                return awaitTestReply(challenges.last(), std::move(cancel));
            };
            backend.verify = [this](QString id, qint64 position, CancelToken cancel) {
                verified << std::make_pair(id, position);
                verifies << OneShot<VerifyOutcome>();
                return awaitTestReply(verifies.last(), std::move(cancel));
            };
            view = std::make_unique<SliderCaptchaView>(backend, clock);
            view->show();
        }
        ~Rig()
        {
            // The view cancels what it still awaits; let those coroutines end.
            view.reset();
            drainEvents();
        }
        void answerChallenge(ChallengeOutcome outcome)
        {
            challenges.last().resolve(std::move(outcome));
            drainEvents();
        }
        void answerVerify(VerifyOutcome outcome)
        {
            verifies.last().resolve(std::move(outcome));
            drainEvents();
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
            drainEvents();
        }
    };

private slots:
    // The same seed drawing the same picture (and so the generator's draws) is compared with a stored reference by
    // the screenshot test.
    void art_seedsDifferAndTheWidgetDrawsThePicture()
    {
        const QSize size(360, 160);
        QVERIFY(SliderCaptchaArtView::renderImage(1, size) != SliderCaptchaArtView::renderImage(2, size));
        SliderCaptchaArtView view;
        view.setSeed(123456789);
        view.resize(size);
        QImage grabbed(size, QImage::Format_ARGB32_Premultiplied);
        grabbed.fill(Qt::transparent);
        view.render(&grabbed, QPoint(), QRegion(), QWidget::DrawChildren);
        QCOMPARE(grabbed, SliderCaptchaArtView::renderImage(123456789, size));
    }

    void load_successEnablesTrackAndFailureAsksForRefresh()
    {
        Rig rig;
        QCOMPARE(rig.challenges.size(), 1);
        QCOMPARE(rig.view->statusText(), QStringLiteral("加载验证挑战…"));
        QVERIFY(!rig.view->track()->isEnabled());
        rig.answerChallenge(failure<ChallengeOutcome>(QStringLiteral("连接失败：无响应")));
        QCOMPARE(rig.view->statusText(), QStringLiteral("无法获取验证挑战，请点击刷新重试。"));
        QVERIFY(!rig.view->track()->isEnabled());
        // A drag on the disabled track verifies nothing.
        rig.drag(100);
        QVERIFY(rig.verified.isEmpty());
        QCOMPARE(rig.view->handleLeft(), 0.0);

        const qint64 seedBefore = rig.view->backgroundSeed();
        rig.view->refreshButton()->click();
        QCOMPARE(rig.challenges.size(), 2);
        QVERIFY(rig.view->backgroundSeed() != seedBefore);
        QVERIFY(rig.view->backgroundSeed() >= 1);
        rig.answerChallenge(challenge(QStringLiteral("c-2"), 40));
        QCOMPARE(rig.view->statusText(), QString());
        QCOMPARE(rig.view->challengeId(), std::optional(QStringLiteral("c-2")));
        QCOMPARE(rig.view->targetPosition(), 40);
        QVERIFY(rig.view->track()->isEnabled());
        QCOMPARE(rig.view->picture()->slotRect().left(), 0.4 * 308);
    }

    void drag_positionIsRoundedPercentWithEndsAtZeroAndHundred_data()
    {
        QTest::addColumn<int>("dx");
        QTest::addColumn<double>("handleLeft");
        QTest::addColumn<qint64>("position");
        QTest::newRow("left end") << -40 << 0.0 << qint64(0);
        QTest::newRow("one point") << 1 << 1.0 << qint64(0);
        QTest::newRow("two points") << 2 << 2.0 << qint64(1);
        QTest::newRow("middle") << 154 << 154.0 << qint64(50);
        QTest::newRow("just short") << 307 << 307.0 << qint64(100);
        QTest::newRow("beyond") << 500 << 308.0 << qint64(100);
    }
    void drag_positionIsRoundedPercentWithEndsAtZeroAndHundred()
    {
        QFETCH(int, dx);
        QFETCH(double, handleLeft);
        QFETCH(qint64, position);
        Rig rig;
        rig.answerChallenge(challenge(QStringLiteral("c-1"), 50));
        // A move before the press is no drag.
        QTest::mouseMove(rig.view->track(), rig.view->track()->handleRect().center().toPoint() + QPoint(40, 0));
        QCOMPARE(rig.view->handleLeft(), 0.0);
        rig.drag(dx, std::clamp(dx / 2, 0, 308));
        QCOMPARE(rig.view->handleLeft(), handleLeft);
        QCOMPARE(rig.view->picture()->pieceRect().left(), handleLeft);
        QCOMPARE(rig.verified.size(), 1);
        QCOMPARE(rig.verified.first(), std::make_pair(QStringLiteral("c-1"), position));
    }

    void verify_tokenIsHandedOverAfterTheShortPause()
    {
        Rig rig;
        QSignalSpy solved(rig.view.get(), &SliderCaptchaView::solved);
        rig.answerChallenge(challenge(QStringLiteral("c-1"), 50));
        rig.drag(154);
        QVERIFY(rig.view->isVerifying());
        QVERIFY(!rig.view->track()->isEnabled());
        // A second drag while verifying changes nothing.
        rig.drag(40);
        QCOMPARE(rig.verified.size(), 1);
        QCOMPARE(rig.view->handleLeft(), 154.0);

        rig.answerVerify(token(QStringLiteral("tok-123")));
        QCOMPARE(rig.view->statusText(), QStringLiteral("✓ 验证通过"));
        rig.clock.advance(279);
        QCOMPARE(solved.size(), 0);
        rig.clock.advance(1);
        QCOMPARE(solved.size(), 1);
        QCOMPARE(solved.first().first().toString(), QStringLiteral("tok-123"));
        rig.clock.advance(10000);
        QCOMPARE(solved.size(), 1);
        QCOMPARE(rig.challenges.size(), 1);
    }

    void verify_failureShowsMessageThenLoadsAFreshChallenge_data()
    {
        QTest::addColumn<bool>("emptyToken");
        QTest::newRow("empty token") << true;
        QTest::newRow("request failed") << false;
    }
    void verify_failureShowsMessageThenLoadsAFreshChallenge()
    {
        QFETCH(bool, emptyToken);
        Rig rig;
        QSignalSpy solved(rig.view.get(), &SliderCaptchaView::solved);
        rig.answerChallenge(challenge(QStringLiteral("c-1"), 50));
        const qint64 firstSeed = rig.view->backgroundSeed();
        rig.drag(100);
        rig.answerVerify(emptyToken ? token(QString())
                                    : failure<VerifyOutcome>(QStringLiteral("滑块验证失败，请重试")));
        QCOMPARE(rig.view->statusText(), QStringLiteral("验证失败，正在刷新…"));
        rig.clock.advance(599);
        QCOMPARE(rig.challenges.size(), 1);
        rig.clock.advance(1);
        QCOMPARE(rig.challenges.size(), 2);
        QCOMPARE(rig.view->statusText(), QStringLiteral("加载验证挑战…"));
        QCOMPARE(rig.view->handleLeft(), 0.0);
        QVERIFY(!rig.view->isVerifying());
        QVERIFY(rig.view->backgroundSeed() != firstSeed);
        rig.answerChallenge(challenge(QStringLiteral("c-2"), 70));
        QVERIFY(rig.view->track()->isEnabled());
        rig.drag(216);
        QCOMPARE(rig.verified.last(), std::make_pair(QStringLiteral("c-2"), qint64(70)));
        QCOMPARE(solved.size(), 0);
    }

    void refresh_dropsWhateverWasInFlight()
    {
        Rig rig;
        QSignalSpy solved(rig.view.get(), &SliderCaptchaView::solved);
        rig.answerChallenge(challenge(QStringLiteral("c-1"), 50));
        rig.drag(154);
        rig.answerVerify(token(QStringLiteral("tok-late")));
        // Refreshed during the pause before the hand-over: the old token is not handed over.
        rig.view->refreshButton()->click();
        rig.clock.advance(1000);
        drainEvents();
        QCOMPARE(solved.size(), 0);
        QCOMPARE(rig.challenges.size(), 2);
        // A stale challenge answer arriving after a newer request is ignored.
        rig.view->refreshButton()->click();
        rig.challenges[1].resolve(challenge(QStringLiteral("stale"), 10));
        drainEvents();
        QVERIFY(!rig.view->challengeId());
        rig.answerChallenge(challenge(QStringLiteral("fresh"), 20));
        QCOMPARE(rig.view->challengeId(), std::optional(QStringLiteral("fresh")));
    }
};

QTEST_MAIN(TestSliderCaptcha)
#include "tst_SliderCaptcha.moc"
