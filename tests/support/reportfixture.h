#pragma once

#include "alarmeventrecord.h"
#include "auditentry.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QVariant>
#include <QVector>

// Builds the files the report generator reads: a project file and a sample database with the
// recorder's schema, in a folder the test owns.
namespace ReportFixture {

struct Sample
{
    QString serial;
    QVariant channel1; // a null QVariant is stored as NULL
    QVariant channel2;
    qint64 pointDate;
};

// Sets the process's time zone (TZ) and returns the one before; restoreZone puts that back.
QByteArray setZone(const QByteArray& zone);
void restoreZone(const QByteArray& before);

// What a worker test works in: a folder of its own with a fresh database name for each test
// function, and a time zone set for the whole test object and put back after it.
class Workspace
{
public:
    explicit Workspace(const QByteArray& zone);
    ~Workspace();
    Workspace(const Workspace&) = delete;
    Workspace& operator=(const Workspace&) = delete;
    bool isValid() const { return dir.isValid(); }
    QString nextDatabase();

private:
    QTemporaryDir dir;
    QByteArray zoneBefore;
    int databases = 0;
};

// Unix seconds of a local "yyyy-MM-dd hh:mm:ss" time.
qint64 localSecs(const QString& text);

// A gateway object with nodes (deviceNumber, deviceName, ch1Name, ch2Name, units 1 and 3).
// limits, by node: ch1_min, ch1_max, ch2_min, ch2_max (all 0 when not given).
QByteArray nestedDeviceList(const QStringList& numbers, const QList<QVector<double>>& limits = {});

// Writes a project file; databaseName is "<base name>.dat". Returns its path.
QString writeProject(const QString& folder, const QString& fileName, const QByteArray& deviceList,
                     int interval, const QString& recordStart, const QString& recordStop);

// Creates the database with the recorder's table and the given rows (false on failure); with
// `summary`, the table's index and summary come first, as in a file the recorder makes now.
bool writeDatabase(const QString& path, const QList<Sample>& samples, bool wal = false,
                   bool summary = false);

// An event of the recorder's alarm log, raised at its start; one without an end is active.
AlarmEventRecord alarmEvent(qint64 id, const QString& serial, int channel, AlarmKind kind,
                            qint64 start, std::optional<qint64> end,
                            AlarmEnd ended = AlarmEnd::Cleared);
// Adds the recorder's alarm event log, holding these events, to a database.
bool writeAlarmEvents(const QString& path, const QVector<AlarmEventRecord>& events);
// Signs the acknowledgement of `event` as `signer` (full name `fullName`) at its time, with its
// audit entry, as the recorder does.
bool writeAlarmSignature(const QString& path, const AlarmEventRecord& event,
                         const QString& signer, const QString& fullName);
// Appends these entries (sequence and hashes set on the way) to a database's audit trail, made
// when missing.
bool writeAuditEntries(const QString& path, QVector<AuditEntry> entries);

} // namespace ReportFixture
