#pragma once

#include "backupjob.h"
#include "backupsettings.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThread>

#include <functional>

// The open project's daily backup: once a second (tick()) it sees whether a copy is due and, if
// so, runs a BackupJob on a thread of its own, so that the GUI thread never waits on the folder
// (a network share) or the copy. A copy is due once the day's backup time has passed and the
// newest good copy is older than that time and not of today; a backup due while the recorder
// was off is therefore taken at its next start. After a failure it tries again an hour later.
// The newest good copy is looked for in the folder when the scheduler starts (on its thread too).
class BackupScheduler : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    static constexpr qint64 RetryMs = 60 * 60 * 1000;

    BackupScheduler(const QString& projectPath, const QString& projectName,
                    const QString& databasePath, QObject* parent = nullptr);
    // A job still running goes on without anyone to tell: it only writes its own files.
    ~BackupScheduler() override;

    void setClock(const Clock& clock) { m_clock = clock; }
    // New settings: the folder is looked at again.
    void setSettings(const BackupSettings& settings);
    const BackupSettings& settings() const { return m_settings; }
    const QString& projectPath() const { return m_projectPath; }
    void tick();
    bool isRunning() const { return m_thread != nullptr; }
    // "Backup: 5 h ago", "Backup failed: disk full", "Backup running"; empty while backups are
    // off.
    QString statusText() const;
    QDateTime lastGood() const { return m_lastGood; }

    // Whether a copy is due at `now` (local times).
    static bool isDue(const QDateTime& now, const QTime& timeOfDay, const QDateTime& lastGood,
                      const QDateTime& lastFailure);
    // "just now", "25 min ago", "5 h ago", "3 days ago".
    static QString ageText(const QDateTime& then, const QDateTime& now);

signals:
    void statusChanged(const QString& text);
    // A copy failed its run or its checks: `reason` in a few words, `copyPath` where it was to go.
    void backupFailed(const QString& reason, const QString& copyPath);
    void backupFinished(const BackupJob::Report& report);

private:
    void start(bool copy);
    void finish(const BackupJob::Report& report);
    void showStatus();

    QString m_projectPath;
    QString m_projectName;
    QString m_databasePath;
    BackupSettings m_settings;
    Clock m_clock;
    QPointer<QThread> m_thread;
    bool m_scanned = false;
    QDateTime m_lastGood;
    QDateTime m_lastFailure;
    QString m_failure;
    QString m_shown;
    // Settings changed while a job ran: the folder is looked at again once it ends.
    bool m_rescan = false;
};
