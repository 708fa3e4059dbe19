// `app`: how fast Voxle starts and how much memory it holds when idle.
#include "BenchRegistry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

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

int runApp(const QStringList &)
{
    const QString binary = qEnvironmentVariable("VOXLE_BUILD_DIR") + QStringLiteral("/src/app/voxle");
    std::vector<double> startup;
    std::vector<double> rss;
    for (int run = 0; run < 7; ++run) {
        QTemporaryDir home;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/.local/share"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The loopback backend nobody answers on: start-up must not wait for the network.
        env.insert(QStringLiteral("VOXLE_BACKEND_URL"), QStringLiteral("http://127.0.0.1:9"));
        QProcess app;
        app.setProcessEnvironment(env);
        QElapsedTimer timer;
        timer.start();
        app.start(binary, {QStringLiteral("--report-shown")});
        bool shown = false;
        while (!shown && app.waitForReadyRead(10000))
            shown = app.readAllStandardOutput().contains("shown");
        if (!shown) {
            QTextStream(stderr) << "voxle did not show its main window\n";
            return 1;
        }
        startup.push_back(double(timer.nsecsElapsed()) / 1e6);
        QThread::msleep(2000); // let start-up settle
        rss.push_back(residentMb(app.processId()));
        app.terminate();
        app.waitForFinished(5000);
    }
    QTextStream out(stdout);
    out << "startup_ms=" << benchMedian(startup) << '\n' << "idle_rss_mb=" << benchMedian(rss) << '\n';
    return 0;
}

BenchRegistrar registrar("app", runApp);
} // namespace
