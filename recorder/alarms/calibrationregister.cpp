#include "calibrationregister.h"

#include "calibrationtable.h"
#include "electronicsignature.h"
#include "writejob.h"

#include <algorithm>

CalibrationRegister::CalibrationRegister(const QString& databasePath, const Submit& submit,
                                         QObject* parent)
    : QObject(parent), m_databasePath(databasePath), m_submit(submit),
      m_clock([] { return QDateTime::currentDateTime(); })
{
}

void CalibrationRegister::setClock(const Clock& clock)
{
    m_clock = clock;
}

void CalibrationRegister::setLabel(const Label& label)
{
    m_label = label;
}

void CalibrationRegister::setRemind(const Remind& remind)
{
    m_remind = remind;
}

void CalibrationRegister::setReminderDays(int first, int second)
{
    m_firstDays = qMax(0, first);
    m_secondDays = qMax(0, second);
}

bool CalibrationRegister::open(QString* error)
{
    m_entries.clear();
    m_sent.clear();
    QVector<CalibrationRecord> rows;
    QVector<CalibrationTable::Reminder> sent;
    if (!CalibrationTable::read(m_databasePath, &rows, error) ||
        !CalibrationTable::readReminders(m_databasePath, &sent, error))
        return false;
    m_entries = rows;
    for (const CalibrationRecord& row : qAsConst(m_entries))
        m_lastId = qMax(m_lastId, row.id);
    for (const auto& reminder : qAsConst(sent))
        m_sent.insert(reminder);
    return true;
}

QDate CalibrationRegister::today() const
{
    return m_clock().toLocalTime().date();
}

std::optional<CalibrationRecord> CalibrationRegister::current(const QString& serial,
                                                              int channel) const
{
    const CalibrationRecord* entry =
        CalibrationTable::inForce(m_entries, serial, CalibrationRecord::columnOf(channel), today());
    return entry ? std::optional<CalibrationRecord>(*entry) : std::nullopt;
}

std::optional<CalibrationRecord>
CalibrationRegister::prepare(CalibrationRecord row, const QString& enteredBy, QString* problem)
{
    row.id = newId();
    row.enteredBy = enteredBy;
    row.enteredAt = m_clock().toSecsSinceEpoch();
    row.signatureId = 0;
    *problem = row.problem();
    if (!problem->isEmpty())
        return std::nullopt;
    return row;
}

void CalibrationRegister::add(const CalibrationRecord& row, const ElectronicSignature* signature)
{
    if (m_submit)
        m_submit(WriteJob::calibration(row, signature));
    CalibrationRecord kept = row;
    // The id the signature gets comes with the commit; a signed entry shows as such meanwhile.
    if (signature)
        kept.signatureId = qMax<qint64>(signature->id, 1);
    m_entries.append(kept);
    m_lastId = qMax(m_lastId, row.id);
    emit entryAdded(kept);
    refresh();
}

qint64 CalibrationRegister::newId()
{
    // Milliseconds of the clock keep ids of a run above those of the runs before it.
    m_lastId = qMax(m_lastId + 1, m_clock().toMSecsSinceEpoch());
    return m_lastId;
}

void CalibrationRegister::tick()
{
    if (today() != m_checkedDay)
        refresh();
}

QVector<CalibrationRecord> CalibrationRegister::inForceToday(const QDate& day) const
{
    QVector<CalibrationRecord> found;
    QSet<QPair<QString, QString>> seen;
    for (const CalibrationRecord& row : m_entries) {
        const QPair<QString, QString> channel{row.serial, row.column};
        if (seen.contains(channel))
            continue;
        seen.insert(channel);
        if (const CalibrationRecord* entry =
                CalibrationTable::inForce(m_entries, row.serial, row.column, day))
            found.append(*entry);
    }
    return found;
}

QString CalibrationRegister::noteFor(const CalibrationRecord& entry, const QString& label,
                                     const QDate& today)
{
    const QString due = CalibrationRecord::dateText(entry.due);
    return entry.isOverdueOn(today)
               ? QStringLiteral("Calibration overdue: ") + label + QStringLiteral(" since ") + due
               : QStringLiteral("Calibration due: ") + label + QStringLiteral(" on ") + due;
}

void CalibrationRegister::refresh()
{
    const QDate day = today();
    m_checkedDay = day;
    QVector<CalibrationRecord> due;
    for (const CalibrationRecord& entry : inForceToday(day)) {
        if (entry.isDueWithin(day, DueSoonDays))
            due.append(entry);
    }
    std::stable_sort(
        due.begin(), due.end(),
        [](const CalibrationRecord& a, const CalibrationRecord& b) { return a.due < b.due; });
    QStringList notes;
    for (const CalibrationRecord& entry : qAsConst(due)) {
        const int channel = entry.channelNumber();
        const QString label = m_label ? m_label(entry.serial, channel)
                                      : entry.serial + QStringLiteral(" ch%1").arg(channel);
        notes << noteFor(entry, label, day);
    }
    sendReminders(day);
    if (notes != m_notes) {
        m_notes = notes;
        emit dueNotesChanged(m_notes);
    }
}

void CalibrationRegister::sendReminders(const QDate& day)
{
    if (!m_remind)
        return;
    for (const CalibrationRecord& entry : inForceToday(day)) {
        QVector<int> due;
        for (const int days : {m_firstDays, m_secondDays}) {
            if (days > 0 && day >= entry.due.addDays(-days) && !m_sent.contains({entry.id, days}))
                due.append(days);
        }
        if (due.isEmpty())
            continue;
        // Both fell due while the recorder was off: the nearer one tells enough.
        const int nearest = *std::min_element(due.begin(), due.end());
        if (!m_remind(entry, nearest))
            continue;
        const qint64 at = m_clock().toSecsSinceEpoch();
        for (const int days : qAsConst(due)) {
            m_sent.insert({entry.id, days});
            if (m_submit)
                m_submit(WriteJob::calibrationReminder(entry.id, days, at));
        }
    }
}
