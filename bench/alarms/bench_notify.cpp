// Sending notifications without holding up the caller.
//
//   bench_notify [--seconds N] [--cpu-seconds N] [--show-message]
//
// 1. The longest stall of this thread's event loop (a 10 ms timer's lateness) for N seconds
//    (default 20) while the sender keeps sending to a server that accepts connections and never
//    answers (each send ends at its 2 s total timeout), beside the same probe for N seconds with
//    nothing sent (the baseline, same run).
// 2. How long stopping the sender takes in the middle of such a send.
// 3. From send() to the message stored by the test SMTP server (plain and STARTTLS with login),
//    20 messages each: median and longest; with --show-message, the first one as the server
//    stored it.
// 4. The whole path at a 1 s sampling interval with 16 nodes and a delay of 0: from the moment
//    a value leaves its range (a random moment between two polls) through the alarm monitor,
//    the scheduler, the outbox (written through the database writer) and the sender to the
//    message stored by the plain SMTP server, 10 alarms: median and longest; beside 3.'s
//    send() to stored.
// 5. The longest stall of this thread's event loop while that recorder loop runs with the
//    outbox sending to a server that accepts connections and never answers (an alarm every
//    4 s), beside the same loop without notifications, same run, N seconds each.
// 6. This process's CPU (all threads) with that recorder loop, with the outbox busy (every node
//    raising an alarm every 4 s: 4 messages a second to the plain SMTP server) and without
//    notifications, N seconds each (default 30, --cpu-seconds).
#include "alarmmonitor.h"
#include "databasewriter.h"
#include "notificationmessage.h"
#include "notificationoutbox.h"
#include "notificationscheduler.h"
#include "notificationservice.h"
#include "notificationsettings.h"
#include "novalue.h"
#include "smtpserver.h"
#include "writeralarmeventstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The longest lateness of a 10 ms timer on this thread over `ms`.
qint64 longestStall(int ms)
{
    QElapsedTimer clock;
    clock.start();
    qint64 last = 0;
    qint64 worst = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        worst = std::max(worst, now - last - 10);
        last = now;
    });
    probe.start(10);
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    return worst;
}

NotificationMessage message(qint64 id)
{
    NotificationEvent e;
    e.eventId = id;
    e.projectName = QStringLiteral("bench");
    e.nodeName = QStringLiteral("Room 3");
    e.serial = QStringLiteral("1001");
    e.channelName = QStringLiteral("Temperature");
    e.value = 31.5;
    e.limit = 30;
    e.unit = QStringLiteral("degC");
    e.start = QDateTime::currentDateTime();
    return NotificationMessage(e);
}

NotificationTarget target(quint16 port, SmtpSecurity security, int totalMs)
{
    NotificationTarget t;
    t.host = QStringLiteral("127.0.0.1");
    t.port = port;
    t.security = security;
    t.sender = QStringLiteral("rec@bench.example");
    t.recipients = QStringList{QStringLiteral("duty@bench.example")};
    t.totalTimeoutMs = totalMs;
    return t;
}

void delivery(const char* name, SmtpServer& server, NotificationTarget t, bool show)
{
    NotificationService service;
    std::vector<qint64> times;
    for (int i = 0; i < 20; ++i) {
        const int before = server.messages().size();
        QElapsedTimer clock;
        clock.start();
        service.send(message(i), t);
        while (server.messages().size() == before && clock.elapsed() < 10000) {
            QEventLoop loop;
            QTimer::singleShot(2, &loop, &QEventLoop::quit);
            loop.exec();
        }
        times.push_back(clock.elapsed());
    }
    std::sort(times.begin(), times.end());
    std::printf("3. send() to stored, %-22s median %lld ms, longest %lld ms (20 messages)\n", name,
                static_cast<long long>(times[times.size() / 2]),
                static_cast<long long>(times.back()));
    if (show && !server.messages().isEmpty())
        std::printf("%s\n", server.messages().first().constData());
}

constexpr int Nodes = 16;

// The recorder's share of the work at a 1 s interval: 16 nodes sampled into the alarm monitor
// and the database writer (whose alarm log goes through it as well), and, when given a port,
// the project's notifications by e-mail to 127.0.0.1 on it.
class RecorderLoop
{
public:
    RecorderLoop(const QString& database, quint16 smtpPort)
        : writer(database, QUuid::createUuid().toString())
    {
        writer.open();
        writer.setGatewayCount(8);
        store = std::make_unique<WriterAlarmEventStore>(&writer, database);
        store->open();
        monitor = std::make_unique<AlarmMonitor>(store.get());
        for (int n = 0; n < Nodes; ++n) {
            MonitoredNode node;
            node.serial = QString::number(1000 + n);
            node.nodeName = QStringLiteral("Room ") + QString::number(n + 1);
            node.channelName[0] = QStringLiteral("Temperature");
            node.unit[0] = QStringLiteral("degC");
            node.max[0] = 30;
            node.min[0] = 0;
            monitor->setNode(node);
            values[n] = 20;
        }
        if (smtpPort != 0) {
            service = std::make_unique<NotificationService>();
            outbox = std::make_unique<NotificationOutbox>(&writer, database, service.get());
            scheduler = std::make_unique<NotificationScheduler>(monitor.get(), outbox.get());
            NotificationSettings settings;
            settings.emailEnabled = true;
            settings.smtpHost = QStringLiteral("127.0.0.1");
            settings.smtpPort = smtpPort;
            settings.smtpSecurity = SmtpSecurity::None;
            settings.sender = QStringLiteral("rec@bench.example");
            settings.recipients = QStringList{QStringLiteral("duty@bench.example")};
            settings.notifyClear = false;
            scheduler->setSettings(settings);
            outbox->setTarget(settings.emailTarget(QString()));
        }
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
    }
    ~RecorderLoop()
    {
        timer.stop();
        scheduler.reset();
        monitor->stop();
        outbox.reset();
        service.reset();
        writer.flushAndWait(QDateTime::currentMSecsSinceEpoch());
    }

    void start() { timer.start(1000); }
    void poll()
    {
        const QDateTime now = QDateTime::currentDateTime();
        ++second;
        for (int n = 0; n < Nodes; ++n) {
            double value = values[n];
            // Every node out of range for 2 s of every 4, each at its own time.
            if (flapping)
                value = (second + n) % 4 < 2 ? 35 : 20;
            monitor->sample(QString::number(1000 + n), value, NoValue, -1, now);
            writer.queueSample(
                {QString::number(1000 + n), value, 50, quint32(now.toSecsSinceEpoch())});
        }
        monitor->tick();
        if (scheduler) {
            scheduler->tick();
            outbox->tick();
        }
        writer.tick(now.toMSecsSinceEpoch());
    }

    DatabaseWriter writer;
    std::unique_ptr<WriterAlarmEventStore> store;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<NotificationService> service;
    std::unique_ptr<NotificationOutbox> outbox;
    std::unique_ptr<NotificationScheduler> scheduler;
    QTimer timer;
    double values[Nodes];
    bool flapping = false;
    int second = 0;
};

void runFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

void alarmToStored(const QString& folder)
{
    SmtpServer server(folder);
    if (!server.start(SmtpServer::Mode::Plain)) {
        std::printf("4. the SMTP server did not start\n");
        return;
    }
    RecorderLoop recorder(folder + QStringLiteral("/latency.dat"), server.port());
    recorder.start();
    runFor(1500);
    std::vector<qint64> times;
    for (int i = 0; i < 10; ++i) {
        runFor(QRandomGenerator::global()->bounded(1000));
        const int before = server.messages().size();
        QElapsedTimer clock;
        clock.start();
        recorder.values[0] = 35;
        while (server.messages().size() == before && clock.elapsed() < 20000)
            runFor(2);
        times.push_back(clock.elapsed());
        recorder.values[0] = 20;
        runFor(2500);
    }
    std::sort(times.begin(), times.end());
    std::printf("4. value out of range to message stored (1 s interval, delay 0, 16 nodes): "
                "median %lld ms, longest %lld ms (10 alarms)\n",
                static_cast<long long>(times[times.size() / 2]),
                static_cast<long long>(times.back()));
}

void stallWithSilentServer(const QString& folder, quint16 silentPort, int seconds)
{
    qint64 bare = 0;
    qint64 sending = 0;
    int waiting = 0;
    {
        RecorderLoop recorder(folder + QStringLiteral("/bare.dat"), 0);
        recorder.flapping = true;
        recorder.start();
        bare = longestStall(seconds * 1000);
    }
    {
        RecorderLoop recorder(folder + QStringLiteral("/silent.dat"), silentPort);
        recorder.flapping = true;
        recorder.start();
        sending = longestStall(seconds * 1000);
        waiting = recorder.outbox->waitingCount();
    }
    std::printf("5. longest stall of the recorder's thread: %lld ms with the outbox sending to a "
                "silent server (%d messages waiting at the end), %lld ms without notifications, "
                "%d s each\n",
                static_cast<long long>(sending), waiting, static_cast<long long>(bare), seconds);
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Percent of one core over `seconds` of the recorder loop.
double load(RecorderLoop& recorder, int seconds)
{
    recorder.flapping = true;
    recorder.start();
    runFor(2000);
    const double before = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(seconds * 1000);
    return 100.0 * (cpuSeconds() - before) / (wall.elapsed() / 1000.0);
}

void cpu(const QString& folder, int seconds)
{
    SmtpServer server(folder);
    if (!server.start(SmtpServer::Mode::Plain)) {
        std::printf("6. the SMTP server did not start\n");
        return;
    }
    double bare = 0;
    double busy = 0;
    int stored = 0;
    {
        RecorderLoop recorder(folder + QStringLiteral("/cpu-bare.dat"), 0);
        bare = load(recorder, seconds);
    }
    {
        RecorderLoop recorder(folder + QStringLiteral("/cpu-busy.dat"), server.port());
        busy = load(recorder, seconds);
    }
    stored = server.messages().size();
    std::printf("6. CPU of the recorder loop (16 nodes, 1 s): %5.2f %% of one core with the outbox "
                "busy (%d messages stored by the server), %5.2f %% without notifications; "
                "added: %5.2f percentage points, %d s each\n",
                busy, stored, bare, busy - bare, seconds);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.warning=false"));
    int seconds = 20;
    const QStringList args = app.arguments();
    const int at = args.indexOf(QStringLiteral("--seconds"));
    if (at > 0 && at + 1 < args.size())
        seconds = args.at(at + 1).toInt();

    const bool show = args.contains(QStringLiteral("--show-message"));

    QTcpServer silent;
    silent.listen(QHostAddress::LocalHost, 0);
    const qint64 baseline = longestStall(seconds * 1000);
    qint64 sending = 0;
    {
        NotificationService service;
        int outcomes = 0;
        const NotificationTarget t = target(silent.serverPort(), SmtpSecurity::StartTls, 2000);
        QObject::connect(&service, &NotificationService::finished, [&] {
            ++outcomes;
            service.send(message(outcomes), t);
        });
        service.send(message(0), t);
        sending = longestStall(seconds * 1000);
        std::printf("1. longest stall of the calling thread: %lld ms while sending to a silent "
                    "server (%d sends timed out), %lld ms baseline (nothing sent), %d s each\n",
                    static_cast<long long>(sending), outcomes, static_cast<long long>(baseline),
                    seconds);
        QElapsedTimer clock;
        clock.start();
        service.stop();
        std::printf("2. stop() in the middle of a send to the silent server: %lld ms\n",
                    static_cast<long long>(clock.elapsed()));
    }

    QTemporaryDir dir;
    SmtpServer plain(dir.path());
    if (plain.start(SmtpServer::Mode::Plain))
        delivery("plain:", plain, target(plain.port(), SmtpSecurity::None, 10000), false);
    SmtpServer tls(dir.path());
    if (tls.start(SmtpServer::Mode::StartTls, QStringLiteral("u"), QStringLiteral("p"))) {
        NotificationTarget t = target(tls.port(), SmtpSecurity::StartTls, 10000);
        t.user = QStringLiteral("u");
        t.password = QStringLiteral("p");
        t.caFile = tls.caFile();
        delivery("STARTTLS with login:", tls, t, show);
    }
    alarmToStored(dir.path());
    stallWithSilentServer(dir.path(), silent.serverPort(), seconds);
    const int cpuAt = args.indexOf(QStringLiteral("--cpu-seconds"));
    cpu(dir.path(), cpuAt > 0 && cpuAt + 1 < args.size() ? args.at(cpuAt + 1).toInt() : 30);
    return 0;
}
