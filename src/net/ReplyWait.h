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

enum class ReplyEnd { finished, cancelled, timedOut };

// Waits until the reply finishes, the token is cancelled or timeoutMs pass on the clock (the reply is then
// aborted).
QCoro::Task<ReplyEnd> awaitReply(QPointer<QNetworkReply> reply, Clock &clock, qint64 timeoutMs, CancelToken cancel);
