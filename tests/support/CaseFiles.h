#pragma once

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

// The files a program keeps, as another program sees them: permission bits and contents.
inline int modeOf(const QString &path)
{
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 0777);
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A folder of its own for each case, below one temporary folder; the standard locations are the test ones.
class CaseFolders
{
public:
    CaseFolders() { QStandardPaths::setTestModeEnabled(true); }
    bool isValid() const { return m_tmp.isValid(); }
    QString path() const { return m_tmp.path(); }
    // A path not there yet: "<tmp>/caseN/<leaf>".
    QString fresh(const QString &leaf) { return m_tmp.path() + QStringLiteral("/case%1/").arg(++m_count) + leaf; }

private:
    QTemporaryDir m_tmp;
    int m_count = 0;
};
