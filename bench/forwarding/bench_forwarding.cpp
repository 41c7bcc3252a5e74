// Forwarding: how fast a backlog reaches the servers, what the targets cost while recording,
// and what a server that never answers does to the caller.
//
//   bench_forwarding [--only backlog|hung|cpu|recorder|endless] [--hung-seconds N]
//                    [--cpu-seconds N] [--endless-seconds N]
//                    [--in-flight N] [--report-ms N]   (the targets' timing for the backlog)
//
// 1. Backlog: one hour of 16 nodes at 1 s (57,600 rows, two channel values each: 115,200
//    records) handed over the way the forwarder will (batches of 2,000 rows, at most four
//    unacknowledged, ForwardCursor), until every record is acknowledged: by InfluxDB (influxd
//    on loopback) and by a mosquitto broker. Baselines in the same run against the same
//    servers: the curl program posting the same lines in writes of 5,000, one after the other,
//    and mosquitto_pub -q 1 -M 200 -l publishing the same payloads.
// 2. Hung servers: both targets pointed at a port that accepts connections and never answers,
//    fed 32 records a second for N seconds (default 20), then destroyed. Printed: the longest
//    stall of this thread's event loop (a 10 ms timer's lateness) beside an idle thread's
//    probing the same way at the same time, and how long the destruction took.
// 3. CPU: 16 nodes at 1 s forwarded to both (real) servers for N seconds (default 30): this
//    process's CPU time per wall second, beside the same loop with no target.
// 4. The recorder's path: a project database written by the recorder's writer, read by the
//    Forwarder from its cursor (its own thread and read connection), the cursor written back
//    through the writer. (a) The same hour as in 1, already in the file, sent as history to each
//    server alone: seconds until the cursor reached the last row. (b) 16 nodes at 1 s recorded
//    by the writer, forwarded to both real servers: CPU beside recording alone. (c) The same
//    recording forwarded to servers that never answer: the longest stall of the recording
//    thread's loop beside an idle thread's.
// 5. A server that answers the ping and then streams every reply without end: 16 nodes at 1 s
//    recorded and forwarded to it by the Forwarder for N seconds (default 10). Printed: how much
//    this process's resident memory grew at its peak, how many replies were cut off and how many
//    bytes the server could hand over, beside the same run against the real influxd.
#include "databasewriter.h"
#include "forwardcursor.h"
#include "forwarder.h"
#include "influxserver.h"
#include "influxtarget.h"
#include "lineprotocol.h"
#include "mosquittobroker.h"
#include "mqttlayout.h"
#include "mqtttarget.h"
#include "webhookreceiver.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QLoggingCategory>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

constexpr int Nodes = 16;
constexpr int Seconds = 3600;
constexpr qint64 Start = 1700000000;
constexpr int RowsPerBatch = 2000;
constexpr int BatchesAhead = 4;

StoredSampleRow row(qint64 id)
{
    // Row ids follow time, then node, as the recorder writes them.
    const int index = int(id - 1);
    StoredSampleRow r;
    r.id = id;
    r.serial = QStringLiteral("NODE-%1").arg(index % Nodes, 2, 10, QLatin1Char('0'));
    r.channel1 = 20.0 + (index % 700) / 100.0;
    r.channel2 = 40.0 + (index % 900) / 50.0;
    r.pointDate = Start + index / Nodes;
    return r;
}

NodeLabels labels(const QString& serial)
{
    NodeLabels l;
    l.nodeName = QStringLiteral("Room ") + serial.right(2);
    l.channelName = {QStringLiteral("Temperature"), QStringLiteral("Humidity")};
    l.unit = {QStringLiteral("°C"), QStringLiteral("%RH")};
    return l;
}

// Feeds rows first..last to a target as the forwarder will, and waits until the cursor passed
// them all. Milliseconds, or -1 after the deadline.
qint64 forward(ForwardTarget* target, qint64 first, qint64 last, int timeoutMs)
{
    ForwardCursor cursor(first - 1);
    qint64 next = first;
    const auto feed = [&] {
        while (next <= last &&
               cursor.lastExpected() - cursor.position() < qint64(RowsPerBatch) * BatchesAhead) {
            ForwardBatch batch;
            const qint64 end = std::min(last, next + RowsPerBatch - 1);
            for (; next <= end; ++next) {
                const StoredSampleRow r = row(next);
                const QVector<ForwardSample> samples = forwardedSamples(r, labels(r.serial));
                cursor.expectRow(r.id, samples);
                batch.samples += samples;
            }
            target->send(batch);
        }
    };
    QEventLoop loop;
    QObject context;
    QObject::connect(target, &ForwardTarget::acknowledged, &context, [&](const ForwardAck& ack) {
        cursor.acknowledgeSamples(ack.samples);
        if (cursor.position() == last)
            loop.quit();
        else
            feed();
    });
    QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(1); });
    QElapsedTimer clock;
    clock.start();
    feed();
    return loop.exec() == 0 ? clock.elapsed() : -1;
}

QByteArray allLines()
{
    QByteArray lines;
    for (qint64 id = 1; id <= qint64(Nodes) * Seconds; ++id) {
        const StoredSampleRow r = row(id);
        for (const ForwardSample& s : forwardedSamples(r, labels(r.serial))) {
            // Two appends: the one-expression form reserves the exact size each time, which
            // copies the whole text at every line (quadratic: hours for the hour's 8 MB).
            lines += LineProtocol::sampleLine(s);
            lines += '\n';
        }
    }
    return lines;
}

double seconds(qint64 ms)
{
    return ms / 1000.0;
}

qint64 pointCount(const InfluxServer& server, const QString& database)
{
    const QJsonObject result =
        server.query(database, QStringLiteral("SELECT count(value) FROM sample"));
    const QJsonArray series = result.value(QStringLiteral("series")).toArray();
    if (series.isEmpty())
        return 0;
    return series.at(0)
        .toObject()
        .value(QStringLiteral("values"))
        .toArray()
        .at(0)
        .toArray()
        .at(1)
        .toVariant()
        .toLongLong();
}

int backlog(const ForwardTiming& timing)
{
    const qint64 rows = qint64(Nodes) * Seconds;
    std::printf("1. Backlog: %lld rows, %lld records\n", rows, rows * 2);
    QTemporaryDir dir;
    const QString influxDir = dir.filePath(QStringLiteral("influx"));
    const QString brokerDir = dir.filePath(QStringLiteral("broker"));
    QDir().mkpath(influxDir);
    QDir().mkpath(brokerDir);

    InfluxServer influx(influxDir);
    if (!influx.start() || !influx.createDatabase(QStringLiteral("target")) ||
        !influx.createDatabase(QStringLiteral("baseline"))) {
        std::printf("influxd: %s\n", qPrintable(influx.error()));
        return 1;
    }
    // Baseline first: the lines in files of 5,000, posted by the curl program one by one.
    const QByteArray lines = allLines();
    const QList<QByteArray> split = lines.split('\n');
    QStringList files;
    for (int i = 0; i < split.size(); i += 5000) {
        const QString name = dir.filePath(QStringLiteral("lines-%1").arg(i));
        QFile file(name);
        file.open(QIODevice::WriteOnly);
        for (int j = i; j < std::min<int>(i + 5000, split.size()); ++j)
            if (!split.at(j).isEmpty())
                file.write(split.at(j) + '\n');
        files << name;
    }
    QElapsedTimer clock;
    clock.start();
    for (const QString& file : files) {
        const int rc =
            QProcess::execute(QStringLiteral("curl"),
                              {QStringLiteral("-sf"), QStringLiteral("-o"),
                               QStringLiteral("/dev/null"), QStringLiteral("-XPOST"),
                               influx.url() + QStringLiteral("/write?db=baseline&precision=s"),
                               QStringLiteral("--data-binary"), QLatin1Char('@') + file});
        if (rc != 0) {
            std::printf("curl failed: %d\n", rc);
            return 1;
        }
    }
    const qint64 curlMs = clock.elapsed();

    InfluxForwarding influxSettings;
    influxSettings.enabled = true;
    influxSettings.url = influx.url();
    influxSettings.database = QStringLiteral("target");
    qint64 influxMs = -1;
    {
        InfluxTarget target(influxSettings, QString(), timing);
        influxMs = forward(&target, 1, rows, 300000);
    }
    std::printf("   InfluxDB   : %7.2f s  (baseline curl, same lines: %6.2f s)  points stored: "
                "%lld / %lld (baseline %lld)\n",
                seconds(influxMs), seconds(curlMs), pointCount(influx, QStringLiteral("target")),
                rows * 2, pointCount(influx, QStringLiteral("baseline")));

    MosquittoBroker::Options options;
    options.logAll = false;
    MosquittoBroker broker(brokerDir, options);
    if (!broker.start()) {
        std::printf("mosquitto: %s\n", qPrintable(broker.error()));
        return 1;
    }
    QByteArray payloads;
    for (qint64 id = 1; id <= rows; ++id) {
        const StoredSampleRow r = row(id);
        for (const ForwardSample& s : forwardedSamples(r, labels(r.serial))) {
            payloads += MqttLayout::samplePayload(s);
            payloads += '\n';
        }
    }
    const QString payloadFile = dir.filePath(QStringLiteral("payloads"));
    QFile file(payloadFile);
    file.open(QIODevice::WriteOnly);
    file.write(payloads);
    file.close();
    QProcess pub;
    pub.setStandardInputFile(payloadFile);
    clock.restart();
    pub.start(QStringLiteral("mosquitto_pub"),
              {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
               QString::number(broker.port()), QStringLiteral("-q"), QStringLiteral("1"),
               QStringLiteral("-M"), QStringLiteral("200"), QStringLiteral("-t"),
               QStringLiteral("baseline/all"), QStringLiteral("-l")});
    pub.waitForFinished(300000);
    const qint64 pubMs = clock.elapsed();

    MqttForwarding mqttSettings;
    mqttSettings.enabled = true;
    mqttSettings.host = QStringLiteral("127.0.0.1");
    mqttSettings.port = broker.port();
    mqttSettings.topicPrefix = QStringLiteral("bench");
    qint64 mqttMs = -1;
    {
        MqttTarget target(mqttSettings, QString(), timing);
        mqttMs = forward(&target, 1, rows, 300000);
    }
    std::printf("   MQTT broker: %7.2f s  (baseline mosquitto_pub -q 1 -M 200 -l: %6.2f s, "
                "exit %d)\n",
                seconds(mqttMs), seconds(pubMs), pub.exitCode());
    return influxMs < 0 || mqttMs < 0 ? 1 : 0;
}

// Notices every stall of the event loop it runs in: the lateness of a 10 ms timer.
class LatencyProbe : public QObject
{
public:
    static constexpr int IntervalMs = 10;

    LatencyProbe() : timer(this)
    {
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] {
            const double now = clock.nsecsElapsed() / 1e6;
            longest = std::max(longest, now - last - IntervalMs);
            last = now;
        });
    }
    void start()
    {
        clock.start();
        timer.start(IntervalMs);
    }
    void stop() { timer.stop(); }

    double longest = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
    double last = 0;
};

// The batch of one second: both channels of every node.
ForwardBatch secondBatch(int second)
{
    ForwardBatch batch;
    for (int n = 0; n < Nodes; ++n) {
        const StoredSampleRow r = row(qint64(second) * Nodes + n + 1);
        batch.samples += forwardedSamples(r, labels(r.serial));
    }
    return batch;
}

int hung(int duration)
{
    std::printf("2. Servers that accept connections and never answer, %d s at 1 s\n", duration);
    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    InfluxForwarding influxSettings;
    influxSettings.enabled = true;
    influxSettings.url = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
    influxSettings.database = QStringLiteral("site");
    MqttForwarding mqttSettings;
    mqttSettings.enabled = true;
    mqttSettings.host = QStringLiteral("127.0.0.1");
    mqttSettings.port = silent.serverPort();

    LatencyProbe own;
    LatencyProbe idle;
    QThread idleThread;
    idle.moveToThread(&idleThread);
    idleThread.start();
    QMetaObject::invokeMethod(
        &idle, [&idle] { idle.start(); }, Qt::QueuedConnection);
    own.start();

    auto influx = std::make_unique<InfluxTarget>(influxSettings, QString());
    auto mqtt = std::make_unique<MqttTarget>(mqttSettings, QString());
    int second = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const ForwardBatch batch = secondBatch(second++);
        influx->send(batch);
        mqtt->send(batch);
    });
    tick.start(1000);
    QEventLoop loop;
    QTimer::singleShot(duration * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    tick.stop();
    const ForwardStatus influxStatus = influx->status();
    const ForwardStatus mqttStatus = mqtt->status();
    QElapsedTimer ending;
    ending.start();
    influx.reset();
    mqtt.reset();
    const qint64 endMs = ending.elapsed();
    QCoreApplication::processEvents();
    own.stop();
    QMetaObject::invokeMethod(
        &idle, [&idle] { idle.stop(); }, Qt::BlockingQueuedConnection);
    idleThread.quit();
    idleThread.wait();

    std::printf("   longest stall of the caller's loop: %6.1f ms (idle thread, same time: %6.1f "
                "ms)\n   destroying both targets took %lld ms\n",
                own.longest, idle.longest, endMs);
    std::printf("   InfluxDB target: %s, waiting %d, in flight %d: %s\n",
                qPrintable(ForwardStatus::stateText(influxStatus.state)), influxStatus.waiting,
                influxStatus.inFlight, qPrintable(influxStatus.lastError));
    std::printf("   MQTT target    : %s, waiting %d, in flight %d: %s\n",
                qPrintable(ForwardStatus::stateText(mqttStatus.state)), mqttStatus.waiting,
                mqttStatus.inFlight, qPrintable(mqttStatus.lastError));
    return 0;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Percent of one core this process used while handing 32 records a second to `targets` for
// `duration` seconds, acknowledgements going into a cursor as the forwarder's will.
double recordingLoad(const QVector<ForwardTarget*>& targets, int duration)
{
    QVector<std::shared_ptr<ForwardCursor>> cursors;
    QObject context;
    for (ForwardTarget* target : targets) {
        auto cursor = std::make_shared<ForwardCursor>(0);
        cursors << cursor;
        QObject::connect(
            target, &ForwardTarget::acknowledged, &context,
            [cursor](const ForwardAck& ack) { cursor->acknowledgeSamples(ack.samples); });
    }
    int second = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &context, [&] {
        ForwardBatch batch;
        for (int n = 0; n < Nodes; ++n) {
            const StoredSampleRow r = row(qint64(second) * Nodes + n + 1);
            const QVector<ForwardSample> samples = forwardedSamples(r, labels(r.serial));
            for (auto& cursor : cursors)
                cursor->expectRow(r.id, samples);
            batch.samples += samples;
        }
        ++second;
        for (ForwardTarget* target : targets)
            target->send(batch);
    });
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    tick.start(1000);
    QEventLoop loop;
    QTimer::singleShot(duration * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    tick.stop();
    return 100.0 * (cpuSeconds() - cpuBefore) / (wall.elapsed() / 1000.0);
}

int cpu(int duration)
{
    std::printf("3. CPU with 16 nodes at 1 s forwarded to both servers, %d s each\n", duration);
    QTemporaryDir dir;
    const QString influxDir = dir.filePath(QStringLiteral("influx"));
    const QString brokerDir = dir.filePath(QStringLiteral("broker"));
    QDir().mkpath(influxDir);
    QDir().mkpath(brokerDir);
    InfluxServer influx(influxDir);
    MosquittoBroker::Options options;
    options.logAll = false;
    MosquittoBroker broker(brokerDir, options);
    if (!influx.start() || !influx.createDatabase(QStringLiteral("site")) || !broker.start()) {
        std::printf("servers did not start\n");
        return 1;
    }
    const double bare = recordingLoad({}, duration);
    InfluxForwarding influxSettings;
    influxSettings.enabled = true;
    influxSettings.url = influx.url();
    influxSettings.database = QStringLiteral("site");
    MqttForwarding mqttSettings;
    mqttSettings.enabled = true;
    mqttSettings.host = QStringLiteral("127.0.0.1");
    mqttSettings.port = broker.port();
    InfluxTarget influxTarget(influxSettings, QString());
    MqttTarget mqttTarget(mqttSettings, QString());
    const double forwarding = recordingLoad({&influxTarget, &mqttTarget}, duration);
    std::printf("   with both targets: %5.2f %% of one core; the same loop without: %5.2f %%; "
                "added: %5.2f percentage points\n",
                forwarding, bare, forwarding - bare);
    return 0;
}

// Records `second` of the 16 nodes through the writer, as the recording cycle does.
void recordSecond(DatabaseWriter* writer, int second)
{
    for (int n = 0; n < Nodes; ++n) {
        const StoredSampleRow r = row(qint64(second) * Nodes + n + 1);
        writer->queueSample({r.serial, *r.channel1, *r.channel2, quint32(r.pointDate)});
    }
}

// Runs the event loop until `done` or the deadline; milliseconds, or -1.
qint64 waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return -1;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return clock.elapsed();
}

qint64 positionOf(const Forwarder& forwarder)
{
    return forwarder.states().isEmpty() ? -1 : forwarder.states().first().position;
}

int recorderPath(int cpuDuration, int hungDuration)
{
    std::printf("4. The recorder's path: database, writer, Forwarder with its cursor\n");
    QTemporaryDir dir;
    const QString influxDir = dir.filePath(QStringLiteral("influx"));
    const QString brokerDir = dir.filePath(QStringLiteral("broker"));
    QDir().mkpath(influxDir);
    QDir().mkpath(brokerDir);
    InfluxServer influx(influxDir);
    MosquittoBroker::Options options;
    options.logAll = false;
    MosquittoBroker broker(brokerDir, options);
    if (!influx.start() || !influx.createDatabase(QStringLiteral("site")) || !broker.start()) {
        std::printf("servers did not start\n");
        return 1;
    }
    ForwardingSettings influxOnly;
    influxOnly.influx.enabled = true;
    influxOnly.influx.url = influx.url();
    influxOnly.influx.database = QStringLiteral("site");
    ForwardingSettings mqttOnly;
    mqttOnly.mqtt.enabled = true;
    mqttOnly.mqtt.host = QStringLiteral("127.0.0.1");
    mqttOnly.mqtt.port = broker.port();
    mqttOnly.mqtt.topicPrefix = QStringLiteral("bench");

    // (a) The hour in the file, then history from its start.
    const QString hourPath = dir.filePath(QStringLiteral("hour.db"));
    {
        DatabaseWriter writer(hourPath, QUuid::createUuid().toString());
        if (!writer.open())
            return 1;
        for (int second = 0; second < Seconds; ++second)
            recordSecond(&writer, second);
        writer.flushAndWait(0);
        const qint64 rows = qint64(Nodes) * Seconds;
        for (const auto& [name, settings] :
             {std::pair<const char*, ForwardingSettings>{"InfluxDB   ", influxOnly},
              std::pair<const char*, ForwardingSettings>{"MQTT broker", mqttOnly}}) {
            Forwarder forwarder(hourPath, settings, QString(), QString(), &writer);
            if (waitUntil([&] { return positionOf(forwarder) == rows; }, 30000) < 0)
                return 1;
            QElapsedTimer clock;
            clock.start();
            forwarder.sendHistoryFrom(Start);
            waitUntil([&] { return positionOf(forwarder) < rows; }, 10000);
            const qint64 ms = waitUntil([&] { return positionOf(forwarder) == rows; }, 300000);
            std::printf("   (a) %s: %7.2f s for the hour's %lld rows from the file\n", name,
                        ms < 0 ? -1.0 : seconds(clock.elapsed()), rows);
            writer.flushAndWait(0);
        }
        std::printf("       InfluxDB points stored: %lld / %lld\n",
                    pointCount(influx, QStringLiteral("site")), rows * 2);
    }

    // (b) and (c): recording at 1 s with forwarding on.
    const auto recordFor = [&](const ForwardingSettings* settings, int duration,
                               LatencyProbe* probe) {
        const QString path = dir.filePath(QUuid::createUuid().toString(QUuid::WithoutBraces));
        DatabaseWriter writer(path, QUuid::createUuid().toString());
        writer.open();
        std::unique_ptr<Forwarder> forwarder;
        if (settings)
            forwarder = std::make_unique<Forwarder>(path, *settings, QString(), QString(), &writer);
        QElapsedTimer clock;
        clock.start();
        int second = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] {
            recordSecond(&writer, second++);
            writer.tick(clock.elapsed());
        });
        const double cpuBefore = cpuSeconds();
        if (probe)
            probe->start();
        tick.start(1000);
        QEventLoop loop;
        QTimer::singleShot(duration * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        tick.stop();
        if (probe)
            probe->stop();
        return 100.0 * (cpuSeconds() - cpuBefore) / (clock.elapsed() / 1000.0);
    };
    ForwardingSettings both = influxOnly;
    both.mqtt = mqttOnly.mqtt;
    const double bare = recordFor(nullptr, cpuDuration, nullptr);
    const double forwarded = recordFor(&both, cpuDuration, nullptr);
    std::printf("   (b) recording with forwarding to both: %5.2f %% of one core; recording "
                "alone: %5.2f %%; added: %5.2f percentage points\n",
                forwarded, bare, forwarded - bare);

    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost);
    ForwardingSettings hungBoth = both;
    hungBoth.influx.url = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
    hungBoth.mqtt.port = silent.serverPort();
    LatencyProbe own;
    LatencyProbe idle;
    QThread idleThread;
    idle.moveToThread(&idleThread);
    idleThread.start();
    QMetaObject::invokeMethod(
        &idle, [&idle] { idle.start(); }, Qt::QueuedConnection);
    recordFor(&hungBoth, hungDuration, &own);
    QMetaObject::invokeMethod(
        &idle, [&idle] { idle.stop(); }, Qt::BlockingQueuedConnection);
    idleThread.quit();
    idleThread.wait();
    std::printf("   (c) servers that never answer, %d s: longest stall of the recording loop: "
                "%6.1f ms (idle thread: %6.1f ms)\n",
                hungDuration, own.longest, idle.longest);
    return 0;
}

// This process's resident memory in MB, from /proc.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

int endless(int duration)
{
    std::printf("5. A server that streams every reply without end, %d s at 1 s\n", duration);
    QTemporaryDir dir;
    const QString influxDir = dir.filePath(QStringLiteral("influx"));
    QDir().mkpath(influxDir);
    InfluxServer influx(influxDir);
    if (!influx.start() || !influx.createDatabase(QStringLiteral("site"))) {
        std::printf("influxd did not start\n");
        return 1;
    }
    WebhookReceiver hostile;
    hostile.listen();
    hostile.setAnswer(204, "No Content", QByteArray());
    hostile.setEndlessBody("/write");

    // Peak growth of the resident memory while recording forwards to `url`.
    const auto run = [&](const QString& url, const QString& name) {
        ForwardingSettings settings;
        settings.influx.enabled = true;
        settings.influx.url = url;
        settings.influx.database = QStringLiteral("site");
        const QString path = dir.filePath(name + QStringLiteral(".db"));
        DatabaseWriter writer(path, QUuid::createUuid().toString());
        writer.open();
        const double before = residentMb();
        double peak = before;
        {
            Forwarder forwarder(path, settings, QString(), QString(), &writer);
            QElapsedTimer clock;
            clock.start();
            int second = 0;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                recordSecond(&writer, second++);
                writer.tick(clock.elapsed());
            });
            QTimer sample;
            QObject::connect(&sample, &QTimer::timeout,
                             [&] { peak = std::max(peak, residentMb()); });
            tick.start(1000);
            sample.start(100);
            QEventLoop loop;
            QTimer::singleShot(duration * 1000, &loop, &QEventLoop::quit);
            loop.exec();
            const ForwardStatus status = forwarder.states().value(0).status;
            std::printf("   %-22s: resident memory grew by %7.1f MB at its peak; %s, %d "
                        "attempts: %s\n",
                        qPrintable(name), peak - before,
                        qPrintable(ForwardStatus::stateText(status.state)), status.attempts,
                        qPrintable(status.lastError.left(90)));
        }
        return peak - before;
    };
    const double baseline = run(influx.url(), QStringLiteral("influxd (baseline)"));
    const double cut = run(QStringLiteral("http://127.0.0.1:%1").arg(hostile.port()),
                           QStringLiteral("endless replies"));
    std::printf("   endless replies: %d cut off, %lld bytes handed over by the server; growth "
                "beside the baseline: %+.1f MB\n",
                hostile.endlessHangUps(), static_cast<long long>(hostile.endlessBytes()),
                cut - baseline);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    const QStringList args = app.arguments();
    const auto option = [&args](const QString& name, int fallback) {
        const int i = args.indexOf(name);
        return i >= 0 && i + 1 < args.size() ? args.at(i + 1).toInt() : fallback;
    };
    const int onlyAt = args.indexOf(QStringLiteral("--only"));
    const QString only = onlyAt >= 0 && onlyAt + 1 < args.size() ? args.at(onlyAt + 1) : QString();
    int status = 0;
    if (only.isEmpty() || only == QLatin1String("backlog")) {
        ForwardTiming timing;
        timing.maxInFlight = option(QStringLiteral("--in-flight"), timing.maxInFlight);
        timing.reportIntervalMs = option(QStringLiteral("--report-ms"), timing.reportIntervalMs);
        status |= backlog(timing);
    }
    if (only.isEmpty() || only == QLatin1String("hung"))
        status |= hung(option(QStringLiteral("--hung-seconds"), 20));
    if (only.isEmpty() || only == QLatin1String("cpu"))
        status |= cpu(option(QStringLiteral("--cpu-seconds"), 30));
    if (only.isEmpty() || only == QLatin1String("recorder"))
        status |= recorderPath(option(QStringLiteral("--cpu-seconds"), 30),
                               option(QStringLiteral("--hung-seconds"), 20));
    if (only.isEmpty() || only == QLatin1String("endless"))
        status |= endless(option(QStringLiteral("--endless-seconds"), 10));
    return status;
}
