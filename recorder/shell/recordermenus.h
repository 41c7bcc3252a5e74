#pragma once

class QAction;
class QMenu;
class QWidget;

// The recorder's pop-up menus: "Project", "Record" with its "Report" sub-menu, and "View"; their
// entries, and which entries can be used in which state of the window. The window connects the
// entries to the slots that do the work; the weekly, monthly and HACCP entries carry the options
// that name their report (QAction::data()).
class RecorderMenus
{
public:
    // The menus become children of `window`.
    explicit RecorderMenus(QWidget* window);

    // The entries that need an open project: all usable with one, none without.
    void setProjectActionsEnabled(bool enabled);
    // While the editor is shown, "Close" is the only project entry left.
    void showEditor();
    // While recording, the project can be neither left nor edited or closed.
    void setRecording(bool on);
    // Opens `menu` just below `button` of `window`.
    static void popup(QMenu* menu, QWidget* button, QWidget* window);

    QMenu* menuProject = nullptr;
    QMenu* menuRecord = nullptr;
    QMenu* menuReport = nullptr;
    QMenu* menuScreen = nullptr;
    QAction* actionAddDelete = nullptr;
    QAction* actionClose = nullptr;
    QAction* actionNotifications = nullptr;
    QAction* actionReportSchedule = nullptr;
    QAction* actionAuditTrail = nullptr;
    QAction* actionUsers = nullptr;
    QAction* actionAutoLoad = nullptr;
    QAction* actionAutoRecord = nullptr;
    QAction* actionRefresh = nullptr;
    QAction* actionForwarding = nullptr;
    QAction* actionBackups = nullptr;
    QAction* actionExit = nullptr;
    QAction* actionDataViewer = nullptr;
    QAction* actionAlarms = nullptr;
    QAction* actionTestAlarms = nullptr;
    QAction* actionDaily = nullptr;
    QAction* actionWeekly = nullptr;
    QAction* actionMonthly = nullptr;
    QAction* actionHaccp = nullptr;
    QAction* actionFullScreen = nullptr;
    QAction* actionExpansion = nullptr;
};
