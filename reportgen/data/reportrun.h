#pragma once

#include "reportchannel.h"
#include "reportperiod.h"
#include "reporttables.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QString>

class QWebFrame;
class QWebPage;
class ReportWorker;

// One report from the statistics worker to the filled page: the worker of the report's kind
// reads the chosen channels of the period into the run's tables; then the page (the report
// template, loaded at construction) receives the header, the chart data and the table. The
// page needs no view: the report window shows it in its web view, the command line writes it
// to a file.
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

    // The page's zoom, as the window shows it; the exports render at it.
    static constexpr qreal PageZoom = 0.8;
    // The page's size without a view: that of the web view in the report window as it opens,
    // so that a page rendered without a window is laid out as the window's.
    static QSize defaultViewportSize();

    explicit ReportRun(QObject* parent = nullptr);
    ~ReportRun() override;

    QWebPage* page() const { return webPage; }
    QWebFrame* frame() const;

    // Starts the worker at low priority; false while one runs.
    bool start(const Settings& settings);
    bool isRunning() const;
    // Stops a running worker and waits for it: its tables must not go while it writes them.
    void stop();
    // After done(): whether any sample row was read ("Not Enough Data." otherwise).
    bool hasRows() const;
    // After done(): writes the header, the chart data and the table into the page, at once or,
    // while the template still loads, once it has loaded; pageFilled() tells when.
    void fillPage();

signals:
    // The worker's signals, on the run's thread.
    void done();
    void wholeCount(int count);
    void createHashTables();
    void progPlus(int count);
    void error(QString text);
    // A message for the user ("ERROR", ...) while the page is filled.
    void message(const QString& title, const QString& text);
    void pageFilled();

private:
    void pageLoaded();
    void fillReportHeader();
    void fillChartData();
    void fillReportTable();
    void fillHaccpSections();

    QWebPage* webPage;
    QPointer<ReportWorker> worker;
    ReportTables results;
    Settings current;
    bool loaded = false;
    bool fillWaiting = false;
};
