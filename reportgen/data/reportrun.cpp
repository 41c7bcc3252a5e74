#include "reportrun.h"

#include "generateaveragequeries.h"
#include "generatedayqueries.h"

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

ReportRun::ReportRun(QObject* parent) : QObject(parent) {}

ReportRun::~ReportRun()
{
    stop();
}

bool ReportRun::start(const Settings& settings)
{
    // One worker at a time: a second one would race on the tables.
    if (worker)
        return false;
    current = settings;
    if (settings.kind == ReportKind::Daily) {
        auto* day = new GenerateAverageQueries(
            settings.connectionKey, settings.databasePath, settings.projectFolder,
            settings.start.toString(kTimeFormat), settings.end.toString(kTimeFormat),
            settings.channels, &results, this);
        day->setDataInterval(settings.dataInterval);
        worker = day;
    } else {
        auto* days =
            new GenerateDayQueries(settings.databasePath, settings.period, settings.dataInterval,
                                   settings.channels, &results, this);
        // Every report ends with the period's summary (time out of range, gaps, mean kinetic
        // temperature), which only the rows tell.
        days->setFiguresOnly(false);
        worker = days;
    }
    connect(worker, &ReportWorker::done, this, &ReportRun::done);
    connect(worker, &ReportWorker::wholeCount, this, &ReportRun::wholeCount);
    connect(worker, &ReportWorker::createHashTables, this, &ReportRun::createHashTables);
    connect(worker, &ReportWorker::progPlus, this, &ReportRun::progPlus);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &ReportWorker::error, this, &ReportRun::error);
    worker->start(QThread::LowPriority);
    return true;
}

bool ReportRun::isRunning() const
{
    return worker;
}

void ReportRun::stop()
{
    if (worker) {
        worker->requestInterruption();
        worker->wait();
    }
}

bool ReportRun::hasRows() const
{
    return !results.sampleRows.isEmpty();
}

const ReportRun::Settings& ReportRun::settings() const
{
    return current;
}

const ReportTables& ReportRun::tables() const
{
    return results;
}
