#pragma once

#include "platform/KeySynth.h"

#include <QList>
#include <QString>
#include <mutex>

typedef struct _XDisplay Display;

// Synthetic keys through the XTest extension on the X display of the session. Command maps to Control, so the
// macOS paste chord becomes Ctrl+V (Ctrl+Shift+V with Shift, as terminals want it). The key is found in the
// keyboard group active at that moment, so the chord is V whatever layout the user switched to. Thread-safe:
// one connection of its own, used under a lock.
class XTestKeySynth final : public KeySynth
{
public:
    XTestKeySynth();
    ~XTestKeySynth() override;
    XTestKeySynth(const XTestKeySynth &) = delete;
    XTestKeySynth &operator=(const XTestKeySynth &) = delete;

    bool isAvailable() const { return m_display != nullptr; }
    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    quint64 focusedWindow() override;
    PasteChord pasteChordForFocusedWindow() override;
    bool modifiersHeld() override;

    // The process owning the window with the input focus (_NET_WM_PID), or 0 when the window does not say.
    qint64 focusedWindowPid();
    // The WM_CLASS class (or, failing that, instance) name of the window with the input focus, lower-case.
    QString focusedWindowClass();

private:
    unsigned int keycodeFor(quint16 keyCode);
    QList<unsigned int> heldModifierKeycodes();

    std::recursive_mutex m_mutex;
    Display *m_display = nullptr;
    // The key-down's keycode, so that its key-up lets go of the same key whatever happened in between.
    unsigned int m_downKeycode = 0;
    // Modifiers of the user's that were let go for a chord and are pressed again after it.
    QList<unsigned int> m_released;
};
