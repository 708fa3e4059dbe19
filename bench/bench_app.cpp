// `app`: what a user waits for when Voxle starts. startup_ms: process start to the main window's first paint
// (on the desktop's X server); idle_rss_mb: resident memory with the main window open, after start-up has
// settled; first_dictation_first_pcm_ms: in a freshly started program, from the moment the running instance
// receives its first toggle to the first PCM chunk from the microphone (the first words depend on it).
// startup_cpu_ms is the CPU time start-up used: on a loaded machine the wall-clock figure mostly waits for a core.
#include "BenchRegistry.h"
#include "E2eHarness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <unistd.h>

namespace {
double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

// CPU time the process has used so far, in milliseconds: start-up's own cost, whatever else loads the machine.
double cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The fields after the parenthesised command name; utime and stime are the 14th and 15th of the line.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

QJsonObject command(const QString &binary, const QProcessEnvironment &env, const QStringList &args)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(binary, args);
    process.waitForFinished(10000);
    const QJsonDocument doc = QJsonDocument::fromJson(process.readAllStandardOutput().trimmed());
    return doc.isObject() ? doc.object() : QJsonObject();
}

int runApp(const QStringList &)
{
    QTextStream err(stderr);
    E2eHarness harness; // the stand-in (scripted engine) answers the credential and recognition requests
    if (const QString problem = harness.desktopProblem(); !problem.isEmpty()) {
        err << problem << '\n';
        return 1;
    }
    if (!harness.startServer(QStringLiteral("scripted")) ||
        !harness.control("/__control/asr", {{QStringLiteral("sentences"), QJsonArray{QStringLiteral("hello")}}})) {
        err << "could not start the stand-in\n";
        return 1;
    }
    const QString origin = QStringLiteral("http://127.0.0.1:%1").arg(harness.port());
    const QString binary = harness.buildDir() + QStringLiteral("/src/app/voxle");
    std::vector<double> startup;
    std::vector<double> startupCpu;
    std::vector<double> rss;
    std::vector<double> firstPcm;
    // One profile for every run, as a user starts the program day after day; the first run, which creates the
    // settings and the history database, is not counted.
    QTemporaryDir home;
    for (int run = 0; run < 6; ++run) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.path() + QStringLiteral("/.cache"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("VOXLE_BACKEND_URL"), origin);
        env.insert(QStringLiteral("VOXLE_DASHSCOPE_URL"), origin);
        QProcess app;
        app.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        app.start(binary, {QStringLiteral("--report-shown")});
        bool shown = false;
        while (!shown && app.waitForReadyRead(10000))
            shown = app.readAllStandardOutput().contains("shown");
        if (!shown) {
            err << "voxle did not paint its main window\n";
            return 1;
        }
        if (run > 0) {
            startup.push_back(double(timer.nsecsElapsed()) / 1e6);
            startupCpu.push_back(cpuMs(app.processId()));
        }
        QThread::msleep(2000); // let start-up settle
        if (run > 0)
            rss.push_back(residentMb(app.processId()));

        command(binary, env, {QStringLiteral("--toggle")});
        qint64 ms = -1;
        for (timer.restart(); ms < 0 && timer.elapsed() < 10000; QThread::msleep(20))
            ms = command(binary, env, {QStringLiteral("--state")})
                     .value(QStringLiteral("firstToggleToFirstPcmMs"))
                     .toInteger(-1);
        command(binary, env, {QStringLiteral("--cancel")});
        if (ms < 0) {
            err << "the first dictation got no audio\n";
            return 1;
        }
        if (run > 0)
            firstPcm.push_back(double(ms));
        app.terminate();
        app.waitForFinished(5000);
    }
    QTextStream out(stdout);
    out << "startup_ms=" << benchMedian(startup) << '\n'
        << "startup_cpu_ms=" << benchMedian(startupCpu) << '\n'
        << "idle_rss_mb=" << benchMedian(rss) << '\n'
        << "first_dictation_first_pcm_ms=" << benchMedian(firstPcm) << '\n';
    return 0;
}

BenchRegistrar registrar("app", runApp);
} // namespace
