#pragma once

#include "platform/Accessibility.h"

// Accessibility over AT-SPI 2. "Trusted" means the desktop's accessibility bus is enabled (org.a11y.Status
// IsEnabled): without it Qt applications export no tree. The prompt enables it.
class AtspiAccessibility final : public Accessibility
{
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility &) = delete;
    AtspiAccessibility &operator=(const AtspiAccessibility &) = delete;

    bool isProcessTrusted() override;
    bool requestTrust() override;
    std::unique_ptr<Element> focusedElement() override;

private:
    bool ensureInitialised();
    bool m_initialised = false;
    bool m_initFailed = false;
};
