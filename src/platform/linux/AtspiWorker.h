#pragma once

#include "platform/Accessibility.h"

#include <QObject>
#include <atomic>
#include <functional>

typedef struct _AtspiAccessible AtspiAccessible;
typedef struct _AtspiEventListener AtspiEventListener;

// The AT-SPI side of AtspiAccessibility: every libatspi call of the process happens on this object's thread.
// It follows the desktop's focus events and runs the jobs.
class AtspiWorker final : public QObject
{
public:
    explicit AtspiWorker(std::function<qint64()> focusedProcess);
    ~AtspiWorker() override;

    void run(const Accessibility::Job &job);

    // The object the focus events last named, or null. Owned by the worker.
    AtspiAccessible *focused() const { return m_focused; }
    void setFocused(AtspiAccessible *object);
    void focusLeft(AtspiAccessible *object);
    // A focus event named object as focused.
    void focusEntered(AtspiAccessible *object);
    // Where focusEntered publishes an identity of the element (see AtspiAccessibility::focusIdentity).
    void setFocusIdentity(std::atomic<quint64> *identity) { m_focusIdentity = identity; }
    AtspiAccessible *findFocused(bool &unanswered);
    // The bus's IsEnabled, asked again only after a while once it was true.
    bool trusted();

private:
    bool ensureInitialised();

    std::function<qint64()> m_focusedProcess;
    AtspiAccessible *m_focused = nullptr;
    AtspiEventListener *m_listener = nullptr;
    std::atomic<quint64> *m_focusIdentity = nullptr;
    qint64 m_trustedAtMs = -1;
    bool m_initialised = false;
    bool m_initFailed = false;
};
