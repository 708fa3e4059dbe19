// `e2e`: from the stop command to the text read back in another application's field, through the real
// application, the stand-in (scripted engine, answering at once) and the GTK field of the end-to-end test.
#include "BenchRegistry.h"
#include "E2eHarness.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QTextStream>
#include <QThread>

namespace {
std::optional<double> dictateOnce(E2eHarness &harness)
{
    const QString before = harness.fieldText();
    if (!harness.send({{QStringLiteral("command"), QStringLiteral("toggle")}}).value(QStringLiteral("ok")).toBool())
        return std::nullopt;
    if (!harness.waitForStatus(QStringLiteral("录音中"), 10000))
        return std::nullopt;
    QThread::msleep(400); // some audio, so the upload is not empty
    QElapsedTimer timer;
    timer.start();
    harness.send({{QStringLiteral("command"), QStringLiteral("toggle")}});
    if (!harness.waitForFieldText([&](const QString &t) { return t.size() > before.size(); }, 10000))
        return std::nullopt;
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    harness.waitForStatus(QStringLiteral("空闲"), 5000);
    return ms;
}

std::optional<double> medianFor(E2eHarness &harness, bool proxy)
{
    if (!harness.startVoxle({{QStringLiteral("use_proxy"), proxy}}))
        return std::nullopt;
    harness.focusField();
    std::vector<double> samples;
    for (int i = 0; i < 20; ++i) {
        const auto ms = dictateOnce(harness);
        if (!ms)
            return std::nullopt;
        samples.push_back(*ms);
    }
    harness.stopVoxle();
    return benchMedian(samples);
}

int runE2e(const QStringList &)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    E2eHarness harness;
    if (const QString problem = harness.desktopProblem(); !problem.isEmpty()) {
        err << problem << '\n';
        return 1;
    }
    if (!harness.startField() || !harness.startServer(QStringLiteral("scripted")) ||
        !harness.control("/__control/asr", {{QStringLiteral("sentences"), QJsonArray{QStringLiteral("hello world")}}})) {
        err << "could not start the stand-in or the text field\n";
        return 1;
    }
    const auto streaming = medianFor(harness, false);
    const auto proxy = medianFor(harness, true);
    if (!streaming || !proxy) {
        err << "a dictation did not reach the field\n";
        return 1;
    }
    out << "stop_to_inserted_ms=" << *streaming << '\n' << "proxy_stop_to_inserted_ms=" << *proxy << '\n';
    return 0;
}

BenchRegistrar registrar("e2e", runE2e);
} // namespace
