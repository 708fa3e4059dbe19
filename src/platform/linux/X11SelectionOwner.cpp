#include "platform/linux/X11SelectionOwner.h"

#include "base/Logging.h"
#include "platform/linux/X11ErrorTrap.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

Q_LOGGING_CATEGORY(lcSelection, "app.voxle.desktop.Clipboard", defaultLogThreshold())

namespace {

// Each format of another owner gets this long; the whole read keeps to the caller's bound.
constexpr qint64 kFormatTimeoutMs = 400;
// On exit, a clipboard manager gets this long to take over what we still serve.
constexpr qint64 kHandOverMs = 1000;

const char *const kTextTargets[] = {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING", "TEXT"};

qint64 nowMs()
{
    static QElapsedTimer timer = []() {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return timer.elapsed();
}

bool isTextTarget(const QString &name)
{
    for (const char *t : kTextTargets) {
        if (name == QLatin1String(t))
            return true;
    }
    return false;
}

// The text item of an offer: what every text target is served from.
std::optional<QByteArray> textItem(const Pasteboard::Contents &contents)
{
    if (const auto text = Pasteboard::textOf(contents))
        return text->toUtf8();
    return std::nullopt;
}

} // namespace

struct X11SelectionOwner::Read {
    qint64 deadline = 0;
    std::function<void(Pasteboard::Snapshot)> done;
    std::deque<Atom> queue;
    Atom current = None;
    qint64 stepDeadline = 0;
    bool incr = false;
    QByteArray incrData;
    Pasteboard::Snapshot snapshot;
};

X11SelectionOwner::X11SelectionOwner(QObject *context) : m_context(context), m_display(XOpenDisplay(nullptr))
{
    if (!m_display)
        return;
    X11ErrorTrap::ignoreErrorsOn(m_display);
    int fixesError = 0;
    if (!XFixesQueryExtension(m_display, &m_fixesEvent, &fixesError)) {
        X11ErrorTrap::stopIgnoring(m_display);
        XCloseDisplay(m_display);
        m_display = nullptr;
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    m_window = XCreateWindow(m_display, DefaultRootWindow(m_display), -10, -10, 1, 1, 0, CopyFromParent, InputOnly,
                             CopyFromParent, CWEventMask, &attributes);
    XFixesSelectSelectionInput(m_display, DefaultRootWindow(m_display), atom("CLIPBOARD"),
                               XFixesSetSelectionOwnerNotifyMask | XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    XFlush(m_display);
    m_wake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread([this]() { loop(); });
}

X11SelectionOwner::~X11SelectionOwner()
{
    if (!m_display)
        return;
    post([this]() { handOverToManager(); });
    m_stop = true;
    post([]() {});
    m_thread.join();
    close(m_wake);
    XDestroyWindow(m_display, m_window);
    X11ErrorTrap::stopIgnoring(m_display);
    XCloseDisplay(m_display);
}

void X11SelectionOwner::post(std::function<void()> work)
{
    {
        const std::lock_guard lock(m_mutex);
        m_work.push_back(std::move(work));
    }
    const uint64_t one = 1;
    (void)!write(m_wake, &one, sizeof one);
}

void X11SelectionOwner::deliver(std::function<void()> fn)
{
    if (m_context)
        QMetaObject::invokeMethod(m_context, std::move(fn), Qt::QueuedConnection);
}

unsigned long X11SelectionOwner::atom(const char *name)
{
    return XInternAtom(m_display, name, False);
}

QString X11SelectionOwner::atomName(unsigned long a)
{
    char *name = XGetAtomName(m_display, a);
    const QString out = name ? QString::fromUtf8(name) : QString();
    if (name)
        XFree(name);
    return out;
}

unsigned long X11SelectionOwner::clientOf(unsigned long window) const
{
    // Resource ids carry their client in the bits above the server's per-client mask.
    // (Xlib keeps the mask in the display as private4, after the base in private3.)
    return window & ~reinterpret_cast<_XPrivDisplay>(m_display)->private4;
}

void X11SelectionOwner::read(qint64 boundMs, std::function<void(Pasteboard::Snapshot)> done)
{
    if (!m_display) {
        deliver([done = std::move(done)]() { done({{}, false}); });
        return;
    }
    auto read = std::make_unique<Read>();
    read->deadline = nowMs() + boundMs;
    read->done = std::move(done);
    post([this, r = std::shared_ptr<Read>(read.release())]() mutable {
        m_reads.push_back(std::make_unique<Read>(std::move(*r)));
        if (m_reads.size() == 1)
            startRead();
    });
}

void X11SelectionOwner::own(Offer offer)
{
    ++m_count;
    if (!m_display)
        return;
    post([this, offer = std::move(offer)]() mutable {
        const Atom clipboard = atom("CLIPBOARD");
        XSetSelectionOwner(m_display, clipboard, m_window, CurrentTime);
        if (offer.contents.isEmpty()) {
            XSetSelectionOwner(m_display, clipboard, None, CurrentTime);
            m_clipboard.reset();
        } else {
            m_clipboard = offer;
        }
        if (offer.alsoPrimary) {
            XSetSelectionOwner(m_display, XA_PRIMARY, m_window, CurrentTime);
            m_primary = offer;
        } else if (m_primary) {
            // The primary selection was lent for one paste only.
            if (XGetSelectionOwner(m_display, XA_PRIMARY) == m_window)
                XSetSelectionOwner(m_display, XA_PRIMARY, None, CurrentTime);
            m_primary.reset();
        }
        XFlush(m_display);
    });
}

void X11SelectionOwner::loop()
{
    const int xfd = ConnectionNumber(m_display);
    while (true) {
        std::deque<std::function<void()>> work;
        {
            const std::lock_guard lock(m_mutex);
            work.swap(m_work);
        }
        for (auto &fn : work)
            fn();
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            handle(&event);
        }
        if (!m_reads.empty() && nowMs() >= m_reads.front()->stepDeadline) {
            m_reads.front()->snapshot.complete = false;
            requestNext();
        }
        XFlush(m_display);
        if (m_stop) {
            const std::lock_guard lock(m_mutex);
            if (m_work.empty())
                break;
            continue;
        }
        int timeout = -1;
        if (!m_reads.empty())
            timeout = static_cast<int>(std::max<qint64>(1, m_reads.front()->stepDeadline - nowMs()));
        pollfd fds[2] = {{xfd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        if (poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN)) {
            uint64_t value = 0;
            (void)!::read(m_wake, &value, sizeof value);
        }
    }
}

void X11SelectionOwner::handle(void *raw)
{
    auto *event = static_cast<XEvent *>(raw);
    if (event->type == m_fixesEvent + XFixesSelectionNotify) {
        const auto *notify = reinterpret_cast<XFixesSelectionNotifyEvent *>(event);
        // Our own takings are counted when they are asked for.
        if (notify->owner != m_window)
            ++m_count;
        return;
    }
    switch (event->type) {
    case SelectionRequest:
        serve(&event->xselectionrequest);
        break;
    case SelectionClear:
        if (event->xselectionclear.selection == atom("CLIPBOARD"))
            m_clipboard.reset();
        else if (event->xselectionclear.selection == XA_PRIMARY)
            m_primary.reset();
        break;
    case SelectionNotify:
        if (!m_reads.empty() && event->xselection.requestor == m_window &&
            event->xselection.selection == atom("CLIPBOARD") && event->xselection.target == m_reads.front()->current) {
            if (event->xselection.property == None) {
                requestNext();
            } else {
                readProperty();
            }
        }
        break;
    case PropertyNotify:
        if (!m_reads.empty() && m_reads.front()->incr && event->xproperty.window == m_window &&
            event->xproperty.atom == atom("VOXLE_SELECTION") && event->xproperty.state == PropertyNewValue)
            readProperty();
        break;
    default:
        break;
    }
}

void X11SelectionOwner::serve(void *raw)
{
    const auto *request = static_cast<XSelectionRequestEvent *>(raw);
    const Offer *offer = nullptr;
    if (request->selection == atom("CLIPBOARD") && m_clipboard)
        offer = &*m_clipboard;
    else if (request->selection == XA_PRIMARY && m_primary)
        offer = &*m_primary;
    const Atom property = request->property != None ? request->property : request->target;
    const QString target = atomName(request->target);
    bool served = false;
    bool data = false;
    if (offer) {
        const std::optional<QByteArray> text = textItem(offer->contents);
        if (request->target == atom("TARGETS")) {
            QList<Atom> targets{atom("TARGETS"), atom("TIMESTAMP")};
            for (const Pasteboard::Item &item : offer->contents)
                targets << atom(item.format.toUtf8().constData());
            if (text) {
                for (const char *t : kTextTargets) {
                    if (!targets.contains(atom(t)))
                        targets << atom(t);
                }
            }
            XChangeProperty(m_display, request->requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(targets.constData()), int(targets.size()));
            served = true;
        } else if (request->target == atom("TIMESTAMP")) {
            const long time = 0;
            XChangeProperty(m_display, request->requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char *>(&time), 1);
            served = true;
        } else {
            std::optional<QByteArray> bytes;
            Atom type = request->target;
            for (const Pasteboard::Item &item : offer->contents) {
                if (item.format == target)
                    bytes = item.data;
            }
            if (!bytes && text && isTextTarget(target)) {
                bytes = target == QLatin1String("STRING") ? QString::fromUtf8(*text).toLatin1() : *text;
                if (target == QLatin1String("TEXT"))
                    type = atom("UTF8_STRING");
            }
            // Larger data would need the incremental protocol; no dictation or ordinary clipboard comes close.
            const long limit =
                XExtendedMaxRequestSize(m_display) ? XExtendedMaxRequestSize(m_display) : XMaxRequestSize(m_display);
            if (bytes && bytes->size() < (limit - 64) * 4) {
                XChangeProperty(m_display, request->requestor, property, type, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char *>(bytes->constData()), int(bytes->size()));
                served = true;
                data = true;
            } else if (bytes) {
                qCWarning(lcSelection) << "clipboard format too large to serve:" << target;
            }
        }
    }
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = m_display;
    reply.xselection.requestor = request->requestor;
    reply.xselection.selection = request->selection;
    reply.xselection.target = request->target;
    reply.xselection.property = served ? property : None;
    reply.xselection.time = request->time;
    XSendEvent(m_display, request->requestor, False, NoEventMask, &reply);
    XFlush(m_display);

    if (!data || !offer->transient || !offer->readByTarget)
        return;
    // Who read it: a clipboard manager copying the content is not the paste.
    const unsigned long requestor = clientOf(request->requestor);
    const Window manager = XGetSelectionOwner(m_display, atom("CLIPBOARD_MANAGER"));
    if (requestor == clientOf(m_window) || (manager != None && requestor == clientOf(manager)))
        return;
    if (offer->targetWindow && requestor != clientOf(offer->targetWindow))
        return;
    deliver(offer->readByTarget);
}

void X11SelectionOwner::startRead()
{
    Read &r = *m_reads.front();
    const Window owner = XGetSelectionOwner(m_display, atom("CLIPBOARD"));
    if (owner == None || (owner == m_window && !m_clipboard)) {
        finishRead();
        return;
    }
    if (owner == m_window) {
        // Asking ourselves would wait on this very thread.
        r.snapshot.contents = m_clipboard->contents;
        finishRead();
        return;
    }
    r.current = atom("TARGETS");
    r.stepDeadline = std::min(r.deadline, nowMs() + kFormatTimeoutMs);
    XConvertSelection(m_display, atom("CLIPBOARD"), r.current, atom("VOXLE_SELECTION"), m_window, CurrentTime);
}

void X11SelectionOwner::requestNext()
{
    Read &r = *m_reads.front();
    r.incr = false;
    r.incrData.clear();
    if (r.queue.empty() || nowMs() >= r.deadline) {
        if (!r.queue.empty())
            r.snapshot.complete = false;
        finishRead();
        return;
    }
    r.current = r.queue.front();
    r.queue.pop_front();
    r.stepDeadline = std::min(r.deadline, nowMs() + kFormatTimeoutMs);
    XConvertSelection(m_display, atom("CLIPBOARD"), r.current, atom("VOXLE_SELECTION"), m_window, CurrentTime);
}

void X11SelectionOwner::readProperty()
{
    Read &r = *m_reads.front();
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    if (XGetWindowProperty(m_display, m_window, atom("VOXLE_SELECTION"), 0, 0x1FFFFFFF, True, AnyPropertyType, &type,
                           &format, &count, &remaining, &data) != Success) {
        requestNext();
        return;
    }
    const qsizetype bytes = qsizetype(count) * (format == 32 ? qsizetype(sizeof(long)) : format / 8);
    QByteArray value(reinterpret_cast<const char *>(data), data ? bytes : 0);
    if (data)
        XFree(data);
    if (type == atom("INCR")) {
        // The owner sends it in pieces, each announced by a new value of the property we just deleted.
        r.incr = true;
        r.incrData.clear();
        r.stepDeadline = std::min(r.deadline, nowMs() + kFormatTimeoutMs);
        return;
    }
    if (r.incr) {
        if (!value.isEmpty()) {
            r.incrData += value;
            r.stepDeadline = std::min(r.deadline, nowMs() + kFormatTimeoutMs);
            return;
        }
        value = r.incrData;
    }
    if (r.current == atom("TARGETS")) {
        const auto *atoms = reinterpret_cast<const long *>(value.constData());
        const qsizetype n = type == XA_ATOM ? value.size() / qsizetype(sizeof(long)) : 0;
        bool hasUtf8 = false;
        for (qsizetype i = 0; i < n; ++i)
            hasUtf8 = hasUtf8 || Atom(atoms[i]) == atom("UTF8_STRING");
        for (qsizetype i = 0; i < n; ++i) {
            const QString name = atomName(Atom(atoms[i]));
            // Protocol targets and text forms served from the UTF-8 text anyway are not content.
            static const QStringList skipped{QStringLiteral("TARGETS"),
                                             QStringLiteral("MULTIPLE"),
                                             QStringLiteral("TIMESTAMP"),
                                             QStringLiteral("SAVE_TARGETS"),
                                             QStringLiteral("DELETE"),
                                             QStringLiteral("INSERT_SELECTION"),
                                             QStringLiteral("INSERT_PROPERTY"),
                                             QStringLiteral("COMPOUND_TEXT"),
                                             QStringLiteral("TEXT"),
                                             QStringLiteral("application/x-qt-image")};
            if (name.isEmpty() || skipped.contains(name) || (hasUtf8 && name == QLatin1String("STRING")))
                continue;
            r.queue.push_back(Atom(atoms[i]));
        }
    } else {
        r.snapshot.contents.append({atomName(r.current), value});
    }
    requestNext();
}

void X11SelectionOwner::finishRead()
{
    std::unique_ptr<Read> r = std::move(m_reads.front());
    m_reads.pop_front();
    deliver([done = std::move(r->done), snapshot = std::move(r->snapshot)]() { done(snapshot); });
    if (!m_reads.empty())
        startRead();
}

void X11SelectionOwner::handOverToManager()
{
    // What we still serve (the user's clipboard, given back after a paste) would vanish with us: a clipboard
    // manager, when one runs, is asked to keep it.
    const Window manager = XGetSelectionOwner(m_display, atom("CLIPBOARD_MANAGER"));
    if (!m_clipboard || m_clipboard->transient || manager == None ||
        XGetSelectionOwner(m_display, atom("CLIPBOARD")) != m_window)
        return;
    XConvertSelection(m_display, atom("CLIPBOARD_MANAGER"), atom("SAVE_TARGETS"), None, m_window, CurrentTime);
    XFlush(m_display);
    const qint64 deadline = nowMs() + kHandOverMs;
    const int xfd = ConnectionNumber(m_display);
    while (nowMs() < deadline) {
        while (XPending(m_display)) {
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == SelectionNotify && event.xselection.selection == atom("CLIPBOARD_MANAGER"))
                return;
            handle(&event);
        }
        pollfd fd{xfd, POLLIN, 0};
        poll(&fd, 1, static_cast<int>(std::max<qint64>(1, deadline - nowMs())));
    }
}
