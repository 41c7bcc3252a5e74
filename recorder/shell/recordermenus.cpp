#include "recordermenus.h"

#include "windowchrome.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace {

QMenu* newMenu(QWidget* window, const char* objectName)
{
    auto* menu = new QMenu(window);
    menu->setObjectName(QLatin1String(objectName));
    return menu;
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

RecorderMenus::RecorderMenus(QWidget* window)
{
    menuProject = newMenu(window, "menuProject");
    actionAddDelete = menuAction(menuProject, QStringLiteral("Add/Delete"), "actionAddDelete");
    actionClose = menuAction(menuProject, QStringLiteral("Close"), "actionClose");
    actionNotifications =
        menuAction(menuProject, QStringLiteral("Notifications..."), "actionNotifications");
    actionReportSchedule =
        menuAction(menuProject, QStringLiteral("Report schedule..."), "actionReportSchedule");
    actionAuditTrail =
        menuAction(menuProject, QStringLiteral("Audit trail..."), "actionAuditTrail");
    actionUsers = menuAction(menuProject, QStringLiteral("Users..."), "actionUsers");
    actionBackups = menuAction(menuProject, QStringLiteral("Backups..."), "actionBackups");
    menuProject->addSeparator();
    actionAutoLoad =
        menuAction(menuProject, QStringLiteral("Auto Load Recent Project"), "actionAutoLoad", true);
    actionAutoRecord =
        menuAction(menuProject, QStringLiteral("Auto Start Record"), "actionAutoRecord", true);
    menuProject->addSeparator();
    actionRefresh = menuAction(menuProject, QStringLiteral("Refresh Devices"), "actionRefresh");
    actionForwarding = menuAction(menuProject, QStringLiteral("Forwarding"), "actionForwarding");
    menuProject->addSeparator();
    actionExit = menuAction(menuProject, QStringLiteral("Exit"), "actionExit");

    menuRecord = newMenu(window, "menuRecord");
    actionDataViewer = menuAction(menuRecord, QStringLiteral("Data Viewer"), "actionDataViewer");
    actionAlarms = menuAction(menuRecord, QStringLiteral("Alarms"), "actionAlarms");
    actionTestAlarms = menuAction(menuRecord, QStringLiteral("Test alarms..."), "actionTestAlarms");
    menuRecord->addSeparator();
    menuReport = menuRecord->addMenu(QStringLiteral("Report"));
    menuReport->setObjectName(QStringLiteral("menuReport"));
    actionDaily = menuAction(menuReport, QStringLiteral("Daily Report"), "actionDaily");
    actionWeekly = menuAction(menuReport, QStringLiteral("Weekly Report"), "actionWeekly");
    actionMonthly = menuAction(menuReport, QStringLiteral("Monthly Report"), "actionMonthly");
    actionHaccp = menuAction(menuReport, QStringLiteral("HACCP Report"), "actionHaccp");
    // What the report generator is told after the project path, for the reports but the daily.
    const std::pair<QAction*, const char*> kinds[] = {
        {actionWeekly, "weekly"}, {actionMonthly, "monthly"}, {actionHaccp, "haccp"}};
    for (const auto& kind : kinds)
        kind.first->setData(QStringList{QStringLiteral("--report"), QLatin1String(kind.second)});

    menuScreen = newMenu(window, "menuScreen");
    actionFullScreen =
        menuAction(menuScreen, QStringLiteral("FullScreen"), "actionFullScreen", true);
    menuScreen->addSeparator();
    actionExpansion =
        menuAction(menuScreen, QStringLiteral("Expansion Mode"), "actionExpansion", true);

    for (QMenu* menu : {menuProject, menuRecord, menuReport, menuScreen})
        WindowChrome::styleMenu(menu, window->font());
}

void RecorderMenus::setProjectActionsEnabled(bool enabled)
{
    for (QAction* action :
         {actionAddDelete, actionClose, actionNotifications, actionReportSchedule,
          actionAuditTrail, actionUsers, actionBackups, actionRefresh, actionDataViewer,
          actionAlarms, actionTestAlarms, actionExpansion})
        action->setEnabled(enabled);
    menuReport->setEnabled(enabled);
    menuReport->menuAction()->setEnabled(enabled);
    actionForwarding->setEnabled(enabled);
}

void RecorderMenus::showEditor()
{
    setProjectActionsEnabled(false);
    actionClose->setEnabled(true);
}

void RecorderMenus::setRecording(bool on)
{
    actionExit->setEnabled(!on);
    actionAddDelete->setEnabled(!on);
    actionClose->setEnabled(!on);
}

void RecorderMenus::popup(QMenu* menu, QWidget* button, QWidget* window)
{
    const QPoint windowTopLeft = window->mapToGlobal(QPoint(0, 0));
    menu->popup(windowTopLeft + button->mapTo(window, QPoint(0, 0)) + QPoint(5, button->height()));
}
