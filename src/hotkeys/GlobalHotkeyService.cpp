#include "hotkeys/GlobalHotkeyService.h"

#include "diagnostics/DebugEvent.h"

#include <QJsonObject>
#include <QPointer>

namespace {
const QString kStartLocation = QStringLiteral("GlobalHotkeyService.start");
const QString kFlagsLocation = QStringLiteral("GlobalHotkeyService.handleEvent(flagsChanged)");
const QString kKeyLocation = QStringLiteral("GlobalHotkeyService.handleEvent(key)");
const QString kKeyDownLocation = QStringLiteral("GlobalHotkeyService.handleEvent(keyDown)");
const QString kStartTag = QStringLiteral("A");
const QString kEventTag = QStringLiteral("B");

constexpr quint64 kCustomModifierMask = 0x9E0000; // Fn, Command, Option, Control, Shift

bool has(quint64 flags, quint64 mask)
{
    return (flags & mask) != 0;
}

bool isBusy(HotkeyHost::DictationStatus status)
{
    return status == HotkeyHost::DictationStatus::recording || status == HotkeyHost::DictationStatus::processing;
}

bool bindingMatches(const HotkeyBinding &b, quint16 keyCode, quint64 flags)
{
    // AltGr is no Mac modifier, but a held one makes the key type something else: an extra modifier.
    return b.keyCode == keyCode && !has(flags, KeyTap::flagAltGr) &&
           has(flags, KeyTap::flagCommand) == b.has(HotkeyBinding::command) &&
           has(flags, KeyTap::flagOption) == b.has(HotkeyBinding::option) &&
           has(flags, KeyTap::flagControl) == b.has(HotkeyBinding::control) &&
           has(flags, KeyTap::flagShift) == b.has(HotkeyBinding::shift);
}

void appendUnique(QList<KeyCombo> &list, const KeyCombo &combo)
{
    if (!list.contains(combo))
        list << combo;
}
} // namespace

GlobalHotkeyService::GlobalHotkeyService(HotkeyHost &state, KeyEventTap &tap, Clock &clock, QObject *parent)
    : QObject(parent), m_state(state), m_tap(tap), m_clock(clock)
{
}

GlobalHotkeyService::~GlobalHotkeyService()
{
    cancelPendingFnStart();
}

void GlobalHotkeyService::start()
{
    if (m_tapCreated)
        return;
    const HotkeyScheme scheme = m_state.hotkeyScheme();
    const bool granted = m_tap.inputMonitoringGranted();
    sendDebugEvent(kStartLocation, QStringLiteral("[DEBUG] hotkey service start"), kStartTag,
                   QJsonObject{{QStringLiteral("preflightListenEventAccess"), granted},
                               {QStringLiteral("scheme"), label(scheme)}});
    // Asking for the permission belongs to onboarding and settings.
    if (!granted)
        return;

    // A dead service answers like a tap without user data: the event goes on unchanged.
    const KeyEventTap::Handler handler = [self = QPointer<GlobalHotkeyService>(this)](const KeyTapEvent &event) {
        return self ? self->handleEvent(event) : KeyTapVerdict::pass;
    };
    // Every scheme filters: the Fn stand-in is a real key that the focused window would act on (Menu opens a
    // context menu and takes the focus the text is meant for), even where only modifier taps are listened to.
    bool created = m_tap.create(KeyEventTap::Mode::activeFilter, handler);
    if (!created) {
        created = m_tap.create(KeyEventTap::Mode::listenOnly, handler);
        m_isListenOnlyTap = created;
    }
    if (m_isListenOnlyTap)
        sendDebugEvent(kStartLocation, QStringLiteral("[DEBUG] event tap created in listenOnly mode"), kStartTag);
    if (!created) {
        sendDebugEvent(kStartLocation, QStringLiteral("[DEBUG] CGEvent.tapCreate failed"), kStartTag,
                       QJsonObject{{QStringLiteral("listenEventAccess"), granted}});
        m_state.showError(QStringLiteral("无法启用全局热键：系统拒绝创建键盘监听（即使已开启「输入监控」也可能失败）。"
                                         "可尝试关闭 App Sandbox，或改用「自定义组合键」方案。"));
        return;
    }
    m_tapCreated = true;
    m_tap.enable();
    sendDebugEvent(kStartLocation, QStringLiteral("[DEBUG] event tap enabled"), kStartTag,
                   QJsonObject{{QStringLiteral("listenOnly"), m_isListenOnlyTap}});
    refreshSwallowCandidates();
}

KeyTapVerdict GlobalHotkeyService::handleEvent(const KeyTapEvent &event)
{
    KeyTapVerdict verdict = KeyTapVerdict::pass;
    switch (event.type) {
    case KeyTap::keyDown: {
        bool claimed = false;
        if (event.keyCode == KeyTap::keyEscape)
            verdict = escapeRule(event, claimed);
        if (!claimed)
            verdict = keyRule(event);
        break;
    }
    case KeyTap::keyUp:
        verdict = keyRule(event);
        break;
    case KeyTap::flagsChanged:
        verdict = flagsRule(event);
        break;
    default:
        break;
    }
    refreshSwallowCandidates();
    return verdict;
}

KeyTapVerdict GlobalHotkeyService::swallow() const
{
    return m_isListenOnlyTap ? KeyTapVerdict::pass : KeyTapVerdict::swallow;
}

KeyTapVerdict GlobalHotkeyService::escapeRule(const KeyTapEvent &, bool &claimed)
{
    claimed = false;
    if (!isBusy(m_state.hotkeyStatus()))
        return KeyTapVerdict::pass;
    // Posted, so that the tap callback returns before the teardown runs.
    QMetaObject::invokeMethod(
        this, [this] { m_state.cancelRecording(); }, Qt::QueuedConnection);
    claimed = true;
    return swallow();
}

KeyTapVerdict GlobalHotkeyService::keyRule(const KeyTapEvent &event)
{
    const HotkeyScheme scheme = m_state.hotkeyScheme();
    sendDebugEvent(kKeyLocation, QStringLiteral("[DEBUG] key event"), kEventTag,
                   QJsonObject{{QStringLiteral("scheme"), label(scheme)},
                               {QStringLiteral("type"), event.type},
                               {QStringLiteral("keyCode"), event.keyCode},
                               {QStringLiteral("fn"), has(event.flags, KeyTap::flagFn)},
                               {QStringLiteral("shift"), has(event.flags, KeyTap::flagShift)},
                               {QStringLiteral("control"), has(event.flags, KeyTap::flagControl)},
                               {QStringLiteral("command"), has(event.flags, KeyTap::flagCommand)},
                               {QStringLiteral("isRepeat"), event.autorepeat}});
    const bool freshKeyDown = event.type == KeyTap::keyDown && !event.autorepeat;
    switch (scheme) {
    case HotkeyScheme::modifiers:
        if (freshKeyDown) {
            if (m_fnTapCandidate)
                m_fnTapCanceled = true;
            if (m_controlTapCandidate)
                m_controlTapCanceled = true;
            if (m_commandTapCandidate)
                m_commandTapCanceled = true;
        }
        return KeyTapVerdict::pass;
    case HotkeyScheme::fn:
        if (freshKeyDown && event.keyCode == KeyTap::keySpace && has(event.flags, KeyTap::flagFn)) {
            cancelPendingFnStart();
            sendDebugEvent(kKeyDownLocation, QStringLiteral("[DEBUG] fn + space trigger"), kEventTag,
                           QJsonObject{{QStringLiteral("keyCode"), event.keyCode}});
            m_state.performHotkeyAction(HotkeyAction::record);
            return swallow();
        }
        return KeyTapVerdict::pass;
    case HotkeyScheme::custom:
        if (event.type == KeyTap::keyDown)
            m_keyPressOccurredForCustom = true;
        return runBindingHandler(event.keyCode, event.flags, event.type, event.autorepeat) ? swallow()
                                                                                           : KeyTapVerdict::pass;
    }
    return KeyTapVerdict::pass;
}

bool GlobalHotkeyService::runBindingHandler(quint16 keyCode, quint64 flags, int type, bool autorepeat)
{
    if (type != KeyTap::keyDown || autorepeat)
        return false;
    struct Candidate {
        std::optional<HotkeyBinding> binding;
        HotkeyAction action;
    };
    const Candidate candidates[] = {
        {m_state.translateHotkey(), HotkeyAction::translate},
        {m_state.polishHotkey(), HotkeyAction::polish},
        {m_state.recordHotkey(), HotkeyAction::record},
    };
    for (const Candidate &c : candidates) {
        if (!c.binding || !bindingMatches(*c.binding, keyCode, flags))
            continue;
        m_state.performHotkeyAction(c.action);
        return true;
    }
    return false;
}

KeyTapVerdict GlobalHotkeyService::flagsRule(const KeyTapEvent &event)
{
    const quint16 keyCode = event.keyCode;
    const quint64 flags = event.flags;
    if (!KeyTap::isModifierKeyCode(keyCode)) {
        m_controlTapCanceled = true;
        m_commandTapCanceled = true;
    }
    const HotkeyScheme scheme = m_state.hotkeyScheme();
    sendDebugEvent(kFlagsLocation, QStringLiteral("[DEBUG] flagsChanged"), kEventTag,
                   QJsonObject{{QStringLiteral("scheme"), label(scheme)},
                               {QStringLiteral("keyCode"), keyCode},
                               {QStringLiteral("fn"), has(flags, KeyTap::flagFn)},
                               {QStringLiteral("shift"), has(flags, KeyTap::flagShift)},
                               {QStringLiteral("control"), has(flags, KeyTap::flagControl)},
                               {QStringLiteral("command"), has(flags, KeyTap::flagCommand)}});
    const bool fnNow = has(flags, KeyTap::flagFn);

    switch (scheme) {
    case HotkeyScheme::modifiers: {
        struct Modifier {
            quint64 mask;
            bool &down;
            bool &candidate;
            bool &canceled;
            HotkeyAction action;
        };
        Modifier modifiers[] = {
            {KeyTap::flagFn, m_fnDown, m_fnTapCandidate, m_fnTapCanceled, m_state.modifierFnAction()},
            {KeyTap::flagControl, m_controlDown, m_controlTapCandidate, m_controlTapCanceled,
             m_state.modifierControlAction()},
            {KeyTap::flagCommand, m_commandDown, m_commandTapCandidate, m_commandTapCanceled,
             m_state.modifierCommandAction()},
        };
        for (Modifier &m : modifiers) {
            const bool set = has(flags, m.mask);
            if (set && !m.down) {
                m.down = true;
                m.candidate = true;
                m.canceled = false; // read only at the release of this press
            } else if (!set && m.down) {
                m.down = false;
                if (m.candidate && !m.canceled)
                    m_state.performHotkeyAction(m.action);
                m.candidate = false;
            }
        }
        return KeyTapVerdict::pass;
    }
    case HotkeyScheme::fn: {
        const bool shift = has(flags, KeyTap::flagShift);
        sendDebugEvent(kFlagsLocation, QStringLiteral("[DEBUG] fn-scheme flagsChanged evaluated"), kEventTag,
                       QJsonObject{{QStringLiteral("keyCode"), keyCode},
                                   {QStringLiteral("fnNow"), fnNow},
                                   {QStringLiteral("shift"), shift}});
        if (!fnNow) {
            // Releasing Fn neither cancels a pending start nor stops anything.
            if (keyCode == KeyTap::keyFn && m_fnDown)
                m_fnDown = false;
            return KeyTapVerdict::pass;
        }
        if (keyCode == KeyTap::keyFn) {
            if (m_fnDown)
                return KeyTapVerdict::pass;
            const HotkeyHost::DictationStatus status = m_state.hotkeyStatus();
            sendDebugEvent(kFlagsLocation, QStringLiteral("[DEBUG] fn edge detected"), kEventTag,
                           QJsonObject{{QStringLiteral("keyCode"), keyCode},
                                       {QStringLiteral("fnNow"), fnNow},
                                       {QStringLiteral("fnDown"), m_fnDown},
                                       {QStringLiteral("status"), label(status)}});
            m_fnDown = true;
            cancelPendingFnStart();
            if (status == HotkeyHost::DictationStatus::recording) {
                const DictationMode mode = m_state.activeDictationMode();
                m_state.toggleRecordingFromHotkey(mode);
                sendDebugEvent(kFlagsLocation, QStringLiteral("[DEBUG] fn stop recording"), kEventTag,
                               QJsonObject{{QStringLiteral("activeMode"), label(mode)}});
                return KeyTapVerdict::pass;
            }
            const QPointer<GlobalHotkeyService> self(this);
            m_pendingFnStart = m_clock.schedule(fnAloneDelayMs, [self] {
                if (self)
                    self->firePendingFnStart();
            });
            return KeyTapVerdict::pass;
        }
        if (keyCode == KeyTap::keyShift && shift) {
            cancelPendingFnStart();
            sendDebugEvent(kFlagsLocation, QStringLiteral("[DEBUG] fn + left shift trigger"), kEventTag,
                           QJsonObject{{QStringLiteral("keyCode"), keyCode}});
            m_state.performHotkeyAction(HotkeyAction::translate);
        }
        return KeyTapVerdict::pass;
    }
    case HotkeyScheme::custom: {
        const quint64 cur = flags & kCustomModifierMask;
        const quint64 prev = m_lastFlagsForCustom & kCustomModifierMask;
        if ((prev & flags & kCustomModifierMask) != cur) {
            // A modifier went down.
            m_keyPressOccurredForCustom = false;
            m_lastFlagsForCustom = flags;
            m_fnDown = fnNow;
            return KeyTapVerdict::pass;
        }
        if (cur == prev || m_keyPressOccurredForCustom) {
            m_lastFlagsForCustom = flags;
            m_fnDown = fnNow;
            return KeyTapVerdict::pass;
        }
        // A modifier came up with nothing typed since the last one went down: modifier-only bindings fire here.
        const bool fired = runBindingHandler(keyCode, cur, KeyTap::keyDown, false);
        m_lastFlagsForCustom = flags;
        m_fnDown = fnNow;
        return fired ? swallow() : KeyTapVerdict::pass;
    }
    }
    return KeyTapVerdict::pass;
}

void GlobalHotkeyService::cancelPendingFnStart()
{
    if (m_pendingFnStart != 0) {
        m_clock.cancelTimer(m_pendingFnStart);
        m_pendingFnStart = 0;
    }
}

void GlobalHotkeyService::firePendingFnStart()
{
    m_pendingFnStart = 0;
    if (m_state.hotkeyScheme() != HotkeyScheme::fn)
        return;
    m_state.performHotkeyAction(HotkeyAction::polish);
}

QList<KeyCombo> GlobalHotkeyService::swallowCandidates() const
{
    QList<KeyCombo> combos;
    if (!m_tapCreated || m_isListenOnlyTap)
        return combos;
    const KeyCombo fnRole{KeyTap::keyFn, 0, true, true};
    if (isBusy(m_state.hotkeyStatus()))
        appendUnique(combos, KeyCombo{KeyTap::keyEscape, 0, true, true});
    switch (m_state.hotkeyScheme()) {
    case HotkeyScheme::fn:
        // The Fn stand-in is the product's own key; the focused application never sees it, as with a real Fn.
        appendUnique(combos, fnRole);
        if (m_fnDown)
            appendUnique(combos, KeyCombo{KeyTap::keySpace, 0, true});
        break;
    case HotkeyScheme::modifiers:
        if (m_state.modifierFnAction() != HotkeyAction::off)
            appendUnique(combos, fnRole);
        break;
    case HotkeyScheme::custom:
        for (const std::optional<HotkeyBinding> &b :
             {m_state.translateHotkey(), m_state.polishHotkey(), m_state.recordHotkey()}) {
            if (!b)
                continue;
            if (b->keyCode == KeyTap::keyFn)
                appendUnique(combos, fnRole);
            else
                appendUnique(combos, KeyCombo{b->keyCode, b->modifiers & 0xF, false});
        }
        break;
    }
    return combos;
}

void GlobalHotkeyService::refreshSwallowCandidates()
{
    if (!m_tapCreated)
        return;
    const QList<KeyCombo> combos = swallowCandidates();
    if (combos == m_announced)
        return;
    m_announced = combos;
    m_tap.setSwallowCandidates(combos);
}
