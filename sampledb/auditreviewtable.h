#pragma once

#include "electronicsignature.h"
#include "signedrecord.h"
#include "sqlitehandle.h"

#include <QString>
#include <QVector>

// The signed periodic reviews of a project's audit trail, in its database:
//
//   audit_review   one row per review
//     id, periodFrom, periodTo (ms since 1970 UTC: the entries reviewed have
//     periodFrom <= time < periodTo), comment, signatureId, time (ms since 1970 UTC)
//
// Each row is signed ("reviewed"): the signature binds every column but signatureId.
class AuditReviewTable
{
public:
    struct Row
    {
        qint64 id = 0;
        qint64 periodFrom = 0;
        qint64 periodTo = 0;
        QString comment;
        qint64 signatureId = 0;
        qint64 timeMs = 0;
    };
    // The longest comment kept; a longer one is refused, not cut.
    static constexpr int MaxComment = 2000;

    static QString tableName() { return QStringLiteral("audit_review"); }
    static QString recordKind() { return QStringLiteral("review"); }

    static SignedRecord signedFields(const Row& row);

    static bool ensureTable(SqliteHandle db, QString* error);
    // In an immediate transaction of its own: the row, its signature (with its audit entry) and
    // the row's signatureId. Refuses an empty or reversed period and a comment too long.
    static bool insertSigned(SqliteHandle db, Row* row, const QString& signer,
                             const QString& fullName, const QString& meaning,
                             ElectronicSignature* signature, QString* error);
    // The reviews whose period overlaps from..to (ms), oldest first; none without the table.
    static bool overlapping(SqliteHandle db, qint64 fromMs, qint64 toMs, QVector<Row>* rows,
                            QString* error);

    // "" when the row of `signedFields` still holds the fields signed; otherwise a sentence.
    static QString signedRecordProblem(SqliteHandle db, const SignedRecord& signedFields);
};
