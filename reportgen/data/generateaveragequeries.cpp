#include "generateaveragequeries.h"

#include "floordiv.h"
#include "novalue.h"
#include "periodsummary.h"
#include "reportalarmtests.h"
#include "reportcalibration.h"
#include "reportsuppressions.h"
#include "reporttables.h"
#include "samplereader.h"
#include "samplespacing.h"

#include <QDateTime>
#include <QDebug>

#include <algorithm>
#include <limits>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QDateTime localTime(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime);
}

// "yyyy-MM-dd hh:mm:ss" of a time in local time, for every sample row. The zone's offset is
// looked up once per quarter hour (zone changes fall on quarter hours), the date once per day,
// and the clock digits are written directly: a full local-time conversion, or a formatted print,
// per sample dominated the averaging.
class LocalTimeText
{
public:
    QString operator()(qint64 secs)
    {
        const qint64 block = floorDiv(secs, 900);
        if (block != cachedBlock) {
            cachedBlock = block;
            offset = localTime(secs).offsetFromUtc();
        }
        const qint64 local = secs + offset;
        const qint64 days = floorDiv(local, 86400);
        if (days != cachedDay) {
            const QString date =
                QDate(1970, 1, 1).addDays(days).toString(QStringLiteral("yyyy-MM-dd "));
            if (date.size() != kDateLength) // a year outside 0 to 9999
                return localTime(secs).toString(kTimeFormat);
            cachedDay = days;
            std::copy(date.cbegin(), date.cend(), text);
            text[13] = text[16] = QLatin1Char(':');
        }
        const int rest = int(local - days * 86400);
        putTwoDigits(11, rest / 3600);
        putTwoDigits(14, (rest / 60) % 60);
        putTwoDigits(17, rest % 60);
        return QString(text, kLength);
    }

private:
    static constexpr int kDateLength = 11;
    static constexpr int kLength = 19;
    void putTwoDigits(int at, int value)
    {
        text[at] = QLatin1Char(char('0' + value / 10));
        text[at + 1] = QLatin1Char(char('0' + value % 10));
    }

    qint64 cachedBlock = std::numeric_limits<qint64>::min();
    qint64 cachedDay = std::numeric_limits<qint64>::min();
    int offset = 0;
    QChar text[kLength];
};

constexpr qint64 kPeriod = 3600;

QString modelName(int c)
{
    return QStringLiteral("model[") + QString::number(c) + QLatin1Char(']');
}

} // namespace

GenerateAverageQueries::GenerateAverageQueries(const QString& connectionKey_,
                                               const QString& databasePath_,
                                               const QString& projectFolder_,
                                               const QString& startText_, const QString& endText_,
                                               const QList<ReportChannel>& channels_,
                                               ReportTables* tables_, QObject* parent)
    : ReportWorker(parent), connectionKey(connectionKey_), databasePath(databasePath_),
      projectFolder(projectFolder_), startText(startText_), endText(endText_), channels(channels_),
      tables(tables_)
{
}

void GenerateAverageQueries::run()
{
    tables->clear();
    {
        // Only read, so the report never changes the recorder's file (nor builds its index); a
        // vanished database fails the queries instead of being made empty.
        SampleReader reader(databasePath);
        emit createHashTables();
        if (!makeModels(&reader)) {
            qDebug() << "makeModels error.";
            emit error(QStringLiteral("makeModels error."));
            return;
        }
    }

    int whole = 0;
    for (const Samples& model : qAsConst(models))
        whole += int(model.size());
    emit wholeCount(whole);

    average();
    const qint64 start = QDateTime::fromString(startText, kTimeFormat).toSecsSinceEpoch();
    const qint64 end = QDateTime::fromString(endText, kTimeFormat).toSecsSinceEpoch();
    PeriodSummary::read(databasePath, start, end + 1, dataInterval, channels, tables);
    ReportSuppressions::read(databasePath, start, end, channels, tables);
    ReportCalibration::read(databasePath, QDateTime::fromSecsSinceEpoch(start).date(),
                            QDateTime::fromSecsSinceEpoch(end).date(), channels, tables);
    ReportAlarmTests::read(databasePath, start, end + 1, tables);
    tables->auditHead = ReportAuditHead::read(databasePath);
    emit done();
}

bool GenerateAverageQueries::makeModels(SampleReader* reader)
{
    const qint64 start = QDateTime::fromString(startText, kTimeFormat).toSecsSinceEpoch();
    const qint64 end = QDateTime::fromString(endText, kTimeFormat).toSecsSinceEpoch();

    // The chosen channels by node: both channels of a node come from one pass over its rows,
    // which halves the reading when both are chosen.
    struct Chosen
    {
        int node = -1; // -1: the key names no channel
        int column = 0;
    };
    struct Node
    {
        QString serial;
        bool ok = false;
        qint64 rows = 0;
        std::vector<Samples> samples;
        QString error;
    };
    QVector<Chosen> chosen;
    std::vector<Node> nodes;
    // Both columns of every node, whichever are chosen: a row without either value is the gap
    // record of a stop, where the chart's line breaks. Reading the other column costs next to
    // nothing, the row is read anyway.
    const QStringList columns{QStringLiteral("channel1"), QStringLiteral("channel2")};
    for (const ReportChannel& channel : qAsConst(channels)) {
        chosen.append(Chosen());
        const QString& serial = channel.serial;
        const QString& column = channel.column;
        // The column name cannot be bound; only the two channel columns are accepted.
        if (column != QLatin1String("channel1") && column != QLatin1String("channel2"))
            continue;
        auto node = std::find_if(nodes.begin(), nodes.end(),
                                 [&](const Node& n) { return n.serial == serial; });
        if (node == nodes.end()) {
            nodes.emplace_back();
            node = nodes.end() - 1;
            node->serial = serial;
        }
        chosen.last() = {int(node - nodes.begin()), int(columns.indexOf(column))};
    }
    for (Node& node : nodes) {
        // Of two rows at one time the reader keeps the later one.
        node.ok =
            reader->channelSamples(node.serial, columns, start, end, &node.samples, &node.rows);
        if (!node.ok)
            node.error = reader->errorText();
    }

    models.clear();
    gapRecords.clear();
    for (const Chosen& channel : qAsConst(chosen)) {
        if (channel.node < 0)
            continue;
        const Node& node = nodes[size_t(channel.node)];
        qDebug().noquote() << SampleReader::channelQuery(columns) << node.serial << start << end;
        if (!node.ok) {
            qDebug() << node.error;
            continue;
        }
        const int number = int(models.size());
        qDebug().noquote() << QStringLiteral("make hash [") + QString::number(number) +
                                  QStringLiteral("] : ") + QString::number(node.rows);
        if (node.rows == 0 && number < ReportColumns)
            tables->channelEmpty[number] = true;
        models.push_back(node.samples[size_t(channel.column)]);
        // Both lists hold one entry per row, in the same order.
        std::vector<qint64> stops;
        for (size_t i = 0; i < node.samples[0].size(); ++i) {
            if (node.samples[0][i].value == NoValue && node.samples[1][i].value == NoValue)
                stops.push_back(node.samples[0][i].time);
        }
        gapRecords.push_back(std::move(stops));
    }
    return int(models.size()) == chosen.size();
}

void GenerateAverageQueries::countProgress()
{
    ++progressCount;
    if (progressCount % 10 == 0)
        emit progPlus(progressCount);
}

// Periods are one hour long, laid end to end from the report start. Every valid sample counts
// in the one period that holds its time; a channel's last period ends at its last valid sample
// (a stop writes an empty row after it). A row's label ends at the latest end of its channels.
void GenerateAverageQueries::average()
{
    const qint64 reportStart = QDateTime::fromString(startText, kTimeFormat).toSecsSinceEpoch();
    progressCount = 0;
    QMap<qint64, qint64> periodEnds;
    const int columns = qMin(int(models.size()), ReportColumns);
    for (int c = 0; c < columns; ++c) {
        if (!averageChannel(c, reportStart, &periodEnds))
            return;
    }
    for (auto it = periodEnds.constBegin(); it != periodEnds.constEnd(); ++it)
        tables->periodRows[it.key()].label =
            localTime(it.key()).toString(QStringLiteral("yyyy-MM-dd hh:mm-")) +
            localTime(it.value()).toString(QStringLiteral("hh:mm"));
    fillSampleRows(columns);
    findBreaks(columns);
}

// A channel's line breaks between two of its valid samples where its node's rows hold a gap
// record between them, or where the stretch between them is a gap by the samples' spacing.
void GenerateAverageQueries::findBreaks(int columns)
{
    const qint64 interval = qMax(1, dataInterval / 1000);
    for (int c = 0; c < columns; ++c) {
        std::vector<qint64> valid;
        for (const Sample& sample : models[size_t(c)]) {
            if (sample.value != NoValue)
                valid.push_back(sample.time);
        }
        SampleSpacing spacing(interval);
        for (size_t i = 1; i < valid.size(); ++i)
            spacing.add(valid[i] - valid[i - 1]);
        const std::vector<qint64>& stops = gapRecords[size_t(c)];
        auto stop = stops.cbegin();
        for (size_t i = 0; i + 1 < valid.size(); ++i) {
            const qint64 from = valid[i];
            const qint64 to = valid[i + 1];
            while (stop != stops.cend() && *stop <= from)
                ++stop;
            if (stop != stops.cend() && *stop < to)
                tables->breaks.append({c, from, to, *stop});
            else if (to - from > 2 * interval && spacing.isGap(int(i)))
                tables->breaks.append({c, from, to, from + spacing.usual(int(i))});
        }
    }
}

bool GenerateAverageQueries::averageChannel(int c, qint64 reportStart,
                                            QMap<qint64, qint64>* periodEnds)
{
    const Samples& model = models[size_t(c)];
    const auto lastValid = std::find_if(model.crbegin(), model.crend(),
                                        [](const Sample& s) { return s.value != NoValue; });
    const qint64 dataEnd = lastValid == model.crend() ? reportStart : lastValid->time;
    qDebug().noquote() << modelName(c)
                       << "startDateTime : " << localTime(reportStart).toString(kTimeFormat)
                       << "endtime_t : "
                       << localTime(reportStart + kPeriod - 1).toString(kTimeFormat)
                       << "dbEndDateTime : " << localTime(dataEnd).toString(kTimeFormat);

    qint64 period = -1;
    double sum = 0;
    int count = 0;
    double minimum = NoValue;
    double maximum = -NoValue;
    auto close = [&] {
        if (count == 0)
            return;
        const qint64 periodStart = reportStart + period * kPeriod;
        const qint64 periodEnd = qMin(periodStart + kPeriod - 1, dataEnd);
        qDebug().noquote() << modelName(c)
                           << "startDateTime : " << localTime(periodStart).toString(kTimeFormat)
                           << "endtime_t : " << localTime(periodEnd).toString(kTimeFormat);
        auto row = tables->periodRows.find(periodStart);
        if (row == tables->periodRows.end())
            row = tables->periodRows.insert(periodStart, newPeriodRow(QString()));
        row->avg[c] = sum / count;
        row->min[c] = minimum;
        row->max[c] = maximum;
        qint64& end = (*periodEnds)[periodStart];
        end = qMax(end, periodEnd);
    };

    for (const Sample& sample : model) {
        if (isInterruptionRequested())
            return false;
        countProgress();
        if (sample.value == NoValue)
            continue;
        // The query keeps every time at or after the report start.
        const qint64 p = (sample.time - reportStart) / kPeriod;
        if (p != period) {
            close();
            period = p;
            sum = 0;
            count = 0;
            minimum = NoValue;
            maximum = -NoValue;
        }
        sum += sample.value;
        count += 1;
        minimum = qMin(minimum, sample.value);
        maximum = qMax(maximum, sample.value);
    }
    close();
    return true;
}

// One row per time at which a channel has a valid sample. The channels' lists are in time
// order, so they are merged and every row is appended at the end of the table.
void GenerateAverageQueries::fillSampleRows(int columns)
{
    size_t next[ReportColumns] = {0, 0, 0, 0};
    auto skipEmpty = [&](int c) {
        const Samples& model = models[size_t(c)];
        while (next[c] < model.size() && model[next[c]].value == NoValue)
            ++next[c];
    };
    for (int c = 0; c < columns; ++c)
        skipEmpty(c);
    LocalTimeText timeText;
    QMap<qint64, SampleRow>& rows = tables->sampleRows;
    for (;;) {
        qint64 t = std::numeric_limits<qint64>::max();
        for (int c = 0; c < columns; ++c) {
            if (next[c] < models[size_t(c)].size())
                t = qMin(t, models[size_t(c)][next[c]].time);
        }
        if (t == std::numeric_limits<qint64>::max())
            return;
        SampleRow row = newSampleRow(timeText(t));
        for (int c = 0; c < columns; ++c) {
            if (next[c] < models[size_t(c)].size() && models[size_t(c)][next[c]].time == t) {
                row.values[c] = models[size_t(c)][next[c]].value;
                ++next[c];
                skipEmpty(c);
            }
        }
        rows.insert(rows.cend(), t, row);
    }
}
