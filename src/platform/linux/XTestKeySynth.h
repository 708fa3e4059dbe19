#pragma once

#include "platform/KeySynth.h"

#include <QString>

typedef struct _XDisplay Display;

// Synthetic keys through the XTest extension on the X display of the session. Command maps to Control, so the
// macOS paste chord becomes Ctrl+V (Ctrl+Shift+V with Shift, as terminals want it).
class XTestKeySynth final : public KeySynth
{
public:
    XTestKeySynth();
    ~XTestKeySynth() override;
    XTestKeySynth(const XTestKeySynth &) = delete;
    XTestKeySynth &operator=(const XTestKeySynth &) = delete;

    bool isAvailable() const { return m_display != nullptr; }
    bool postKey(quint16 keyCode, quint64 flags, bool keyDown) override;
    bool focusedWindowIsTerminal() override;

    // The process owning the window with the input focus (_NET_WM_PID), or 0 when the window does not say.
    qint64 focusedWindowPid();
    // The WM_CLASS class (or, failing that, instance) name of the window with the input focus, lower-case.
    QString focusedWindowClass();

private:
    Display *m_display = nullptr;
};
