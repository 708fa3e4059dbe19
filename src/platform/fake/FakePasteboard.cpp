#include "platform/fake/FakePasteboard.h"

std::optional<QString> FakePasteboard::string() const
{
    for (const Item &item : items) {
        if (item.format == QLatin1String("text/plain"))
            return QString::fromUtf8(item.data);
    }
    return std::nullopt;
}

void FakePasteboard::setString(const QString &text)
{
    items = {{QStringLiteral("text/plain"), text.toUtf8()}};
    ++count;
}

void FakePasteboard::setContents(const Contents &contents)
{
    items = contents;
    ++count;
}
