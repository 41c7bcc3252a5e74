#pragma once

#include "flushpolicy.h"

#include <QAudio>
#include <QFile>
#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>
#include <QWidget>

#include <functional>
#include <memory>

class ConfiguredDevice;
class InsertSerialData;
class ProjectCenter;
class ProjectMain;
class ProjectManager;
class QAction;
class QAudioOutput;
class QMenu;
class QTimer;

namespace Ui {
class QuillmarMain;
}

// Main window of the recorder: top bar with the command menus, the central area with the start
// screen, the editor or the project centre, and the status bar. It owns the open project's
// gateways, polls them, records their samples and sounds the alarm.
class QuillmarMain : public QWidget
{
    Q_OBJECT

public:
    // Shows a modal critical message: (parent, title, text).
    using CriticalMessage = std::function<void(QWidget*, const QString&, const QString&)>;

    static constexpr int ClockInterval = 1000;
    static constexpr int DatabaseInterval = 1500;
    static constexpr int AudioBufferSize = 10000;

    explicit QuillmarMain(QWidget* parent = nullptr);
    ~QuillmarMain() override;

    // Replaces the modal critical message box, which would block a test; an empty function
    // restores the box.
    static void setCriticalMessage(const CriticalMessage& message);

    // True once the database could not be opened: the program is ending.
    bool fatalError() const { return m_fatalError; }

    // For the test of the recording cycle and for screenshots.
    bool isRecording() const { return m_bIsRecordStart; }
    bool isProjectOpen() const { return projectOpen; }
    const QList<ConfiguredDevice*>& gateways() const { return gatewayList; }
    QString currentProjectFile() const { return projectFilePath; }
    ProjectMain* startScreen() const { return projectMain; }
    ProjectManager* editor() const { return projectManager; }
    ProjectCenter* projectCenter() const { return center; }
    QAudioOutput* audioOutput() const { return audio; }
    QStringList recentProjects() const { return recentList; }
    QVariantMap recentProjectPaths() const { return recentMap; }

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
    void writeDevice();
    void writeDb();
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
    void detachNodes();
    void stopSound();
    void toggleRecordState(bool on);
    bool createInsertSerialData(const QString& path);
    void deleteInsertSerialData();
    void startProgram(const QString& programName, const QStringList& options = QStringList());
    void popupMenu(QMenu* menu, QWidget* button);
    void critical(const QString& title, const QString& text);

    std::unique_ptr<Ui::QuillmarMain> ui;

    QString projectFilePath;
    QString projectName;
    QList<ConfiguredDevice*> gatewayList;
    QVariantMap recentMap;
    QStringList recentList;
    bool autoLoad = false;
    bool autoRecord = false;
    bool projectOpen = false;
    bool m_bIsRecordStart = false;
    QString connectionName;

    ProjectMain* projectMain = nullptr;
    ProjectManager* projectManager = nullptr;
    ProjectCenter* center = nullptr;
    InsertSerialData* insertSerialData = nullptr;
    bool databaseOpen = false;
    FlushPolicy flushPolicy;

    QTimer* stdTimer = nullptr;
    QTimer* deviceTimer = nullptr;
    QTimer* dbTimer = nullptr;

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

    bool m_fatalError = false;
};
