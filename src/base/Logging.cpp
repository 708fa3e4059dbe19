#include "base/Logging.h"

#include "base/AppIdentity.h"

Q_LOGGING_CATEGORY(lcAudioCapture, "app.voxle.desktop.AudioCapture")
Q_LOGGING_CATEGORY(lcRealtimeASR, "app.voxle.desktop.RealtimeASR")
Q_LOGGING_CATEGORY(lcNetworkApi, "app.voxle.desktop.NetworkApi")
Q_LOGGING_CATEGORY(lcAppState, "app.voxle.desktop.AppState")

static_assert(sizeof(Voxle::kApplicationId) == sizeof("app.voxle.desktop"),
              "log category names above repeat the application id");
