#pragma once

#include <QString>
#include <QUrl>

// The two outside origins. Each is one process-wide constant built on first use; an environment variable
// may replace the origin for development and tests, but plain http is accepted only for loopback hosts.
namespace VoxleEndpoints {

// The product backend: VOXLE_BACKEND_URL overrides "https://api.voxle.app".
QUrl backendBaseURL();
// DashScope chat completions: VOXLE_DASHSCOPE_URL overrides the origin "https://dashscope.aliyuncs.com".
QUrl dashScopeChatCompletionsURL();

// The origin to use given an override text: the override when it is an https origin or an http origin on a
// loopback host (ws/wss count as http/https), otherwise (absent, malformed, plain http elsewhere) the
// fallback. Only scheme, host and
// port are kept.
QUrl resolveOrigin(const QString &overrideText, const QUrl &fallback);
bool isLoopbackHost(const QString &host);

// base + path appended as path components ("/api/auth/me").
QUrl appendPath(const QUrl &base, const QString &path);

} // namespace VoxleEndpoints
