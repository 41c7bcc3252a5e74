#include "report.h"
#include "ui_report.h"

#include "datainterval.h"
#include "messagedialog.h"
#include "projectfile.h"
#include "projectpathargument.h"
#include "auditreviewtable.h"
#include "configureddevice.h"
#include "reportapprover.h"
#include "reportcsv.h"
#include "reportrun.h"
#include "reportwebpage.h"
#include "reviewdialog.h"
#include "signaturedialog.h"
#include "signindialog.h"
#include "signinsession.h"
#include "sqliteconnection.h"
#include "usertable.h"
#include "windowchrome.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QSizeGrip>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QUuid>
#include <QVBoxLayout>
#include <QWebFrame>

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
    d.signIn = [](SignInSession* session, std::optional<AccessPolicy::Action> action,
                  const QString& what, QWidget* parent) {
        return SignInDialog::ask(session, action, what, parent);
    };
    d.sign = [](SignInSession* session, const QString& meaning, const QString& what,
                QWidget* parent, const std::function<void(const SignatureGrant&)>& signedBy) {
        auto* dialog = new SignatureDialog(session, meaning, what, parent);
        QObject::connect(dialog, &SignatureDialog::signedBy, parent, signedBy);
        dialog->show();
    };
    d.askReview = [](QWidget* parent, QDate* from, QDate* to, QString* comment) {
        return ReviewDialog::ask(parent, from, to, comment);
    };
    return d;
}

// A period as people read it, in local time: "2026-12-08 00:00 to 2026-12-08 23:59:59".
QString periodText(qint64 fromSeconds, qint64 toSeconds)
{
    return QDateTime::fromSecsSinceEpoch(fromSeconds).toString(QStringLiteral("yyyy-MM-dd hh:mm")) +
           QStringLiteral(" to ") +
           QDateTime::fromSecsSinceEpoch(toSeconds - 1)
               .toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

constexpr int BusyTimeoutMs = 10000;

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

    ui->label_version->setText(WindowChrome::versionText());
    const QFileInfo info(projectPath);
    ui->label_project->setText(WindowChrome::projectLabel(info.path(), info.baseName()));
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
    // Without a frame the window has no edge to drag: its size is changed at this corner.
    ui->horizontalLayout_status->addWidget(new QSizeGrip(ui->statusFrame), 0,
                                           Qt::AlignRight | Qt::AlignBottom);

    QDateTime start;
    QDateTime stop;
    ReportPeriod::recordedRange(recordStart, recordStop, &start, &stop);
    ui->dateTimeEdit_start->setDateTimeRange(start, stop);
    ui->dateTimeEdit_end->setDateTimeRange(start, stop);
    QDateTime periodStart;
    QDateTime periodEnd;
    ReportPeriod::defaultDay(start, stop, &periodStart, &periodEnd);
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

    // The run's page, with the template loaded, is what the view shows.
    run = new ReportRun(this);
    webPage = new ReportWebPage(this);
    ui->webView->setPage(webPage->page());
    connect(run, &ReportRun::done, this, &Report::genThreadDone);
    connect(run, &ReportRun::wholeCount, this, &Report::genThreadCount);
    connect(run, &ReportRun::createHashTables, this, &Report::genThreadHashTables);
    connect(run, &ReportRun::error, this, &Report::genThreadError);
    connect(webPage, &ReportWebPage::message, this, &Report::showMessage);
    // The engine's own menu offers "Reload", which would put back the empty template.
    ui->webView->setContextMenuPolicy(Qt::NoContextMenu);

    fillDeviceList();

    session = new SignInSession(IdleSignOut::Clock(), this);
    session->open(databasePath);
    connect(session, &SignInSession::userChanged, this, [this] {
        actionSignIn->setText(session->user() ? QStringLiteral("Sign out ") + session->user()->name
                                              : QStringLiteral("Sign in..."));
    });
    qApp->installEventFilter(this);
}

Report::~Report()
{
    qApp->removeEventFilter(this);
    run->stop();
    // An approval being written finishes first: its copy and row belong together.
    if (recording) {
        recording->wait();
        delete recording;
    }
    session->close();
}

void Report::buildMenus()
{
    projectMenu = new QMenu(this);
    WindowChrome::styleMenu(projectMenu, font());
    actionNewReport = projectMenu->addAction(QStringLiteral("New Report"));
    actionReview = projectMenu->addAction(QStringLiteral("Review..."));
    actionSignIn = projectMenu->addAction(QStringLiteral("Sign in..."));
    connect(actionReview, &QAction::triggered, this, &Report::reviewAuditTrail);
    connect(actionSignIn, &QAction::triggered, this, &Report::signInOut);
    projectMenu->addSeparator();
    actionExit = projectMenu->addAction(QStringLiteral("Exit"));
    connect(actionNewReport, &QAction::triggered, this, &Report::slotNewReportProject);
    connect(actionExit, &QAction::triggered, this, &QWidget::close);

    printMenu = new QMenu(this);
    WindowChrome::styleMenu(printMenu, font());
    actionPrint = printMenu->addAction(QStringLiteral("Print"));
    actionPrintPreview = printMenu->addAction(QStringLiteral("Print Preview"));
    actionHtml = printMenu->addAction(QStringLiteral("html"));
    actionPdf = printMenu->addAction(QStringLiteral("pdf"));
    actionPng = printMenu->addAction(QStringLiteral("Image(png)"));
    actionCsv = printMenu->addAction(QStringLiteral("Export CSV..."));
    printMenu->addSeparator();
    actionApprove = printMenu->addAction(QStringLiteral("Approve..."));
    connect(actionApprove, &QAction::triggered, this, &Report::approveReport);
    connect(actionPrint, &QAction::triggered, this, &Report::exportPrint);
    connect(actionPrintPreview, &QAction::triggered, this, &Report::exportPrintPreview);
    connect(actionHtml, &QAction::triggered, this, &Report::exportPrintHtml);
    connect(actionPdf, &QAction::triggered, this, &Report::exportPrintPdf);
    connect(actionPng, &QAction::triggered, this, &Report::exportPrintPng);
    connect(actionCsv, &QAction::triggered, this, &Report::exportPrintCsv);
}

void Report::fillDeviceList()
{
    listChannels = ReportChannel::ofDevices(devices, kind == ReportKind::Haccp);
    for (const ReportChannel& channel : qAsConst(listChannels)) {
        auto* item = new QListWidgetItem(nocheckIcon, channel.itemText(), ui->listWidget);
        item->setToolTip(channel.toolTip());
    }
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

void Report::fitInto(const QRect& available)
{
    if (QLayout* layout = this->layout())
        layout->activate();
    resize(size().boundedTo(available.size()).expandedTo(minimumSizeHint()));
    move(qBound(available.left(), x(), qMax(available.left(), available.right() + 1 - width())),
         qBound(available.top(), y(), qMax(available.top(), available.bottom() + 1 - height())));
}

QWebFrame* Report::reportFrame() const
{
    return webPage->frame();
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
    // One report at a time: a second press while one runs would race on its tables.
    if (run->isRunning())
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

    ReportRun::Settings settings;
    settings.kind = kind;
    settings.connectionKey = connectionKey;
    settings.databasePath = databasePath;
    settings.projectFolder = QFileInfo(projectPath).path();
    settings.dataInterval = dataInterval;
    settings.period = currentPeriod();
    // Reports of days name their whole days; the edit shows only the first one.
    settings.start = kind == ReportKind::Daily ? start : settings.period.start();
    settings.end = kind == ReportKind::Daily ? end : settings.period.end();
    madeFrom = settings.start.toSecsSinceEpoch();
    madeTo = settings.end.toSecsSinceEpoch() + 1;
    settings.channels = chosenChannels();
    settings.subject = ui->lineEdit_subject->text();
    settings.author = ui->lineEdit_author->text();
    connect(run, &ReportRun::progPlus, progress, &QProgressDialog::setValue);
    run->start(settings);
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
    if (!run->hasRows()) {
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
    ProjectFile(projectPath)
        .saveReportTexts(ui->lineEdit_subject->text(), ui->lineEdit_author->text());
    webPage->fill(*run);
    closeProgress();
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
    const QString quoted = ProjectPathArgument::quote(projectPath);
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

// Through our own pagination, as the PDF: the web view's print leaves pages to the engine,
// which ends a page right below a table's header row.
void Report::printPreview(QPrinter* printer)
{
    if (!ReportExport(webPage->page(), kind).print(printer))
        showMessage(QStringLiteral("ERROR"), QStringLiteral("Unable to print the report."));
}

void Report::exportPrint()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(printer.printerName());
    if (dialog.exec() == QDialog::Accepted)
        printPreview(&printer);
}

void Report::exportPrintPreview()
{
    QPrinter printer(QPrinter::HighResolution);
    setUpPrinter(printer);
    QPrintPreviewDialog preview(&printer, this);
    connect(&preview, &QPrintPreviewDialog::paintRequested, this, &Report::printPreview);
    preview.exec();
}

void Report::exportPage(const QString& title, const QString& extension,
                        const QString& defaultSuffix,
                        bool (ReportExport::*write)(const QString&) const)
{
    QString name =
        desktop().saveFileName(this, title, ReportExport::proposedName(projectPath, extension),
                               QLatin1Char('*') + extension);
    if (name.isEmpty())
        return;
    name = ReportExport::withSuffix(name, defaultSuffix);
    if (!(ReportExport(webPage->page(), kind).*write)(name)) {
        showMessage(QStringLiteral("ERROR"), QStringLiteral("Unable to open the file."));
        return;
    }
    desktop().openFile(name);
}

void Report::exportPrintPdf()
{
    exportPage(QStringLiteral("Export PDF"), QStringLiteral(".pdf"), QStringLiteral(".pdf"),
               &ReportExport::writePdf);
}

void Report::exportPrintPng()
{
    exportPage(QStringLiteral("Export PNG"), QStringLiteral(".png"), QStringLiteral(".png"),
               &ReportExport::writePng);
}

void Report::exportPrintHtml()
{
    exportPage(QStringLiteral("Export HTML"), QStringLiteral(".html"), QStringLiteral(".htm"),
               &ReportExport::writeHtml);
}

void Report::exportPrintCsv()
{
    const QString extension = QStringLiteral(".csv");
    QString name = desktop().saveFileName(this, QStringLiteral("Export CSV"),
                                          ReportExport::proposedName(projectPath, extension),
                                          QLatin1Char('*') + extension);
    if (name.isEmpty())
        return;
    name = ReportExport::withSuffix(name, extension);
    QString text;
    if (!ReportCsv::write(name, run->settings(), run->tables(), &text)) {
        showMessage(QStringLiteral("ERROR"), text);
        return;
    }
    desktop().openFile(name);
}

void Report::signInOut()
{
    if (session->user()) {
        session->signOut(SignInSession::SignOutCause::User);
        return;
    }
    if (!session->accessControlOn()) {
        showMessage(QStringLiteral("Sign in"),
                    QStringLiteral("This project has no users: nobody signs in."));
        return;
    }
    desktop().signIn(session, std::nullopt, QString(), this);
}

bool Report::mayDo(AccessPolicy::Action action, const QString& what)
{
    if (!session->isReady()) {
        showMessage(what, QStringLiteral("The project's users are still being read. Please retry."));
        return false;
    }
    if (!session->accessControlOn()) {
        showMessage(what, QStringLiteral("This needs the signature of a Supervisor or an "
                                         "Administrator, and this project has no users."));
        return false;
    }
    if (session->allows(action))
        return true;
    const QString needs = QStringLiteral("This needs a Supervisor or an Administrator");
    if (session->user()) {
        showMessage(what, needs + QStringLiteral("; %1 is signed in as %2. Sign out first.")
                                      .arg(session->user()->name,
                                           AccessPolicy::roleText(session->user()->role)));
        return false;
    }
    return desktop().signIn(session, action, what, this) && session->allows(action);
}

void Report::approveReport()
{
    const QString title = QStringLiteral("Approve");
    if (!reportMade || isRecording())
        return;
    if (!mayDo(AccessPolicy::Action::ApproveReports, title))
        return;
    const QString what = ReportPeriod::title(kind) + QStringLiteral(", ") +
                         periodText(madeFrom, madeTo);
    desktop().sign(session, ReportApprover::meaning(), what, this,
                   [this](const SignatureGrant& grant) { approveSigned(grant); });
}

// The signature is given: the PDF is made with it below the content, and that file is what is
// hashed, kept and recorded.
void Report::approveSigned(const SignatureGrant& grant)
{
    // The role is that of the one signed in now, who gave the signature.
    if (!session->allows(AccessPolicy::Action::ApproveReports) || isRecording())
        return;
    auto folder = std::make_shared<QTemporaryDir>();
    const QString pdf = folder->filePath(QStringLiteral("approved.pdf"));
    ReportExport exporter(webPage->page(), kind);
    exporter.setApproval(ReportApprover::manifestationText(grant));
    if (!folder->isValid() || !exporter.writePdf(pdf)) {
        showMessage(QStringLiteral("ERROR"),
                    QStringLiteral("The approved report could not be made; nothing was recorded."));
        return;
    }
    ReportApprover::Request request;
    request.projectPath = projectPath;
    request.kind = kind;
    request.periodFrom = madeFrom;
    request.periodTo = madeTo;
    request.pdfPath = pdf;
    request.grant = grant;
    auto copy = std::make_shared<QString>();
    record(
        [request, copy](QString* text) {
            ReportApprover::Outcome outcome;
            if (!ReportApprover::approve(request, &outcome, text))
                return false;
            *copy = outcome.copyPath;
            *text = QStringLiteral("The report is approved (%1).\nThe approved copy: %2")
                        .arg(outcome.signature.manifestation(), outcome.copyPath);
            return true;
        },
        [this, folder, copy] {
            // The rendered file goes with `folder`; the kept copy is shown.
            if (!copy->isEmpty())
                desktop().openFile(*copy);
        });
}

void Report::reviewAuditTrail()
{
    const QString title = QStringLiteral("Review");
    if (isRecording() || !mayDo(AccessPolicy::Action::ReviewRecords, title))
        return;
    QDate from;
    QDate to;
    QString comment;
    if (!desktop().askReview(this, &from, &to, &comment))
        return;
    const QString what = QStringLiteral("Review of the audit trail, %1 to %2")
                             .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate));
    desktop().sign(session, QStringLiteral("reviewed"), what, this,
                   [this, from, to, comment](const SignatureGrant& grant) {
                       reviewSigned(grant, from, to, comment);
                   });
}

void Report::reviewSigned(const SignatureGrant& grant, const QDate& from, const QDate& to,
                          const QString& comment)
{
    if (!session->allows(AccessPolicy::Action::ReviewRecords) || isRecording())
        return;
    AuditReviewTable::Row row;
    row.periodFrom = ReportPeriod::dayStart(from) * 1000;
    row.periodTo = ReportPeriod::dayStart(to.addDays(1)) * 1000;
    row.comment = comment;
    row.timeMs = grant.timeMs;
    const QString database = databasePath;
    record([row, grant, database, from, to](QString* text) mutable {
        SqliteConnection connection;
        ElectronicSignature signature;
        if (!UserTable::open(&connection, database, BusyTimeoutMs, text) ||
            !AuditReviewTable::insertSigned(connection.get(), &row, grant.signer, grant.fullName,
                                            QStringLiteral("reviewed"), &signature, text)) {
            *text = QStringLiteral("The review could not be recorded: ") + *text;
            return false;
        }
        *text = QStringLiteral("The review of the audit trail from %1 to %2 is recorded (%3).")
                    .arg(from.toString(Qt::ISODate), to.toString(Qt::ISODate),
                         signature.manifestation());
        return true;
    });
}

void Report::record(const std::function<bool(QString*)>& work, const std::function<void()>& done)
{
    auto ok = std::make_shared<bool>(false);
    auto text = std::make_shared<QString>();
    QThread* thread = QThread::create([work, ok, text] { *ok = work(text.get()); });
    recording = thread;
    connect(thread, &QThread::finished, this, [this, thread, ok, text, done] {
        recording = nullptr;
        thread->deleteLater();
        if (done)
            done();
        showMessage(*ok ? QStringLiteral("Information") : QStringLiteral("ERROR"), *text);
        emit recorded(*ok, *text);
    });
    thread->start();
}

bool Report::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::Wheel:
        if (session->user())
            session->idle()->activity();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Report::closeEvent(QCloseEvent* event)
{
    // A worker still reading must end before the window and its tables go.
    run->stop();
    QWidget::closeEvent(event);
}
