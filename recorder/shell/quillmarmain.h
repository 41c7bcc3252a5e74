#pragma once

#include "datainterval.h"

#include <QAudio>
#include <QFile>
#include <QList>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>

class ConfiguredDevice;
class ProjectCenter;
class ProjectMain;
class ProjectManager;
class QAction;
class QAudioOutput;
class QMenu;
class QTimer;
class RecordingCycle;

namespace Ui {
class QuillmarMain;
}

// Main window of the recorder: top bar with the command menus, the central area with the start
// screen, the editor or the project centre, and the status bar. It owns the open project's
// gateways and its recording cycle, forwards the user's commands to the cycle and shows what
// the cycle reports, and sounds the alarm.
class QuillmarMain : public QWidget
{
    Q_OBJECT

public:
    // Shows a modal message box and gives the button chosen: (icon, title, text, buttons).
    using MessageBoxFunction = std::function<QMessageBox::StandardButton(
        QMessageBox::Icon, const QString&, const QString&, QMessageBox::StandardButtons)>;

    static constexpr int ClockInterval = 1000;
    static constexpr int AudioBufferSize = 10000;

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
    int projectInterval() const { return interval; }
    const QList<ConfiguredDevice*>& gateways() const { return gatewayList; }
    QString currentProjectFile() const { return projectFilePath; }
    ProjectMain* startScreen() const { return projectMain; }
    ProjectManager* editor() const { return projectManager; }
    ProjectCenter* projectCenter() const { return center; }
    RecordingCycle* recordingCycle() const { return cycle.get(); }
    QAudioOutput* audioOutput() const { return audio; }
    QStringList recentProjects() const { return recentList; }
    QVariantMap recentProjectPaths() const { return recentMap; }

    // The end of the program on a termination signal or a desktop logout: a recording ends as
    // by the stop button, whatever waits is written, and the program quits, asking nothing.
    void endProgram();

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
    void handleStateChanged(QAudio::State state);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createMenus();
    void setupAudio();
    void loadSettings();
    void saveFlags();
    void saveSettings();
    void pruneRecentProjects();
    void registerRecentProject();
    void setProjectActionsEnabled(bool enabled);
    void setStatusTexts();
    void showStartScreen();
    void removeStartScreen();
    void removeEditor();
    void removeProjectCenter();
    void placeScreen(QWidget* screen);
    bool openProjectRuntime();
    void closeProjectRuntime();
    void closeRecordingCycle();
    void settlePendingSamples();
    void databaseFailed();
    void detachNodes();
    void stopSound();
    void showRecording(bool on);
    void showWriteWarning(const QString& text);
    void showIndexingState(const QString& text);
    void startProgram(const QString& programName, const QStringList& options = QStringList());
    void popupMenu(QMenu* menu, QWidget* button);
    QMessageBox::StandardButton ask(QMessageBox::Icon icon, const QString& title,
                                    const QString& text, QMessageBox::StandardButtons buttons);
    void critical(const QString& title, const QString& text);

    std::unique_ptr<Ui::QuillmarMain> ui;
    MessageBoxFunction messageBoxFunction;

    QString projectFilePath;
    QString projectName;
    // The open project's sampling interval in milliseconds (the default while none is open).
    int interval = DefaultDataInterval;
    QList<ConfiguredDevice*> gatewayList;
    QVariantMap recentMap;
    QStringList recentList;
    bool autoLoad = false;
    bool autoRecord = false;
    bool projectOpen = false;
    QString connectionName;

    ProjectMain* projectMain = nullptr;
    ProjectManager* projectManager = nullptr;
    ProjectCenter* center = nullptr;
    std::unique_ptr<RecordingCycle> cycle;

    QTimer* stdTimer = nullptr;

    QFile m_audioFile;
    QAudioOutput* audio = nullptr;
    bool audioDevicePresent = false;

    QPixmap readyPixmap;
    QPixmap recordingPixmap;

    QMenu* menuProject = nullptr;
    QMenu* menuRecord = nullptr;
    QMenu* menuReport = nullptr;
    QMenu* menuScreen = nullptr;
    QAction* actionAddDelete = nullptr;
    QAction* actionClose = nullptr;
    QAction* actionAutoLoad = nullptr;
    QAction* actionAutoRecord = nullptr;
    QAction* actionRefresh = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionDataViewer = nullptr;
    QAction* actionDaily = nullptr;
    QAction* actionWeekly = nullptr;
    QAction* actionMonthly = nullptr;
    QAction* actionHaccp = nullptr;
    QAction* actionFullScreen = nullptr;
    QAction* actionExpansion = nullptr;

    // Set while the constructor opens the newest recent project: a project that fails then
    // leaves the start screen in place instead of ending the program.
    bool m_autoLoading = false;
    // Set once the program ends on a signal or a logout: nothing is asked any more.
    bool m_ending = false;
    bool m_fatalError = false;
};
