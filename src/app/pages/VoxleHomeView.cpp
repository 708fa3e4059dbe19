#include "app/pages/VoxleHomeView.h"

#include "app/widgets/VoxleKeyValueRow.h"
#include "app/widgets/VoxlePageHeader.h"
#include "app/widgets/VoxleSectionCard.h"
#include "app/widgets/VoxleStyle.h"
#include "core/VoxleAppState.h"
#include "platform/SettingsOpener.h"

#include <QClipboard>
#include <QCoro/QCoroTask>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <tuple>

namespace {
QString bindingText(const std::optional<HotkeyBinding> &binding)
{
    return binding ? displayText(*binding, false) : QStringLiteral("未设置");
}

QCoro::Task<> requestMicrophone(VoxleAppState *state)
{
    co_await state->requestMicrophoneAccess();
}
} // namespace

VoxleHomeView::VoxleHomeView(VoxleAppState &state, SettingsOpener &settings, QWidget *parent)
    : QWidget(parent), m_state(state), m_settings(settings)
{
    auto *page = new QVBoxLayout(this);
    page->setSpacing(16);
    page->addWidget(new VoxlePageHeader(QStringLiteral("言川 Voxle"), QStringLiteral("智能听写，开口即成文"), this));

    page->addWidget(setupStatus());
    page->addWidget(setupQuickActions());
    page->addStretch(1);
    setupConnections();
    refresh();
}

VoxleSectionCard *VoxleHomeView::setupStatus()
{
    auto *status = new VoxleSectionCard(QStringLiteral("状态"), this);
    for (const QString &key : {QStringLiteral("应用状态"), QStringLiteral("默认模式"), QStringLiteral("服务器"),
                               QStringLiteral("麦克风"), QStringLiteral("最近网络错误"), QStringLiteral("流式确认")}) {
        auto *row = new VoxleKeyValueRow(key, {}, status);
        status->body()->addWidget(row);
        m_rows << row;
    }
    m_mic = addPermissionRow(status, QStringLiteral("麦克风权限"));
    m_input = addPermissionRow(status, QStringLiteral("输入监控"));
    m_access = addPermissionRow(status, QStringLiteral("辅助功能"));
    return status;
}

VoxleSectionCard *VoxleHomeView::setupQuickActions()
{
    auto *quick = new VoxleSectionCard(QStringLiteral("快速入口"), this);
    auto *buttons = new QHBoxLayout;
    m_record = new QPushButton(QStringLiteral("开始录音"), quick);
    VoxleStyle::makePrimary(m_record);
    connect(m_record, &QPushButton::clicked, this, [this] { m_state.toggleRecording(); });
    auto *openSettings = new QPushButton(QStringLiteral("打开设置"), quick);
    VoxleStyle::makeSecondary(openSettings);
    connect(openSettings, &QPushButton::clicked, this,
            [this] { m_state.preferences().setSelection(VoxleSection::settings); });
    buttons->addWidget(m_record);
    buttons->addWidget(openSettings);
    buttons->addStretch(1);
    quick->body()->addLayout(buttons);
    auto *explanation = new QLabel(
        QStringLiteral("开始录音会启动真实麦克风采集，并尝试连接 DashScope 流式 ASR。热键模式需要「输入监控」"
                       "权限；按钮录音不需要输入监控。"),
        quick);
    explanation->setObjectName(QStringLiteral("voxleExplanation"));
    explanation->setWordWrap(true);
    quick->body()->addWidget(explanation);
    m_hotkeyLine = new QLabel(quick);
    m_hotkeyLine->setObjectName(QStringLiteral("voxleExplanation"));
    m_hotkeyLine->setWordWrap(true);
    quick->body()->addWidget(m_hotkeyLine);
    m_desktopLine = new QLabel(quick);
    m_desktopLine->setObjectName(QStringLiteral("voxleExplanation"));
    m_desktopLine->setWordWrap(true);
    m_desktopLine->hide();
    quick->body()->addWidget(m_desktopLine);
    m_copyCommands = new QPushButton(QStringLiteral("复制快捷键命令"), quick);
    VoxleStyle::makeSecondary(m_copyCommands);
    m_copyCommands->hide();
    connect(m_copyCommands, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_commands); });
    quick->body()->addWidget(m_copyCommands, 0, Qt::AlignLeft);
    return quick;
}

void VoxleHomeView::setupConnections()
{
    connect(m_mic.request, &QPushButton::clicked, this, [this] { requestMicrophone(&m_state); });
    connect(m_input.request, &QPushButton::clicked, this, [this] { m_state.requestInputMonitoring(); });
    connect(m_access.request, &QPushButton::clicked, this, [this] { m_state.requestAccessibility(); });
    connect(m_mic.openSettings, &QPushButton::clicked, this,
            [this] { m_settings.open(SettingsOpener::Pane::microphone); });
    connect(m_input.openSettings, &QPushButton::clicked, this,
            [this] { m_settings.open(SettingsOpener::Pane::inputMonitoring); });
    connect(m_access.openSettings, &QPushButton::clicked, this,
            [this] { m_settings.open(SettingsOpener::Pane::accessibility); });

    VoxlePreferences &prefs = m_state.preferences();
    connect(&m_state, &VoxleAppState::statusChanged, this, &VoxleHomeView::refresh);
    connect(&m_state, &VoxleAppState::labelsChanged, this, &VoxleHomeView::refresh);
    connect(&prefs, &VoxlePreferences::polishEnabledChanged, this, &VoxleHomeView::refresh);
    connect(&prefs, &VoxlePreferences::hotkeySchemeChanged, this, &VoxleHomeView::refresh);
    connect(&prefs, &VoxlePreferences::bindingsChanged, this, &VoxleHomeView::refresh);
    connect(&prefs, &VoxlePreferences::modifierActionsChanged, this, &VoxleHomeView::refresh);
}

VoxleHomeView::PermissionRow VoxleHomeView::addPermissionRow(QWidget *card, const QString &key)
{
    auto *row = new VoxleKeyValueRow(key, {}, card);
    auto *request = new QPushButton(QStringLiteral("请求权限"), row);
    auto *open = new QPushButton(QStringLiteral("去设置"), row);
    for (QPushButton *button : {request, open}) {
        button->setFixedWidth(72);
        VoxleStyle::makeSecondary(button);
        row->addTrailing(button);
    }
    static_cast<VoxleSectionCard *>(card)->body()->addWidget(row);
    m_rows << row;
    return {row, request, open};
}

QString VoxleHomeView::defaultHotkeyLine() const
{
    return m_hotkeyLine->text();
}

QString VoxleHomeView::rowValue(const QString &key) const
{
    for (VoxleKeyValueRow *row : m_rows) {
        if (row->key() == key)
            return row->value();
    }
    return {};
}

void VoxleHomeView::refresh()
{
    const VoxlePreferences &prefs = m_state.preferences();
    const QStringList values{m_state.statusLabel(),           prefs.defaultModeLabel(),
                             m_state.serverLabel(),           m_state.microphoneLabel(),
                             m_state.lastNetworkErrorLabel(), m_state.lastStreamingAckLabel()};
    for (int i = 0; i < values.size(); ++i)
        m_rows.at(i)->setValue(values.at(i));

    using Permission = VoxleAppState::Permission;
    const std::tuple<PermissionRow *, QString, bool> permissions[] = {
        {&m_mic, m_state.microphonePermissionLabel(),
         m_state.microphonePermission() == MicrophoneAccess::Status::authorized},
        {&m_input, m_state.inputMonitoringPermissionLabel(),
         m_state.inputMonitoringPermission() == Permission::granted},
        {&m_access, m_state.accessibilityPermissionLabel(), m_state.accessibilityPermission() == Permission::granted}};
    for (const auto &[permission, label, granted] : permissions) {
        permission->row->setValue(label);
        permission->request->setVisible(!granted);
        permission->openSettings->setVisible(!granted);
    }

    QString line;
    switch (prefs.hotkeyScheme()) {
    case HotkeyScheme::fn:
        line = QStringLiteral("默认热键：Fn + Space 开始/结束语音输入；Fn 润色；Fn + ⇧（左）翻译。");
        break;
    case HotkeyScheme::modifiers:
        line = QStringLiteral("默认热键（单击）：Fn ") + label(prefs.modifierFnAction()) + QStringLiteral("；⌃ ") +
               label(prefs.modifierControlAction()) + QStringLiteral("；⌘ ") + label(prefs.modifierCommandAction()) +
               QStringLiteral("。");
        break;
    case HotkeyScheme::custom:
        line = QStringLiteral("默认热键：") + bindingText(prefs.recordHotkey()) + QStringLiteral(" 开始/结束；") +
               bindingText(prefs.translateHotkey()) + QStringLiteral(" 翻译。");
        break;
    }
    m_hotkeyLine->setText(line);
}

void VoxleHomeView::setDesktop(const DesktopFacts &desktop)
{
    const QString fallback = QStringLiteral("文字经辅助功能或输入法输入；都不可用时会留在剪贴板，按 Ctrl+V 粘贴。");
    QString line;
    switch (desktop.session) {
    case DesktopFacts::Session::x11:
        line = QStringLiteral("当前桌面：X11。热键与自动输入均可直接使用。");
        break;
    case DesktopFacts::Session::wayland:
        line = desktop.shortcutsPortal
                   ? QStringLiteral("当前桌面：Wayland。听写快捷键由桌面的「全局快捷键」服务提供，可在系统设置中修改；"
                                    "Fn 与单击修饰键在此不可用。")
                   : QStringLiteral("当前桌面：Wayland。应用无法监听全局按键：请在系统设置的「键盘 → 自定义快捷键」中"
                                    "为以下命令指定按键：\n") +
                         desktop.shortcutCommands() + QLatin1Char('\n');
        line += fallback;
        break;
    case DesktopFacts::Session::other:
        break;
    }
    m_commands = desktop.shortcutCommands();
    m_desktopLine->setText(line);
    m_desktopLine->setVisible(!line.isEmpty());
    m_copyCommands->setVisible(desktop.session == DesktopFacts::Session::wayland && !desktop.shortcutsPortal);
}

QString VoxleHomeView::desktopLine() const
{
    return m_desktopLine->text();
}
