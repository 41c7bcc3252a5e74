// A recorder's writer on its own: appends samples of four nodes to a database through
// InsertSerialData, the recorder's own writer, in batches with pauses between them, says "done"
// on stdout, and closes the database when it reads a line on stdin. Two runs with the same
// arguments write the same rows in the same transactions.
//   usage: viewer_appender DATABASE FIRST_TIME BATCHES PAUSE_MS

#include "insertserialdata.h"
#include "samplerecord.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: viewer_appender DATABASE FIRST_TIME BATCHES PAUSE_MS\n");
        return 2;
    }
    const QString database = QString::fromLocal8Bit(argv[1]);
    const quint32 first = quint32(std::stoul(argv[2]));
    const int batches = std::stoi(argv[3]);
    const int pause = std::stoi(argv[4]);
    {
        InsertSerialData writer(database, QStringLiteral("appender"));
        if (!writer.createConnection())
            return 1;
        quint32 time = first;
        for (int b = 0; b < batches; ++b) {
            // Thirty seconds of four nodes per flush, as a recorder does at a 1 s interval.
            for (int s = 0; s < 30; ++s, ++time) {
                for (int n = 1; n <= 4; ++n) {
                    SampleRecord record;
                    record.deviceNumber = QStringLiteral("GEN-%1").arg(n, 4, 10, QLatin1Char('0'));
                    record.channel1 = std::round((20 + 4 * std::sin(time / 50.0 + n)) * 100) / 100;
                    record.channel2 = std::round((50 + 9 * std::cos(time / 70.0 + n)) * 100) / 100;
                    record.pointDate = time;
                    writer.queueSample(record);
                }
            }
            writer.insertNow();
            QThread::msleep(ulong(pause));
        }
        std::printf("done\n");
        std::fflush(stdout);
        std::string line;
        std::getline(std::cin, line);
    }
    return 0;
}
