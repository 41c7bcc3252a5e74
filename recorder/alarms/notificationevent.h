#pragma once

#include "alarmkind.h"

#include <QDateTime>
#include <QString>

#include <limits>

// Why a message goes out. A test message belongs to no alarm.
enum class NotificationKind
{
    Start,
    Clear,
    Reminder,
    Escalation,
    Test,
    // A sensor's calibration is due soon (or overdue): no alarm, the register's reminder.
    Calibration,
    // A report made on schedule, sent with its PDF attached (NotificationMessage::report()).
    Report,
    // No alarm test was run for a number of days (AlarmTestReminder): no alarm either.
    AlarmTestReminder,
    // The daily backup of the project's database failed (eventId: the failure's time in
    // seconds, detail: why, nodeName: the backup folder).
    BackupFailed
};

// The fields of one alarm event that a notification tells, filled by whoever keeps the events.
// A plain record, so that building a message needs no database.
struct NotificationEvent
{
    qint64 eventId = 0;
    NotificationKind kind = NotificationKind::Start;
    // Reminders of one alarm count up from 1, so that each has a message id of its own.
    int sequence = 0;
    AlarmKind alarmKind = AlarmKind::High;
    QString projectName;
    QString nodeName;
    QString serial;
    // Empty for the alarms of a whole node (no data, battery).
    QString channelName;
    // NaN where there is none (no data).
    double value = std::numeric_limits<double>::quiet_NaN();
    double limit = std::numeric_limits<double>::quiet_NaN();
    QString unit;
    QDateTime start;
    // Invalid while the alarm lasts.
    QDateTime end;
    // How it ended; Active while it lasts. An end "recorder stopped" leaves its state unknown.
    AlarmEnd ended = AlarmEnd::Active;
    // The event that ended when the recorder stopped and that this one carries on after the
    // restart (the condition still held); 0 for none.
    qint64 continuesEventId = 0;
    // A calibration reminder: the certificate in force (eventId is the register's entry,
    // sequence the days before its due date, start the due date at local midnight).
    QString detail;
    // A report: its title ("Monthly report"), its period as shown ("2026-11-01 to 2026-11-30")
    // and whether it was made after its due time.
    QString reportTitle;
    QString periodText;
    bool late = false;
    // The report's message id before the database's origin ("report.monthly.2026-11").
    QString reportKey;
    // An alarm test (kind Start): a message that looks like an alarm's, marked as a test in its
    // subject ("[TEST] ...") and its JSON ("test": true). eventId is the test's id, nodeName the
    // nodes tested, detail who ran it. An alarm-test reminder: sequence is the days without a
    // test, start the last test (invalid: none yet), eventId the start of the lapse.
    bool test = false;
};
