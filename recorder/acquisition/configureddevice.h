#pragma once

#include "datainterval.h"
#include "gatewayconfig.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class GatewayWorker;
class NodeDevice;
class QThread;

// Run-time object of one Modbus TCP gateway: owns the link and the nodes behind it, reads one
// register block that covers all nodes at every poll, decodes each node's record and tracks
// whether the gateway answers. A gateway that stops answering is left out of the regular polls
// and retried alone every 20 seconds.
//
// The link runs on a thread of its own (started with the first poll): poll() and refresh()
// only send the request and return at once. The answer comes back through the event loop and
// is decoded here, on the thread this object lives on; then polled() is emitted. A poll whose
// answer has not come back when the next poll begins counts as a poll without data, unless it began
// less than half an interval before (a retry or refresh just ahead of the interval's poll); the
// link never has more than one request at a time: a poll that finds it busy is sent when it is
// free.
class ConfiguredDevice : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryInterval = 20000;

    // The time now, which dates the polls and their samples; tests replace it.
    using Clock = std::function<QDateTime()>;

    explicit ConfiguredDevice(QObject* parent = nullptr);
    ~ConfiguredDevice() override;

    // A gateway with fresh nodes, built from its stored configuration.
    static ConfiguredDevice* fromConfig(const GatewayConfig& config, QObject* parent = nullptr);
    GatewayConfig configuration() const;

    void setDeviceInfo(const QString& ip, quint16 newPort);
    void addNode(NodeDevice* node);
    void poll();
    void refresh();
    // Ends the link's exchange in progress at once and closes the connection; polls still
    // waiting for an answer are dropped. The next poll connects again.
    void closeDevice();

    QString ipAddress() const { return m_ipAddress; }
    QString deviceModel() const { return m_deviceModel; }
    quint16 port() const { return m_port; }
    void setDeviceModel(const QString& model) { m_deviceModel = model; }
    const QList<NodeDevice*>& nodes() const { return m_nodes; }
    // The register block read at every poll.
    int registerStart() const { return m_registerStart; }
    int registerCount() const { return m_registerCount; }

    void setClock(const Clock& now);
    // Milliseconds on a steady clock, which time the polls against the interval (an answer
    // overdue, a poll that began just now); tests drive it instead of waiting.
    using PollClock = std::function<qint64()>;
    void setPollClock(const PollClock& elapsedMs);

    // Milliseconds before a disconnected gateway is polled again; tests shorten it.
    void setRetryInterval(int milliseconds) { retryInterval = milliseconds; }

    // Largest number of polls without data before the gateway counts as disconnected.
    int missedPollLimit() const;

    // The project's sampling interval in milliseconds: the polls' cadence, which sets the
    // missed-poll limit and the time of a node's gap record.
    int interval() const { return m_interval; }
    void setInterval(int milliseconds) { m_interval = milliseconds; }

    bool connected = false;
    bool refreshPoll = false;
    // When the last regular poll began; the gap record at a stop is dated one interval after it.
    QDateTime lastPollTime;
    int missedPolls = 0;
    bool retryPending = false;

signals:
    // A poll or refresh is over: its block was decoded (true), or it brought no data (false).
    void polled(bool withData);

public slots:
    void readData(const QByteArray& data);
    void deviceConnected();
    void deviceDisconnected();
    void disconnectRetry();

private:
    // A poll or refresh whose outcome is not known yet.
    struct PendingPoll
    {
        quint64 serial = 0;
        qint64 startedMs = 0; // on pollClock
        QDateTime pollTime;
        bool refresh = false;
        bool sent = false;
    };

    void countPoll();
    void decode(const QByteArray& data, const QDateTime& sampleTime, bool refresh);
    void startPoll(bool refresh);
    void sendNext();
    void settle(const PendingPoll& poll, const QByteArray& block);
    void settleOverdue();
    void linkAnswered(quint64 serial, const QByteArray& block, const QDateTime& pollTime,
                      bool refresh);
    void startLink();
    void stopLink();
    QDateTime now() const;

    QString m_ipAddress;
    quint16 m_port = 502;
    QString m_deviceModel = QStringLiteral("TQ100");
    QList<NodeDevice*> m_nodes;
    int m_registerStart = 0;
    int m_registerCount = 0;
    int retryInterval = RetryInterval;
    int m_interval = DefaultDataInterval;
    Clock clock;

    std::unique_ptr<QThread> linkThread;
    GatewayWorker* worker = nullptr; // lives on linkThread, deleted once it has ended
    QList<PendingPoll> pending;
    QElapsedTimer pollClock;
    PollClock pollMs;
    quint64 nextSerial = 1;
    quint64 inFlight = 0; // serial of the request the link is working on, 0 when it is idle
};
