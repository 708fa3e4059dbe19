#include "platform/fake/FakePasteboard.h"

#include <algorithm>

void FakePasteboard::readContents(qint64 boundMs, std::function<void(Snapshot)> done)
{
    if (!clock) {
        done({items, true});
        return;
    }
    // An owner slower than the bound gives nothing.
    const bool late = readDelayMs > boundMs;
    clock->schedule(std::min(readDelayMs, boundMs), [this, late, done = std::move(done)]() {
        done(late ? Snapshot{{}, false} : Snapshot{items, true});
    });
}

void FakePasteboard::setString(const QString &text)
{
    setContents({{QStringLiteral("text/plain"), text.toUtf8()}});
}

void FakePasteboard::setContents(const Contents &contents)
{
    if (failWrites)
        return;
    items = contents;
    transient = false;
    primary = false;
    ++count;
}

void FakePasteboard::offerTransientText(const QString &text, bool alsoPrimary, quint64 window,
                                        std::function<void()> readByTarget)
{
    if (failWrites)
        return;
    items = {{QStringLiteral("text/plain"), text.toUtf8()},
             {QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret")}};
    transient = true;
    primary = alsoPrimary;
    targetWindow = window;
    m_readByTarget = std::move(readByTarget);
    ++count;
}

std::optional<QString> FakePasteboard::readAsTarget()
{
    const std::optional<QString> text = string();
    if (transient && m_readByTarget)
        m_readByTarget();
    return text;
}

void FakePasteboard::managerTakesOver()
{
    Contents kept;
    for (const Item &item : std::as_const(items)) {
        if (item.format != QLatin1String("x-kde-passwordManagerHint"))
            kept.append(item);
    }
    items = kept;
    transient = false;
    ++count;
}
