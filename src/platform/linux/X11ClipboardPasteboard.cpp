#include "platform/linux/X11ClipboardPasteboard.h"

#include "platform/linux/X11SelectionOwner.h"

X11ClipboardPasteboard::X11ClipboardPasteboard() : m_owner(std::make_unique<X11SelectionOwner>(&m_context)) {}

X11ClipboardPasteboard::~X11ClipboardPasteboard() = default;

bool X11ClipboardPasteboard::isAvailable() const
{
    return m_owner->isAvailable();
}

qint64 X11ClipboardPasteboard::changeCount() const
{
    return m_owner->changeCount();
}

void X11ClipboardPasteboard::readContents(qint64 boundMs, std::function<void(Snapshot)> done)
{
    m_owner->read(boundMs, std::move(done));
}

void X11ClipboardPasteboard::setString(const QString &text)
{
    setContents({{QStringLiteral("UTF8_STRING"), text.toUtf8()}});
}

void X11ClipboardPasteboard::setContents(const Contents &contents)
{
    X11SelectionOwner::Offer offer;
    offer.contents = contents;
    m_owner->own(std::move(offer));
}

void X11ClipboardPasteboard::offerTransientText(const QString &text, bool alsoPrimary, quint64 targetWindow,
                                                std::function<void()> readByTarget)
{
    X11SelectionOwner::Offer offer;
    // Clipboard managers that honour the hint keep the dictation out of their history.
    offer.contents = {{QStringLiteral("UTF8_STRING"), text.toUtf8()},
                      {QStringLiteral("x-kde-passwordManagerHint"), QByteArrayLiteral("secret")}};
    offer.transient = true;
    offer.alsoPrimary = alsoPrimary;
    offer.targetWindow = targetWindow;
    offer.readByTarget = std::move(readByTarget);
    m_owner->own(std::move(offer));
}
