#include "quillmarmain.h"
#include "ui_quillmarmain.h"

#include "aboutbox.h"
#include "alarmtestcommands.h"
#include "alarmtestdialog.h"
#include "alarmtestlog.h"
#include "alarmtestrun.h"
#include "backupdialog.h"
#include "backupsettings.h"
#include "audittraildialog.h"
#include "calibrationcommands.h"
#include "calibrationregister.h"
#include "configureddevice.h"
#include "dashboard.h"
#include "nodedevice.h"
#include "editedsettingsdialog.h"
#include "messagedialog.h"
#include "projectcenter.h"
#include "projectfile.h"
#include "projectkeynotice.h"
#include "projectmain.h"
#include "projectmanager.h"
#include "reasondialog.h"
#include "signaturedialog.h"
#include "signaturetable.h"
#include "signedrecord.h"
#include "recordermenus.h"
#include "recorderstatusbar.h"
#include "recordingcycle.h"
#include "signindialog.h"
#include "signinstatus.h"
#include "suppressioncommands.h"
#include "suppressiondialog.h"
#include "usersdialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <QUuid>

#include <utility>

namespace {

const char* const Version = "V1.9";

} // namespace

QuillmarMain::QuillmarMain(QWidget* parent) : QuillmarMain(MessageBoxFunction(), parent) {}

QuillmarMain::QuillmarMain(const MessageBoxFunction& messageBox, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::QuillmarMain>()), messageBoxFunction(messageBox)
{
    if (!messageBoxFunction)
        messageBoxFunction = PendingSamplesPrompt::messageBoxOn(this);
    qRegisterMetaType<QList<ConfiguredDevice*>>();
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Quillmar Lite Modbus"));
    ui->label_version->setText(QLatin1String(Version));
    connectionName = QString::fromLatin1(QUuid::createUuid().toString().toUtf8().toBase64());

    connect(ui->menuFrame, &TopCustomFrame::customDoubleClick, this, &QuillmarMain::topDblClick);
    connect(ui->command_project, &QAbstractButton::clicked, this,
            &QuillmarMain::slotCommandProject);
    connect(ui->command_record, &QAbstractButton::clicked, this, &QuillmarMain::slotCommandRecord);
    connect(ui->command_screen, &QAbstractButton::clicked, this, &QuillmarMain::slotCommandScreen);
    connect(ui->command_help, &QAbstractButton::clicked, this, &QuillmarMain::slotCommandHelp);

    gate.setAsks(
        [this](SignInSession* sessionAsked, AccessPolicy::Action action, const QString& what) {
            return SignInDialog::ask(sessionAsked, action, what, this);
        },
        [this](const QString& what, QString* reason) {
            return ReasonDialog::ask(what, reason, this);
        });
    gate.setSignatureAsk([this](SignInSession* sessionAsked, const QString& meaning,
                                const QString& what, const AccessGate::SignatureDone& done) {
        QWidget* over = QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                          : QApplication::activeWindow();
        auto* dialog = new SignatureDialog(sessionAsked, meaning, what, over ? over : this);
        connect(dialog, &SignatureDialog::signedBy, this,
                [done](const SignatureGrant& grant) { done(grant); });
        connect(dialog, &SignatureDialog::cancelled, this, [done] { done(std::nullopt); });
        dialog->open();
    });
    gate.setRefusalRecorder(
        [this](const QString& user, const QString& action, const QString& what) {
            if (services.audit())
                services.audit()->actionRefused(user, action, what);
        });
    // An acknowledgement names whoever is at the desk when it is confirmed; every other change
    // the one the gate let through for it.
    services.setActorSource([this](const QString& action) {
        return action == QLatin1String("alarm acknowledged") ? gate.deskActor()
                                                             : gate.currentActor();
    });

    createMenus();

    projectOpen = false;
    menus->setProjectActionsEnabled(false);

    menus->actionAutoLoad->setChecked(recent.autoLoad());
    menus->actionAutoRecord->setChecked(recent.autoRecord());
    recent.prune();
    showStartScreen();

    stdTimer = new QTimer(this);
    connect(stdTimer, &QTimer::timeout, this, &QuillmarMain::slotStdTimer);
    stdTimer->start(ClockInterval);

    status = new RecorderStatusBar({ui->label_projectname, ui->label_interval, ui->label_datetime,
                                    ui->label_record_state, ui->label_write_state,
                                    ui->label_index_state, ui->label_backup_state},
                                   this);
    connect(&services, &ProjectServices::backupStatusChanged, status,
            &RecorderStatusBar::setBackupState);
    desk =
        new AlarmDesk(this, ui->horizontalLayout_status,
                      ui->horizontalLayout_status->indexOf(ui->label_write_state),
                      [this](const QString& title, const QString& text) { critical(title, text); },
                      &services);
    // Under access control the one acknowledging is the user signed in, not a typed name.
    desk->setAcknowledgeGate([this](const QString& what, QString* name) {
        if (!authorize(AccessPolicy::Action::Acknowledge, what))
            return false;
        if (signIn.accessControlOn())
            *name = gate.currentActor().user;
        return true;
    });
    // Each acknowledgement is signed under access control; without it, it is made under the
    // name typed, unsigned.
    desk->setAcknowledgeSigner(
        [this](const QString& what, const AlarmScreen::Acknowledge& acknowledge) {
            gate.sign(AccessPolicy::Action::Acknowledge, QStringLiteral("acknowledged"), what,
                      [this, acknowledge](const AccessGate::SignatureAnswer& answer) {
                          if (answer.outcome == AccessGate::SignatureAnswer::Cancelled)
                              return;
                          const std::optional<AlarmEventRecord> record =
                              acknowledge(answer.grant ? answer.grant->signer : QString());
                          if (!record || !answer.grant || !services.audit())
                              return;
                          const ElectronicSignature signature = services.audit()->recordSignature(
                              SignedRecord::alarmEvent(*record), QStringLiteral("acknowledged"),
                              *answer.grant);
                          if (desk->projectAlarms())
                              desk->projectAlarms()->monitor()->setSignature(
                                  record->id, signature.manifestation());
                      });
        });
    desk->setShelving(
        [this](const QString& serial, int channel, int seconds, const QString& reason) {
            shelve(serial, channel, seconds, reason);
        },
        [this](const AlarmSuppression& suppression) { endSuppression(suppression); });
    // A silence asks no sign-in; the trail names the one signed in, if any.
    desk->setSilenceUser([this] {
        const QString user = gate.deskActor().user;
        return signIn.accessControlOn() && user != AccessGate::notSignedIn()
                   ? user
                   : ProjectAudit::desktopUser();
    });
    forwarding = new ForwardingStatus(this, ui->horizontalLayout_status,
                                      ui->horizontalLayout_status->indexOf(ui->label_write_state));
    keyNotice = new ProjectKeyNotice(this, ui->horizontalLayout_status,
                                     ui->horizontalLayout_status->indexOf(ui->label_write_state));
    keyNotice->label()->setFont(ui->label_index_state->font());
    signInState = new SignInStatus(&signIn, this);
    signInState->label()->setFont(ui->label_index_state->font());
    signInState->button()->setFont(ui->label_index_state->font());
    ui->horizontalLayout_status->insertWidget(
        ui->horizontalLayout_status->indexOf(ui->label_write_state), signInState);
    connect(desk, &AlarmDesk::keyProblemsChanged, keyNotice, [this](const QStringList& problems) {
        keyNotice->setProblems(ProjectKeyNotice::Source::Notifications, problems);
    });
    connect(forwarding, &ForwardingStatus::keyProblemsChanged, keyNotice,
            [this](const QStringList& problems) {
                keyNotice->setProblems(ProjectKeyNotice::Source::Forwarding, problems);
            });

    editedButton = new QPushButton(QStringLiteral("Edited settings wait"), this);
    editedButton->setToolTip(EditedSettingsDialog::title());
    editedButton->setFont(ui->label_index_state->font());
    editedButton->hide();
    ui->horizontalLayout_status->insertWidget(
        ui->horizontalLayout_status->indexOf(ui->label_write_state), editedButton);
    connect(editedButton, &QPushButton::clicked, this, &QuillmarMain::slotEditedSettings);

    const QString newest = recent.newestPath();
    if (!newest.isEmpty() && recent.autoLoad()) {
        m_autoLoading = true;
        projectLoaded(newest);
        m_autoLoading = false;
    }
}

QuillmarMain::~QuillmarMain()
{
    recent.saveFlags();
    desk->close();
    // Widgets first: nodes must not point at panels that are gone.
    session.detachNodes();
    delete projectMain;
    delete projectManager;
    delete center;
    services.stopForwarding();
    session.closeCycle();
    session.deleteGateways();
}

QLabel* QuillmarMain::keyProblemLabel() const
{
    return keyNotice->label();
}

void QuillmarMain::critical(const QString& title, const QString& text)
{
    messageBoxFunction(QMessageBox::Critical, title, text, QMessageBox::Ok);
}

bool QuillmarMain::authorize(AccessPolicy::Action action, const QString& what)
{
    return gate.authorize(action, what, nullptr);
}

void QuillmarMain::showHeldEdit()
{
    const ProjectAudit* audit = services.audit();
    editedButton->setVisible(projectOpen && audit && audit->heldEdit());
}

void QuillmarMain::slotEditedSettings()
{
    const ProjectAudit* audit = services.audit();
    if (!audit || !audit->heldEdit())
        return;
    const ProjectAudit::HeldEdit held = *audit->heldEdit();
    const QString path = session.filePath();
    EditedSettingsDialog dialog(held.lines, QFileInfo(held.asidePath).fileName(), held.problem,
                                this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const bool accept = dialog.decision() == EditedSettingsDialog::Decision::Accept;
    // Taking up a file set aside opens the project again, which a recording must not span.
    if (accept && !held.asidePath.isEmpty() && isRecording()) {
        showMessage(this, QStringLiteral("WARNING"), QStringLiteral("Stop recording first."));
        return;
    }
    const QString what = accept ? QStringLiteral("Accept the settings edited outside the recorder")
                                : QStringLiteral("Reject the settings edited outside the recorder");
    ProjectAudit::Actor actor;
    if (!gate.authorize(AccessPolicy::Action::ChangeAlarmRules, what, &actor))
        return;
    // The project may have closed or changed meanwhile.
    auto decide = [this, path, accept, actor, held](
                      const std::optional<SignatureGrant>& grant) {
        ProjectAudit* now = services.audit();
        if (!now || !now->heldEdit() || session.filePath() != path ||
            now->heldEdit()->edited != held.edited)
            return;
        QString error;
        if (!(accept ? now->acceptHeld(actor, &error) : now->rejectHeld(actor, &error))) {
            critical(QStringLiteral("ERROR"), error);
            return;
        }
        if (!grant)
            return;
        // The acceptance as signed: the file and each difference taken up.
        SignedRecord record;
        record.kind = QStringLiteral("edited settings");
        record.id = QFileInfo(held.asidePath.isEmpty() ? path : held.asidePath).fileName();
        record.add(QStringLiteral("differences"), held.lines.join(QLatin1Char('\n')));
        now->recordSignature(record, QStringLiteral("accepted"), *grant);
    };
    if (!accept) {
        decide(std::nullopt);
        return;
    }
    // Accepting is signed under access control.
    gate.sign(AccessPolicy::Action::ChangeAlarmRules, QStringLiteral("accepted"),
              what + QStringLiteral(":\n") + held.lines.join(QLatin1Char('\n')),
              [decide](const AccessGate::SignatureAnswer& answer) {
                  if (answer.outcome != AccessGate::SignatureAnswer::Cancelled)
                      decide(answer.grant);
              });
}

void QuillmarMain::reopenAccepted(const QString& path)
{
    // The accepted settings take effect when the project opens again; a recording started
    // since goes on with those it began with until then.
    if (!projectOpen || session.filePath() != path || isRecording())
        return;
    slotCloseProject();
    projectLoaded(path);
}

// --- menus and view ---------------------------------------------------------------------------

void QuillmarMain::createMenus()
{
    menus = std::make_unique<RecorderMenus>(this);
    const std::pair<QAction*, void (QuillmarMain::*)()> commands[] = {
        {menus->actionAddDelete, &QuillmarMain::slotAddDeviceProject},
        {menus->actionClose, &QuillmarMain::slotCloseProject},
        {menus->actionRefresh, &QuillmarMain::slotRefreshDevice},
        {menus->actionDataViewer, &QuillmarMain::slotTrendscopeRecord},
        {menus->actionDaily, &QuillmarMain::slotReportDaily}};
    for (const auto& command : commands)
        connect(command.first, &QAction::triggered, this, command.second);
    connect(menus->actionAlarms, &QAction::triggered, this, &QuillmarMain::slotShowAlarms);
    connect(menus->actionAuditTrail, &QAction::triggered, this, &QuillmarMain::slotShowAuditTrail);
    connect(menus->actionTestAlarms, &QAction::triggered, this, &QuillmarMain::slotTestAlarms);
    connect(menus->actionUsers, &QAction::triggered, this, &QuillmarMain::slotUsers);
    connect(menus->actionForwarding, &QAction::triggered, this, &QuillmarMain::slotForwarding);
    connect(menus->actionBackups, &QAction::triggered, this, &QuillmarMain::slotBackups);
    connect(menus->actionNotifications, &QAction::triggered, this, [this] {
        if (desk->projectAlarms() && authorize(AccessPolicy::Action::ChangeNotifications,
                                               QStringLiteral("Change the notifications")))
            desk->showNotificationDialog();
    });
    connect(menus->actionReportSchedule, &QAction::triggered, this, [this] {
        if (desk->projectAlarms() && authorize(AccessPolicy::Action::ChangeNotifications,
                                               QStringLiteral("Change the report schedule")))
            desk->showReportScheduleDialog();
    });
    connect(menus->actionExit, &QAction::triggered, this, &QWidget::close);
    connect(menus->actionAutoLoad, &QAction::triggered, this, &QuillmarMain::slotAutoProject);
    connect(menus->actionAutoRecord, &QAction::triggered, this, &QuillmarMain::slotAutoRecord);
    connect(menus->actionFullScreen, &QAction::triggered, this, &QuillmarMain::slotViewFull);
    connect(menus->actionExpansion, &QAction::triggered, this, &QuillmarMain::slotShowHideItem);
    // The other reports: the same program, told the kind after the project path.
    for (QAction* report : {menus->actionWeekly, menus->actionMonthly, menus->actionHaccp})
        connect(report, &QAction::triggered, this, [this, report] {
            startProgram(QStringLiteral("Tallyforge"), report->data().toStringList());
        });
}

void QuillmarMain::slotAutoProject(bool on)
{
    recent.setAutoLoad(on);
}

void QuillmarMain::slotAutoRecord(bool on)
{
    // Recording at start is started by the recorder, on this user's word.
    if (!authorize(AccessPolicy::Action::StartStopRecording,
                   on ? QStringLiteral("Start recording when the recorder starts")
                      : QStringLiteral("No longer start recording when the recorder starts"))) {
        menus->actionAutoRecord->setChecked(recent.autoRecord());
        return;
    }
    if (services.audit() && on != recent.autoRecord())
        services.audit()->deskSettingChanged(
            QStringLiteral("this computer, start recording at start"),
            recent.autoRecord() ? QStringLiteral("on") : QStringLiteral("off"),
            on ? QStringLiteral("on") : QStringLiteral("off"));
    recent.setAutoRecord(on);
}

void QuillmarMain::slotCommandProject()
{
    RecorderMenus::popup(menus->menuProject, ui->command_project, this);
}

void QuillmarMain::slotCommandRecord()
{
    RecorderMenus::popup(menus->menuRecord, ui->command_record, this);
}

void QuillmarMain::slotCommandScreen()
{
    RecorderMenus::popup(menus->menuScreen, ui->command_screen, this);
}

void QuillmarMain::slotCommandHelp()
{
    (new AboutBox(QLatin1String(Version), this))->show();
}

void QuillmarMain::topDblClick()
{
    const bool full = !isFullScreen();
    slotViewFull(full);
    menus->actionFullScreen->setChecked(full);
}

void QuillmarMain::slotViewFull(bool full)
{
    if (full)
        showFullScreen();
    else
        showNormal();
}

void QuillmarMain::slotShowHideItem(bool hide)
{
    if (center && center->dashBoard())
        center->dashBoard()->setEmptyCellsVisible(!hide);
}

// --- screens ----------------------------------------------------------------------------------

void QuillmarMain::placeScreen(QWidget* screen)
{
    ui->centralFrame->layout()->addWidget(screen);
    screen->show();
}

// A screen may be the sender of the signal being handled: then it goes once control is back in
// the event loop.
void QuillmarMain::dropScreen(QWidget* screen, bool later)
{
    if (!screen)
        return;
    ui->centralFrame->layout()->removeWidget(screen);
    screen->close();
    if (later)
        screen->deleteLater();
    else
        delete screen;
}

void QuillmarMain::showStartScreen()
{
    delete projectMain;
    projectMain = new ProjectMain(recent.names(), recent.paths());
    connect(projectMain, &ProjectMain::projectCreated, this, &QuillmarMain::projectCreated);
    connect(projectMain, &ProjectMain::projectLoaded, this, &QuillmarMain::projectLoaded);
    placeScreen(projectMain);
}

void QuillmarMain::newEditor()
{
    delete projectManager;
    projectManager = new ProjectManager;
    connect(projectManager, &ProjectManager::projectListConfirm, this,
            &QuillmarMain::projectListConfirm);
}

// --- project flows ----------------------------------------------------------------------------

void QuillmarMain::projectCreated(const QString& path)
{
    gate.release();
    closeRecordingCycle();
    dropScreen(std::exchange(projectMain, nullptr), true);
    session.create(path);
    keyNotice->clear();
    status->setProject(session.filePath(), session.name(), 0);

    newEditor();
    placeScreen(projectManager);
    projectOpen = false;
    menus->showEditor();
}

void QuillmarMain::projectListConfirm(const QList<ConfiguredDevice*>& list)
{
    session.confirm(list, projectManager ? projectManager->interval() : session.interval());
    dropScreen(std::exchange(projectManager, nullptr), true);
    m_afterEditing = true;
    openProjectRuntime();
}

void QuillmarMain::projectLoaded(const QString& path)
{
    // Under access control, settings edited by hand are set aside before the project is read.
    m_outside = EditedSettings::prepare(path);
    if (!session.load(path)) {
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("There is no device information!"));
        return;
    }
    closeRecordingCycle();
    dropScreen(std::exchange(projectMain, nullptr), true);
    keyNotice->clear();
    keyNotice->setProblems(ProjectKeyNotice::Source::Project, session.keyProblems());
    openProjectRuntime();
}

// The project, confirmed in the editor or loaded, is listed as recent and runs.
void QuillmarMain::openProjectRuntime()
{
    recent.registerProject(session.filePath());
    status->setProject(session.filePath(), session.name(), session.interval());
    projectOpen = true;
    menus->setProjectActionsEnabled(true);

    center = new ProjectCenter(session.filePath());
    connect(center, &ProjectCenter::clickRecord, this, &QuillmarMain::slotToggleRecord);
    connect(center, &ProjectCenter::updateProjectFile, this, &QuillmarMain::slotUpdateProjectFile);
    center->setChangeGate([this](const QString& what) {
        return authorize(AccessPolicy::Action::ChangeLimits, what);
    });
    CalibrationAccess calibrations;
    calibrations.current = [this](const QString& serial, int channel) {
        CalibrationRegister* reg = services.calibrations();
        return reg ? reg->current(serial, channel) : std::nullopt;
    };
    calibrations.enter = [this](const CalibrationRecord& row, const CalibrationAccess::Done& done) {
        enterCalibration(row, done);
    };
    center->setCalibrationAccess(calibrations);

    if (!session.openCycle(connectionName)) {
        databaseFailed();
        return;
    }
    RecordingCycle* cycle = session.cycle();
    signIn.open(ProjectFile::databasePath(session.filePath()));
    // First of the services: what the others change from now on is recorded.
    services.openAudit(session.filePath(), cycle->sampleWriter(),
                       std::exchange(m_afterEditing, false),
                       std::exchange(m_outside, EditedSettings::Outcome()));
    if (ProjectAudit* audit = services.audit()) {
        connect(audit, &ProjectAudit::heldEditChanged, this, &QuillmarMain::showHeldEdit);
        // Queued: the project closes and opens again, with the audit that tells.
        connect(audit, &ProjectAudit::editsAccepted, this, &QuillmarMain::reopenAccepted,
                Qt::QueuedConnection);
    }
    showHeldEdit();
    services.startForwarding(session.filePath(), cycle->sampleWriter(), session.gateways());
    services.openBackups(session.filePath(), session.name());
    connect(cycle, &RecordingCycle::recordingChanged, this, &QuillmarMain::showRecording);
    connect(cycle, &RecordingCycle::recordTimesChanged, center, &ProjectCenter::setRecordTimes);
    connect(cycle, &RecordingCycle::databaseSizeChanged, center, &ProjectCenter::setDatabaseSize);
    status->attach(cycle);
    forwarding->attach(services.forwarding());

    center->setRecordTimes(cycle->recordStartTime(), cycle->recordEndTime());
    center->setDeviceList(session.gateways());
    placeScreen(center);
    desk->open(session.filePath(), session.name(), session.gateways(), cycle->sampleWriter());
    connect(center->dashBoard(), &DashBoard::outOfServiceRequested, this,
            &QuillmarMain::askOutOfService);
    connect(center->dashBoard(), &DashBoard::backInServiceRequested, this,
            &QuillmarMain::backInService);
    showOutOfService();

    if (projectOpen)
        cycle->startPolling();
    if (recent.autoRecord() && !isRecording())
        startRecording(ProjectAudit::Cause::AtStart);
}

void QuillmarMain::databaseFailed()
{
    critical(QStringLiteral("ERROR"), QStringLiteral("Create database error!\nExit program."));
    if (m_autoLoading) {
        // At start-up the user must reach the start screen, and the setting that reopens this
        // project, instead of a program that ends on every start.
        slotCloseProject();
        return;
    }
    m_fatalError = true;
    close();
    QCoreApplication::exit(0);
}

// The cycle goes with its writer; samples a failing file still holds are settled first. An
// index build still running is interrupted: it would keep the samples from the file and the
// window from closing for as long as it lasts.
void QuillmarMain::closeRecordingCycle()
{
    if (!session.cycle())
        return;
    session.cycle()->stopIndexing();
    PendingSamplesPrompt::settle(session, messageBoxFunction, [this] { return m_ending; });
    services.closeBackups();
    services.stopForwarding();
    services.closeAudit();
    // The next project's heartbeat waits for its own recording.
    services.setRecording(false);
    m_startPending = false;
    session.closeCycle();
    status->detach();
    forwarding->detach();
}

void QuillmarMain::slotAddDeviceProject()
{
    // The project may close while the sign-in or the reason is asked for.
    if (!projectOpen ||
        !authorize(AccessPolicy::Action::ChangeGateways,
                   QStringLiteral("Add or delete gateways and nodes")) ||
        !projectOpen)
        return;
    desk->close();
    session.detachNodes();
    closeRecordingCycle();
    projectOpen = false;
    menus->showEditor();
    dropScreen(std::exchange(center, nullptr), false);
    menus->actionExpansion->setChecked(false);

    newEditor();
    // The interval of an existing project cannot be changed here.
    projectManager->setInterval(session.interval());
    projectManager->setIntervalDisabled(true);
    projectManager->loadDeviceList(session.gateways());
    placeScreen(projectManager);
    session.closeGateways();
}

void QuillmarMain::closeProjectRuntime()
{
    desk->close();
    delete auditDialog;
    delete m_usersDialog;
    signIn.close();
    projectOpen = false;
    menus->setProjectActionsEnabled(false);
    status->clearProject();
    keyNotice->clear();
    editedButton->hide();
    if (isRecording()) {
        stopRecording(ProjectAudit::Cause::User);
        // Stopping re-enables the editing actions; without a project they stay off.
        menus->setProjectActionsEnabled(false);
    }
    closeRecordingCycle();
    desk->close();
    session.detachNodes();
    session.deleteGateways();
    gate.release();
}

void QuillmarMain::slotCloseProject()
{
    closeProjectRuntime();
    dropScreen(std::exchange(center, nullptr), false);
    dropScreen(std::exchange(projectManager, nullptr), false);
    menus->actionExpansion->setChecked(false);
    session.forgetFile();
    showStartScreen();
}

void QuillmarMain::closeEvent(QCloseEvent* event)
{
    if (isRecording()) {
        event->ignore();
        showMessage(this, QStringLiteral("WARNING"), QStringLiteral("Stop recording first."));
        return;
    }
    closeProjectRuntime();
    // Its panels knew the gateways that are gone now.
    dropScreen(std::exchange(center, nullptr), false);
    stdTimer->stop();
    event->accept();
}

void QuillmarMain::endProgram(ProjectAudit::Cause cause)
{
    if (m_ending)
        return;
    m_ending = true;
    qDebug() << "QuillmarMain::endProgram";
    RecordingCycle* cycle = session.cycle();
    if (!cycle) {
        quitProgram();
        return;
    }
    // The alarms' last writes go with the writer's last flush.
    desk->close();
    if (cycle->isRecording() && services.audit())
        services.audit()->recordingStopped(cause);
    // The writer keeps trying from its own thread while the window stays responsive; queued,
    // so that the cycle is not closed from inside its own signal.
    connect(cycle, &RecordingCycle::shutdownFinished, this, &QuillmarMain::quitProgram,
            Qt::QueuedConnection);
    cycle->shutdown();
}

void QuillmarMain::quitProgram()
{
    close();
    QCoreApplication::quit();
}

// --- recording cycle --------------------------------------------------------------------------

void QuillmarMain::slotStdTimer()
{
    status->showTime();
    if (!center)
        return;
    if (session.cycle())
        session.cycle()->clockTick();
    if (services.audit())
        services.audit()->checkClock();
    desk->tick();
    showOutOfService();
}

void QuillmarMain::showOutOfService()
{
    if (!center || !center->dashBoard())
        return;
    QSet<QString> out;
    if (ProjectAlarms* alarms = services.alarms()) {
        for (const MonitoredNode& node : alarms->nodes()) {
            if (alarms->monitor()->isOutOfService(node.serial))
                out.insert(node.serial);
        }
    }
    center->dashBoard()->setOutOfService(out);
}

void QuillmarMain::shelve(const QString& serial, int channel, int seconds, const QString& reason)
{
    SuppressionCommands(&gate, services.audit(), services.shelves())
        .shelve(serial, channel, seconds, reason,
                [self = QPointer<QuillmarMain>(this)](SuppressionCommands::Outcome outcome,
                                                      const QString& problem,
                                                      const std::optional<AlarmSuppression>&) {
                    if (self && outcome == SuppressionCommands::Outcome::Refused)
                        self->critical(QStringLiteral("Shelve alarms"), problem);
                });
}

void QuillmarMain::enterCalibration(const CalibrationRecord& row,
                                    const CalibrationAccess::Done& done)
{
    CalibrationCommands(&gate, services.audit(), services.calibrations())
        .enter(row, [done](CalibrationCommands::Outcome outcome, const QString& problem,
                           const std::optional<CalibrationRecord>&) {
            done(outcome == CalibrationCommands::Outcome::Done, problem);
        });
}

void QuillmarMain::endSuppression(const AlarmSuppression& suppression)
{
    SuppressionCommands(&gate, services.audit(), services.shelves())
        .end(suppression, [this](SuppressionCommands::Outcome outcome, const QString& problem,
                                 const std::optional<AlarmSuppression>&) {
            if (outcome == SuppressionCommands::Outcome::Refused)
                critical(QStringLiteral("Shelve alarms"), problem);
            showOutOfService();
        });
}

void QuillmarMain::askOutOfService(NodeDevice* node)
{
    ProjectAlarms* alarms = services.alarms();
    if (!node || !alarms)
        return;
    const QString serial = node->deviceNumber();
    const MonitoredNode known = alarms->monitor()->node(serial);
    auto* dialog = new SuppressionDialog(
        SuppressionDialog::Mode::OutOfService,
        QStringLiteral("Put ") + (known.nodeName.isEmpty() ? serial : known.nodeName) +
            QStringLiteral(" out of service: it raises no alarm (range, no data, battery) until "
                           "the time given; its samples are still recorded."),
        alarms->monitor()->now(), this);
    connect(dialog, &SuppressionDialog::confirmed, this,
            [this, serial](int, const QDateTime& until, const QString& reason) {
                SuppressionCommands(&gate, services.audit(), services.shelves())
                    .putOutOfService(
                        serial, until, reason,
                        [self = QPointer<QuillmarMain>(this)](
                            SuppressionCommands::Outcome outcome, const QString& problem,
                            const std::optional<AlarmSuppression>&) {
                            if (!self)
                                return;
                            if (outcome == SuppressionCommands::Outcome::Refused)
                                self->critical(QStringLiteral("Out of service"), problem);
                            self->showOutOfService();
                        });
            });
    dialog->show();
}

void QuillmarMain::backInService(NodeDevice* node)
{
    ProjectAlarms* alarms = services.alarms();
    if (!node || !alarms)
        return;
    for (const AlarmSuppression& s : alarms->monitor()->suppressions()) {
        if (s.kind == AlarmSuppression::Kind::OutOfService && s.serial == node->deviceNumber())
            endSuppression(s);
    }
}

void QuillmarMain::slotShowAlarms()
{
    desk->showScreen();
}

AuditTrailDialog* QuillmarMain::auditTrailDialog() const
{
    return auditDialog;
}

void QuillmarMain::slotShowAuditTrail()
{
    if (!projectOpen)
        return;
    if (!auditDialog) {
        auditDialog = new AuditTrailDialog(ProjectFile::databasePath(session.filePath()), this);
        auditDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    auditDialog->show();
    auditDialog->raise();
    auditDialog->activateWindow();
}

void QuillmarMain::slotTestAlarms()
{
    AlarmTestLog* log = services.alarmTests();
    if (!projectOpen || !log)
        return;
    if (!alarmTestDialog) {
        alarmTestDialog = new AlarmTestDialog(this);
        alarmTestDialog->setAttribute(Qt::WA_DeleteOnClose);
        // It goes with the project's log.
        connect(log, &QObject::destroyed, alarmTestDialog.data(), &QWidget::close);
        connect(log, &AlarmTestLog::testAdded, alarmTestDialog.data(),
                [dialog = alarmTestDialog.data(), log] { dialog->setRecent(log->recent()); });
        connect(alarmTestDialog.data(), &AlarmTestDialog::runRequested, this,
                [this, dialog = alarmTestDialog.data()](const QString& serial) {
                    AlarmTestCommands(&gate, &services)
                        .run(serial, dialog, [dialog](AlarmTestRun* run) {
                            if (!run) {
                                dialog->testRefused();
                                return;
                            }
                            connect(run, &AlarmTestRun::answered, dialog,
                                    &AlarmTestDialog::addAnswer);
                            connect(run, &AlarmTestRun::finished, dialog, [dialog, run] {
                                dialog->testFinished();
                                run->deleteLater();
                            });
                            dialog->testStarted(run->targetCount());
                        });
                });
    }
    QVector<AlarmTestDialog::Node> nodes;
    for (const NodeConfig& node : services.nodes())
        nodes.append({node.deviceNumber, node.deviceName});
    alarmTestDialog->setNodes(nodes);
    alarmTestDialog->setRecent(log->recent());
    alarmTestDialog->show();
    alarmTestDialog->raise();
    alarmTestDialog->activateWindow();
}

UsersDialog* QuillmarMain::usersDialog() const
{
    return m_usersDialog;
}

// Under access control only an Administrator sees the users: the dialog asks for the sign-in.
void QuillmarMain::slotUsers()
{
    // Under access control only an Administrator opens it; anyone else's try is recorded.
    if (!projectOpen ||
        !gate.admit(AccessPolicy::Action::ManageUsers, QStringLiteral("Manage the users")))
        return;
    if (!m_usersDialog) {
        auto* dialog = new UsersDialog(&signIn, ProjectAudit::desktopUser(),
                                       UsersDialog::Questions(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        if (!dialog->admit()) {
            delete dialog;
            return;
        }
        m_usersDialog = dialog;
    }
    m_usersDialog->show();
    m_usersDialog->raise();
    m_usersDialog->activateWindow();
}

void QuillmarMain::slotForwarding()
{
    if (projectOpen &&
        authorize(AccessPolicy::Action::ChangeForwarding, QStringLiteral("Change the forwarding")))
        forwarding->showDialog(session.filePath());
}

void QuillmarMain::slotBackups()
{
    if (!projectOpen || !session.cycle() ||
        !authorize(AccessPolicy::Action::ChangeBackups, QStringLiteral("Change the backups")))
        return;
    auto* dialog = new BackupDialog(BackupSettings::load(session.filePath()), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QDialog::accepted, this, [this, dialog] {
        if (!session.cycle())
            return;
        dialog->settings().save(session.filePath());
        // Recorded as the other settings are; the running backups take them at once.
        if (ProjectAudit* audit = services.audit())
            audit->settingsSaved();
        services.reloadBackups();
    });
    dialog->open();
}

void QuillmarMain::slotRefreshDevice()
{
    if (projectOpen && session.cycle())
        session.cycle()->refresh();
}

bool QuillmarMain::isRecording() const
{
    return session.cycle() && session.cycle()->isRecording();
}

void QuillmarMain::slotToggleRecord()
{
    if (isRecording())
        slotStopRecord();
    else
        slotStartRecord();
}

void QuillmarMain::slotStartRecord()
{
    qDebug() << "QuillmarMain::slotStartRecord";
    if (!session.cycle() || isRecording() ||
        !authorize(AccessPolicy::Action::StartStopRecording, QStringLiteral("Start recording")))
        return;
    startRecording(ProjectAudit::Cause::User);
}

void QuillmarMain::slotStopRecord()
{
    qDebug() << "QuillmarMain::slotStopRecord";
    if (!isRecording() ||
        !authorize(AccessPolicy::Action::StartStopRecording, QStringLiteral("Stop recording")))
        return;
    stopRecording(ProjectAudit::Cause::User);
}

// The recording starts once its entry is durable (committed, or in the writer's journal).
void QuillmarMain::startRecording(ProjectAudit::Cause cause)
{
    RecordingCycle* cycle = session.cycle();
    if (!cycle || cycle->isRecording() || m_startPending)
        return;
    ProjectAudit* audit = services.audit();
    if (!audit) {
        cycle->startRecording();
        return;
    }
    audit->recordingStarted(cause);
    m_startPending = true;
    audit->whenRecorded([this, cycle](bool recorded) {
        m_startPending = false;
        if (session.cycle() != cycle || cycle->isRecording())
            return;
        if (!recorded) {
            critical(QStringLiteral("ERROR"),
                     QStringLiteral("Recording was not started: its record could not be written "
                                    "to the project's database or kept beside it (is the disk "
                                    "full?)."));
            return;
        }
        cycle->startRecording();
    });
}

void QuillmarMain::stopRecording(ProjectAudit::Cause cause)
{
    if (!session.cycle())
        return;
    if (services.audit() && session.cycle()->isRecording())
        services.audit()->recordingStopped(cause);
    session.cycle()->stopRecording();
}

void QuillmarMain::showRecording(bool on)
{
    services.setRecording(on);
    menus->setRecording(on);
    status->setRecording(on);
    if (center) {
        center->setRecording(on);
        center->setRecordTimes(session.cycle()->recordStartTime(),
                               session.cycle()->recordEndTime());
    }
}

void QuillmarMain::slotUpdateProjectFile()
{
    session.saveDeviceList();
    // The running parts take the change once its record is durable.
    ProjectAudit* audit = services.audit();
    if (!audit) {
        services.updateLabels();
        desk->rulesChanged();
        return;
    }
    audit->settingsSaved();
    audit->whenRecorded([this](bool recorded) {
        if (!recorded) {
            critical(QStringLiteral("ERROR"),
                     QStringLiteral("The change is saved in the project file, but its record "
                                    "could not be written (is the disk full?): the recorder "
                                    "goes on with the settings before it."));
            return;
        }
        services.updateLabels();
        desk->rulesChanged();
    });
}

// --- other programs ---------------------------------------------------------------------------

void QuillmarMain::startProgram(const QString& programName, const QStringList& options)
{
    const ProjectSession::Launch launch = session.startProgram(programName, options);
    if (launch == ProjectSession::Launch::NoDataFile)
        showMessage(this, QStringLiteral("WARNING"), QStringLiteral("There is no data file."));
    else if (launch == ProjectSession::Launch::Failed)
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Please check the ") + programName +
                        QStringLiteral(" execution file."));
}

void QuillmarMain::slotTrendscopeRecord()
{
    startProgram(QStringLiteral("Trendscope"));
}

void QuillmarMain::slotReportDaily()
{
    startProgram(QStringLiteral("Tallyforge"));
}
