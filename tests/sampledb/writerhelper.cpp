// A recorder's writer in a process of its own, for tst_databasewriter to kill: it opens the
// database given (whose index build the test slows down) and records 16 nodes of two gateways
// at a 1-second interval, SECONDS seconds of them in a moment on a clock of its own, ticking the
// writer every FlushPolicy::TickMs as the recording does; then it waits to be killed. It prints
// "journaled N" whenever the writer has N samples in its journal.
//   usage: writerhelper DATABASE SECONDS

#include "databasewriter.h"
#include "flushpolicy.h"

#include <QCoreApplication>
#include <QUuid>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    const int seconds = QByteArray(argv[2]).toInt();
    DatabaseWriter writer(QString::fromLocal8Bit(argv[1]), QUuid::createUuid().toString());
    if (seconds < 1 || !writer.open() || !writer.isBuilding())
        return 3;
    writer.setGatewayCount(2);
    const quint32 first = 1700000000;
    // Samples on the second, ticks every TickMs: a tick sees what came since the one before.
    for (qint64 ms = 0; ms < qint64(seconds) * 1000; ms += 500) {
        if (ms % 1000 == 0) {
            const int second = int(ms / 1000);
            for (int node = 0; node < 16; ++node)
                writer.queueSample({QStringLiteral("K%1").arg(node, 2, 10, QLatin1Char('0')),
                                    20.0 + second, 50, first + quint32(second)});
        }
        if (ms % FlushPolicy::TickMs == 0)
            writer.tick(ms);
    }
    qint64 printed = 0;
    QObject::connect(&writer, &DatabaseWriter::statusChanged, &writer, [&writer, &printed] {
        if (writer.status().journalSamples > printed) {
            printed = writer.status().journalSamples;
            std::printf("journaled %lld\n", static_cast<long long>(printed));
            std::fflush(stdout);
        }
    });
    return QCoreApplication::exec();
}
