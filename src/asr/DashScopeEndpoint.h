#pragma once

#include <QString>
#include <QUrl>

// The realtime recognition endpoint: wss://dashscope.aliyuncs.com/api-ws/v1/inference, unless
// VOXLE_DASHSCOPE_URL names another origin (scheme://host:port; http(s) is taken as ws(s)). Plain ws:// is
// accepted only for loopback hosts; anything else falls back to the constant with a warning.
QUrl dashScopeRealtimeUrl();
QUrl dashScopeRealtimeUrl(const QString &originOverride);
