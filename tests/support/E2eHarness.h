#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

class LocalServerProcess;

// Drives the real programs for the end-to-end tests and the end-to-end benchmark: the stand-in service, the
// Voxle application (through its command line) and a GTK text field in a process of its own, on the headless
// desktop the test script started.
class E2eHarness
{
public:
    E2eHarness();
    ~E2eHarness();

    // Empty when the desktop is usable, else why not.
    QString desktopProblem() const;
    QString buildDir() const { return qEnvironmentVariable("VOXLE_BUILD_DIR"); }

    // The stand-in, on the same port every time it is restarted once it has one.
    bool startServer(const QString &engine, const QString &apiKey = QStringLiteral("sk-local-test"));
    void stopServer();
    quint16 port() const { return m_port; }
    // POSTs a JSON body to one of the stand-in's control endpoints.
    bool control(const QByteArray &path, const QJsonObject &body) { return request(path, body).second; }
    // Polls (GETs) a control endpoint until `field` of its answer is not empty; that value.
    QJsonValue controlWait(const QByteArray &path, const std::function<QJsonValue(const QJsonObject &)> &field,
                           int timeoutMs);

    // Writes the settings, then starts Voxle and waits until it answers. With a log file, Voxle runs as a user
    // starts it (no logging rules, no debug switch) and its standard output and error go to that file.
    bool startVoxle(const QJsonObject &settings, const QString &logFile = {});
    void stopVoxle();
    // The running application's process (its exit status once it has quit).
    QProcess *app() const { return m_app.get(); }
    // Runs `voxle <args>` and returns its JSON answer.
    QJsonObject voxle(const QStringList &args);
    // Sends one command straight to the running instance's socket, as `voxle --toggle` would, without the
    // cost of starting a second process.
    QJsonObject send(const QJsonObject &command);
    // Asks `done` every 50 ms until it holds or the time is up; whether it held.
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs);
    // Polls `voxle --state` until its status label is `status` (e.g. "空闲").
    bool waitForStatus(const QString &status, int timeoutMs)
    {
        return waitUntil([&] { return voxle({QStringLiteral("--state")}).value(QStringLiteral("status")) == status; },
                         timeoutMs);
    }

    // The GTK entry: started once, focused on demand; its text as it last reported.
    bool startField();
    bool focusField();
    qint64 fieldPid() const { return m_field ? m_field->processId() : 0; }
    QString fieldText();
    bool waitForFieldText(const std::function<bool(const QString &)> &done, int timeoutMs);

    // espeak-ng speech, padded with half a second of silence; played into the virtual microphone.
    QString speechWav(const QString &words);
    bool playIntoMicrophone(const QString &wav);

    // Rows of the history database: (kind, raw_text, output_text), oldest first.
    QList<QStringList> historyRows() const;

    QString home() const { return m_home.path(); }

private:
    std::pair<QJsonObject, bool> request(const QByteArray &path, const std::optional<QJsonObject> &body);
    QProcessEnvironment childEnvironment() const;
    bool run(const QString &program, const QStringList &args, int timeoutMs, QByteArray *out = nullptr) const;

    QTemporaryDir m_home;
    QString m_runtimeDir;
    std::unique_ptr<LocalServerProcess> m_server;
    std::unique_ptr<QProcess> m_app;
    std::unique_ptr<QProcess> m_field;
    quint16 m_port = 0;
    QString m_fieldText;
    qint64 m_fieldWindow = 0;
};
