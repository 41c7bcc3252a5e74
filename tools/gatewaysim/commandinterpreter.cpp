#include "commandinterpreter.h"

#include "gatewayserver.h"

#include <QRegularExpression>
#include <QStringList>

#include <limits>

namespace {

QString err(const QString& text)
{
    return QStringLiteral("ERR ") + text;
}

bool toInt(const QString& text, qint64 low, qint64 high, qint64* out)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

QString statsText(const GatewayStats& s)
{
    return QStringLiteral("polls=%1 requests=%2 connections=%3 clients=%4")
        .arg(s.polls)
        .arg(s.requests)
        .arg(s.connections)
        .arg(s.clients);
}

} // namespace

CommandInterpreter::CommandInterpreter(const std::vector<std::unique_ptr<GatewayServer>>& gateways)
    : m_gateways(gateways)
{
}

QString CommandInterpreter::usage()
{
    return QStringLiteral(
        "Commands (one per line on standard input, each answered with one line OK ... or ERR "
        "...):\n"
        "  set G S ch1|ch2 PATTERN   channel of the node at start register S of gateway G\n"
        "  set G S lqi|battery N     link quality or battery (32-bit integer)\n"
        "  fault G MODE              none | silent | slow MS | exception [CODE] | short |\n"
        "                            drop N | trickle MS | unreachable | stopped\n"
        "  stop G | start G          close / reopen the gateway's listening socket (same port)\n"
        "  stats [G]                 polls answered, requests, connections, open clients\n"
        "  list                      index, port and model of every gateway\n"
        "  help                      list of commands\n"
        "  quit                      stop every gateway and exit (also on end of input)\n"
        "PATTERN: 21.5 | nan | inf | -inf | ramp:START,STEP,LOW,HIGH | "
        "sine:OFFSET,AMPLITUDE,PERIOD |\n"
        "         pulse:BASE,PEAK,PERIOD,DURATION\n");
}

GatewayServer* CommandInterpreter::gateway(const QString& text, QString* error) const
{
    qint64 index = 0;
    if (!toInt(text, 0, qint64(m_gateways.size()) - 1, &index)) {
        *error = QStringLiteral("no gateway '%1'").arg(text);
        return nullptr;
    }
    return m_gateways.at(size_t(index)).get();
}

QString CommandInterpreter::execute(const QString& line, bool* quit)
{
    *quit = false;
    const QStringList words =
        line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QString();
    const QString command = words.first().toLower();
    QString error;

    if (command == QLatin1String("quit") || command == QLatin1String("exit")) {
        *quit = true;
        return QStringLiteral("OK bye");
    }
    if (command == QLatin1String("help"))
        return QStringLiteral("OK commands: set, fault, stop, start, stats, list, help, quit");
    if (command == QLatin1String("set"))
        return set(words);
    if (command == QLatin1String("fault"))
        return fault(words);
    if (command == QLatin1String("stats"))
        return stats(words);
    if (command == QLatin1String("list")) {
        QString answer = QStringLiteral("OK");
        for (const auto& g : m_gateways) {
            const QString state = g->isListening()     ? QStringLiteral("listening")
                                  : g->isUnreachable() ? QStringLiteral("unreachable")
                                                       : QStringLiteral("stopped");
            answer += QStringLiteral(" %1:%2:%3:%4")
                          .arg(g->index())
                          .arg(g->port())
                          .arg(g->model(), state);
        }
        return answer;
    }
    if (command == QLatin1String("stop") || command == QLatin1String("start")) {
        if (words.size() != 2)
            return err(QStringLiteral("usage: %1 G").arg(command));
        GatewayServer* g = gateway(words.at(1), &error);
        if (!g)
            return err(error);
        if (command == QLatin1String("stop")) {
            g->stop();
            return QStringLiteral("OK stopped %1").arg(g->index());
        }
        if (!g->listen(&error))
            return err(error);
        return QStringLiteral("OK listening %1 127.0.0.1:%2").arg(g->index()).arg(g->port());
    }
    return err(QStringLiteral("unknown command '%1' (try help)").arg(words.first()));
}

QString CommandInterpreter::set(const QStringList& words)
{
    if (words.size() != 5)
        return err(QStringLiteral("usage: set G S ch1|ch2|lqi|battery VALUE"));
    QString error;
    GatewayServer* g = gateway(words.at(1), &error);
    if (!g)
        return err(error);
    qint64 start = 0;
    if (!toInt(words.at(2), 0, 65535, &start) || !g->hasNode(int(start)))
        return err(QStringLiteral("gateway %1 has no node at start register '%2'")
                       .arg(g->index())
                       .arg(words.at(2)));
    const QString what = words.at(3).toLower();
    const QString answer = QStringLiteral("OK set %1 %2 %3 ").arg(g->index()).arg(start).arg(what);
    if (what == QLatin1String("ch1") || what == QLatin1String("ch2")) {
        ValuePattern pattern;
        if (!ValuePattern::parse(words.at(4), &pattern, &error))
            return err(error);
        g->setChannel(int(start), what == QLatin1String("ch1") ? 1 : 2, pattern);
        return answer + pattern.toString();
    }
    if (what == QLatin1String("lqi") || what == QLatin1String("battery")) {
        qint64 value = 0;
        if (!toInt(words.at(4), std::numeric_limits<qint32>::min(),
                   std::numeric_limits<qint32>::max(), &value))
            return err(QStringLiteral("'%1' is not a 32-bit integer").arg(words.at(4)));
        if (what == QLatin1String("lqi"))
            g->setLqi(int(start), qint32(value));
        else
            g->setBattery(int(start), qint32(value));
        return answer + QString::number(value);
    }
    return err(QStringLiteral("unknown value '%1': ch1, ch2, lqi or battery").arg(words.at(3)));
}

QString CommandInterpreter::fault(const QStringList& words)
{
    if (words.size() < 3 || words.size() > 4)
        return err(QStringLiteral("usage: fault G none|silent|slow MS|exception [CODE]|short|"
                                  "drop N|trickle MS|unreachable|stopped"));
    QString error;
    GatewayServer* g = gateway(words.at(1), &error);
    if (!g)
        return err(error);
    const QString mode = words.at(2).toLower();
    const bool hasArgument = words.size() == 4;
    QString answer = QStringLiteral("OK fault %1 %2").arg(g->index()).arg(mode);

    if (mode == QLatin1String("unreachable") || mode == QLatin1String("stopped")) {
        if (hasArgument)
            return err(QStringLiteral("fault %1 takes no argument").arg(mode));
        if (mode == QLatin1String("stopped"))
            g->stop();
        else if (!g->makeUnreachable(&error))
            return err(error);
        return answer;
    }

    FaultMode fault = FaultMode::None;
    qint64 n = 0;
    if (mode == QLatin1String("slow") || mode == QLatin1String("drop") ||
        mode == QLatin1String("trickle")) {
        const bool delay = mode != QLatin1String("drop");
        if (!hasArgument || !toInt(words.at(3), delay ? 0 : 1, delay ? 600000 : 1000000, &n))
            return err(delay ? QStringLiteral("usage: fault G %1 MS (0 to 600000)").arg(mode)
                             : QStringLiteral("usage: fault G drop N (N >= 1)"));
        fault = mode == QLatin1String("slow")      ? FaultMode::Slow
                : mode == QLatin1String("trickle") ? FaultMode::Trickle
                                                   : FaultMode::Drop;
        answer += QLatin1Char(' ') + QString::number(n);
    } else if (mode == QLatin1String("exception")) {
        n = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
        if (hasArgument && !toInt(words.at(3), 1, 255, &n))
            return err(QStringLiteral("usage: fault G exception [CODE] (1 to 255)"));
        fault = FaultMode::Exception;
        answer += QLatin1Char(' ') + QString::number(n);
    } else if (hasArgument) {
        return err(QStringLiteral("fault %1 takes no argument").arg(mode));
    } else if (mode == QLatin1String("silent")) {
        fault = FaultMode::Silent;
    } else if (mode == QLatin1String("short")) {
        fault = FaultMode::Short;
    } else if (mode != QLatin1String("none")) {
        return err(QStringLiteral("unknown fault mode '%1'").arg(words.at(2)));
    }
    // Every other mode serves requests: an unreachable gateway listens again.
    if (g->isUnreachable() && !g->listen(&error))
        return err(error);
    g->setFault(fault, int(n));
    return answer;
}

QString CommandInterpreter::stats(const QStringList& words) const
{
    if (words.size() > 2)
        return err(QStringLiteral("usage: stats [G]"));
    if (words.size() == 2) {
        QString error;
        const GatewayServer* g = gateway(words.at(1), &error);
        if (!g)
            return err(error);
        return QStringLiteral("OK gateway=%1 ").arg(g->index()) + statsText(g->stats());
    }
    QString answer = QStringLiteral("OK");
    for (const auto& g : m_gateways) {
        answer += QStringLiteral(" %1:").arg(g->index()) +
                  statsText(g->stats()).replace(QLatin1Char(' '), QLatin1Char(','));
    }
    return answer;
}
