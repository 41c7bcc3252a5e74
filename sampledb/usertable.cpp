#include "usertable.h"

#include "audittrail.h"
#include "immediatetransaction.h"
#include "sha256.h"
#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

const char* const CreateTable =
    "create table if not exists users (name text not null unique collate nocase, role text not "
    "null, passwordHash text not null, disabled integer not null default 0, failedSignIns "
    "integer not null default 0, waitUntil integer not null default 0, fullName text not null "
    "default '')";
// Files made before users had full names.
const char* const AddFullName = "alter table users add column fullName text not null default ''";
// A program of ours never deletes a user: the records name them.
const char* const NoDelete =
    "create trigger if not exists users_no_delete before delete on users begin select "
    "raise(abort, 'users are disabled, never deleted'); end";

const char* const Columns =
    "name, role, passwordHash, disabled, failedSignIns, waitUntil, fullName";
// The same for a file without the fullName column, read as it is (a read-only check cannot
// add it).
const char* const OldColumns =
    "name, role, passwordHash, disabled, failedSignIns, waitUntil, ''";

const QString DigestMark = QStringLiteral("; row sha256 ");

bool fail(sqlite3* db, QString* error)
{
    *error = QString::fromUtf8(sqlite3_errmsg(db));
    return false;
}

void bindText(sqlite3_stmt* s, int index, const QByteArray& utf8)
{
    sqlite3_bind_text(s, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QByteArray bytesAt(sqlite3_stmt* s, int column)
{
    return QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s, column)),
                      sqlite3_column_bytes(s, column));
}

UserRecord rowAt(sqlite3_stmt* s)
{
    UserRecord r;
    r.name = QString::fromUtf8(bytesAt(s, 0));
    r.role = QString::fromUtf8(bytesAt(s, 1));
    r.passwordHash = bytesAt(s, 2);
    r.disabled = sqlite3_column_int64(s, 3) != 0;
    r.failedSignIns = int(qBound<qint64>(0, sqlite3_column_int64(s, 4), 1 << 30));
    r.waitUntilMs = sqlite3_column_int64(s, 5);
    r.fullName = QString::fromUtf8(bytesAt(s, 6));
    return r;
}

bool isHexDigest(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    }
    return true;
}

// Readers do not make the table: a read-only connection (the verification) could not.
bool hasTable(sqlite3* db, bool* exists, QString* error)
{
    SqliteStatement s(db, "select count(*) from sqlite_master where type = 'table' and name = "
                          "'users'");
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW)
        return fail(db, error);
    *exists = sqlite3_column_int(s.get(), 0) > 0;
    return true;
}

bool hasFullNameColumn(sqlite3* db, bool* has, QString* error)
{
    SqliteStatement s(db, "select count(*) from pragma_table_info('users') where name = "
                          "'fullName'");
    if (!s.isValid() || sqlite3_step(s.get()) != SQLITE_ROW)
        return fail(db, error);
    *has = sqlite3_column_int(s.get(), 0) > 0;
    return true;
}

// The select list for the table as it is in this file.
bool selectColumns(sqlite3* db, QByteArray* columns, QString* error)
{
    bool has = false;
    if (!hasFullNameColumn(db, &has, error))
        return false;
    *columns = has ? Columns : OldColumns;
    return true;
}

} // namespace

bool UserTable::open(SqliteConnection* connection, const QString& databasePath, int busyTimeoutMs,
                     QString* error)
{
    if (!connection->open(databasePath, SQLITE_OPEN_READWRITE)) {
        *error = connection->errorText();
        return false;
    }
    sqlite3_busy_timeout(connection->get(), busyTimeoutMs);
    return true;
}

QByteArray UserTable::rowDigest(const UserRecord& row)
{
    QByteArray text = "name:" + row.name.toUtf8() + "\nrole:" + row.role.toUtf8() +
                            "\npasswordHash:" + row.passwordHash +
                            "\ndisabled:" + QByteArray::number(row.disabled ? 1 : 0) +
                            "\nfailedSignIns:" + QByteArray::number(row.failedSignIns) +
                            "\nwaitUntil:" + QByteArray::number(row.waitUntilMs) + '\n';
    // Only when there is one: the digests written before full names existed still verify.
    if (!row.fullName.isEmpty())
        text += "fullName:" + row.fullName.toUtf8() + '\n';
    return Sha256::hexOf(text);
}

bool UserTable::digestIn(const AuditEntry& entry, QByteArray* digest)
{
    const int at = entry.newValue.lastIndexOf(DigestMark);
    if (at < 0)
        return false;
    const QString hex = entry.newValue.mid(at + DigestMark.size());
    if (!isHexDigest(hex))
        return false;
    *digest = hex.toLatin1();
    return true;
}

QString UserTable::describedValue(const AuditEntry& entry)
{
    QByteArray digest;
    return digestIn(entry, &digest) ? entry.newValue.left(entry.newValue.lastIndexOf(DigestMark))
                                    : entry.newValue;
}

bool UserTable::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, NoDelete}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return fail(db, error);
    }
    bool has = false;
    if (!hasFullNameColumn(db, &has, error))
        return false;
    if (!has && sqlite3_exec(db, AddFullName, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(db, error);
    return true;
}

bool UserTable::apply(SqliteHandle db, UserChange* change, QString* error)
{
    if (!ensureTable(db, error))
        return false;
    const UserRecord& r = change->row;
    SqliteStatement s(db, QByteArray("insert into users (") + Columns +
                              ") values (?, ?, ?, ?, ?, ?, ?) on conflict (name) do update set "
                              "role = excluded.role, passwordHash = excluded.passwordHash, "
                              "disabled = excluded.disabled, failedSignIns = "
                              "excluded.failedSignIns, waitUntil = excluded.waitUntil, "
                              "fullName = excluded.fullName");
    if (!s.isValid())
        return fail(db, error);
    bindText(s.get(), 1, r.name.toUtf8());
    bindText(s.get(), 2, r.role.toUtf8());
    bindText(s.get(), 3, r.passwordHash);
    sqlite3_bind_int(s.get(), 4, r.disabled ? 1 : 0);
    sqlite3_bind_int(s.get(), 5, r.failedSignIns);
    sqlite3_bind_int64(s.get(), 6, r.waitUntilMs);
    bindText(s.get(), 7, r.fullName.toUtf8());
    if (sqlite3_step(s.get()) != SQLITE_DONE)
        return fail(db, error);
    // The digest of the row as it now stands (the stored name keeps the letter case it was added
    // with), so that the check reads back exactly what was hashed.
    std::optional<UserRecord> stored;
    if (!find(db, r.name, &stored, error))
        return false;
    if (!stored) {
        *error = QStringLiteral("the user's row was not written");
        return false;
    }
    change->row = *stored;
    change->entry.newValue += DigestMark + QString::fromLatin1(rowDigest(*stored));
    return AuditTrail::append(db, &change->entry, error);
}

bool UserTable::applyCommitted(SqliteHandle db, UserChange* change, QString* error)
{
    const UserChange before = *change;
    if (ImmediateTransaction::run(
            db, [&](QString* workError) { return apply(db, change, workError); }, error))
        return true;
    // Nothing was written: the change stays as it was given, ready to be tried again.
    *change = before;
    return false;
}

bool UserTable::find(SqliteHandle db, const QString& name, std::optional<UserRecord>* row,
                     QString* error)
{
    row->reset();
    bool exists = false;
    if (!hasTable(db, &exists, error))
        return false;
    if (!exists)
        return true;
    QByteArray columns;
    if (!selectColumns(db, &columns, error))
        return false;
    SqliteStatement s(db, "select " + columns + " from users where name = ?");
    if (!s.isValid())
        return fail(db, error);
    bindText(s.get(), 1, name.toUtf8());
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW)
        *row = rowAt(s.get());
    else if (rc != SQLITE_DONE)
        return fail(db, error);
    return true;
}

bool UserTable::list(SqliteHandle db, QVector<UserRecord>* rows, QString* error)
{
    rows->clear();
    bool exists = false;
    if (!hasTable(db, &exists, error))
        return false;
    if (!exists)
        return true;
    QByteArray columns;
    if (!selectColumns(db, &columns, error))
        return false;
    SqliteStatement s(db, "select " + columns + " from users order by name");
    if (!s.isValid())
        return fail(db, error);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        rows->append(rowAt(s.get()));
    return rc == SQLITE_DONE || fail(db, error);
}

bool UserTable::entriesOf(SqliteHandle db, const QStringList& actions, Which which,
                          QVector<AuditEntry>* entries, QString* error)
{
    entries->clear();
    std::optional<AuditEntry> head;
    if (!AuditTrail::head(db, &head, error))
        return false;
    if (!head || actions.isEmpty())
        return true;
    const bool newest = which == Which::NewestDigestPerUser;
    QByteArray sql = newest ? "select max(sequence) from audit_trail where action in (?"
                            : "select sequence from audit_trail where action in (?";
    for (int i = 1; i < actions.size(); ++i)
        sql += ", ?";
    sql += newest ? QByteArray(") and instr(newValue, '") + DigestMark.toUtf8() +
                        "') > 0 group by object order by 1"
                  : QByteArray(") order by sequence");
    SqliteStatement s(db, sql);
    if (!s.isValid())
        return fail(db, error);
    for (int i = 0; i < actions.size(); ++i)
        bindText(s.get(), i + 1, actions.at(i).toUtf8());
    QVector<qint64> sequences;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        sequences.append(sqlite3_column_int64(s.get(), 0));
    if (rc != SQLITE_DONE)
        return fail(db, error);
    s.reset();
    for (const qint64 sequence : sequences) {
        QVector<AuditEntry> one;
        if (!AuditTrail::read(db, sequence, sequence, &one, error))
            return false;
        *entries += one;
    }
    return true;
}
