#pragma once

#include <QString>

#include <memory>
#include <vector>

class GatewayServer;

// Runs the simulator's stdin commands against its gateways. Every command gives exactly one
// answer line beginning with "OK" or "ERR"; see usage() for the commands.
class CommandInterpreter
{
public:
    explicit CommandInterpreter(const std::vector<std::unique_ptr<GatewayServer>>& gateways);

    // Returns the answer line; *quit becomes true after "quit". An empty line gives no answer.
    QString execute(const QString& line, bool* quit);

    static QString usage();

private:
    GatewayServer* gateway(const QString& text, QString* error) const;
    QString set(const QStringList& words);
    QString fault(const QStringList& words);
    QString stats(const QStringList& words) const;

    const std::vector<std::unique_ptr<GatewayServer>>& m_gateways;
};
