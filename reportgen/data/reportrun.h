#pragma once

#include "reportchannel.h"
#include "reportperiod.h"
#include "reporttables.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class ReportWorker;

// One report's figures: the statistics worker of the report's kind reads the chosen channels of
// the period into the run's tables. What shows them (the report page of the window and of the
// command line) reads the tables after done().
class ReportRun : public QObject
{
    Q_OBJECT

public:
    struct Settings
    {
        ReportKind kind = ReportKind::Daily;
        QString connectionKey; // prefix of the daily worker's connection name
        QString databasePath;
        QString projectFolder;
        int dataInterval = 0;
        ReportPeriod period; // the days of a weekly, monthly or HACCP report
        QDateTime start;     // the period the page names (a daily report: the one read)
        QDateTime end;
        QList<ReportChannel> channels; // in column order, at most four
        QString subject;
        QString author;
    };

    explicit ReportRun(QObject* parent = nullptr);
    ~ReportRun() override;

    // Starts the worker at low priority; false while one runs.
    bool start(const Settings& settings);
    bool isRunning() const;
    // Stops a running worker and waits for it: its tables must not go while it writes them.
    void stop();
    // After done(): whether any sample row was read ("Not Enough Data." otherwise).
    bool hasRows() const;
    // The settings of the last start and, after done(), what its worker read.
    const Settings& settings() const;
    const ReportTables& tables() const;

signals:
    // The worker's signals, on the run's thread.
    void done();
    void wholeCount(int count);
    void createHashTables();
    void progPlus(int count);
    void error(QString text);

private:
    QPointer<ReportWorker> worker;
    ReportTables results;
    Settings current;
};
