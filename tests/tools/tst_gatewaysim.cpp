// Drives the real gateway simulator through a plain libmodbus client, as the recorder does.

#include "gatewaysimulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <modbus/modbus.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// Register pair of a float as the gateways serve it: low-order half first.
QVector<quint16> floatRegisters(float value)
{
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return {quint16(bits & 0xFFFF), quint16(bits >> 16)};
}

QVector<quint16> intRegisters(qint32 value)
{
    const quint32 bits = quint32(value);
    return {quint16(bits & 0xFFFF), quint16(bits >> 16)};
}

float registersToFloat(quint16 low, quint16 high)
{
    const quint32 bits = (quint32(high) << 16) | low;
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A libmodbus client with the library defaults the recorder uses (0.5 s timeouts, unit 255).
class Client
{
public:
    explicit Client(quint16 port) : m_ctx(modbus_new_tcp("127.0.0.1", port)) {}
    ~Client()
    {
        if (m_ctx) {
            modbus_close(m_ctx);
            modbus_free(m_ctx);
        }
    }
    bool connect() { return m_ctx && modbus_connect(m_ctx) == 0; }
    void close() { modbus_close(m_ctx); }
    void setUnit(int unit) { modbus_set_slave(m_ctx, unit); }
    // Returns the library's result; the registers read land in *values.
    int read(int address, int count, QVector<quint16>* values)
    {
        values->fill(0, count);
        const int n = modbus_read_registers(m_ctx, address, count, values->data());
        m_errno = errno;
        return n;
    }
    QVector<quint16> read(int address, int count)
    {
        QVector<quint16> values;
        if (read(address, count, &values) != count)
            values.clear();
        return values;
    }
    int lastErrno() const { return m_errno; }

private:
    modbus_t* m_ctx;
    int m_errno = 0;
};

// What a client sees of a fault mode.
enum Outcome
{
    ReadFails,
    ConnectFails,
    Answers, // completely, in its own time
};

int rawConnect(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto* target = reinterpret_cast<const sockaddr*>(&address);
    if (fd >= 0 && ::connect(fd, target, sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

QVector<quint16> readOnce(quint16 port, int address, int count)
{
    Client client(port);
    if (!client.connect())
        return {};
    return client.read(address, count);
}

} // namespace

class TestGatewaySim : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void registerLayout_data();
    void registerLayout();
    void channelsWinOverNextNodesLinkRegisters();
    void anyUnitIdIsAnswered_data();
    void anyUnitIdIsAnswered();
    void readsOutsideTheTableAreRefused();
    void commandsChangeServedValues_data();
    void commandsChangeServedValues();
    void badCommandsAreRefused_data();
    void badCommandsAreRefused();
    void rampStaysWithinBoundsAndMoves();
    void sineStaysWithinAmplitude();
    void pulseStepsForItsDuration();
    void faultModes_data();
    void faultModes();
    void dropClosesEveryNthRequest();
    void stopRefusesConnectsAndStartListensAgain();
    void twoGatewaysOnDifferentPorts();
    void freePortsSuitTheRecorder();
    void slowAnswerDoesNotDelayOtherClients();
    void garbageAndDisconnectsDoNotStopSimulator();
    void pollStatisticsCountAnsweredReads();
    void badArgumentsEndWithError_data();
    void badArgumentsEndWithError();
    void configFile_data();
    void configFile();
    void demoConfigurationServesSixteenNodes();
    void noProcessLeftBehind();
    void endOfInputEndsSimulator();
    void helpPrintsUsage();
    void lateAnswerIsNotTakenForTheNextOne();

private:
    GatewaySimulator::Gateway singleNode(const QString& model, const QString& ch1,
                                         const QString& ch2, qint32 lqi, qint32 battery) const;

    std::unique_ptr<GatewaySimulator> m_sim;
};

void TestGatewaySim::init()
{
    m_sim = std::make_unique<GatewaySimulator>();
}

void TestGatewaySim::cleanup()
{
    m_sim.reset();
}

GatewaySimulator::Gateway TestGatewaySim::singleNode(const QString& model, const QString& ch1,
                                                     const QString& ch2, qint32 lqi,
                                                     qint32 battery) const
{
    GatewaySimulator::Gateway g;
    g.model = model;
    GatewaySimulator::Node node;
    node.ch1 = ch1;
    node.ch2 = ch2;
    node.lqi = lqi;
    node.battery = battery;
    g.nodes = {node};
    return g;
}

void TestGatewaySim::registerLayout_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QString>("ch1");
    QTest::addColumn<QString>("ch2");
    QTest::addColumn<int>("lqi");
    QTest::addColumn<int>("battery");
    QTest::addColumn<QVector<quint16>>("expected");

    QTest::newRow("TQ100 channels, lqi, battery")
        << "TQ100" << "21.5" << "-3.25" << 200 << 95
        << (QVector<quint16>{0x0000, 0x41AC} + floatRegisters(-3.25f) + intRegisters(200) +
            intRegisters(95));
    QTest::newRow("TQ100 negative and wide integers")
        << "TQ100" << "0" << "100.125" << -2 << 70000
        << (QVector<quint16>{0, 0} + floatRegisters(100.125f) + QVector<quint16>{0xFFFE, 0xFFFF} +
            QVector<quint16>{0x1170, 0x0001});
    QTest::newRow("TQ700 has no link registers")
        << "TQ700" << "21.5" << "45" << 200 << 95
        << (QVector<quint16>{0x0000, 0x41AC} + floatRegisters(45.0f) + QVector<quint16>(4, 0));
    QTest::newRow("nan and inf") << "TQ700" << "nan" << "inf" << 0 << 0
                                 << QVector<quint16>{0x0000, 0x7FC0, 0x0000, 0x7F80, 0, 0, 0, 0};
    QTest::newRow("-inf and beyond float range")
        << "TQ700" << "-inf" << "1e300" << 0 << 0
        << QVector<quint16>{0x0000, 0xFF80, 0x0000, 0x7F80, 0, 0, 0, 0};
}

// Catches a wrong word order, byte order or model rule in the served node record.
void TestGatewaySim::registerLayout()
{
    QFETCH(QString, model);
    QFETCH(QString, ch1);
    QFETCH(QString, ch2);
    QFETCH(int, lqi);
    QFETCH(int, battery);
    QFETCH(QVector<quint16>, expected);

    QVERIFY2(m_sim->start({singleNode(model, ch1, ch2, lqi, battery)}),
             qPrintable(m_sim->errorString()));
    QCOMPARE(m_sim->gatewayCount(), 1);
    QVERIFY(m_sim->port(0) != 0);
    QCOMPARE(readOnce(m_sim->port(0), 0, 8), expected);
}

// Catches link registers of one node overwriting the channels of the node four registers on.
void TestGatewaySim::channelsWinOverNextNodesLinkRegisters()
{
    GatewaySimulator::Gateway g = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4});
    g.nodes[0].ch1 = QStringLiteral("1.5");
    g.nodes[0].ch2 = QStringLiteral("2.5");
    g.nodes[0].lqi = 111;
    g.nodes[0].battery = 222;
    g.nodes[1].ch1 = QStringLiteral("3.5");
    g.nodes[1].ch2 = QStringLiteral("4.5");
    g.nodes[1].lqi = 333;
    g.nodes[1].battery = 444;
    QVERIFY2(m_sim->start({g}), qPrintable(m_sim->errorString()));

    const QVector<quint16> expected = floatRegisters(1.5f) + floatRegisters(2.5f) +
                                      floatRegisters(3.5f) + floatRegisters(4.5f) +
                                      intRegisters(333) + intRegisters(444);
    QCOMPARE(readOnce(m_sim->port(0), 0, 12), expected);
}

void TestGatewaySim::anyUnitIdIsAnswered_data()
{
    QTest::addColumn<int>("unit");
    QTest::newRow("library default 255") << 255;
    QTest::newRow("unit 1") << 1;
    QTest::newRow("unit 0") << 0;
    QTest::newRow("unit 17") << 17;
}

// Catches a simulator that only answers one unit id (the recorder sends the default 255).
void TestGatewaySim::anyUnitIdIsAnswered()
{
    QFETCH(int, unit);
    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ700"), QStringLiteral("21.5"),
                                     QStringLiteral("0"), 0, 0)}));
    Client client(m_sim->port(0));
    client.setUnit(unit);
    QVERIFY(client.connect());
    QCOMPARE(client.read(0, 2), (QVector<quint16>{0x0000, 0x41AC}));
}

// Catches reads past the register table being answered with garbage or crashing the server.
void TestGatewaySim::readsOutsideTheTableAreRefused()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0})}));
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    QVector<quint16> values;
    QCOMPARE(client.read(60000, 4, &values), -1);
    QCOMPARE(client.lastErrno(), int(EMBXILADD));
    // The connection and the gateway stay usable, and the library's maximum read works.
    QCOMPARE(client.read(0, 125, &values), 125);
}

void TestGatewaySim::commandsChangeServedValues_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("address");
    QTest::addColumn<QVector<quint16>>("expected");

    QTest::newRow("channel 1 of node 0") << "set 0 0 ch1 35.25" << 0 << floatRegisters(35.25f);
    QTest::newRow("channel 2 of node 4") << "set 0 4 ch2 -12.5" << 6 << floatRegisters(-12.5f);
    QTest::newRow("channel nan") << "set 0 4 ch1 nan" << 4 << QVector<quint16>{0x0000, 0x7FC0};
    QTest::newRow("channel -inf") << "set 0 0 ch2 -inf" << 2 << QVector<quint16>{0x0000, 0xFF80};
    QTest::newRow("lqi of last node") << "set 0 4 lqi 180" << 8 << intRegisters(180);
    QTest::newRow("battery of last node") << "set 0 4 battery -1" << 10
                                          << QVector<quint16>{0xFFFF, 0xFFFF};
    QTest::newRow("upper-case word") << "SET 0 0 CH1 7" << 0 << floatRegisters(7.0f);
}

// Catches stdin commands that are acknowledged but do not reach the served registers.
void TestGatewaySim::commandsChangeServedValues()
{
    QFETCH(QString, command);
    QFETCH(int, address);
    QFETCH(QVector<quint16>, expected);

    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4})}));
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    QVERIFY(client.read(address, 2) != expected);
    const QString answer = m_sim->command(command);
    QVERIFY2(answer.startsWith(QLatin1String("OK set ")), qPrintable(answer));
    // The same connection sees the new value at its next poll.
    QCOMPARE(client.read(address, 2), expected);
}

void TestGatewaySim::badCommandsAreRefused_data()
{
    QTest::addColumn<QString>("command");
    QTest::newRow("unknown command") << "frobnicate";
    QTest::newRow("no such gateway") << "set 1 0 ch1 3";
    QTest::newRow("negative gateway") << "fault -1 none";
    QTest::newRow("no node at register") << "set 0 2 ch1 3";
    QTest::newRow("bad channel name") << "set 0 0 ch3 3";
    QTest::newRow("bad number") << "set 0 0 ch1 abc";
    QTest::newRow("ramp without bounds") << "set 0 0 ch1 ramp:1,2";
    QTest::newRow("ramp with empty range") << "set 0 0 ch1 ramp:1,1,5,5";
    QTest::newRow("sine with zero period") << "set 0 0 ch1 sine:1,1,0";
    QTest::newRow("pulse longer than its period") << "set 0 0 ch1 pulse:1,9,10,11";
    QTest::newRow("pulse without duration") << "set 0 0 ch1 pulse:1,9,10";
    QTest::newRow("lqi not an integer") << "set 0 0 lqi 1.5";
    QTest::newRow("battery beyond 32 bits") << "set 0 0 battery 4294967296";
    QTest::newRow("unknown fault") << "fault 0 flaky";
    QTest::newRow("slow without delay") << "fault 0 slow";
    QTest::newRow("drop zero") << "fault 0 drop 0";
    QTest::newRow("exception code zero") << "fault 0 exception 0";
    QTest::newRow("silent with argument") << "fault 0 silent 5";
    QTest::newRow("trickle without delay") << "fault 0 trickle";
    QTest::newRow("trickle with negative delay") << "fault 0 trickle -5";
    QTest::newRow("unreachable with argument") << "fault 0 unreachable 1";
    QTest::newRow("stats of missing gateway") << "stats 3";
}

// Catches a malformed command being applied half-way or answered with OK.
void TestGatewaySim::badCommandsAreRefused()
{
    QFETCH(QString, command);
    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ100"), QStringLiteral("21.5"),
                                     QStringLiteral("45"), 200, 95)}));
    const QString answer = m_sim->command(command);
    QVERIFY2(answer.startsWith(QLatin1String("ERR ")), qPrintable(answer));
    // Nothing changed, and the simulator still answers both protocol and commands.
    const QVector<quint16> unchanged = QVector<quint16>{0x0000, 0x41AC} + floatRegisters(45.0f) +
                                       intRegisters(200) + intRegisters(95);
    QCOMPARE(readOnce(m_sim->port(0), 0, 8), unchanged);
    QVERIFY(m_sim->command(QStringLiteral("stats 0")).startsWith(QLatin1String("OK ")));
}

// Catches a ramp that runs away from its bounds or does not move with time.
void TestGatewaySim::rampStaysWithinBoundsAndMoves()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ700"), {0})}));
    // Fast ramp: wraps within [0, 10) many times per second.
    QVERIFY(m_sim->setChannel(0, 0, 1, QStringLiteral("ramp:5,37,0,10")));
    // Slow ramp: starts at 100 when set and climbs 20 per second. The clock starts before the
    // command, so the ramp can never be further along than the elapsed time allows.
    QElapsedTimer timer;
    timer.start();
    QVERIFY(m_sim->setChannel(0, 0, 2, QStringLiteral("ramp:100,20,-1000,1000")));
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    float first = 0;
    float last = 0;
    for (int i = 0; i < 20; ++i) {
        const QVector<quint16> regs = client.read(0, 4);
        QCOMPARE(regs.size(), 4);
        const float fast = registersToFloat(regs[0], regs[1]);
        const float slow = registersToFloat(regs[2], regs[3]);
        QVERIFY2(fast >= 0 && fast < 10, qPrintable(QString::number(fast)));
        QVERIFY2(slow >= 100 && slow <= 100 + 20 * (timer.elapsed() / 1000.0) + 0.1,
                 qPrintable(QString::number(slow)));
        if (i == 0)
            first = slow;
        last = slow;
        QTest::qWait(20);
    }
    QVERIFY(last > first);
}

// Catches a sine with a wrong offset or amplitude, or one frozen in time.
void TestGatewaySim::sineStaysWithinAmplitude()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ700"), {0})}));
    QVERIFY(m_sim->setChannel(0, 0, 1, QStringLiteral("sine:50,10,0.4")));
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    float low = 1000;
    float high = -1000;
    for (int i = 0; i < 40; ++i) {
        const QVector<quint16> regs = client.read(0, 2);
        QCOMPARE(regs.size(), 2);
        const float v = registersToFloat(regs[0], regs[1]);
        QVERIFY2(v >= 39.999f && v <= 60.001f, qPrintable(QString::number(v)));
        low = qMin(low, v);
        high = qMax(high, v);
        QTest::qWait(13);
    }
    // Over more than one period the values spread over most of the amplitude.
    QVERIFY2(high - low > 10, qPrintable(QStringLiteral("%1 .. %2").arg(low).arg(high)));
}

// Catches a pulse that takes values other than its two, never steps, or stays up for the
// wrong share of its period.
void TestGatewaySim::pulseStepsForItsDuration()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ700"), {0})}));
    QVERIFY(m_sim->setChannel(0, 0, 1, QStringLiteral("pulse:4,10.5,0.4,0.1")));
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    int peaks = 0;
    const int reads = 80;
    for (int i = 0; i < reads; ++i) {
        const QVector<quint16> regs = client.read(0, 2);
        QCOMPARE(regs.size(), 2);
        const float v = registersToFloat(regs[0], regs[1]);
        QVERIFY2(v == 4.0f || v == 10.5f, qPrintable(QString::number(v)));
        peaks += v == 10.5f;
        QTest::qWait(11);
    }
    // A quarter of the time up: loosely, reads are not evenly spread.
    QVERIFY2(peaks > reads / 10 && peaks < reads / 2, qPrintable(QString::number(peaks)));
}

void TestGatewaySim::faultModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("outcome");       // an Outcome
    QTest::addColumn<int>("expectedErrno"); // 0: any failure
    QTest::addColumn<int>("minimumMs");

    QTest::newRow("silent") << "silent" << int(ReadFails) << 0 << 400;
    QTest::newRow("slow beyond the client timeout") << "slow 800" << int(ReadFails) << 0 << 400;
    QTest::newRow("exception, default illegal address")
        << "exception" << int(ReadFails) << int(EMBXILADD) << 0;
    QTest::newRow("exception 4") << "exception 4" << int(ReadFails) << int(EMBXSFAIL) << 0;
    QTest::newRow("short answer") << "short" << int(ReadFails) << 0 << 0;
    QTest::newRow("drop every request") << "drop 1" << int(ReadFails) << 0 << 0;
    QTest::newRow("trickle beyond the byte timeout") << "trickle 700" << int(ReadFails) << 0 << 400;
    // 25 bytes of answer for 8 registers, each 60 ms after the one before.
    QTest::newRow("trickle within the byte timeout") << "trickle 60" << int(Answers) << 0 << 1500;
    QTest::newRow("unreachable") << "unreachable" << int(ConnectFails) << 0 << 400;
}

// Catches a fault mode that the client does not see as it should (a failed read or connect, or
// a complete answer that takes its time), or one that outlives "fault G none".
void TestGatewaySim::faultModes()
{
    QFETCH(QString, mode);
    QFETCH(int, outcome);
    QFETCH(int, expectedErrno);
    QFETCH(int, minimumMs);

    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ100"), QStringLiteral("21.5"),
                                     QStringLiteral("45"), 200, 95)}));
    const quint16 port = m_sim->port(0);
    QVERIFY(m_sim->setFault(0, mode));
    {
        Client client(port);
        QElapsedTimer timer;
        timer.start();
        const bool connected = client.connect();
        QCOMPARE(connected, outcome != ConnectFails);
        if (connected) {
            QVector<quint16> values;
            const int read = client.read(0, 8, &values);
            if (outcome == Answers) {
                const QVector<quint16> record = QVector<quint16>{0x0000, 0x41AC} +
                                                floatRegisters(45.0f) + intRegisters(200) +
                                                intRegisters(95);
                QCOMPARE(read, 8);
                QCOMPARE(values, record);
            } else {
                QCOMPARE(read, -1);
            }
        }
        QVERIFY2(timer.elapsed() >= minimumMs, qPrintable(QString::number(timer.elapsed())));
        if (expectedErrno != 0)
            QCOMPARE(client.lastErrno(), expectedErrno);
    }
    QVERIFY(m_sim->setFault(0, QStringLiteral("none")));
    QCOMPARE(readOnce(port, 0, 2), (QVector<quint16>{0x0000, 0x41AC}));
}

// Catches a drop count that is off by one or that leaves the gateway unreachable.
void TestGatewaySim::dropClosesEveryNthRequest()
{
    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ700"), QStringLiteral("21.5"),
                                     QStringLiteral("45"), 0, 0)}));
    QVERIFY(m_sim->setFault(0, QStringLiteral("drop 3")));
    QString pattern;
    auto client = std::make_unique<Client>(m_sim->port(0));
    QVERIFY(client->connect());
    for (int i = 1; i <= 9; ++i) {
        QVector<quint16> values;
        const bool ok = client->read(0, 4, &values) == 4;
        pattern += ok ? QLatin1Char('+') : QLatin1Char('-');
        if (!ok) {
            // As the recorder does: drop the context and connect anew.
            client = std::make_unique<Client>(m_sim->port(0));
            QVERIFY(client->connect());
        }
    }
    QCOMPARE(pattern, QStringLiteral("++-++-++-"));
}

// Catches "stop" leaving the port open or old connections served, and "start" not reusing
// the port.
void TestGatewaySim::stopRefusesConnectsAndStartListensAgain()
{
    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ100"), QStringLiteral("21.5"),
                                     QStringLiteral("45"), 0, 0)}));
    const quint16 port = m_sim->port(0);
    Client open(port);
    QVERIFY(open.connect());
    QCOMPARE(open.read(0, 2).size(), 2);

    QCOMPARE(m_sim->command(QStringLiteral("stop 0")), QStringLiteral("OK stopped 0"));
    QVector<quint16> values;
    QCOMPARE(open.read(0, 2, &values), -1);
    QElapsedTimer timer;
    timer.start();
    Client refused(port);
    QVERIFY(!refused.connect());
    QVERIFY2(timer.elapsed() < 400, "a refused connect must fail at once, not time out");
    QVERIFY(m_sim->command(QStringLiteral("list")).contains(QLatin1String(":stopped")));

    QCOMPARE(m_sim->command(QStringLiteral("start 0")),
             QStringLiteral("OK listening 0 127.0.0.1:%1").arg(port));
    QCOMPARE(readOnce(port, 0, 2), (QVector<quint16>{0x0000, 0x41AC}));

    // "fault G stopped" is the same as "stop G".
    QVERIFY(m_sim->setFault(0, QStringLiteral("stopped")));
    QVERIFY(!Client(port).connect());
    QVERIFY(m_sim->startGateway(0));
    QVERIFY(m_sim->startGateway(0)); // starting a listening gateway changes nothing
    QCOMPARE(readOnce(port, 0, 2), (QVector<quint16>{0x0000, 0x41AC}));

    // "unreachable" holds the port without serving it, until "stop" or "start".
    QVERIFY(m_sim->setFault(0, QStringLiteral("unreachable")));
    QVERIFY(m_sim->command(QStringLiteral("list")).contains(QLatin1String(":unreachable")));
    QVERIFY(m_sim->stopGateway(0));
    timer.restart();
    QVERIFY(!Client(port).connect());
    QVERIFY2(timer.elapsed() < 400, "a stopped gateway refuses at once");
    QVERIFY(m_sim->setFault(0, QStringLiteral("unreachable")));
    QVERIFY(m_sim->startGateway(0));
    QCOMPARE(readOnce(port, 0, 2), (QVector<quint16>{0x0000, 0x41AC}));
}

// Catches gateways sharing a port, a register table or a fault setting.
void TestGatewaySim::twoGatewaysOnDifferentPorts()
{
    GatewaySimulator::Gateway first = singleNode(QStringLiteral("TQ100"), QStringLiteral("1"),
                                                 QStringLiteral("2"), 10, 20);
    GatewaySimulator::Gateway second = singleNode(QStringLiteral("TQ700"), QStringLiteral("3"),
                                                  QStringLiteral("4"), 30, 40);
    second.nodes[0].startRegister = 8;
    QVERIFY(m_sim->start({first, second}));
    QCOMPARE(m_sim->gatewayCount(), 2);
    QVERIFY(m_sim->port(0) != m_sim->port(1));

    const QVector<quint16> firstRecord =
        floatRegisters(1) + floatRegisters(2) + intRegisters(10) + intRegisters(20);
    const QVector<quint16> secondRecord =
        floatRegisters(3) + floatRegisters(4) + QVector<quint16>(4, 0);
    QCOMPARE(readOnce(m_sim->port(0), 0, 8), firstRecord);
    QCOMPARE(readOnce(m_sim->port(1), 8, 8), secondRecord);

    QVERIFY(m_sim->setFault(0, QStringLiteral("exception")));
    QVERIFY(m_sim->setChannel(1, 8, 1, 5.5));
    QVERIFY(readOnce(m_sim->port(0), 0, 2).isEmpty());
    QCOMPARE(readOnce(m_sim->port(1), 8, 2), floatRegisters(5.5f));
}

// Catches free ports that the recorder's editor refuses (above 49151) or that outgoing
// connections may hold (the kernel's ephemeral range from 32768).
void TestGatewaySim::freePortsSuitTheRecorder()
{
    QVector<GatewaySimulator::Gateway> gateways;
    for (int i = 0; i < 8; ++i)
        gateways.append(GatewaySimulator::gateway(QStringLiteral("TQ700"), {0}));
    QVERIFY(m_sim->start(gateways));
    QCOMPARE(m_sim->gatewayCount(), 8);
    QSet<quint16> ports;
    for (int g = 0; g < 8; ++g) {
        QVERIFY2(m_sim->port(g) >= 20000 && m_sim->port(g) <= 32767,
                 qPrintable(QString::number(m_sim->port(g))));
        ports.insert(m_sim->port(g));
    }
    QCOMPARE(ports.size(), 8);
    // A fixed port that is taken is an error, not a silent move elsewhere.
    GatewaySimulator other;
    GatewaySimulator::Gateway taken = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0});
    taken.port = m_sim->port(0);
    QVERIFY(!other.start({taken}));
    QVERIFY(!other.isRunning());
}

// Catches one client's pending answer holding up the other clients of the same gateway.
void TestGatewaySim::slowAnswerDoesNotDelayOtherClients()
{
    QVERIFY(m_sim->start(
        {singleNode(QStringLiteral("TQ700"), QStringLiteral("21.5"), QStringLiteral("45"), 0, 0)}));
    const quint16 port = m_sim->port(0);
    QVERIFY(m_sim->setFault(0, QStringLiteral("slow 2500")));
    const int fd = rawConnect(port);
    QVERIFY(fd >= 0);
    const QByteArray request = QByteArray::fromHex("000700000006ff0300000002");
    QCOMPARE(::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    // Make sure the simulator holds that request before the fault is lifted.
    QTRY_COMPARE_WITH_TIMEOUT(m_sim->command(QStringLiteral("stats 0")).contains(
                                  QLatin1String(" requests=1 ")),
                              true, 2000);
    QVERIFY(m_sim->setFault(0, QStringLiteral("none")));

    QElapsedTimer timer;
    timer.start();
    Client busy(port);
    QVERIFY(busy.connect());
    for (int i = 0; i < 50; ++i)
        QCOMPARE(busy.read(0, 2), (QVector<quint16>{0x0000, 0x41AC}));
    QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    const QString stats = m_sim->command(QStringLiteral("stats 0"));
    QVERIFY2(stats.endsWith(QLatin1String(" connections=2 clients=2")), qPrintable(stats));

    // The held request is still answered, late and complete.
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    QByteArray reply(64, '\0');
    const ssize_t n = ::recv(fd, reply.data(), size_t(reply.size()), MSG_WAITALL);
    ::close(fd);
    QCOMPARE(n, ssize_t(13));
    QCOMPARE(reply.left(13).toHex(), QByteArray("000700000007ff0304000041ac"));
}

// Catches a crash or hang of the simulator on garbage, half requests or vanished clients.
void TestGatewaySim::garbageAndDisconnectsDoNotStopSimulator()
{
    QVERIFY(m_sim->start({singleNode(QStringLiteral("TQ100"), QStringLiteral("21.5"),
                                     QStringLiteral("45"), 0, 0)}));
    const quint16 port = m_sim->port(0);
    const QList<QByteArray> messages = {
        QByteArray(300, '\xff'),                                     // longer than any frame
        QByteArray::fromHex("000100000006ff03"),                     // request cut short
        QByteArray::fromHex("00010000000bff10000000020400010002"),   // write: refused
        QByteArray::fromHex("000100000006ff2b0e0100"),               // unknown function
        QByteArray::fromHex("000100000006ff0300000000"),             // read of 0 registers
        QByteArray::fromHex("000100000006ff030000ffff"),             // read of 65535 registers
        QByteArray::fromHex("0001000000ffff03000000"),               // lying length field
        // byte counts of 255 announced by a write and by a write-and-read: refused unread
        QByteArray::fromHex("000100000006ff10000000ffff") + QByteArray(300, '\x01'),
        QByteArray::fromHex("000100000006ff17000000020000007fff") + QByteArray(300, '\x02'),
        QByteArray(),                                                // connect and vanish
    };
    for (const QByteArray& message : messages) {
        const int fd = rawConnect(port);
        QVERIFY(fd >= 0);
        if (!message.isEmpty())
            QVERIFY(::send(fd, message.constData(), size_t(message.size()), MSG_NOSIGNAL) > 0);
        ::close(fd);
    }
    QCOMPARE(readOnce(port, 0, 2), (QVector<quint16>{0x0000, 0x41AC}));
    QVERIFY(m_sim->isRunning());
    QVERIFY(m_sim->command(QStringLiteral("stats 0")).startsWith(QLatin1String("OK ")));
}

// Catches statistics that count failed or refused requests as answered polls.
void TestGatewaySim::pollStatisticsCountAnsweredReads()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0}),
                          GatewaySimulator::gateway(QStringLiteral("TQ700"), {0})}));
    QCOMPARE(m_sim->pollCount(0), 0);
    Client client(m_sim->port(0));
    QVERIFY(client.connect());
    for (int i = 0; i < 5; ++i)
        QCOMPARE(client.read(0, 4).size(), 4);
    QVector<quint16> values;
    QCOMPARE(client.read(60000, 4, &values), -1); // refused by the gateway
    QVERIFY(m_sim->setFault(0, QStringLiteral("exception")));
    QCOMPARE(client.read(0, 4, &values), -1);
    QCOMPARE(m_sim->pollCount(0), 5);
    QCOMPARE(m_sim->pollCount(1), 0);
    const QString stats = m_sim->command(QStringLiteral("stats"));
    QVERIFY2(stats.startsWith(QLatin1String("OK 0:polls=5,requests=7,")), qPrintable(stats));
    QVERIFY2(stats.contains(QLatin1String(" 1:polls=0,")), qPrintable(stats));
}

void TestGatewaySim::badArgumentsEndWithError_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no gateway") << QStringList();
    QTest::newRow("unknown model") << QStringList{"--gateway", "TQ200", "--node", "0"};
    QTest::newRow("lower-case model") << QStringList{"--gateway", "tq100"};
    QTest::newRow("node before gateway") << QStringList{"--node", "0", "--gateway", "TQ100"};
    QTest::newRow("two nodes at one register")
        << QStringList{"--gateway", "TQ100", "--node", "0", "--node", "0"};
    QTest::newRow("bad pattern") << QStringList{"--gateway", "TQ100", "--node", "0/ramp:1,2"};
    QTest::newRow("bad port") << QStringList{"--gateway", "TQ100:70000"};
    QTest::newRow("missing value") << QStringList{"--gateway"};
    QTest::newRow("unknown option") << QStringList{"--listen", "0.0.0.0"};
    QTest::newRow("missing config") << QStringList{"--config", "/nonexistent/sim.json"};
}

// Catches a simulator that starts, half configured, from arguments it cannot honour.
void TestGatewaySim::badArgumentsEndWithError()
{
    QFETCH(QStringList, arguments);
    QProcess process;
    process.start(GatewaySimulator::programPath(), arguments);
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(!process.readAllStandardOutput().contains("READY"));
    QVERIFY(process.readAllStandardError().startsWith("gatewaysim: "));
}

void TestGatewaySim::configFile_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QVector<quint16>>("expected"); // empty: the file must be refused

    const QVector<quint16> record = QVector<quint16>{0x0000, 0x41AC} + floatRegisters(-7.0f) +
                                    intRegisters(-60) + intRegisters(88);
    QTest::newRow("numbers and defaults")
        << QByteArray(R"({"gateways":[{"model":"TQ100","nodes":[{"start":0,"ch1":21.5,)"
                      R"("ch2":"-7","lqi":-60,"battery":88}]}]})")
        << record;
    QTest::newRow("defaults are zero")
        << QByteArray(R"({"gateways":[{"nodes":[{"start":0}]}]})") << QVector<quint16>(8, 0);
    QTest::newRow("not JSON") << QByteArray("gateways: [") << QVector<quint16>();
    QTest::newRow("gateways not a list")
        << QByteArray(R"({"gateways":{"model":"TQ100"}})") << QVector<quint16>();
    QTest::newRow("gateway not an object")
        << QByteArray(R"({"gateways":[5]})") << QVector<quint16>();
    QTest::newRow("model not a text")
        << QByteArray(R"({"gateways":[{"model":100}]})") << QVector<quint16>();
    QTest::newRow("empty list") << QByteArray(R"({"gateways":[]})") << QVector<quint16>();
    QTest::newRow("port out of range")
        << QByteArray(R"({"gateways":[{"model":"TQ100","port":65536}]})") << QVector<quint16>();
    QTest::newRow("start not an integer")
        << QByteArray(R"({"gateways":[{"nodes":[{"start":1.5}]}]})") << QVector<quint16>();
    QTest::newRow("start missing")
        << QByteArray(R"({"gateways":[{"nodes":[{"ch1":1}]}]})") << QVector<quint16>();
    QTest::newRow("lqi as text")
        << QByteArray(R"({"gateways":[{"nodes":[{"start":0,"lqi":"5"}]}]})") << QVector<quint16>();
    QTest::newRow("channel as list")
        << QByteArray(R"({"gateways":[{"nodes":[{"start":0,"ch2":[1]}]}]})") << QVector<quint16>();
}

// Catches a configuration file that is misread, or half applied when it is wrong.
void TestGatewaySim::configFile()
{
    QFETCH(QByteArray, json);
    QFETCH(QVector<quint16>, expected);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile config(dir.filePath(QStringLiteral("sim.json")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(json);
    config.close();

    const bool started =
        m_sim->startWithArguments({QStringLiteral("--config"), config.fileName()}, 5000);
    QCOMPARE(started, !expected.isEmpty());
    if (started)
        QCOMPARE(readOnce(m_sim->port(0), 0, 8), expected);
}

// Catches a demo configuration that does not load or does not match the demo project.
void TestGatewaySim::demoConfigurationServesSixteenNodes()
{
    QFile demo(QStringLiteral(DEMO_CONFIG));
    QVERIFY(demo.open(QIODevice::ReadOnly));
    QJsonObject root = QJsonDocument::fromJson(demo.readAll()).object();
    QJsonArray gateways = root.value(QLatin1String("gateways")).toArray();
    QCOMPARE(gateways.size(), 2);
    // Free ports instead of the demo's fixed ones, so that a running demo does not interfere.
    for (int i = 0; i < gateways.size(); ++i) {
        QJsonObject g = gateways.at(i).toObject();
        g.insert(QLatin1String("port"), 0);
        gateways.replace(i, g);
    }
    root.insert(QLatin1String("gateways"), gateways);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QFile config(dir.filePath(QStringLiteral("demo.json")));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QJsonDocument(root).toJson());
    config.close();

    QVERIFY2(m_sim->startWithArguments({QStringLiteral("--config"), config.fileName()}),
             qPrintable(m_sim->errorString()));
    QCOMPARE(m_sim->gatewayCount(), 2);
    const QString list = m_sim->command(QStringLiteral("list"));
    QVERIFY2(list.contains(QLatin1String(":TQ100:")) && list.contains(QLatin1String(":TQ700:")),
             qPrintable(list));
    int nodes = 0;
    for (int g = 0; g < 2; ++g) {
        const int count = gateways.at(g).toObject().value(QLatin1String("nodes")).toArray().size();
        nodes += count;
        // The recorder reads one block of 4 registers per node from register 0.
        const QVector<quint16> block = readOnce(m_sim->port(g), 0, 4 * count);
        QCOMPARE(block.size(), 4 * count);
        for (int n = 0; n < 2 * count; ++n) {
            const float v = registersToFloat(block[2 * n], block[2 * n + 1]);
            QVERIFY2(qIsFinite(v) && v > -40 && v < 100, qPrintable(QString::number(v)));
        }
    }
    QCOMPARE(nodes, 16);

    // The demo shows an alarm within its first minute: a sine channel that starts inside
    // 10..30 (a temperature alarm range) leaves it.
    bool leavesRange = false;
    for (const QJsonValue& g : gateways) {
        for (const QJsonValue& node : g.toObject().value(QLatin1String("nodes")).toArray()) {
            for (const char* key : {"ch1", "ch2"}) {
                const QString pattern = node.toObject().value(QLatin1String(key)).toString();
                if (!pattern.startsWith(QLatin1String("sine:")))
                    continue;
                const QStringList p = pattern.mid(5).split(QLatin1Char(','));
                QCOMPARE(p.size(), 3);
                const double offset = p[0].toDouble();
                const double amplitude = p[1].toDouble();
                const double period = p[2].toDouble();
                if (offset < 10 || offset > 30)
                    continue;
                for (double t = 0; t <= 60 && !leavesRange; t += 0.5) {
                    const double v = offset + amplitude * std::sin(2 * M_PI * t / period);
                    leavesRange = v > 30 || v < 10;
                }
            }
        }
    }
    QVERIFY(leavesRange);

    // And a cold store whose excursion outlasts a 1-minute delay, a few minutes every quarter
    // hour.
    const QString cold = gateways.at(1)
                             .toObject()
                             .value(QLatin1String("nodes"))
                             .toArray()
                             .at(0)
                             .toObject()
                             .value(QLatin1String("ch1"))
                             .toString();
    QVERIFY2(cold.startsWith(QLatin1String("pulse:")), qPrintable(cold));
    const QStringList pulse = cold.mid(6).split(QLatin1Char(','));
    QCOMPARE(pulse.size(), 4);
    QCOMPARE(pulse.at(2).toDouble(), 900.0);
    QVERIFY(pulse.at(3).toDouble() >= 120 && pulse.at(3).toDouble() <= 300);
}

// Catches a simulator process that outlives the object that started it.
void TestGatewaySim::noProcessLeftBehind()
{
    qint64 pid = 0;
    quint16 port = 0;
    {
        GatewaySimulator sim;
        QVERIFY(sim.start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0})}));
        pid = sim.processId();
        port = sim.port(0);
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid_t(pid), 0), 0);
        // Restarting replaces the process instead of adding one.
        QVERIFY(sim.start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0})}));
        QVERIFY(sim.processId() != pid);
        QCOMPARE(::kill(pid_t(pid), 0), -1);
        pid = sim.processId();
        port = sim.port(0);
    }
    QCOMPARE(::kill(pid_t(pid), 0), -1);
    QCOMPARE(errno, ESRCH);
    QVERIFY(!Client(port).connect());

    // A simulator that ignores "quit" is killed.
    {
        GatewaySimulator sim;
        QVERIFY(sim.start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0})}));
        pid = sim.processId();
        QCOMPARE(::kill(pid_t(pid), SIGSTOP), 0);
    }
    QCOMPARE(::kill(pid_t(pid), 0), -1);
}

// Catches a simulator that keeps running after the test process that fed it died.
void TestGatewaySim::endOfInputEndsSimulator()
{
    QProcess process;
    process.start(GatewaySimulator::programPath(), {QStringLiteral("--gateway"),
                                                    QStringLiteral("TQ700"),
                                                    QStringLiteral("--node"), QStringLiteral("0")});
    QVERIFY(process.waitForStarted());
    QByteArray output;
    while (!output.contains("READY") && process.waitForReadyRead(5000))
        output += process.readAllStandardOutput();
    QVERIFY(output.contains("READY"));
    QCOMPARE(process.state(), QProcess::Running);
    process.closeWriteChannel();
    QVERIFY(process.waitForFinished(3000));
    QCOMPARE(process.exitCode(), 0);
}

// Catches --help starting the simulator instead of explaining it.
void TestGatewaySim::helpPrintsUsage()
{
    QProcess process;
    process.start(GatewaySimulator::programPath(),
                  {QStringLiteral("--gateway"), QStringLiteral("TQ100"), QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(5000));
    QCOMPARE(process.exitCode(), 0);
    const QByteArray output = process.readAllStandardOutput();
    QVERIFY(output.startsWith("Usage: gatewaysim "));
    QVERIFY(output.contains("fault G MODE"));
    QVERIFY(!output.contains("gateway 0 127.0.0.1:"));
}

// Catches the helper handing a late answer of one command to the next command.
void TestGatewaySim::lateAnswerIsNotTakenForTheNextOne()
{
    QVERIFY(m_sim->start({GatewaySimulator::gateway(QStringLiteral("TQ100"), {0})}));
    const auto pid = pid_t(m_sim->processId());
    QCOMPARE(::kill(pid, SIGSTOP), 0);
    QCOMPARE(m_sim->command(QStringLiteral("set 0 0 lqi 5"), 200), QString());
    QCOMPARE(::kill(pid, SIGCONT), 0);
    QCOMPARE(m_sim->command(QStringLiteral("list")),
             QStringLiteral("OK 0:%1:TQ100:listening").arg(m_sim->port(0)));
    QCOMPARE(readOnce(m_sim->port(0), 4, 2), intRegisters(5));
}

QTEST_GUILESS_MAIN(TestGatewaySim)
#include "tst_gatewaysim.moc"
