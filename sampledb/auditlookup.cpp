#include "auditlookup.h"

#include "audittrail.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QFileInfo>

#include <sqlite3.h>

bool AuditLookup::latest(const QString& databasePath, const QStringList& actions, qint64 before,
                         std::optional<AuditEntry>* found, QString* error)
{
    found->reset();
    error->clear();
    if (actions.isEmpty() || !QFileInfo::exists(databasePath))
        return true;
    SqliteConnection connection;
    if (!connection.openReadOnly(databasePath, 5000)) {
        *error = connection.errorText();
        return false;
    }
    // An empty head also means no table yet: nothing to look for.
    std::optional<AuditEntry> head;
    if (!AuditTrail::head(connection.get(), &head, error))
        return false;
    if (!head)
        return true;
    QByteArray sql("select sequence from audit_trail where sequence < ? and action in (?");
    for (int i = 1; i < actions.size(); ++i)
        sql += ", ?";
    sql += ") order by sequence desc limit 1";
    SqliteStatement s(connection.get(), sql);
    if (!s.isValid()) {
        *error = connection.lastError();
        return false;
    }
    sqlite3_bind_int64(s.get(), 1, before);
    for (int i = 0; i < actions.size(); ++i) {
        const QByteArray action = actions[i].toUtf8();
        sqlite3_bind_text(s.get(), i + 2, action.constData(), int(action.size()), SQLITE_TRANSIENT);
    }
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE)
        return true;
    if (rc != SQLITE_ROW) {
        *error = connection.lastError();
        return false;
    }
    const qint64 sequence = sqlite3_column_int64(s.get(), 0);
    s.finalize();
    QVector<AuditEntry> entries;
    if (!AuditTrail::read(connection.get(), sequence, sequence, &entries, error))
        return false;
    if (!entries.isEmpty())
        *found = entries.first();
    return true;
}
