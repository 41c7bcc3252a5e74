#pragma once

#include "sqlitehandle.h"
#include "sqlitestatement.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <sqlite3.h>

#include <functional>

// The rows of one of the project's own record tables (calibration entries, alarm tests, report
// runs, alarm suppressions), which a file edited by hand may hold out of bounds: each row is taken
// through the table's own check, and one the check refuses is left out, traced and counted, never
// shown as something else.
class CheckedRows
{
public:
    // A text column within `bound` characters' worth of bytes (4 per character), or false for a
    // column of another type or beyond the bound (not read into memory at all).
    static bool text(sqlite3_stmt* statement, int column, int bound, QString* text);
    // An integer column, or false for a column of another type.
    static bool integer(sqlite3_stmt* statement, int column, qint64* value);

    // Every row `sql` selects from `table` into `out` (none when the file has no such table):
    // `bind` binds the statement's parameters, `rowAt` reads and checks a row, `leftOut` traces
    // one it refused; `skipped`, when given, counts those. False with SQLite's reason.
    template <typename Record>
    static bool read(SqliteHandle db, const char* table, const QByteArray& sql,
                     const std::function<void(sqlite3_stmt*)>& bind,
                     bool (*rowAt)(sqlite3_stmt*, Record*),
                     const std::function<void(sqlite3_stmt*)>& leftOut, QVector<Record>* out,
                     QString* error, int* skipped)
    {
        out->clear();
        if (skipped)
            *skipped = 0;
        bool exists = false;
        if (!SqliteStatement::tableExists(db, table, &exists, error))
            return false;
        if (!exists)
            return true;
        SqliteStatement s(db, sql);
        if (!s.isValid())
            return SqliteStatement::failed(db, error);
        if (bind)
            bind(s.get());
        for (;;) {
            const int rc = sqlite3_step(s.get());
            if (rc == SQLITE_DONE)
                return true;
            if (rc != SQLITE_ROW)
                return SqliteStatement::failed(db, error);
            Record r;
            if (rowAt(s.get(), &r)) {
                out->append(r);
                continue;
            }
            leftOut(s.get());
            if (skipped)
                ++*skipped;
        }
    }
};
