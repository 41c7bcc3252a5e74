#pragma once

#include "reportchannel.h"
#include "reportworker.h"
#include "samplereader.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVector>

#include <vector>

struct ReportTables;

// The statistics worker: reads the chosen channels' samples of the report period from the
// sample database on its own read-only connection, keeps every sample for the chart and
// condenses them into one-hour periods with average, minimum and maximum, in the tables of the
// report that started it.
class GenerateAverageQueries : public ReportWorker
{
    Q_OBJECT

public:
    // The channels in column order. The tables belong to the caller, which reads them only
    // after done().
    GenerateAverageQueries(const QString& connectionKey, const QString& databasePath,
                           const QString& projectFolder, const QString& startText,
                           const QString& endText, const QList<ReportChannel>& channels,
                           ReportTables* tables, QObject* parent = nullptr);

    // The project's sampling interval, for the chart's breaks (SampleSpacing); without it the
    // samples' spacing alone tells.
    void setDataInterval(int milliseconds) { dataInterval = milliseconds; }

protected:
    void run() override;

private:
    using Sample = SampleReader::ChannelSample;
    using Samples = std::vector<Sample>;

    bool makeModels(SampleReader* reader);
    void average();
    bool averageChannel(int c, qint64 reportStart, QMap<qint64, qint64>* periodEnds);
    void fillSampleRows(int columns);
    void findBreaks(int columns);
    void countProgress();

    QString connectionKey;
    QString databasePath;
    QString projectFolder;
    QString startText;
    QString endText;
    QList<ReportChannel> channels;
    ReportTables* tables;
    std::vector<Samples> models;
    std::vector<std::vector<qint64>> gapRecords; // by column, its node's rows without values
    int dataInterval = 1000;
    int progressCount = 0;
};
