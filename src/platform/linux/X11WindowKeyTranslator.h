#pragma once

#include "platform/WindowKeyTranslator.h"
#include "platform/linux/X11KeyTranslator.h"

// Window key events in X11 terms: the X key code and keysym from the event's native data (the same numbers the
// X key tap reads); for synthesised events without native data, the keysym follows from the Qt key and the key
// code is where a US keyboard has it.
class X11WindowKeyTranslator final : public WindowKeyTranslator
{
public:
    explicit X11WindowKeyTranslator(FnRoleKey fnRoleKey = FnRoleKeys::defaultKey);
    static std::unique_ptr<WindowKeyTranslator> create(FnRoleKey fnRoleKey);

    std::optional<KeyTapEvent> translate(const WindowKey &key) override;

    // The keysym a US keyboard's key carries unshifted for a Qt key, or 0.
    static quint32 keysymForQtKey(int qtKey);

private:
    X11KeyTranslator m_translator;
};
