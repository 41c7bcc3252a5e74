#pragma once

#include "backupsettings.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// One run of a project's backup, without any window or event loop, on the thread that calls it
// (the scheduler's own, never the GUI thread: the folder may be a network share and a copy of a
// month takes seconds): the database copied into the folder under the day's name, the copy
// checked (PRAGMA integrity_check, then the --verify checks of Tallyforge on the copy), a copy
// that fails renamed "... .bad" and kept aside, and the copies the retention no longer keeps
// deleted. Without `copy` it only looks for the newest good copy (the scheduler's start).
class BackupJob
{
public:
    struct Request
    {
        QString projectPath;
        QString projectName;
        QString databasePath;
        BackupSettings settings;
        QDateTime now;
        bool copy = true;
    };
    struct Report
    {
        bool attempted = false;
        bool ok = false;
        bool diskFull = false;
        // Why it failed, in a few words for the status bar and the notification.
        QString error;
        QString copyPath;
        QString badPath;
        QStringList deleted;
        // The newest good copy after the run (invalid: none): its file's time.
        QDateTime lastGood;
        qint64 copyMs = 0;
        qint64 checkMs = 0;
    };
    // The suffix of a copy kept aside because it failed its checks.
    static QString badSuffix() { return QStringLiteral(".bad"); }

    static Report run(const Request& request);
    // The calling thread (one made for the job) yields the processor to the recorder's writer
    // and window: on a loaded machine the checks' hashing would otherwise delay their turns.
    static void lowerThreadPriority();
    // The time of the newest of the project's copies in `folder` (invalid: none).
    static QDateTime newestCopy(const QString& folder, const QString& projectName);
};
