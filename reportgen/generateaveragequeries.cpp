#include "generateaveragequeries.h"

#include "novalue.h"
#include "reporttables.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

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
    static qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b) < 0 ? 1 : 0); }
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

QString GenerateAverageQueries::sampleQuery(const QString& column)
{
    // Equality on serialno and a range on pointDate: with the recorder's index on both, SQLite
    // seeks straight to the node's samples of the period, already in time order.
    return QStringLiteral("select pointDate, ") + column +
           QStringLiteral(" from quorbinal where serialno = ? and (? <= pointDate and ? >= "
                          "pointDate) order by pointDate;");
}

void GenerateAverageQueries::run()
{
    tables->clear();
    const QString connectionName = connectionKey + QStringLiteral("reportdb");
    {
        if (!QSqlDatabase::contains(connectionName)) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
            db.setDatabaseName(databasePath);
            // Wait for the recorder's writes instead of failing on its lock; only read, so the
            // report never changes the recorder's file (nor builds its index).
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000;QSQLITE_OPEN_READONLY"));
            // A vanished database must fail the queries, not be looked for elsewhere.
            if (QFileInfo(databasePath).isFile())
                db.open();
        }
        emit createHashTables();
        const bool complete = makeModels();
        if (!complete) {
            qDebug() << "makeModels error.";
            QSqlDatabase::database(connectionName, false).close();
            QSqlDatabase::removeDatabase(connectionName);
            emit error(QStringLiteral("makeModels error."));
            return;
        }
        QSqlDatabase::database(connectionName, false).close();
    }
    QSqlDatabase::removeDatabase(connectionName);

    int whole = 0;
    for (const Samples& model : qAsConst(models))
        whole += model.size();
    emit wholeCount(whole);

    average();
    emit done();
}

bool GenerateAverageQueries::makeModels()
{
    const QString connectionName = connectionKey + QStringLiteral("reportdb");
    QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    const qint64 start = QDateTime::fromString(startText, kTimeFormat).toSecsSinceEpoch();
    const qint64 end = QDateTime::fromString(endText, kTimeFormat).toSecsSinceEpoch();

    models.clear();
    const int chosen = channels.size();
    for (const ReportChannel& channel : qAsConst(channels)) {
        const QString& serial = channel.serial;
        const QString& column = channel.column;
        // The column name cannot be bound; only the two channel columns are accepted.
        if (column != QLatin1String("channel1") && column != QLatin1String("channel2"))
            continue;
        const QString text = sampleQuery(column);
        qDebug().noquote() << text << serial << start << end;

        QSqlQuery query(db);
        query.setForwardOnly(true);
        bool ok = query.prepare(text);
        if (ok) {
            query.addBindValue(serial);
            query.addBindValue(start);
            query.addBindValue(end);
            ok = query.exec();
        }
        if (!ok) {
            qDebug() << query.lastError().text();
            continue;
        }
        Samples samples;
        int rows = 0;
        while (query.next()) {
            ++rows;
            const qint64 t = query.value(0).toLongLong();
            const QVariant stored = query.value(1);
            const double v = stored.isNull() ? NoValue : stored.toDouble();
            // Rows come in time order; of two rows at one time the later one counts.
            if (!samples.isEmpty() && samples.constLast().time == t)
                samples.last().value = v;
            else
                samples.append({t, v});
        }
        if (query.lastError().isValid()) {
            qDebug() << query.lastError().text();
            continue;
        }
        const int number = models.size();
        qDebug().noquote() << QStringLiteral("make hash [") + QString::number(number) +
                                  QStringLiteral("] : ") + QString::number(rows);
        if (rows == 0 && number < ReportColumns)
            tables->channelEmpty[number] = true;
        models.append(samples);
    }
    return models.size() == chosen;
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
}

bool GenerateAverageQueries::averageChannel(int c, qint64 reportStart,
                                            QMap<qint64, qint64>* periodEnds)
{
    const Samples& model = models.at(c);
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
    int next[ReportColumns] = {0, 0, 0, 0};
    auto skipEmpty = [&](int c) {
        const Samples& model = models.at(c);
        while (next[c] < model.size() && model.at(next[c]).value == NoValue)
            ++next[c];
    };
    for (int c = 0; c < columns; ++c)
        skipEmpty(c);
    LocalTimeText timeText;
    QMap<qint64, SampleRow>& rows = tables->sampleRows;
    for (;;) {
        qint64 t = std::numeric_limits<qint64>::max();
        for (int c = 0; c < columns; ++c) {
            if (next[c] < models.at(c).size())
                t = qMin(t, models.at(c).at(next[c]).time);
        }
        if (t == std::numeric_limits<qint64>::max())
            return;
        SampleRow row = newSampleRow(timeText(t));
        for (int c = 0; c < columns; ++c) {
            if (next[c] < models.at(c).size() && models.at(c).at(next[c]).time == t) {
                row.values[c] = models.at(c).at(next[c]).value;
                ++next[c];
                skipEmpty(c);
            }
        }
        rows.insert(rows.cend(), t, row);
    }
}
