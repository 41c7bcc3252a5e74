#pragma once

#include "auditentry.h"
#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

struct sqlite3_stmt;

// The audit trail of a project, append-only, in the project's database:
//
//   audit_trail   one row per entry
//     sequence      1, 2, 3, ... (the primary key: two appends after one head cannot both be
//                   committed, so the chain never forks)
//     time          milliseconds since 1970 UTC
//     user, action, object, oldValue, newValue, reason   texts, never NULL
//     previousHash  the hash of the entry before, 64 lowercase hex digits (64 zeros for the first)
//     hash          SHA-256 over the entry, 64 lowercase hex digits:
//                     hash = sha256(previousHash + "\n" + canonical(entry))
//
// The canonical form is UTF-8 text, one line per field in this order, each line "name:value"
// followed by a newline ("\n"):
//     sequence, time, user, action, object, oldValue, newValue, reason
// Numbers in decimal; in texts a backslash is written "\\", a newline "\n" and a carriage return
// "\r", so that every field is one line. Triggers refuse UPDATE and DELETE of the table's rows
// and an INSERT of any sequence but the next.
//
// Appends run in the caller's write transaction (the recorder's writer, or appendCommitted()'s
// own immediate transaction in the other programs): the head is read and the entry written
// under the same lock.
class AuditTrail
{
public:
    static QString tableName() { return QStringLiteral("audit_trail"); }
    static QByteArray firstPreviousHash() { return QByteArray(64, '0'); }

    static QByteArray canonical(const AuditEntry& entry);
    // sha256(previousHash + "\n" + canonical(entry)), 64 lowercase hex digits.
    static QByteArray hashOf(const AuditEntry& entry);

    // Makes the table and its triggers when missing.
    static bool ensureTable(SqliteHandle db, QString* error);
    // Appends inside the caller's write transaction: sets the entry's sequence and hashes from
    // the current head, then inserts it.
    static bool append(SqliteHandle db, AuditEntry* entry, QString* error);
    // Appends in a transaction of its own, begun immediate (the write lock first, then the head),
    // waiting up to the connection's busy timeout for another writer.
    static bool appendCommitted(SqliteHandle db, AuditEntry* entry, QString* error);

    // The head as screens, reports and --verify show it, and as --heads reads it back:
    // "Audit trail head: entry N, SHA-256 <hash>", or "Audit trail head: none". The hash is
    // shown as the file holds it, on one line and cut at 128 characters: a file edited by hand
    // may hold anything there.
    static QString headLine(const std::optional<AuditEntry>& head);

    // The newest entry; nullopt without entries (or table). False result only on errors.
    static bool head(SqliteHandle db, std::optional<AuditEntry>* head, QString* error);
    // Entries with sequence in [first, last], in order.
    static bool read(SqliteHandle db, qint64 first, qint64 last, QVector<AuditEntry>* entries,
                     QString* error);

    // For the readers' own selects of whole entries: the columns to select, in the order
    // entryOf() takes them from the statement's current row.
    static const char* columns();
    static AuditEntry entryOf(sqlite3_stmt* statement);
    // Every entry in the order of its sequence, one at a time (a million never sit in memory).
    static bool forEach(SqliteHandle db, const std::function<void(const AuditEntry&)>& visit,
                        QString* error);
};
