#pragma once

#include "gatewayconfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

class ModbusDevice;
class NodeDevice;

// Run-time object of one Modbus TCP gateway: owns the link and the nodes behind it, reads one
// register block that covers all nodes at every poll, decodes each node's record and tracks
// whether the gateway answers. A gateway that stops answering is left out of the regular polls
// and retried alone every 20 seconds.
class ConfiguredDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryInterval = 20000;

    explicit ConfiguredDevice(QObject* parent = nullptr);
    ~ConfiguredDevice() override;

    // A gateway with fresh nodes, built from its stored configuration.
    static ConfiguredDevice* fromConfig(const GatewayConfig& config, QObject* parent = nullptr);
    GatewayConfig configuration() const;

    void setDeviceInfo(const QString& ip, quint16 newPort);
    void addNode(NodeDevice* node);
    void poll();
    void refresh();
    void closeDevice();

    QString ipAddress() const { return m_ipAddress; }
    QString deviceModel() const { return m_deviceModel; }
    quint16 port() const { return m_port; }
    void setDeviceModel(const QString& model) { m_deviceModel = model; }
    const QList<NodeDevice*>& nodes() const { return m_nodes; }
    ModbusDevice* link() const { return m_link; }

    // Milliseconds before a disconnected gateway is polled again; tests shorten it.
    void setRetryInterval(int milliseconds) { retryInterval = milliseconds; }

    // Largest number of polls without data before the gateway counts as disconnected.
    static int missedPollLimit();

    bool connected = false;
    bool refreshPoll = false;
    QDateTime lastPollTime;
    int missedPolls = 0;
    bool retryPending = false;

public slots:
    void readData(const QByteArray& data);
    void deviceConnected();
    void deviceDisconnected();
    void disconnectRetry();

private:
    void countPoll();

    QString m_ipAddress;
    quint16 m_port = 502;
    QString m_deviceModel = QStringLiteral("TQ100");
    QList<NodeDevice*> m_nodes;
    ModbusDevice* m_link = nullptr;
    int retryInterval = RetryInterval;
};
