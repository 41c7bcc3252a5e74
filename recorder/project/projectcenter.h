#pragma once

#include "calibrationaccess.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class ChartView;
class ConfiguredDevice;
class DashBoard;
class NodeDevice;
class ProjectList;

namespace Ui {
class ProjectCenter;
}

// The screen of an open project: the device list on the left, the dashboard of all nodes or the
// chart panel of one node on the right, the record button, the recorded period and the database
// size along the bottom. The main window drives it and listens for the record button and for
// confirmed node settings.
class ProjectCenter : public QWidget
{
    Q_OBJECT

public:
    // Asked before a node's settings dialog opens, with what is to be changed; false keeps it
    // shut (the user may not, or cancelled).
    using ChangeGate = std::function<bool(const QString& what)>;

    explicit ProjectCenter(const QString& projectFilePath, QWidget* parent = nullptr);
    ~ProjectCenter() override;

    void setChangeGate(const ChangeGate& gate) { m_changeGate = gate; }
    // The calibration register the node dialog shows and enters into.
    void setCalibrationAccess(const CalibrationAccess& access) { m_calibrations = access; }

    // Not owned; the list is kept and handed to the device list and the dashboard.
    void setDeviceList(const QList<ConfiguredDevice*>& gateways);
    void setRecording(bool recording);
    void setRecordTimes(const QString& start, const QString& end);
    void setRecordEndTime(const QString& text);
    QString recordStartTime() const;
    QString recordEndTime() const;
    void setDatabaseSize(qint64 bytes);

    ProjectList* projectList() const { return m_projectList; }
    DashBoard* dashBoard() const { return m_dashBoard; }
    ChartView* chartView() const { return m_chartView; }
    // The node whose chart panel was opened last; null before the first.
    NodeDevice* currentNode() const;
    // True while the dashboard, false while the chart panel, fills the right-hand side.
    bool isDashboardShown() const { return m_dashboardShown; }
    QString projectName() const { return m_projectName; }
    QString projectFilePath() const { return m_projectFilePath; }

signals:
    void clickRecord();
    void updateProjectFile();

public slots:
    void slotRecord();
    void slotDashboardClicked();
    void slotDeviceClicked(NodeDevice* node);
    void slotPopupSensingOption();
    void slotSensingConfirm();
    void slotNetworkSetting();

private:
    std::unique_ptr<Ui::ProjectCenter> ui;
    QIcon m_recordStopIcon;
    QIcon m_recordIcon;
    QString m_projectName;
    QString m_projectFilePath;
    ProjectList* m_projectList = nullptr;
    DashBoard* m_dashBoard = nullptr;
    ChartView* m_chartView = nullptr;
    QPointer<NodeDevice> m_currentNode;
    bool m_dashboardShown = true;
    QList<ConfiguredDevice*> m_gateways;
    ChangeGate m_changeGate;
    CalibrationAccess m_calibrations;
};
