#pragma once

#include "alarmtestrecord.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QVector>

#include <functional>

struct ElectronicSignature;
struct WriteJob;

// The alarm-test log of the open project: the tests read from its database when it opens, new
// ones handed to the project's writer, and the reminder when no test was run for a number of
// days (0: off). The reminder goes once per lapse: the start of the lapse it went for is noted
// in the database, so that a restart does not send it again; one that fell due while the
// recorder was off goes at the next start. A project that never had a test counts its first
// lapse from the first time this log was opened (noted too). Never an alarm: the samples and
// the alarm log are not touched.
class AlarmTestLog : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Submit = std::function<void(const WriteJob& job)>;
    // Puts the reminder into the outbox: `days` without a test, the last test (invalid: none),
    // `lapseFrom` (seconds UTC) the start of the lapse. False when there is nobody to tell (it
    // is tried again at the next tick).
    using Remind = std::function<bool(int days, const QDateTime& lastTest, qint64 lapseFrom)>;

    static constexpr int DefaultReminderDays = 30;
    // The rows recent() keeps.
    static constexpr int RecentRows = 200;

    // `submit` hands a write to the project's writer (none: kept in memory only, for tests).
    AlarmTestLog(const QString& databasePath, const Submit& submit, QObject* parent = nullptr);

    void setClock(const Clock& clock);
    void setRemind(const Remind& remind);
    void setReminderDays(int days);

    // Reads the tests and the reminder's state. False with the reason when the file could not
    // be read (then no reminder goes out: a lapse that cannot be known is not claimed).
    bool open(QString* error);

    // A new test's id: milliseconds of the clock, above every id before it.
    qint64 newTestId();
    QDateTime now() const { return m_clock(); }
    // Hands a finished test (with its signature, when signed) to the writer and takes it in.
    void add(const QVector<AlarmTestRecord>& rows, const ElectronicSignature* signature = nullptr);
    // The newest rows, newest first.
    const QVector<AlarmTestRecord>& recent() const { return m_recent; }
    // The time of the last test (seconds UTC); 0 for none.
    qint64 lastTest() const { return m_lastTest; }

    // Once a second (cheap): sends the reminder when it is due.
    void tick();

signals:
    void testAdded(const QVector<AlarmTestRecord>& rows);

private:
    QString m_databasePath;
    Submit m_submit;
    Clock m_clock;
    Remind m_remind;
    int m_days = DefaultReminderDays;
    bool m_open = false;
    qint64 m_lastTest = 0;
    qint64 m_armed = 0;
    qint64 m_remindedLapse = -1;
    qint64 m_lastId = 0;
    QVector<AlarmTestRecord> m_recent;
};
