#include "platform/fake/FakeGlobalShortcuts.h"

void FakeGlobalShortcuts::bind(const QList<Shortcut> &shortcuts)
{
    if (status() != Status::idle)
        return;
    m_requested = shortcuts;
    setStatus(Status::binding);
}

void FakeGlobalShortcuts::answerBind()
{
    if (status() != Status::binding)
        return;
    QHash<QString, QString> bound;
    for (const Shortcut &s : std::as_const(m_requested))
        bound.insert(s.id, s.preferredTrigger);
    setStatus(Status::bound, bound);
}

bool FakeGlobalShortcuts::press(const QString &id)
{
    if (status() != Status::bound || !triggers().contains(id))
        return false;
    emit activated(id);
    return true;
}

bool FakeGlobalShortcuts::release(const QString &id)
{
    if (status() != Status::bound || !triggers().contains(id))
        return false;
    emit deactivated(id);
    return true;
}
