#include "platform/linux/X11ErrorTrap.h"

#include <array>
#include <atomic>
#include <mutex>

#include <X11/Xlib.h>

namespace {
std::mutex g_mutex;
std::array<std::atomic<Display *>, 8> g_displays{};
XErrorHandler g_previous = nullptr;
bool g_installed = false;

int handler(Display *display, XErrorEvent *event)
{
    for (const auto &d : g_displays) {
        if (d.load() == display)
            return 0;
    }
    return g_previous ? g_previous(display, event) : 0;
}
} // namespace

void X11ErrorTrap::ignoreErrorsOn(Display *display)
{
    const std::lock_guard lock(g_mutex);
    for (auto &d : g_displays) {
        Display *empty = nullptr;
        if (d.compare_exchange_strong(empty, display))
            break;
    }
    if (!g_installed) {
        g_previous = XSetErrorHandler(handler);
        g_installed = true;
    }
}

void X11ErrorTrap::stopIgnoring(Display *display)
{
    const std::lock_guard lock(g_mutex);
    for (auto &d : g_displays) {
        Display *expected = display;
        d.compare_exchange_strong(expected, nullptr);
    }
}
