#include "base/Logging.h"

#include "base/AppIdentity.h"

#include <cstdio>

QtMsgType defaultLogThreshold()
{
    static const QtMsgType threshold = qEnvironmentVariableIntValue("VOXLE_DEBUG") ? QtDebugMsg : QtWarningMsg;
    return threshold;
}

#define VOXLE_LOGGING_CATEGORY(function, name)                                                                         \
    const QLoggingCategory &function()                                                                                 \
    {                                                                                                                  \
        static const QLoggingCategory category(name, defaultLogThreshold());                                           \
        return category;                                                                                               \
    }

VOXLE_LOGGING_CATEGORY(lcAudioCapture, "app.voxle.desktop.AudioCapture")
VOXLE_LOGGING_CATEGORY(lcRealtimeASR, "app.voxle.desktop.RealtimeASR")
VOXLE_LOGGING_CATEGORY(lcNetworkApi, "app.voxle.desktop.NetworkApi")
VOXLE_LOGGING_CATEGORY(lcAppState, "app.voxle.desktop.AppState")
VOXLE_LOGGING_CATEGORY(lcGlobalShortcuts, "app.voxle.desktop.GlobalShortcuts")

static_assert(sizeof(Voxle::kApplicationId) == sizeof("app.voxle.desktop"),
              "log category names above repeat the application id");

void printTrace(const QLoggingCategory &category, const QByteArray &line)
{
    if (!category.isInfoEnabled())
        return;
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
