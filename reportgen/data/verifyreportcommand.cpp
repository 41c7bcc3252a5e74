#include "verifyreportcommand.h"

#include "periodrowsdigest.h"
#include "projectfile.h"
#include "reportapprovaltable.h"
#include "reportapprover.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "sqliteconnection.h"

#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

namespace {

constexpr int BusyTimeoutMs = 5000;

QString localTime(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

} // namespace

int VerifyReportCommand::run(const QString& reportPath, const QString& projectPath,
                             QTextStream& out, QTextStream& err)
{
    QByteArray sha;
    QString error;
    if (!QFileInfo(reportPath).isFile() || !ReportApprover::fileSha256(reportPath, &sha, &error)) {
        err << "Tallyforge: cannot read the report " << reportPath
            << (error.isEmpty() ? QString() : QStringLiteral(": ") + error) << '\n';
        return 2;
    }
    if (!QFileInfo(projectPath).isFile()) {
        err << "Tallyforge: cannot read the project file " << projectPath << '\n';
        return 2;
    }
    const QString database = ProjectFile::databasePath(projectPath);
    SqliteConnection connection;
    if (!QFileInfo(database).isFile() || !connection.openReadOnly(database, BusyTimeoutMs)) {
        err << "Tallyforge: cannot read the database " << database << '\n';
        return 2;
    }
    QVector<ReportApprovalTable::Row> approvals;
    if (!ReportApprovalTable::findByPdf(connection.get(), sha, &approvals, &error)) {
        err << "Tallyforge: cannot read the database " << database << ": " << error << '\n';
        return 2;
    }
    out << "Report: " << reportPath << '\n'
        << "Project: " << projectPath << '\n'
        << "SHA-256: " << sha << '\n';
    if (approvals.isEmpty()) {
        out << "Result: not an approved report of this project: no approval records this "
               "file's SHA-256\n";
        out.flush();
        return 1;
    }
    // The same file approved twice: the newest approval speaks for it.
    const ReportApprovalTable::Row row = approvals.last();
    QStringList findings;
    out << "Approved: the " << row.kind << " report of " << localTime(row.periodFrom) << " to "
        << localTime(row.periodTo) << " (local time), approval " << row.id << ", copy "
        << row.copyPath << '\n';
    if (approvals.size() > 1)
        out << "Approved " << approvals.size() << " times; the newest approval is shown\n";

    QVector<ElectronicSignature> signatures;
    if (!SignatureTable::forRecord(connection.get(), ReportApprovalTable::recordKind(),
                                   QString::number(row.id), &signatures, &error)) {
        err << "Tallyforge: cannot read the signatures: " << error << '\n';
        return 2;
    }
    const ElectronicSignature* signature = nullptr;
    for (const ElectronicSignature& s : qAsConst(signatures)) {
        if (s.id == row.signatureId)
            signature = &s;
    }
    if (!signature) {
        findings << QStringLiteral("the approval has no signature");
    } else {
        out << "Signed: " << signature->manifestation() << '\n';
        SignedRecord signedFields;
        if (!SignedRecord::parse(signature->recordFields, &signedFields))
            findings << QStringLiteral("the signature's record cannot be read");
        else if (signedFields.value(QStringLiteral("pdfSha256")) != QString::fromLatin1(sha))
            findings << QStringLiteral("the signature was given for another file");
        else {
            const QString problem =
                ReportApprovalTable::signedRecordProblem(connection.get(), signedFields);
            if (!problem.isEmpty())
                findings << problem;
        }
    }
    qint64 rows = 0;
    QByteArray digest;
    if (!PeriodRowsDigest::of(connection.get(), row.periodFrom, row.periodTo, &rows, &digest,
                              &error)) {
        err << "Tallyforge: cannot read the period's rows: " << error << '\n';
        return 2;
    }
    if (digest == row.rowsDigest && rows == row.rows) {
        out << "Rows: " << rows << " rows in the period, unchanged since the approval\n";
    } else {
        out << "Rows: changed since the approval (" << row.rows << " rows then, " << rows
            << " now)\n";
        findings << QStringLiteral("the rows of the period changed since the approval");
    }
    for (const QString& finding : qAsConst(findings))
        out << "Finding: " << finding << '\n';
    if (findings.isEmpty())
        out << "Result: an approved report of this project; its rows are unchanged\n";
    else
        out << "Result: not as approved\n";
    out.flush();
    return findings.isEmpty() ? 0 : 1;
}
