#include "workertest.h"

#include "novalue.h"

#include <QStandardPaths>
#include <QTest>

void WorkerTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    space = std::make_unique<ReportFixture::Workspace>("Europe/Berlin");
    QVERIFY(space->isValid());
}

void WorkerTest::cleanupTestCase()
{
    space.reset();
}

void WorkerTest::init()
{
    tables = ReportTables();
    dbPath = space->nextDatabase();
}

QStringList WorkerTest::reportFigures(const ReportTables& tables)
{
    auto number = [](double v) { return v == NoValue ? QStringLiteral("-") : QString::number(v); };
    QStringList lines;
    for (const PeriodRow& row : tables.periodRows) {
        QString line = row.label;
        for (int c = 0; c < ReportColumns; ++c)
            line += QLatin1Char(' ') +
                    (row.min[c] == NoValue ? QStringLiteral("-")
                                           : QString::number(row.avg[c], 'f', 2)) +
                    QLatin1Char(' ') + number(row.min[c]) + QLatin1Char(' ') + number(row.max[c]);
        lines << line;
    }
    for (const SampleRow& row : tables.sampleRows) {
        QString line = row.timeText;
        for (double v : row.values)
            line += QLatin1Char(' ') + number(v);
        lines << line;
    }
    return lines;
}

// Every figure of the period summary, the excursions, the gaps and the time out of limits per
// day; mean and mean kinetic temperature to ten significant digits.
QStringList WorkerTest::periodFigures(const ReportTables& tables)
{
    QStringList lines;
    for (const ChannelPeriodSummary& s : tables.periodSummaries)
        lines << QStringLiteral("summary %1 %2 %3 %4 %5 %6 %7 %8 %9")
                     .arg(s.count)
                     .arg(s.min, 0, 'g', 10)
                     .arg(s.max, 0, 'g', 10)
                     .arg(s.mean, 0, 'g', 10)
                     .arg(s.meanKinetic, 0, 'g', 10)
                     .arg(s.outSeconds)
                     .arg(s.longestOutSeconds)
                     .arg(s.excursions)
                     .arg(s.noDataSeconds);
    for (const Excursion& e : tables.excursions)
        lines << QStringLiteral("excursion %1 %2 %3 %4 %5 %6 %7 %8")
                     .arg(e.column)
                     .arg(e.high)
                     .arg(e.start)
                     .arg(e.end)
                     .arg(e.extreme, 0, 'g', 10)
                     .arg(e.gapSeconds)
                     .arg(e.openAtStart)
                     .arg(e.openAtEnd);
    for (const DataGap& g : tables.gaps)
        lines << QStringLiteral("gap %1 %2 %3").arg(g.column).arg(g.start).arg(g.end);
    for (auto it = tables.periodRows.cbegin(); it != tables.periodRows.cend(); ++it) {
        QString line = QStringLiteral("out ") + QString::number(it.key());
        for (qint64 seconds : it->outSeconds)
            line += QLatin1Char(' ') + QString::number(seconds);
        lines << line;
    }
    return lines;
}
