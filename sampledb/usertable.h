#pragma once

#include "sqlitehandle.h"
#include "userchange.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// The users table of a project, in the project's database:
//
//   users   one row per user, never deleted (a user with records is disabled instead)
//     name (unique, letter case ignored), role, passwordHash, disabled (0/1), failedSignIns,
//     waitUntil (ms since 1970 UTC), fullName ('' when none; files made before it lack the
//     column: ensureTable() adds it, readers read '' without it)
//
// Every write of a row goes with an audit entry in the same transaction, whose newValue ends
// with "; row sha256 " and the digest of the row as stored (rowDigest()), so that the table can
// be checked against the chain: a row written by another program has no entry, or not this one.
//
// The digest is SHA-256 over the row's canonical form, one line per column in this order, each
// "name:value\n": name, role, passwordHash, disabled, failedSignIns, waitUntil (numbers in
// decimal, disabled as 0 or 1), then "fullName:value\n" only when the full name is not empty:
// a row without one hashes as it did before the column existed.
class SqliteConnection;

class UserTable
{
public:
    // Opens an existing database to read and change its users (never makes a new file), waiting
    // up to busyTimeoutMs for another program's write lock.
    static bool open(SqliteConnection* connection, const QString& databasePath, int busyTimeoutMs,
                     QString* error);

    static QString tableName() { return QStringLiteral("users"); }
    static QByteArray rowDigest(const UserRecord& row);
    // The row digest an entry written by apply() carries; false for any other entry.
    static bool digestIn(const AuditEntry& entry, QByteArray* digest);
    // The text of newValue before the digest (all of it for any other entry).
    static QString describedValue(const AuditEntry& entry);

    static bool ensureTable(SqliteHandle db, QString* error);
    // Inside the caller's write transaction: writes the row (added or replacing the one of that
    // name) and appends the entry with the row's digest; the entry gets its sequence and hashes.
    static bool apply(SqliteHandle db, UserChange* change, QString* error);
    // The same in a transaction of its own, begun immediate.
    static bool applyCommitted(SqliteHandle db, UserChange* change, QString* error);

    static bool find(SqliteHandle db, const QString& name, std::optional<UserRecord>* row,
                     QString* error);
    // Every row, in the order of their names.
    static bool list(SqliteHandle db, QVector<UserRecord>* rows, QString* error);
    enum class Which
    {
        All,
        // Of each user, only the newest entry that carries a row digest: a sign-in reads these
        // few, not the years of sign-ins before.
        NewestDigestPerUser,
    };
    // The audit trail's entries of these actions, in order (none without a trail).
    static bool entriesOf(SqliteHandle db, const QStringList& actions, Which which,
                          QVector<AuditEntry>* entries, QString* error);
};
