#include "platform/linux/QtClipboardPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace {
QClipboard *clipboard()
{
    return QGuiApplication::clipboard();
}

// Qt's own in-process image form; the owner's real image formats are kept instead.
bool isInternalFormat(const QString &format)
{
    return format == QLatin1String("application/x-qt-image");
}
} // namespace

QtClipboardPasteboard::QtClipboardPasteboard(QObject *parent) : QObject(parent)
{
    connect(clipboard(), &QClipboard::dataChanged, this, [this]() {
        if (!m_writing)
            ++m_count;
    });
}

std::optional<QString> QtClipboardPasteboard::string() const
{
    const QMimeData *data = clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}

Pasteboard::Contents QtClipboardPasteboard::contents() const
{
    Contents out;
    const QMimeData *data = clipboard()->mimeData(QClipboard::Clipboard);
    if (!data)
        return out;
    const QStringList formats = data->formats();
    for (const QString &format : formats) {
        if (isInternalFormat(format))
            continue;
        const QByteArray bytes = data->data(format);
        if (!bytes.isEmpty())
            out.append({format, bytes});
    }
    return out;
}

void QtClipboardPasteboard::setString(const QString &text)
{
    write([&text]() {
        auto *data = new QMimeData;
        data->setText(text);
        clipboard()->setMimeData(data, QClipboard::Clipboard);
    });
}

void QtClipboardPasteboard::setContents(const Contents &contents)
{
    write([&contents]() {
        if (contents.isEmpty()) {
            clipboard()->clear(QClipboard::Clipboard);
            return;
        }
        auto *data = new QMimeData;
        for (const Item &item : contents)
            data->setData(item.format, item.data);
        clipboard()->setMimeData(data, QClipboard::Clipboard);
    });
}

void QtClipboardPasteboard::write(const std::function<void()> &change)
{
    // Our own write counts once, whether or not the platform signals it while we make it.
    m_writing = true;
    change();
    m_writing = false;
    ++m_count;
}
