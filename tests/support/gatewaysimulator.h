#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>

class QProcess;

// Runs the gateway simulator (tools/gatewaysim) as a child process for tests and benchmarks.
//
//   GatewaySimulator sim;
//   GatewaySimulator::Gateway gw;                      // model "TQ100", free port
//   gw.nodes = {{0, QStringLiteral("21.5"), QStringLiteral("45")}, {4}};
//   QVERIFY2(sim.start({gw}), qPrintable(sim.errorString()));
//   ... connect to 127.0.0.1 : sim.port(0) ...
//   QVERIFY(sim.setChannel(0, 0, 1, 35.0));           // gateway 0, node at register 0, channel 1
//   QVERIFY(sim.setFault(0, QStringLiteral("silent")));
//
// Channel values are numbers or pattern texts: "21.5", "nan", "inf", "-inf",
// "ramp:START,STEP,LOW,HIGH" (STEP per second, wrapping), "sine:OFFSET,AMPLITUDE,PERIOD",
// "pulse:BASE,PEAK,PERIOD,DURATION" (PEAK for the first DURATION seconds of each PERIOD).
// Fault modes: "none", "silent", "slow MS", "exception [CODE]", "short", "drop N",
// "trickle MS" (each byte of an answer MS later), "unreachable" (connects time out), "stopped".
// Every call waits for the simulator's answer; nothing needs an event loop. The destructor
// stops the process, killing it if it does not quit, so no simulator outlives its test; the
// simulator also quits by itself when its standard input closes (the test process died).
class GatewaySimulator
{
public:
    struct Node
    {
        int startRegister = 0;
        QString ch1 = QStringLiteral("0");
        QString ch2 = QStringLiteral("0");
        qint32 lqi = 0;
        qint32 battery = 0;
    };
    struct Gateway
    {
        QString model = QStringLiteral("TQ100"); // "TQ100" or "TQ700"
        quint16 port = 0;                        // 0 picks a free port from 20000 to 32767
        QVector<Node> nodes;
    };

    GatewaySimulator();
    ~GatewaySimulator();
    GatewaySimulator(const GatewaySimulator&) = delete;
    GatewaySimulator& operator=(const GatewaySimulator&) = delete;

    // Path of the simulator binary built with the project.
    static QString programPath();
    // A gateway of the given model with nodes at the given start registers, values 0.
    static Gateway gateway(const QString& model, const QVector<int>& startRegisters);

    // Starts the simulator and waits for "READY"; false (see errorString()) when it did not
    // come up. Restarts it when it is already running.
    bool start(const QVector<Gateway>& gateways, int timeoutMs = 10000);
    // Same with raw command-line arguments, e.g. {"--config", path}.
    bool startWithArguments(const QStringList& arguments, int timeoutMs = 10000);
    // Asks the simulator to quit, kills it if it does not within a second, and waits for it.
    void stop();

    bool isRunning() const;
    qint64 processId() const;
    int gatewayCount() const { return m_ports.size(); }
    // Port bound by gateway `gateway` (0 when there is no such gateway).
    quint16 port(int gateway) const;

    // Sends one command line and returns its answer line ("OK ..." or "ERR ..."); an empty
    // text when the simulator is not running or did not answer in time.
    QString command(const QString& line, int timeoutMs = 5000);
    // True when the command was answered with "OK".
    bool send(const QString& line, int timeoutMs = 5000);

    bool setChannel(int gateway, int startRegister, int channel, const QString& pattern);
    bool setChannel(int gateway, int startRegister, int channel, double value);
    bool setLqi(int gateway, int startRegister, qint32 value);
    bool setBattery(int gateway, int startRegister, qint32 value);
    bool setFault(int gateway, const QString& mode);
    bool stopGateway(int gateway);  // refuses connects, closes open ones
    bool startGateway(int gateway); // listens again on the same port
    // Requests answered with register data by the gateway so far; -1 on failure.
    qint64 pollCount(int gateway);
    // Requests the gateway received so far, answered or not; -1 on failure.
    qint64 requestCount(int gateway);

    QString errorString() const { return m_error; }

private:
    bool readLine(QString* line, int timeoutMs);
    qint64 statistic(int gateway, const QString& name);

    std::unique_ptr<QProcess> m_process;
    QVector<quint16> m_ports;
    int m_lateAnswers = 0; // answers still owed to commands that timed out
    QString m_error;
};
