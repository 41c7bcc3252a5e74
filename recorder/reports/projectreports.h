#pragma once

#include "reportrunner.h"
#include "reportrunrecord.h"
#include "reportschedulesettings.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class NotificationMessage;
class ProjectNotifications;

// The scheduled reports of the open project: its schedule from the project file, the runs
// earlier starts recorded in its database, and the runner that makes what is due and hands it
// to the outbox. Checked at open() and then whenever the local minute changes (tick()): what is
// due (ReportSchedule) and not under way goes to the runner. The mails' delivery, as the outbox
// tells it, is recorded as "sent". GUI-free; the window shows note().
class ProjectReports : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    // Puts a report message into the outbox: empty when queued, else why not
    // (ProjectNotifications::postReport()).
    using Post = std::function<QString(const NotificationMessage& message)>;

    ProjectReports(const QString& projectPath, const QString& projectName,
                   const QString& databasePath, QObject* parent = nullptr);
    ~ProjectReports() override;

    void setClock(const Clock& clock);
    void setPost(const Post& post) { m_post = post; }
    // Mails through the project's notifications (which outlive this): posted to the outbox,
    // their delivery recorded, the schedule's recipients given to them at each (re)load.
    void mailThrough(ProjectNotifications* notifications);
    // The runner's program, writer, audit and timings are set through it before open().
    ReportRunner* runner() const { return m_runner; }

    // Reads the schedule and the runs recorded, then checks at once. False with the reason when
    // the runs could not be read (nothing is made then: it could make them twice).
    bool open(QString* error);
    // The schedule was saved: read again and checked.
    void reload();
    // Once a second (cheap): checks when the local minute changed.
    void tick();
    // What is due now goes to the runner.
    void check();
    // The outbox sent message `messageId` (NotificationOutbox::sent()); a report's is recorded.
    void delivered(const QString& messageId);

    const ReportScheduleSettings& settings() const { return m_settings; }
    // The rows as known now: read at open(), then this run's outcomes, by period.
    const QHash<QString, ReportRunRecord>& runs() const { return m_runs; }
    QString note() const { return m_runner->note(); }
    const QStringList& keyProblems() const { return m_settings.keyProblems; }

    // The message key of a period ("report.daily.2026-03-28") and the period's key back from a
    // message id that starts with one; empty for other messages.
    static QString messageKey(const QString& periodKey);
    static QString periodKeyOf(const QString& messageId);
    // "Cold store-daily-2026-03-28.pdf"
    static QString attachmentName(const QString& projectName, const QString& fileName);

signals:
    void noteChanged(const QString& note);
    void keyProblemsChanged(const QStringList& problems);

private:
    QString mail(const ScheduledPeriod& period, const QByteArray& pdf);
    QDateTime now() const;

    QString m_projectPath;
    QString m_projectName;
    QString m_databasePath;
    ReportRunner* m_runner;
    Clock m_clock;
    Post m_post;
    ProjectNotifications* m_notifications = nullptr;
    ReportScheduleSettings m_settings;
    QHash<QString, ReportRunRecord> m_runs;
    QDateTime m_runningSince;
    qint64 m_checkedMinute = -1;
    bool m_open = false;
};
