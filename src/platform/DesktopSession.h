#pragma once

#include <QtGlobal>

// The kind of graphical session the user runs, which decides how text reaches other applications: on Wayland
// an X connection (XWayland) sees only X clients, so the clipboard and the keys go through the compositor.
enum class DesktopSession { x11, wayland };

inline DesktopSession currentDesktopSession()
{
    // XDG_SESSION_TYPE is set by the login manager; WAYLAND_DISPLAY covers sessions started without one.
    const QByteArray type = qgetenv("XDG_SESSION_TYPE");
    if (type == "wayland" || (type != "x11" && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")))
        return DesktopSession::wayland;
    return DesktopSession::x11;
}
