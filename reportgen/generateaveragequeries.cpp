#include "generateaveragequeries.h"

#include "novalue.h"
#include "reporttables.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QListWidgetItem>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <cstdio>
#include <limits>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

QStringList toolTipsOf(const QList<QListWidgetItem*>& items)
{
    QStringList tips;
    for (const QListWidgetItem* item : items)
        tips.append(item ? item->toolTip() : QString());
    return tips;
}

QDateTime localTime(qint64 secs)
{
    return QDateTime::fromSecsSinceEpoch(secs, Qt::LocalTime);
}

// "yyyy-MM-dd hh:mm:ss" of a time in local time, for every sample row. The zone's offset is
// looked up once per quarter hour (zone changes fall on quarter hours) and the text is built
// directly: a full local-time conversion per sample dominated the averaging.
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
        const int rest = int(local - days * 86400);
        const QDate date = QDate(1970, 1, 1).addDays(days);
        char text[32];
        std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", date.year(),
                      date.month(), date.day(), rest / 3600, (rest / 60) % 60, rest % 60);
        return QString::fromLatin1(text);
    }

private:
    static qint64 floorDiv(qint64 a, qint64 b) { return a / b - ((a % b) < 0 ? 1 : 0); }

    qint64 cachedBlock = std::numeric_limits<qint64>::min();
    int offset = 0;
};

// The full hour of a time, in local time.
qint64 hourStart(qint64 secs)
{
    const QDateTime t = localTime(secs);
    return QDateTime(t.date(), QTime(t.time().hour(), 0, 0), Qt::LocalTime).toSecsSinceEpoch();
}

} // namespace

GenerateAverageQueries::GenerateAverageQueries(const QString& connectionKey_,
                                               const QString& databasePath_,
                                               const QString& projectFolder_,
                                               const QString& startText_, const QString& endText_,
                                               const QList<QListWidgetItem*>& items,
                                               QObject* parent)
    : GenerateAverageQueries(connectionKey_, databasePath_, projectFolder_, startText_, endText_,
                             toolTipsOf(items), parent)
{
}

GenerateAverageQueries::GenerateAverageQueries(const QString& connectionKey_,
                                               const QString& databasePath_,
                                               const QString& projectFolder_,
                                               const QString& startText_, const QString& endText_,
                                               const QStringList& channelKeys, QObject* parent)
    : QThread(parent),
      connectionKey(connectionKey_),
      databasePath(databasePath_),
      projectFolder(projectFolder_),
      startText(startText_),
      endText(endText_),
      toolTips(channelKeys)
{
}

void GenerateAverageQueries::run()
{
    const QString connectionName = connectionKey + QStringLiteral("reportdb");
    {
        if (!QSqlDatabase::contains(connectionName)) {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
            db.setDatabaseName(databasePath);
            // Wait for the recorder's writes instead of failing on its lock.
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
            // SQLite would create a missing file: a vanished database must fail the queries,
            // not leave an empty file beside the project.
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
    for (const SampleMap& model : qAsConst(models))
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

    for (int i = 0; i < ReportColumns; ++i)
        channelEmpty[i] = false;
    models.clear();

    const int chosen = toolTips.size();
    for (const QString& tip : qAsConst(toolTips)) {
        const QStringList parts = tip.section(QLatin1Char('|'), 0, 0).split(QLatin1Char('_'));
        if (parts.size() != 2)
            continue;
        const QString serial = parts.at(0);
        const QString column = parts.at(1);
        // The column name cannot be bound; only the two channel columns are accepted.
        if (column != QLatin1String("channel1") && column != QLatin1String("channel2"))
            continue;
        const QString text = QStringLiteral("select pointDate, ") + column +
                             QStringLiteral(", serialno from quorbinal where serialno = ? and (? "
                                            "<= pointDate and ? >= pointDate) order by pointDate;");
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
        SampleMap samples;
        int rows = 0;
        while (query.next()) {
            ++rows;
            samples.insert(query.value(0).toLongLong(), query.value(1));
        }
        if (query.lastError().isValid()) {
            qDebug() << query.lastError().text();
            continue;
        }
        const int number = models.size();
        qDebug().noquote() << QStringLiteral("make hash [") + QString::number(number) +
                                  QStringLiteral("] : ") + QString::number(rows);
        if (rows == 0 && number < ReportColumns)
            channelEmpty[number] = true;
        models.append(samples);
    }
    return models.size() == chosen;
}

void GenerateAverageQueries::average()
{
    const qint64 reportStart = QDateTime::fromString(startText, kTimeFormat).toSecsSinceEpoch();
    const qint64 reportEnd = QDateTime::fromString(endText, kTimeFormat).toSecsSinceEpoch();
    progressCount = 0;

    for (int c = 0; c < models.size() && c < ReportColumns; ++c) {
        const SampleMap& model = models.at(c);
        if (model.isEmpty())
            continue;
        const qint64 last = model.lastKey();
        qint64 periodStart = reportStart;
        qint64 periodEnd = periodStart + 3599;
        const qint64 dataEnd = last != 0 ? last : reportEnd;
        if (dataEnd < periodEnd && periodStart < dataEnd)
            periodEnd = dataEnd;
        qint64 limit = periodEnd;
        qDebug().noquote() << QStringLiteral("model[") + QString::number(c) + QLatin1Char(']')
                           << "startDateTime : " << localTime(periodStart).toString(kTimeFormat)
                           << "endtime_t : " << localTime(periodEnd).toString(kTimeFormat)
                           << "dbEndDateTime : " << localTime(dataEnd).toString(kTimeFormat);

        LocalTimeText timeText;
        double sum = 0;
        int count = 0;
        double minimum = NoValue;
        double maximum = -NoValue;

        for (auto it = model.constBegin(); it != model.constEnd(); ++it) {
            if (isInterruptionRequested())
                return;
            const qint64 t = it.key();
            ++progressCount;
            if (progressCount % 10 == 0)
                emit progPlus(progressCount);
            if (it->isNull())
                continue;
            const double v = it->toDouble();
            if (v == NoValue)
                continue;

            auto row = sampleRows.find(t);
            if (row == sampleRows.end())
                row = sampleRows.insert(t, newSampleRow(timeText(t)));
            row->values[c] = v;

            sum += v;
            count += 1;
            minimum = qMin(minimum, v);
            maximum = qMax(maximum, v);

            if (t >= limit) {
                if (count >= 2) {
                    qDebug().noquote()
                        << QStringLiteral("model[") + QString::number(c) + QLatin1Char(']')
                        << "startDateTime : " << localTime(periodStart).toString(kTimeFormat)
                        << "endtime_t : " << localTime(periodEnd).toString(kTimeFormat);
                    auto period = periodRows.find(periodStart);
                    if (period == periodRows.end()) {
                        const QString label =
                            localTime(periodStart).toString(QStringLiteral("yyyy-MM-dd hh:mm-")) +
                            localTime(periodEnd).toString(QStringLiteral("hh:mm"));
                        period = periodRows.insert(periodStart, newPeriodRow(label));
                    }
                    period->avg[c] = sum / count;
                    period->min[c] = minimum;
                    period->max[c] = maximum;
                    sum = 0;
                    count = 0;
                    minimum = NoValue;
                    maximum = -NoValue;
                }
                periodStart = hourStart(t);
                periodEnd = periodStart + 3599;
                if (dataEnd < periodEnd && periodStart < dataEnd)
                    periodEnd = dataEnd;
                limit = periodEnd;
            }
        }
    }
}
