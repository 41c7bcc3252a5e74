// gatewaysim: a Modbus TCP simulator of the wireless sensor gateways, for tests, benchmarks and
// demonstrations. It serves holding registers on 127.0.0.1 only and takes commands on stdin.

#include "commandinterpreter.h"
#include "gatewayserver.h"
#include "simconfig.h"

#include <QString>
#include <QStringList>

#include <csignal>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

void printUsage()
{
    std::cout
        << "Usage: gatewaysim [--config FILE.json] [--gateway MODEL[:PORT] "
           "[--node START[/CH1[/CH2[/LQI[/BATTERY]]]]]...]...\n"
           "\n"
           "Simulates Modbus TCP gateways (models TQ100 and TQ700) on 127.0.0.1. Each gateway\n"
           "listens on its own port (0 or none picks a free one from 20000 to 32767) and serves\n"
           "holding registers (function code 3, 0-based addresses, any unit id). A node's\n"
           "record at start register S: S,S+1 channel 1 and S+2,S+3 channel 2 as IEEE-754\n"
           "floats, low-order 16 bits first; for TQ100 also S+4,S+5 link quality and S+6,S+7\n"
           "battery as signed 32-bit integers, low-order 16 bits first (channels win where\n"
           "records overlap). Registers without a node read 0.\n"
           "\n"
           "  --config FILE   gateways from a JSON file: {\"gateways\":[{\"model\":\"TQ100\",\n"
           "                  \"port\":1502,\"nodes\":[{\"start\":0,\"ch1\":\"sine:22,4,120\",\n"
           "                  \"ch2\":45,\"lqi\":200,\"battery\":95}]}]}\n"
           "  --gateway M[:P] adds a gateway of model M on port P\n"
           "  --node S/...    adds a node to the last gateway, e.g. --node 0/21.5/ramp:40,1,30,60/"
           "200/95\n"
           "  --help          this text\n"
           "\n"
           "On start it prints one line per gateway, \"gateway INDEX 127.0.0.1:PORT MODEL nodes "
           "S,S,...\",\nthen \"READY\".\n\n"
        << CommandInterpreter::usage().toStdString() << std::flush;
}

int fail(const QString& text)
{
    std::cerr << "gatewaysim: " << text.toStdString() << std::endl;
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    // A client that vanishes while we write must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QVector<SimGateway> layouts;
    QString error;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            printUsage();
            return 0;
        }
        const bool takesValue = arg == QLatin1String("--config") ||
                                arg == QLatin1String("--gateway") || arg == QLatin1String("--node");
        if (!takesValue)
            return fail(QStringLiteral("unknown argument '%1' (try --help)").arg(arg));
        if (i + 1 >= args.size())
            return fail(QStringLiteral("%1 needs a value").arg(arg));
        const QString value = args.at(++i);
        if (arg == QLatin1String("--config")) {
            if (!SimConfig::loadFile(value, &layouts, &error))
                return fail(error);
        } else if (arg == QLatin1String("--gateway")) {
            SimGateway gateway;
            if (!SimConfig::parseGateway(value, &gateway, &error))
                return fail(error);
            layouts.append(gateway);
        } else {
            if (layouts.isEmpty())
                return fail(QStringLiteral("--node before any --gateway"));
            SimNode node;
            if (!SimConfig::parseNode(value, &node, &error))
                return fail(error);
            layouts.last().nodes.append(node);
        }
    }
    if (!SimConfig::validate(layouts, &error))
        return fail(error);

    const auto epoch = GatewayServer::Clock::now();
    std::vector<std::unique_ptr<GatewayServer>> gateways;
    for (int g = 0; g < layouts.size(); ++g) {
        gateways.push_back(std::make_unique<GatewayServer>(g, layouts.at(g), epoch));
        if (!gateways.back()->listen(&error))
            return fail(QStringLiteral("gateway %1: ").arg(g) + error);
        std::cout << gateways.back()->describe().toStdString() << '\n';
    }
    std::cout << "READY" << std::endl;

    CommandInterpreter interpreter(gateways);
    std::string line;
    bool quit = false;
    // End of input also ends the simulator, so it never outlives a test that died.
    while (!quit && std::getline(std::cin, line)) {
        const QString answer = interpreter.execute(QString::fromStdString(line), &quit);
        if (!answer.isEmpty())
            std::cout << answer.toStdString() << std::endl;
    }
    gateways.clear();
    return 0;
}
