#include "periodrowsdigest.h"

#include "sealdigest.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

// The nodes one index seek at a time, as the seals find them.
const char* const NodesQuery =
    "with recursive node(serial) as (select (select min(serialno) from quorbinal) union all "
    "select (select min(serialno) from quorbinal where serialno > node.serial) from node where "
    "node.serial is not null) select serial from node where serial is not null";

} // namespace

bool PeriodRowsDigest::of(SqliteHandle handle, qint64 fromSeconds, qint64 toSeconds, qint64* rows,
                          QByteArray* digest, QString* error)
{
    sqlite3* db = handle;
    SqliteStatement nodes(db, NodesQuery);
    SqliteStatement rowsOf(db, "select id, serialno, pointDate, channel1, channel2 from quorbinal "
                               "where serialno = ? and pointDate >= ? and pointDate < ? "
                               "order by id");
    if (!nodes.isValid() || !rowsOf.isValid())
        return fail(db, error);
    SealDigest fold;
    int rc;
    while ((rc = sqlite3_step(nodes.get())) == SQLITE_ROW) {
        sqlite3_bind_value(rowsOf.get(), 1, sqlite3_column_value(nodes.get(), 0));
        sqlite3_bind_int64(rowsOf.get(), 2, fromSeconds);
        sqlite3_bind_int64(rowsOf.get(), 3, toSeconds);
        int step;
        while ((step = sqlite3_step(rowsOf.get())) == SQLITE_ROW)
            fold.addRow(rowsOf.get());
        if (step != SQLITE_DONE)
            return fail(db, error);
        sqlite3_reset(rowsOf.get());
    }
    if (rc != SQLITE_DONE)
        return fail(db, error);
    *rows = fold.rows();
    *digest = fold.result();
    return true;
}
