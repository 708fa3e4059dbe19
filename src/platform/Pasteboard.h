#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// The general clipboard with a change count that grows on every change of its content, by this process or any
// other.
class Pasteboard
{
public:
    struct Item {
        QString format; // a MIME type
        QByteArray data;
        friend bool operator==(const Item &, const Item &) = default;
    };
    // Every format the clipboard held, in the owner's order.
    using Contents = QList<Item>;

    virtual ~Pasteboard() = default;
    virtual qint64 changeCount() const = 0;
    // The plain-text content; empty when the clipboard holds no text.
    virtual std::optional<QString> string() const = 0;
    virtual Contents contents() const = 0;
    // Replaces the content by the plain text alone.
    virtual void setString(const QString &text) = 0;
    // Replaces the content by the given formats; no formats clears the clipboard.
    virtual void setContents(const Contents &contents) = 0;
};
