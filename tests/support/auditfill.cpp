#include "auditfill.h"

#include "audittrail.h"
#include "sqliteconnection.h"

#include <sqlite3.h>

namespace AuditFill {

AuditEntry entry(qint64 timeMs, const QString& user, const QString& action, const QString& object,
                 const QString& oldValue, const QString& newValue, const QString& reason)
{
    AuditEntry e;
    e.timeMs = timeMs;
    e.user = user;
    e.action = action;
    e.object = object;
    e.oldValue = oldValue;
    e.newValue = newValue;
    e.reason = reason;
    return e;
}

bool append(const QString& database, const QVector<AuditEntry>& entries, QString* error)
{
    SqliteConnection db;
    if (!db.open(database, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
        *error = db.errorText();
        return false;
    }
    sqlite3_busy_timeout(db.get(), 5000);
    auto exec = [&db, error](const char* sql) {
        if (sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        *error = db.lastError();
        return false;
    };
    if (!exec("begin immediate"))
        return false;
    for (AuditEntry e : entries) {
        if (!AuditTrail::append(db.get(), &e, error)) {
            exec("rollback");
            return false;
        }
    }
    return exec("commit");
}

} // namespace AuditFill
