#include "alarmtestlog.h"

#include "alarmtesttable.h"
#include "electronicsignature.h"
#include "writejob.h"

#include <algorithm>
#include <limits>

AlarmTestLog::AlarmTestLog(const QString& databasePath, const Submit& submit, QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_submit(submit),
      m_clock([] { return QDateTime::currentDateTime(); })
{
}

void AlarmTestLog::setClock(const Clock& clock)
{
    m_clock = clock;
}

void AlarmTestLog::setRemind(const Remind& remind)
{
    m_remind = remind;
}

void AlarmTestLog::setReminderDays(int days)
{
    m_days = qMax(0, days);
}

bool AlarmTestLog::open(QString* error)
{
    m_open = false;
    m_recent.clear();
    QVector<AlarmTestRecord> rows;
    if (!AlarmTestTable::read(m_databasePath, 0, std::numeric_limits<qint64>::max(), &rows, error))
        return false;
    qint64 armed = 0;
    qint64 reminded = -1;
    bool found = false;
    if (!AlarmTestTable::readState(m_databasePath, AlarmTestTable::armedStateName(), &armed, &found,
                                   error))
        return false;
    if (!found)
        armed = 0;
    if (!AlarmTestTable::readState(m_databasePath, AlarmTestTable::reminderStateName(), &reminded,
                                   &found, error))
        return false;
    m_remindedLapse = found ? reminded : -1;
    for (const AlarmTestRecord& r : qAsConst(rows)) {
        m_lastTest = qMax(m_lastTest, r.time);
        m_lastId = qMax(m_lastId, r.testId);
    }
    const int first = qMax(0, rows.size() - RecentRows);
    for (int i = rows.size() - 1; i >= first; --i)
        m_recent.append(rows.at(i));
    m_armed = armed;
    if (m_lastTest == 0 && m_armed == 0) {
        m_armed = m_clock().toSecsSinceEpoch();
        if (m_submit)
            m_submit(WriteJob::alarmTestState(AlarmTestTable::armedStateName(), m_armed));
    }
    m_open = true;
    return true;
}

qint64 AlarmTestLog::newTestId()
{
    m_lastId = qMax(m_lastId + 1, m_clock().toMSecsSinceEpoch());
    return m_lastId;
}

void AlarmTestLog::add(const QVector<AlarmTestRecord>& rows, const ElectronicSignature* signature)
{
    if (rows.isEmpty())
        return;
    if (m_submit)
        m_submit(WriteJob::alarmTest(rows, signature));
    for (const AlarmTestRecord& r : rows) {
        m_lastTest = qMax(m_lastTest, r.time);
        m_lastId = qMax(m_lastId, r.testId);
        m_recent.prepend(r);
    }
    if (m_recent.size() > RecentRows)
        m_recent.resize(RecentRows);
    emit testAdded(rows);
}

void AlarmTestLog::tick()
{
    if (!m_open || m_days <= 0 || !m_remind)
        return;
    const qint64 lapseFrom = m_lastTest > 0 ? m_lastTest : m_armed;
    if (lapseFrom <= 0 || lapseFrom == m_remindedLapse)
        return;
    // Days of the local calendar: the same time of day N days on, whatever summer time did.
    const QDateTime due = QDateTime::fromSecsSinceEpoch(lapseFrom).toLocalTime().addDays(m_days);
    if (m_clock().toSecsSinceEpoch() < due.toSecsSinceEpoch())
        return;
    const QDateTime last = m_lastTest > 0 ? QDateTime::fromSecsSinceEpoch(m_lastTest) : QDateTime();
    if (!m_remind(m_days, last, lapseFrom))
        return;
    m_remindedLapse = lapseFrom;
    if (m_submit)
        m_submit(WriteJob::alarmTestState(AlarmTestTable::reminderStateName(), lapseFrom));
}
