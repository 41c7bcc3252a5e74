#include "quillmarmain.h"
#include "ui_quillmarmain.h"

#include "configureddevice.h"
#include "dashboard.h"
#include "datainterval.h"
#include "messagedialog.h"
#include "nodedevice.h"
#include "programlauncher.h"
#include "projectcenter.h"
#include "projectfile.h"
#include "projectmain.h"
#include "projectmanager.h"
#include "recordingcycle.h"
#include "windowchrome.h"

#include <QAction>
#include <QAudioDeviceInfo>
#include <QAudioFormat>
#include <QAudioOutput>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QTimer>
#include <QUuid>

namespace {

const char* const Version = "V1.9";
const char* const DateTimeFormat = "yyyy-MM-dd HH:mm:ss";

QString settingsOrganisation()
{
    return QStringLiteral("QuillmarLite");
}

QString settingsApplication()
{
    return QStringLiteral("Quillmar Lite Modbus");
}

QAction* menuAction(QMenu* menu, const QString& text, const char* objectName,
                    bool checkable = false)
{
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(objectName));
    action->setCheckable(checkable);
    return action;
}

} // namespace

QuillmarMain::QuillmarMain(QWidget* parent) : QuillmarMain(MessageBoxFunction(), parent) {}

QuillmarMain::QuillmarMain(const MessageBoxFunction& messageBox, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::QuillmarMain>()), messageBoxFunction(messageBox)
{
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
    ui->label_datetime->setText(
        QDateTime::currentDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")));

    createMenus();
    readyPixmap = QPixmap(QStringLiteral(":/img/StateReady.png"));
    recordingPixmap = QPixmap(QStringLiteral(":/img/StateRecording.png"));

    projectOpen = false;
    setProjectActionsEnabled(false);

    loadSettings();
    actionAutoLoad->setChecked(autoLoad);
    actionAutoRecord->setChecked(autoRecord);
    pruneRecentProjects();
    showStartScreen();

    stdTimer = new QTimer(this);
    connect(stdTimer, &QTimer::timeout, this, &QuillmarMain::slotStdTimer);
    stdTimer->start(ClockInterval);

    setupAudio();
    ui->label_write_state->hide();
    ui->label_index_state->hide();

    if (!recentList.isEmpty() && !recentMap.isEmpty() && autoLoad) {
        m_autoLoading = true;
        projectLoaded(recentMap.value(recentList.constFirst()).toString());
        m_autoLoading = false;
    }
}

QuillmarMain::~QuillmarMain()
{
    saveFlags();
    m_audioFile.close();
    if (audio)
        audio->reset();
    // Widgets first: nodes must not point at panels that are gone.
    detachNodes();
    delete projectMain;
    delete projectManager;
    delete center;
    cycle.reset();
    for (ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (device)
            device->closeDevice();
    }
    qDeleteAll(gatewayList);
}

QMessageBox::StandardButton QuillmarMain::ask(QMessageBox::Icon icon, const QString& title,
                                              const QString& text,
                                              QMessageBox::StandardButtons buttons)
{
    if (messageBoxFunction)
        return messageBoxFunction(icon, title, text, buttons);
    QMessageBox box(icon, title, text, buttons, this);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void QuillmarMain::critical(const QString& title, const QString& text)
{
    ask(QMessageBox::Critical, title, text, QMessageBox::Ok);
}

void QuillmarMain::createMenus()
{
    menuProject = new QMenu(this);
    menuProject->setObjectName(QStringLiteral("menuProject"));
    actionAddDelete = menuAction(menuProject, QStringLiteral("Add/Delete"), "actionAddDelete");
    actionClose = menuAction(menuProject, QStringLiteral("Close"), "actionClose");
    menuProject->addSeparator();
    actionAutoLoad =
        menuAction(menuProject, QStringLiteral("Auto Load Recent Project"), "actionAutoLoad", true);
    actionAutoRecord =
        menuAction(menuProject, QStringLiteral("Auto Start Record"), "actionAutoRecord", true);
    menuProject->addSeparator();
    actionRefresh = menuAction(menuProject, QStringLiteral("Refresh Devices"), "actionRefresh");
    menuProject->addSeparator();
    actionExit = menuAction(menuProject, QStringLiteral("Exit"), "actionExit");
    connect(actionAddDelete, &QAction::triggered, this, &QuillmarMain::slotAddDeviceProject);
    connect(actionClose, &QAction::triggered, this, &QuillmarMain::slotCloseProject);
    connect(actionAutoLoad, &QAction::triggered, this, &QuillmarMain::slotAutoProject);
    connect(actionAutoRecord, &QAction::triggered, this, &QuillmarMain::slotAutoRecord);
    connect(actionRefresh, &QAction::triggered, this, &QuillmarMain::slotRefreshDevice);
    connect(actionExit, &QAction::triggered, this, &QWidget::close);

    menuRecord = new QMenu(this);
    menuRecord->setObjectName(QStringLiteral("menuRecord"));
    actionDataViewer = menuAction(menuRecord, QStringLiteral("Data Viewer"), "actionDataViewer");
    menuRecord->addSeparator();
    menuReport = menuRecord->addMenu(QStringLiteral("Report"));
    menuReport->setObjectName(QStringLiteral("menuReport"));
    actionDaily = menuAction(menuReport, QStringLiteral("Daily Report"), "actionDaily");
    actionWeekly = menuAction(menuReport, QStringLiteral("Weekly Report"), "actionWeekly");
    actionMonthly = menuAction(menuReport, QStringLiteral("Monthly Report"), "actionMonthly");
    actionHaccp = menuAction(menuReport, QStringLiteral("HACCP Report"), "actionHaccp");
    connect(actionDataViewer, &QAction::triggered, this, &QuillmarMain::slotTrendscopeRecord);
    connect(actionDaily, &QAction::triggered, this, &QuillmarMain::slotReportDaily);
    // The other reports: the same program, told the kind after the project path.
    const std::pair<QAction*, const char*> reports[] = {
        {actionWeekly, "weekly"}, {actionMonthly, "monthly"}, {actionHaccp, "haccp"}};
    for (const auto& report : reports) {
        const QStringList options{QStringLiteral("--report"), QLatin1String(report.second)};
        connect(report.first, &QAction::triggered, this,
                [this, options] { startProgram(QStringLiteral("Tallyforge"), options); });
    }

    menuScreen = new QMenu(this);
    menuScreen->setObjectName(QStringLiteral("menuScreen"));
    actionFullScreen =
        menuAction(menuScreen, QStringLiteral("FullScreen"), "actionFullScreen", true);
    menuScreen->addSeparator();
    actionExpansion =
        menuAction(menuScreen, QStringLiteral("Expansion Mode"), "actionExpansion", true);
    connect(actionFullScreen, &QAction::triggered, this, &QuillmarMain::slotViewFull);
    connect(actionExpansion, &QAction::triggered, this, &QuillmarMain::slotShowHideItem);

    for (QMenu* menu : {menuProject, menuRecord, menuReport, menuScreen})
        WindowChrome::styleMenu(menu, font());
}

void QuillmarMain::setupAudio()
{
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleSize(16);
    format.setCodec(QStringLiteral("audio/pcm"));
    format.setByteOrder(QAudioFormat::LittleEndian);
    format.setSampleType(QAudioFormat::SignedInt);

    const QAudioDeviceInfo device = QAudioDeviceInfo::defaultOutputDevice();
    // Without any output device every start would fail at once and log a warning a second.
    audioDevicePresent = !device.isNull();
    if (!device.isFormatSupported(format)) {
        qWarning() << "Raw audio format not supported by backend, cannot play audio.";
        critical(QStringLiteral("Audio"),
                 QStringLiteral("Raw audio format not supported by backend, cannot play audio!"));
    }
    audio = new QAudioOutput(device, format, this);
    audio->setBufferSize(AudioBufferSize);
    connect(audio, &QAudioOutput::stateChanged, this, &QuillmarMain::handleStateChanged);

    m_audioFile.setFileName(QStringLiteral("://critical.wav"));
    if (!m_audioFile.open(QIODevice::ReadOnly)) {
        qWarning() << "Could not find file \"critical.wav\"!";
        critical(QStringLiteral("critical.wav"),
                 QStringLiteral("Could not find file \"critical.wav\"!"));
    }
    qDebug().noquote() << "m_audioFile size : " << m_audioFile.size();
}

void QuillmarMain::handleStateChanged(QAudio::State state)
{
    qDebug().noquote() << "QuillmarMain::handleStateChanged : QAudio new State : " << state;
}

void QuillmarMain::stopSound()
{
    if (audio && audio->state() != QAudio::StoppedState)
        audio->stop();
}

// --- settings and recent projects -------------------------------------------------------------

void QuillmarMain::loadSettings()
{
    QSettings settings(settingsOrganisation(), settingsApplication());
    settings.beginGroup(QStringLiteral("RecentProjects"));
    recentList = settings.value(QStringLiteral("list")).toStringList();
    recentMap = settings.value(QStringLiteral("projects")).toMap();
    autoLoad = settings.value(QStringLiteral("autoLoad"), false).toBool();
    autoRecord = settings.value(QStringLiteral("autoRecord"), false).toBool();
}

void QuillmarMain::saveFlags()
{
    QSettings settings(settingsOrganisation(), settingsApplication());
    settings.beginGroup(QStringLiteral("RecentProjects"));
    settings.setValue(QStringLiteral("autoLoad"), autoLoad);
    settings.setValue(QStringLiteral("autoRecord"), autoRecord);
}

void QuillmarMain::saveSettings()
{
    QSettings settings(settingsOrganisation(), settingsApplication());
    settings.beginGroup(QStringLiteral("RecentProjects"));
    settings.setValue(QStringLiteral("list"), recentList);
    settings.setValue(QStringLiteral("projects"), recentMap);
    settings.setValue(QStringLiteral("autoLoad"), autoLoad);
    settings.setValue(QStringLiteral("autoRecord"), autoRecord);
}

void QuillmarMain::pruneRecentProjects()
{
    const QStringList names = recentMap.keys();
    for (const QString& name : names) {
        if (!QFileInfo::exists(recentMap.value(name).toString())) {
            recentMap.remove(name);
            recentList.removeOne(name);
        }
    }
}

void QuillmarMain::registerRecentProject()
{
    const QString name = QFileInfo(projectFilePath).baseName();
    if (recentMap.contains(name) || recentList.contains(name))
        return;
    recentMap.insert(name, projectFilePath);
    recentList.prepend(name);
    pruneRecentProjects();
    saveSettings();
}

void QuillmarMain::slotAutoProject(bool on)
{
    autoLoad = on;
    saveFlags();
}

void QuillmarMain::slotAutoRecord(bool on)
{
    autoRecord = on;
    saveFlags();
}

// --- menus and view ---------------------------------------------------------------------------

void QuillmarMain::popupMenu(QMenu* menu, QWidget* button)
{
    const QPoint windowTopLeft = mapToGlobal(QPoint(0, 0));
    menu->popup(windowTopLeft + button->mapTo(this, QPoint(0, 0)) + QPoint(5, button->height()));
}

void QuillmarMain::slotCommandProject()
{
    popupMenu(menuProject, ui->command_project);
}

void QuillmarMain::slotCommandRecord()
{
    popupMenu(menuRecord, ui->command_record);
}

void QuillmarMain::slotCommandScreen()
{
    popupMenu(menuScreen, ui->command_screen);
}

void QuillmarMain::slotCommandHelp()
{
    // Not modal: the recording cycle keeps running while the box is open.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("About"), QString(),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::RichText);
    box->setText(QStringLiteral("<b>Quillmar Lite Modbus</b> ") + QLatin1String(Version) +
                 QStringLiteral("<br>Recorder of wireless sensor data through Modbus TCP "
                                "gateways.<br><a href=\"https://quillmar.example/download\">"
                                "Download</a>"));
    box->setIconPixmap(QPixmap(QStringLiteral(":/img/QuorbinalSymbol.png")));
    box->setModal(false);
    box->show();
}

void QuillmarMain::topDblClick()
{
    if (isFullScreen()) {
        showNormal();
        actionFullScreen->setChecked(false);
    } else {
        showFullScreen();
        actionFullScreen->setChecked(true);
    }
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

void QuillmarMain::setProjectActionsEnabled(bool enabled)
{
    for (QAction* action :
         {actionAddDelete, actionClose, actionRefresh, actionDataViewer, actionExpansion})
        action->setEnabled(enabled);
    menuReport->setEnabled(enabled);
    menuReport->menuAction()->setEnabled(enabled);
}

void QuillmarMain::setStatusTexts()
{
    ui->label_projectname->setText(
        WindowChrome::projectLabel(QFileInfo(projectFilePath).path(), projectName));
    ui->label_interval->setText(QStringLiteral("Interval : ") + intervalName(interval));
}

// --- screens ----------------------------------------------------------------------------------

void QuillmarMain::placeScreen(QWidget* screen)
{
    ui->centralFrame->layout()->addWidget(screen);
    screen->show();
}

void QuillmarMain::showStartScreen()
{
    delete projectMain;
    projectMain = new ProjectMain(recentList, recentMap);
    connect(projectMain, &ProjectMain::projectCreated, this, &QuillmarMain::projectCreated);
    connect(projectMain, &ProjectMain::projectLoaded, this, &QuillmarMain::projectLoaded);
    placeScreen(projectMain);
}

// The screens below may be the sender of the signal being handled, so they go once control
// is back in the event loop.
void QuillmarMain::removeStartScreen()
{
    if (!projectMain)
        return;
    ui->centralFrame->layout()->removeWidget(projectMain);
    projectMain->close();
    projectMain->deleteLater();
    projectMain = nullptr;
}

void QuillmarMain::removeEditor()
{
    if (!projectManager)
        return;
    ui->centralFrame->layout()->removeWidget(projectManager);
    projectManager->close();
    projectManager->deleteLater();
    projectManager = nullptr;
}

void QuillmarMain::removeProjectCenter()
{
    if (!center)
        return;
    ui->centralFrame->layout()->removeWidget(center);
    center->close();
    delete center;
    center = nullptr;
}

// --- project flows ----------------------------------------------------------------------------

void QuillmarMain::projectCreated(const QString& path)
{
    closeRecordingCycle();
    removeStartScreen();
    projectFilePath = path;
    projectName = ProjectFile::projectNameFromPath(path);
    setStatusTexts();
    ui->label_interval->clear();
    interval = DefaultDataInterval;
    ProjectFile(path).create(interval);

    delete projectManager;
    projectManager = new ProjectManager;
    connect(projectManager, &ProjectManager::projectListConfirm, this,
            &QuillmarMain::projectListConfirm);
    placeScreen(projectManager);

    projectOpen = false;
    setProjectActionsEnabled(false);
    actionClose->setEnabled(true);
}

void QuillmarMain::projectListConfirm(const QList<ConfiguredDevice*>& list)
{
    // The replaced gateways are closed already (editing closes them) and shown nowhere.
    const QList<ConfiguredDevice*> previous = gatewayList;
    gatewayList = list;
    for (ConfiguredDevice* device : previous) {
        if (device && !gatewayList.contains(device)) {
            device->closeDevice();
            delete device;
        }
    }
    if (projectManager)
        interval = projectManager->interval();
    removeEditor();

    QList<GatewayConfig> configs;
    for (const ConfiguredDevice* device : qAsConst(gatewayList))
        configs << device->configuration();
    const ProjectFile file(projectFilePath);
    file.saveDeviceList(configs);
    file.saveInterval(interval);

    setStatusTexts();
    registerRecentProject();
    projectOpen = true;
    setProjectActionsEnabled(true);
    openProjectRuntime();
}

void QuillmarMain::projectLoaded(const QString& path)
{
    ProjectData project;
    if (!ProjectFile(path).load(&project)) {
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("There is no device information!"));
        return;
    }
    for (const GatewayConfig& config : qAsConst(project.gateways))
        gatewayList.append(ConfiguredDevice::fromConfig(config));

    closeRecordingCycle();
    removeStartScreen();
    projectFilePath = path;
    projectName = ProjectFile::projectNameFromPath(path);
    registerRecentProject();

    projectName = project.projectName;
    interval = project.dataInterval;
    setStatusTexts();

    projectOpen = true;
    setProjectActionsEnabled(true);
    openProjectRuntime();
}

bool QuillmarMain::openProjectRuntime()
{
    center = new ProjectCenter(projectFilePath);
    connect(center, &ProjectCenter::clickRecord, this, &QuillmarMain::slotToggleRecord);
    connect(center, &ProjectCenter::updateProjectFile, this, &QuillmarMain::slotUpdateProjectFile);

    cycle =
        std::make_unique<RecordingCycle>(projectFilePath, connectionName, gatewayList, interval);
    if (!cycle->open()) {
        cycle.reset();
        databaseFailed();
        return false;
    }
    connect(cycle.get(), &RecordingCycle::recordingChanged, this, &QuillmarMain::showRecording);
    connect(cycle.get(), &RecordingCycle::recordTimesChanged, center,
            &ProjectCenter::setRecordTimes);
    connect(cycle.get(), &RecordingCycle::databaseSizeChanged, center,
            &ProjectCenter::setDatabaseSize);
    connect(cycle.get(), &RecordingCycle::writeWarningChanged, this,
            &QuillmarMain::showWriteWarning);
    connect(cycle.get(), &RecordingCycle::indexingStateChanged, this,
            &QuillmarMain::showIndexingState);
    showIndexingState(cycle->indexingState());

    center->setRecordTimes(cycle->recordStartTime(), cycle->recordEndTime());
    center->setDeviceList(gatewayList);
    placeScreen(center);

    if (projectOpen)
        cycle->startPolling();
    if (autoRecord)
        slotToggleRecord();
    return true;
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
    if (!cycle)
        return;
    cycle->stopIndexing();
    settlePendingSamples();
    cycle.reset();
    showWriteWarning(QString());
    showIndexingState(QString());
}

// Samples that a failed write left waiting: one more attempt, then the user chooses between
// trying again and discarding them, and discarding is confirmed once more. Never silently.
void QuillmarMain::settlePendingSamples()
{
    // A question runs an event loop, in which a signal may end the program and take the cycle.
    while (cycle && !m_ending && cycle->pendingCount() > 0 && !cycle->flushAll()) {
        const QString count = QString::number(cycle->pendingCount());
        if (ask(QMessageBox::Warning, QStringLiteral("WARNING"),
                count + QStringLiteral(" samples could not be stored in the database.\n"
                                       "Retry writing them, or discard them?"),
                QMessageBox::Retry | QMessageBox::Discard) != QMessageBox::Discard)
            continue;
        const bool discard = ask(QMessageBox::Question, QStringLiteral("WARNING"),
                                 QStringLiteral("Discard ") + count +
                                     QStringLiteral(" samples? They will not be stored."),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
        if (discard && cycle && !m_ending) {
            cycle->discardPending();
            return;
        }
    }
}

void QuillmarMain::detachNodes()
{
    for (ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (!device)
            continue;
        for (NodeDevice* node : device->nodes()) {
            node->clearListItem();
            node->clearChartView();
            node->clearDashboardTiles();
        }
    }
}

void QuillmarMain::slotAddDeviceProject()
{
    stopSound();
    detachNodes();
    closeRecordingCycle();
    projectOpen = false;
    setProjectActionsEnabled(false);
    actionClose->setEnabled(true);
    removeProjectCenter();
    actionExpansion->setChecked(false);

    delete projectManager;
    projectManager = new ProjectManager;
    projectManager->setInterval(interval);
    projectManager->setIntervalDisabled(true);
    connect(projectManager, &ProjectManager::projectListConfirm, this,
            &QuillmarMain::projectListConfirm);
    projectManager->loadDeviceList(gatewayList);
    placeScreen(projectManager);

    for (ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (device)
            device->closeDevice();
    }
}

void QuillmarMain::closeProjectRuntime()
{
    stopSound();
    projectOpen = false;
    setProjectActionsEnabled(false);
    ui->label_projectname->clear();
    ui->label_interval->clear();
    if (isRecording()) {
        slotStopRecord();
        // Stopping re-enables the editing actions; without a project they stay off.
        setProjectActionsEnabled(false);
    }
    closeRecordingCycle();
    stopSound();
    detachNodes();
    for (ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (device)
            device->closeDevice();
    }
    qDeleteAll(gatewayList);
    gatewayList.clear();
    interval = DefaultDataInterval;
}

void QuillmarMain::slotCloseProject()
{
    closeProjectRuntime();
    removeProjectCenter();
    if (projectManager) {
        ui->centralFrame->layout()->removeWidget(projectManager);
        delete projectManager;
        projectManager = nullptr;
    }
    actionExpansion->setChecked(false);
    projectFilePath.clear();
    projectName.clear();
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
    removeProjectCenter();
    stdTimer->stop();
    event->accept();
}

void QuillmarMain::endProgram()
{
    if (m_ending)
        return;
    m_ending = true;
    qDebug() << "QuillmarMain::endProgram";
    if (cycle)
        cycle->shutdown();
    close();
    QCoreApplication::quit();
}

// --- recording cycle --------------------------------------------------------------------------

void QuillmarMain::slotStdTimer()
{
    const QString now = QDateTime::currentDateTime().toString(QLatin1String(DateTimeFormat));
    ui->label_datetime->setText(now);
    if (!center)
        return;
    if (cycle)
        cycle->clockTick();

    bool alarm = false;
    for (const ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (!device)
            continue;
        for (const NodeDevice* node : device->nodes()) {
            if (node->ch1Alarm || node->ch2Alarm) {
                alarm = true;
                break;
            }
        }
        if (alarm)
            break;
    }
    if (alarm) {
        if (audio && audioDevicePresent && audio->state() != QAudio::ActiveState &&
            m_audioFile.isOpen()) {
            m_audioFile.seek(0);
            audio->start(&m_audioFile);
        }
    } else {
        stopSound();
    }
}

void QuillmarMain::slotRefreshDevice()
{
    if (projectOpen && cycle)
        cycle->refresh();
}

bool QuillmarMain::isRecording() const
{
    return cycle && cycle->isRecording();
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
    if (cycle)
        cycle->startRecording();
}

void QuillmarMain::slotStopRecord()
{
    qDebug() << "QuillmarMain::slotStopRecord";
    if (cycle)
        cycle->stopRecording();
}

void QuillmarMain::showRecording(bool on)
{
    actionExit->setEnabled(!on);
    actionAddDelete->setEnabled(!on);
    actionClose->setEnabled(!on);
    ui->label_record_state->setPixmap(on ? recordingPixmap : readyPixmap);
    if (center) {
        center->setRecording(on);
        center->setRecordTimes(cycle->recordStartTime(), cycle->recordEndTime());
    }
}

void QuillmarMain::showWriteWarning(const QString& text)
{
    ui->label_write_state->setText(text);
    ui->label_write_state->setVisible(!text.isEmpty());
}

void QuillmarMain::showIndexingState(const QString& text)
{
    ui->label_index_state->setText(text);
    ui->label_index_state->setVisible(!text.isEmpty());
}

void QuillmarMain::slotUpdateProjectFile()
{
    QList<GatewayConfig> configs;
    for (const ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (device)
            configs << device->configuration();
    }
    ProjectFile(projectFilePath).saveDeviceList(configs);
}

// --- other programs ---------------------------------------------------------------------------

void QuillmarMain::startProgram(const QString& programName, const QStringList& options)
{
    const QString database = ProjectFile::databasePath(projectFilePath);
    if (!QFileInfo::exists(database)) {
        showMessage(this, QStringLiteral("WARNING"), QStringLiteral("There is no data file."));
        return;
    }
    if (cycle)
        ProjectFile(projectFilePath).saveRecordStopTime(cycle->recordEndTime());
    const QString cmd = ProgramLauncher::commandText(programName, projectFilePath, options);
    qDebug().noquote() << "cmd : " << cmd;
    if (!ProgramLauncher::start(programName, projectFilePath, QString(), options)) {
        qDebug().noquote() << "startDetached : " << cmd << " failed!";
        showMessage(this, QStringLiteral("ERROR"),
                    QStringLiteral("Please check the ") + programName +
                        QStringLiteral(" execution file."));
    }
}

void QuillmarMain::slotTrendscopeRecord()
{
    startProgram(QStringLiteral("Trendscope"));
}

void QuillmarMain::slotReportDaily()
{
    startProgram(QStringLiteral("Tallyforge"));
}
