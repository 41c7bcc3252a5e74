#pragma once

#include "alarmeventrecord.h"
#include "channelanalysis.h"
#include "reportchannel.h"
#include "reporttables.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVector>

class SampleConnection;

// The table every report ends with: per chosen channel over the whole period its minimum,
// maximum and mean, the mean kinetic temperature of a temperature channel, the time out of its
// alarm range (in all and the longest stretch), its excursions and alarms (acknowledged or
// not), and the time without data.
class PeriodSummary
{
public:
    // A channel's analysis settings for the summary: its critical limits (HACCP) or else its
    // alarm range, and its mean kinetic temperature.
    static void configure(const ReportChannel& channel, ChannelAnalysis::Settings* settings);

    // The summary of the channel in `column` from its analysis over the period and the period's
    // alarm events.
    static ChannelPeriodSummary of(const ChannelAnalysis& analysis, const ReportChannel& channel,
                                   int column, const QVector<AlarmEventRecord>& events);

    // The alarm events of the period [from, to] of the channels and of their nodes as a whole;
    // false (with a trace) when the file could not be read. A file without an event log gives
    // none and true, with `logged` false.
    static bool readAlarmEvents(SampleConnection* connection, const QList<ReportChannel>& channels,
                                qint64 from, qint64 to, QVector<AlarmEventRecord>* events,
                                bool* logged);

    // For a report whose worker condenses no analysis (the daily one): reads the channels' rows
    // over [from, to) with the margins around it and the period's alarm events, and fills
    // tables->periodSummaries. False with a trace when the file could not be read.
    static bool read(const QString& databasePath, qint64 from, qint64 to, int intervalMs,
                     const QList<ReportChannel>& channels, ReportTables* tables);

    // The table as the page and a spreadsheet read it: titles, then one row of texts per
    // channel (values in the channel's unit with two decimals, durations "H:MM:SS", the
    // calibration's status).
    static QStringList titles();
    static QVector<QStringList> rows(const ReportTables& tables,
                                     const QList<ReportChannel>& channels);
};
