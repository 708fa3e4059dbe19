#pragma once

#include "platform/Pasteboard.h"

#include <QObject>
#include <memory>

class X11SelectionOwner;

// The CLIPBOARD selection through a connection of our own, owned and served on a thread of its own, so that no
// clipboard work ever waits on the main thread: reads of a slow or hung owner are bounded there, and the text
// of a paste is served there, where it is known which client fetched it and when. The change count is every
// change of the clipboard's owner, ours included.
class X11ClipboardPasteboard final : public Pasteboard
{
public:
    X11ClipboardPasteboard();
    ~X11ClipboardPasteboard() override;
    X11ClipboardPasteboard(const X11ClipboardPasteboard &) = delete;
    X11ClipboardPasteboard &operator=(const X11ClipboardPasteboard &) = delete;

    bool isAvailable() const;
    qint64 changeCount() const override;
    void readContents(qint64 boundMs, std::function<void(Snapshot)> done) override;
    void setString(const QString &text) override;
    void setContents(const Contents &contents) override;
    void offerTransientText(const QString &text, bool alsoPrimary, quint64 targetWindow,
                            std::function<void()> readByTarget) override;
    bool lastWriteFailed() const override { return !isAvailable(); }

private:
    QObject m_context; // receives the answers on the caller's thread
    std::unique_ptr<X11SelectionOwner> m_owner;
};
