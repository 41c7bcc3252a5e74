#include "reportalarmtests.h"

#include "alarmtesttable.h"
#include "reporttables.h"

#include <QDateTime>
#include <QDebug>

bool ReportAlarmTests::read(const QString& databasePath, qint64 from, qint64 to,
                            ReportTables* tables)
{
    tables->alarmTests.clear();
    QString error;
    if (!AlarmTestTable::read(databasePath, from, to, &tables->alarmTests, &error)) {
        qDebug().noquote() << QStringLiteral("ReportAlarmTests::read : ") + error;
        return false;
    }
    return true;
}

QStringList ReportAlarmTests::titles()
{
    return {QStringLiteral("Time"),   QStringLiteral("Run By"), QStringLiteral("Nodes"),
            QStringLiteral("Target"), QStringLiteral("Answer"), QStringLiteral("Text")};
}

QVector<QStringList> ReportAlarmTests::rows(const ReportTables& tables)
{
    QVector<QStringList> rows;
    for (const AlarmTestRecord& r : tables.alarmTests) {
        const QString time = QDateTime::fromSecsSinceEpoch(r.time).toLocalTime().toString(
            QStringLiteral("yyyy-MM-dd hh:mm:ss"));
        rows.append({time, r.user, r.nodes, r.target, r.answer,
                     r.text.isEmpty() ? QStringLiteral("-") : r.text});
    }
    return rows;
}
