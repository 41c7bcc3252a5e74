#include "report.h"
#include "ui_report.h"

#include "configureddevice.h"
#include "datainterval.h"
#include "generateaveragequeries.h"
#include "messagedialog.h"
#include "novalue.h"
#include "projectfile.h"
#include "reportpage.h"
#include "reporttables.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QUrl>
#include <QUuid>
#include <QWebElement>
#include <QWebFrame>
#include <QWebPage>

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

QList<ReportChannel> channelsOf(const QList<QListWidgetItem*>& items)
{
    QList<ReportChannel> channels;
    for (const QListWidgetItem* item : items)
        channels.append({item->text(), item->toolTip()});
    return channels;
}

} // namespace

Report::Report(const QString& projectPath_, const QList<ConfiguredDevice*>& devices_,
               QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Report>()),
      connectionKey(QString::fromLatin1(QUuid::createUuid().toRfc4122().toBase64())),
      projectPath(projectPath_), devices(devices_), desktopCalls(defaultDesktop())
{
    for (ConfiguredDevice* device : qAsConst(devices))
        device->setParent(this);

    const ProjectFile project(projectPath);
    databasePath = ProjectFile::databasePath(projectPath);
    qDebug().noquote() << "m_dbname : " << databasePath;
    const QString recordStart = project.value(QStringLiteral("record_start_time"));
    const QString recordStop = project.value(QStringLiteral("record_stop_time"));
    qDebug().noquote() << "tpc startTime : " << recordStart;
    qDebug().noquote() << "tpc endTime : " << recordStop;
    dataInterval = project.intValue(QStringLiteral("DataInterval"));

    const QString degree(QChar(0x00B0));
    unitNames.insert(QStringLiteral("Undefined"), 0);
    unitNames.insert(QStringLiteral("Temperature(") + degree + QStringLiteral("C)"), 1);
    unitNames.insert(QStringLiteral("Temperature(") + degree + QStringLiteral("F)"), 2);
    unitNames.insert(QStringLiteral("Humidity(%)"), 3);
    unitNames.insert(QStringLiteral("Custom"), 4);

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
    ui->dateTimeEdit_start->setCalendarPopup(true);
    ui->dateTimeEdit_end->setCalendarPopup(true);
    ui->dateTimeEdit_end->setEnabled(false);

    ui->lineEdit_subject->setText(project.value(QStringLiteral("ReportSubject")));
    ui->lineEdit_author->setText(project.value(QStringLiteral("ReportAuthor")));

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

QString Report::unitText(int unit, const QString& custom) const
{
    if (unit == 4)
        return custom;
    return unitNames.key(unit);
}

void Report::fillDeviceList()
{
    for (const ConfiguredDevice* device : qAsConst(devices)) {
        const struct
        {
            QString name;
            QString column;
            int unit;
            QString custom;
        } channels[] = {
            {device->ch1Name, QStringLiteral("_channel1"), device->ch1Unit, device->ch1Custom},
            {device->ch2Name, QStringLiteral("_channel2"), device->ch2Unit, device->ch2Custom},
        };
        for (const auto& channel : channels) {
            auto* item = new QListWidgetItem(nocheckIcon,
                                             channel.name + QStringLiteral("\t[") +
                                                 device->deviceName + QLatin1Char(']'),
                                             ui->listWidget);
            item->setToolTip(device->deviceNumber + channel.column + QLatin1Char('|') +
                             unitText(channel.unit, channel.custom));
        }
    }
}

void Report::showMessage(const QString& title, const QString& text)
{
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
    ui->dateTimeEdit_end->setDateTime(dateTime.addDays(1).addSecs(-1));
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

    worker = new GenerateAverageQueries(connectionKey, databasePath, QFileInfo(projectPath).path(),
                                        start.toString(kTimeFormat), end.toString(kTimeFormat),
                                        selectedItems, &tables, this);
    connect(worker, &GenerateAverageQueries::done, this, &Report::genThreadDone);
    connect(worker, &GenerateAverageQueries::wholeCount, this, &Report::genThreadCount);
    connect(worker, &GenerateAverageQueries::createHashTables, this, &Report::genThreadHashTables);
    connect(worker, &GenerateAverageQueries::progPlus, progress, &QProgressDialog::setValue);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &GenerateAverageQueries::error, this, &Report::genThreadError);
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
    const ProjectFile project(projectPath);
    project.setValue(QStringLiteral("ReportSubject"), ui->lineEdit_subject->text());
    project.setValue(QStringLiteral("ReportAuthor"), ui->lineEdit_author->text());
    fillReportHeader();
    fillChartData();
    fillReportTable();
    closeProgress();
}

void Report::fillReportHeader()
{
    QWebFrame* frame = reportFrame();
    const QString start = ui->dateTimeEdit_start->dateTime().toString(kTimeFormat);
    const QString end = ui->dateTimeEdit_end->dateTime().toString(kTimeFormat);
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

    const QList<ReportChannel> channels = channelsOf(selectedItems);
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
    const QList<ReportChannel> channels = channelsOf(selectedItems);
    bool failed = false;

    QWebElement minPeriod = frame->findFirstElement(QStringLiteral("input#minPeriod"));
    if (minPeriod.isNull()) {
        qDebug() << "there is not exist the tag \"minPeriod\".";
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("there is not exist the tag \"minPeriod\"."));
        failed = true;
    } else {
        minPeriod.setAttribute(QStringLiteral("value"), ReportPage::minPeriodCode(dataInterval));
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
            ReportPage::chartData(tables.sampleRows, channels, tables.channelEmpty, dataInterval));
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
    table.setInnerXml(ReportPage::reportTable(tables.periodRows));
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
    const QString cmd = QStringLiteral("Tallyforge ") + quoted;
    qDebug().noquote() << "cmd : " << cmd;
    // The program is this executable, wherever it was started from; the path travels in
    // quotes as the recorder sends it.
    if (!desktop().startDetached(QCoreApplication::applicationFilePath(), {quoted})) {
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
    const QSize contentSize = frame->contentsSize();
    const QSize viewportSize = page->viewportSize();
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
    const QRect target(0, 0, int(8.3 * printer.logicalDpiX()), int(11.8 * printer.logicalDpiY()));
    painter.drawImage(target, image);
    painter.end();
    desktop().openFile(name);
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
