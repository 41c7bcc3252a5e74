#include "projectcenter.h"
#include "ui_projectcenter.h"

#include "chartview.h"
#include "dashboard.h"
#include "networksettingdialog.h"
#include "nodedevice.h"
#include "projectlist.h"
#include "sensingoptiondialog.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLayout>

namespace {

constexpr qint64 DatabaseWarningBytes = 3221225472LL; // 3 GiB

const QString& timeFormat()
{
    static const QString format = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    return format;
}

} // namespace

ProjectCenter::ProjectCenter(const QString& projectFilePath, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ProjectCenter>()),
      m_recordStopIcon(QStringLiteral(":/img/RecordStopButton.png")),
      m_recordIcon(QStringLiteral(":/img/RecordButton.png")),
      m_projectName(QFileInfo(projectFilePath).baseName()), m_projectFilePath(projectFilePath)
{
    ui->setupUi(this);

    m_projectList = new ProjectList(m_projectName, ui->widget_list);
    m_dashBoard = new DashBoard(ui->widget_board);
    // Created now, placed only when a node is chosen.
    m_chartView = new ChartView(ui->widget_board);
    m_chartView->hide();
    ui->widget_list->layout()->addWidget(m_projectList);
    ui->widget_board->layout()->addWidget(m_dashBoard);

    connect(m_projectList, &ProjectList::dashboardClicked, this,
            &ProjectCenter::slotDashboardClicked);
    connect(m_projectList, qOverload<NodeDevice*>(&ProjectList::deviceClicked), this,
            &ProjectCenter::slotDeviceClicked);
    connect(m_dashBoard, &DashBoard::deviceClicked, this, &ProjectCenter::slotDeviceClicked);
    connect(m_chartView, &ChartView::popupSensingOption, this,
            &ProjectCenter::slotPopupSensingOption);
    connect(m_chartView, &ChartView::popupNetworkSetting, this, &ProjectCenter::slotNetworkSetting);
    connect(ui->btn_record, &QToolButton::clicked, this, &ProjectCenter::slotRecord);
}

ProjectCenter::~ProjectCenter()
{
    if (m_currentNode && m_currentNode->chartView() == m_chartView)
        m_currentNode->clearChartView();
}

void ProjectCenter::setDeviceList(const QList<ConfiguredDevice*>& gateways)
{
    m_gateways = gateways;
    m_projectList->setDevices(gateways);
    m_dashBoard->setDevices(gateways);
}

void ProjectCenter::setRecording(bool recording)
{
    QString start = ui->label_record_starttime->text();
    if (start.isEmpty())
        start = QDateTime::currentDateTime().toString(timeFormat());
    const QString style =
        recording ? QStringLiteral("color:rgb(255,255,147);background-color:transparent;")
                  : QStringLiteral("color:rgb(192,192,192);background-color:transparent;");
    ui->label_record_starttime->setStyleSheet(style);
    ui->label_record_endtime->setStyleSheet(style);
    ui->label_to->setStyleSheet(style);
    if (recording) {
        ui->label_record_starttime->setText(start);
        ui->label_to->setText(QStringLiteral("~"));
        ui->btn_record->setIcon(m_recordStopIcon);
    } else {
        ui->label_record_endtime->setText(QDateTime::currentDateTime().toString(timeFormat()));
        ui->label_to->clear();
        ui->btn_record->setIcon(m_recordIcon);
    }
}

void ProjectCenter::setRecordTimes(const QString& start, const QString& end)
{
    ui->label_record_starttime->setText(start);
    ui->label_record_endtime->setText(end);
}

void ProjectCenter::setRecordEndTime(const QString& text)
{
    ui->label_record_endtime->setText(text);
}

QString ProjectCenter::recordStartTime() const
{
    return ui->label_record_starttime->text();
}

QString ProjectCenter::recordEndTime() const
{
    return ui->label_record_endtime->text();
}

void ProjectCenter::setDatabaseSize(qint64 bytes)
{
    ui->label_record_bytes->setText(QStringLiteral("Database ") +
                                    QString::number(double(bytes) / 1048576.0, 'f', 2) +
                                    QStringLiteral("MB"));
    ui->label_record_bytes->setStyleSheet(
        bytes < DatabaseWarningBytes
            ? QStringLiteral("color:rgb(192,192,192);background-color:transparent;")
            : QStringLiteral("color:rgb(230,80,80);background-color:transparent;"));
}

void ProjectCenter::slotRecord()
{
    emit clickRecord();
}

void ProjectCenter::slotDeviceClicked(NodeDevice* node)
{
    if (!node || (node == m_currentNode && !m_dashboardShown))
        return;
    if (m_currentNode)
        m_currentNode->clearChartView();
    m_projectList->selectDevice(node);
    m_currentNode = node;
    if (m_dashboardShown) {
        ui->widget_board->layout()->removeWidget(m_dashBoard);
        ui->widget_board->layout()->addWidget(m_chartView);
        m_dashBoard->hide();
        m_chartView->show();
    }
    m_dashboardShown = false;
    m_chartView->clearView();
    m_chartView->setNodeDevice(node);
    node->setChartView(m_chartView);
}

void ProjectCenter::slotDashboardClicked()
{
    const bool wasDashboard = m_dashboardShown;
    m_dashboardShown = true;
    m_chartView->clearView();
    if (m_currentNode)
        m_currentNode->clearChartView();
    if (!wasDashboard) {
        ui->widget_board->layout()->removeWidget(m_chartView);
        ui->widget_board->layout()->addWidget(m_dashBoard);
        m_chartView->hide();
        m_dashBoard->show();
    }
    m_dashBoard->refreshItems();
}

void ProjectCenter::slotPopupSensingOption()
{
    if (!m_currentNode)
        return;
    if (m_changeGate) {
        const NodeConfig& node = m_currentNode->configuration();
        const QString name = node.deviceName.isEmpty() ? node.deviceNumber : node.deviceName;
        // The gate may ask in a modal dialog, while which the node may go.
        QPointer<ProjectCenter> self(this);
        const ChangeGate gate = m_changeGate;
        if (!gate(QStringLiteral("Change the settings of node ") + name) || !self || !m_currentNode)
            return;
    }
    auto* dialog = new SensingOptionDialog(m_currentNode, this);
    dialog->setCalibrationAccess(m_calibrations);
    connect(dialog, &SensingOptionDialog::sensingConfirm, this, &ProjectCenter::slotSensingConfirm);
    dialog->show();
}

void ProjectCenter::slotNetworkSetting()
{
    // Without a node there is no gateway to show.
    if (!m_currentNode)
        return;
    auto* dialog = new NetworkSettingDialog(m_currentNode, this);
    dialog->show();
}

void ProjectCenter::slotSensingConfirm()
{
    if (m_currentNode)
        m_currentNode->checkAlarms();
    m_projectList->refreshNames();
    m_chartView->refreshDeviceInfo();
    emit updateProjectFile();
}

NodeDevice* ProjectCenter::currentNode() const
{
    return m_currentNode;
}
