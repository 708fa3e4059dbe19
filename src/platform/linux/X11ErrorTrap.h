#pragma once

typedef struct _XDisplay Display;

// Xlib's error handler is one for the whole process, and its default ends the program. Errors on the
// connections registered here (a window that closed while we looked at it or answered it) are expected and
// ignored; errors on any other connection go to the handler that was installed before.
class X11ErrorTrap
{
public:
    static void ignoreErrorsOn(Display *display);
    static void stopIgnoring(Display *display);
};
