#pragma once

#include "base/VoxleTypes.h"
#include "platform/WindowKeyTranslator.h"

#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;
class QLabel;
class QPushButton;
class SettingsOpener;
class UserDefaults;
class VoxleAppState;
class VoxleKeyValueRow;
class VoxleSectionCard;

// Settings: the hotkey scheme with its explanation and controls (modifier actions, or the three custom bindings
// recorded with the capture sheet), the key that plays Fn, the languages, and the three permissions.
class VoxleSettingsView : public QWidget
{
    Q_OBJECT
public:
    enum class HotkeyCaptureType { record, polish, translate };
    // Records one binding over `parent` with the given sheet title: the binding, or nothing when cancelled.
    using CaptureBinding =
        std::function<std::optional<HotkeyBinding>(QWidget *parent, const QString &title, FnRoleKey fnRoleKey)>;

    // `keys` gives the capture sheet its key translator.
    VoxleSettingsView(VoxleAppState &state, UserDefaults &defaults, SettingsOpener &settings,
                      WindowKeyTranslator::Factory keys, QWidget *parent = nullptr);

    // Replaces the capture sheet (tests answer without a modal dialog).
    void setCaptureBinding(CaptureBinding capture) { m_capture = std::move(capture); }
    static QString captureTitle(HotkeyCaptureType type);

    QString explanationText() const;
    bool showsModifierActions() const;
    bool showsCustomBindings() const;
    // The binding text shown in the custom row, "未设置" when absent.
    QString bindingText(HotkeyCaptureType type) const;
    std::optional<HotkeyCaptureType> hotkeyCaptureType() const { return m_hotkeyCaptureType; }

    QComboBox *schemePicker() const { return m_scheme; }
    QComboBox *modifierPicker(int index) const { return m_modifierPickers.at(index); }
    QComboBox *fnRoleKeyPicker() const { return m_fnRoleKey; }
    QComboBox *speechLanguagePicker() const { return m_speechLanguage; }
    QComboBox *translationTargetPicker() const { return m_translationTarget; }
    QPushButton *setButton(HotkeyCaptureType type) const { return m_setButtons.at(static_cast<int>(type)); }
    QPushButton *clearButton(HotkeyCaptureType type) const { return m_clearButtons.at(static_cast<int>(type)); }
    // The permission buttons: 0 microphone, 1 input monitoring, 2 accessibility.
    QPushButton *permissionButton(int index) const { return m_permissionButtons.at(index); }

signals:
    // The user chose another key to play Fn; it is already stored.
    void fnRoleKeyChanged(FnRoleKey key);

private:
    VoxleSectionCard *setupHotkeys();
    VoxleSectionCard *setupLanguages();
    VoxleSectionCard *setupLiveText();
    VoxleSectionCard *setupPermissions();
    void setupConnections();
    void refresh();
    void capture(HotkeyCaptureType type);
    void setBinding(HotkeyCaptureType type, std::optional<HotkeyBinding> binding);
    void pressPermission(int index);

    VoxleAppState &m_state;
    UserDefaults &m_defaults;
    SettingsOpener &m_settings;
    CaptureBinding m_capture;
    std::optional<HotkeyCaptureType> m_hotkeyCaptureType;
    bool m_refreshing = false;

    QComboBox *m_scheme = nullptr;
    QLabel *m_explanation = nullptr;
    QWidget *m_modifierBox = nullptr;
    QList<QComboBox *> m_modifierPickers;
    QWidget *m_customBox = nullptr;
    QList<VoxleKeyValueRow *> m_bindingRows;
    QList<QPushButton *> m_setButtons;
    QList<QPushButton *> m_clearButtons;
    QComboBox *m_fnRoleKey = nullptr;
    QComboBox *m_speechLanguage = nullptr;
    QComboBox *m_translationTarget = nullptr;
    QList<VoxleKeyValueRow *> m_permissionRows;
    QList<QPushButton *> m_permissionButtons;
    // Whether each permission button asks for the permission (else it opens the desktop's settings).
    bool m_permissionRequests[3] = {false, false, false};
};
