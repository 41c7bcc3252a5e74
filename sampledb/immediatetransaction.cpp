#include "immediatetransaction.h"

#include <sqlite3.h>

bool ImmediateTransaction::run(SqliteHandle db, const std::function<bool(QString*)>& work,
                               QString* error)
{
    error->clear();
    sqlite3* native = db;
    if (sqlite3_exec(native, "begin immediate", nullptr, nullptr, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(native));
        return false;
    }
    if (!work(error) || sqlite3_exec(native, "commit", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if (error->isEmpty())
            *error = QString::fromUtf8(sqlite3_errmsg(native));
        sqlite3_exec(native, "rollback", nullptr, nullptr, nullptr);
        return false;
    }
    return true;
}
