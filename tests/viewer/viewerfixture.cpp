#include "viewerfixture.h"

#include "channelcatalog.h"
#include "novalue.h"
#include "projectfile.h"
#include "rangerule.h"
#include "summarybuilder.h"
#include "summarycache.h"

#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <cmath>

namespace ViewerFixture {

QVector<Row> nodeRows(const QString& databasePath, const QByteArray& serial)
{
    QVector<Row> rows;
    const QString name = QUuid::createUuid().toString();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(databasePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery q(db);
            q.setForwardOnly(true);
            q.prepare(QStringLiteral("select id, pointDate, channel1, channel2 from quorbinal "
                                     "where serialno = ? order by pointDate, id"));
            q.addBindValue(QString::fromUtf8(serial));
            // No rows would pass as a node that stored none.
            if (!q.exec())
                QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + q.lastError().text()),
                             __FILE__, __LINE__);
            while (q.next()) {
                Row r;
                r.id = q.value(0).toLongLong();
                r.time = q.value(1).toLongLong();
                for (int c = 0; c < 2; ++c) {
                    r.present[c] = !q.value(2 + c).isNull() && q.value(2 + c).toDouble() != NoValue;
                    r.value[c] = q.value(2 + c).toDouble();
                }
                // Of two rows in one second the later one counts.
                if (!rows.isEmpty() && rows.constLast().time == r.time)
                    rows.removeLast();
                rows << r;
            }
        } else {
            QTest::qFail(qPrintable(QStringLiteral("rows not read: ") + db.lastError().text()),
                         __FILE__, __LINE__);
        }
    }
    QSqlDatabase::removeDatabase(name);
    return rows;
}

SampleSummary settingsOf(const QString& projectPath)
{
    QList<ReportDeviceRecord> devices;
    ProjectFile(projectPath).loadReportDevices(&devices);
    ChannelCatalog catalog;
    catalog.setProject(devices);
    const int interval = ProjectFile(projectPath).intValue(QStringLiteral("DataInterval"));
    return catalog.summarySettings(qMax(1, interval / 1000));
}

std::shared_ptr<SummaryCache> buildSummary(const QString& projectPath)
{
    auto cache = std::make_shared<SummaryCache>(settingsOf(projectPath));
    SummaryBuilder builder(ProjectFile::databasePath(projectPath), cache);
    QSignalSpy complete(&builder, &SummaryBuilder::complete);
    QSignalSpy failed(&builder, &SummaryBuilder::failed);
    builder.start();
    if (complete.isEmpty() && failed.isEmpty())
        complete.wait(120000);
    builder.stop();
    return complete.isEmpty() ? nullptr : cache;
}

Brute brute(const QVector<Row>& rows, int channel, qint64 from, qint64 to, float low, float high)
{
    Brute b;
    const int c = channel - 1;
    auto it = std::lower_bound(rows.begin(), rows.end(), from,
                               [](const Row& r, qint64 t) { return r.time < t; });
    for (; it != rows.end() && it->time < to; ++it) {
        if (!it->present[c])
            continue;
        const double v = it->value[c];
        if (b.count == 0 || v < b.min) {
            b.min = v;
            b.minTime = it->time;
        }
        if (b.count == 0 || v > b.max) {
            b.max = v;
            b.maxTime = it->time;
        }
        if (RangeRule(low, high).isOutside(v))
            ++b.outside;
        b.sum += v;
        ++b.count;
    }
    return b;
}

double kineticBrute(const QVector<Row>& rows, int channel, qint64 from, qint64 to, qint64 interval,
                    bool fahrenheit, double kiloJoulePerMole)
{
    const double ratio = kiloJoulePerMole / 0.0083144;
    double weighted = 0;
    double seconds = 0;
    for (int i = 0, next = 0; i < rows.size(); i = next) {
        for (next = i + 1; next < rows.size() && !rows[next].present[channel - 1];)
            ++next;
        const Row& r = rows[i];
        if (!r.present[channel - 1] || r.time < from || r.time >= to)
            continue;
        const double t =
            qMin((next < rows.size() ? qMin(rows[next].time, to) : to) - r.time, interval);
        const double v = r.value[channel - 1];
        weighted += t * std::exp(-ratio / (fahrenheit ? (v - 32) / 1.8 + 273.15 : v + 273.15));
        seconds += t;
    }
    const double kelvin = seconds > 0 ? ratio / -std::log(weighted / seconds) : std::nan("");
    return fahrenheit ? (kelvin - 273.15) * 1.8 + 32 : kelvin - 273.15;
}

} // namespace ViewerFixture
