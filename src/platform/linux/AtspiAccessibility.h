#pragma once

#include "platform/Accessibility.h"

#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>

class AtspiWorker;

// Accessibility over AT-SPI 2. "Trusted" means the desktop's accessibility bus is enabled (org.a11y.Status
// IsEnabled): without it Qt applications export no tree. The prompt enables it.
//
// libatspi is not thread-safe and its calls wait as long as the application they ask: all of it, the focus
// listener included, lives on one thread of its own ("voxle.atspi"), and jobs run there one at a time.
class AtspiAccessibility final : public Accessibility
{
public:
    // focusedProcess names the process whose window has the keyboard focus (0 when unknown), e.g. from the
    // window system; it is asked from the accessibility thread, so it must be safe to call from any thread.
    // The focused element is what the desktop's focus events last named; when none has been seen, the search
    // looks in that process's tree first.
    explicit AtspiAccessibility(std::function<qint64()> focusedProcess = {});
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility &) = delete;
    AtspiAccessibility &operator=(const AtspiAccessibility &) = delete;

    bool isProcessTrusted() override;
    bool requestTrust() override;
    void post(Job job, std::function<void()> done) override;

    // Starts following the desktop's focus events now rather than at the first job.
    void followFocus();
    // An identity of the element the focus events last named as focused, 0 before any named one; a focus
    // leaving it does not clear it. Where no window system says where the focus is (Wayland), it tells
    // whether the focus has moved. Callable from any thread.
    quint64 focusIdentity() const { return m_focusIdentity.load(); }

private:
    std::atomic<quint64> m_focusIdentity{0};
    QThread m_thread;
    AtspiWorker *m_worker = nullptr; // lives on m_thread, deleted when it finishes
    QObject m_context;               // receives the done calls on the caller's thread
};
