#include "signaturetable.h"

#include "auditentry.h"
#include "audittrail.h"
#include "immediatetransaction.h"
#include "signedrecord.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

const char* const CreateTable =
    "create table if not exists signature (id integer primary key, time integer not null, "
    "signer text not null, fullName text not null, meaning text not null, recordKind text not "
    "null, recordId text not null, recordFields blob not null, recordHash text not null, "
    "auditSequence integer not null)";
const char* const RecordIndex =
    "create index if not exists signature_record on signature (recordKind, recordId)";
// A signature is never changed or taken back: a correction is a signature of its own.
const char* const NoUpdate =
    "create trigger if not exists signature_no_update before update on signature begin select "
    "raise(abort, 'signatures are never changed'); end";
const char* const NoDelete =
    "create trigger if not exists signature_no_delete before delete on signature begin select "
    "raise(abort, 'signatures are never deleted'); end";

const char* const Columns = "id, time, signer, fullName, meaning, recordKind, recordId, "
                            "recordFields, recordHash, auditSequence";
ElectronicSignature signatureAt(sqlite3_stmt* s)
{
    ElectronicSignature signature;
    signature.id = sqlite3_column_int64(s, 0);
    signature.timeMs = sqlite3_column_int64(s, 1);
    signature.signer = SqliteStatement::textAt(s, 2);
    signature.fullName = SqliteStatement::textAt(s, 3);
    signature.meaning = SqliteStatement::textAt(s, 4);
    signature.recordKind = SqliteStatement::textAt(s, 5);
    signature.recordId = SqliteStatement::textAt(s, 6);
    signature.recordFields = SqliteStatement::bytesAt(s, 7);
    signature.recordHash = SqliteStatement::bytesAt(s, 8);
    signature.auditSequence = sqlite3_column_int64(s, 9);
    return signature;
}
// Each row `tail` ("where ... order by ...") selects, with `bind` setting its parameters.
bool visit(sqlite3* db, const char* tail, const std::function<void(sqlite3_stmt*)>& bind,
           const std::function<void(const ElectronicSignature&)>& each, QString* error)
{
    bool exists = false;
    if (!SqliteStatement::tableExists(db, "signature", &exists, error))
        return false;
    if (!exists)
        return true;
    SqliteStatement s(db, QByteArray("select ") + Columns + " from signature " + tail);
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    if (bind)
        bind(s.get());
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        each(signatureAt(s.get()));
    return rc == SQLITE_DONE || SqliteStatement::failed(db, error);
}

} // namespace

ElectronicSignature SignatureTable::make(const SignedRecord& record, const QString& signer,
                                         const QString& fullName, const QString& meaning,
                                         qint64 timeMs)
{
    ElectronicSignature signature;
    signature.timeMs = timeMs;
    signature.signer = signer;
    signature.fullName = fullName.isEmpty() ? signer : fullName;
    signature.meaning = meaning;
    signature.recordKind = record.kind;
    signature.recordId = record.id;
    signature.recordFields = record.canonical();
    signature.recordHash = record.hash();
    return signature;
}

AuditEntry SignatureTable::entryOf(const ElectronicSignature& signature)
{
    AuditEntry entry;
    entry.timeMs = signature.timeMs;
    entry.user = signature.signer;
    entry.action = signedAction();
    entry.object = signature.recordKind + QLatin1Char(' ') + signature.recordId;
    entry.newValue = signature.meaning + QStringLiteral("; record SHA-256 ") +
                     QString::fromLatin1(signature.recordHash);
    entry.reason = signature.fullName;
    return entry;
}

bool SignatureTable::ensureTable(SqliteHandle db, QString* error)
{
    for (const char* sql : {CreateTable, RecordIndex, NoUpdate, NoDelete}) {
        if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
            return SqliteStatement::failed(db, error);
    }
    return true;
}

bool SignatureTable::insert(SqliteHandle db, ElectronicSignature* signature, QString* error)
{
    if (!ensureTable(db, error))
        return false;
    AuditEntry entry = entryOf(*signature);
    if (!AuditTrail::append(db, &entry, error))
        return false;
    SqliteStatement s(db, "insert into signature (time, signer, fullName, meaning, recordKind, "
                          "recordId, recordFields, recordHash, auditSequence) values (?, ?, ?, "
                          "?, ?, ?, ?, ?, ?)");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(s.get(), 1, signature->timeMs);
    SqliteStatement::bindText(s.get(), 2, signature->signer);
    SqliteStatement::bindText(s.get(), 3, signature->fullName);
    SqliteStatement::bindText(s.get(), 4, signature->meaning);
    SqliteStatement::bindText(s.get(), 5, signature->recordKind);
    SqliteStatement::bindText(s.get(), 6, signature->recordId);
    sqlite3_bind_blob(s.get(), 7, signature->recordFields.constData(),
                      int(signature->recordFields.size()), SQLITE_TRANSIENT);
    sqlite3_bind_text(s.get(), 8, signature->recordHash.constData(),
                      int(signature->recordHash.size()), SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 9, entry.sequence);
    if (sqlite3_step(s.get()) != SQLITE_DONE)
        return SqliteStatement::failed(db, error);
    signature->id = sqlite3_last_insert_rowid(db);
    signature->auditSequence = entry.sequence;
    return true;
}

bool SignatureTable::signRow(SqliteHandle db, const char* table, qint64 rowId,
                             const SignedRecord& record, const QString& signer,
                             const QString& fullName, const QString& meaning, qint64 timeMs,
                             ElectronicSignature* signature, QString* error)
{
    *signature = make(record, signer, fullName, meaning, timeMs);
    if (!insert(db, signature, error))
        return false;
    SqliteStatement update(db, QByteArray("update ") + table + " set signatureId = ? where id = ?");
    if (!update.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(update.get(), 1, signature->id);
    sqlite3_bind_int64(update.get(), 2, rowId);
    return sqlite3_step(update.get()) == SQLITE_DONE || SqliteStatement::failed(db, error);
}

bool SignatureTable::insertCommitted(SqliteHandle db, ElectronicSignature* signature,
                                     QString* error)
{
    ElectronicSignature written = *signature;
    if (!ImmediateTransaction::run(
            db, [&](QString* workError) { return insert(db, &written, workError); }, error))
        return false;
    *signature = written;
    return true;
}

bool SignatureTable::forRecord(SqliteHandle db, const QString& recordKind, const QString& recordId,
                               QVector<ElectronicSignature>* signatures, QString* error)
{
    signatures->clear();
    return visit(
        db, "where recordKind = ? and recordId = ? order by id",
        [&](sqlite3_stmt* s) {
            SqliteStatement::bindText(s, 1, recordKind);
            SqliteStatement::bindText(s, 2, recordId);
        },
        [signatures](const ElectronicSignature& s) { signatures->append(s); }, error);
}

bool SignatureTable::forKind(SqliteHandle db, const QString& recordKind,
                             QHash<QString, ElectronicSignature>* signatures, QString* error)
{
    signatures->clear();
    return visit(
        db, "where recordKind = ? order by id",
        [&](sqlite3_stmt* s) { SqliteStatement::bindText(s, 1, recordKind); },
        [signatures](const ElectronicSignature& s) { signatures->insert(s.recordId, s); }, error);
}

bool SignatureTable::forEach(SqliteHandle db,
                             const std::function<void(const ElectronicSignature&)>& each,
                             QString* error)
{
    return visit(db, "order by id", nullptr, each, error);
}
