#include "platform/linux/AtspiWorker.h"

#include "base/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QThread>
#include <unistd.h>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

Q_LOGGING_CATEGORY(lcAtspiWorker, "app.voxle.desktop.Atspi", defaultLogThreshold())

namespace {

// A hung application holds a call this long; the job then gives up on it.
constexpr int kCallTimeoutMs = 500;
constexpr int kStartupTimeoutMs = 1000;
constexpr int kTrustTimeoutMs = 500;
// A bus once enabled is rarely disabled again: one round trip per dictation is not worth it.
constexpr qint64 kTrustCacheMs = 10000;
// Bounds of the focus search, for when no focus event has named the focused object yet.
constexpr int kMaxDepth = 40;
constexpr int kMaxVisited = 4000;

template <typename T> struct GObjectRef {
    T *ptr = nullptr;
    GObjectRef() = default;
    explicit GObjectRef(T *p) : ptr(p) {}
    GObjectRef(const GObjectRef &) = delete;
    GObjectRef &operator=(const GObjectRef &) = delete;
    GObjectRef(GObjectRef &&o) noexcept : ptr(std::exchange(o.ptr, nullptr)) {}
    GObjectRef &operator=(GObjectRef &&o) noexcept
    {
        std::swap(ptr, o.ptr);
        return *this;
    }
    ~GObjectRef()
    {
        if (ptr)
            g_object_unref(ptr);
    }
    explicit operator bool() const { return ptr != nullptr; }
};

// Clears error; true when there was one. A call that got no answer in time marks `unanswered`.
bool failed(GError *&error, bool &unanswered)
{
    if (!error)
        return false;
    const QString message = QString::fromUtf8(error->message);
    if (message.contains(QLatin1String("reply"), Qt::CaseInsensitive) ||
        message.contains(QLatin1String("timed out"), Qt::CaseInsensitive) ||
        message.contains(QLatin1String("timeout"), Qt::CaseInsensitive))
        unanswered = true;
    qCDebug(lcAtspiWorker) << "AT-SPI call failed:" << message;
    g_clear_error(&error);
    return true;
}

QString takeString(gchar *s)
{
    QString out = s ? QString::fromUtf8(s) : QString();
    g_free(s);
    return out;
}

bool hasState(AtspiAccessible *obj, AtspiStateType state)
{
    GObjectRef<AtspiStateSet> set(atspi_accessible_get_state_set(obj));
    return set && atspi_state_set_contains(set.ptr, state);
}

QDBusMessage a11yStatusCall(const QString &method)
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                          QStringLiteral("org.freedesktop.DBus.Properties"), method);
}

bool busEnabled()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kTrustTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

void enableBus()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Set"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kTrustTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qCWarning(lcAtspiWorker) << "cannot enable the accessibility bus:" << reply.errorMessage();
}

// How a toolkit counts. AT-SPI means characters (code points) for offsets, and the toolkits that follow ATK
// (GTK, Firefox, Chromium, LibreOffice) take the insertion length in UTF-8 bytes; Qt counts UTF-16 units for
// both.
bool countsUtf16(const QString &toolkit)
{
    return toolkit.startsWith(QLatin1String("qt"), Qt::CaseInsensitive);
}

qint64 utf16ToCodePoints(const QString &s, qint64 utf16)
{
    qint64 points = 0;
    const qint64 end = std::min<qint64>(utf16, s.size());
    for (qint64 i = 0; i < end; ++i) {
        if (!(s.at(i).isLowSurrogate() && i > 0 && s.at(i - 1).isHighSurrogate()))
            ++points;
    }
    return points + std::max<qint64>(0, utf16 - s.size());
}

qint64 codePointsToUtf16(const QString &s, qint64 points)
{
    qint64 i = 0;
    for (qint64 p = 0; p < points; ++p) {
        if (i >= s.size())
            return s.size() + (points - p);
        i += (s.at(i).isHighSurrogate() && i + 1 < s.size() && s.at(i + 1).isLowSurrogate()) ? 2 : 1;
    }
    return i;
}

class AtspiElement final : public Accessibility::Element
{
public:
    AtspiElement(AtspiWorker &worker, AtspiAccessible *obj, bool utf16, bool &unanswered)
        : m_worker(worker), m_obj(obj), m_utf16(utf16), m_unanswered(unanswered)
    {
        m_text.ptr = atspi_accessible_get_text_iface(m_obj.ptr);
        m_editable.ptr = atspi_accessible_get_editable_text_iface(m_obj.ptr);
    }

    bool setSelectedText(const QString &text) override
    {
        if (!m_editable || !m_text)
            return false;
        GError *error = nullptr;
        gint position = atspi_text_get_caret_offset(m_text.ptr, &error);
        if (failed(error, m_unanswered))
            return false;
        // What the field will hold, for converting the offsets asked next; value() still asks the field.
        std::optional<QString> expected = m_content;
        if (const auto selection = nativeSelection(); selection && selection->second > selection->first) {
            if (expected) {
                const qint64 from = toUtf16(*expected, selection->first);
                expected->remove(from, toUtf16(*expected, selection->second) - from);
            }
            m_content.reset();
            if (!atspi_editable_text_delete_text(m_editable.ptr, selection->first, selection->second, &error) ||
                failed(error, m_unanswered))
                return false;
            position = selection->first;
        }
        if (expected)
            expected->insert(toUtf16(*expected, position), text);
        const QByteArray utf8 = text.toUtf8();
        const gint length = static_cast<gint>(m_utf16 ? text.size() : utf8.size());
        m_content.reset();
        const gboolean ok = atspi_editable_text_insert_text(m_editable.ptr, position, utf8.constData(), length, &error);
        if (failed(error, m_unanswered) || !ok)
            return false;
        m_content = expected;
        return true;
    }

    std::optional<Accessibility::TextRange> selectedTextRange() override
    {
        if (!m_text)
            return std::nullopt;
        const std::optional<QString> content = m_content ? m_content : value();
        if (!content)
            return std::nullopt;
        qint64 start = 0;
        qint64 end = 0;
        if (const auto selection = nativeSelection(); selection && selection->second > selection->first) {
            start = selection->first;
            end = selection->second;
        } else {
            GError *error = nullptr;
            start = end = atspi_text_get_caret_offset(m_text.ptr, &error);
            if (failed(error, m_unanswered) || start < 0)
                return std::nullopt;
        }
        const qint64 from = toUtf16(*content, start);
        return Accessibility::TextRange{from, toUtf16(*content, end) - from};
    }

    bool setSelectedTextRange(Accessibility::TextRange range) override
    {
        if (!m_text)
            return false;
        const QString content = (m_content ? m_content : value()).value_or(QString());
        const gint start = static_cast<gint>(toNative(content, range.location));
        const gint end = static_cast<gint>(toNative(content, range.location + range.length));
        GError *error = nullptr;
        gboolean ok = false;
        if (end <= start) {
            ok = atspi_text_set_caret_offset(m_text.ptr, start, &error);
        } else if (atspi_text_get_n_selections(m_text.ptr, &error) > 0) {
            ok = atspi_text_set_selection(m_text.ptr, 0, start, end, &error);
        } else {
            ok = atspi_text_add_selection(m_text.ptr, start, end, &error);
        }
        return !failed(error, m_unanswered) && ok;
    }

    std::optional<QString> value() override
    {
        if (!m_text)
            return std::nullopt;
        GError *error = nullptr;
        const gint count = atspi_text_get_character_count(m_text.ptr, &error);
        if (failed(error, m_unanswered))
            return std::nullopt;
        const QString content = takeString(atspi_text_get_text(m_text.ptr, 0, count, &error));
        if (failed(error, m_unanswered))
            return std::nullopt;
        m_content = content;
        return content;
    }

    bool setValue(const QString &newValue) override
    {
        if (!m_editable)
            return false;
        GError *error = nullptr;
        m_content.reset();
        const gboolean ok =
            atspi_editable_text_set_text_contents(m_editable.ptr, newValue.toUtf8().constData(), &error);
        return !failed(error, m_unanswered) && ok;
    }

    bool deleteText(Accessibility::TextRange range) override
    {
        if (!m_editable)
            return false;
        const QString content = (m_content ? m_content : value()).value_or(QString());
        const gint start = static_cast<gint>(toNative(content, range.location));
        const gint end = static_cast<gint>(toNative(content, range.location + range.length));
        GError *error = nullptr;
        m_content.reset();
        const gboolean ok = atspi_editable_text_delete_text(m_editable.ptr, start, end, &error);
        return !failed(error, m_unanswered) && ok;
    }

    bool isTerminal() override
    {
        GError *error = nullptr;
        AtspiAccessible *current = static_cast<AtspiAccessible *>(g_object_ref(m_obj.ptr));
        for (int depth = 0; current && depth < 8; ++depth) {
            const AtspiRole role = atspi_accessible_get_role(current, &error);
            if (failed(error, m_unanswered) || role == ATSPI_ROLE_APPLICATION)
                break;
            if (role == ATSPI_ROLE_TERMINAL) {
                g_object_unref(current);
                return true;
            }
            AtspiAccessible *parent = atspi_accessible_get_parent(current, &error);
            g_object_unref(current);
            current = failed(error, m_unanswered) ? nullptr : parent;
        }
        if (current)
            g_object_unref(current);
        return false;
    }

    bool stillFocused() override
    {
        // Only a focus event naming another object says it moved; an element found by the search stands.
        return !m_worker.focused() || m_worker.focused() == m_obj.ptr;
    }

private:
    std::optional<std::pair<gint, gint>> nativeSelection()
    {
        GError *error = nullptr;
        const gint n = atspi_text_get_n_selections(m_text.ptr, &error);
        if (failed(error, m_unanswered) || n <= 0)
            return std::nullopt;
        AtspiRange *range = atspi_text_get_selection(m_text.ptr, 0, &error);
        if (failed(error, m_unanswered) || !range)
            return std::nullopt;
        const std::pair<gint, gint> out{std::min(range->start_offset, range->end_offset),
                                        std::max(range->start_offset, range->end_offset)};
        g_free(range);
        return out;
    }
    qint64 toUtf16(const QString &content, qint64 native) const
    {
        return m_utf16 ? native : codePointsToUtf16(content, native);
    }
    qint64 toNative(const QString &content, qint64 utf16) const
    {
        return m_utf16 ? utf16 : utf16ToCodePoints(content, utf16);
    }

    AtspiWorker &m_worker;
    GObjectRef<AtspiAccessible> m_obj;
    bool m_utf16;
    bool &m_unanswered;
    GObjectRef<AtspiText> m_text;
    GObjectRef<AtspiEditableText> m_editable;
    // The content as last read, for converting offsets; dropped by every edit of ours. value() always asks.
    std::optional<QString> m_content;
};

class AtspiSession final : public Accessibility::Session
{
public:
    explicit AtspiSession(AtspiWorker &worker) : m_worker(worker) {}

    bool isProcessTrusted() override { return m_worker.trusted(); }
    void requestTrust() override { enableBus(); }
    std::unique_ptr<Accessibility::Element> focusedElement() override
    {
        AtspiAccessible *found = m_worker.findFocused(m_unanswered);
        if (!found)
            return nullptr;
        GObjectRef<AtspiAccessible> app(atspi_accessible_get_application(found, nullptr));
        const QString toolkit = app ? takeString(atspi_accessible_get_toolkit_name(app.ptr, nullptr)) : QString();
        return std::make_unique<AtspiElement>(m_worker, found, countsUtf16(toolkit), m_unanswered);
    }
    void pause(int ms) override
    {
        // Lets the focus events that arrived meanwhile in before the next look.
        QThread::msleep(static_cast<unsigned long>(ms));
        g_main_context_iteration(g_main_context_get_thread_default(), FALSE);
    }
    bool unanswered() const override { return m_unanswered; }

private:
    AtspiWorker &m_worker;
    bool m_unanswered = false;
};

// Depth-first search for the object with the FOCUSED state; returns a new reference or null.
AtspiAccessible *findFocusedIn(AtspiAccessible *obj, int depth, int &visited, bool &unanswered)
{
    if (depth > kMaxDepth || ++visited > kMaxVisited || unanswered)
        return nullptr;
    GObjectRef<AtspiStateSet> states(atspi_accessible_get_state_set(obj));
    if (!states)
        return nullptr;
    if (atspi_state_set_contains(states.ptr, ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible *>(g_object_ref(obj));
    // Hidden subtrees cannot hold the focus; tables that manage their descendants can hold thousands.
    if (depth > 1 && (!atspi_state_set_contains(states.ptr, ATSPI_STATE_SHOWING) ||
                      atspi_state_set_contains(states.ptr, ATSPI_STATE_MANAGES_DESCENDANTS)))
        return nullptr;
    GError *error = nullptr;
    const gint count = atspi_accessible_get_child_count(obj, &error);
    if (failed(error, unanswered))
        return nullptr;
    for (gint i = 0; i < count; ++i) {
        GObjectRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(obj, i, &error));
        if (failed(error, unanswered) || !child)
            continue;
        if (AtspiAccessible *found = findFocusedIn(child.ptr, depth + 1, visited, unanswered))
            return found;
    }
    return nullptr;
}

// True when an application of the accessibility tree runs as pid.
bool hasApplication(qint64 pid, bool &unanswered)
{
    GError *error = nullptr;
    GObjectRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    const gint apps = desktop ? atspi_accessible_get_child_count(desktop.ptr, &error) : 0;
    if (failed(error, unanswered))
        return false;
    for (gint a = 0; a < apps; ++a) {
        GObjectRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.ptr, a, &error));
        if (failed(error, unanswered) || !app)
            continue;
        const guint appPid = atspi_accessible_get_process_id(app.ptr, &error);
        if (!failed(error, unanswered) && appPid == pid)
            return true;
    }
    return false;
}

// True when the top-level window holding obj is the active one.
bool inActiveWindow(AtspiAccessible *obj, bool &unanswered)
{
    GError *error = nullptr;
    GObjectRef<AtspiAccessible> current(static_cast<AtspiAccessible *>(g_object_ref(obj)));
    for (int depth = 0; depth < kMaxDepth; ++depth) {
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.ptr, &error));
        if (failed(error, unanswered) || !parent)
            return false;
        const AtspiRole role = atspi_accessible_get_role(parent.ptr, &error);
        if (failed(error, unanswered))
            return false;
        if (role == ATSPI_ROLE_APPLICATION)
            return hasState(current.ptr, ATSPI_STATE_ACTIVE);
        current = std::move(parent);
    }
    return false;
}

void onFocusEvent(AtspiEvent *event, void *data)
{
    auto *worker = static_cast<AtspiWorker *>(data);
    qCDebug(lcAtspiWorker) << "focus" << (event->detail1 ? "in" : "out");
    if (event->source && event->detail1)
        worker->focusEntered(event->source);
    else if (event->source)
        worker->focusLeft(event->source);
    g_boxed_free(atspi_event_get_type(), event);
}

} // namespace

AtspiWorker::AtspiWorker(std::function<qint64()> focusedProcess) : m_focusedProcess(std::move(focusedProcess)) {}

AtspiWorker::~AtspiWorker()
{
    if (m_listener) {
        atspi_event_listener_deregister(m_listener, "object:state-changed:focused", nullptr);
        g_object_unref(m_listener);
    }
    setFocused(nullptr);
}

void AtspiWorker::setFocused(AtspiAccessible *object)
{
    if (object == m_focused)
        return;
    if (object)
        g_object_ref(object);
    if (m_focused)
        g_object_unref(m_focused);
    m_focused = object;
}

void AtspiWorker::focusEntered(AtspiAccessible *object)
{
    setFocused(object);
    // The application's bus name and the object's path name the element without a call to the application.
    const AtspiObject *o = ATSPI_OBJECT(object);
    if (m_focusIdentity && o->app && o->app->bus_name && o->path) {
        const QByteArray name = QByteArray(o->app->bus_name) + ' ' + o->path;
        // Never 0, which means unknown.
        m_focusIdentity->store(qHash(name) | (quint64(1) << 63));
    }
}

void AtspiWorker::focusLeft(AtspiAccessible *object)
{
    if (object == m_focused)
        setFocused(nullptr);
}

bool AtspiWorker::ensureInitialised()
{
    if (m_initialised)
        return true;
    if (m_initFailed)
        return false;
    const int status = atspi_init();
    if (status > 1) {
        m_initFailed = true;
        qCWarning(lcAtspiWorker) << "cannot reach the accessibility bus";
        return false;
    }
    // The bus connection and the event dispatch follow this thread's own main context, not the main thread's.
    atspi_set_main_context(g_main_context_get_thread_default());
    atspi_set_timeout(kCallTimeoutMs, kStartupTimeoutMs);
    m_listener = atspi_event_listener_new(onFocusEvent, this, nullptr);
    GError *error = nullptr;
    if (!atspi_event_listener_register(m_listener, "object:state-changed:focused", &error)) {
        qCWarning(lcAtspiWorker) << "cannot follow the focus:" << (error ? error->message : "");
        g_clear_error(&error);
    }
    m_initialised = true;
    return true;
}

bool AtspiWorker::trusted()
{
    static QElapsedTimer clock = []() {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    if (m_trustedAtMs >= 0 && clock.elapsed() - m_trustedAtMs < kTrustCacheMs)
        return true;
    const bool enabled = busEnabled();
    m_trustedAtMs = enabled ? clock.elapsed() : -1;
    return enabled;
}

void AtspiWorker::run(const Accessibility::Job &job)
{
    ensureInitialised();
    // Focus events already received count before the job looks at the focus.
    GMainContext *context = g_main_context_get_thread_default();
    for (int i = 0; i < 100 && g_main_context_iteration(context, FALSE); ++i) {
    }
    AtspiSession session(*this);
    job(session);
}

AtspiAccessible *AtspiWorker::findFocused(bool &unanswered)
{
    if (!m_initialised)
        return nullptr;
    const guint self = static_cast<guint>(getpid());
    GError *error = nullptr;
    if (m_focused) {
        // Asking our own tree from here would wait on our main thread.
        const guint pid = atspi_accessible_get_process_id(m_focused, &error);
        // Another application's leftover FOCUSED state must never receive the text: the object belongs to
        // the process whose window has the focus. Flatpak and Snap applications show the accessibility bus
        // another PID than the window system; when no application has the window's PID, an object in the
        // active window is taken.
        const qint64 wanted = m_focusedProcess ? m_focusedProcess() : 0;
        if (!failed(error, unanswered) && pid != self && hasState(m_focused, ATSPI_STATE_FOCUSED) &&
            (wanted <= 0 || pid == wanted ||
             (!hasApplication(wanted, unanswered) && inActiveWindow(m_focused, unanswered))))
            return static_cast<AtspiAccessible *>(g_object_ref(m_focused));
        if (unanswered)
            return nullptr;
        setFocused(nullptr);
    }
    // No focus event named it yet (the application had the focus before we listened): search the active
    // window of the focused process, or of any application when that process has no tree (Flatpak and Snap
    // applications report another PID to the accessibility bus).
    GObjectRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return nullptr;
    const gint apps = atspi_accessible_get_child_count(desktop.ptr, &error);
    if (failed(error, unanswered))
        return nullptr;
    const qint64 wanted = m_focusedProcess ? m_focusedProcess() : 0;
    QList<AtspiAccessible *> candidates;
    bool wantedFound = false;
    for (gint a = 0; a < apps; ++a) {
        AtspiAccessible *app = atspi_accessible_get_child_at_index(desktop.ptr, a, &error);
        if (failed(error, unanswered) || !app)
            continue;
        const guint pid = atspi_accessible_get_process_id(app, &error);
        if (failed(error, unanswered) || pid == self) {
            g_object_unref(app);
            continue;
        }
        if (wanted > 0 && pid == wanted) {
            wantedFound = true;
            candidates.prepend(app);
        } else {
            candidates.append(app);
        }
    }
    AtspiAccessible *found = nullptr;
    const qsizetype searched = wantedFound ? 1 : candidates.size();
    for (qsizetype i = 0; i < searched && !found && !unanswered; ++i) {
        AtspiAccessible *app = candidates.at(i);
        const gint windows = atspi_accessible_get_child_count(app, &error);
        if (failed(error, unanswered))
            continue;
        for (gint w = 0; w < windows && !found; ++w) {
            GObjectRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, w, &error));
            if (failed(error, unanswered) || !window || !hasState(window.ptr, ATSPI_STATE_ACTIVE))
                continue;
            int visited = 0;
            found = findFocusedIn(window.ptr, 1, visited, unanswered);
        }
    }
    for (AtspiAccessible *app : std::as_const(candidates))
        g_object_unref(app);
    if (found)
        setFocused(found);
    return found;
}
