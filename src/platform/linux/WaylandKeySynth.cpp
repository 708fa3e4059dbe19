#include "platform/linux/WaylandKeySynth.h"

#include "base/Logging.h"
#include "platform/linux/RemoteDesktopKeyboard.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <array>

namespace {
Q_LOGGING_CATEGORY(lcWaylandKeys, "app.voxle.desktop.WaylandKeys", defaultLogThreshold())

struct Key {
    quint16 macKeyCode;
    const char *name; // the keysym, for wtype
    int evdev;        // the key's place on a US keyboard, for the portal
};
constexpr std::array<Key, 5> kKeys{
    {{9, "v", 47}, {8, "c", 46}, {0, "a", 30}, {36, "Return", 28}, {114, "Insert", 110}}};

struct Modifier {
    quint64 flags;
    const char *name;
    int evdev;
};
constexpr quint64 kControl = 0x40000;
constexpr quint64 kOption = 0x80000;
constexpr std::array<Modifier, 3> kModifiers{
    {{KeySynth::flagCommand | kControl, "ctrl", 29}, {KeySynth::flagShift, "shift", 42}, {kOption, "alt", 56}}};

const Key *keyFor(quint16 macKeyCode)
{
    for (const Key &key : kKeys) {
        if (key.macKeyCode == macKeyCode)
            return &key;
    }
    return nullptr;
}
} // namespace

WaylandKeySynth::WaylandKeySynth(std::function<quint64()> focus, QString program, RemoteDesktopKeyboard *portal)
    : m_focus(std::move(focus)), m_program(std::move(program)), m_portal(portal)
{
}

bool WaylandKeySynth::postKey(quint16 keyCode, quint64 flags, bool keyDown)
{
    const Key *key = keyFor(keyCode);
    if (!key)
        return false;
    if (m_portal && m_portal->state() == RemoteDesktopKeyboard::State::running)
        return sendThroughPortal(keyCode, flags, keyDown);
    if (!keyDown)
        return std::exchange(m_typed, false);
    m_typed = false;
    if (m_wtypeWorks) {
        QStringList modifiers;
        for (const Modifier &m : kModifiers) {
            if (flags & m.flags)
                modifiers << QString::fromLatin1(m.name);
        }
        m_typed = type(QString::fromLatin1(key->name), modifiers);
        if (m_typed)
            return true;
    }
    if (m_portal && m_portal->state() == RemoteDesktopKeyboard::State::available)
        m_portal->start();
    return false;
}

bool WaylandKeySynth::sendThroughPortal(quint16 keyCode, quint64 flags, bool keyDown)
{
    // Modifiers down before the key and up after it.
    QList<int> codes;
    for (const Modifier &m : kModifiers) {
        if (flags & m.flags)
            codes << m.evdev;
    }
    bool sent = true;
    if (keyDown) {
        codes << keyFor(keyCode)->evdev;
    } else {
        std::reverse(codes.begin(), codes.end());
        codes.prepend(keyFor(keyCode)->evdev);
    }
    for (int code : std::as_const(codes))
        sent = m_portal->sendKey(code, keyDown) && sent;
    return sent;
}

bool WaylandKeySynth::type(const QString &key, const QStringList &modifiers)
{
    QStringList args;
    for (const QString &m : modifiers)
        args << QStringLiteral("-M") << m;
    args << QStringLiteral("-k") << key;
    for (const QString &m : modifiers)
        args << QStringLiteral("-m") << m;
    // wtype's keymap holds only the keys it types, in order, and GTK 3 never looks up the highest keycode of a
    // keymap: a key after the chord's keeps the chord's key below it. VoidSymbol types nothing anywhere.
    args << QStringLiteral("-k") << QStringLiteral("VoidSymbol");

    // A short wait on the caller's thread, bounded: the answer must be true only when the key was typed.
    QProcess wtype;
    wtype.setStandardOutputFile(QProcess::nullDevice());
    wtype.start(m_program, args);
    if (!wtype.waitForFinished(typeBoundMs)) {
        qCWarning(lcWaylandKeys) << "cannot type a key:" << wtype.errorString();
        m_wtypeWorks = wtype.error() != QProcess::FailedToStart;
        wtype.kill();
        wtype.waitForFinished(typeBoundMs);
        return false;
    }
    if (wtype.exitStatus() != QProcess::NormalExit || wtype.exitCode() != 0) {
        qCWarning(lcWaylandKeys) << "the compositor offers no virtual keyboard:"
                                 << wtype.readAllStandardError().trimmed();
        m_wtypeWorks = false;
        return false;
    }
    return true;
}
