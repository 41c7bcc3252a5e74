#pragma once

#include "reportrun.h"
#include "reporttables.h"

#include <QObject>
#include <QPair>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVector>

class QWebFrame;
class QWebPage;

// The report template, loaded at construction, filled with one run's figures: the header, the
// chart data and the table. The page needs no view: the report window shows it in its web view,
// the command line writes it to a file.
class ReportWebPage : public QObject
{
    Q_OBJECT

public:
    // The page's zoom, as the window shows it; the exports render at it.
    static constexpr qreal PageZoom = 0.8;
    // The page's size without a view: that of the web view in the report window as it opens,
    // so that a page rendered without a window is laid out as the window's.
    static QSize defaultViewportSize();

    explicit ReportWebPage(QObject* parent = nullptr);

    QWebPage* page() const { return webPage; }
    QWebFrame* frame() const;

    // After the run's done(): writes its header, chart data and table into the page, at once
    // or, while the template still loads, once it has loaded; pageFilled() tells when.
    void fill(const ReportRun& run);

signals:
    // A message for the user ("ERROR", ...) while the page is filled.
    void message(const QString& title, const QString& text);
    void pageFilled();

private:
    void pageLoaded();
    void fillNow();
    void fillReportHeader();
    void fillChartData();
    void fillReportTable();
    void fillHaccpSections();
    void fillAuditHead();
    // The shelves and out-of-service times, below everything else.
    void fillSuppressions();
    void fillPeriodSummary();
    void fillCalibration();
    void fillAlarmTests();
    // A table of texts before the footer, in a div of this id (replacing one of an earlier
    // fill); nothing without rows. Marked cells (row, column) stand out.
    void insertTable(const QString& id, const QString& title, const QStringList& titles,
                     const QVector<QStringList>& rows, const QSet<QPair<int, int>>& marked = {});

    QWebPage* webPage;
    // What is filled in: the run's settings and tables as they were at fill().
    ReportRun::Settings current;
    ReportTables results;
    bool loaded = false;
    bool fillWaiting = false;
};
