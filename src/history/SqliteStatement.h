#pragma once

#include <QString>

struct sqlite3;
struct sqlite3_stmt;

// One prepared statement, finalized when it goes out of scope. A failed prepare leaves it invalid; every call
// on an invalid statement does nothing and reports failure (step reports the prepare's error).
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_stmt != nullptr; }

    // Index from 1; texts are copied by SQLite.
    bool bindText(int index, const QString &text);
    bool bindInt(int index, int value);
    bool bindInt64(int index, qint64 value);

    // Makes the statement ready to run again; bindings are kept until rebound.
    void reset();

    // The SQLite result code (SQLITE_ROW, SQLITE_DONE or an error); the prepare's error when invalid.
    int step();

    // Columns of the current row, index from 0; a NULL text reads as empty.
    QString columnText(int index) const;
    qint64 columnInt64(int index) const;

private:
    sqlite3_stmt *m_stmt = nullptr;
    int m_prepareResult = 0;
};
