#pragma once

#include "base/VoxleTypes.h"
#include "hotkeys/KeyCaptureLogic.h"
#include "platform/WindowKeyTranslator.h"

#include <QDialog>
#include <memory>
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
    // `keys` places the window's key events as the global key tap would see them.
    HotkeyCaptureSheet(const QString &title, const QString &subtitle, std::unique_ptr<WindowKeyTranslator> keys,
                       QWidget *parent = nullptr);

    // Opens the sheet modally over `parent` and waits: the binding, or nothing when cancelled.
    static std::optional<HotkeyBinding> capture(QWidget *parent, const QString &title, const QString &subtitle,
                                                std::unique_ptr<WindowKeyTranslator> keys);

    int currentModifiers() const { return m_currentModifiers; }
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

    std::unique_ptr<WindowKeyTranslator> m_keys;
    KeyCaptureLogic m_logic;
    int m_currentModifiers = 0;
    std::optional<HotkeyBinding> m_captured;
    bool m_finished = false;

    QWidget *m_captureView;
    QLabel *m_modifiersLabel;
    QPushButton *m_cancelButton;
};
