#pragma once

#include "base/VoxleTypes.h"
#include "hotkeys/KeyCaptureLogic.h"
#include "platform/KeyEventTap.h"
#include "platform/linux/X11KeyTranslator.h"

#include <QDialog>
#include <optional>

class QLabel;
class QPushButton;

// The modal sheet that records one hotkey binding for the custom scheme: any key with the modifiers held,
// or a modifier alone (confirmed on its release); Escape cancels. It only reports the binding (accept() with
// `captured`) or the cancel (reject()); the caller stores it. Works on the window's own key events, so no
// input-monitoring permission is needed.
class HotkeyCaptureSheet : public QDialog
{
    Q_OBJECT
public:
    HotkeyCaptureSheet(const QString &title, const QString &subtitle, FnRoleKey fnRoleKey = FnRoleKeys::defaultKey,
                       QWidget *parent = nullptr);

    // Opens the sheet modally over `parent` and waits: the binding, or nothing when cancelled.
    static std::optional<HotkeyBinding> capture(QWidget *parent, const QString &title, const QString &subtitle,
                                                FnRoleKey fnRoleKey = FnRoleKeys::defaultKey);

    int currentModifiers() const { return m_currentModifiers; }
    const std::optional<QString> &errorText() const { return m_errorText; }
    const std::optional<HotkeyBinding> &capturedBinding() const { return m_captured; }
    QWidget *captureView() const { return m_captureView; }
    QLabel *modifiersLabel() const { return m_modifiersLabel; }
    QPushButton *cancelButton() const { return m_cancelButton; }

signals:
    void captured(const HotkeyBinding &binding);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void handleKeyEvent(QKeyEvent *event);
    void onKeyDown(quint16 keyCode, int modifiers);
    void setErrorText(std::optional<QString> text);

    X11KeyTranslator m_translator;
    KeyCaptureLogic m_logic;
    int m_currentModifiers = 0;
    std::optional<QString> m_errorText;
    std::optional<HotkeyBinding> m_captured;
    bool m_finished = false;

    QWidget *m_captureView;
    QLabel *m_modifiersLabel;
    QLabel *m_errorLabel;
    QPushButton *m_cancelButton;
};
