// Thousands of random sequences of user actions, service answers and clock advances against the controller,
// checking its invariants after every step.
#include "ControllerRig.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>

namespace {
// Every recognised text names the dictation it came from, so an insertion can be traced back to it.
const QRegularExpression kOrigin(QStringLiteral("(s|p)(\\d+)"));

struct Sequence {
    explicit Sequence(quint32 seed) : rng(seed), rig(rng.bounded(2) == 0, rng.bounded(5) != 0)
    {
        rig.cloud.loggedIn = rng.bounded(2);
        rig.cloud.holdCredentials = rng.bounded(4) == 0;
        rig.sessions.holdStarts = rng.bounded(4) == 0;
    }

    void step()
    {
        VoxleAppState &s = *rig.state;
        const quint32 op = rng.bounded(21);
        switch (op >= 17 ? 1 + op % 2 * 7 : op) { // toggles and final answers come more often
        case 0:
            s.performHotkeyAction(HotkeyAction(rng.bounded(4)));
            break;
        case 1:
            s.toggleRecordingFromHotkey(DictationMode(rng.bounded(2)));
            break;
        case 2:
            s.toggleRecording();
            break;
        case 3:
            cancel();
            break;
        case 4:
            rig.audio.failNextStart = rng.bounded(4) == 0;
            rig.audio.deliverPcm(QByteArray(3200, '\1'));
            rig.audio.deliverLevel(rng.generateDouble());
            break;
        case 5:
            if (FakeStreamingSession *session = rig.session(); session && session->live())
                session->onPartialUpdated(rng.bounded(3) ? QStringLiteral("s%1 partial").arg(session->id)
                                                         : QStringLiteral("  "));
            break;
        case 6:
            if (!rig.cloud.pendingCredentials.empty()) {
                auto answer = rig.cloud.pendingCredentials.front();
                rig.cloud.pendingCredentials.pop_front();
                answer.resolve(rng.bounded(4) ? std::nullopt : std::optional<QString>(QStringLiteral("无法获取")));
            }
            break;
        case 7:
            if (FakeStreamingSession *session = rig.session(); session && !session->startAnswer.isResolved()) {
                const int r = rng.bounded(4);
                session->startAnswer.resolve(
                    r == 0   ? std::optional<StartError>(StartError{StartError::Kind::timeout, -1, 0, {}})
                    : r == 1 ? std::optional<StartError>(StartError{})
                             : std::nullopt);
            }
            break;
        case 8:
        case 9:
            answerOldestFinalize();
            break;
        case 10:
            if (!rig.cloud.pendingUploads.empty()) {
                const int index = oldestPendingUpload();
                auto answer = rig.cloud.pendingUploads.front();
                rig.cloud.pendingUploads.pop_front();
                const bool heard = rng.bounded(4);
                answer.resolve(heard ? DictationCloud::ProxyResult{QStringLiteral("p%1 text").arg(index), {}}
                                     : DictationCloud::ProxyResult{std::nullopt, QStringLiteral("上传失败")});
                if (heard)
                    answered << QStringLiteral("p%1 text").arg(index);
            }
            break;
        case 11:
            if (!rig.cloud.pendingRewrites.empty()) {
                const QString request = rig.cloud.rewriteRequests.at(rig.cloud.rewriteRequests.size() -
                                                                     int(rig.cloud.pendingRewrites.size()));
                auto answer = rig.cloud.pendingRewrites.front();
                rig.cloud.pendingRewrites.pop_front();
                answer.resolve(rng.bounded(3) ? std::optional<QString>(QStringLiteral("rewritten ") + request)
                                              : std::nullopt);
            }
            break;
        case 12:
            rig.advance(rng.bounded(2000));
            break;
        case 13:
            rig.advance(rng.bounded(8) == 0 ? 61'000 : 160);
            break;
        case 14:
            s.preferences().setHotkeyScheme(HotkeyScheme(rng.bounded(3)));
            s.preferences().setPolishEnabled(rng.bounded(2));
            break;
        case 15:
            s.preferences().setHistoryRetention(rng.bounded(4) ? QStringLiteral("forever") : QStringLiteral("never"));
            break;
        case 16:
            rig.mic.current =
                rng.bounded(6) ? MicrophoneAccess::Status::authorized : MicrophoneAccess::Status(rng.bounded(3));
            break;
        }
        rig.settle();
        checkInvariants();
    }

    void cancel()
    {
        // Whatever was recognised so far must never reach the cursor.
        for (int i = 1; i <= rig.sessions.created; ++i)
            forbidden.insert(QStringLiteral("s%1").arg(i));
        for (int i = 1; i <= rig.cloud.uploads.size(); ++i)
            forbidden.insert(QStringLiteral("p%1").arg(i));
        rig.dictation->cancelRecording();
        insertedBeforeCancel = rig.injector.injected.size();
    }

    void answerOldestFinalize()
    {
        for (FakeStreamingSession *session : rig.sessions.alive) {
            if (session->finalizing && !session->done && !session->finalAnswer.isResolved()) {
                const int r = rng.bounded(5);
                session->finalAnswer.resolve(
                    r == 0   ? std::optional<QString>()
                    : r == 1 ? std::optional<QString>(QStringLiteral("[错误: 识别失败]"))
                             : std::optional<QString>(QStringLiteral("s%1 final").arg(session->id)));
                if (r > 1)
                    answered << QStringLiteral("s%1 final").arg(session->id);
                return;
            }
        }
    }

    void checkInvariants()
    {
        VoxleAppState &s = *rig.state;
        // Superseded dictations may still be finalizing; only one session records.
        if (std::count_if(rig.sessions.alive.begin(), rig.sessions.alive.end(),
                          [](FakeStreamingSession *x) { return x->live() && !x->finalizing; }) > 1)
            fail(QStringLiteral("more than one recording session"));
        if (s.isPreparingStart() && rig.cloud.pendingCredentials.empty())
            fail(QStringLiteral("preparing with nothing to prepare"));
        if ((s.overlay().kind == OverlayState::Kind::hidden) != (s.status() == AppStatus::idle))
            fail(QStringLiteral("overlay hidden iff idle broken"));
        for (int i = insertedBeforeCancel; i < rig.injector.injected.size(); ++i) {
            const auto match = kOrigin.match(rig.injector.injected[i]);
            if (match.hasMatch() && forbidden.contains(match.captured(0)))
                fail(QStringLiteral("inserted after cancel: ") + rig.injector.injected[i]);
        }
    }

    // Lets every pending answer arrive and every timer run out, then compares insertions with history rows.
    void drainAndCheckHistory()
    {
        if (rig.dictation->status() == AppStatus::recording)
            rig.dictation->toggleRecordingFromHotkey(rig.dictation->activeDictationMode());
        for (int round = 0; round < 20; ++round) {
            for (auto &a : rig.cloud.pendingCredentials)
                a.resolve(std::nullopt);
            rig.cloud.pendingCredentials.clear();
            for (FakeStreamingSession *session : rig.sessions.alive)
                session->startAnswer.resolve(std::nullopt);
            rig.settle();
            answerOldestFinalize();
            while (!rig.cloud.pendingUploads.empty()) {
                const int index = oldestPendingUpload();
                rig.cloud.pendingUploads.front().resolve({QStringLiteral("p%1 text").arg(index), {}});
                answered << QStringLiteral("p%1 text").arg(index);
                rig.cloud.pendingUploads.pop_front();
            }
            for (auto &a : rig.cloud.pendingRewrites)
                a.resolve(std::nullopt);
            rig.cloud.pendingRewrites.clear();
            rig.advance(2000);
            checkInvariants();
        }
        if (rig.state->preferences().historyRetention() == QStringLiteral("never"))
            return; // rows may legitimately be missing for dictations finished under "never"
        // Nothing recognised is lost unless the user cancelled it, also when a new recording superseded it.
        for (const QString &text : std::as_const(answered)) {
            const bool stored = std::any_of(rig.history.rows.begin(), rig.history.rows.end(),
                                            [&](const QStringList &row) { return row[1] == text; });
            if (!stored && !neverWasSet && !forbidden.contains(kOrigin.match(text).captured(0)))
                fail(QStringLiteral("recognised but not stored: ") + text);
        }
        for (const QString &text : rig.injector.injected) {
            const auto rows = std::count_if(rig.history.rows.begin(), rig.history.rows.end(),
                                            [&](const QStringList &row) { return row[2] == text; });
            if (rows != 1 && !neverWasSet)
                fail(QStringLiteral("inserted text with %1 history rows: %2").arg(rows).arg(text));
        }
    }

    // Uploads are answered in request order; the front pending one is this request number.
    int oldestPendingUpload() const { return rig.cloud.uploads.size() - int(rig.cloud.pendingUploads.size()) + 1; }

    void fail(const QString &why)
    {
        if (failure.isEmpty())
            failure = why;
    }

    QRandomGenerator rng;
    ControllerRig rig;
    int insertedBeforeCancel = 0;
    bool neverWasSet = false;
    QSet<QString> forbidden;
    QStringList answered;
    QString failure;
};
} // namespace

class TestDictationRandomized : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // Keep the run about the controller: no log output, and debug events to an address that never parses.
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        QDir(m_home.path()).mkpath(QStringLiteral(".dbg"));
        QFile file(m_home.path() + QStringLiteral("/.dbg/fn-hotkey-not-effective.env"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("DEBUG_SERVER_URL=http://[::1\n");
    }

    void randomSequences_keepTheInvariants()
    {
        const int sequences = qEnvironmentVariableIntValue("VOXLE_RANDOM_SEQUENCES") > 0
                                  ? qEnvironmentVariableIntValue("VOXLE_RANDOM_SEQUENCES")
                                  : 10000;
        const quint32 base = qEnvironmentVariableIsSet("VOXLE_RANDOM_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("VOXLE_RANDOM_SEED"))
                                 : QRandomGenerator::global()->generate();
        int inserted = 0;
        for (int i = 0; i < sequences; ++i) {
            Sequence seq(base + quint32(i));
            const int steps = 5 + int(seq.rng.bounded(30));
            for (int k = 0; k < steps && seq.failure.isEmpty(); ++k) {
                seq.step();
                if (seq.rig.state->preferences().historyRetention() == QStringLiteral("never"))
                    seq.neverWasSet = true;
            }
            if (seq.failure.isEmpty())
                seq.drainAndCheckHistory();
            inserted += seq.rig.injector.injected.size();
            QVERIFY2(seq.failure.isEmpty(),
                     qPrintable(QStringLiteral("seed %1: %2").arg(base + quint32(i)).arg(seq.failure)));
        }
        // The sequences must actually exercise the finishing path.
        std::fprintf(stderr, "inserted %d texts in %d sequences\n", inserted, sequences);
        QVERIFY(inserted > sequences / 8);
    }

private:
    QTemporaryDir m_home;
};

QTEST_GUILESS_MAIN(TestDictationRandomized)
#include "tst_DictationRandomized.moc"
