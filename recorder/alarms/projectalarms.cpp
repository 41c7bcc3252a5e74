#include "projectalarms.h"

#include "alarmeventstore.h"
#include "alarmeventwrite.h"
#include "alarmlogquery.h"
#include "correctivecauses.h"
#include "novalue.h"
#include "projectfile.h"

#include <QDebug>
#include <QThread>

MonitoredNode monitoredNode(const NodeConfig& node)
{
    MonitoredNode m;
    m.serial = node.deviceNumber;
    m.nodeName = node.deviceName;
    m.channelName[0] = node.ch1Name;
    m.channelName[1] = node.ch2Name;
    m.unit[0] = channelUnitText(node.ch1Unit, node.ch1Custom);
    m.unit[1] = channelUnitText(node.ch2Unit, node.ch2Custom);
    m.min[0] = node.ch1Min;
    m.max[0] = node.ch1Max;
    m.min[1] = node.ch2Min;
    m.max[1] = node.ch2Max;
    m.rules = node.alarmRules;
    return m;
}

int reportedBattery(const NodeSample& sample)
{
    return sample.battery && *sample.battery >= 0 ? *sample.battery : -1;
}

ProjectAlarms::ProjectAlarms(const QString& projectFilePath, const QString& projectName,
                             NodeList nodes, AlarmEventStore* store, QObject* parent)
    : QObject(parent),
      m_projectFilePath(projectFilePath),
      m_databasePath(ProjectFile::databasePath(projectFilePath)),
      m_nodes(std::move(nodes)),
      m_store(store)
{
    Q_ASSERT(m_store);
    m_monitor = new AlarmMonitor(m_store, this);
    m_monitor->setProjectName(projectName);
    m_log = new AlarmLogQuery(m_databasePath, this);
    connect(m_log, &AlarmLogQuery::counted, this,
            [this](quint64 request, qint64 count) { counted(request, count); });
    // Counted again once what changed the count is in the log (logWritten).
    connect(m_monitor, &AlarmMonitor::countsChanged, this, &ProjectAlarms::reportCounts);
}

ProjectAlarms::~ProjectAlarms()
{
    stop();
}

bool ProjectAlarms::open()
{
    // The store's owner opened it (and said why when it could not read the log).
    const bool opened = m_store->firstFreeId() > 0;
    // First of all writes: the events a recorder that died left open.
    m_store->submit(AlarmEventWrite::closeInterrupted());
    rulesChanged();
    recount();
    return opened;
}

void ProjectAlarms::setClock(const AlarmMonitor::Clock& clock)
{
    m_monitor->setClock(clock);
}

void ProjectAlarms::tick()
{
    m_monitor->tick();
    if (++m_ticksSinceCount >= RecountSeconds)
        recount();
}

QVector<MonitoredNode> ProjectAlarms::nodes() const
{
    QVector<MonitoredNode> out;
    if (!m_nodes)
        return out;
    for (const NodeConfig& node : m_nodes())
        out << m_monitor->node(node.deviceNumber);
    return out;
}

void ProjectAlarms::logWritten()
{
    recount();
    emit logChanged();
}

int ProjectAlarms::activeCount() const
{
    return m_monitor->activeCount();
}

int ProjectAlarms::unacknowledgedCount() const
{
    return m_monitor->unacknowledgedCount() + m_unacknowledgedEnded;
}

void ProjectAlarms::recount()
{
    m_ticksSinceCount = 0;
    AlarmEventFilter filter;
    filter.endedOnly = true;
    filter.unacknowledgedOnly = true;
    m_countRequest = m_log->count(filter);
}

void ProjectAlarms::counted(quint64 request, qint64 count)
{
    // An older answer than the last question, or a failed one, changes nothing.
    if (request != m_countRequest || count < 0)
        return;
    m_unacknowledgedEnded = int(count);
    reportCounts();
}

void ProjectAlarms::reportCounts()
{
    const int active = activeCount();
    const int unacknowledged = unacknowledgedCount();
    if (active == m_reportedActive && unacknowledged == m_reportedUnacknowledged)
        return;
    m_reportedActive = active;
    m_reportedUnacknowledged = unacknowledged;
    emit countsChanged(active, unacknowledged);
}

void ProjectAlarms::rulesChanged()
{
    m_causes = CorrectiveCauses::fromProject(m_projectFilePath);
    if (!m_nodes)
        return;
    for (const NodeConfig& node : m_nodes())
        m_monitor->setNode(monitoredNode(node));
}

void ProjectAlarms::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_monitor->stop();
    for (int attempt = 1; !m_store->flush(); ++attempt) {
        if (attempt == FinalFlushAttempts) {
            qWarning().noquote() << QStringLiteral("ProjectAlarms::stop : alarm event writes "
                                                   "left for the next start : ") +
                                        QString::number(m_store->pendingCount());
            break;
        }
        // The end of the project: the sample writer's last flush may hold the file a moment.
        QThread::msleep(100);
    }
}

void ProjectAlarms::nodeSampled(const NodeConfig& node, const NodeSample& sample)
{
    // Ended: a node not yet let go changes nothing any more.
    if (m_stopped)
        return;
    m_monitor->setNode(monitoredNode(node));
    m_monitor->sample(node.deviceNumber, sample.channel1.value_or(NoValue),
                      sample.channel2.value_or(NoValue), reportedBattery(sample), sample.time);
}

void ProjectAlarms::nodeDisconnected(const QString& deviceNumber)
{
    if (m_stopped)
        return;
    m_monitor->disconnected(deviceNumber);
}
