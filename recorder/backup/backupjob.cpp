#include "backupjob.h"

#include "backupretention.h"
#include "databasebackup.h"
#include "verifycommand.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The last finding line of --verify's output, or its error, for the report.
QString verifyProblem(const QString& out, const QString& err)
{
    if (!err.trimmed().isEmpty())
        return err.trimmed();
    const QStringList lines = out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines)
        if (line.startsWith(QLatin1String("Finding: ")))
            return line.mid(9);
    return QStringLiteral("the records are not as they were written");
}

// Leftovers of a copy the program did not finish (it was ended meanwhile).
void removePartials(QDir folder, const QString& projectName)
{
    const QStringList parts = folder.entryList(
        {projectName + QStringLiteral("-*.dat") + DatabaseBackup::partialSuffix()}, QDir::Files);
    for (const QString& name : parts)
        if (BackupRetention::dateOf(projectName,
                                    name.chopped(DatabaseBackup::partialSuffix().size()))
                .isValid())
            folder.remove(name);
}

} // namespace

void BackupJob::lowerThreadPriority()
{
    // On Linux a thread's nice value is its own (the thread id as the process).
    ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10);
}

QDateTime BackupJob::newestCopy(const QString& folder, const QString& projectName)
{
    QDate newest;
    QString newestName;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    for (const QString& name : names) {
        const QDate date = BackupRetention::dateOf(projectName, name);
        if (date.isValid() && (!newest.isValid() || date > newest)) {
            newest = date;
            newestName = name;
        }
    }
    return newest.isValid() ? QFileInfo(QDir(folder).filePath(newestName)).lastModified()
                            : QDateTime();
}

BackupJob::Report BackupJob::run(const Request& request)
{
    Report report;
    const BackupSettings& settings = request.settings;
    QDir folder(settings.folder);
    if (!request.copy) {
        report.lastGood = newestCopy(settings.folder, request.projectName);
        return report;
    }
    report.attempted = true;
    if (!settings.enabled() || !folder.exists()) {
        report.error = QStringLiteral("folder %1 not found").arg(settings.folder);
        report.lastGood = newestCopy(settings.folder, request.projectName);
        return report;
    }
    removePartials(folder, request.projectName);
    report.copyPath =
        folder.filePath(BackupRetention::fileName(request.projectName, request.now.date()));

    QElapsedTimer clock;
    clock.start();
    const DatabaseBackup::Outcome copied =
        DatabaseBackup::copy(request.databasePath, report.copyPath);
    report.copyMs = clock.restart();
    if (!copied.ok) {
        report.diskFull = copied.diskFull;
        report.error = copied.diskFull ? QStringLiteral("disk full") : copied.error;
        report.lastGood = newestCopy(settings.folder, request.projectName);
        return report;
    }

    QString problem = DatabaseBackup::integrityProblem(report.copyPath);
    if (!problem.isEmpty()) {
        problem = QStringLiteral("integrity check: ") + problem;
    } else {
        QString out;
        QString err;
        QTextStream outStream(&out);
        QTextStream errStream(&err);
        const int status =
            VerifyCommand::runOnDatabase(request.projectPath, report.copyPath, QString(),
                                         outStream, errStream, request.now.toSecsSinceEpoch());
        if (status != 0)
            problem = QStringLiteral("verify: ") + verifyProblem(out, err);
    }
    report.checkMs = clock.elapsed();
    if (!problem.isEmpty()) {
        report.badPath = report.copyPath + badSuffix();
        QFile::remove(report.badPath);
        if (!QFile::rename(report.copyPath, report.badPath))
            report.badPath.clear();
        report.error = problem;
        report.lastGood = newestCopy(settings.folder, request.projectName);
        return report;
    }

    report.ok = true;
    report.deleted = BackupRetention::toDelete(request.projectName, folder.entryList(QDir::Files),
                                               settings.keepDaily, settings.keepMonthly,
                                               settings.keepYearly);
    for (const QString& name : qAsConst(report.deleted))
        if (!folder.remove(name))
            qWarning().noquote() << QStringLiteral("BackupJob : cannot delete ") +
                                        folder.filePath(name);
    report.lastGood = QFileInfo(report.copyPath).lastModified();
    return report;
}
