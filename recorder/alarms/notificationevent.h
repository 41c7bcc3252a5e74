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
};
