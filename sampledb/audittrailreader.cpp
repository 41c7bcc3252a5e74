#include "audittrailreader.h"

#include "audittrail.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

#include <algorithm>

namespace {

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

QString textOf(sqlite3_value* value)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                             sqlite3_value_bytes(value));
}

// contains(haystack, needle): letter case aside in every script, which SQLite's own like() and
// lower() are only for ASCII; and no wildcards to escape in what a user types.
void containsFunction(sqlite3_context* context, int, sqlite3_value** values)
{
    sqlite3_result_int(context, textOf(values[0]).contains(textOf(values[1]), Qt::CaseInsensitive));
}

QString columnText(sqlite3_stmt* s, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

// The filter as a where clause whose parameters are numbered ?1, ?2, ... (the free text is one
// parameter used four times), with their values.
struct Condition
{
    QByteArray sql;
    QVector<qint64> numbers; // ?1 ... first
    QVector<QByteArray> texts; // then the texts
    int next = 1; // the number of the next parameter after the condition's

    QByteArray parameter() { return "?" + QByteArray::number(next++); }
};

Condition conditionOf(const AuditTrailFilter& filter)
{
    QList<QByteArray> parts{QByteArrayLiteral("1")};
    Condition c;
    if (filter.fromMs) {
        parts << "time >= " + c.parameter();
        c.numbers << *filter.fromMs;
    }
    if (filter.toMs) {
        parts << "time < " + c.parameter();
        c.numbers << *filter.toMs;
    }
    if (!filter.user.isEmpty()) {
        parts << "user = " + c.parameter();
        c.texts << filter.user.toUtf8();
    }
    if (!filter.action.isEmpty()) {
        parts << "action = " + c.parameter();
        c.texts << filter.action.toUtf8();
    }
    if (!filter.text.isEmpty()) {
        const QByteArray p = c.parameter();
        parts << "(audit_contains(object, " + p + ") or audit_contains(oldValue, " + p +
                     ") or audit_contains(newValue, " + p + ") or audit_contains(reason, " + p +
                     "))";
        c.texts << filter.text.toUtf8();
    }
    c.sql = parts.join(" and ");
    return c;
}

void bind(sqlite3_stmt* s, const Condition& c)
{
    int index = 1;
    for (qint64 n : c.numbers)
        sqlite3_bind_int64(s, index++, n);
    for (const QByteArray& t : c.texts)
        sqlite3_bind_text(s, index++, t.constData(), int(t.size()), SQLITE_TRANSIENT);
}

} // namespace

AuditTrailReader::AuditTrailReader(const QString& databasePath) : path(databasePath) {}

bool AuditTrailReader::open(QString* error)
{
    if (connection.isOpen())
        return true;
    if (!connection.open(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX)) {
        *error = connection.errorText();
        return false;
    }
    sqlite3* db = connection.get();
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    if (sqlite3_create_function(db, "audit_contains", 2, SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                nullptr, containsFunction, nullptr, nullptr) != SQLITE_OK) {
        fail(db, error);
        connection.close();
        return false;
    }
    return true;
}

bool AuditTrailReader::hasTable(bool* exists, QString* error)
{
    sqlite3* db = connection.get();
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = ?");
    if (!s.isValid())
        return fail(db, error);
    const QByteArray name = AuditTrail::tableName().toUtf8();
    sqlite3_bind_text(s.get(), 1, name.constData(), int(name.size()), SQLITE_TRANSIENT);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fail(db, error);
    *exists = rc == SQLITE_ROW;
    return true;
}

bool AuditTrailReader::page(const AuditTrailFilter& filter, AuditTrailOrder order, qint64 after,
                            int limit, QVector<AuditEntry>* out, QString* error)
{
    out->clear();
    bool exists = false;
    if (!open(error) || !hasTable(&exists, error))
        return false;
    if (!exists)
        return true;
    const bool newestFirst = order == AuditTrailOrder::NewestFirst;
    Condition c = conditionOf(filter);
    QByteArray sql = QByteArray("select ") + AuditTrail::columns() + " from audit_trail where " + c.sql;
    const int afterIndex = c.next;
    if (after > 0)
        sql += (newestFirst ? " and sequence < " : " and sequence > ") + c.parameter();
    const int limitIndex = c.next;
    sql += (newestFirst ? " order by sequence desc limit " : " order by sequence limit ") +
           c.parameter();
    sqlite3* db = connection.get();
    SqliteStatement s(db, sql);
    if (!s.isValid())
        return fail(db, error);
    bind(s.get(), c);
    if (after > 0)
        sqlite3_bind_int64(s.get(), afterIndex, after);
    sqlite3_bind_int(s.get(), limitIndex, std::clamp(limit, 1, MaxPageSize));
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        out->append(AuditTrail::entryOf(s.get()));
    if (rc != SQLITE_DONE) {
        out->clear();
        return fail(db, error);
    }
    return true;
}

qint64 AuditTrailReader::count(const AuditTrailFilter& filter, QString* error)
{
    bool exists = false;
    if (!open(error) || !hasTable(&exists, error))
        return -1;
    if (!exists)
        return 0;
    const Condition c = conditionOf(filter);
    sqlite3* db = connection.get();
    SqliteStatement s(db, "select count(*) from audit_trail where " + c.sql);
    if (s.isValid())
        bind(s.get(), c);
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW) {
        fail(db, error);
        return -1;
    }
    return sqlite3_column_int64(s.get(), 0);
}

bool AuditTrailReader::head(std::optional<AuditEntry>* out, QString* error)
{
    return open(error) && AuditTrail::head(connection.get(), out, error);
}

bool AuditTrailReader::names(QStringList* users, QStringList* actions, QString* error)
{
    users->clear();
    actions->clear();
    bool exists = false;
    if (!open(error) || !hasTable(&exists, error))
        return false;
    if (!exists)
        return true;
    sqlite3* db = connection.get();
    for (auto [column, list] : {std::pair{"user", users}, std::pair{"action", actions}}) {
        SqliteStatement s(db, QByteArray("select distinct ") + column + " from audit_trail order by " +
                                  column);
        if (!s.isValid())
            return fail(db, error);
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            list->append(columnText(s.get(), 0));
        if (rc != SQLITE_DONE)
            return fail(db, error);
    }
    return true;
}
