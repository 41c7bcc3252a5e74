#pragma once

#include "alarmeventrecord.h"
#include "alarmsuppression.h"
#include "alarmtestrecord.h"
#include "calibrationrecord.h"
#include "reportaudithead.h"

#include <QHash>
#include <QList>
#include <QMap>
#include <QString>

constexpr int ReportColumns = 4;
// Data gaps shorter than this are counted per channel, not listed one by one: the list shows an
// auditor the stops, not every missed poll.
constexpr qint64 ReportListedGapSeconds = 60;

struct SampleRow
{
    QString timeText;             // local "yyyy-MM-dd hh:mm:ss"
    double values[ReportColumns]; // NoValue where a channel delivered nothing
};

struct PeriodRow
{
    QString label; // "yyyy-MM-dd hh:mm-hh:mm", or "yyyy-MM-dd" for a day
    double avg[ReportColumns];
    double min[ReportColumns];
    double max[ReportColumns];
    qint64 outSeconds[ReportColumns]; // time out of the critical limits (HACCP)
};

// A stretch of time during which a channel stayed on one side out of its critical limits.
struct Excursion
{
    int column = 0;
    bool high = false;        // above the upper limit; else below the lower one
    qint64 start = 0;         // first second out of limits, or the period's first second
    qint64 end = 0;           // first second after it, or the period's end
    double extreme = 0;       // highest (or lowest) value measured in it
    qint64 gapSeconds = 0;    // time without data inside it
    bool openAtStart = false; // already out of limits before the period began
    bool openAtEnd = false;   // no value within the limits followed before the period's end
};

// Time without data: two valid samples more than two intervals apart, or the period's edges.
struct DataGap
{
    int column = 0;
    qint64 start = 0; // first second without data
    qint64 end = 0;   // first second with data again, or the period's end
};

// Where a channel's chart line must not join its points: between its last valid sample before
// a stretch without data (`from`) and its first after it (`to`), because the rows hold a gap
// record there (a stop) or the stretch is a gap by the samples' spacing. `at` is where the line
// breaks: the gap record, or when the next sample was due.
struct ChartBreak
{
    int column = 0;
    qint64 from = 0;
    qint64 to = 0;
    qint64 at = 0;
};

// One channel's figures over a report's whole period: the summary every report ends with.
struct ChannelPeriodSummary
{
    int count = 0; // valid samples
    double min = 0;
    double max = 0;
    double mean = 0;
    // Mean kinetic temperature of a temperature channel; NaN for another or without samples.
    double meanKinetic = 0;
    bool kineticAboveLimit = false;
    // Against the node's alarm range (ranged), as the HACCP report's time out of limits.
    bool ranged = false;
    qint64 outSeconds = 0;
    qint64 longestOutSeconds = 0; // the longest excursion, its gaps left out
    int excursions = 0;
    int alarms = 0; // the channel's and its node's alarm events in the period
    int acknowledged = 0;
    qint64 noDataSeconds = 0;
};

// Result tables of one report. The report window owns them; its statistics worker fills them
// and the window reads them after the worker's done().
struct ReportTables
{
    QMap<qint64, SampleRow> sampleRows; // by sample time
    QMap<qint64, PeriodRow> periodRows; // by period start
    bool channelEmpty[ReportColumns] = {false, false, false, false};
    QList<Excursion> excursions; // in time order per column, columns in order
    QList<DataGap> gaps;
    QList<ChartBreak> breaks; // in time order per column
    // HACCP: the alarm events of the period, of the chosen channels and of their nodes as a
    // whole, by start. alarmLog tells a file that keeps a log (an older one keeps none).
    bool alarmLog = false;
    QVector<AlarmEventRecord> alarmEvents;
    // The shelves and out-of-service times of the report's nodes overlapping the period, and
    // the period's end they are judged against (ReportSuppressions).
    QVector<AlarmSuppression> suppressions;
    qint64 suppressionsTo = 0;
    // The acknowledgements' signatures as people read them, by event id; an acknowledged
    // event without one was not signed.
    QHash<qint64, QString> alarmSignatures;
    // By column: each chosen channel's figures over the period.
    QVector<ChannelPeriodSummary> periodSummaries;
    // The calibration register's entries of the chosen channels, and the period's first and
    // last local day they are judged on (ReportCalibration).
    QVector<CalibrationRecord> calibrations;
    QDate calibrationFirst;
    QDate calibrationLast;
    // The alarm tests run in the period, one row per test and target (ReportAlarmTests).
    QVector<AlarmTestRecord> alarmTests;
    // Read once the figures are: printed at the end of every report.
    ReportAuditHead auditHead;

    void clear();
};

SampleRow newSampleRow(const QString& timeText);
PeriodRow newPeriodRow(const QString& label);
