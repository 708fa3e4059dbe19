#pragma once

#include "platform/Accessibility.h"

#include <functional>

// Accessibility over AT-SPI 2. "Trusted" means the desktop's accessibility bus is enabled (org.a11y.Status
// IsEnabled): without it Qt applications export no tree. The prompt enables it.
class AtspiAccessibility final : public Accessibility
{
public:
    // focusedProcess names the process whose window has the keyboard focus (0 when unknown), e.g. from the
    // window system; the search then looks in that application only, whatever states others report.
    explicit AtspiAccessibility(std::function<qint64()> focusedProcess = {});
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility &) = delete;
    AtspiAccessibility &operator=(const AtspiAccessibility &) = delete;

    bool isProcessTrusted() override;
    bool requestTrust() override;
    std::unique_ptr<Element> focusedElement() override;

private:
    bool ensureInitialised();
    std::unique_ptr<Element> findFocused(qint64 onlyPid);

    std::function<qint64()> m_focusedProcess;
    bool m_initialised = false;
    bool m_initFailed = false;
};
