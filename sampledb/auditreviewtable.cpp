#include "auditreviewtable.h"

#include "immediatetransaction.h"
#include "signaturetable.h"
#include "signedrowcheck.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {
const char* const Columns = "id, periodFrom, periodTo, comment, signatureId, time";

AuditReviewTable::Row rowAt(sqlite3_stmt* s)
{
    AuditReviewTable::Row row;
    row.id = sqlite3_column_int64(s, 0);
    row.periodFrom = sqlite3_column_int64(s, 1);
    row.periodTo = sqlite3_column_int64(s, 2);
    row.comment = QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, 3)),
                                    sqlite3_column_bytes(s, 3));
    row.signatureId = sqlite3_column_int64(s, 4);
    row.timeMs = sqlite3_column_int64(s, 5);
    return row;
}
} // namespace

SignedRecord AuditReviewTable::signedFields(const Row& row)
{
    SignedRecord record;
    record.kind = recordKind();
    record.id = QString::number(row.id);
    record.add(QStringLiteral("periodFrom"), QString::number(row.periodFrom));
    record.add(QStringLiteral("periodTo"), QString::number(row.periodTo));
    record.add(QStringLiteral("comment"), row.comment);
    record.add(QStringLiteral("time"), QString::number(row.timeMs));
    return record;
}

bool AuditReviewTable::ensureTable(SqliteHandle handle, QString* error)
{
    sqlite3* db = handle;
    const char* const create =
        "create table if not exists audit_review (id integer primary key, periodFrom integer not "
        "null, periodTo integer not null, comment text not null, signatureId integer not null "
        "default 0, time integer not null)";
    return sqlite3_exec(db, create, nullptr, nullptr, nullptr) == SQLITE_OK ||
           SqliteStatement::failed(db, error);
}

bool AuditReviewTable::insertSigned(SqliteHandle handle, Row* row, const QString& signer,
                                    const QString& fullName, const QString& meaning,
                                    ElectronicSignature* signature, QString* error)
{
    if (row->periodTo <= row->periodFrom) {
        *error = QStringLiteral("The period reviewed ends before it begins.");
        return false;
    }
    if (row->comment.size() > MaxComment) {
        *error = QStringLiteral("The comment is longer than %1 characters.").arg(MaxComment);
        return false;
    }
    sqlite3* db = handle;
    Row written = *row;
    ElectronicSignature signedIt;
    const bool ok = ImmediateTransaction::run(
        handle,
        [&](QString* e) {
            if (!ensureTable(handle, e) || !SignatureTable::ensureTable(handle, e))
                return false;
            SqliteStatement insert(db, "insert into audit_review (periodFrom, periodTo, comment, "
                                       "time) values (?, ?, ?, ?)");
            if (!insert.isValid())
                return SqliteStatement::failed(db, e);
            const QByteArray comment = written.comment.toUtf8();
            sqlite3_bind_int64(insert.get(), 1, written.periodFrom);
            sqlite3_bind_int64(insert.get(), 2, written.periodTo);
            sqlite3_bind_text(insert.get(), 3, comment.constData(), comment.size(),
                              SQLITE_TRANSIENT);
            sqlite3_bind_int64(insert.get(), 4, written.timeMs);
            if (sqlite3_step(insert.get()) != SQLITE_DONE)
                return SqliteStatement::failed(db, e);
            written.id = sqlite3_last_insert_rowid(db);
            if (!SignatureTable::signRow(handle, "audit_review", written.id, signedFields(written),
                                         signer, fullName, meaning, written.timeMs, &signedIt, e))
                return false;
            written.signatureId = signedIt.id;
            return true;
        },
        error);
    if (!ok)
        return false;
    *row = written;
    *signature = signedIt;
    return true;
}

bool AuditReviewTable::overlapping(SqliteHandle handle, qint64 fromMs, qint64 toMs,
                                   QVector<Row>* rows, QString* error)
{
    sqlite3* db = handle;
    rows->clear();
    bool has = false;
    if (!SqliteStatement::tableExists(db, "audit_review", &has, error))
        return false;
    if (!has)
        return true;
    SqliteStatement s(db, QByteArray("select ") + Columns +
                              " from audit_review where periodFrom < ? and periodTo > ? "
                              "order by id");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    sqlite3_bind_int64(s.get(), 1, toMs);
    sqlite3_bind_int64(s.get(), 2, fromMs);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        rows->append(rowAt(s.get()));
    return rc == SQLITE_DONE || SqliteStatement::failed(db, error);
}

QString AuditReviewTable::signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields_)
{
    return SignedRowCheck::problem(db, "audit_review", Columns, signedFields_,
                                   QStringLiteral("review"), QStringLiteral("reviews"),
                                   [](sqlite3_stmt* s) { return signedFields(rowAt(s)); });
}
