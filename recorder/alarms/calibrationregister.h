#pragma once

#include "calibrationrecord.h"

#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

struct ElectronicSignature;
struct WriteJob;

// The calibration register of the open project: the entries read from its database when it
// opens, new ones checked and handed to the project's writer, and from them what is due. Each
// channel's entry in force today (the latest calibrated on or before it) is "due soon" from 30
// days before its due date and overdue the day after it; the notes say so, refreshed when the
// local date changes and after an entry. Two reminders per entry (days before its due date, 0:
// off) go to the notification recipients once each: noted in the database, so that a restart
// does not send one again; one that fell due while the recorder was off goes at the next start
// (only the nearest, when both did). Never an alarm: the samples and the alarm log are not
// touched.
class CalibrationRegister : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;
    using Submit = std::function<void(const WriteJob& job)>;
    // A node's and a channel's names for the notes: "Freezer 2 ch1".
    using Label = std::function<QString(const QString& serial, int channel)>;
    // Puts a reminder `daysBefore` the due date of `entry` into the outbox; false when there is
    // nobody to tell (it is tried again the next day).
    using Remind = std::function<bool(const CalibrationRecord& entry, int daysBefore)>;

    // Days before the due date a channel shows as due.
    static constexpr int DueSoonDays = 30;

    // `submit` hands a write to the project's writer (none: kept in memory only, for tests).
    CalibrationRegister(const QString& databasePath, const Submit& submit,
                        QObject* parent = nullptr);

    void setClock(const Clock& clock);
    void setLabel(const Label& label);
    void setRemind(const Remind& remind);
    // Days before the due date of the first and second reminder; 0 turns one off.
    void setReminderDays(int first, int second);

    // Reads the entries and the reminders sent. False with the reason when the file could not be
    // read (the register is empty then, and sends nothing).
    bool open(QString* error);

    const QVector<CalibrationRecord>& entries() const { return m_entries; }
    // The entry in force today for a channel (1, 2).
    std::optional<CalibrationRecord> current(const QString& serial, int channel) const;

    // Checks `row` and gives it its id, who entered it and when; none with the reason in
    // `problem` when a field is out of bounds.
    std::optional<CalibrationRecord> prepare(CalibrationRecord row, const QString& enteredBy,
                                             QString* problem);
    // Hands a prepared entry (with its signature, when signed) to the writer and takes it in.
    void add(const CalibrationRecord& row, const ElectronicSignature* signature = nullptr);

    // Once a second (cheap): when the local date changed since the last check, the notes and
    // reminders are made again.
    void tick();
    // The notes and reminders now.
    void refresh();
    // "Calibration due: Freezer 2 ch1 on 2027-01-05", "Calibration overdue: ... since ...",
    // one per channel whose entry in force is due within DueSoonDays, soonest first.
    const QStringList& dueNotes() const { return m_notes; }
    static QString noteFor(const CalibrationRecord& entry, const QString& label,
                           const QDate& today);

signals:
    void dueNotesChanged(const QStringList& notes);
    void entryAdded(const CalibrationRecord& entry);

private:
    // The entries in force today, one per channel.
    QVector<CalibrationRecord> inForceToday(const QDate& today) const;
    void sendReminders(const QDate& today);
    qint64 newId();
    QDate today() const;

    QString m_databasePath;
    Submit m_submit;
    Clock m_clock;
    Label m_label;
    Remind m_remind;
    int m_firstDays = 30;
    int m_secondDays = 7;
    QVector<CalibrationRecord> m_entries;
    QSet<QPair<qint64, int>> m_sent;
    QStringList m_notes;
    QDate m_checkedDay;
    qint64 m_lastId = 0;
};
