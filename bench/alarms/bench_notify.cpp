// Sending notifications without holding up the caller.
//
//   bench_notify [--seconds N] [--show-message]
//
// 1. The longest stall of this thread's event loop (a 10 ms timer's lateness) for N seconds
//    (default 20) while the sender keeps sending to a server that accepts connections and never
//    answers (each send ends at its 2 s total timeout), beside the same probe for N seconds with
//    nothing sent (the baseline, same run).
// 2. How long stopping the sender takes in the middle of such a send.
// 3. From send() to the message stored by the test SMTP server (plain and STARTTLS with login),
//    20 messages each: median and longest; with --show-message, the first one as the server
//    stored it.
#include "notificationmessage.h"
#include "notificationservice.h"
#include "smtpserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

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

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
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
    return 0;
}
