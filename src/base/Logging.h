#pragma once

#include <QLoggingCategory>

// One category per component, each named "<application id>.<component>".
Q_DECLARE_LOGGING_CATEGORY(lcAudioCapture)
Q_DECLARE_LOGGING_CATEGORY(lcRealtimeASR)
Q_DECLARE_LOGGING_CATEGORY(lcNetworkApi)
Q_DECLARE_LOGGING_CATEGORY(lcAppState)
