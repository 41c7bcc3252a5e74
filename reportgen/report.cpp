#include "report.h"
#include "ui_report.h"

#include "configureddevice.h"
#include "datainterval.h"
#include "generateaveragequeries.h"
#include "generatedayqueries.h"
#include "haccppage.h"
#include "messagedialog.h"
#include "novalue.h"
#include "projectfile.h"
#include "reportpage.h"
#include "reporttables.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QUrl>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>

#include <algorithm>

namespace {

const QString kTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

ReportDesktop defaultDesktop()
{
    ReportDesktop d;
    d.saveFileName = [](QWidget* parent, const QString& title, const QString& proposed,
                        const QString& filter) {
        return QFileDialog::getSaveFileName(parent, title, proposed, filter);
    };
    d.openFile = [](const QString& path) {
        return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    d.startDetached = [](const QString& program, const QStringList& arguments) {
        return QProcess::startDetached(program, arguments);
    };
    return d;
}

QString keyOf(const QListWidgetItem* item)
{
    return item->toolTip().section(QLatin1Char('|'), 0, 0);
}

} // namespace

Report::Report(const QString& projectPath_, const QList<ConfiguredDevice*>& devices_,
               ReportKind kind_, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Report>()),
      connectionKey(QString::fromLatin1(QUuid::createUuid().toRfc4122().toBase64())),
      projectPath(projectPath_), devices(devices_), kind(kind_), desktopCalls(defaultDesktop())
{
    for (ConfiguredDevice* device : qAsConst(devices))
        device->setParent(this);

    const ProjectFile project(projectPath);
    databasePath = ProjectFile::databasePath(projectPath);
    qDebug().noquote() << "m_dbname : " << databasePath;
    const QString recordStart = project.recordStartTime();
    const QString recordStop = project.recordStopTime();
    qDebug().noquote() << "tpc startTime : " << recordStart;
    qDebug().noquote() << "tpc endTime : " << recordStop;
    dataInterval = project.storedInterval();

    ui->setupUi(this);
    setAttribute(Qt::WA_StyledBackground);
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowIcon(QIcon(QStringLiteral(":/img/I_2.png")));
    normalGeometry = geometry();
    checkIcon = QIcon(QStringLiteral(":/img/check.png"));
    nocheckIcon = QIcon(QStringLiteral(":/img/nocheck.png"));
    ui->label_top_logo->setPixmap(QPixmap(QStringLiteral(":/img/QuillmarLogo.png")));
    ui->label_bottom_logo->setPixmap(QPixmap(QStringLiteral(":/img/QuorbinalLogo.png")));
    ui->toolButton_hide->setIcon(QIcon(QStringLiteral(":/img/btn_minimize.png")));
    ui->toolButton_exit->setIcon(QIcon(QStringLiteral(":/img/btn_close.png")));
    ui->command_project->setIcon(QIcon());
    ui->commandLinkButton_load->setIcon(QIcon(QStringLiteral(":/img/I_2.png")));
    ui->commandLinkButton_print->setIcon(QIcon(QStringLiteral(":/img/I_2.png")));

    ui->label_version->setText(QStringLiteral("V3.49"));
    const QFileInfo info(projectPath);
    QString folder = info.path();
    if (folder.size() > 40)
        folder = folder.left(40) + QStringLiteral("...");
    ui->label_project->setText(folder + QLatin1Char('/') + info.baseName() +
                               QStringLiteral(".tpc"));
    ui->label_interval->setText(QStringLiteral("Interval : ") + intervalName(dataInterval));
    ui->label_range->setText(recordStart + QStringLiteral(" ~ ") + recordStop);

    connect(ui->menuFrame, &TopCustomFrame::customClick, this, &Report::topClick);
    connect(ui->menuFrame, &TopCustomFrame::customMove, this, &Report::topMoved);
    connect(ui->toolButton_exit, &QToolButton::clicked, this, &QWidget::close);
    connect(ui->toolButton_hide, &QToolButton::clicked, this, &QWidget::showMinimized);
    connect(ui->command_project, &QCommandLinkButton::clicked, this, &Report::slotCommandProject);
    connect(ui->commandLinkButton_load, &QCommandLinkButton::clicked, this,
            &Report::slotCommandUpdate);
    connect(ui->commandLinkButton_print, &QCommandLinkButton::clicked, this,
            &Report::slotCommandPrint);
    connect(ui->listWidget, &QListWidget::itemClicked, this, &Report::slotConfigSelected);
    connect(ui->dateTimeEdit_start, &QDateTimeEdit::dateTimeChanged, this,
            &Report::slotStartDateTimeChanged);
    ui->commandLinkButton_load->setEnabled(false);
    ui->commandLinkButton_print->setEnabled(false);
    ui->commandLinkButton_print->hide();
    ui->toolBox->setCurrentIndex(0);
    buildMenus();

    QDateTime start = QDateTime::fromString(recordStart, kTimeFormat);
    QDateTime stop = QDateTime::fromString(recordStop, kTimeFormat);
    // A project that never recorded has no times: offer yesterday, which finds no data.
    if (!stop.isValid())
        stop = QDateTime::currentDateTime();
    if (!start.isValid())
        start = stop.addDays(-2);
    start.setTime(QTime(start.time().hour(), start.time().minute(), 0));
    stop.setTime(QTime(stop.time().hour(), stop.time().minute(), 59));
    ui->dateTimeEdit_start->setDateTimeRange(start, stop);
    ui->dateTimeEdit_end->setDateTimeRange(start, stop);

    const QDate previousDay = stop.date().addDays(-1);
    const QDateTime dayStart(previousDay, QTime(0, 0, 0));
    const QDateTime dayEnd(previousDay, QTime(23, 59, 59));
    QDateTime periodStart = start;
    QDateTime periodEnd = stop;
    if (!(dayStart < start)) {
        periodStart = dayStart;
        if (!(stop < dayEnd))
            periodEnd = dayEnd;
    }
    qDebug().noquote() << "22 startDateTime : " << periodStart.toString(kTimeFormat);
    qDebug().noquote() << "22 endDateTime : " << periodEnd.toString(kTimeFormat);
    ui->dateTimeEdit_start->setDateTime(periodStart);
    ui->dateTimeEdit_end->setDateTime(periodEnd);
    // Reports of whole days choose their first day instead.
    if (kind != ReportKind::Daily)
        setUpDayPeriod(start, stop);
    ui->dateTimeEdit_start->setCalendarPopup(true);
    ui->dateTimeEdit_end->setCalendarPopup(true);
    ui->dateTimeEdit_end->setEnabled(false);

    ui->lineEdit_subject->setText(project.reportSubject());
    ui->lineEdit_author->setText(project.reportAuthor());

    QFile form(QStringLiteral(":/assets/reportform.html"));
    if (form.open(QIODevice::ReadOnly))
        ui->webView->setHtml(QString::fromUtf8(form.readAll()), QUrl());
    else
        qWarning() << "reportform.html is not found";
    ui->webView->setZoomFactor(zoomFactor);
    // The engine's own menu offers "Reload", which would put back the empty template.
    ui->webView->setContextMenuPolicy(Qt::NoContextMenu);

    fillDeviceList();
}

Report::~Report()
{
    stopWorker();
}

void Report::buildMenus()
{
    const QString style = QStringLiteral("background-color: rgb(203, 203, 203);");
    QFont bold = font();
    bold.setBold(true);

    projectMenu = new QMenu(this);
    projectMenu->setStyleSheet(style);
    projectMenu->setFont(bold);
    actionNewReport = projectMenu->addAction(QStringLiteral("New Report"));
    projectMenu->addSeparator();
    actionExit = projectMenu->addAction(QStringLiteral("Exit"));
    connect(actionNewReport, &QAction::triggered, this, &Report::slotNewReportProject);
    connect(actionExit, &QAction::triggered, this, &QWidget::close);

    printMenu = new QMenu(this);
    printMenu->setStyleSheet(style);
    printMenu->setFont(bold);
    actionPrint = printMenu->addAction(QStringLiteral("Print"));
    actionPrintPreview = printMenu->addAction(QStringLiteral("Print Preview"));
    actionHtml = printMenu->addAction(QStringLiteral("html"));
    actionPdf = printMenu->addAction(QStringLiteral("pdf"));
    actionPng = printMenu->addAction(QStringLiteral("Image(png)"));
    connect(actionPrint, &QAction::triggered, this, &Report::exportPrint);
    connect(actionPrintPreview, &QAction::triggered, this, &Report::exportPrintPreview);
    connect(actionHtml, &QAction::triggered, this, &Report::exportPrintHtml);
    connect(actionPdf, &QAction::triggered, this, &Report::exportPrintPdf);
    connect(actionPng, &QAction::triggered, this, &Report::exportPrintPng);
}

void Report::fillDeviceList()
{
    listChannels = ReportChannel::ofDevices(devices, kind == ReportKind::Haccp);
    for (const ReportChannel& channel : qAsConst(listChannels)) {
        auto* item = new QListWidgetItem(nocheckIcon, channel.itemText(), ui->listWidget);
        item->setToolTip(channel.toolTip());
    }
}

QStringList Report::channelKeys() const
{
    QStringList keys;
    for (int row = 0; row < ui->listWidget->count(); ++row)
        keys.append(keyOf(ui->listWidget->item(row)));
    return keys;
}

bool Report::tickChannels(const QStringList& keys, QString* unknown)
{
    QList<QListWidgetItem*> items;
    for (const QString& key : keys) {
        QListWidgetItem* found = nullptr;
        for (int row = 0; row < ui->listWidget->count() && !found; ++row) {
            if (keyOf(ui->listWidget->item(row)) == key)
                found = ui->listWidget->item(row);
        }
        if (!found || items.contains(found) || items.size() >= ReportColumns) {
            *unknown = key;
            return false;
        }
        items.append(found);
    }
    for (QListWidgetItem* item : qAsConst(selectedItems))
        slotConfigSelected(item);
    for (QListWidgetItem* item : qAsConst(items))
        slotConfigSelected(item);
    return true;
}

void Report::setReportTexts(const QString& subject, const QString& author)
{
    ui->lineEdit_subject->setText(subject);
    ui->lineEdit_author->setText(author);
}

QString Report::subjectText() const
{
    return ui->lineEdit_subject->text();
}

QString Report::authorText() const
{
    return ui->lineEdit_author->text();
}

// Reports of whole days: the start edit picks the first day (the month of a monthly report);
// the end follows from the kind. The default is the week, month or day before the recording's
// last day.
void Report::setUpDayPeriod(const QDateTime& recordStart, const QDateTime& recordStop)
{
    ui->label_title->setText(ReportPeriod::title(kind).toUpper());
    if (kind == ReportKind::Haccp)
        addSpanChoice();
    // From the first of the recording's first month: a month's report (HACCP too) starts there.
    const QDate first(recordStart.date().year(), recordStart.date().month(), 1);
    ui->dateTimeEdit_start->setDateTimeRange(QDateTime(first, QTime(0, 0)), recordStop);
    // The period may run past the recording: its end is not bound to it.
    ui->dateTimeEdit_end->setDateTimeRange(QDateTime(first, QTime(0, 0)),
                                           QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
    QDate start = recordStop.date().addDays(kind == ReportKind::Weekly ? -7 : -1);
    if (start < recordStart.date())
        start = recordStart.date();
    updateStartFormat();
    ui->dateTimeEdit_start->setDateTime(ReportPeriod::of(kind, start, span).start());
    ui->dateTimeEdit_end->setDateTime(currentPeriod().end());
}

void Report::addSpanChoice()
{
    auto* label = new QLabel(QStringLiteral("PERIOD"), this);
    label->setObjectName(QStringLiteral("label_period"));
    label->setFont(ui->label_startdate_2->font());
    label->setStyleSheet(ui->label_startdate_2->styleSheet());
    spanBox = new QComboBox(this);
    spanBox->setObjectName(QStringLiteral("comboBox_period"));
    spanBox->addItems({QStringLiteral("Day"), QStringLiteral("Week"), QStringLiteral("Month")});
    spanBox->setFont(ui->dateTimeEdit_end->font());
    spanBox->setMinimumSize(ui->dateTimeEdit_end->minimumSize());
    spanBox->setStyleSheet(
        QStringLiteral("QComboBox { color: rgb(230,230,230); background-color: rgb(40,40,40); "
                       "border: 1px solid rgb(90,90,90); padding-left: 4px; }"));
    auto* layout = qobject_cast<QVBoxLayout*>(ui->dateTimeEdit_end->parentWidget()->layout());
    const int at = layout ? layout->indexOf(ui->dateTimeEdit_end) : -1;
    if (at >= 0) {
        layout->insertWidget(at + 1, label);
        layout->insertWidget(at + 2, spanBox);
    }
    connect(spanBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        span = HaccpSpan(index);
        updateStartFormat();
        slotStartDateTimeChanged(ui->dateTimeEdit_start->dateTime());
    });
}

void Report::updateStartFormat()
{
    ui->dateTimeEdit_start->setDisplayFormat(ReportPeriod::coversMonth(kind, span)
                                                 ? QStringLiteral("yyyy-MM")
                                                 : QStringLiteral("yyyy-MM-dd"));
}

ReportPeriod Report::currentPeriod() const
{
    return ReportPeriod::of(kind, ui->dateTimeEdit_start->date(), span);
}

void Report::setPeriodStart(const QDate& start, HaccpSpan span_)
{
    span = span_;
    if (spanBox) {
        const QSignalBlocker blocker(spanBox);
        spanBox->setCurrentIndex(int(span));
    }
    if (kind != ReportKind::Daily)
        updateStartFormat();
    const ReportPeriod period = ReportPeriod::of(kind, start, span);
    // Only whole days: the recorded range (which a recording recorder has not yet written)
    // does not limit a period chosen this way.
    for (QDateTimeEdit* edit : {ui->dateTimeEdit_start, ui->dateTimeEdit_end}) {
        edit->setMinimumDateTime(qMin(edit->minimumDateTime(), period.start()));
        edit->setMaximumDateTime(qMax(edit->maximumDateTime(), period.end()));
    }
    ui->dateTimeEdit_start->setDateTime(period.start());
    slotStartDateTimeChanged(period.start());
}

QList<ReportChannel> Report::chosenChannels() const
{
    QList<ReportChannel> channels;
    for (QListWidgetItem* item : selectedItems)
        channels.append(listChannels.at(ui->listWidget->row(item)));
    return channels;
}

void Report::showMessage(const QString& title, const QString& text)
{
    if (desktopCalls.message) {
        desktopCalls.message(title, text);
        return;
    }
    ::showMessage(this, title, text);
}

QWebFrame* Report::reportFrame() const
{
    return ui->webView->page()->mainFrame();
}

void Report::topClick(QPoint point)
{
    dragPoint = point;
}

void Report::topMoved(QPoint point)
{
    move(pos() + (point - dragPoint));
    dragPoint = point;
}

void Report::slotConfigSelected(QListWidgetItem* item)
{
    if (!item)
        return;
    if (selectedItems.contains(item)) {
        selectedItems.removeAll(item);
        item->setIcon(nocheckIcon);
    } else {
        if (selectedItems.size() >= ReportColumns)
            return;
        selectedItems.append(item);
        item->setIcon(checkIcon);
    }
    ui->commandLinkButton_load->setEnabled(!selectedItems.isEmpty());
}

void Report::slotStartDateTimeChanged(QDateTime dateTime)
{
    qDebug().noquote() << "slotStartDateTimeChanged : " << dateTime.toString(kTimeFormat);
    if (kind == ReportKind::Daily) {
        ui->dateTimeEdit_end->setDateTime(dateTime.addDays(1).addSecs(-1));
        return;
    }
    const ReportPeriod period = ReportPeriod::of(kind, dateTime.date(), span);
    // A start inside the period (another day of the month) moves to its first day.
    if (ui->dateTimeEdit_start->dateTime() != period.start() &&
        ui->dateTimeEdit_start->minimumDateTime() <= period.start()) {
        ui->dateTimeEdit_start->setDateTime(period.start());
        return;
    }
    ui->dateTimeEdit_end->setDateTime(period.end());
}

void Report::setInputsLocked(bool locked)
{
    if (locked)
        ui->listWidget->clearSelection();
    ui->listWidget->setEnabled(!locked);
    ui->lineEdit_subject->setEnabled(!locked);
    ui->lineEdit_author->setEnabled(!locked);
    ui->dateTimeEdit_start->setEnabled(!locked);
}

void Report::closeProgress()
{
    if (progress) {
        progress->close();
        delete progress;
        progress = nullptr;
    }
}

void Report::slotCommandUpdate()
{
    if (selectedItems.isEmpty()) {
        showMessage(QStringLiteral("Information"),
                    QStringLiteral("Please select at least one or more Device.\nPlease retry."));
        return;
    }
    // One worker at a time: a second press while one runs would race on the report's tables.
    if (worker)
        return;
    setInputsLocked(true);
    ui->commandLinkButton_load->setEnabled(false);
    ui->toolButton_exit->setEnabled(false);

    const QDateTime start = ui->dateTimeEdit_start->dateTime();
    const QDateTime end = ui->dateTimeEdit_end->dateTime();
    const qint64 length = start.secsTo(end);
    qDebug() << "timeLength : " << length;
    qDebug() << "timeSeries : " << length / 3600;

    closeProgress();
    progress = new QProgressDialog(this, Qt::FramelessWindowHint | Qt::Dialog);
    progress->setCancelButton(nullptr);
    progress->setStyleSheet(
        QStringLiteral("background-color:rgb(55,55,55);color:rgb(230,230,230);"));
    progress->setRange(0, 0);
    progress->setLabelText(QStringLiteral("Creating View..."));
    progress->setAutoClose(false);
    progress->setAutoReset(false);
    progress->show();

    if (kind == ReportKind::Daily) {
        auto* daily = new GenerateAverageQueries(
            connectionKey, databasePath, QFileInfo(projectPath).path(), start.toString(kTimeFormat),
            end.toString(kTimeFormat), chosenChannels(), &tables, this);
        worker = daily;
    } else {
        auto* days = new GenerateDayQueries(databasePath, currentPeriod(), dataInterval,
                                            chosenChannels(), &tables, this);
        // A HACCP report lists excursions and gaps, which only the rows tell.
        days->setFiguresOnly(kind != ReportKind::Haccp);
        worker = days;
    }
    connect(worker, &ReportWorker::done, this, &Report::genThreadDone);
    connect(worker, &ReportWorker::wholeCount, this, &Report::genThreadCount);
    connect(worker, &ReportWorker::createHashTables, this, &Report::genThreadHashTables);
    connect(worker, &ReportWorker::progPlus, progress, &QProgressDialog::setValue);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &ReportWorker::error, this, &Report::genThreadError);
    worker->start(QThread::LowPriority);
}

void Report::genThreadHashTables()
{
    if (progress)
        progress->setLabelText(QStringLiteral("Creating Hash Tables..."));
}

void Report::genThreadCount(int count)
{
    if (progress) {
        progress->setLabelText(QStringLiteral("Creating Chart..."));
        progress->setRange(0, count);
    }
}

void Report::genThreadError(QString text)
{
    qDebug().noquote() << "genThreadError : " << text;
    closeProgress();
    showMessage(QStringLiteral("ERROR"), text);
    setInputsLocked(false);
    ui->toolButton_exit->setEnabled(true);
}

void Report::genThreadDone()
{
    qDebug() << "genThreadDone";
    ui->toolButton_exit->setEnabled(true);
    if (tables.sampleRows.isEmpty()) {
        closeProgress();
        showMessage(QStringLiteral("ERROR"), QStringLiteral("Not Enough Data."));
        setInputsLocked(false);
        ui->commandLinkButton_load->setEnabled(true);
        return;
    }
    ui->commandLinkButton_load->setEnabled(false);
    ui->commandLinkButton_load->hide();
    ui->commandLinkButton_print->setEnabled(true);
    ui->commandLinkButton_print->show();
    reportMade = true;
    if (storeReportTexts)
        ProjectFile(projectPath)
            .saveReportTexts(ui->lineEdit_subject->text(), ui->lineEdit_author->text());
    fillReportHeader();
    fillChartData();
    fillReportTable();
    closeProgress();
}

void Report::fillReportHeader()
{
    QWebFrame* frame = reportFrame();
    const bool days = kind != ReportKind::Daily;
    const QString start =
        (days ? currentPeriod().start() : ui->dateTimeEdit_start->dateTime()).toString(kTimeFormat);
    const QString end =
        (days ? currentPeriod().end() : ui->dateTimeEdit_end->dateTime()).toString(kTimeFormat);
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
        {"div#ReportSubject", ReportPage::escapeMarkup(ui->lineEdit_subject->text()),
         "ReportSubject is not found"},
        {"div#ReportAuthor", ReportPage::escapeMarkup(ui->lineEdit_author->text()),
         "ReportAuthor is not found"},
        {"div#ReportDuration", start + QStringLiteral(" ~ ") + end, "ReportDuration is not found"},
    };
    for (const auto& field : fields) {
        QWebElement element = frame->findFirstElement(QLatin1String(field.selector));
        if (element.isNull()) {
            qDebug() << field.missing;
            continue;
        }
        element.setInnerXml(field.content);
    }

    if (kind != ReportKind::Daily) {
        const QString title = ReportPeriod::title(kind);
        frame->findFirstElement(QStringLiteral("div.titleline div.title")).setPlainText(title);
        frame->findFirstElement(QStringLiteral("title")).setPlainText(title);
    }

    const QList<ReportChannel> channels = chosenChannels();
    for (int i = 0; i < channels.size() && i < ReportColumns; ++i) {
        const QString selector =
            QStringLiteral("div#Channel") + QString::number(i + 1) + QStringLiteral("Info");
        QWebElement element = frame->findFirstElement(selector);
        if (element.isNull()) {
            qDebug().noquote() << selector << " is not found";
            continue;
        }
        element.setInnerXml(ReportPage::channelInfo(channels.at(i)));
    }
}

void Report::fillChartData()
{
    QWebFrame* frame = reportFrame();
    const QList<ReportChannel> channels = chosenChannels();
    bool failed = false;
    // Reports of several days get condensed chart rows, each of which is a point.
    const bool days = kind != ReportKind::Daily && currentPeriod().dayBounds().size() > 2;

    QWebElement minPeriod = frame->findFirstElement(QStringLiteral("input#minPeriod"));
    if (minPeriod.isNull()) {
        qDebug() << "there is not exist the tag \"minPeriod\".";
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("there is not exist the tag \"minPeriod\"."));
        failed = true;
    } else {
        minPeriod.setAttribute(QStringLiteral("value"),
                               days ? ReportPage::dayPeriodCode()
                                    : ReportPage::minPeriodCode(dataInterval));
        qDebug().noquote() << "the tag \"minPeriod\" : " << intervalName(dataInterval);
    }

    QWebElement chartData = frame->findFirstElement(QStringLiteral("input#ChartData"));
    if (chartData.isNull()) {
        qDebug() << "there is not exist the tag \"ChartData\".";
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("there is not exist the tag \"ChartData\"."));
        failed = true;
    } else {
        chartData.setAttribute(
            QStringLiteral("value"),
            kind == ReportKind::Daily
                ? ReportPage::chartData(tables.sampleRows, channels, tables.channelEmpty,
                                        dataInterval)
                : ReportPage::chartPoints(tables.sampleRows, channels, tables.channelEmpty));
    }

    QWebElement graphData = frame->findFirstElement(QStringLiteral("input#GraphData"));
    if (graphData.isNull()) {
        qDebug() << "there is not exist the tag \"GraphData\".";
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("there is not exist the tag \"GraphData\"."));
        return;
    }
    graphData.setAttribute(QStringLiteral("value"),
                           ReportPage::graphList(channels, tables.channelEmpty));
    if (!failed)
        frame->evaluateJavaScript(QStringLiteral("makeChart();"));
}

void Report::fillReportTable()
{
    QWebElement table = reportFrame()->findFirstElement(QStringLiteral("div#ReportTable"));
    if (table.isNull()) {
        qDebug() << "ReportTable is not found";
        return;
    }
    switch (kind) {
    case ReportKind::Daily:
        table.setInnerXml(ReportPage::reportTable(tables.periodRows));
        break;
    case ReportKind::Weekly:
    case ReportKind::Monthly:
        table.setInnerXml(ReportPage::dayTable(tables.periodRows));
        break;
    case ReportKind::Haccp:
        table.setInnerXml(HaccpPage::dayTable(tables.periodRows, chosenChannels()));
        fillHaccpSections();
        break;
    }
}

void Report::fillHaccpSections()
{
    QWebFrame* frame = reportFrame();
    const QList<ReportChannel> channels = chosenChannels();
    const QWebElementCollection sections = frame->findAllElements(QStringLiteral("div.section"));
    if (sections.count() > 1)
        sections.at(1).setPlainText(
            QStringLiteral("Daily Figures (Min/Max/Avg, Time out of Limits)"));
    // The limits go under the header, the lists and the signature block under the table.
    frame->findFirstElement(QStringLiteral("table.reportbox"))
        .appendOutside(HaccpPage::limitsSection(channels, tables));
    frame->findFirstElement(QStringLiteral("div#ReportTable"))
        .appendOutside(HaccpPage::listsSection(channels, tables));
}

void Report::slotCommandProject()
{
    projectMenu->move(pos() + ui->command_project->pos() +
                      QPoint(5, ui->command_project->height()));
    projectMenu->show();
}

void Report::slotCommandPrint()
{
    const QPoint buttonPos = ui->commandLinkButton_print->mapTo(this, QPoint(0, 0));
    printMenu->move(pos() + buttonPos + QPoint(20, ui->commandLinkButton_print->height() + 40));
    printMenu->show();
}

void Report::slotNewReportProject()
{
    const QString db = ProjectFile::databasePath(projectPath);
    if (!QFileInfo(db).isFile()) {
        showMessage(QStringLiteral("ERROR"), QStringLiteral("Database does not exist."));
        return;
    }
    const QString quoted = QLatin1Char('\'') + projectPath + QLatin1Char('\'');
    // A new report of the same kind, as the recorder asks for it.
    QStringList arguments{quoted};
    if (kind != ReportKind::Daily)
        arguments << QStringLiteral("--report") << ReportPeriod::kindName(kind);
    const QString cmd = QStringLiteral("Tallyforge ") + arguments.join(QLatin1Char(' '));
    qDebug().noquote() << "cmd : " << cmd;
    // The program is this executable, wherever it was started from; the path travels in
    // quotes as the recorder sends it.
    if (!desktop().startDetached(QCoreApplication::applicationFilePath(), arguments)) {
        qDebug().noquote() << "startDetached : " << cmd << " failed!";
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("Please check the Tallyforge execution file."));
    }
}

void Report::slotView100() {}

void Report::slotViewFull() {}

void Report::slotViewNormal() {}

namespace {

void setUpPrinter(QPrinter& printer)
{
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(true);
}

} // namespace

void Report::printPreview(QPrinter* printer)
{
    ui->webView->print(printer);
}

void Report::exportPrint()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(printer.printerName());
    if (dialog.exec() == QDialog::Accepted)
        ui->webView->print(&printer);
}

void Report::exportPrintPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &Report::printPreview);
    preview.exec();
}

QString Report::exportFileName(const QString& title, const QString& extension,
                               const QString& filter, const QString& defaultSuffix)
{
    const QFileInfo info(projectPath);
    const QString proposed =
        info.path() + QLatin1Char('/') + info.baseName() + QLatin1Char('_') +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddhhmmss")) + extension;
    QString name = desktop().saveFileName(this, title, proposed, filter);
    if (name.isEmpty())
        return QString();
    if (QFileInfo(name).suffix().isEmpty())
        name += defaultSuffix;
    return name;
}

QImage Report::pageImage() const
{
    QWebPage* page = ui->webView->page();
    QWebFrame* frame = page->mainFrame();
    // Reading the document height makes the engine lay out what was just written into the
    // page, so the content size below is that of the filled report.
    frame->evaluateJavaScript(QStringLiteral("document.documentElement.scrollHeight;"));
    const QSize viewportSize = page->viewportSize();
    if (kind != ReportKind::Daily) {
        // Laid out as wide as the sheet with a margin, whatever the window's width, so that
        // the pages of a PDF are filled by the sheet.
        const int sheet =
            frame->findFirstElement(QStringLiteral("div#ReportContent")).geometry().width();
        page->setViewportSize(QSize(sheet + 2 * 16, viewportSize.height()));
    }
    const QSize contentSize = frame->contentsSize();
    qDebug() << "contentSize : " << contentSize;
    qDebug() << "viewportSize : " << viewportSize;
    QImage image(contentSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    page->setViewportSize(contentSize);
    frame->render(&painter);
    painter.end();
    page->setViewportSize(viewportSize);
    return image;
}

void Report::exportPrintPdf()
{
    const QString name = exportFileName(QStringLiteral("Export PDF"), QStringLiteral(".pdf"),
                                        QStringLiteral("*.pdf"), QStringLiteral(".pdf"));
    if (name.isEmpty())
        return;
    const QImage image = pageImage();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(name);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer)) {
        qWarning().noquote() << "exportPrintPdf : cannot write " << name;
        showUnableToOpen();
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    if (kind == ReportKind::Daily) {
        const QRect target(0, 0, int(8.3 * printer.logicalDpiX()),
                           int(11.8 * printer.logicalDpiY()));
        painter.drawImage(target, image);
    } else {
        paintPages(&painter, &printer, image);
    }
    painter.end();
    desktop().openFile(name);
}

// A page as wide as the sheet per A4 page. Pages end below a table row (or above a section
// title), never inside one; a table that goes on to the next page repeats its header row
// there. The chart stays on the first page.
void Report::paintPages(QPainter* painter, QPrinter* printer, const QImage& image) const
{
    // The whole paper, with a margin above and below the content of each page.
    const int margin = int(0.3 * printer->logicalDpiY());
    const QRect target(0, margin, printer->width(), printer->height() - 2 * margin);
    const double scale = double(target.width()) / qMax(1, image.width());
    const int pageHeight = int(target.height() / scale);

    QWebFrame* frame = reportFrame();
    QVector<int> cuts;
    for (const QWebElement& row : frame->findAllElements(QStringLiteral("tr, div#chartdiv")))
        cuts.append(row.geometry().bottom() + 1);
    for (const QWebElement& title : frame->findAllElements(QStringLiteral("div.section")))
        cuts.append(title.geometry().top());
    std::sort(cuts.begin(), cuts.end());
    struct Table
    {
        QRect area;
        QRect header;
    };
    QVector<Table> sheets;
    for (const QWebElement& table : frame->findAllElements(QStringLiteral("table"))) {
        const QWebElement first = table.findFirst(QStringLiteral("tr"));
        if (!first.findFirst(QStringLiteral("th.top")).isNull())
            sheets.append({table.geometry(), first.geometry()});
    }

    int top = 0;
    bool firstPage = true;
    while (top < image.height()) {
        if (!firstPage)
            printer->newPage();
        int y = 0;
        // A table that goes on from the page before shows its header row first.
        for (const Table& table : qAsConst(sheets)) {
            if (!firstPage && table.area.top() < top && top < table.area.bottom() &&
                top > table.header.bottom()) {
                const QRect source(0, table.header.top(), image.width(), table.header.height());
                painter->drawImage(QRectF(0, target.top(), target.width(), source.height() * scale),
                                   image, source);
                y = source.height();
            }
        }
        int bottom = top + pageHeight - y;
        if (bottom < image.height()) {
            // The last row end that fits, unless that would leave most of the page empty.
            const auto fit = std::upper_bound(cuts.cbegin(), cuts.cend(), bottom);
            if (fit != cuts.cbegin() && *(fit - 1) > top + pageHeight / 3)
                bottom = *(fit - 1);
        } else {
            bottom = image.height();
        }
        const QRect source(0, top, image.width(), bottom - top);
        painter->drawImage(
            QRectF(0, target.top() + y * scale, target.width(), source.height() * scale), image,
            source);
        top = bottom;
        firstPage = false;
    }
}

void Report::exportPrintPng()
{
    const QString name = exportFileName(QStringLiteral("Export PNG"), QStringLiteral(".png"),
                                        QStringLiteral("*.png"), QStringLiteral(".png"));
    if (name.isEmpty())
        return;
    if (!pageImage().save(name, "png", 100)) {
        qWarning().noquote() << "exportPrintPng : cannot write " << name;
        showUnableToOpen();
        return;
    }
    desktop().openFile(name);
}

void Report::exportPrintHtml()
{
    const QString name = exportFileName(QStringLiteral("Export HTML"), QStringLiteral(".html"),
                                        QStringLiteral("*.html"), QStringLiteral(".htm"));
    if (name.isEmpty())
        return;
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        showUnableToOpen();
        return;
    }
    file.write(reportFrame()->toHtml().toUtf8());
    file.close();
    desktop().openFile(name);
}

void Report::showUnableToOpen()
{
    showMessage(QStringLiteral("ERROR"), QStringLiteral("Unable to open the file."));
}

void Report::stopWorker()
{
    if (worker) {
        worker->requestInterruption();
        worker->wait();
    }
}

void Report::closeEvent(QCloseEvent* event)
{
    // A worker still reading must end before the window and its tables go.
    stopWorker();
    QWidget::closeEvent(event);
}
