// soak: runs the recorder's main window against the simulator's demo gateways (two gateways,
// eight nodes each) at a 1-second interval while recording, cycles the simulator's fault modes,
// prints the resident memory once a minute, and at the end checks that every poll the simulator
// answered while recording became exactly one row per node in the database.
//   usage: quillmar_soak [--seconds N] [--fault-period S] [--config FILE.json]
// Exit code 0 when the counts match and memory stayed flat (last minute within 10 % and 8 MB
// of the first minute after warm-up).

#include "demogateway.h"
#include "gatewaysimulator.h"
#include "projectfile.h"
#include "projectmain.h"
#include "quillmarmain.h"
#include "recordingcycle.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

// The demo configuration's gateways each serve eight nodes.
constexpr int NodesPerGateway = 8;

qint64 residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

void say(const QString& text)
{
    std::printf("%s\n", qPrintable(text));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    int seconds = 3600;
    int faultPeriod = 120;
    QString config = QStringLiteral(QUILLMAR_SOURCE_DIR "/tools/gatewaysim/demo.json");
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--fault-period"))
            faultPeriod = args[i + 1].toInt();
        else if (args[i] == QLatin1String("--config"))
            config = args[i + 1];
    }
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    const auto messageBox = [](QMessageBox::Icon, const QString& title, const QString& text,
                               QMessageBox::StandardButtons) {
        say(QStringLiteral("critical message: ") + title + QStringLiteral(": ") + text);
        return QMessageBox::Ok;
    };

    // The demo configuration on free ports, so that a running demo does not get in the way.
    QFile source(config);
    if (!source.open(QIODevice::ReadOnly)) {
        say(QStringLiteral("soak: cannot read ") + config);
        return 2;
    }
    QString json = QString::fromUtf8(source.readAll());
    json.replace(QRegularExpression(QStringLiteral("\"port\"\\s*:\\s*\\d+")),
                 QStringLiteral("\"port\": 0"));
    // The writer stores a node's identical rows of one second once, as a UNION does. Two
    // answered polls can fall into one second (a retry's poll, then the interval's next), and a
    // slow channel may read the same in both: one row for two polls, nothing lost, but the count
    // below would not match. A second channel that moves with every millisecond (across its
    // whole range each second, inside the demo's alarm limits) gives every answer a row of its own.
    json.replace(QRegularExpression(QStringLiteral("\"ch2\"\\s*:\\s*\"[^\"]*\"")),
                 QStringLiteral("\"ch2\": \"ramp:20,70,20,90\""));
    const QString simConfig = work.filePath(QStringLiteral("sim.json"));
    QFile simFile(simConfig);
    if (!simFile.open(QIODevice::WriteOnly) || simFile.write(json.toUtf8()) < 0)
        return 2;
    simFile.close();
    GatewaySimulator sim;
    if (!sim.startWithArguments({QStringLiteral("--config"), simConfig})) {
        say(QStringLiteral("soak: simulator: ") + sim.errorString());
        return 2;
    }

    const QString projectPath = work.filePath(QStringLiteral("Soak.tpc"));
    ProjectFile file(projectPath);
    file.create(1000);
    QList<GatewayConfig> gateways;
    for (int g = 0; g < sim.gatewayCount(); ++g)
        gateways << DemoGateway::config(g, sim.port(g), NodesPerGateway, g * NodesPerGateway + 1);
    file.saveDeviceList(gateways);

    // Answers come back through the event loop, so the counts match only when no answer is on
    // its way as recording starts and ends: while every gateway is silent, none is.
    auto setFaults = [&sim](const QString& mode) {
        for (int g = 0; g < sim.gatewayCount(); ++g)
            sim.setFault(g, mode);
    };
    setFaults(QStringLiteral("silent"));
    QuillmarMain window(messageBox);
    window.show();
    window.startScreen()->projectLoaded(projectPath);
    if (!window.isProjectOpen() || window.fatalError()) {
        say(QStringLiteral("soak: the project did not open"));
        return 2;
    }
    QVector<qint64> pollsAtStart;
    for (int g = 0; g < sim.gatewayCount(); ++g)
        pollsAtStart << sim.pollCount(g);
    window.slotStartRecord();
    setFaults(QStringLiteral("none"));
    say(QStringLiteral("soak: %1 s at 1 s with %2 gateways, faults change every %3 s")
            .arg(seconds)
            .arg(sim.gatewayCount())
            .arg(faultPeriod));

    // Fault modes in turn on one gateway at a time, each followed by a healthy period. In each
    // a poll either gets its whole answer in time or fails; the simulator counts as served only
    // whole answers, so short answers and dropped connections must leave no row.
    const QStringList modes = {QStringLiteral("silent"),   QStringLiteral("exception"),
                               QStringLiteral("slow 200"), QStringLiteral("stopped"),
                               QStringLiteral("short"),    QStringLiteral("exception 4"),
                               QStringLiteral("drop 3")};
    int step = 0;
    QTimer faults;
    QObject::connect(&faults, &QTimer::timeout, &window, [&] {
        const int gateway = (step / 2) % sim.gatewayCount();
        const QString mode =
            step % 2 ? QStringLiteral("none") : modes.at((step / 2) % modes.size());
        if (mode == QLatin1String("stopped"))
            sim.stopGateway(gateway);
        else if (mode == QLatin1String("none")) {
            sim.startGateway(gateway);
            sim.setFault(gateway, mode);
        } else
            sim.setFault(gateway, mode);
        say(QStringLiteral("  fault %1 on gateway %2").arg(mode).arg(gateway));
        ++step;
    });
    faults.start(faultPeriod * 1000);

    QElapsedTimer clock;
    clock.start();
    QVector<qint64> rss;
    QTimer minute;
    QObject::connect(&minute, &QTimer::timeout, &window, [&] {
        rss << residentKb();
        say(QStringLiteral("  t=%1 s  rss=%2 kB  pending=%3")
                .arg(clock.elapsed() / 1000)
                .arg(rss.last())
                .arg(window.recordingCycle()->pendingCount()));
    });
    minute.start(60000);
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QApplication::exec();

    faults.stop();
    minute.stop();
    // Silent, until every answer sent before has reached the recorder; then stop: the stop
    // writes the gap records and everything waiting.
    setFaults(QStringLiteral("silent"));
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit);
    settle.exec();
    window.slotStopRecord();
    QVector<qint64> served;
    for (int g = 0; g < sim.gatewayCount(); ++g)
        served << sim.pollCount(g) - pollsAtStart.value(g);
    rss << residentKb();

    const QString database = ProjectFile::databasePath(projectPath);
    int mismatches = 0;
    qint64 rows = 0;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("soakcheck"));
        db.setDatabaseName(database);
        db.open();
        for (int g = 0; g < gateways.size(); ++g) {
            for (const NodeConfig& node : qAsConst(gateways[g].nodes)) {
                QSqlQuery query(db);
                query.prepare(QStringLiteral("select count(*) from quorbinal where serialno = ? "
                                             "and not (channel1 is null and channel2 is null)"));
                query.addBindValue(node.deviceNumber);
                query.exec();
                const qint64 count = query.next() ? query.value(0).toLongLong() : -1;
                rows += count;
                if (count != served[g]) {
                    ++mismatches;
                    say(QStringLiteral("  node %1: %2 rows, gateway answered %3 polls")
                            .arg(node.deviceNumber)
                            .arg(count)
                            .arg(served[g]));
                }
            }
        }
        QSqlQuery check(db);
        check.exec(QStringLiteral("pragma integrity_check"));
        say(QStringLiteral("integrity: ") + (check.next() ? check.value(0).toString() : QString()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("soakcheck"));
    window.slotCloseProject();

    QStringList answered;
    for (int g = 0; g < served.size(); ++g)
        answered << QString::number(served[g]);
    const qint64 first = rss.size() > 2 ? rss[1] : rss.first();
    const qint64 last = rss.last();
    const bool flat = last <= first + qMax<qint64>(first / 10, 8192);
    say(QStringLiteral("polls answered while recording: %1; sample rows: %2; nodes with a "
                       "different count: %3")
            .arg(answered.join(QStringLiteral(" + ")))
            .arg(rows)
            .arg(mismatches));
    say(QStringLiteral("resident memory: after warm-up %1 kB, at the end %2 kB, highest %3 kB: %4")
            .arg(first)
            .arg(last)
            .arg(*std::max_element(rss.begin(), rss.end()))
            .arg(flat ? QStringLiteral("flat") : QStringLiteral("GROWING")));
    return mismatches == 0 && flat ? 0 : 1;
}
