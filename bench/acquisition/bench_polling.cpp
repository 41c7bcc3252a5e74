// Poll-cycle cost and memory of a full project (8 gateways, 16 nodes) against the simulator.
//
//   bench_polling [--cycles N] [--memory-polls N]
//
// 1. Time per poll cycle through ConfiguredDevice::poll() (decoding, node updates, histories)
//    beside the bare modbus_read_registers round trips for the same blocks, same run.
// 2. Resident memory after 1,000 poll cycles and after N more (default 100,000).
#include "configureddevice.h"
#include "datainterval.h"
#include "gatewaysimulator.h"
#include "nodedevice.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>

#include <modbus.h>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kGateways = 8;
constexpr int kNodesPerGateway = 2;

long residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

// Plain libmodbus clients, one per gateway, connected once like the gateways' own links.
class BareClients
{
public:
    explicit BareClients(const GatewaySimulator& sim)
    {
        for (int g = 0; g < kGateways; ++g) {
            modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port(g));
            if (!ctx || modbus_connect(ctx) != 0) {
                std::fprintf(stderr, "bare client could not connect\n");
                std::exit(1);
            }
            contexts.push_back(ctx);
        }
    }
    ~BareClients()
    {
        for (modbus_t* ctx : contexts) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }

    double cycleMicros(int cycles)
    {
        uint16_t registers[128];
        QElapsedTimer timer;
        timer.start();
        for (int c = 0; c < cycles; ++c)
            for (modbus_t* ctx : contexts)
                if (modbus_read_registers(ctx, 0, 4 * kNodesPerGateway, registers) !=
                    4 * kNodesPerGateway)
                    std::fprintf(stderr, "bare read failed\n");
        return timer.nsecsElapsed() / 1000.0 / cycles;
    }

private:
    std::vector<modbus_t*> contexts;
};

double projectCycleMicros(const QList<ConfiguredDevice*>& gateways, int cycles)
{
    QElapsedTimer timer;
    timer.start();
    for (int c = 0; c < cycles; ++c)
        for (ConfiguredDevice* gateway : gateways)
            gateway->poll();
    return timer.nsecsElapsed() / 1000.0 / cycles;
}

int argument(const QStringList& args, const QString& name, int fallback)
{
    const int at = args.indexOf(name);
    return (at >= 0 && at + 1 < args.size()) ? args[at + 1].toInt() : fallback;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int cycles = argument(args, QStringLiteral("--cycles"), 5000);
    const int memoryPolls = argument(args, QStringLiteral("--memory-polls"), 100000);

    QVector<GatewaySimulator::Gateway> config;
    for (int g = 0; g < kGateways; ++g) {
        GatewaySimulator::Gateway gw =
            GatewaySimulator::gateway(g % 2 ? QStringLiteral("TQ700") : QStringLiteral("TQ100"),
                                      {0, 4});
        gw.nodes[0].ch1 = QStringLiteral("sine:20,5,60");
        gw.nodes[1].ch2 = QStringLiteral("ramp:0,0.5,0,100");
        config << gw;
    }
    GatewaySimulator sim;
    if (!sim.start(config)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }

    dataInterval = 1000;
    QObject owner;
    QList<ConfiguredDevice*> gateways;
    for (int g = 0; g < kGateways; ++g) {
        auto* gateway = new ConfiguredDevice(&owner);
        gateway->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(g));
        gateway->setDeviceModel(config[g].model);
        for (int n = 0; n < kNodesPerGateway; ++n) {
            auto* node = new NodeDevice(QStringLiteral("G%1N%2").arg(g).arg(n), gateway);
            node->startAddress = 4 * n;
            node->setAlarmRanges(10, 30, 0, 50);
            gateway->addNode(node);
        }
        gateways << gateway;
    }

    // Traces formatted and dropped, then traces switched off as a release log setting would.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    BareClients bare(sim);
    projectCycleMicros(gateways, 200);
    bare.cycleMicros(200);
    // Rounds alternate between the two, and the fastest round of each counts: other load on
    // the machine only ever adds time.
    constexpr int kRounds = 7;
    const int perRound = qMax(1, cycles / kRounds);
    double tracedProject = 1e300;
    double project = 1e300;
    double baseline = 1e300;
    for (int round = 0; round < kRounds; ++round) {
        QLoggingCategory::setFilterRules(QString());
        tracedProject = qMin(tracedProject, projectCycleMicros(gateways, perRound));
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        baseline = qMin(baseline, bare.cycleMicros(perRound));
        project = qMin(project, projectCycleMicros(gateways, perRound));
    }

    std::printf("poll cycle, %d gateways / %d nodes, %d cycles\n", kGateways,
                kGateways * kNodesPerGateway, cycles);
    std::printf("  fastest of %d rounds each\n", kRounds);
    std::printf("  bare modbus_read_registers : %8.1f us/cycle\n", baseline);
    std::printf("  ConfiguredDevice::poll     : %8.1f us/cycle  ratio %.2f (target <= 1.5)\n",
                project, project / baseline);
    std::printf("  same, traces formatted     : %8.1f us/cycle  ratio %.2f\n", tracedProject,
                tracedProject / baseline);

    for (ConfiguredDevice* gateway : gateways)
        for (NodeDevice* node : gateway->nodes())
            if (node->ch1Text.isEmpty()) {
                std::fprintf(stderr, "node %s got no data\n", qPrintable(node->deviceNumber));
                return 1;
            }

    projectCycleMicros(gateways, 1000);
    const long before = residentKiB();
    projectCycleMicros(gateways, memoryPolls);
    const long after = residentKiB();
    std::printf("memory, %d poll cycles after the first 1000\n", memoryPolls);
    std::printf("  resident before %ld KiB, after %ld KiB, growth %ld KiB (target < 1024)\n",
                before, after, after - before);
    return 0;
}
