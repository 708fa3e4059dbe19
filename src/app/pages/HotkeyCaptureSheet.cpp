#include "app/pages/HotkeyCaptureSheet.h"

#include "app/widgets/VoxleStyle.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

HotkeyCaptureSheet::HotkeyCaptureSheet(const QString &title, const QString &subtitle,
                                       std::unique_ptr<WindowKeyTranslator> keys, QWidget *parent)
    : QDialog(parent), m_keys(std::move(keys))
{
    setWindowTitle(title);
    setModal(true);
    setFixedWidth(520);
    m_logic.onKeyDown = [this](quint16 keyCode, int modifiers, bool) { onKeyDown(keyCode, modifiers); };
    m_logic.onFlagsChanged = [this](int modifiers) {
        m_currentModifiers = modifiers;
        m_modifiersLabel->setText(KeyCaptureLogic::modifierSymbols(modifiers));
    };

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);

    auto *titleLabel = new QLabel(title, this);
    QFont titleFont = titleLabel->font();
    titleFont.setPointSize(15);
    titleFont.setBold(true);
    titleLabel->setFont(titleFont);
    auto *subtitleLabel = new QLabel(subtitle, this);
    subtitleLabel->setWordWrap(true);

    auto *modifiersRow = new QHBoxLayout;
    auto *modifiersCaption = new QLabel(QStringLiteral("当前修饰键"), this);
    m_modifiersLabel = new QLabel(KeyCaptureLogic::modifierSymbols(0), this);
    QFont symbolFont = m_modifiersLabel->font();
    symbolFont.setPointSize(13);
    symbolFont.setWeight(QFont::Medium);
    m_modifiersLabel->setFont(symbolFont);
    modifiersRow->addWidget(modifiersCaption);
    modifiersRow->addWidget(m_modifiersLabel);
    modifiersRow->addStretch();

    // The invisible view that holds the keyboard focus for the whole sheet.
    m_captureView = new QWidget(this);
    m_captureView->setFixedSize(1, 1);
    m_captureView->setFocusPolicy(Qt::StrongFocus);
    m_captureView->setAttribute(Qt::WA_InputMethodEnabled, false);
    m_captureView->installEventFilter(this);

    m_cancelButton = new QPushButton(QStringLiteral("取消"), this);
    VoxleStyle::makeSecondary(m_cancelButton);
    // The button must never take the focus away from the capture view (Space or Return would press it).
    m_cancelButton->setFocusPolicy(Qt::NoFocus);
    m_cancelButton->setAutoDefault(false);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch();
    buttonRow->addWidget(m_cancelButton);

    column->addWidget(titleLabel);
    column->addWidget(subtitleLabel);
    column->addLayout(modifiersRow);
    column->addWidget(m_captureView);
    column->addLayout(buttonRow);
    setFocusProxy(m_captureView);
}

std::optional<HotkeyBinding> HotkeyCaptureSheet::capture(QWidget *parent, const QString &title, const QString &subtitle,
                                                         std::unique_ptr<WindowKeyTranslator> keys)
{
    HotkeyCaptureSheet sheet(title, subtitle, std::move(keys), parent);
    if (sheet.exec() != QDialog::Accepted)
        return std::nullopt;
    return sheet.capturedBinding();
}

void HotkeyCaptureSheet::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    m_captureView->setFocus(Qt::OtherFocusReason);
}

bool HotkeyCaptureSheet::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_captureView)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Every key belongs to the capture, shortcuts included.
        event->accept();
        return true;
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        handleKeyEvent(static_cast<QKeyEvent *>(event));
        return true;
    case QEvent::FocusOut:
        if (!m_finished && isVisible())
            m_captureView->setFocus(Qt::OtherFocusReason);
        return false;
    default:
        return false;
    }
}

void HotkeyCaptureSheet::handleKeyEvent(QKeyEvent *event)
{
    if (m_finished)
        return;
    const bool down = event->type() == QEvent::KeyPress;
    // X11 repeats a held key as release/press pairs; only the presses carry meaning (as repeats).
    if (!down && event->isAutoRepeat())
        return;
    const std::optional<KeyTapEvent> tapEvent =
        m_keys->translate(WindowKey{down, event->key(), event->nativeScanCode(), event->nativeVirtualKey()});
    if (tapEvent)
        m_logic.handle(*tapEvent);
}

void HotkeyCaptureSheet::onKeyDown(quint16 keyCode, int modifiers)
{
    if (m_finished)
        return;
    m_finished = true;
    if (keyCode == KeyTap::keyEscape) {
        reject();
        return;
    }
    m_captured = HotkeyBinding{keyCode, modifiers};
    emit captured(*m_captured);
    accept();
}
