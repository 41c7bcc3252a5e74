#include "audittrail.h"

#include "immediatetransaction.h"
#include "sha256.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

const char* const CreateTable =
    "create table if not exists audit_trail (sequence integer primary key, time integer not "
    "null, user text not null, action text not null, object text not null, oldValue text not "
    "null, newValue text not null, reason text not null, previousHash text not null, hash text "
    "not null)";
// What a program of ours could do by mistake is refused; what the sqlite3 program does on
// purpose the chain shows.
const char* const NoUpdate =
    "create trigger if not exists audit_trail_no_update before update on audit_trail begin "
    "select raise(abort, 'the audit trail is append-only'); end";
const char* const NoDelete =
    "create trigger if not exists audit_trail_no_delete before delete on audit_trail begin "
    "select raise(abort, 'the audit trail is append-only'); end";
// Only the next sequence: an "insert or replace" of an old one would delete the entry there
// without the delete trigger (SQLite runs none for a replace unless recursive triggers are on).
const char* const OnlyNext =
    "create trigger if not exists audit_trail_only_next before insert on audit_trail when "
    "new.sequence is not coalesce((select max(sequence) from audit_trail), 0) + 1 begin select "
    "raise(abort, 'the audit trail is append-only: the next sequence only'); end";

const char* const Columns =
    "sequence, time, user, action, object, oldValue, newValue, reason, previousHash, hash";

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void escapeInto(QByteArray* out, const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    for (const char c : utf8) {
        if (c == '\\')
            out->append("\\\\");
        else if (c == '\n')
            out->append("\\n");
        else if (c == '\r')
            out->append("\\r");
        else
            out->append(c);
    }
}

void line(QByteArray* out, const char* name, const QString& value)
{
    out->append(name);
    out->append(':');
    escapeInto(out, value);
    out->append('\n');
}

void line(QByteArray* out, const char* name, qint64 value)
{
    out->append(name);
    out->append(':');
    out->append(QByteArray::number(value));
    out->append('\n');
}

QString textAt(sqlite3_stmt* s, int column)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                             sqlite3_column_bytes(s, column));
}

QByteArray bytesAt(sqlite3_stmt* s, int column)
{
    return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                      sqlite3_column_bytes(s, column));
}

AuditEntry entryAt(sqlite3_stmt* s)
{
    AuditEntry e;
    e.sequence = sqlite3_column_int64(s, 0);
    e.timeMs = sqlite3_column_int64(s, 1);
    e.user = textAt(s, 2);
    e.action = textAt(s, 3);
    e.object = textAt(s, 4);
    e.oldValue = textAt(s, 5);
    e.newValue = textAt(s, 6);
    e.reason = textAt(s, 7);
    e.previousHash = bytesAt(s, 8);
    e.hash = bytesAt(s, 9);
    return e;
}

bool tableExists(sqlite3* db, bool* exists, QString* error)
{
    SqliteStatement s(db, "select 1 from sqlite_master where type = 'table' and name = "
                          "'audit_trail'");
    if (!s.isValid())
        return fail(db, error);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return fail(db, error);
    *exists = rc == SQLITE_ROW;
    return true;
}

void bindText(sqlite3_stmt* s, int index, const QByteArray& utf8)
{
    sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

} // namespace

QByteArray AuditTrail::canonical(const AuditEntry& e)
{
    QByteArray out;
    line(&out, "sequence", e.sequence);
    line(&out, "time", e.timeMs);
    line(&out, "user", e.user);
    line(&out, "action", e.action);
    line(&out, "object", e.object);
    line(&out, "oldValue", e.oldValue);
    line(&out, "newValue", e.newValue);
    line(&out, "reason", e.reason);
    return out;
}

QByteArray AuditTrail::hashOf(const AuditEntry& entry)
{
    Sha256 hash;
    hash.add(entry.previousHash);
    hash.add("\n", 1);
    hash.add(canonical(entry));
    return hash.result().toHex();
}

const char* AuditTrail::columns()
{
    return Columns;
}

AuditEntry AuditTrail::entryOf(sqlite3_stmt* statement)
{
    return entryAt(statement);
}

QString AuditTrail::headLine(const std::optional<AuditEntry>& head)
{
    if (!head)
        return QStringLiteral("Audit trail head: none");
    QString hash = QString::fromUtf8(head->hash.left(128));
    hash.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char('\r'), QLatin1Char(' '));
    return QStringLiteral("Audit trail head: entry %1, SHA-256 %2").arg(head->sequence).arg(hash);
}

bool AuditTrail::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, NoUpdate, NoDelete, OnlyNext}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(db, error);
    }
    return true;
}

bool AuditTrail::append(SqliteHandle db, AuditEntry* entry, QString* error)
{
    if (!ensureTable(db, error))
        return false;
    std::optional<AuditEntry> last;
    if (!head(db, &last, error))
        return false;
    entry->sequence = last ? last->sequence + 1 : 1;
    entry->previousHash = last ? last->hash : firstPreviousHash();
    entry->hash = hashOf(*entry);
    SqliteStatement s(db, QByteArray("insert into audit_trail (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    if (!s.isValid())
        return fail(db, error);
    sqlite3_bind_int64(s.get(), 1, entry->sequence);
    sqlite3_bind_int64(s.get(), 2, entry->timeMs);
    bindText(s.get(), 3, entry->user.toUtf8());
    bindText(s.get(), 4, entry->action.toUtf8());
    bindText(s.get(), 5, entry->object.toUtf8());
    bindText(s.get(), 6, entry->oldValue.toUtf8());
    bindText(s.get(), 7, entry->newValue.toUtf8());
    bindText(s.get(), 8, entry->reason.toUtf8());
    bindText(s.get(), 9, entry->previousHash);
    bindText(s.get(), 10, entry->hash);
    return sqlite3_step(s.get()) == SQLITE_DONE || fail(db, error);
}

bool AuditTrail::appendCommitted(SqliteHandle db, AuditEntry* entry, QString* error)
{
    return ImmediateTransaction::run(
        db, [&](QString* workError) { return append(db, entry, workError); }, error);
}

namespace {

// Every entry a select of all columns finds with `tail` ("where ... order by ..."), handed to
// `visit` one at a time; the select's parameters are the two numbers given (when it has them).
bool visitEntries(sqlite3* db, const char* tail, qint64 first, qint64 last,
                  const std::function<void(const AuditEntry&)>& visit, QString* error)
{
    bool exists = false;
    if (!tableExists(db, &exists, error))
        return false;
    if (!exists)
        return true;
    SqliteStatement s(db, QByteArray("select ") + Columns + " from audit_trail " + tail);
    if (!s.isValid())
        return fail(db, error);
    if (sqlite3_bind_parameter_count(s.get()) == 2) {
        sqlite3_bind_int64(s.get(), 1, first);
        sqlite3_bind_int64(s.get(), 2, last);
    }
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        visit(entryAt(s.get()));
    return rc == SQLITE_DONE || fail(db, error);
}

} // namespace

bool AuditTrail::head(SqliteHandle db, std::optional<AuditEntry>* result, QString* error)
{
    result->reset();
    return visitEntries(
        db, "order by sequence desc limit 1", 0, 0,
        [result](const AuditEntry& e) { *result = e; }, error);
}

bool AuditTrail::read(SqliteHandle db, qint64 first, qint64 last, QVector<AuditEntry>* entries,
                      QString* error)
{
    entries->clear();
    return visitEntries(
        db, "where sequence between ? and ? order by sequence", first, last,
        [entries](const AuditEntry& e) { entries->append(e); }, error);
}

bool AuditTrail::forEach(SqliteHandle db, const std::function<void(const AuditEntry&)>& visit,
                         QString* error)
{
    return visitEntries(db, "order by sequence", 0, 0, visit, error);
}
