#include "projectsession.h"

#include "acquisition/configureddevice.h"
#include "nodedevice.h"
#include "programlauncher.h"
#include "projectfile.h"
#include "projectforwarding.h"
#include "recordingcycle.h"

#include <QDebug>
#include <QFileInfo>

ProjectSession::ProjectSession() = default;

ProjectSession::~ProjectSession()
{
    closeCycle();
    deleteGateways();
}

void ProjectSession::create(const QString& projectFilePath)
{
    path = projectFilePath;
    projectName = ProjectFile::projectNameFromPath(projectFilePath);
    m_interval = DefaultDataInterval;
    ProjectFile(path).create(m_interval);
}

bool ProjectSession::load(const QString& projectFilePath)
{
    ProjectData project;
    if (!ProjectFile(projectFilePath).load(&project))
        return false;
    for (const GatewayConfig& config : qAsConst(project.gateways))
        gatewayList.append(ConfiguredDevice::fromConfig(config));
    path = projectFilePath;
    projectName = project.projectName;
    m_interval = project.dataInterval;
    return true;
}

void ProjectSession::confirm(const QList<ConfiguredDevice*>& list, int interval)
{
    const QList<ConfiguredDevice*> previous = gatewayList;
    gatewayList = list;
    for (ConfiguredDevice* device : previous) {
        if (device && !gatewayList.contains(device)) {
            device->closeDevice();
            delete device;
        }
    }
    m_interval = interval;
    saveDeviceList();
    ProjectFile(path).saveInterval(m_interval);
}

void ProjectSession::saveDeviceList() const
{
    QList<GatewayConfig> configs;
    for (const ConfiguredDevice* device : gatewayList) {
        if (device)
            configs << device->configuration();
    }
    ProjectFile(path).saveDeviceList(configs);
    // Renamed nodes and channels go out under their new names from now on.
    if (m_forwarding)
        m_forwarding->updateLabels();
}

ProjectSession::Launch ProjectSession::startProgram(const QString& programName,
                                                    const QStringList& options) const
{
    if (!QFileInfo::exists(ProjectFile::databasePath(path)))
        return Launch::NoDataFile;
    if (m_cycle)
        ProjectFile(path).saveRecordStopTime(m_cycle->recordEndTime());
    const QString cmd = ProgramLauncher::commandText(programName, path, options);
    qDebug().noquote() << "cmd : " << cmd;
    if (ProgramLauncher::start(programName, path, QString(), options))
        return Launch::Started;
    qDebug().noquote() << "startDetached : " << cmd << " failed!";
    return Launch::Failed;
}

bool ProjectSession::openCycle(const QString& connectionName)
{
    m_cycle = std::make_unique<RecordingCycle>(path, connectionName, gatewayList, m_interval);
    if (m_cycle->open()) {
        m_forwarding = std::make_unique<ProjectForwarding>(
            path, m_cycle->sampleWriter(), [this] {
                QList<GatewayConfig> configs;
                for (const ConfiguredDevice* gateway : qAsConst(gatewayList)) {
                    if (gateway)
                        configs << gateway->configuration();
                }
                return configs;
            });
        m_forwarding->start();
        return true;
    }
    m_cycle.reset();
    return false;
}

void ProjectSession::closeCycle()
{
    m_forwarding.reset();
    m_cycle.reset();
}

void ProjectSession::detachNodes()
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

void ProjectSession::closeGateways()
{
    for (ConfiguredDevice* device : qAsConst(gatewayList)) {
        if (device)
            device->closeDevice();
    }
}

void ProjectSession::deleteGateways()
{
    closeGateways();
    qDeleteAll(gatewayList);
    gatewayList.clear();
    m_interval = DefaultDataInterval;
}

void ProjectSession::forgetFile()
{
    path.clear();
    projectName.clear();
}
