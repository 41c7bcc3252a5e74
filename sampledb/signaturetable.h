#pragma once

#include "electronicsignature.h"
#include "sqlitehandle.h"

#include <QHash>
#include <QString>
#include <QVector>

#include <functional>

struct AuditEntry;
struct SignedRecord;

// The electronic signatures of a project, in its database:
//
//   signature   one row per signature, never changed or deleted (triggers refuse both)
//     id, time (ms since 1970 UTC), signer, fullName, meaning, recordKind, recordId,
//     recordFields (the signed record's canonical text), recordHash, auditSequence
//
// Each signature is written with an audit entry in the same transaction:
//     user = the signer, action "signed", object "<recordKind> <recordId>",
//     newValue "<meaning>; record SHA-256 <recordHash>", reason = the signer's full name.
// The entry's sequence is kept in the row: moving a row to another record, or changing it, no
// longer matches its entry or its record.
class SignatureTable
{
public:
    static QString tableName() { return QStringLiteral("signature"); }
    static QString signedAction() { return QStringLiteral("signed"); }

    // A signature of `record` by `signer` at `timeMs` with `meaning`: every field but id and
    // auditSequence, which insert() sets.
    static ElectronicSignature make(const SignedRecord& record, const QString& signer,
                                    const QString& fullName, const QString& meaning, qint64 timeMs);
    // The audit entry that records `signature` (sequence and hashes unset).
    static AuditEntry entryOf(const ElectronicSignature& signature);

    static bool ensureTable(SqliteHandle db, QString* error);
    // Inside the caller's write transaction: appends the entry, then the row; sets id and
    // auditSequence.
    static bool insert(SqliteHandle db, ElectronicSignature* signature, QString* error);
    // Inside the caller's write transaction, for a table whose rows keep their signature's id:
    // signs the row `rowId` of `table` just inserted (its fields as `record`) and sets the row's
    // signatureId.
    static bool signRow(SqliteHandle db, const char* table, qint64 rowId,
                        const SignedRecord& record, const QString& signer, const QString& fullName,
                        const QString& meaning, qint64 timeMs, ElectronicSignature* signature,
                        QString* error);
    // The same in an immediate transaction of its own (the programs without the writer).
    static bool insertCommitted(SqliteHandle db, ElectronicSignature* signature, QString* error);

    // The signatures of one record, oldest first; none without the table.
    static bool forRecord(SqliteHandle db, const QString& recordKind, const QString& recordId,
                          QVector<ElectronicSignature>* signatures, QString* error);
    // The newest signature of each record of a kind, by record id; none without the table.
    static bool forKind(SqliteHandle db, const QString& recordKind,
                        QHash<QString, ElectronicSignature>* signatures, QString* error);
    // Every signature in the order of its id.
    static bool forEach(SqliteHandle db,
                        const std::function<void(const ElectronicSignature&)>& visit,
                        QString* error);
};
