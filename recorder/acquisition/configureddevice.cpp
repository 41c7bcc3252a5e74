#include "configureddevice.h"

#include "acquisitionlog.h"
#include "gatewaymodel.h"
#include "nodesample.h"
#include "gatewayworker.h"
#include "nodedevice.h"

#include <QDebug>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// Channel values travel as text with two decimals. A value that is not finite is no value.
QString channelText(const char* bytes)
{
    const quint32 bits = qFromLittleEndian<quint32>(bytes);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    if (!std::isfinite(value))
        return QString();
    return QString::number(double(value), 'f', 2);
}

// Link quality or battery; none when its four bytes do not lie wholly inside the block.
std::optional<int> level(const QByteArray& data, qint64 offset)
{
    if (offset < 0 || offset + 4 > data.size())
        return std::nullopt;
    return qFromLittleEndian<qint32>(data.constData() + offset);
}

// True when no node but `owner` counts the registers [first, first + count) among its own. A
// node's link quality and battery follow its channels, where under one gateway the next node's
// channels usually are: those registers say nothing about this node.
bool ownRegisters(const QList<NodeDevice*>& nodes, const NodeDevice* owner, qint64 first,
                  qint64 count)
{
    for (const NodeDevice* other : nodes) {
        if (other == owner)
            continue;
        const qint64 begin = other->startAddress();
        if (first < begin + other->registerCount() && begin < first + count)
            return false;
    }
    return true;
}

} // namespace

ConfiguredDevice::ConfiguredDevice(QObject* parent)
    : QObject(parent), lastPollTime(QDateTime::currentDateTimeUtc()),
      clock([] { return QDateTime::currentDateTimeUtc(); }),
      pollMs([this] { return pollClock.elapsed(); })
{
    pollClock.start();
}

ConfiguredDevice::~ConfiguredDevice()
{
    if (worker)
        worker->interrupt();
    const QList<NodeDevice*> nodes = m_nodes;
    m_nodes.clear();
    for (NodeDevice* node : nodes)
        delete node;
    stopLink();
}

void ConfiguredDevice::stopLink()
{
    if (!linkThread)
        return;
    // The exchange in progress was interrupted: the thread ends within a connect timeout.
    worker->interrupt();
    linkThread->quit();
    linkThread->wait();
    delete worker;
    worker = nullptr;
    linkThread.reset();
}

ConfiguredDevice* ConfiguredDevice::fromConfig(const GatewayConfig& config, QObject* parent)
{
    auto* gateway = new ConfiguredDevice(parent);
    gateway->setDeviceInfo(config.ipAddress, config.port);
    gateway->setDeviceModel(config.deviceModel);
    for (const NodeConfig& node : config.nodes)
        gateway->addNode(NodeDevice::fromConfig(node, gateway));
    return gateway;
}

GatewayConfig ConfiguredDevice::configuration() const
{
    GatewayConfig config;
    config.ipAddress = m_ipAddress;
    config.port = m_port;
    config.deviceModel = m_deviceModel;
    for (const NodeDevice* node : m_nodes)
        config.nodes.append(node->configuration());
    return config;
}

void ConfiguredDevice::setDeviceInfo(const QString& ip, quint16 newPort)
{
    m_ipAddress = ip;
    m_port = newPort;
    qCDebug(lcAcquisition).noquote().nospace()
        << "ConfiguredDevice ipaddr : " << ip << " , port : " << newPort;
    if (worker) {
        QMetaObject::invokeMethod(
            worker, [w = worker, ip, newPort] { w->setDeviceInfo(ip, newPort); },
            Qt::QueuedConnection);
    }
}

void ConfiguredDevice::addNode(NodeDevice* node)
{
    m_nodes.append(node);
    int start = m_nodes.first()->startAddress();
    qint64 count = 0;
    for (const NodeDevice* n : qAsConst(m_nodes)) {
        start = qMin(start, n->startAddress());
        count += n->registerCount();
    }
    m_registerStart = start;
    m_registerCount = int(qBound<qint64>(0, count, 0x7FFFFFFF));
    qCDebug(lcAcquisition).noquote().nospace()
        << "start : " << start << " , length : " << m_registerCount;
}

void ConfiguredDevice::setClock(const Clock& newClock)
{
    clock = newClock;
}

void ConfiguredDevice::setPollClock(const PollClock& elapsedMs)
{
    pollMs = elapsedMs;
}

QDateTime ConfiguredDevice::now() const
{
    // Kept in UTC: the samples need seconds since 1970, and a local time would cost a time-zone
    // conversion for every node of every poll.
    return clock().toUTC();
}

int ConfiguredDevice::missedPollLimit() const
{
    return m_interval <= 1000 ? 5 : 2;
}

void ConfiguredDevice::countPoll()
{
    ++missedPolls;
    const int limit = missedPollLimit();
    if (missedPolls > limit) {
        missedPolls = limit;
        deviceDisconnected();
    }
}

void ConfiguredDevice::poll()
{
    // An answer that has not come back by now is a poll without data.
    const bool waiting = retryPending;
    settleOverdue();
    // That may just have declared the gateway disconnected: then only its retry polls it.
    if (retryPending && !waiting)
        return;
    lastPollTime = now();
    startPoll(false);
}

void ConfiguredDevice::refresh()
{
    refreshPoll = true;
    startPoll(true);
}

void ConfiguredDevice::startPoll(bool refresh)
{
    PendingPoll poll;
    poll.serial = nextSerial++;
    poll.startedMs = pollMs();
    poll.refresh = refresh;
    pending.append(poll);
    sendNext();
}

void ConfiguredDevice::sendNext()
{
    if (inFlight != 0)
        return;
    for (PendingPoll& poll : pending) {
        if (poll.sent)
            continue;
        if (!linkThread)
            startLink();
        poll.sent = true;
        // A sample is dated by the moment its read request goes to the gateway: a poll that
        // waited for the link is dated when it leaves, not when it was asked for.
        poll.pollTime = now();
        inFlight = poll.serial;
        const PendingPoll request = poll;
        const int start = m_registerStart;
        const int count = m_registerCount;
        QMetaObject::invokeMethod(
            worker,
            [w = worker, request, start, count] {
                w->request(request.serial, start, count, request.pollTime, request.refresh);
            },
            Qt::QueuedConnection);
        return;
    }
}

void ConfiguredDevice::startLink()
{
    linkThread = std::make_unique<QThread>();
    linkThread->setObjectName(QStringLiteral("gateway ") + m_ipAddress);
    worker = new GatewayWorker;
    worker->moveToThread(linkThread.get());
    connect(worker, &GatewayWorker::answered, this, &ConfiguredDevice::linkAnswered,
            Qt::QueuedConnection);
    linkThread->start();
    QMetaObject::invokeMethod(
        worker, [w = worker, ip = m_ipAddress, p = m_port] { w->setDeviceInfo(ip, p); },
        Qt::QueuedConnection);
}

void ConfiguredDevice::linkAnswered(quint64 serial, const QByteArray& block,
                                    const QDateTime& pollTime, bool refresh)
{
    if (serial == inFlight)
        inFlight = 0;
    for (int i = 0; i < pending.size(); ++i) {
        if (pending.at(i).serial != serial)
            continue;
        PendingPoll poll = pending.takeAt(i);
        poll.pollTime = pollTime;
        poll.refresh = refresh;
        settle(poll, block);
        break;
    }
    // An answer that came too late, or after closeDevice(), is dropped: it only frees the link.
    sendNext();
}

void ConfiguredDevice::settleOverdue()
{
    // The interval's polls are an interval apart; one that began only just now (the retry's,
    // or a refresh) still has its time.
    const qint64 startedBefore = pollMs() - m_interval / 2;
    while (!pending.isEmpty() && pending.first().startedMs <= startedBefore)
        settle(pending.takeFirst(), QByteArray());
}

void ConfiguredDevice::settle(const PendingPoll& poll, const QByteArray& block)
{
    if (!block.isEmpty())
        decode(block, poll.pollTime, poll.refresh);
    refreshPoll = false;
    for (const PendingPoll& other : qAsConst(pending))
        refreshPoll = refreshPoll || other.refresh;
    countPoll();
    // Declared disconnected: the interval's polls still waiting to be sent are not made, as the
    // interval's polls skip a gateway that waits for its retry.
    if (retryPending) {
        pending.erase(std::remove_if(pending.begin(), pending.end(),
                                     [](const PendingPoll& p) { return !p.sent && !p.refresh; }),
                      pending.end());
    }
    emit polled(!block.isEmpty());
}

void ConfiguredDevice::closeDevice()
{
    pending.clear();
    refreshPoll = false;
    if (!worker)
        return;
    worker->interrupt();
    QMetaObject::invokeMethod(
        worker, [w = worker] { w->close(); }, Qt::QueuedConnection);
}

void ConfiguredDevice::readData(const QByteArray& data)
{
    decode(data, lastPollTime, refreshPoll);
}

void ConfiguredDevice::decode(const QByteArray& data, const QDateTime& sampleTime, bool refresh)
{
    deviceConnected();
    missedPolls = 0;

    qCDebug(lcAcquisition).noquote().nospace()
        << "ConfiguredDevice::readData [" << m_ipAddress << "] - data length : " << data.size();
    qCDebug(lcAcquisition).noquote().nospace() << "ConfiguredDevice::readData [" << m_ipAddress
                                               << "] : " << data.toHex(' ').toUpper() << ' ';

    int base = 0;
    if (!m_nodes.isEmpty()) {
        base = m_nodes.first()->startAddress();
        for (const NodeDevice* node : qAsConst(m_nodes))
            base = qMin(base, node->startAddress());
    }
    qCDebug(lcAcquisition).noquote().nospace()
        << "ConfiguredDevice::readData [beforeStartAddr] : " << base;

    const bool withLinkInfo = GatewayModel::reportsLinkInfo(m_deviceModel);
    // Offsets are computed in 64 bits: start registers come from the project file and may be
    // anything an int holds.
    for (NodeDevice* node : qAsConst(m_nodes)) {
        const qint64 word = qint64(node->startAddress()) - base;
        const qint64 offset = 2 * word;
        qCDebug(lcAcquisition).noquote().nospace()
            << "ConfiguredDevice::readData [startAddress word] : " << word;
        qCDebug(lcAcquisition).noquote().nospace()
            << "ConfiguredDevice::readData [startAddress byte] : " << offset;
        if (offset < 0 || offset + 8 > data.size()) {
            qCDebug(lcAcquisition).noquote()
                << "ConfiguredDevice::readData startAddress >= data.length()";
            continue;
        }
        const char* record = data.constData() + offset;
        // Decoded once: each channel is the number of its two-decimal text from here on.
        NodeSample sample;
        sample.time = sampleTime;
        sample.refresh = refresh;
        sample.channel1 = NodeSample::channelNumber(channelText(record));
        sample.channel2 = NodeSample::channelNumber(channelText(record + 4));
        if (withLinkInfo) {
            const qint64 start = node->startAddress();
            if (ownRegisters(m_nodes, node, start + 4, 2))
                sample.linkQuality = level(data, offset + 8);
            if (ownRegisters(m_nodes, node, start + 6, 2))
                sample.battery = level(data, offset + 12);
        }
        node->setData(sample);
    }
    refreshPoll = false;
}

void ConfiguredDevice::deviceConnected()
{
    retryPending = false;
    connected = true;
    for (NodeDevice* node : qAsConst(m_nodes))
        node->deviceConnected();
}

void ConfiguredDevice::deviceDisconnected()
{
    connected = false;
    qCDebug(lcAcquisition).noquote().nospace()
        << "- ConfiguredDevice::deviceDisconnected() : " << m_ipAddress;
    for (NodeDevice* node : qAsConst(m_nodes))
        node->deviceDisconnected();
    if (!retryPending) {
        retryPending = true;
        QTimer::singleShot(retryInterval, this, &ConfiguredDevice::disconnectRetry);
    }
}

void ConfiguredDevice::disconnectRetry()
{
    retryPending = false;
    poll();
}
