#include "net/ReplyWait.h"

#include "base/Async.h"
#include "base/Clock.h"

ReplyOwner ownReply(QNetworkReply *reply)
{
    return ReplyOwner(reply, [](QNetworkReply *r) {
        r->disconnect();
        r->abort();
        r->deleteLater();
    });
}

QCoro::Task<ReplyEnd> awaitReply(QPointer<QNetworkReply> reply, Clock &clock, qint64 timeoutMs, CancelToken cancel)
{
    OneShot<bool> finished;
    QObject::connect(reply.data(), &QNetworkReply::finished, reply.data(), [finished]() { finished.resolve(true); });
    auto tooLarge = std::make_shared<bool>(false);
    const auto checkSize = [reply, tooLarge]() {
        if (!reply || *tooLarge)
            return;
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if ((announced.isValid() && announced.toLongLong() > kMaxResponseBytes) ||
            reply->bytesAvailable() > kMaxResponseBytes) {
            *tooLarge = true;
            reply->abort();
        }
    };
    QObject::connect(reply.data(), &QNetworkReply::metaDataChanged, reply.data(), checkSize);
    QObject::connect(reply.data(), &QIODevice::readyRead, reply.data(), checkSize);
    auto timedOut = std::make_shared<bool>(false);
    const Clock::TimerId timer = clock.schedule(timeoutMs, [reply, timedOut]() {
        *timedOut = true;
        if (reply)
            reply->abort();
    });
    const std::optional<bool> done = co_await finished.wait(cancel);
    clock.cancelTimer(timer);
    if (!done)
        co_return ReplyEnd::cancelled;
    if (*tooLarge)
        co_return ReplyEnd::tooLarge;
    co_return *timedOut ? ReplyEnd::timedOut : ReplyEnd::finished;
}
