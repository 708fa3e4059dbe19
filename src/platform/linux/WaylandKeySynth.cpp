#include "platform/linux/WaylandKeySynth.h"

#include "base/Logging.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QStringList>

namespace {
Q_LOGGING_CATEGORY(lcWaylandKeys, "app.voxle.desktop.WaylandKeys", defaultLogThreshold())

QString keyName(quint16 keyCode)
{
    switch (keyCode) {
    case 9:
        return QStringLiteral("v");
    case 8:
        return QStringLiteral("c");
    case 0:
        return QStringLiteral("a");
    case 36:
        return QStringLiteral("Return");
    case KeySynth::keyInsert:
        return QStringLiteral("Insert");
    default:
        return {};
    }
}
} // namespace

WaylandKeySynth::WaylandKeySynth(std::function<quint64()> focus, QString program)
    : m_focus(std::move(focus)), m_program(std::move(program))
{
}

bool WaylandKeySynth::postKey(quint16 keyCode, quint64 flags, bool keyDown)
{
    if (!keyDown)
        return std::exchange(m_typed, false);
    m_typed = false;
    const QString key = keyName(keyCode);
    if (key.isEmpty())
        return false;
    QStringList modifiers;
    if (flags & (flagCommand | 0x40000))
        modifiers << QStringLiteral("ctrl");
    if (flags & flagShift)
        modifiers << QStringLiteral("shift");
    if (flags & 0x80000)
        modifiers << QStringLiteral("alt");
    QStringList args;
    for (const QString &m : std::as_const(modifiers))
        args << QStringLiteral("-M") << m;
    args << QStringLiteral("-k") << key;
    for (const QString &m : std::as_const(modifiers))
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
        wtype.kill();
        wtype.waitForFinished(typeBoundMs);
        return false;
    }
    if (wtype.exitStatus() != QProcess::NormalExit || wtype.exitCode() != 0) {
        qCWarning(lcWaylandKeys) << "the compositor offers no virtual keyboard:"
                                 << wtype.readAllStandardError().trimmed();
        return false;
    }
    m_typed = true;
    return true;
}
