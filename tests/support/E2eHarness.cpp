#include "E2eHarness.h"
#include "DesktopChild.h"
#include "LocalServerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QTest>
#include <QThread>
#include <sqlite3.h>

namespace {
void stopProcess(std::unique_ptr<QProcess> &process)
{
    if (process)
        DesktopChild::stop(*process);
    process.reset();
}
} // namespace

E2eHarness::E2eHarness()
{
    // A runtime folder of our own keeps the single-instance socket away from any other Voxle; the sound
    // server stays the desktop's.
    const QString desktopRuntime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    m_runtimeDir = m_home.path() + QStringLiteral("/run");
    QDir().mkpath(m_runtimeDir);
    QFile::setPermissions(m_runtimeDir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!desktopRuntime.isEmpty() && !qEnvironmentVariableIsSet("PULSE_SERVER"))
        qputenv("PULSE_SERVER", (QStringLiteral("unix:") + desktopRuntime + QStringLiteral("/pulse/native")).toUtf8());
}

E2eHarness::~E2eHarness()
{
    stopVoxle();
    stopServer();
    stopProcess(m_field);
}

QString E2eHarness::desktopProblem() const
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("no DISPLAY: run inside the test desktop (scripts/test)");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return QStringLiteral("no session bus");
    if (!run(QStringLiteral("pactl"), {QStringLiteral("info")}, 5000))
        return QStringLiteral("no PulseAudio server");
    return {};
}

QProcessEnvironment E2eHarness::childEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.path() + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_home.path() + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), m_home.path() + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtimeDir);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    if (m_port) {
        const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(m_port);
        env.insert(QStringLiteral("VOXLE_BACKEND_URL"), origin);
        env.insert(QStringLiteral("VOXLE_DASHSCOPE_URL"), origin);
    }
    return env;
}

bool E2eHarness::run(const QString &program, const QStringList &args, int timeoutMs, QByteArray *out) const
{
    QProcess process;
    process.setProcessEnvironment(childEnvironment());
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool E2eHarness::startServer(const QString &engine, const QString &apiKey)
{
    stopServer();
    m_server = std::make_unique<LocalServerProcess>();
    if (!m_server->start({QStringLiteral("--port"), QString::number(m_port), QStringLiteral("--engine"), engine,
                          QStringLiteral("--api-key"), apiKey}))
        return false;
    m_port = m_server->port();
    return true;
}

void E2eHarness::stopServer()
{
    m_server.reset();
}

// A GET, or a POST of `body`; the answer's JSON object (empty when it has none) and whether it succeeded.
std::pair<QJsonObject, bool> E2eHarness::request(const QByteArray &path, const std::optional<QJsonObject> &body)
{
    if (!m_server)
        return {};
    QByteArray answer;
    const int status =
        m_server->request(body ? "POST" : "GET", QString::fromLatin1(path),
                          body ? QJsonDocument(*body).toJson(QJsonDocument::Compact) : QByteArray(), &answer);
    return {QJsonDocument::fromJson(answer).object(), status / 100 == 2};
}

QJsonValue E2eHarness::controlWait(const QByteArray &path, const std::function<QJsonValue(const QJsonObject &)> &field,
                                   int timeoutMs)
{
    QJsonValue value;
    waitUntil(
        [&] {
            value = field(request(path, std::nullopt).first);
            return !value.isUndefined() && !value.isNull() && value != QJsonValue(QString());
        },
        timeoutMs);
    return value;
}

bool E2eHarness::startVoxle(const QJsonObject &settings, const QString &logFile)
{
    stopVoxle();
    const QString configDir = m_home.path() + QStringLiteral("/.config/Voxle");
    QDir().mkpath(configDir);
    QFile file(configDir + QStringLiteral("/settings.json"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(QJsonDocument(settings).toJson());
    file.close();

    m_app = std::make_unique<QProcess>();
    QProcessEnvironment env = childEnvironment();
    if (logFile.isEmpty()) {
        m_app->setProcessChannelMode(QProcess::ForwardedChannels);
    } else {
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        env.remove(QStringLiteral("VOXLE_DEBUG"));
        m_app->setStandardOutputFile(logFile, QIODevice::Append);
        m_app->setStandardErrorFile(logFile, QIODevice::Append);
    }
    m_app->setProcessEnvironment(env);
    m_app->start(buildDir() + QStringLiteral("/src/app/voxle"), {});
    if (!m_app->waitForStarted(5000))
        return false;
    return waitUntil(
               [&] {
                   return m_app->state() == QProcess::NotRunning ||
                          voxle({QStringLiteral("--state")}).value(QStringLiteral("ok")).toBool();
               },
               15000) &&
           m_app->state() != QProcess::NotRunning;
}

void E2eHarness::stopVoxle()
{
    stopProcess(m_app);
}

QJsonObject E2eHarness::voxle(const QStringList &args)
{
    QByteArray out;
    run(buildDir() + QStringLiteral("/src/app/voxle"), args, 10000, &out);
    return QJsonDocument::fromJson(out.trimmed()).object(); // empty unless it is an object
}

QJsonObject E2eHarness::send(const QJsonObject &command)
{
    QLocalSocket socket;
    socket.connectToServer(m_runtimeDir + QStringLiteral("/voxle-instance"));
    if (!socket.waitForConnected(3000))
        return {};
    socket.write(QJsonDocument(command).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();
    QByteArray answer;
    while (!answer.contains('\n') && socket.waitForReadyRead(3000))
        answer += socket.readAll();
    return QJsonDocument::fromJson(answer.trimmed()).object();
}

bool E2eHarness::waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    do {
        if (done())
            return true;
        QThread::msleep(50);
    } while (timer.elapsed() < timeoutMs);
    return false;
}

bool E2eHarness::startField()
{
    m_field = std::make_unique<QProcess>();
    m_field->setProcessEnvironment(childEnvironment());
    m_field->start(QStringLiteral("/usr/bin/python3"),
                   {qEnvironmentVariable("VOXLE_SOURCE_DIR") + QStringLiteral("/tests/output/targets/gtk_entry.py")});
    return m_field->waitForStarted(5000);
}

bool E2eHarness::focusField()
{
    const bool found = waitUntil(
        [this] {
            QByteArray out;
            if (m_fieldWindow == 0 && run(QStringLiteral("xdotool"),
                                          {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--name"), QStringLiteral("voxle gtk entry")},
                                          5000, &out))
                m_fieldWindow = out.trimmed().split('\n').last().toLongLong();
            return m_fieldWindow != 0;
        },
        5000);
    if (!found)
        return false;
    const QString window = QString::number(m_fieldWindow);
    run(QStringLiteral("xdotool"), {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window}, 5000);
    return run(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), window}, 5000);
}

QString E2eHarness::fieldText()
{
    while (m_field && m_field->canReadLine()) {
        const QString line = QString::fromUtf8(m_field->readLine()).chopped(1);
        if (line.startsWith(QStringLiteral("TEXT:")))
            m_fieldText = line.mid(5);
    }
    return m_fieldText;
}

bool E2eHarness::waitForFieldText(const std::function<bool(const QString &)> &done, int timeoutMs)
{
    return waitUntil(
        [&] {
            if (m_field)
                m_field->waitForReadyRead(0);
            return done(fieldText());
        },
        timeoutMs);
}

QString E2eHarness::speechWav(const QString &words)
{
    const QString raw = m_home.path() + QStringLiteral("/speech-raw.wav");
    const QString padded = m_home.path() + QStringLiteral("/speech-%1.wav").arg(qHash(words));
    if (!run(QStringLiteral("espeak-ng"),
             {QStringLiteral("-v"), QStringLiteral("en-us+klatt"), QStringLiteral("-s"), QStringLiteral("150"),
              QStringLiteral("-w"), raw, words},
             20000))
        return {};
    // The silence after the words lets a capture that runs behind playback on a busy machine still get the last one.
    if (!run(QStringLiteral("sox"),
             {raw, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
              QStringLiteral("-b"), QStringLiteral("16"), padded, QStringLiteral("pad"), QStringLiteral("0.5"),
              QStringLiteral("1.5")},
             20000))
        return {};
    return padded;
}

bool E2eHarness::playIntoMicrophone(const QString &wav)
{
    return run(QStringLiteral("paplay"), {QStringLiteral("-d"), QStringLiteral("vsink"), wav}, 30000);
}

QList<QStringList> E2eHarness::historyRows() const
{
    QList<QStringList> rows;
    const QByteArray path = (m_home.path() + QStringLiteral("/.local/share/Voxle/history.db")).toUtf8();
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, "SELECT kind, raw_text, output_text FROM dictation_history ORDER BY id;", -1, &statement,
                           nullptr) == SQLITE_OK) {
        const auto text = [statement](int column) {
            return QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, column)));
        };
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows << QStringList{text(0), text(1), text(2)};
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}
