#pragma once

#include "electronicsignature.h"
#include "reportapprovaltable.h"
#include "reportperiod.h"
#include "signaturegrant.h"

#include <QString>

// The approval of a report made in the window, without widgets. The signature comes first (its
// grant), the PDF is then rendered with the signature's manifestation, and only that final file
// is hashed, copied beside the project and recorded with the signature:
//   NAME-approved/KIND-yyyy-MM-dd-<first 12 hex digits of its SHA-256>.pdf
// in the project's folder. approve() reads files and the database and may wait on the file's
// lock: it runs on a thread of its own, never the GUI's.
class ReportApprover
{
public:
    struct Request
    {
        QString projectPath;
        ReportKind kind = ReportKind::Daily;
        qint64 periodFrom = 0; // seconds UTC, the first second of the period
        qint64 periodTo = 0;   // seconds UTC, the first second after it
        QString pdfPath;       // the file rendered with manifestationText()
        SignatureGrant grant;
    };
    struct Outcome
    {
        ReportApprovalTable::Row row;
        ElectronicSignature signature;
        QString copyPath; // absolute
    };

    static QString meaning() { return QStringLiteral("approved"); }
    // The line the approved PDF carries below its content: "Approved: " and the manifestation.
    static QString manifestationText(const SignatureGrant& grant);
    // "<folder>/<base name>-approved".
    static QString copyFolder(const QString& projectPath);
    // "daily-2026-12-08-0123456789ab.pdf": kind, the period's first local day, 12 hex digits.
    static QString copyName(ReportKind kind, qint64 periodFrom, const QByteArray& pdfSha256);
    // The PDF of a file as 64 lowercase hex digits, read in parts; false when unreadable.
    static bool fileSha256(const QString& path, QByteArray* sha256, QString* error);

    // Hashes the file, digests the period's rows, keeps the copy and commits the row with its
    // signature in one transaction. When the commit fails the copy is deleted again and the
    // error says so; the rendered file is left to the caller.
    static bool approve(const Request& request, Outcome* outcome, QString* error);
};
