#pragma once

#include "accessgate.h"
#include "alarmdesk.h"
#include "calibrationaccess.h"
#include "forwardingstatus.h"
#include "pendingsamplesprompt.h"
#include "projectaudit.h"
#include "projectservices.h"
#include "projectsession.h"
#include "recentprojects.h"
#include "signinsession.h"

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include <memory>

class QPushButton;
class NodeDevice;
struct AlarmSuppression;

class AlarmTestDialog;
class AuditTrailDialog;
class ConfiguredDevice;
class OutboxIndicator;
class ProjectCenter;
class ProjectForwarding;
class ProjectKeyNotice;
class ProjectMain;
class ProjectManager;
class ProjectNotifications;
class QLabel;
class QTimer;
class RecorderMenus;
class RecorderStatusBar;
class RecordingCycle;
class SignInStatus;
class UsersDialog;

namespace Ui {
class QuillmarMain;
}

// Main window of the recorder: top bar with the command menus, the central area with the start
// screen, the editor or the project centre, and the status bar. It hands the user's commands to
// the classes that do the work (the open project's session with its recording cycle, the recent
// projects, the alarms and their sound, the program launcher) and shows what they report.
class QuillmarMain : public QWidget
{
    Q_OBJECT

public:
    // Shows a modal message box and gives the button chosen: (icon, title, text, buttons).
    using MessageBoxFunction = PendingSamplesPrompt::Ask;

    static constexpr int ClockInterval = 1000;

    explicit QuillmarMain(QWidget* parent = nullptr);
    // Modal message boxes, which would block a test or a tool, go to `messageBox` instead; it is
    // used from the start, for the messages of the construction too.
    explicit QuillmarMain(const MessageBoxFunction& messageBox, QWidget* parent = nullptr);
    ~QuillmarMain() override;

    // True once the database could not be opened: the program is ending.
    bool fatalError() const { return m_fatalError; }

    // For the tests and for screenshots.
    bool isRecording() const;
    bool isProjectOpen() const { return projectOpen; }
    int projectInterval() const { return session.interval(); }
    const QList<ConfiguredDevice*>& gateways() const { return session.gateways(); }
    QString currentProjectFile() const { return session.filePath(); }
    ProjectMain* startScreen() const { return projectMain; }
    ProjectManager* editor() const { return projectManager; }
    ProjectCenter* projectCenter() const { return center; }
    RecordingCycle* recordingCycle() const { return session.cycle(); }
    ProjectAlarms* projectAlarms() const { return desk->projectAlarms(); }
    AlarmScreen* alarmScreen() const { return desk->screen(); }
    // The audit trail dialog while shown.
    AuditTrailDialog* auditTrailDialog() const;
    AlarmIndicator* alarmIndicator() const { return desk->indicator(); }
    OutboxIndicator* outboxIndicator() const { return desk->outboxIndicator(); }
    ProjectNotifications* projectNotifications() const { return desk->notifications(); }
    QAudioOutput* audioOutput() const { return desk->audioOutput(); }
    QLabel* forwardingLabel() const { return forwarding->label(); }
    // The project-file keys that could not be read, while the open project has any.
    QLabel* keyProblemLabel() const;
    // Shown while settings edited outside the recorder wait for a Supervisor.
    QPushButton* editedSettingsButton() const { return editedButton; }
    ProjectForwarding* projectForwarding() const { return services.forwarding(); }
    // Who is signed in for the open project, and its users.
    SignInSession* signInSession() { return &signIn; }
    // Who is signed in, in the status bar; the Users dialog while shown.
    SignInStatus* signInStatus() const { return signInState; }
    UsersDialog* usersDialog() const;
    // Stands before each changing action; tests give it their own asks.
    AccessGate* accessGate() { return &gate; }
    QStringList recentProjects() const { return recent.names(); }
    QVariantMap recentProjectPaths() const { return recent.paths(); }

    // The end of the program on a termination signal or a desktop logout: a recording ends as
    // by the stop button, whatever waits is written (or kept in the writer's journal), and the
    // program quits, asking nothing. Returns at once; the program quits when the writer is done.
    // `cause` is what the audit trail records as having stopped the recording.
    void endProgram(ProjectAudit::Cause cause = ProjectAudit::Cause::Signal);

public slots:
    void topDblClick();
    void slotCommandProject();
    void slotCommandRecord();
    void slotCommandScreen();
    void slotCommandHelp();
    void slotViewFull(bool full);
    void slotShowHideItem(bool hide);
    void slotCloseProject();
    void slotAddDeviceProject();
    void slotRefreshDevice();
    void slotAutoProject(bool on);
    void slotAutoRecord(bool on);
    void slotTrendscopeRecord();
    void slotReportDaily();
    void slotUpdateProjectFile();
    void slotToggleRecord();
    void slotStartRecord();
    void slotStopRecord();
    void projectCreated(const QString& path);
    void projectLoaded(const QString& path);
    void projectListConfirm(const QList<ConfiguredDevice*>& list);
    void slotStdTimer();
    void slotShowAlarms();
    void slotShowAuditTrail();
    // "Test alarms...": the dialog of the open project's alarm tests.
    void slotTestAlarms();
    void slotUsers();
    void slotForwarding();
    void slotBackups();
    // "Settings edited outside the recorder": accept or reject what waits.
    void slotEditedSettings();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void showStartScreen();
    void newEditor();
    void placeScreen(QWidget* screen);
    void dropScreen(QWidget* screen, bool later);
    void openProjectRuntime();
    void closeProjectRuntime();
    void closeRecordingCycle();
    void databaseFailed();
    void quitProgram();
    void showRecording(bool on);
    void startRecording(ProjectAudit::Cause cause);
    void stopRecording(ProjectAudit::Cause cause);
    void startProgram(const QString& programName, const QStringList& options = QStringList());
    void critical(const QString& title, const QString& text);
    bool authorize(AccessPolicy::Action action, const QString& what);
    void showHeldEdit();
    void reopenAccepted(const QString& path);
    // The Alarms screen's and the dashboard's shelve and out-of-service commands.
    void shelve(const QString& serial, int channel, int seconds, const QString& reason);
    void endSuppression(const AlarmSuppression& suppression);
    // A calibration entered in a node's dialog: signed and recorded through the register.
    void enterCalibration(const CalibrationRecord& row, const CalibrationAccess::Done& done);
    void askOutOfService(NodeDevice* node);
    void backInService(NodeDevice* node);
    // The dashboard's tiles follow the nodes out of service now.
    void showOutOfService();

    std::unique_ptr<Ui::QuillmarMain> ui;
    MessageBoxFunction messageBoxFunction;

    RecentProjects recent;
    ProjectSession session;
    // The open project's alarms and forwarding; declared after the session, so that they go
    // before its cycle, whose writer they use.
    ProjectServices services;
    SignInSession signIn;
    AccessGate gate{&signIn};
    // What was found of settings edited outside the recorder before the project opened.
    EditedSettings::Outcome m_outside;
    QPushButton* editedButton = nullptr;
    bool projectOpen = false;
    QString connectionName;

    ProjectMain* projectMain = nullptr;
    ProjectManager* projectManager = nullptr;
    ProjectCenter* center = nullptr;

    QTimer* stdTimer = nullptr;
    // The alarms, their indicator and screen, and the sound; they go before the gateways.
    AlarmDesk* desk = nullptr;

    RecorderStatusBar* status = nullptr;

    std::unique_ptr<RecorderMenus> menus;

    // The forwarding targets' state while the open project forwards, and its dialog.
    ForwardingStatus* forwarding = nullptr;
    ProjectKeyNotice* keyNotice = nullptr;
    // The open project's audit trail while shown; it goes with the project.
    QPointer<AuditTrailDialog> auditDialog;
    // The open project's alarm tests while shown; it goes with the project.
    QPointer<AlarmTestDialog> alarmTestDialog;
    SignInStatus* signInState = nullptr;
    // The open project's users while shown; it goes with the project.
    QPointer<UsersDialog> m_usersDialog;

    // Set while the constructor opens the newest recent project: a project that fails then
    // leaves the start screen in place instead of ending the program.
    bool m_autoLoading = false;
    // Set once the program ends on a signal or a logout: nothing is asked any more.
    bool m_ending = false;
    bool m_fatalError = false;
    // Set while the editor's confirmed list opens: what differs from the settings accepted
    // before is the user's change, not one made outside the recorder.
    bool m_afterEditing = false;
    // A start of recording waits for its entry to be durable.
    bool m_startPending = false;
};
