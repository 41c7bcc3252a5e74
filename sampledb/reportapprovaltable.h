#pragma once

#include "electronicsignature.h"
#include "signedrecord.h"
#include "sqlitehandle.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The approvals of reports made in Tallyforge, in the project's database:
//
//   report_approval   one row per approved report
//     id, kind ("daily", "weekly", "monthly", "haccp"), periodFrom, periodTo (seconds UTC, the
//     period's rows have periodFrom <= pointDate < periodTo), pdfSha256 (of the approved file,
//     64 lowercase hex digits), rowsDigest and rows (PeriodRowsDigest of the period when it was
//     approved), copyPath (the kept copy, relative to the project's folder), signatureId, time
//     (ms since 1970 UTC)
//
// Each row is signed ("approved"): the signature binds every column but id's own signatureId.
class ReportApprovalTable
{
public:
    struct Row
    {
        qint64 id = 0;
        QString kind;
        qint64 periodFrom = 0;
        qint64 periodTo = 0;
        QByteArray pdfSha256;
        QByteArray rowsDigest;
        qint64 rows = 0;
        QString copyPath;
        qint64 signatureId = 0;
        qint64 timeMs = 0;
    };

    static QString tableName() { return QStringLiteral("report_approval"); }
    static QString recordKind() { return QStringLiteral("report approval"); }

    // The fields a signature binds.
    static SignedRecord signedFields(const Row& row);

    static bool ensureTable(SqliteHandle db, QString* error);
    // In an immediate transaction of its own: the row, then its signature by `signer` (with its
    // audit entry), then the row's signatureId. Sets row->id, row->signatureId and the
    // signature's id and entry. Nothing is written when any part fails.
    static bool insertSigned(SqliteHandle db, Row* row, const QString& signer,
                             const QString& fullName, const QString& meaning,
                             ElectronicSignature* signature, QString* error);
    // The rows whose PDF has this SHA-256, oldest first; none without the table.
    static bool findByPdf(SqliteHandle db, const QByteArray& pdfSha256, QVector<Row>* rows,
                          QString* error);

    // "" when the row of `signedFields` still holds the fields signed; otherwise a sentence.
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
