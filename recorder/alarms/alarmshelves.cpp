#include "alarmshelves.h"

#include "alarmmonitor.h"
#include "alarmsuppressiontable.h"
#include "writejob.h"

AlarmShelves::AlarmShelves(AlarmMonitor* monitor, const QString& databasePath, const Submit& submit,
                           QObject* parent)
    : QObject(parent), m_monitor(monitor), m_databasePath(databasePath), m_submit(submit)
{
}

bool AlarmShelves::open(QString* error)
{
    if (!m_monitor)
        return false;
    QVector<AlarmSuppression> rows;
    const qint64 at = m_monitor->now().toSecsSinceEpoch();
    if (!AlarmSuppressionTable::readHolding(m_databasePath, at, &rows, error))
        return false;
    for (const AlarmSuppression& row : rows) {
        m_lastId = qMax(m_lastId, row.id);
        m_monitor->addSuppression(row);
    }
    return true;
}

std::optional<AlarmSuppression> AlarmShelves::shelve(const QString& serial, int channel,
                                                     int seconds, const QString& reason,
                                                     const QString& user, QString* problem)
{
    if (channel < 0 || channel > 2) {
        *problem = QStringLiteral("A node has channels 1 and 2 (0: all its alarms).");
        return std::nullopt;
    }
    if (seconds <= 0 || seconds > MaxShelveSeconds) {
        *problem = QStringLiteral("An alarm is shelved for at most 24 hours.");
        return std::nullopt;
    }
    AlarmSuppression row;
    row.kind = AlarmSuppression::Kind::Shelve;
    row.serial = serial;
    row.channel = channel;
    row.reason = reason;
    row.user = user;
    if (m_monitor) {
        row.from = m_monitor->now().toSecsSinceEpoch();
        row.until = row.from + seconds;
    }
    return begin(row, problem);
}

std::optional<AlarmSuppression> AlarmShelves::putOutOfService(const QString& serial,
                                                              const QDateTime& until,
                                                              const QString& reason,
                                                              const QString& user, QString* problem)
{
    AlarmSuppression row;
    row.kind = AlarmSuppression::Kind::OutOfService;
    row.serial = serial;
    row.reason = reason;
    row.user = user;
    if (m_monitor) {
        const QDateTime at = m_monitor->now();
        if (!until.isValid() || until <= at) {
            *problem = QStringLiteral("The time out of service must end later than now.");
            return std::nullopt;
        }
        if (until > at.addDays(MaxOutOfServiceDays)) {
            *problem = QStringLiteral("A node is out of service for at most %1 days at a time.")
                           .arg(MaxOutOfServiceDays);
            return std::nullopt;
        }
        row.from = at.toSecsSinceEpoch();
        row.until = until.toSecsSinceEpoch();
    }
    return begin(row, problem);
}

std::optional<AlarmSuppression> AlarmShelves::begin(AlarmSuppression row, QString* problem)
{
    if (!m_monitor) {
        *problem = QStringLiteral("The project's alarms are closed.");
        return std::nullopt;
    }
    if (row.serial.isEmpty() || m_monitor->node(row.serial).serial != row.serial) {
        *problem = QStringLiteral("The project has no node ") + row.serial + QLatin1Char('.');
        return std::nullopt;
    }
    row.reason = row.reason.trimmed();
    if (row.reason.isEmpty() || row.reason.size() > MaxReasonLength) {
        *problem = QStringLiteral("A reason of 1 to %1 characters is needed.").arg(MaxReasonLength);
        return std::nullopt;
    }
    if (row.until <= row.from) {
        *problem = QStringLiteral("The time ends before it begins.");
        return std::nullopt;
    }
    row.user = row.user.trimmed();
    row.id = newId();
    // Written first: the monitor's quiet begins with the row in the writer's hands.
    if (m_submit)
        m_submit(WriteJob::suppressionStart(row));
    m_monitor->addSuppression(row);
    return row;
}

bool AlarmShelves::end(qint64 id)
{
    if (!m_monitor || !m_monitor->endSuppression(id))
        return false;
    if (m_submit)
        m_submit(WriteJob::suppressionEnd(id, m_monitor->now().toSecsSinceEpoch()));
    return true;
}

qint64 AlarmShelves::newId()
{
    // Milliseconds of the clock keep ids of a run above those of the runs before it.
    m_lastId = qMax(m_lastId + 1, m_monitor->now().toMSecsSinceEpoch());
    return m_lastId;
}
