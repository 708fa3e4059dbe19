#include "core/VoxlePreferences.h"

#include "platform/UserDefaults.h"

VoxlePreferences::VoxlePreferences(UserDefaults &defaults, QObject *parent) : QObject(parent), m_defaults(defaults)
{
}

void VoxlePreferences::load()
{
    // Setting the scheme resets the trigger mode: the stored one is never read, every launch starts in toggle.
    setHotkeyScheme(parseHotkeyScheme(m_defaults.string(kHotkeyScheme).value_or(QString())).value_or(HotkeyScheme::fn));

    loadBinding(kRecordBinding, &VoxlePreferences::setRecordHotkey);
    loadBinding(kPolishBinding, &VoxlePreferences::setPolishHotkey);
    loadBinding(kTranslateBinding, &VoxlePreferences::setTranslateHotkey);

    loadAction(kModifierFnAction, &VoxlePreferences::setModifierFnAction);
    loadAction(kModifierControlAction, &VoxlePreferences::setModifierControlAction);
    loadAction(kModifierCommandAction, &VoxlePreferences::setModifierCommandAction);

    setPolishEnabled(m_defaults.boolean(kPolishEnabled).value_or(false));
    // Read only: nothing is stored for it until the user changes it.
    m_liveTextPreedit = m_defaults.boolean(kLiveTextPreedit).value_or(false);
    emit liveTextPreeditChanged();

    if (const auto stored = m_defaults.string(kTranslationTarget)) {
        if (const auto language = parseTranslationTargetLanguageLabel(*stored))
            setTranslationTargetLanguage(*language);
    }

    if (const auto stored = m_defaults.boolean(kUseProxy))
        setUseProxy(*stored);

    // A value this version does not know keeps everything, as nothing was chosen.
    setHistoryRetention(parseHistoryRetention(m_defaults.string(kHistoryRetention).value_or(QString()))
                            .value_or(VoxleHistoryRetention::keepForever));
}

void VoxlePreferences::loadBinding(const QString &key, void (VoxlePreferences::*setter)(std::optional<HotkeyBinding>))
{
    const auto data = m_defaults.data(key);
    if (!data)
        return;
    if (const auto binding = HotkeyBinding::fromStorageJson(*data))
        (this->*setter)(binding);
}

void VoxlePreferences::loadAction(const QString &key, void (VoxlePreferences::*setter)(HotkeyAction))
{
    if (const auto action = parseHotkeyAction(m_defaults.string(key).value_or(QString())))
        (this->*setter)(*action);
}

void VoxlePreferences::setHotkeyScheme(HotkeyScheme scheme)
{
    m_hotkeyScheme = scheme;
    m_defaults.setString(kHotkeyScheme, id(scheme));
    emit hotkeySchemeChanged();
    setTriggerMode(RecordingTriggerMode::toggle);
}

void VoxlePreferences::setTriggerMode(RecordingTriggerMode mode)
{
    m_triggerMode = mode;
    m_defaults.setString(kTriggerMode, id(mode));
    emit triggerModeChanged();
}

void VoxlePreferences::storeBinding(const QString &key, const std::optional<HotkeyBinding> &binding)
{
    if (binding)
        m_defaults.setData(key, binding->toStorageJson());
    else
        m_defaults.remove(key);
    emit bindingsChanged();
}

void VoxlePreferences::setRecordHotkey(std::optional<HotkeyBinding> binding)
{
    m_recordHotkey = binding;
    storeBinding(kRecordBinding, binding);
}

void VoxlePreferences::setPolishHotkey(std::optional<HotkeyBinding> binding)
{
    m_polishHotkey = binding;
    storeBinding(kPolishBinding, binding);
}

void VoxlePreferences::setTranslateHotkey(std::optional<HotkeyBinding> binding)
{
    m_translateHotkey = binding;
    storeBinding(kTranslateBinding, binding);
}

void VoxlePreferences::setModifierFnAction(HotkeyAction action)
{
    m_modifierFnAction = action;
    m_defaults.setString(kModifierFnAction, id(action));
    emit modifierActionsChanged();
}

void VoxlePreferences::setModifierControlAction(HotkeyAction action)
{
    m_modifierControlAction = action;
    m_defaults.setString(kModifierControlAction, id(action));
    emit modifierActionsChanged();
}

void VoxlePreferences::setModifierCommandAction(HotkeyAction action)
{
    m_modifierCommandAction = action;
    m_defaults.setString(kModifierCommandAction, id(action));
    emit modifierActionsChanged();
}

void VoxlePreferences::setPolishEnabled(bool enabled)
{
    m_polishEnabled = enabled;
    m_defaultModeLabel = enabled ? QStringLiteral("润色听写") : QStringLiteral("仅听写");
    m_defaults.setBool(kPolishEnabled, enabled);
    emit polishEnabledChanged();
}

void VoxlePreferences::setLiveTextPreedit(bool enabled)
{
    m_liveTextPreedit = enabled;
    m_defaults.setBool(kLiveTextPreedit, enabled);
    emit liveTextPreeditChanged();
}

void VoxlePreferences::setUseProxy(bool useProxy)
{
    m_useProxy = useProxy;
    m_defaults.setBool(kUseProxy, useProxy);
    emit useProxyChanged();
}

void VoxlePreferences::setTranslationTargetLanguage(TranslationTargetLanguage language)
{
    m_translationTarget = language;
    m_defaults.setString(kTranslationTarget, label(language));
    emit translationTargetLanguageChanged();
}

void VoxlePreferences::setHistoryRetention(VoxleHistoryRetention retention)
{
    m_historyRetention = retention;
    m_defaults.setString(kHistoryRetention, rawValue(retention));
    emit historyRetentionChanged();
}

void VoxlePreferences::setSpeechLanguage(SpeechLanguage language)
{
    m_speechLanguage = language;
    emit speechLanguageChanged();
}

void VoxlePreferences::setAudioInputGain(double gain)
{
    m_audioInputGain = gain;
    emit audioInputGainChanged();
}

void VoxlePreferences::setSelection(VoxleSection section)
{
    m_selection = section;
    emit selectionChanged();
}

QString VoxlePreferences::polishHotkeyLabel() const
{
    switch (m_hotkeyScheme) {
    case HotkeyScheme::fn:
        return QStringLiteral("Fn");
    case HotkeyScheme::modifiers:
        return QStringLiteral("Fn/⌃/⌘");
    case HotkeyScheme::custom:
        return m_polishHotkey ? displayText(*m_polishHotkey, false) : QStringLiteral("未设置");
    }
    return {};
}

QString VoxlePreferences::translateHotkeyLabel() const
{
    switch (m_hotkeyScheme) {
    case HotkeyScheme::fn:
        return QStringLiteral("Fn + ⇧（左）");
    case HotkeyScheme::modifiers:
        return QStringLiteral("Fn/⌃/⌘");
    case HotkeyScheme::custom:
        return m_translateHotkey ? displayText(*m_translateHotkey, false) : QStringLiteral("未设置");
    }
    return {};
}
