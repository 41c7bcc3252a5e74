#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

struct ReportTables;

// The alarm tests run in the report's period (the project's alarm-test log): one row per test
// and target. Tests are no alarms: nothing here touches the alarm or excursion counts.
class ReportAlarmTests
{
public:
    // Reads the tests of [from, to) (seconds UTC) into `tables` (none from a file without the
    // log). False with a trace when the file could not be read.
    static bool read(const QString& databasePath, qint64 from, qint64 to, ReportTables* tables);

    static QStringList titles();
    // Time (local), run by, nodes, target, answer, the server's words.
    static QVector<QStringList> rows(const ReportTables& tables);
};
