#pragma once

#include "asr/StreamingSession.h"

#include <QAbstractSocket>
#include <QNetworkReply>
#include <QString>

// The Chinese message, beginning "无法连接 DashScope：", for a DashScope connection failure.
QString dashScopeErrorMessage(const StartError &error);
// A socket-level failure (the realtime WebSocket). httpStatus is the refused upgrade's status, 0 when none.
QString dashScopeErrorMessage(QAbstractSocket::SocketError error, const QString &description, int httpStatus = 0);
// A transfer failure of an HTTP request (chat completions).
QString dashScopeErrorMessage(QNetworkReply::NetworkError error, const QString &description);

// StartError's own description.
QString startErrorDescription(const StartError &error);
