#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The general clipboard with a change count that grows on every change of its owner, by this process or any
// other. Reading asks whichever application owns the clipboard, which may be slow or hung: reads are
// asynchronous and bounded.
class Pasteboard
{
public:
    struct Item {
        QString format; // a MIME type or the selection target's name
        QByteArray data;
        friend bool operator==(const Item &, const Item &) = default;
    };
    // Every format the clipboard held, in the owner's order.
    using Contents = QList<Item>;
    struct Snapshot {
        Contents contents;
        // False when the owner did not give every format in time.
        bool complete = true;
    };

    // The plain text among contents, if any.
    static std::optional<QString> textOf(const Contents &contents)
    {
        for (const char *format : {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"}) {
            for (const Item &item : contents) {
                if (item.format == QLatin1String(format))
                    return QString::fromUtf8(item.data);
            }
        }
        return std::nullopt;
    }

    virtual ~Pasteboard() = default;
    virtual qint64 changeCount() const = 0;
    // Reads every format; done runs later on the caller's thread, about boundMs at the latest.
    virtual void readContents(qint64 boundMs, std::function<void(Snapshot)> done) = 0;
    // Replaces the content by the plain text alone (the user's own copy).
    virtual void setString(const QString &text) = 0;
    // Replaces the content by the given formats; no formats clears the clipboard.
    virtual void setContents(const Contents &contents) = 0;
    // Puts text on the clipboard for one paste, marked so that clipboard managers keep it out of their history;
    // with alsoPrimary the primary selection carries it too. readByTarget runs on the caller's thread whenever
    // the text was fetched by the paste target: the client owning targetWindow when that is known, any client
    // but a clipboard manager otherwise.
    virtual void offerTransientText(const QString &text, bool alsoPrimary, quint64 targetWindow,
                                    std::function<void()> readByTarget) = 0;
    // True when the last write could not be put on the clipboard (this process has no way to own it): the
    // clipboard still holds what it held before.
    virtual bool lastWriteFailed() const { return false; }
    // False when this clipboard cannot tell who fetched an offer: readByTarget never runs then.
    virtual bool seesReads() const { return true; }
};
