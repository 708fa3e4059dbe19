#include "platform/linux/WlClipboardPasteboard.h"

#include "base/Logging.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <memory>

namespace {
Q_LOGGING_CATEGORY(lcWlClipboard, "app.voxle.desktop.WaylandClipboard", defaultLogThreshold())

const QByteArray kText = QByteArrayLiteral("text/plain;charset=utf-8");
// A clipboard with more formats than this is read in part (marked incomplete).
constexpr int kMaxFormats = 16;
// A retired owner that has not seen the new one take over by then is ended.
constexpr int kRetiredKillMs = 5000;

// One bounded read of every format: the answers so far, and the processes still running.
struct Read {
    std::function<void(Pasteboard::Snapshot)> done;
    QList<std::optional<Pasteboard::Item>> items;
    QList<QProcess *> running;
    bool complete = true;
    bool ended = false;
    std::unique_ptr<QTimer> deadline;

    void finish()
    {
        if (ended)
            return;
        ended = true;
        deadline.reset();
        for (QProcess *p : std::as_const(running)) {
            if (p) {
                complete = false;
                p->kill();
            }
        }
        Pasteboard::Snapshot snapshot;
        snapshot.complete = complete;
        for (const auto &item : std::as_const(items)) {
            if (item)
                snapshot.contents.append(*item);
        }
        done(std::move(snapshot));
    }
};

// A process of program, to be started by the caller, that runs finished(process, exit code, output) on its
// end; a process that cannot start or crashes ends with -1.
using Finished = std::function<void(QProcess *, int, QByteArray)>;
QProcess *process(QObject *parent, const QString &program, const QStringList &args, Finished finished)
{
    auto *p = new QProcess(parent);
    p->setStandardErrorFile(QProcess::nullDevice());
    auto shared = std::make_shared<Finished>(std::move(finished));
    QObject::connect(p, &QProcess::finished, parent, [p, shared](int code, QProcess::ExitStatus status) {
        p->deleteLater();
        (*shared)(p, status == QProcess::NormalExit ? code : -1, p->readAllStandardOutput());
    });
    QObject::connect(p, &QProcess::errorOccurred, parent, [p, shared](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        p->deleteLater();
        (*shared)(p, -1, {});
    });
    p->setProgram(program);
    p->setArguments(args);
    return p;
}

QProcess *run(QObject *parent, const QString &program, const QStringList &args, Finished finished)
{
    QProcess *p = process(parent, program, args, std::move(finished));
    p->start();
    return p;
}
} // namespace

WlClipboardPasteboard::WlClipboardPasteboard(QString copyProgram, QString pasteProgram)
    : m_copyProgram(std::move(copyProgram)), m_pasteProgram(std::move(pasteProgram))
{
}

WlClipboardPasteboard::~WlClipboardPasteboard()
{
    // The owners' content goes with the program, as an X selection owner's does.
    const QList<QProcess *> processes = m_context.findChildren<QProcess *>();
    for (QProcess *p : processes) {
        p->disconnect();
        p->kill();
        p->waitForFinished(1000);
    }
}

void WlClipboardPasteboard::readContents(qint64 boundMs, std::function<void(Snapshot)> done)
{
    auto read = std::make_shared<Read>();
    read->done = std::move(done);
    read->deadline = std::make_unique<QTimer>();
    read->deadline->setSingleShot(true);
    QObject::connect(read->deadline.get(), &QTimer::timeout, &m_context, [read]() { read->finish(); });
    read->deadline->start(static_cast<int>(boundMs));
    const auto formatRead = [read](QProcess *p, int code, const QByteArray &data) {
        const qsizetype index = read->running.indexOf(p);
        if (read->ended || index < 0)
            return;
        read->running[index] = nullptr;
        if (code == 0)
            read->items[index] = Item{p->arguments().constLast(), data};
        else
            read->complete = false;
        if (read->running.count(nullptr) == read->running.size())
            read->finish();
    };
    const auto listed = [this, read, formatRead](QProcess *, int code, const QByteArray &out) {
        read->running.clear();
        if (read->ended)
            return;
        // wl-paste fails on an empty clipboard; one that cannot run cannot tell.
        if (code != 0) {
            read->complete = code > 0;
            read->finish();
            return;
        }
        QStringList formats;
        // The X names XWayland adds (TARGETS, UTF8_STRING, ...) repeat the MIME types.
        for (const QByteArray &line : out.split('\n')) {
            if (line.contains('/') && !formats.contains(QString::fromUtf8(line.trimmed())))
                formats << QString::fromUtf8(line.trimmed());
        }
        if (formats.size() > kMaxFormats) {
            formats.resize(kMaxFormats);
            read->complete = false;
        }
        if (formats.isEmpty()) {
            read->finish();
            return;
        }
        // All at once: the bound is for the whole read.
        read->items.resize(formats.size());
        read->running.resize(formats.size());
        for (qsizetype i = 0; i < formats.size(); ++i) {
            read->running[i] =
                process(&m_context, m_pasteProgram,
                        {QStringLiteral("--no-newline"), QStringLiteral("--type"), formats[i]}, formatRead);
        }
        for (QProcess *p : QList<QProcess *>(read->running))
            p->start();
    };
    read->running = {process(&m_context, m_pasteProgram, {QStringLiteral("--list-types")}, listed)};
    read->running.first()->start();
}

void WlClipboardPasteboard::setString(const QString &text)
{
    setContents({{QString::fromLatin1(kText), text.toUtf8()}});
}

void WlClipboardPasteboard::setContents(const Contents &contents)
{
    retireOwners();
    m_failed = false;
    ++m_count;
    if (contents.isEmpty()) {
        run(&m_context, m_copyProgram, {QStringLiteral("--clear")},
            [this](QProcess *, int code, const QByteArray &) { m_failed = m_failed || code != 0; });
        return;
    }
    // One format is all wl-copy offers: the text when there is any, for that is what a paste most likely wants.
    Item item = contents.first();
    if (const std::optional<QString> text = textOf(contents))
        item = {QString::fromLatin1(kText), text->toUtf8()};
    own(item.format.toUtf8(), item.data, {}, [this]() { ++m_count; });
}

void WlClipboardPasteboard::offerTransientText(const QString &text, bool alsoPrimary, quint64, std::function<void()>)
{
    setString(text);
    if (alsoPrimary && !m_failed)
        own(kText, text.toUtf8(), {QStringLiteral("--primary")}, []() {});
}

void WlClipboardPasteboard::own(const QByteArray &format, const QByteArray &data, const QStringList &options,
                                std::function<void()> onLost)
{
    if (QStandardPaths::findExecutable(m_copyProgram).isEmpty()) {
        qCWarning(lcWlClipboard) << "cannot set the clipboard:" << m_copyProgram << "is not installed (wl-clipboard)";
        m_failed = true;
        return;
    }
    // The content goes through standard input: arguments would show the dictation to every process listing.
    QProcess *p = process(
        &m_context, m_copyProgram,
        QStringList{QStringLiteral("--foreground"), QStringLiteral("--type"), QString::fromUtf8(format)} + options,
        [this, onLost = std::move(onLost)](QProcess *p, int code, const QByteArray &) {
            if (!m_owners.removeOne(p))
                return; // replaced by a later write of ours
            if (code != 0) {
                qCWarning(lcWlClipboard) << "wl-copy failed (exit" << code
                                         << "): the compositor may offer no data-control protocol";
                m_failed = true;
                return;
            }
            onLost();
        });
    m_owners.append(p);
    p->start();
    p->write(data);
    p->closeWriteChannel();
}

void WlClipboardPasteboard::retireOwners()
{
    // A clipboard owner ends by itself once the new one has taken over; killing it first would leave the
    // clipboard empty for a moment, which clipboard managers fill. A primary owner is not replaced: it ends now.
    for (QProcess *p : std::as_const(m_owners)) {
        if (p->arguments().contains(QStringLiteral("--primary")))
            p->kill();
        else
            QTimer::singleShot(kRetiredKillMs, p, [p]() { p->kill(); });
    }
    m_owners.clear();
}
