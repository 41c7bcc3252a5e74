// A recorder's writer in a process of its own, for tst_databasewriter to kill: it opens the
// database given (whose index build the test slows down), records one sample a second on a
// clock of its own, 80 seconds of them in a moment, and then waits to be killed. It prints
// "journaled N" whenever the writer has N samples in its journal.
//   usage: writerhelper DATABASE

#include "databasewriter.h"

#include <QCoreApplication>
#include <QUuid>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    DatabaseWriter writer(QString::fromLocal8Bit(argv[1]), QUuid::createUuid().toString());
    if (!writer.open() || !writer.isBuilding())
        return 3;
    const quint32 first = 1700000000;
    for (int second = 0; second <= 80; ++second) {
        writer.queueSample({QStringLiteral("KILL"), 20.0 + second, 50, first + quint32(second)});
        writer.tick(qint64(second) * 1000);
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
