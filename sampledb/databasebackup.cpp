#include "databasebackup.h"

#include "sqliteconnection.h"
#include "sqlitestatement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// How long the copy waits for the writer's checkpoint or a lock before it gives up.
constexpr int BusyTimeoutMs = 10000;
constexpr int BusyPauseMs = 20;
// Pages a step of Method::PageSteps: 16 MiB of 4 KiB pages.
constexpr int StepPages = 4096;
// Problems of integrity_check listed at most.
constexpr int ListedProblems = 5;

bool isFullCode(int code)
{
    return (code & 0xff) == SQLITE_FULL;
}

DatabaseBackup::Outcome failure(const QString& text, bool full = false)
{
    DatabaseBackup::Outcome outcome;
    outcome.error = text;
    outcome.diskFull = full;
    return outcome;
}

// fsync of a file or folder by path; errno's text when it fails.
QString syncPath(const QString& path, bool folder)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          folder ? (O_RDONLY | O_DIRECTORY) : O_RDWR);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    const int rc = ::fsync(fd);
    const int saved = errno;
    ::close(fd);
    return rc == 0 ? QString() : QString::fromLocal8Bit(std::strerror(saved));
}

// Writes the dirty pages of the copy to the disk, so that they never pile up to gigabytes
// that the writer's next fsync would queue behind.
void syncPart(int fd)
{
    if (fd >= 0)
        ::fdatasync(fd);
}

// `stepPages` 0: every page in one step. Otherwise that many pages a step, each followed by a
// sync of the copy, all inside one read transaction of the source opened here: the source
// connection keeps its snapshot between the steps, so the writer's commits do not restart it.
QString pageCopy(sqlite3* source, const QString& partPath, int stepPages, bool* full)
{
    SqliteConnection target;
    if (!target.open(partPath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE))
        return target.errorText();
    // The copy is made durable once, by fsync before the rename; a journal of a file that is
    // renamed only when whole would protect nothing.
    sqlite3_exec(target.get(), "pragma journal_mode = off; pragma synchronous = off", nullptr,
                 nullptr, nullptr);
    const int maxPages = qEnvironmentVariableIntValue(DatabaseBackup::MaxPagesVariable);
    if (maxPages > 0) {
        const QByteArray limit = "pragma max_page_count = " + QByteArray::number(maxPages);
        sqlite3_exec(target.get(), limit.constData(), nullptr, nullptr, nullptr);
    }
    if (stepPages > 0 &&
        (sqlite3_exec(source, "begin; select count(*) from sqlite_master", nullptr, nullptr,
                      nullptr) != SQLITE_OK))
        return QString::fromUtf8(sqlite3_errmsg(source));
    sqlite3_backup* backup = sqlite3_backup_init(target.get(), "main", source, "main");
    if (!backup) {
        sqlite3_exec(source, "rollback", nullptr, nullptr, nullptr);
        return target.lastError();
    }
    const int fd = stepPages > 0 ? ::open(QFile::encodeName(partPath).constData(), O_RDWR) : -1;
    int stepped = SQLITE_OK;
    int busyWaits = 0;
    do {
        stepped = sqlite3_backup_step(backup, stepPages > 0 ? stepPages : -1);
        if (stepped == SQLITE_OK) {
            syncPart(fd);
        } else if (stepped == SQLITE_BUSY || stepped == SQLITE_LOCKED) {
            // A lock held elsewhere for longer than the busy timeout: the copy gives up.
            if (++busyWaits * BusyPauseMs > BusyTimeoutMs)
                break;
            sqlite3_sleep(BusyPauseMs);
        }
    } while (stepped == SQLITE_OK || stepped == SQLITE_BUSY || stepped == SQLITE_LOCKED);
    if (fd >= 0)
        ::close(fd);
    const int finished = sqlite3_backup_finish(backup);
    if (stepPages > 0)
        sqlite3_exec(source, "rollback", nullptr, nullptr, nullptr);
    if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
        const int code = stepped != SQLITE_DONE ? stepped : finished;
        *full = isFullCode(code) || isFullCode(sqlite3_extended_errcode(target.get()));
        return QString::fromUtf8(sqlite3_errstr(code));
    }
    target.close();
    return QString();
}

QString vacuumInto(sqlite3* source, const QString& partPath, bool* full)
{
    SqliteStatement vacuum(source, "vacuum into ?");
    if (!vacuum.isValid())
        return QString::fromUtf8(sqlite3_errmsg(source));
    SqliteStatement::bindText(vacuum.get(), 1, partPath);
    const int rc = sqlite3_step(vacuum.get());
    if (rc == SQLITE_DONE)
        return QString();
    *full = isFullCode(rc) || isFullCode(sqlite3_extended_errcode(source));
    return QString::fromUtf8(sqlite3_errmsg(source));
}

// The copy carries the database's WAL mode in its header: every reader of it (the checks,
// --verify after a restore) would leave -wal and -shm files beside it in the backup folder. In
// rollback mode it is one file; the recorder puts a restored file back into WAL mode itself.
QString leaveWalMode(const QString& partPath)
{
    SqliteConnection target;
    if (!target.open(partPath, SQLITE_OPEN_READWRITE))
        return target.errorText();
    if (sqlite3_exec(target.get(), "pragma journal_mode = delete", nullptr, nullptr, nullptr) !=
        SQLITE_OK)
        return target.lastError();
    target.close();
    return QString();
}

} // namespace

DatabaseBackup::Outcome DatabaseBackup::copy(const QString& databasePath,
                                             const QString& targetPath, Method method)
{
    if (!QFileInfo(databasePath).isFile())
        return failure(QStringLiteral("the database %1 does not exist").arg(databasePath));
    const QString folder = QFileInfo(targetPath).absolutePath();
    if (!QFileInfo(folder).isDir())
        return failure(QStringLiteral("the folder %1 does not exist").arg(folder));
    const QString partPath = targetPath + partialSuffix();
    QFile::remove(partPath);

    SqliteConnection source;
    if (!source.openReadOnly(databasePath, BusyTimeoutMs))
        return failure(source.errorText());
    bool full = false;
    QString error;
    switch (method) {
    case Method::PageCopy:
        error = pageCopy(source.get(), partPath, 0, &full);
        break;
    case Method::PageSteps:
        error = pageCopy(source.get(), partPath, StepPages, &full);
        break;
    case Method::VacuumInto:
        error = vacuumInto(source.get(), partPath, &full);
        break;
    }
    source.close();
    if (error.isEmpty())
        error = leaveWalMode(partPath);
    if (error.isEmpty())
        error = syncPath(partPath, false);
    if (!error.isEmpty()) {
        QFile::remove(partPath);
        full = full || error.contains(QLatin1String("No space left"));
        return failure(error, full);
    }
    if (std::rename(QFile::encodeName(partPath).constData(),
                    QFile::encodeName(targetPath).constData()) != 0) {
        const int saved = errno;
        QFile::remove(partPath);
        return failure(QString::fromLocal8Bit(std::strerror(saved)), saved == ENOSPC);
    }
    // The rename itself is durable once the folder is.
    syncPath(folder, true);
    Outcome outcome;
    outcome.ok = true;
    outcome.bytes = QFileInfo(targetPath).size();
    return outcome;
}

QString DatabaseBackup::integrityProblem(const QString& path)
{
    SqliteConnection db;
    if (!db.openReadOnly(path, BusyTimeoutMs))
        return db.errorText();
    SqliteStatement check(db.get(), "pragma integrity_check(" +
                                        QByteArray::number(ListedProblems) + ")");
    if (!check.isValid())
        return db.lastError();
    QStringList problems;
    int rc = SQLITE_ROW;
    while ((rc = sqlite3_step(check.get())) == SQLITE_ROW)
        problems << SqliteStatement::textAt(check.get(), 0);
    if (rc != SQLITE_DONE)
        return db.lastError();
    if (problems == QStringList{QStringLiteral("ok")})
        return QString();
    return problems.isEmpty() ? QStringLiteral("no answer") : problems.join(QStringLiteral("; "));
}
