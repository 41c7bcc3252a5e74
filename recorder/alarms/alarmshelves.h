#pragma once

#include "alarmsuppression.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class AlarmMonitor;
struct WriteJob;

// The shelves and out-of-service times of the open project: each one checked, handed to the
// monitor (which keeps the alarms quiet) and written through the project's writer (table
// alarm_suppression), so that one still holding is read again when the project opens after a
// restart. Who may do it and their signature are the caller's (the window's command), which
// records it in the audit trail right after.
class AlarmShelves : public QObject
{
    Q_OBJECT

public:
    // The longest shelve; the shortest the dialog offers.
    static constexpr int MaxShelveSeconds = 24 * 3600;
    static constexpr int MinShelveSeconds = 15 * 60;
    // The furthest an out-of-service time may reach ahead.
    static constexpr int MaxOutOfServiceDays = 31;
    static constexpr int MaxReasonLength = 500;

    using Submit = std::function<void(const WriteJob& job)>;

    // `monitor` must outlive this. `submit` hands a write to the project's writer (none: kept
    // in memory only, for tests).
    AlarmShelves(AlarmMonitor* monitor, const QString& databasePath, const Submit& submit,
                 QObject* parent = nullptr);

    // Reads the suppressions still holding now and hands them to the monitor. False with the
    // reason when the file could not be read.
    bool open(QString* error);

    // A shelve of `channel` (1, 2; 0: every alarm of the node) for `seconds`; none with the
    // reason in `problem` for a node the monitor does not know, a channel, duration or reason
    // out of bounds.
    std::optional<AlarmSuppression> shelve(const QString& serial, int channel, int seconds,
                                           const QString& reason, const QString& user,
                                           QString* problem);
    // The node out of service from now until `until`.
    std::optional<AlarmSuppression> putOutOfService(const QString& serial, const QDateTime& until,
                                                    const QString& reason, const QString& user,
                                                    QString* problem);
    // Ends one early (unshelve, back in service); false for one not holding.
    bool end(qint64 id);

private:
    std::optional<AlarmSuppression> begin(AlarmSuppression row, QString* problem);
    qint64 newId();

    QPointer<AlarmMonitor> m_monitor;
    QString m_databasePath;
    Submit m_submit;
    qint64 m_lastId = 0;
};
