#include "signedrowcheck.h"

#include "sqlitestatement.h"

#include <sqlite3.h>

QString SignedRowCheck::problem(SqliteHandle handle, const char* table, const char* columns,
                                const SignedRecord& signedFields, const QString& noun,
                                const QString& plural,
                                const std::function<SignedRecord(sqlite3_stmt*)>& fieldsAt)
{
    sqlite3* db = handle;
    const QString unreadable =
        QStringLiteral("The ") + plural + QStringLiteral(" could not be read: ");
    bool has = false;
    QString error;
    if (!SqliteStatement::tableExists(db, table, &has, &error))
        return unreadable + error;
    if (!has)
        return QStringLiteral("The %1 %2 is missing: the project has no table of %3.")
            .arg(noun, signedFields.id, plural);
    SqliteStatement s(db, QByteArray("select ") + columns + " from " + table + " where id = ?");
    if (!s.isValid())
        return unreadable + QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_bind_int64(s.get(), 1, signedFields.id.toLongLong());
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_DONE)
        return QStringLiteral("The %1 %2 was deleted after it was signed.")
            .arg(noun, signedFields.id);
    if (rc != SQLITE_ROW)
        return unreadable + QString::fromUtf8(sqlite3_errmsg(db));
    const SignedRecord now = fieldsAt(s.get());
    for (const auto& field : signedFields.fields) {
        if (now.value(field.first) != field.second)
            return QStringLiteral("The %1 %2 was changed after it was signed: its %3 was \"%4\", "
                                  "is \"%5\".")
                .arg(noun, signedFields.id, field.first, field.second, now.value(field.first));
    }
    return QString();
}
