#pragma once

#include "platform/WindowKeyTranslator.h"

#include <QList>

// Answers each window key with the next scripted event (nothing once the script runs out) and records the keys.
class FakeWindowKeyTranslator final : public WindowKeyTranslator
{
public:
    std::optional<KeyTapEvent> translate(const WindowKey &key) override;

    QList<std::optional<KeyTapEvent>> script;
    QList<WindowKey> keys;
};
