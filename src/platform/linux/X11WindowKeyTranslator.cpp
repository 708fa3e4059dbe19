#include "platform/linux/X11WindowKeyTranslator.h"

#include <QGuiApplication>
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <utility>

namespace {
constexpr std::pair<int, quint32> kSpecialKeys[] = {
    {Qt::Key_Escape, XK_Escape},
    {Qt::Key_Tab, XK_Tab},
    {Qt::Key_Backtab, XK_Tab},
    {Qt::Key_Backspace, XK_BackSpace},
    {Qt::Key_Return, XK_Return},
    {Qt::Key_Enter, XK_KP_Enter},
    {Qt::Key_Insert, XK_Insert},
    {Qt::Key_Delete, XK_Delete},
    {Qt::Key_Pause, XK_Pause},
    {Qt::Key_Home, XK_Home},
    {Qt::Key_End, XK_End},
    {Qt::Key_Left, XK_Left},
    {Qt::Key_Up, XK_Up},
    {Qt::Key_Right, XK_Right},
    {Qt::Key_Down, XK_Down},
    {Qt::Key_PageUp, XK_Prior},
    {Qt::Key_PageDown, XK_Next},
    {Qt::Key_Shift, XK_Shift_L},
    {Qt::Key_Control, XK_Control_L},
    {Qt::Key_Meta, XK_Super_L},
    {Qt::Key_Super_L, XK_Super_L},
    {Qt::Key_Super_R, XK_Super_R},
    {Qt::Key_Alt, XK_Alt_L},
    {Qt::Key_AltGr, XK_ISO_Level3_Shift},
    {Qt::Key_CapsLock, XK_Caps_Lock},
    {Qt::Key_ScrollLock, XK_Scroll_Lock},
    {Qt::Key_Menu, XK_Menu},
    {Qt::Key_Help, XK_Help},
};

// The first-level keysym of an X key code on the application's own X display, or 0 when not on X11.
quint32 firstLevelKeysym(quint32 xKeyCode)
{
#if QT_CONFIG(xcb)
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        if (Display *display = x11->display())
            return static_cast<quint32>(XkbKeycodeToKeysym(display, static_cast<KeyCode>(xKeyCode), 0, 0));
    }
#else
    Q_UNUSED(xKeyCode);
#endif
    return 0;
}
} // namespace

X11WindowKeyTranslator::X11WindowKeyTranslator(FnRoleKey fnRoleKey)
{
    m_translator.setFnRoleKey(fnRoleKey);
}

std::unique_ptr<WindowKeyTranslator> X11WindowKeyTranslator::create(FnRoleKey fnRoleKey)
{
    return std::make_unique<X11WindowKeyTranslator>(fnRoleKey);
}

quint32 X11WindowKeyTranslator::keysymForQtKey(int qtKey)
{
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return XK_a + quint32(qtKey - Qt::Key_A);
    // Latin-1 printable keys: Qt's key values are the keysyms.
    if (qtKey >= Qt::Key_Space && qtKey <= Qt::Key_AsciiTilde)
        return quint32(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return XK_F1 + quint32(qtKey - Qt::Key_F1);
    for (const auto &[key, sym] : kSpecialKeys) {
        if (key == qtKey)
            return sym;
    }
    return 0;
}

std::optional<KeyTapEvent> X11WindowKeyTranslator::translate(const WindowKey &key)
{
    quint32 xKeyCode = key.nativeScanCode;
    quint32 sym = 0;
    if (xKeyCode != 0) {
        // The keysym in the active layout group: it tells what a modifier key does there.
        sym = key.nativeVirtualKey;
        if (sym == 0)
            sym = firstLevelKeysym(xKeyCode);
        if (sym == 0)
            sym = keysymForQtKey(key.qtKey);
    } else {
        sym = keysymForQtKey(key.qtKey);
        if (sym == 0)
            return std::nullopt;
        xKeyCode = X11KeyTranslator::usKeyCodeForKeysym(sym).value_or(0);
    }
    return key.down ? m_translator.press(xKeyCode, sym) : m_translator.release(xKeyCode, sym);
}
