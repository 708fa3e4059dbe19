#include "app/pages/VoxleSettingsView.h"

#include "app/pages/HotkeyCaptureSheet.h"
#include "app/widgets/VoxleKeyValueRow.h"
#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"
#include "app/widgets/VoxleStyle.h"
#include "core/VoxleAppState.h"
#include "hotkeys/FnRoleKeyPreference.h"
#include "platform/SettingsOpener.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoro/QCoroTask>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kCaptureSubtitle = QStringLiteral("按下你想要的按键。松开确认；ESC 取消。");

QLabel *explanationLabel(QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QStringLiteral("voxleExplanation"));
    label->setWordWrap(true);
    return label;
}

// The pickers carry each choice's value with its label: what is chosen is read back as a value.
template <typename Enum> void select(QComboBox *picker, Enum value)
{
    picker->setCurrentIndex(picker->findData(static_cast<int>(value)));
}

template <typename Enum> Enum chosen(const QComboBox *picker, int index)
{
    return static_cast<Enum>(picker->itemData(index).toInt());
}

QCoro::Task<> requestMicrophone(VoxleAppState *state)
{
    co_await state->requestMicrophoneAccess();
}
} // namespace

VoxleSettingsView::VoxleSettingsView(VoxleAppState &state, UserDefaults &defaults, SettingsOpener &settings,
                                     WindowKeyTranslator::Factory keys, QWidget *parent)
    : QWidget(parent), m_state(state), m_defaults(defaults), m_settings(settings),
      m_capture([keys = std::move(keys)](QWidget *parent, const QString &title, FnRoleKey fnRoleKey) {
          return HotkeyCaptureSheet::capture(parent, title, kCaptureSubtitle, keys(fnRoleKey));
      })
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("设置"), QStringLiteral("热键、模型、语言与权限"), this));
    page->addWidget(setupHotkeys());
    page->addWidget(setupLanguages());
    page->addWidget(setupLiveText());
    page->addWidget(setupPermissions());
    page->addStretch(1);
    setupConnections();
    refresh();
}

VoxleSectionCard *VoxleSettingsView::setupHotkeys()
{
    auto *hotkeys = new VoxleSectionCard(QStringLiteral("热键"), this);
    auto *schemeForm = new QFormLayout;
    m_scheme = new QComboBox(hotkeys);
    for (HotkeyScheme scheme : allHotkeySchemes())
        m_scheme->addItem(label(scheme), static_cast<int>(scheme));
    schemeForm->addRow(QStringLiteral("热键方案"), m_scheme);
    m_fnRoleKey = new QComboBox(hotkeys);
    for (FnRoleKey key : FnRoleKeys::all())
        m_fnRoleKey->addItem(FnRoleKeys::label(key), static_cast<int>(key));
    select(m_fnRoleKey, FnRoleKeyPreference::read(m_defaults));
    schemeForm->addRow(QStringLiteral("充当 Fn 的按键"), m_fnRoleKey);
    hotkeys->body()->addLayout(schemeForm);
    m_explanation = explanationLabel(hotkeys);
    hotkeys->body()->addWidget(m_explanation);

    m_modifierBox = new QWidget(hotkeys);
    auto *modifierForm = new QFormLayout(m_modifierBox);
    modifierForm->setContentsMargins(0, 0, 0, 0);
    for (const QString &name : {QStringLiteral("Fn"), QStringLiteral("Control（⌃）"), QStringLiteral("Command（⌘）")}) {
        auto *picker = new QComboBox(m_modifierBox);
        for (HotkeyAction action : allHotkeyActions())
            picker->addItem(label(action), static_cast<int>(action));
        modifierForm->addRow(name, picker);
        m_modifierPickers << picker;
    }
    hotkeys->body()->addWidget(m_modifierBox);

    m_customBox = new QWidget(hotkeys);
    auto *customLayout = new QVBoxLayout(m_customBox);
    customLayout->setContentsMargins(0, 0, 0, 0);
    for (const QString &name : {QStringLiteral("语音输入"), QStringLiteral("润色"), QStringLiteral("翻译")}) {
        const auto type = static_cast<HotkeyCaptureType>(m_bindingRows.size());
        auto *row = new VoxleKeyValueRow(name, {}, m_customBox);
        auto *set = new QPushButton(QStringLiteral("设置…"), row);
        auto *clear = new QPushButton(QStringLiteral("清除"), row);
        VoxleStyle::makeSecondary(set);
        VoxleStyle::makeSecondary(clear);
        row->addTrailing(set);
        row->addTrailing(clear);
        connect(set, &QPushButton::clicked, this, [this, type] { capture(type); });
        connect(clear, &QPushButton::clicked, this, [this, type] { setBinding(type, std::nullopt); });
        customLayout->addWidget(row);
        m_bindingRows << row;
        m_setButtons << set;
        m_clearButtons << clear;
    }
    hotkeys->body()->addWidget(m_customBox);
    return hotkeys;
}

VoxleSectionCard *VoxleSettingsView::setupLanguages()
{
    auto *languages = new VoxleSectionCard(QStringLiteral("语言"), this);
    auto *languageForm = new QFormLayout;
    m_speechLanguage = new QComboBox(languages);
    for (SpeechLanguage language : allSpeechLanguages())
        m_speechLanguage->addItem(label(language), static_cast<int>(language));
    m_translationTarget = new QComboBox(languages);
    for (TranslationTargetLanguage language : allTranslationTargetLanguages())
        m_translationTarget->addItem(label(language), static_cast<int>(language));
    languageForm->addRow(QStringLiteral("语音语言"), m_speechLanguage);
    languageForm->addRow(QStringLiteral("翻译到"), m_translationTarget);
    languages->body()->addLayout(languageForm);
    return languages;
}

// Live text through the input method.
VoxleSectionCard *VoxleSettingsView::setupLiveText()
{
    const VoxlePreferences &prefs = m_state.preferences();
    auto *inputMethod = new VoxleSectionCard(QStringLiteral("输入法"), this);
    auto *liveText = new QCheckBox(QStringLiteral("实时显示识别文字"), inputMethod);
    liveText->setToolTip(
        QStringLiteral("说话时，识别中的文字以输入法预编辑的形式显示在输入框里（需要 Fcitx5 与 Voxle 插件）"));
    liveText->setChecked(prefs.liveTextPreedit());
    inputMethod->body()->addWidget(liveText);
    connect(liveText, &QCheckBox::toggled, this, [this](bool on) { m_state.preferences().setLiveTextPreedit(on); });
    connect(&prefs, &VoxlePreferences::liveTextPreeditChanged, liveText, [this, liveText]() {
        const QSignalBlocker block(liveText);
        liveText->setChecked(m_state.preferences().liveTextPreedit());
    });
    return inputMethod;
}

VoxleSectionCard *VoxleSettingsView::setupPermissions()
{
    auto *permissions = new VoxleSectionCard(QStringLiteral("权限配置"), this);
    for (const QString &name : {QStringLiteral("麦克风权限"), QStringLiteral("输入监控"), QStringLiteral("辅助功能")}) {
        const int index = static_cast<int>(m_permissionRows.size());
        auto *row = new VoxleKeyValueRow(name, {}, permissions);
        auto *button = new QPushButton(row);
        VoxleStyle::makeSecondary(button);
        row->addTrailing(button);
        connect(button, &QPushButton::clicked, this, [this, index] { pressPermission(index); });
        permissions->body()->addWidget(row);
        m_permissionRows << row;
        m_permissionButtons << button;
    }
    return permissions;
}

void VoxleSettingsView::setupConnections()
{
    VoxlePreferences &prefs = m_state.preferences();
    // Controls write the preferences; the preferences' signals bring every control back in step.
    connect(m_scheme, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_refreshing && index >= 0)
            m_state.preferences().setHotkeyScheme(chosen<HotkeyScheme>(m_scheme, index));
    });
    using ActionSetter = void (VoxlePreferences::*)(HotkeyAction);
    const ActionSetter setters[] = {&VoxlePreferences::setModifierFnAction, &VoxlePreferences::setModifierControlAction,
                                    &VoxlePreferences::setModifierCommandAction};
    for (int i = 0; i < 3; ++i) {
        connect(m_modifierPickers.at(i), &QComboBox::currentIndexChanged, this,
                [this, i, setter = setters[i]](int index) {
                    if (!m_refreshing && index >= 0)
                        (m_state.preferences().*setter)(chosen<HotkeyAction>(m_modifierPickers.at(i), index));
                });
    }
    connect(m_fnRoleKey, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_refreshing || index < 0)
            return;
        const auto key = chosen<FnRoleKey>(m_fnRoleKey, index);
        FnRoleKeyPreference::write(m_defaults, key);
        emit fnRoleKeyChanged(key);
    });
    connect(m_speechLanguage, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_refreshing && index >= 0)
            m_state.preferences().setSpeechLanguage(chosen<SpeechLanguage>(m_speechLanguage, index));
    });
    connect(m_translationTarget, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_refreshing && index >= 0)
            m_state.preferences().setTranslationTargetLanguage(
                chosen<TranslationTargetLanguage>(m_translationTarget, index));
    });

    for (auto signal : {&VoxlePreferences::hotkeySchemeChanged, &VoxlePreferences::bindingsChanged,
                        &VoxlePreferences::modifierActionsChanged, &VoxlePreferences::speechLanguageChanged,
                        &VoxlePreferences::translationTargetLanguageChanged})
        connect(&prefs, signal, this, &VoxleSettingsView::refresh);
    connect(&m_state, &VoxleAppState::labelsChanged, this, &VoxleSettingsView::refresh);
}

QString VoxleSettingsView::captureTitle(HotkeyCaptureType type)
{
    switch (type) {
    case HotkeyCaptureType::record:
        return QStringLiteral("设置语音输入热键");
    case HotkeyCaptureType::polish:
        return QStringLiteral("设置润色热键");
    case HotkeyCaptureType::translate:
        return QStringLiteral("设置翻译热键");
    }
    return {};
}

QString VoxleSettingsView::explanationText() const
{
    return m_explanation->text();
}

bool VoxleSettingsView::showsModifierActions() const
{
    return !m_modifierBox->isHidden();
}

bool VoxleSettingsView::showsCustomBindings() const
{
    return !m_customBox->isHidden();
}

QString VoxleSettingsView::bindingText(HotkeyCaptureType type) const
{
    return m_bindingRows.at(static_cast<int>(type))->value();
}

void VoxleSettingsView::refresh()
{
    const VoxlePreferences &prefs = m_state.preferences();
    m_refreshing = true;
    const HotkeyScheme scheme = prefs.hotkeyScheme();
    select(m_scheme, scheme);
    switch (scheme) {
    case HotkeyScheme::fn:
        m_explanation->setText(
            QStringLiteral("说明：Fn 方案固定为：单击 Fn 开始/结束润色；Fn + ⇧（左）开始/结束翻译。"));
        break;
    case HotkeyScheme::modifiers:
        m_explanation->setText(
            QStringLiteral("说明：仅在“单独点击并松开”修饰键时触发；如果按住修饰键期间又按了其他键（例如 "
                           "⌘C/⌃A），不会触发热键。此方案固定为「点击切换（Toggle）」。"));
        break;
    case HotkeyScheme::custom:
        m_explanation->setText(QStringLiteral("说明：请按下键盘上的单键（支持单独设置 Fn/⌃/⌥/⌘/⇧）。"));
        break;
    }
    m_modifierBox->setVisible(scheme == HotkeyScheme::modifiers);
    m_customBox->setVisible(scheme == HotkeyScheme::custom);

    const HotkeyAction actions[] = {prefs.modifierFnAction(), prefs.modifierControlAction(),
                                    prefs.modifierCommandAction()};
    for (int i = 0; i < 3; ++i)
        select(m_modifierPickers.at(i), actions[i]);

    const std::optional<HotkeyBinding> bindings[] = {prefs.recordHotkey(), prefs.polishHotkey(),
                                                     prefs.translateHotkey()};
    for (int i = 0; i < 3; ++i)
        m_bindingRows.at(i)->setValue(bindings[i] ? displayText(*bindings[i], false) : QStringLiteral("未设置"));

    select(m_speechLanguage, prefs.speechLanguage());
    select(m_translationTarget, prefs.translationTargetLanguage());

    using Permission = VoxleAppState::Permission;
    const QString labels[] = {m_state.microphonePermissionLabel(), m_state.inputMonitoringPermissionLabel(),
                              m_state.accessibilityPermissionLabel()};
    const bool requestable[] = {m_state.microphonePermission() == MicrophoneAccess::Status::notDetermined,
                                m_state.inputMonitoringPermission() == Permission::notGranted,
                                m_state.accessibilityPermission() == Permission::notGranted};
    const QString openTexts[] = {QStringLiteral("打开麦克风权限设置"), QStringLiteral("打开输入监控权限设置"),
                                 QStringLiteral("打开辅助功能权限设置")};
    for (int i = 0; i < 3; ++i) {
        m_permissionRows.at(i)->setValue(labels[i]);
        m_permissionRequests[i] = requestable[i];
        m_permissionButtons.at(i)->setText(requestable[i] ? QStringLiteral("请求权限") : openTexts[i]);
    }
    m_refreshing = false;
}

void VoxleSettingsView::capture(HotkeyCaptureType type)
{
    if (m_hotkeyCaptureType || !m_capture)
        return;
    m_hotkeyCaptureType = type;
    const std::optional<HotkeyBinding> binding =
        m_capture(window(), captureTitle(type), FnRoleKeyPreference::read(m_defaults));
    m_hotkeyCaptureType.reset();
    // Cancelling only closes the sheet.
    if (binding)
        setBinding(type, binding);
}

void VoxleSettingsView::setBinding(HotkeyCaptureType type, std::optional<HotkeyBinding> binding)
{
    VoxlePreferences &prefs = m_state.preferences();
    switch (type) {
    case HotkeyCaptureType::record:
        prefs.setRecordHotkey(binding);
        break;
    case HotkeyCaptureType::polish:
        prefs.setPolishHotkey(binding);
        break;
    case HotkeyCaptureType::translate:
        prefs.setTranslateHotkey(binding);
        break;
    }
}

void VoxleSettingsView::pressPermission(int index)
{
    const bool request = m_permissionRequests[index];
    static const SettingsOpener::Pane panes[] = {
        SettingsOpener::Pane::microphone, SettingsOpener::Pane::inputMonitoring, SettingsOpener::Pane::accessibility};
    if (!request) {
        m_settings.open(panes[index]);
        return;
    }
    if (index == 0)
        requestMicrophone(&m_state);
    else if (index == 1)
        m_state.requestInputMonitoring();
    else
        m_state.requestAccessibility();
}
