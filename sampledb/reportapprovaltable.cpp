#include "reportapprovaltable.h"

#include "immediatetransaction.h"
#include "signaturetable.h"
#include "signedrowcheck.h"
#include "sqlitestatement.h"

#include <sqlite3.h>

namespace {

const char* const Columns =
    "id, kind, periodFrom, periodTo, pdfSha256, rowsDigest, rows, copyPath, signatureId, time";

ReportApprovalTable::Row rowAt(sqlite3_stmt* s)
{
    ReportApprovalTable::Row row;
    row.id = sqlite3_column_int64(s, 0);
    row.kind = SqliteStatement::textAt(s, 1);
    row.periodFrom = sqlite3_column_int64(s, 2);
    row.periodTo = sqlite3_column_int64(s, 3);
    row.pdfSha256 = SqliteStatement::bytesAt(s, 4);
    row.rowsDigest = SqliteStatement::bytesAt(s, 5);
    row.rows = sqlite3_column_int64(s, 6);
    row.copyPath = SqliteStatement::textAt(s, 7);
    row.signatureId = sqlite3_column_int64(s, 8);
    row.timeMs = sqlite3_column_int64(s, 9);
    return row;
}
} // namespace

SignedRecord ReportApprovalTable::signedFields(const Row& row)
{
    SignedRecord record;
    record.kind = recordKind();
    record.id = QString::number(row.id);
    record.add(QStringLiteral("kind"), row.kind);
    record.add(QStringLiteral("periodFrom"), QString::number(row.periodFrom));
    record.add(QStringLiteral("periodTo"), QString::number(row.periodTo));
    record.add(QStringLiteral("pdfSha256"), QString::fromLatin1(row.pdfSha256));
    record.add(QStringLiteral("rowsDigest"), QString::fromLatin1(row.rowsDigest));
    record.add(QStringLiteral("rows"), QString::number(row.rows));
    record.add(QStringLiteral("copyPath"), row.copyPath);
    record.add(QStringLiteral("time"), QString::number(row.timeMs));
    return record;
}

bool ReportApprovalTable::ensureTable(SqliteHandle handle, QString* error)
{
    sqlite3* db = handle;
    const char* const create =
        "create table if not exists report_approval (id integer primary key, kind text not null, "
        "periodFrom integer not null, periodTo integer not null, pdfSha256 text not null, "
        "rowsDigest text not null, rows integer not null, copyPath text not null, "
        "signatureId integer not null default 0, time integer not null)";
    return sqlite3_exec(db, create, nullptr, nullptr, nullptr) == SQLITE_OK ||
           SqliteStatement::failed(db, error);
}

bool ReportApprovalTable::insertSigned(SqliteHandle handle, Row* row, const QString& signer,
                                       const QString& fullName, const QString& meaning,
                                       ElectronicSignature* signature, QString* error)
{
    sqlite3* db = handle;
    Row written = *row;
    ElectronicSignature signedIt;
    const bool ok = ImmediateTransaction::run(
        handle,
        [&](QString* e) {
            if (!ensureTable(handle, e) || !SignatureTable::ensureTable(handle, e))
                return false;
            SqliteStatement insert(db, "insert into report_approval (kind, periodFrom, periodTo, "
                                       "pdfSha256, rowsDigest, rows, copyPath, time) values "
                                       "(?, ?, ?, ?, ?, ?, ?, ?)");
            if (!insert.isValid())
                return SqliteStatement::failed(db, e);
            SqliteStatement::bindBytes(insert.get(), 1, written.kind.toUtf8());
            sqlite3_bind_int64(insert.get(), 2, written.periodFrom);
            sqlite3_bind_int64(insert.get(), 3, written.periodTo);
            SqliteStatement::bindBytes(insert.get(), 4, written.pdfSha256);
            SqliteStatement::bindBytes(insert.get(), 5, written.rowsDigest);
            sqlite3_bind_int64(insert.get(), 6, written.rows);
            SqliteStatement::bindBytes(insert.get(), 7, written.copyPath.toUtf8());
            sqlite3_bind_int64(insert.get(), 8, written.timeMs);
            if (sqlite3_step(insert.get()) != SQLITE_DONE)
                return SqliteStatement::failed(db, e);
            written.id = sqlite3_last_insert_rowid(db);
            if (!SignatureTable::signRow(handle, "report_approval", written.id,
                                         signedFields(written), signer, fullName, meaning,
                                         written.timeMs, &signedIt, e))
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

bool ReportApprovalTable::findByPdf(SqliteHandle handle, const QByteArray& pdfSha256,
                                    QVector<Row>* rows, QString* error)
{
    sqlite3* db = handle;
    rows->clear();
    bool has = false;
    if (!SqliteStatement::tableExists(db, "report_approval", &has, error))
        return false;
    if (!has)
        return true;
    SqliteStatement s(db, QByteArray("select ") + Columns +
                              " from report_approval where pdfSha256 = ? order by id");
    if (!s.isValid())
        return SqliteStatement::failed(db, error);
    SqliteStatement::bindBytes(s.get(), 1, pdfSha256);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
        rows->append(rowAt(s.get()));
    return rc == SQLITE_DONE || SqliteStatement::failed(db, error);
}

QString ReportApprovalTable::signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields_)
{
    return SignedRowCheck::problem(
        db, "report_approval", Columns, signedFields_, QStringLiteral("report approval"),
        QStringLiteral("report approvals"), [](sqlite3_stmt* s) { return signedFields(rowAt(s)); });
}
