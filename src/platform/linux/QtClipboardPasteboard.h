#pragma once

#include "platform/Pasteboard.h"

#include <QObject>

// The CLIPBOARD selection through QClipboard (needs a QGuiApplication). The change count is the number of
// changes seen: every dataChanged signal, and every write of our own. Content we set is served by this process
// for as long as its event loop runs.
class QtClipboardPasteboard final : public QObject, public Pasteboard
{
    Q_OBJECT
public:
    explicit QtClipboardPasteboard(QObject *parent = nullptr);

    qint64 changeCount() const override { return m_count; }
    std::optional<QString> string() const override;
    Contents contents() const override;
    void setString(const QString &text) override;
    void setContents(const Contents &contents) override;

private:
    void write(const std::function<void()> &change);

    qint64 m_count = 0;
    bool m_writing = false;
};
