#pragma once

#include <QLoggingCategory>

// The history store's own category. Its warnings name operations, SQLite's messages and row counts, never the
// texts of a row.
Q_DECLARE_LOGGING_CATEGORY(lcHistory)
