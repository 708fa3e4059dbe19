// Dictation end to end: the stand-in service, the Voxle application and a GTK text field in another process,
// on the headless desktop with the virtual microphone.
#include "E2eHarness.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

namespace {
const QString kIdle = QStringLiteral("空闲");
const QString kRecording = QStringLiteral("录音中");

const QStringList kSpoken{QStringLiteral("hello"), QStringLiteral("world"), QStringLiteral("this"),
                          QStringLiteral("is"),    QStringLiteral("a"),     QStringLiteral("test")};

// pocketsphinx mishears a word or two of the espeak sentence, and which ones depends on the audio before the
// speech ("hello world is is a test", "the world is is a test", "to know where all this is a test"). Speech
// counts as recognised when most of the spoken words come back in order.
bool recognised(const QString &text)
{
    const QStringList heard = text.toLower().split(QRegularExpression(QStringLiteral("[^a-z]+")), Qt::SkipEmptyParts);
    int matched = 0;
    qsizetype from = 0;
    for (const QString &word : kSpoken) {
        const qsizetype at = heard.indexOf(word, from);
        if (at >= 0) {
            ++matched;
            from = at + 1;
        }
    }
    return matched >= 4;
}
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        const QString problem = m_harness.desktopProblem();
        if (!problem.isEmpty())
            QFAIL(qPrintable(problem));
        // The language model needs some context: "hello world" alone is heard as "to know where old".
        m_speech = m_harness.speechWav(QStringLiteral("hello world this is a test"));
        QVERIFY2(!m_speech.isEmpty(), "espeak-ng or sox failed");
        QVERIFY(m_harness.startField());
        QVERIFY(m_harness.startServer(QStringLiteral("pocketsphinx")));
    }

    // Streaming dictation into the field is the user-journey test's; here the proxy path with real recognition.
    void proxy_spokenWordsAppearInTheField()
    {
        QVERIFY(m_harness.startVoxle({{QStringLiteral("use_proxy"), true}}));
        const int rowsBefore = m_harness.historyRows().size();
        const QString before = focusedFieldText();
        QVERIFY(toggleAndSpeak());
        QVERIFY2(m_harness.waitForFieldText(
                     [&](const QString &t) { return t != before && recognised(t.mid(before.size())); }, 30000),
                 qPrintable(QStringLiteral("field holds: ") + m_harness.fieldText()));
        QVERIFY(m_harness.waitForStatus(kIdle, 5000));
        QCOMPARE(m_harness.voxle({QStringLiteral("--state")}).value(QStringLiteral("overlay")).toString(),
                 QStringLiteral("hidden"));
        const QList<QStringList> rows = m_harness.historyRows();
        QCOMPARE(rows.size(), rowsBefore + 1);
        QVERIFY2(recognised(rows.last()[2]), qPrintable(rows.last().join(QLatin1Char('|'))));
        QCOMPARE(rows.last()[0], QStringLiteral("record"));
    }

    // A polished dictation as a user runs it (default logging): the polished text is inserted and stored with its
    // raw text, and the log holds no dictated or polished word, and no key.
    void polish_insertsThePolishedTextAndTheLogHoldsNoWordsOrSecrets()
    {
        QVERIFY(m_harness.startServer(QStringLiteral("scripted"), QStringLiteral("sk-private-key-9")));
        QVERIFY(m_harness.control(
            "/__control/asr",
            {{QStringLiteral("sentences"), QJsonArray{QStringLiteral("um so the zebra ordered marmalade")}}}));
        const QString log = m_harness.home() + QStringLiteral("/voxle-default.log");
        QVERIFY(m_harness.startVoxle({{QStringLiteral("use_proxy"), false}, {QStringLiteral("polish_enabled"), true}},
                                     log));
        const int rowsBefore = m_harness.historyRows().size();
        const QString before = focusedFieldText();
        QVERIFY(toggleAndSpeak());
        QVERIFY2(m_harness.waitForFieldText([&](const QString &t) { return t != before; }, 20000),
                 "nothing was inserted");
        QVERIFY(m_harness.waitForStatus(kIdle, 5000));
        QCOMPARE(m_harness.voxle({QStringLiteral("--state")}).value(QStringLiteral("overlay")).toString(),
                 QStringLiteral("hidden"));
        m_harness.stopVoxle();
        const QList<QStringList> rows = m_harness.historyRows();
        QCOMPARE(rows.size(), rowsBefore + 1);
        const QStringList row = rows.last();
        QCOMPARE(row[0], QStringLiteral("polish"));
        QCOMPARE(row[1], QStringLiteral("um so the zebra ordered marmalade"));
        QVERIFY2(row[2] != row[1], qPrintable(row[2]));
        QVERIFY2(m_harness.fieldText().endsWith(row[2]), qPrintable(m_harness.fieldText()));

        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        static const QRegularExpression nonLetters(QStringLiteral("[^\\p{L}]+"));
        QStringList words = row[1].split(nonLetters) + row[2].split(nonLetters);
        words.removeIf([](const QString &w) { return w.size() < 5; });
        words << QStringLiteral("sk-private-key-9");
        for (const QString &word : words) {
            const QStringList leaks = text.split(QLatin1Char('\n')).filter(word, Qt::CaseInsensitive);
            QVERIFY2(leaks.isEmpty(), qPrintable(leaks.join(QLatin1Char('\n')).left(800)));
        }
    }

    void escapeWhileRecording_insertsAndStoresNothing()
    {
        QVERIFY(m_harness.startServer(QStringLiteral("pocketsphinx")));
        QVERIFY(m_harness.startVoxle({{QStringLiteral("use_proxy"), false}}));
        const int rowsBefore = m_harness.historyRows().size();
        const QString before = focusedFieldText();
        QVERIFY(m_harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool());
        QVERIFY(m_harness.waitForStatus(kRecording, 10000));
        QVERIFY(m_harness.playIntoMicrophone(m_speech));
        // Escape through the real keyboard path: XTest key press, the X11 tap, the hotkey service.
        QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("Escape")});
        QVERIFY2(m_harness.waitForStatus(kIdle, 5000), "Escape did not cancel the recording");
        QThread::msleep(1500);
        QCOMPARE(m_harness.fieldText(), before);
        QCOMPARE(m_harness.historyRows().size(), rowsBefore);
    }

    void refusedKey_showsTheErrorAndInsertsNothing()
    {
        // The backend hands out a key the recognition service does not accept.
        QVERIFY(m_harness.startServer(QStringLiteral("pocketsphinx")));
        const QJsonObject credentials{{QStringLiteral("apiKey"), QStringLiteral("sk-revoked")},
                                      {QStringLiteral("asrModel"), QStringLiteral("fun-asr-realtime")},
                                      {QStringLiteral("llmModel"), QStringLiteral("qwen-plus")}};
        QVERIFY(m_harness.control(
            "/__control/backend",
            {{QStringLiteral("rules"),
              QJsonArray{QJsonObject{{QStringLiteral("path"), QStringLiteral("/api/config/ai-credentials")},
                                     {QStringLiteral("json"), credentials}}}}}));
        QVERIFY(m_harness.startVoxle({{QStringLiteral("use_proxy"), false}}));
        const QString before = focusedFieldText();
        // The refusal comes back on the socket; the dictation learns of it when it asks for its text.
        QVERIFY(m_harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool());
        QVERIFY(m_harness.waitForStatus(kRecording, 10000));
        QThread::msleep(500);
        QVERIFY(m_harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool());
        QJsonObject state;
        E2eHarness::waitUntil(
            [&] {
                state = m_harness.voxle({QStringLiteral("--state")});
                return state.value(QStringLiteral("overlay")).toString() == QStringLiteral("error");
            },
            5000);
        QCOMPARE(state.value(QStringLiteral("overlay")).toString(), QStringLiteral("error"));
        QVERIFY2(state.value(QStringLiteral("message")).toString().startsWith(QStringLiteral("无法连接 DashScope：")),
                 qPrintable(state.value(QStringLiteral("message")).toString()));
        QVERIFY(m_harness.waitForStatus(kIdle, 5000));
        QCOMPARE(m_harness.fieldText(), before);
    }

    void cleanupTestCase()
    {
        m_harness.stopVoxle();
        m_harness.stopServer();
    }

private:
    QString focusedFieldText()
    {
        if (!m_harness.focusField())
            qWarning("could not focus the text field");
        m_harness.waitForFieldText([](const QString &) { return false; }, 200);
        return m_harness.fieldText();
    }

    bool toggleAndSpeak()
    {
        if (!m_harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool())
            return false;
        if (!m_harness.waitForStatus(kRecording, 10000))
            return false;
        if (!m_harness.playIntoMicrophone(m_speech))
            return false;
        // Capture runs behind playback on a busy machine; stopping at once cut the last word off ("…is a dead").
        QThread::msleep(1000);
        return m_harness.voxle({QStringLiteral("--toggle")}).value(QStringLiteral("ok")).toBool();
    }

    E2eHarness m_harness;
    QString m_speech;
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_EndToEnd.moc"
