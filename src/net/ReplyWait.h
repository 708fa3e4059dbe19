#pragma once

#include "base/CancelToken.h"

#include <QCoro/QCoroTask>
#include <QNetworkReply>
#include <QPointer>
#include <memory>

class Clock;

// Holds a reply for the length of one request: when dropped, the reply is disconnected, aborted and released.
using ReplyOwner = std::unique_ptr<QNetworkReply, void (*)(QNetworkReply *)>;
ReplyOwner ownReply(QNetworkReply *reply);

enum class ReplyEnd { finished, cancelled, timedOut, tooLarge };

// The most a response body may hold; the answers of both services are a few kilobytes.
constexpr qint64 kMaxResponseBytes = 4 * 1024 * 1024;

// Waits until the reply finishes, the token is cancelled, timeoutMs pass on the clock or the body grows past
// kMaxResponseBytes (in the last two cases the reply is aborted).
QCoro::Task<ReplyEnd> awaitReply(QPointer<QNetworkReply> reply, Clock &clock, qint64 timeoutMs, CancelToken cancel);
