#pragma once

#include "reportworker.h"
#include "samplereader.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

class QListWidgetItem;
struct ReportTables;

// The statistics worker: reads the chosen channels' samples of the report period from the
// sample database on its own read-only connection, keeps every sample for the chart and
// condenses them into one-hour periods with average, minimum and maximum, in the tables of the
// report that started it.
class GenerateAverageQueries : public ReportWorker
{
    Q_OBJECT

public:
    // The items' tooltips are copied here, on the caller's thread; the run never touches the
    // items. The tables belong to the caller, which reads them only after done().
    GenerateAverageQueries(const QString& connectionKey, const QString& databasePath,
                           const QString& projectFolder, const QString& startText,
                           const QString& endText, const QList<QListWidgetItem*>& items,
                           ReportTables* tables, QObject* parent = nullptr);
    GenerateAverageQueries(const QString& connectionKey, const QString& databasePath,
                           const QString& projectFolder, const QString& startText,
                           const QString& endText, const QStringList& channelKeys,
                           ReportTables* tables, QObject* parent = nullptr);

protected:
    void run() override;

private:
    using Sample = SampleReader::ChannelSample;
    using Samples = std::vector<Sample>;

    bool makeModels(SampleReader* reader);
    void average();
    bool averageChannel(int c, qint64 reportStart, QMap<qint64, qint64>* periodEnds);
    void fillSampleRows(int columns);
    void countProgress();

    QString connectionKey;
    QString databasePath;
    QString projectFolder;
    QString startText;
    QString endText;
    QStringList toolTips;
    ReportTables* tables;
    std::vector<Samples> models;
    int progressCount = 0;
};
