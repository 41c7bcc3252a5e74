// A recorder that forwards to InfluxDB, in a process of its own for tst_forwarder to kill. It
// opens the database with the recorder's writer and switches forwarding on; once the forwarder's
// first cursor is stored it records ROWS rows of two nodes, one a second from 1700000000 (every
// seventh row of a node a gap record, every fifth channel 2 without a value), and prints
// "stored" when they are all in the file. It prints "position N" whenever the row cursor moved
// and runs until killed.
//   usage: forwarderhelper DATABASE INFLUX_URL INFLUX_DATABASE ROWS BATCH_ROWS

#include "databasewriter.h"
#include "forwarder.h"
#include "novalue.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUuid>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 6)
        return 2;
    const QStringList args = app.arguments();
    DatabaseWriter writer(args.at(1), QUuid::createUuid().toString());
    if (!writer.open())
        return 3;
    ForwardingSettings settings;
    settings.influx.enabled = true;
    settings.influx.url = args.at(2);
    settings.influx.database = args.at(3);
    const int rows = args.at(4).toInt();
    ForwarderOptions options;
    options.batchRows = args.at(5).toInt();
    options.aheadRows = options.batchRows * 2;
    options.pollMs = 50;
    options.positionMs = 50;
    options.statusMs = 200;
    options.timing.retryFirstMs = 100;
    options.timing.retryMaxMs = 400;
    options.timing.batchLines = options.batchRows;
    options.timing.reportIntervalMs = 20;
    Forwarder forwarder(args.at(1), settings, QString(), QString(), &writer, options);

    // A database timer that writes at once: the cursor's writes go in with it.
    QElapsedTimer clock;
    clock.start();
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &writer, [&] { writer.flush(clock.elapsed()); });
    ticker.start(100);

    bool recorded = rows == 0;
    QObject::connect(&writer, &DatabaseWriter::jobStored, &writer, [&](quint64, qint64) {
        if (recorded)
            return;
        recorded = true;
        const quint32 first = 1700000000;
        for (int i = 0; i < rows; ++i) {
            const int node = i % 2;
            const int n = i / 2;
            SampleRecord r{node ? QStringLiteral("KILL-B") : QStringLiteral("KILL-A"),
                           20.0 + n * 0.25, n % 5 == 0 ? NoValue : 40.0 + n, first + quint32(n)};
            if (n % 7 == 3)
                r.channel1 = r.channel2 = NoValue;
            writer.queueSample(r);
        }
        if (writer.flushAndWait(clock.elapsed())) {
            std::printf("stored\n");
            std::fflush(stdout);
        }
    });
    qint64 printed = -1;
    QObject::connect(&forwarder, &Forwarder::statesChanged, &forwarder, [&] {
        if (forwarder.states().isEmpty() || forwarder.states().first().position == printed)
            return;
        printed = forwarder.states().first().position;
        std::printf("position %lld\n", static_cast<long long>(printed));
        std::fflush(stdout);
    });
    return QCoreApplication::exec();
}
