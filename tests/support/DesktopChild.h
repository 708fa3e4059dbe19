#pragma once

// A program in its own process on the test desktop whose standard output lines the test watches; at the end it
// is woken (it may have been stopped) and killed. With the process helpers the desktop tests share.
#include <QMap>
#include <QProcess>
#include <QTest>
#include <csignal>
#include <functional>

class DesktopChild
{
public:
    static constexpr int timeoutMs = 5000;

    // env: changes to the test's environment; a value of "-" removes the variable. Its error output goes to the
    // test's, or with MergedChannels into lines.
    DesktopChild(const QString &program, const QStringList &args, const QMap<QString, QString> &env = {},
                 QProcess::ProcessChannelMode channels = QProcess::ForwardedErrorChannel)
    {
        QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process, [this]() {
            while (m_process.canReadLine()) {
                lines << QString::fromUtf8(m_process.readLine()).chopped(1);
                if (onLine)
                    onLine(lines.last());
            }
        });
        m_process.setProcessEnvironment(environment(env));
        m_process.setProcessChannelMode(channels);
        m_process.start(program, args);
    }
    ~DesktopChild()
    {
        ::kill(static_cast<pid_t>(m_process.processId()), SIGCONT);
        m_process.kill();
        m_process.waitForFinished(timeoutMs);
    }
    DesktopChild(const DesktopChild &) = delete;
    DesktopChild &operator=(const DesktopChild &) = delete;

    bool waitFor(const QString &line, int timeout = timeoutMs)
    {
        return waitUntil([&] { return lines.contains(line); }, timeout);
    }
    // Waits until the condition holds, or the program has ended.
    bool waitUntil(const std::function<bool()> &condition, int timeout = timeoutMs)
    {
        (void)QTest::qWaitFor([&] { return condition() || !running(); }, timeout);
        return condition();
    }
    bool running() const { return m_process.state() != QProcess::NotRunning; }
    void write(const QByteArray &data) { m_process.write(data); }
    qint64 pid() const { return m_process.processId(); }
    QString log() const { return lines.join(u'|'); }

    QStringList lines;
    std::function<void(const QString &)> onLine; // for each line as it comes

    static QProcessEnvironment environment(const QMap<QString, QString> &changes,
                                           QProcessEnvironment e = QProcessEnvironment::systemEnvironment())
    {
        for (auto it = changes.cbegin(); it != changes.cend(); ++it)
            it.value() == QLatin1String("-") ? e.remove(it.key()) : e.insert(it.key(), it.value());
        return e;
    }
    // Runs a program to its end and gives what it printed.
    static QString output(const QString &program, const QStringList &args,
                          const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(program, args);
        (void)QTest::qWaitFor([&] { return p.state() == QProcess::NotRunning; }, 2 * timeoutMs);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    // Asks a process to end, then makes it.
    static void stop(QProcess &p)
    {
        if (p.state() == QProcess::NotRunning)
            return;
        p.terminate();
        if (!p.waitForFinished(3000)) {
            p.kill();
            p.waitForFinished(3000);
        }
    }

private:
    QProcess m_process;
};
