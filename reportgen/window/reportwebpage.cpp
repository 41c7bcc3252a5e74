#include "reportwebpage.h"

#include "datainterval.h"
#include "haccppage.h"
#include "periodsummary.h"
#include "reportalarmtests.h"
#include "reportcalibration.h"
#include "reportpage.h"
#include "reportsuppressions.h"

#include <QDebug>
#include <QFile>
#include <QSet>
#include <QUrl>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

} // namespace

QSize ReportWebPage::defaultViewportSize()
{
    return QSize(908, 594);
}

ReportWebPage::ReportWebPage(QObject* parent) : QObject(parent), webPage(new QWebPage(this))
{
    webPage->setViewportSize(defaultViewportSize());
    // The template usually loads within setHtml(), but a busy machine can make the engine
    // finish parsing it later, in the event loop.
    connect(webPage, &QWebPage::loadFinished, this, &ReportWebPage::pageLoaded);
    QFile form(QStringLiteral(":/assets/reportform.html"));
    if (form.open(QIODevice::ReadOnly))
        frame()->setHtml(QString::fromUtf8(form.readAll()), QUrl());
    else
        qWarning() << "reportform.html is not found";
    // Without the template the page stays empty: filling it reports the missing elements.
    if (!form.isOpen())
        loaded = true;
}

void ReportWebPage::pageLoaded()
{
    loaded = true;
    // Zoomed only now: the page script's start-up measures the layout (jQuery's support
    // checks) and marks the page by what it finds, which must not depend on when the parsing
    // ended.
    frame()->setZoomFactor(PageZoom);
    if (fillWaiting) {
        fillWaiting = false;
        fillNow();
    }
}

QWebFrame* ReportWebPage::frame() const
{
    return webPage->mainFrame();
}

void ReportWebPage::fill(const ReportRun& run)
{
    current = run.settings();
    results = run.tables();
    fillNow();
}

void ReportWebPage::fillNow()
{
    if (!loaded) {
        fillWaiting = true;
        return;
    }
    fillReportHeader();
    fillChartData();
    fillReportTable();
    fillPeriodSummary();
    fillCalibration();
    fillSuppressions();
    fillAlarmTests();
    fillAuditHead();
    emit pageFilled();
}

void ReportWebPage::fillReportHeader()
{
    const QString start = current.start.toString(kTimeFormat);
    const QString end = current.end.toString(kTimeFormat);
    const struct
    {
        const char* selector;
        QString content;
        const char* missing;
    } fields[] = {
        {"span#printingTime", QDateTime::currentDateTime().toString(kTimeFormat),
         "printingTime is not found"},
        {"div#ReportTimeStart", start, "ReportTimeStart is not found"},
        {"div#ReportTimeEnd", end, "ReportTimeEnd is not found"},
        {"div#ReportSubject", ReportPage::escapeMarkup(current.subject),
         "ReportSubject is not found"},
        {"div#ReportAuthor", ReportPage::escapeMarkup(current.author), "ReportAuthor is not found"},
        {"div#ReportDuration", start + QStringLiteral(" ~ ") + end, "ReportDuration is not found"},
    };
    for (const auto& field : fields) {
        QWebElement element = frame()->findFirstElement(QLatin1String(field.selector));
        if (element.isNull()) {
            qDebug() << field.missing;
            continue;
        }
        element.setInnerXml(field.content);
    }

    if (current.kind != ReportKind::Daily) {
        const QString title = ReportPeriod::title(current.kind);
        frame()->findFirstElement(QStringLiteral("div.titleline div.title")).setPlainText(title);
        frame()->findFirstElement(QStringLiteral("title")).setPlainText(title);
    }

    const QList<ReportChannel>& channels = current.channels;
    for (int i = 0; i < channels.size() && i < ReportColumns; ++i) {
        const QString selector =
            QStringLiteral("div#Channel") + QString::number(i + 1) + QStringLiteral("Info");
        QWebElement element = frame()->findFirstElement(selector);
        if (element.isNull()) {
            qDebug().noquote() << selector << " is not found";
            continue;
        }
        element.setInnerXml(ReportPage::channelInfo(channels.at(i)));
    }
}

void ReportWebPage::fillChartData()
{
    const QList<ReportChannel>& channels = current.channels;
    const int interval = current.dataInterval;
    bool failed = false;
    // Reports of several days get condensed chart rows, each of which is a point.
    const bool days = current.kind != ReportKind::Daily && current.period.dayBounds().size() > 2;

    QWebElement minPeriod = frame()->findFirstElement(QStringLiteral("input#minPeriod"));
    if (minPeriod.isNull()) {
        qDebug() << "there is not exist the tag \"minPeriod\".";
        emit message(QStringLiteral("ERROR"),
                     QStringLiteral("there is not exist the tag \"minPeriod\"."));
        failed = true;
    } else {
        minPeriod.setAttribute(QStringLiteral("value"), days ? ReportPage::dayPeriodCode()
                                                             : ReportPage::minPeriodCode(interval));
        qDebug().noquote() << "the tag \"minPeriod\" : " << intervalName(interval);
    }

    QWebElement chartData = frame()->findFirstElement(QStringLiteral("input#ChartData"));
    if (chartData.isNull()) {
        qDebug() << "there is not exist the tag \"ChartData\".";
        emit message(QStringLiteral("ERROR"),
                     QStringLiteral("there is not exist the tag \"ChartData\"."));
        failed = true;
    } else {
        chartData.setAttribute(QStringLiteral("value"),
                               current.kind == ReportKind::Daily
                                   ? ReportPage::chartData(results.sampleRows, channels,
                                                           results.channelEmpty, interval,
                                                           results.breaks)
                                   : ReportPage::chartPoints(results.sampleRows, channels,
                                                             results.channelEmpty, results.breaks));
    }

    QWebElement graphData = frame()->findFirstElement(QStringLiteral("input#GraphData"));
    if (graphData.isNull()) {
        qDebug() << "there is not exist the tag \"GraphData\".";
        emit message(QStringLiteral("ERROR"),
                     QStringLiteral("there is not exist the tag \"GraphData\"."));
        return;
    }
    graphData.setAttribute(QStringLiteral("value"),
                           ReportPage::graphList(channels, results.channelEmpty));
    if (!failed)
        frame()->evaluateJavaScript(QStringLiteral("makeChart();"));
}

void ReportWebPage::fillReportTable()
{
    QWebElement table = frame()->findFirstElement(QStringLiteral("div#ReportTable"));
    if (table.isNull()) {
        qDebug() << "ReportTable is not found";
        return;
    }
    switch (current.kind) {
    case ReportKind::Daily:
        table.setInnerXml(ReportPage::reportTable(results.periodRows));
        break;
    case ReportKind::Weekly:
    case ReportKind::Monthly:
        table.setInnerXml(ReportPage::dayTable(results.periodRows));
        break;
    case ReportKind::Haccp:
        table.setInnerXml(HaccpPage::dayTable(results.periodRows, current.channels));
        fillHaccpSections();
        break;
    }
}

void ReportWebPage::fillSuppressions()
{
    insertTable(QStringLiteral("Suppressions"),
                QStringLiteral("Shelved Alarms and Nodes out of Service"),
                ReportSuppressions::titles(), ReportSuppressions::rows(results, current.channels));
}

void ReportWebPage::fillAlarmTests()
{
    const QVector<QStringList> rows = ReportAlarmTests::rows(results);
    // An answer other than "accepted" is what an inspector looks for.
    QSet<QPair<int, int>> marked;
    for (int r = 0; r < rows.size(); ++r) {
        if (rows.at(r).at(4) != AlarmTestRecord::acceptedAnswer())
            marked.insert({r, 4});
    }
    insertTable(QStringLiteral("AlarmTests"), QStringLiteral("Alarm Tests"),
                ReportAlarmTests::titles(), rows, marked);
}

void ReportWebPage::fillPeriodSummary()
{
    QVector<QStringList> rows = PeriodSummary::rows(results, current.channels);
    // A mean kinetic temperature above its limit is marked (the text says so too).
    const int kinetic = int(PeriodSummary::titles().indexOf(QStringLiteral("MKT")));
    QSet<QPair<int, int>> marked;
    for (int r = 0; r < rows.size(); ++r) {
        if (results.periodSummaries.at(r).kineticAboveLimit)
            marked.insert({r, kinetic});
    }
    // So is a calibration overdue on any day of the period.
    const int calibration = int(PeriodSummary::titles().indexOf(QStringLiteral("Calibration")));
    for (int r = 0; r < rows.size(); ++r) {
        if (rows.at(r).at(calibration).startsWith(QStringLiteral("calibration overdue")))
            marked.insert({r, calibration});
    }
    insertTable(QStringLiteral("PeriodSummary"), QStringLiteral("Period Summary"),
                PeriodSummary::titles(), rows, marked);
}

void ReportWebPage::fillCalibration()
{
    const QVector<QStringList> rows = ReportCalibration::rows(results, current.channels);
    const int overdue = int(ReportCalibration::titles().size()) - 1;
    QSet<QPair<int, int>> marked;
    for (int r = 0; r < rows.size(); ++r) {
        if (rows.at(r).at(overdue) != QLatin1String("-"))
            marked.insert({r, overdue});
    }
    insertTable(QStringLiteral("Calibration"), QStringLiteral("Calibration"),
                ReportCalibration::titles(), rows, marked);
}

void ReportWebPage::insertTable(const QString& id, const QString& title, const QStringList& titles,
                                const QVector<QStringList>& rows,
                                const QSet<QPair<int, int>>& marked)
{
    // Filled again (another run in the same page): the table of the one before goes.
    QWebElement before = frame()->findFirstElement(QStringLiteral("div#") + id);
    if (!before.isNull())
        before.removeFromDocument();
    QWebElement footer = frame()->findFirstElement(QStringLiteral("div.footer"));
    if (footer.isNull())
        return;
    // Only when there is something to list.
    if (rows.isEmpty())
        return;
    QString html = QStringLiteral("<div id='") + id + QStringLiteral("'><div class='section'>") +
                   title.toHtmlEscaped() + QStringLiteral("</div><table class='reportbox'>") +
                   ReportPage::headerRow(titles);
    for (int r = 0; r < rows.size(); ++r) {
        const QStringList& row = rows.at(r);
        html += QStringLiteral("<tr>");
        for (int i = 0; i < row.size(); ++i) {
            QString cls = i == 0 ? QStringLiteral("first L") : QStringLiteral("L");
            if (marked.contains({r, i}))
                cls += QStringLiteral(" marked");
            html += QStringLiteral("<td class='") + cls + QStringLiteral("'>") +
                    row.at(i).toHtmlEscaped() + QStringLiteral("</td>");
        }
        html += QStringLiteral("</tr>");
    }
    footer.prependOutside(html + QStringLiteral("</table></div>"));
}

void ReportWebPage::fillAuditHead()
{
    const struct
    {
        const char* selector;
        QString content;
    } fields[] = {
        {"div#AuditHead", results.auditHead.line()},
        {"span#AuditHeadTime", results.auditHead.readAtText()},
    };
    for (const auto& field : fields) {
        QWebElement element = frame()->findFirstElement(QLatin1String(field.selector));
        if (element.isNull())
            qDebug() << field.selector << "is not found";
        else
            element.setPlainText(field.content);
    }
}

void ReportWebPage::fillHaccpSections()
{
    const QWebElementCollection sections = frame()->findAllElements(QStringLiteral("div.section"));
    if (sections.count() > 1)
        sections.at(1).setPlainText(
            QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)"));
    // The limits go under the header, the lists and the signature block under the table.
    frame()
        ->findFirstElement(QStringLiteral("table.reportbox"))
        .appendOutside(HaccpPage::limitsSection(current.channels, results));
    frame()
        ->findFirstElement(QStringLiteral("div#ReportTable"))
        .appendOutside(HaccpPage::listsSection(current.channels, results, current.dataInterval));
}
