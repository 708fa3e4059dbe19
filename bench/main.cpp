#include "BenchRegistry.h"

#include <QApplication>
#include <QTextStream>
#include <algorithm>

double benchMedian(std::vector<double> &samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t n = samples.size();
    return n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2.0;
}

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QTextStream err(stderr);
    if (args.isEmpty() || !benchRegistry().contains(args.first())) {
        err << "usage: voxle-bench NAME [args]\nbenchmarks:";
        for (const auto &[name, fn] : benchRegistry())
            err << ' ' << name;
        err << '\n';
        return args.isEmpty() ? 0 : 2;
    }
    const QString name = args.takeFirst();
    return benchRegistry()[name](args);
}
