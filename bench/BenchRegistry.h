#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <map>

// Each benchmark prints `metric=value` lines on standard output and returns a process exit code.
using BenchFunction = std::function<int(const QStringList &args)>;

inline std::map<QString, BenchFunction> &benchRegistry()
{
    static std::map<QString, BenchFunction> registry;
    return registry;
}

struct BenchRegistrar {
    BenchRegistrar(const char *name, BenchFunction fn) { benchRegistry()[QString::fromLatin1(name)] = std::move(fn); }
};

// Median of a list of samples; the list is sorted in place.
double benchMedian(std::vector<double> &samples);
