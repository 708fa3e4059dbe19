#pragma once

#include <QByteArray>
#include <QMutex>
#include <QStringList>

// Collects what is logged while it lives, from any thread, and passes every message on; with a category, only
// that category's messages are kept.
class LogCapture
{
public:
    explicit LogCapture(QByteArray category = {})
    {
        QMutexLocker lock(&s_mutex);
        s_category = std::move(category);
        s_lines.clear();
        s_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(s_previous);
        QMutexLocker lock(&s_mutex);
        s_lines.clear();
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    static QStringList lines()
    {
        QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    static QString text() { return lines().join(QLatin1Char('\n')); }

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        {
            QMutexLocker lock(&s_mutex);
            if (s_category.isEmpty() || s_category == context.category)
                s_lines << message;
        }
        s_previous(type, context, message);
    }

    static inline QMutex s_mutex;
    static inline QByteArray s_category;
    static inline QStringList s_lines;
    static inline QtMessageHandler s_previous = nullptr;
};
