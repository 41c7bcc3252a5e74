#pragma once

#include "reportworker.h"

#include "reportperiod.h"

#include <QList>
#include <QString>

struct ReportTables;

// The statistics worker of the reports of whole days (weekly, monthly, HACCP): one row per
// local day with average, minimum and maximum of each chosen channel's valid samples, the
// chart as each step's lowest and highest value, and against the critical limits the time out
// of limits per day, the excursions and the data gaps. With the recorder's index the days are
// read in parallel, one reader per thread; without it each node is read in one pass.
class GenerateDayQueries : public ReportWorker
{
    Q_OBJECT

public:
    struct Channel
    {
        QString toolTip; // deviceNumber "_" column "|" unit
        bool limited = false;
        double lower = 0;
        double upper = 0;
    };

    GenerateDayQueries(const QString& databasePath, const ReportPeriod& period, int intervalMs,
                       const QList<Channel>& channels, ReportTables* tables,
                       QObject* parent = nullptr);

    // Seconds between chart steps: a day's chart keeps a point a minute, longer periods fewer,
    // and a step always spans at least two sampling intervals.
    static qint64 chartStep(int days, int intervalMs);

protected:
    void run() override;

private:
    bool analyse();

    QString databasePath;
    ReportPeriod period;
    int dataInterval;
    QList<Channel> channels;
    ReportTables* tables;
};
