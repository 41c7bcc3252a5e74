#pragma once

#include "reportfixture.h"
#include "reporttables.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

// What the statistics worker tests share: a workspace in a zone with summer time (days of 23
// and 25 hours) for the whole test object, and for each test function a fresh database path
// and empty tables.
class WorkerTest : public QObject
{
    Q_OBJECT

public:
    // What a weekly or monthly report shows: per day and column the average as shown, minimum
    // and maximum, and the chart's points.
    static QStringList reportFigures(const ReportTables& tables);
    // Every figure of the period summaries, the excursions, the gaps and the time out of limits
    // per day.
    static QStringList periodFigures(const ReportTables& tables);

protected:
    QString dbPath;
    ReportTables tables;

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

private:
    std::unique_ptr<ReportFixture::Workspace> space;
};
