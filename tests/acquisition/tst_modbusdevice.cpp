#include "gatewaysimulator.h"
#include "modbusdevice.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <chrono>
#include <thread>

class TestModbusDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void lowByteFirst();
    void failedReadReleasesAndReconnects_data();
    void failedReadReleasesAndReconnects();
    void dropEveryNthRequest();
    void interruptEndsTheExchange_data();
    void interruptEndsTheExchange();
    void newAddressWaitsForReopen();
    void tooManyRegistersNeverDeliver();
    void refusedAddresses_data();
    void refusedAddresses();
    void destroyWithoutOpen();

private:
    ModbusDevice* linkTo(int gateway, int start, int count);

    GatewaySimulator sim;
    std::unique_ptr<QObject> owner;
};

void TestModbusDevice::initTestCase()
{
    GatewaySimulator::Gateway a = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4});
    a.nodes[0].ch1 = QStringLiteral("21.5");
    a.nodes[0].ch2 = QStringLiteral("-3");
    GatewaySimulator::Gateway b = GatewaySimulator::gateway(QStringLiteral("TQ700"), {0});
    b.nodes[0].ch1 = QStringLiteral("99");
    QVERIFY2(sim.start({a, b}), qPrintable(sim.errorString()));
}

void TestModbusDevice::init()
{
    owner.reset(new QObject);
    QVERIFY(sim.setFault(0, QStringLiteral("none")));
    QVERIFY(sim.startGateway(0));
}

ModbusDevice* TestModbusDevice::linkTo(int gateway, int start, int count)
{
    auto* link = new ModbusDevice(owner.get());
    link->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(gateway));
    link->startAddress = start;
    link->registerCount = count;
    return link;
}

// Catches register bytes handed on in wire order (high byte first).
void TestModbusDevice::lowByteFirst()
{
    // Link quality 0x4148 of the node at register 0 sits in register 4: high byte 41, low 48.
    QVERIFY(sim.setLqi(0, 0, 0x4148));
    QVERIFY(sim.setChannel(0, 4, 1, QStringLiteral("21.5"))); // the next node's channel wins
    QVERIFY(sim.setLqi(0, 4, 0x4148));
    ModbusDevice* link = linkTo(0, 0, 8);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    link->write();
    QCOMPARE(spy.size(), 1);
    const QByteArray data = spy.at(0).at(0).toByteArray();
    QCOMPARE(data.size(), 16);
    // 21.5 = 0x41AC0000: register 0 = 0000, register 1 = 41AC.
    QCOMPARE(data.mid(0, 4), QByteArray("\x00\x00\xAC\x41", 4));
    QCOMPARE(data.mid(8, 4), QByteArray("\x00\x00\xAC\x41", 4));
    QVERIFY(link->isConnected());

    link->startAddress = 8;
    link->registerCount = 2;
    link->write();
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray("\x48\x41\x00\x00", 4));
}

void TestModbusDevice::failedReadReleasesAndReconnects_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("silent") << "silent";
    QTest::newRow("slow") << "slow 800";
    QTest::newRow("exception") << "exception";
    QTest::newRow("short") << "short";
    QTest::newRow("stopped") << "stopped";
}

// Catches data delivered from a failed read, or a link that never reconnects after one.
void TestModbusDevice::failedReadReleasesAndReconnects()
{
    QFETCH(QString, fault);
    ModbusDevice* link = linkTo(0, 0, 8);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    link->write();
    QCOMPARE(spy.size(), 1);

    QVERIFY(sim.setFault(0, fault));
    link->write();
    QCOMPARE(spy.size(), 1);
    QVERIFY(!link->isConnected());

    QVERIFY(sim.setFault(0, QStringLiteral("none")));
    QVERIFY(sim.startGateway(0));
    link->write();
    QCOMPARE(spy.size(), 2);
    QVERIFY(link->isConnected());
}

// Catches a link that gives up after the gateway drops its connection.
void TestModbusDevice::dropEveryNthRequest()
{
    QVERIFY(sim.setFault(0, QStringLiteral("drop 3")));
    ModbusDevice* link = linkTo(0, 0, 4);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    for (int i = 0; i < 9; ++i)
        link->write();
    QCOMPARE(spy.size(), 6);
}

void TestModbusDevice::interruptEndsTheExchange_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("answer one byte at a time") << "trickle 300";
    QTest::newRow("no answer") << "silent";
    QTest::newRow("late answer") << "slow 3000";
}

// Catches a link that cannot be ended while it waits for a gateway (closing a project would
// hang on it), or one that stays unusable afterwards.
void TestModbusDevice::interruptEndsTheExchange()
{
    QFETCH(QString, fault);
    ModbusDevice* link = linkTo(0, 0, 4);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    link->write();
    QCOMPARE(spy.size(), 1);
    QVERIFY(sim.setFault(0, fault));
    // The read below blocks this thread: the interruption comes from another one, as it does
    // from the user interface's thread in the recorder.
    std::thread other([link] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        link->interrupt();
    });
    QElapsedTimer timer;
    timer.start();
    link->write();
    const qint64 blocked = timer.elapsed();
    other.join();
    QCOMPARE(spy.size(), 1);
    QVERIFY(!link->isConnected());
    QVERIFY2(blocked < 400, qPrintable(QString::number(blocked)));

    QVERIFY(sim.setFault(0, QStringLiteral("none")));
    link->write();
    QCOMPARE(spy.size(), 2);
}

// Catches a changed address taking effect on an open connection.
void TestModbusDevice::newAddressWaitsForReopen()
{
    ModbusDevice* link = linkTo(0, 0, 2);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    link->write();
    link->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(1));
    link->write();
    QCOMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray("\x00\x00\xAC\x41", 4));

    link->close();
    link->write();
    QCOMPARE(spy.size(), 3);
    // 99 = 0x42C60000
    QCOMPARE(spy.at(2).at(0).toByteArray(), QByteArray("\x00\x00\xC6\x42", 4));
}

// Catches a block beyond the protocol's limit being read or overrunning the buffer.
void TestModbusDevice::tooManyRegistersNeverDeliver()
{
    for (int count : {126, 128, 129, 100000, -1}) {
        ModbusDevice* link = linkTo(0, 0, count);
        QSignalSpy spy(link, &ModbusDevice::readyRead);
        link->write();
        link->write();
        QCOMPARE(spy.size(), 0);
    }
    ModbusDevice* link = linkTo(0, 0, 125);
    QSignalSpy spy(link, &ModbusDevice::readyRead);
    link->write();
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).toByteArray().size(), 250);
}

void TestModbusDevice::refusedAddresses_data()
{
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("16 characters") << "127.000.000.001x";
    QTest::newRow("closed port host") << "127.0.0.1";
}

// Catches a crash or a success report for addresses nothing can answer on.
void TestModbusDevice::refusedAddresses()
{
    QFETCH(QString, address);
    ModbusDevice link;
    link.setDeviceInfo(address, 1); // port 1: nothing listens there
    link.startAddress = 0;
    link.registerCount = 4;
    QSignalSpy spy(&link, &ModbusDevice::readyRead);
    QVERIFY(!link.open());
    link.write();
    link.write();
    QCOMPARE(spy.size(), 0);
    QVERIFY(!link.isConnected());
}

// Catches a double release of the library context.
void TestModbusDevice::destroyWithoutOpen()
{
    { ModbusDevice never; }
    {
        ModbusDevice configured;
        configured.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(0));
        configured.close();
        configured.close();
    }
    {
        ModbusDevice opened;
        opened.setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(0));
        QVERIFY(opened.open());
    }
}

QTEST_GUILESS_MAIN(TestModbusDevice)
#include "tst_modbusdevice.moc"
