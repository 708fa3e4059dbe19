#pragma once

#include "platform/GlobalShortcuts.h"

// A desktop's shortcut service driven by the test. Like the portal it answers a bind only later (when the
// test calls answerBind), binds once, and reports presses and releases only of the ids it bound, only after
// that answer.
class FakeGlobalShortcuts final : public GlobalShortcuts
{
public:
    void bind(const QList<Shortcut> &shortcuts) override;
    // The desktop's answer to the pending bind: every requested id bound to its preferred trigger.
    void answerBind();
    // A press or release of the key assigned to `id`; returns whether the program was told.
    bool press(const QString &id);
    bool release(const QString &id);

private:
    QList<Shortcut> m_requested;
};
