#include "platform/fake/FakeWindowKeyTranslator.h"

std::optional<KeyTapEvent> FakeWindowKeyTranslator::translate(const WindowKey &key)
{
    keys.append(key);
    return script.isEmpty() ? std::nullopt : script.takeFirst();
}
