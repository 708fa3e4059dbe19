#pragma once

#include "platform/GlobalShortcuts.h"

#include <QStringList>

// A desktop's shortcut service driven by the test. Like the portal it answers a bind only later (when the
// test calls answerBind), binds a session once, and reports presses and releases only of ids it bound,
// only after that answer.
class FakeGlobalShortcuts final : public GlobalShortcuts
{
public:
    bool present = true;       // false: the desktop offers no shortcut service
    QStringList declined;      // ids the user leaves out when the desktop asks
    QList<Shortcut> requested; // what the last bind asked for
    int bindCalls = 0;

    void bind(const QList<Shortcut> &shortcuts) override;
    // The desktop's answer to the pending bind.
    void answerBind();
    // A press or release of the key assigned to `id`; returns whether the program was told.
    bool press(const QString &id);
    bool release(const QString &id);
};
