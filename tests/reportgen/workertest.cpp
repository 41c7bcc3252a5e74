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
