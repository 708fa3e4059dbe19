#pragma once

#include "base/VoxleTypes.h"
#include "history/VoxleHistoryRetention.h"

#include <QObject>
#include <optional>

class UserDefaults;

// The user's dictation settings. Every assignment writes through to the user defaults by its change rule;
// there is no separate save step. Main thread only.
class VoxlePreferences : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool polishEnabled READ polishEnabled WRITE setPolishEnabled NOTIFY polishEnabledChanged)
    Q_PROPERTY(QString defaultModeLabel READ defaultModeLabel NOTIFY polishEnabledChanged)
    Q_PROPERTY(bool useProxy READ useProxy WRITE setUseProxy NOTIFY useProxyChanged)
    Q_PROPERTY(QString streamingAsrModel READ streamingAsrModel CONSTANT)
    Q_PROPERTY(double audioInputGain READ audioInputGain WRITE setAudioInputGain NOTIFY audioInputGainChanged)
    Q_PROPERTY(bool liveTextPreedit READ liveTextPreedit WRITE setLiveTextPreedit NOTIFY liveTextPreeditChanged)

public:
    // The stored keys.
    static inline const QString kHotkeyScheme = QStringLiteral("hotkey_scheme");
    static inline const QString kTriggerMode = QStringLiteral("hotkey_trigger_mode");
    static inline const QString kRecordBinding = QStringLiteral("hotkey_record_binding_json");
    static inline const QString kPolishBinding = QStringLiteral("hotkey_polish_binding_json");
    static inline const QString kTranslateBinding = QStringLiteral("hotkey_translate_binding_json");
    static inline const QString kModifierFnAction = QStringLiteral("hotkey_modifier_fn_action");
    static inline const QString kModifierControlAction = QStringLiteral("hotkey_modifier_control_action");
    static inline const QString kModifierCommandAction = QStringLiteral("hotkey_modifier_command_action");
    static inline const QString kPolishEnabled = QStringLiteral("polish_enabled");
    static inline const QString kUseProxy = QStringLiteral("use_proxy");
    static inline const QString kTranslationTarget = QStringLiteral("translation_target_language");
    static inline const QString kHistoryRetention = QStringLiteral("history_retention");
    static inline const QString kLiveTextPreedit = QStringLiteral("live_text_preedit");

    explicit VoxlePreferences(UserDefaults &defaults, QObject *parent = nullptr);

    // Reads the stored values in their fixed order; every property starts from its first-run value.
    void load();

    HotkeyScheme hotkeyScheme() const { return m_hotkeyScheme; }
    void setHotkeyScheme(HotkeyScheme scheme);
    RecordingTriggerMode triggerMode() const { return m_triggerMode; }
    void setTriggerMode(RecordingTriggerMode mode);

    std::optional<HotkeyBinding> recordHotkey() const { return m_recordHotkey; }
    std::optional<HotkeyBinding> polishHotkey() const { return m_polishHotkey; }
    std::optional<HotkeyBinding> translateHotkey() const { return m_translateHotkey; }
    void setRecordHotkey(std::optional<HotkeyBinding> binding);
    void setPolishHotkey(std::optional<HotkeyBinding> binding);
    void setTranslateHotkey(std::optional<HotkeyBinding> binding);

    HotkeyAction modifierFnAction() const { return m_modifierFnAction; }
    HotkeyAction modifierControlAction() const { return m_modifierControlAction; }
    HotkeyAction modifierCommandAction() const { return m_modifierCommandAction; }
    void setModifierFnAction(HotkeyAction action);
    void setModifierControlAction(HotkeyAction action);
    void setModifierCommandAction(HotkeyAction action);

    bool polishEnabled() const { return m_polishEnabled; }
    void setPolishEnabled(bool enabled);
    // Partial text shown in the focused field through the input method while recording; off by default.
    bool liveTextPreedit() const { return m_liveTextPreedit; }
    void setLiveTextPreedit(bool enabled);
    QString defaultModeLabel() const { return m_defaultModeLabel; }

    bool useProxy() const { return m_useProxy; }
    void setUseProxy(bool useProxy);

    TranslationTargetLanguage translationTargetLanguage() const { return m_translationTarget; }
    void setTranslationTargetLanguage(TranslationTargetLanguage language);

    // Stored as its raw value ("never", "hours24", "week1", "month1", "forever").
    VoxleHistoryRetention historyRetention() const { return m_historyRetention; }
    void setHistoryRetention(VoxleHistoryRetention retention);

    QString streamingAsrModel() const { return m_streamingAsrModel; }
    SpeechLanguage speechLanguage() const { return m_speechLanguage; }
    void setSpeechLanguage(SpeechLanguage language);
    double audioInputGain() const { return m_audioInputGain; }
    void setAudioInputGain(double gain);
    VoxleSection selection() const { return m_selection; }
    void setSelection(VoxleSection section);

    QString polishHotkeyLabel() const;
    QString translateHotkeyLabel() const;

signals:
    void hotkeySchemeChanged();
    void triggerModeChanged();
    void bindingsChanged();
    void modifierActionsChanged();
    void polishEnabledChanged();
    void liveTextPreeditChanged();
    void useProxyChanged();
    void translationTargetLanguageChanged();
    void historyRetentionChanged();
    void speechLanguageChanged();
    void audioInputGainChanged();
    void selectionChanged();

private:
    void storeBinding(const QString &key, const std::optional<HotkeyBinding> &binding);
    void loadBinding(const QString &key, void (VoxlePreferences::*setter)(std::optional<HotkeyBinding>));
    void loadAction(const QString &key, void (VoxlePreferences::*setter)(HotkeyAction));

    UserDefaults &m_defaults;

    HotkeyScheme m_hotkeyScheme = HotkeyScheme::fn;
    RecordingTriggerMode m_triggerMode = RecordingTriggerMode::toggle;
    std::optional<HotkeyBinding> m_recordHotkey;
    std::optional<HotkeyBinding> m_polishHotkey;
    std::optional<HotkeyBinding> m_translateHotkey;
    HotkeyAction m_modifierFnAction = HotkeyAction::record;
    HotkeyAction m_modifierControlAction = HotkeyAction::polish;
    HotkeyAction m_modifierCommandAction = HotkeyAction::translate;
    bool m_polishEnabled = false;
    bool m_liveTextPreedit = false;
    QString m_defaultModeLabel = QStringLiteral("仅听写");
    bool m_useProxy = true;
    TranslationTargetLanguage m_translationTarget = TranslationTargetLanguage::en;
    VoxleHistoryRetention m_historyRetention = VoxleHistoryRetention::keepForever;
    QString m_streamingAsrModel = QStringLiteral("fun-asr-realtime");
    SpeechLanguage m_speechLanguage = SpeechLanguage::zh;
    double m_audioInputGain = 1.0;
    VoxleSection m_selection = VoxleSection::account;
};
