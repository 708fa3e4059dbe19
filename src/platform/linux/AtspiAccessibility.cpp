#include "platform/linux/AtspiAccessibility.h"

#include "base/Logging.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QLoggingCategory>
#include <unistd.h>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

Q_LOGGING_CATEGORY(lcAtspi, "app.voxle.desktop.Atspi", defaultLogThreshold())

namespace {

// A hung application must not freeze dictation for the library's default 25 s.
constexpr int kCallTimeoutMs = 1500;
// Bounds of the focus search, so a huge tree (a browser, a spreadsheet) cannot stall the main thread.
constexpr int kMaxDepth = 40;
constexpr int kMaxVisited = 4000;

template <typename T> struct GObjectRef {
    T *ptr = nullptr;
    GObjectRef() = default;
    explicit GObjectRef(T *p) : ptr(p) {}
    GObjectRef(const GObjectRef &) = delete;
    GObjectRef &operator=(const GObjectRef &) = delete;
    GObjectRef(GObjectRef &&o) noexcept : ptr(std::exchange(o.ptr, nullptr)) {}
    ~GObjectRef()
    {
        if (ptr)
            g_object_unref(ptr);
    }
    explicit operator bool() const { return ptr != nullptr; }
};

bool failed(GError *&error)
{
    if (!error)
        return false;
    qCDebug(lcAtspi) << "AT-SPI call failed:" << error->message;
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

// How a toolkit counts offsets and insertion lengths. AT-SPI means characters (code points), but Qt answers
// in UTF-16 units throughout, and GTK takes the insertion length in UTF-8 bytes.
struct Units {
    bool offsetsUtf16 = false;
    enum class Length { codePoints, utf8Bytes, utf16 } length = Length::codePoints;
};

Units unitsForToolkit(const QString &toolkit)
{
    const QString t = toolkit.toLower();
    if (t.startsWith(QLatin1String("qt")))
        return {true, Units::Length::utf16};
    if (t.startsWith(QLatin1String("gtk")) || t == QLatin1String("gail"))
        return {false, Units::Length::utf8Bytes};
    return {};
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
    AtspiElement(AtspiAccessible *obj, Units units) : m_obj(obj), m_units(units)
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
        if (failed(error))
            return false;
        if (const auto selection = nativeSelection(); selection && selection->second > selection->first) {
            if (!atspi_editable_text_delete_text(m_editable.ptr, selection->first, selection->second, &error) ||
                failed(error))
                return false;
            position = selection->first;
        }
        const QByteArray utf8 = text.toUtf8();
        gint length = 0;
        switch (m_units.length) {
        case Units::Length::utf8Bytes:
            length = static_cast<gint>(utf8.size());
            break;
        case Units::Length::utf16:
            length = static_cast<gint>(text.size());
            break;
        case Units::Length::codePoints:
            length = static_cast<gint>(text.toUcs4().size());
            break;
        }
        const gboolean ok = atspi_editable_text_insert_text(m_editable.ptr, position, utf8.constData(), length, &error);
        return !failed(error) && ok;
    }

    std::optional<Accessibility::TextRange> selectedTextRange() override
    {
        if (!m_text)
            return std::nullopt;
        const std::optional<QString> content = value();
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
            if (failed(error) || start < 0)
                return std::nullopt;
        }
        const qint64 from = toUtf16(*content, start);
        return Accessibility::TextRange{from, toUtf16(*content, end) - from};
    }

    bool setSelectedTextRange(Accessibility::TextRange range) override
    {
        if (!m_text)
            return false;
        const QString content = value().value_or(QString());
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
        return !failed(error) && ok;
    }

    std::optional<QString> value() override
    {
        if (!m_text)
            return std::nullopt;
        GError *error = nullptr;
        const gint count = atspi_text_get_character_count(m_text.ptr, &error);
        if (failed(error))
            return std::nullopt;
        const QString content = takeString(atspi_text_get_text(m_text.ptr, 0, count, &error));
        if (failed(error))
            return std::nullopt;
        return content;
    }

    bool setValue(const QString &newValue) override
    {
        if (!m_editable)
            return false;
        GError *error = nullptr;
        const gboolean ok =
            atspi_editable_text_set_text_contents(m_editable.ptr, newValue.toUtf8().constData(), &error);
        return !failed(error) && ok;
    }

    bool isTerminal() override
    {
        GError *error = nullptr;
        AtspiAccessible *current = static_cast<AtspiAccessible *>(g_object_ref(m_obj.ptr));
        for (int depth = 0; current && depth < 8; ++depth) {
            const AtspiRole role = atspi_accessible_get_role(current, &error);
            if (failed(error) || role == ATSPI_ROLE_APPLICATION)
                break;
            if (role == ATSPI_ROLE_TERMINAL) {
                g_object_unref(current);
                return true;
            }
            AtspiAccessible *parent = atspi_accessible_get_parent(current, &error);
            g_object_unref(current);
            current = failed(error) ? nullptr : parent;
        }
        if (current)
            g_object_unref(current);
        return false;
    }

private:
    std::optional<std::pair<gint, gint>> nativeSelection()
    {
        GError *error = nullptr;
        const gint n = atspi_text_get_n_selections(m_text.ptr, &error);
        if (failed(error) || n <= 0)
            return std::nullopt;
        AtspiRange *range = atspi_text_get_selection(m_text.ptr, 0, &error);
        if (failed(error) || !range)
            return std::nullopt;
        const std::pair<gint, gint> out{std::min(range->start_offset, range->end_offset),
                                        std::max(range->start_offset, range->end_offset)};
        g_free(range);
        return out;
    }
    qint64 toUtf16(const QString &content, qint64 native) const
    {
        return m_units.offsetsUtf16 ? native : codePointsToUtf16(content, native);
    }
    qint64 toNative(const QString &content, qint64 utf16) const
    {
        return m_units.offsetsUtf16 ? utf16 : utf16ToCodePoints(content, utf16);
    }

    GObjectRef<AtspiAccessible> m_obj;
    Units m_units;
    GObjectRef<AtspiText> m_text;
    GObjectRef<AtspiEditableText> m_editable;
};

// Depth-first search for the object with the FOCUSED state; returns a new reference or null.
AtspiAccessible *findFocusedIn(AtspiAccessible *obj, int depth, int &visited)
{
    if (depth > kMaxDepth || ++visited > kMaxVisited)
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
    if (failed(error))
        return nullptr;
    for (gint i = 0; i < count; ++i) {
        GObjectRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(obj, i, &error));
        if (failed(error) || !child)
            continue;
        if (AtspiAccessible *found = findFocusedIn(child.ptr, depth + 1, visited))
            return found;
    }
    return nullptr;
}

} // namespace

AtspiAccessibility::AtspiAccessibility(std::function<qint64()> focusedProcess)
    : m_focusedProcess(std::move(focusedProcess))
{
}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Get"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().first().value<QDBusVariant>().variant().toBool();
}

bool AtspiAccessibility::requestTrust()
{
    QDBusMessage call = a11yStatusCall(QStringLiteral("Set"));
    call << QStringLiteral("org.a11y.Status") << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(true));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage)
        qCWarning(lcAtspi) << "cannot enable the accessibility bus:" << reply.errorMessage();
    return isProcessTrusted();
}

bool AtspiAccessibility::ensureInitialised()
{
    if (m_initialised)
        return true;
    if (m_initFailed)
        return false;
    const int status = atspi_init();
    if (status > 1) {
        m_initFailed = true;
        qCWarning(lcAtspi) << "cannot reach the accessibility bus";
        return false;
    }
    atspi_set_timeout(kCallTimeoutMs, kCallTimeoutMs * 2);
    m_initialised = true;
    return true;
}

std::unique_ptr<Accessibility::Element> AtspiAccessibility::focusedElement()
{
    if (!ensureInitialised())
        return nullptr;
    // When the window system names the focused process, only its tree is asked: another application's
    // leftover FOCUSED state must never receive the text. Without a name, the active window decides.
    return findFocused(m_focusedProcess ? m_focusedProcess() : 0);
}

std::unique_ptr<Accessibility::Element> AtspiAccessibility::findFocused(qint64 onlyPid)
{
    GError *error = nullptr;
    GObjectRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (!desktop)
        return nullptr;
    const gint apps = atspi_accessible_get_child_count(desktop.ptr, &error);
    if (failed(error))
        return nullptr;
    // libatspi's cache stays on: with it off, its own event handlers make remote calls from inside our calls
    // and the connection deadlocks. The cache is kept current by the events the main loop dispatches.
    const guint self = static_cast<guint>(getpid());
    for (gint a = 0; a < apps; ++a) {
        GObjectRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.ptr, a, &error));
        if (failed(error) || !app)
            continue;
        // Asking our own tree from the main thread would block until the timeout: we answer on this thread.
        const guint pid = atspi_accessible_get_process_id(app.ptr, &error);
        if (failed(error) || pid == self || (onlyPid > 0 && pid != onlyPid))
            continue;
        const gint windows = atspi_accessible_get_child_count(app.ptr, &error);
        if (failed(error))
            continue;
        for (gint w = 0; w < windows; ++w) {
            GObjectRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app.ptr, w, &error));
            if (failed(error) || !window || !hasState(window.ptr, ATSPI_STATE_ACTIVE))
                continue;
            int visited = 0;
            AtspiAccessible *focused = findFocusedIn(window.ptr, 1, visited);
            if (!focused)
                continue;
            const QString toolkit = takeString(atspi_accessible_get_toolkit_name(app.ptr, &error));
            failed(error);
            return std::make_unique<AtspiElement>(focused, unitsForToolkit(toolkit));
        }
    }
    return nullptr;
}
