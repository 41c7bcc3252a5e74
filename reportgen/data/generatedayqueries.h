#pragma once

#include "reportworker.h"

#include "reportchannel.h"
#include "reportperiod.h"

#include <QList>
#include <QString>

#include <functional>

#include <vector>

class ChannelAnalysis;
struct ReportTables;

// The statistics worker of the reports of whole days (weekly, monthly, HACCP): one row per
// local day with average, minimum and maximum of each chosen channel's valid samples, the
// chart as each step's lowest and highest value, and against the critical limits the time out
// of limits per day, the excursions and the data gaps. With the recorder's index the days are
// read in parallel, one reader per thread; without it each node is read in one pass. The
// weekly and monthly reports read the recorder's summary instead, where the file has one.
class SampleReader;

class GenerateDayQueries : public ReportWorker
{
    Q_OBJECT

public:
    // The channels in column order, with their critical limits.
    GenerateDayQueries(const QString& databasePath, const ReportPeriod& period, int intervalMs,
                       const QList<ReportChannel>& channels, ReportTables* tables,
                       QObject* parent = nullptr);

    // Seconds between chart steps: a day's chart keeps a point a minute, longer periods fewer,
    // and a step always spans at least two sampling intervals.
    static qint64 chartStep(int days, int intervalMs);

    // Only the day figures and the chart (weekly and monthly reports): no time out of limits,
    // excursions or gaps. They are then taken from the recorder's summary where the file has
    // one, with the rows read only where a bucket of it cannot be taken whole.
    void setFiguresOnly(bool only) { figuresOnly = only; }
    // With every figure, the quarter hours the recorder's kinetic sums answer are taken from
    // them and the summary, and only the others are read as rows; off, every row is read.
    void setKineticSums(bool use) { kineticSums = use; }

    // How the last run read the file; read after it ended.
    struct Reading
    {
        bool summary = false;
        qint64 buckets = 0;   // taken from the summary
        qint64 rows = 0;      // read one by one
        qint64 stretches = 0; // buckets of a node taken from the kinetic sums
    };
    const Reading& reading() const { return counts; }

protected:
    void run() override;

private:
    struct Plan;
    bool analyse();
    bool readRows(const Plan& plan, bool indexed, std::vector<ChannelAnalysis>* merged);
    bool readSummary(const Plan& plan, std::vector<ChannelAnalysis>* merged);
    bool readSums(const Plan& plan, std::vector<ChannelAnalysis>* merged);
    // Calls `task` for each index below `count` on up to four threads, each with a reader of its
    // own, and tells the progress; false, with the reason traced, once a task fails or the
    // worker is asked to stop.
    bool onThreads(size_t count, const std::function<bool(SampleReader*, size_t)>& task);

    QString databasePath;
    ReportPeriod period;
    int dataInterval;
    QList<ReportChannel> channels;
    ReportTables* tables;
    bool figuresOnly = false;
    bool kineticSums = true;
    Reading counts;
};
