// The realtime recognition session's handling of server text frames: events, end flags and sentence assembly.
// Input: frames separated by '\n' (a compact JSON frame holds no raw line break).
#include "asr/ParaformerStreamingSession.h"

#include <QStringList>
#include <cstdint>
#include <cstdlib>

namespace {
// Time never moves: a fuzz run must not depend on timers.
class FrozenClock final : public Clock
{
public:
    QDateTime now() const override { return QDateTime::fromMSecsSinceEpoch(0, Qt::UTC); }
    qint64 elapsedMs() const override { return 0; }
    TimerId schedule(qint64, std::function<void()>) override { return ++m_next; }
    void cancelTimer(TimerId) override {}

private:
    TimerId m_next = 0;
};

void check(bool condition)
{
    if (!condition)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static FrozenClock clock;
    ParaformerStreamingSession session(clock, QUrl(QStringLiteral("ws://127.0.0.1:9/api-ws/v1/inference")),
                                       QStringLiteral("sk"), QStringLiteral("fun-asr-realtime"), 16000, std::nullopt);
    QStringList seen;
    session.onPartialUpdated = [&seen](const QString &text) { seen << text; };
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &frame : input.split('\n')) {
        const qsizetype before = seen.size();
        session.receiveText(QString::fromUtf8(frame));
        // What the owner is shown and finally gets: trimmed, never an empty callback, segments never repeat.
        const QString text = session.currentText();
        check(text == text.trimmed());
        check(seen.size() == before || (seen.size() == before + 1 && !seen.last().isEmpty() && seen.last() == text));
        const QStringList &segments = session.finalSegments();
        for (qsizetype i = 0; i < segments.size(); ++i) {
            check(!segments.at(i).isEmpty() && segments.at(i) == segments.at(i).trimmed());
            check(i == 0 || segments.at(i) != segments.at(i - 1));
        }
        check(session.partialText() == session.partialText().trimmed());
    }
    return 0;
}
