#include "gatewaysimulator.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QRegularExpression>

#include <cmath>

#ifndef GATEWAYSIM_PATH
#error "GATEWAYSIM_PATH must name the simulator binary"
#endif

namespace {

QString numberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    return QString::number(value, 'g', 17);
}

} // namespace

GatewaySimulator::GatewaySimulator() = default;

GatewaySimulator::~GatewaySimulator()
{
    stop();
}

QString GatewaySimulator::programPath()
{
    return QStringLiteral(GATEWAYSIM_PATH);
}

GatewaySimulator::Gateway GatewaySimulator::gateway(const QString& model,
                                                    const QVector<int>& startRegisters)
{
    Gateway g;
    g.model = model;
    for (int start : startRegisters) {
        Node node;
        node.startRegister = start;
        g.nodes.append(node);
    }
    return g;
}

bool GatewaySimulator::start(const QVector<Gateway>& gateways, int timeoutMs)
{
    QStringList arguments;
    for (const Gateway& g : gateways) {
        arguments << QStringLiteral("--gateway")
                  << g.model + QLatin1Char(':') + QString::number(g.port);
        for (const Node& n : g.nodes) {
            arguments << QStringLiteral("--node")
                      << QStringLiteral("%1/%2/%3/%4/%5")
                             .arg(n.startRegister)
                             .arg(n.ch1, n.ch2)
                             .arg(n.lqi)
                             .arg(n.battery);
        }
    }
    return startWithArguments(arguments, timeoutMs);
}

bool GatewaySimulator::startWithArguments(const QStringList& arguments, int timeoutMs)
{
    stop();
    m_error.clear();
    m_process = std::make_unique<QProcess>();
    // The simulator's complaints go straight to the test log.
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process->start(programPath(), arguments);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error =
            QStringLiteral("cannot start %1: %2").arg(programPath(), m_process->errorString());
        stop();
        return false;
    }
    static const QRegularExpression gatewayLine(
        QStringLiteral("^gateway (\\d+) 127\\.0\\.0\\.1:(\\d+) "));
    const QDeadlineTimer deadline(timeoutMs);
    QString line;
    while (readLine(&line, int(deadline.remainingTime()))) {
        if (line == QLatin1String("READY"))
            return true;
        const QRegularExpressionMatch match = gatewayLine.match(line);
        if (match.hasMatch())
            m_ports.append(quint16(match.captured(2).toUInt()));
    }
    if (m_error.isEmpty())
        m_error = QStringLiteral("simulator did not report READY");
    stop();
    return false;
}

void GatewaySimulator::stop()
{
    m_ports.clear();
    m_lateAnswers = 0;
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->write("quit\n");
        m_process->closeWriteChannel();
        if (!m_process->waitForFinished(1000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

bool GatewaySimulator::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 GatewaySimulator::processId() const
{
    return m_process ? m_process->processId() : 0;
}

quint16 GatewaySimulator::port(int gateway) const
{
    return gateway >= 0 && gateway < m_ports.size() ? m_ports.at(gateway) : 0;
}

bool GatewaySimulator::readLine(QString* line, int timeoutMs)
{
    const QDeadlineTimer deadline(qMax(0, timeoutMs));
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running) {
            m_error = QStringLiteral("simulator exited (code %1)").arg(m_process->exitCode());
            return false;
        }
        if (deadline.hasExpired() || !m_process->waitForReadyRead(int(deadline.remainingTime()))) {
            if (m_process->canReadLine())
                break;
            if (deadline.hasExpired()) {
                m_error = QStringLiteral("simulator did not answer in time");
                return false;
            }
        }
    }
    *line = QString::fromUtf8(m_process->readLine()).trimmed();
    return true;
}

QString GatewaySimulator::command(const QString& line, int timeoutMs)
{
    if (!isRunning()) {
        m_error = QStringLiteral("simulator is not running");
        return QString();
    }
    m_process->write(line.toUtf8() + '\n');
    QString answer;
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (!readLine(&answer, int(deadline.remainingTime()))) {
            ++m_lateAnswers;
            return QString();
        }
        if (m_lateAnswers == 0)
            break;
        // The answer of an earlier command that timed out: skip it to stay in step.
        --m_lateAnswers;
    }
    if (!answer.startsWith(QLatin1String("OK")))
        m_error = answer;
    return answer;
}

bool GatewaySimulator::send(const QString& line, int timeoutMs)
{
    return command(line, timeoutMs).startsWith(QLatin1String("OK"));
}

bool GatewaySimulator::setChannel(int gateway, int startRegister, int channel,
                                  const QString& pattern)
{
    return send(QStringLiteral("set %1 %2 ch%3 %4")
                    .arg(gateway)
                    .arg(startRegister)
                    .arg(channel)
                    .arg(pattern));
}

bool GatewaySimulator::setChannel(int gateway, int startRegister, int channel, double value)
{
    return setChannel(gateway, startRegister, channel, numberText(value));
}

bool GatewaySimulator::setLqi(int gateway, int startRegister, qint32 value)
{
    return send(QStringLiteral("set %1 %2 lqi %3").arg(gateway).arg(startRegister).arg(value));
}

bool GatewaySimulator::setBattery(int gateway, int startRegister, qint32 value)
{
    return send(QStringLiteral("set %1 %2 battery %3").arg(gateway).arg(startRegister).arg(value));
}

bool GatewaySimulator::setFault(int gateway, const QString& mode)
{
    return send(QStringLiteral("fault %1 %2").arg(gateway).arg(mode));
}

bool GatewaySimulator::stopGateway(int gateway)
{
    return send(QStringLiteral("stop %1").arg(gateway));
}

bool GatewaySimulator::startGateway(int gateway)
{
    return send(QStringLiteral("start %1").arg(gateway));
}

qint64 GatewaySimulator::statistic(int gateway, const QString& name)
{
    const QRegularExpression value(QStringLiteral("\\b%1=(\\d+)\\b").arg(name));
    const QRegularExpressionMatch match =
        value.match(command(QStringLiteral("stats %1").arg(gateway)));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

qint64 GatewaySimulator::pollCount(int gateway)
{
    return statistic(gateway, QStringLiteral("polls"));
}

qint64 GatewaySimulator::requestCount(int gateway)
{
    return statistic(gateway, QStringLiteral("requests"));
}
