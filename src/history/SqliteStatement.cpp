#include "history/SqliteStatement.h"

#include <sqlite3.h>

SqliteStatement::SqliteStatement(sqlite3 *db, const char *sql)
{
    m_prepareResult = db ? sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) : SQLITE_MISUSE;
    if (m_prepareResult != SQLITE_OK) {
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

bool SqliteStatement::bindText(int index, const QString &text)
{
    if (!m_stmt)
        return false;
    const QByteArray utf8 = text.toUtf8();
    return sqlite3_bind_text(m_stmt, index, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT) ==
           SQLITE_OK;
}

bool SqliteStatement::bindInt(int index, int value)
{
    return m_stmt && sqlite3_bind_int(m_stmt, index, value) == SQLITE_OK;
}

bool SqliteStatement::bindInt64(int index, qint64 value)
{
    return m_stmt && sqlite3_bind_int64(m_stmt, index, value) == SQLITE_OK;
}

void SqliteStatement::reset()
{
    if (m_stmt)
        sqlite3_reset(m_stmt);
}

int SqliteStatement::step()
{
    return m_stmt ? sqlite3_step(m_stmt) : m_prepareResult;
}

QString SqliteStatement::columnText(int index) const
{
    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(m_stmt, index));
    if (!text)
        return {};
    return QString::fromUtf8(text, sqlite3_column_bytes(m_stmt, index));
}

qint64 SqliteStatement::columnInt64(int index) const
{
    return sqlite3_column_int64(m_stmt, index);
}
