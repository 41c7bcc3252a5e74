#include "reportapprover.h"

#include "periodrowsdigest.h"
#include "projectfile.h"
#include "sha256.h"
#include "sqliteconnection.h"
#include "usertable.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr int BusyTimeoutMs = 10000;

} // namespace

QString ReportApprover::manifestationText(const SignatureGrant& grant)
{
    ElectronicSignature signature;
    signature.signer = grant.signer;
    signature.fullName = grant.fullName;
    signature.timeMs = grant.timeMs;
    signature.meaning = meaning();
    return QStringLiteral("Approved: ") + signature.manifestation();
}

QString ReportApprover::copyFolder(const QString& projectPath)
{
    const QFileInfo info(projectPath);
    return info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral("-approved");
}

QString ReportApprover::copyName(ReportKind kind, qint64 periodFrom, const QByteArray& pdfSha256)
{
    const QDate first = QDateTime::fromSecsSinceEpoch(periodFrom).date();
    return ReportPeriod::kindName(kind) + QLatin1Char('-') +
           first.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('-') +
           QString::fromLatin1(pdfSha256.left(12)) + QStringLiteral(".pdf");
}

bool ReportApprover::fileSha256(const QString& path, QByteArray* sha256, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    Sha256 hash;
    QByteArray part;
    while (!(part = file.read(1 << 20)).isEmpty())
        hash.add(part);
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    *sha256 = hash.result().toHex();
    return true;
}

bool ReportApprover::approve(const Request& request, Outcome* outcome, QString* error)
{
    ReportApprovalTable::Row row;
    row.kind = ReportPeriod::kindName(request.kind);
    row.periodFrom = request.periodFrom;
    row.periodTo = request.periodTo;
    row.timeMs = request.grant.timeMs;
    if (!fileSha256(request.pdfPath, &row.pdfSha256, error)) {
        *error = QStringLiteral("The report could not be read again: ") + *error;
        return false;
    }
    SqliteConnection connection;
    if (!UserTable::open(&connection, ProjectFile::databasePath(request.projectPath), BusyTimeoutMs,
                         error))
        return false;
    if (!PeriodRowsDigest::of(connection.get(), row.periodFrom, row.periodTo, &row.rows,
                              &row.rowsDigest, error)) {
        *error = QStringLiteral("The period's rows could not be read: ") + *error;
        return false;
    }
    const QString folder = copyFolder(request.projectPath);
    const QString name = copyName(request.kind, row.periodFrom, row.pdfSha256);
    row.copyPath = QFileInfo(folder).fileName() + QLatin1Char('/') + name;
    const QString copy = folder + QLatin1Char('/') + name;
    if (!QDir().mkpath(folder)) {
        *error = QStringLiteral("The folder %1 could not be made.").arg(folder);
        return false;
    }
    // The same file approved again has the same name: the copy there is this file already.
    const bool copied = !QFileInfo::exists(copy);
    if (copied && !QFile::copy(request.pdfPath, copy)) {
        *error = QStringLiteral("The copy %1 could not be written.").arg(copy);
        return false;
    }
    QByteArray copySha;
    QString readError;
    if (!fileSha256(copy, &copySha, &readError) || copySha != row.pdfSha256) {
        if (copied)
            QFile::remove(copy);
        *error = QStringLiteral("The copy %1 does not hold the approved file.").arg(copy);
        return false;
    }
    ElectronicSignature signature;
    if (!ReportApprovalTable::insertSigned(connection.get(), &row, request.grant.signer,
                                           request.grant.fullName, meaning(), &signature, error)) {
        if (copied)
            QFile::remove(copy);
        *error = QStringLiteral("The approval could not be recorded (%1); the copy was removed "
                                "again and the report is not approved.")
                     .arg(*error);
        return false;
    }
    outcome->row = row;
    outcome->signature = signature;
    outcome->copyPath = copy;
    return true;
}
