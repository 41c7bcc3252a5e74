#pragma once

#include "alarmmonitor.h"
#include "nodeconfig.h"
#include "nodesample.h"
#include "nodesampleobserver.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QString>

#include <functional>

class AlarmEventStore;
class AlarmLogQuery;

// The alarms of the open project while it polls, recording or not: the monitor, fed by every
// node of the project's gateways, and the event log it writes to the project's database. Made
// when the project's run time opens and ended before its gateways go; ending it closes the
// alarms still active as "recorder stopped". At the start, events a crashed recorder left open
// are closed first. It knows the nodes by their configurations only: whoever owns the nodes
// makes it their sample observer after open() and lets it go before it ends.
class ProjectAlarms : public QObject, public NodeSampleObserver
{
    Q_OBJECT

public:
    // Writes at the end of the program, a little apart, before what still waits is left to the
    // next start (which closes open events at the nodes' last samples).
    static constexpr int FinalFlushAttempts = 3;
    // Seconds between two counts of the log's unacknowledged events besides those after each
    // change: writes that waited for the file show up within this time.
    static constexpr int RecountSeconds = 10;

    // The project's nodes in their order, with their configurations as they stand now.
    using NodeList = std::function<QList<NodeConfig>()>;

    // `nodes` is asked at open() and whenever the rules change. `store` (the project's database
    // writer's, opened) stays the caller's and must outlive this object; its written() and
    // pendingChanged() are the caller's to connect.
    ProjectAlarms(const QString& projectFilePath, const QString& projectName, NodeList nodes,
                  AlarmEventStore* store, QObject* parent = nullptr);
    ~ProjectAlarms() override;

    // Makes the monitor know the nodes. False when the store could not read the event log; the monitor
    // works all the same and its writes wait.
    bool open();
    void setClock(const AlarmMonitor::Clock& clock);

    AlarmMonitor* monitor() const { return m_monitor; }
    AlarmEventStore* store() const { return m_store; }
    // Questions to the event log, answered off this thread.
    AlarmLogQuery* log() const { return m_log; }
    // The project's nodes in their order, as the monitor knows them.
    QVector<MonitoredNode> nodes() const;
    // Alarms active now, and events nobody acknowledged (active or ended).
    int activeCount() const;
    int unacknowledgedCount() const;
    QString databasePath() const { return m_databasePath; }
    // The causes an acknowledgement offers (CorrectiveCauses), read with the rules.
    QStringList correctiveCauses() const { return m_causes; }

    // The recorder's clock tick.
    void tick();
    // Names, ranges or rules of the nodes changed (the option dialog was confirmed).
    void rulesChanged();
    // The end: active alarms close now, the log is written; samples still told are ignored.
    void stop();

    // Each sample of a node, once the node took it, and the loss of its gateway.
    void nodeSampled(const NodeConfig& node, const NodeSample& sample) override;
    void nodeDisconnected(const QString& deviceNumber) override;

public slots:
    // The store committed writes: the counts are asked again and the log's readers told. A
    // store of the caller's calls it after each commit.
    void logWritten();

signals:
    void countsChanged(int active, int unacknowledged);
    // The log holds new changes.
    void logChanged();

private:
    void recount();
    void counted(quint64 request, qint64 count);
    void reportCounts();

    QString m_projectFilePath;
    QString m_databasePath;
    QStringList m_causes;
    NodeList m_nodes;
    AlarmEventStore* m_store = nullptr;
    AlarmMonitor* m_monitor = nullptr;
    AlarmLogQuery* m_log = nullptr;
    quint64 m_countRequest = 0;
    int m_unacknowledgedEnded = 0;
    int m_ticksSinceCount = 0;
    int m_reportedActive = -1;
    int m_reportedUnacknowledged = -1;
    bool m_stopped = false;
};

// What the monitor is to know of a node: its names, units, ranges and rules.
MonitoredNode monitoredNode(const NodeConfig& node);
// The sample's battery level, or -1 when it has none (its gateway's model reports none).
int reportedBattery(const NodeSample& sample);
