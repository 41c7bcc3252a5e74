#include "configureddevice.h"
#include "datainterval.h"
#include "modbusdevice.h"
#include "nodedevice.h"

#include <QtEndian>
#include <QtTest>

#include <cstring>
#include <limits>

namespace {

// Block bytes as the link hands them on: each register low byte first.
QByteArray block(const QVector<quint16>& registers)
{
    QByteArray data(2 * registers.size(), Qt::Uninitialized);
    for (int i = 0; i < registers.size(); ++i)
        qToLittleEndian(registers[i], data.data() + 2 * i);
    return data;
}

void putFloat(QVector<quint16>& registers, int at, float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    registers[at] = quint16(bits & 0xFFFF);
    registers[at + 1] = quint16(bits >> 16);
}

void putInt(QVector<quint16>& registers, int at, qint32 value)
{
    registers[at] = quint16(quint32(value) & 0xFFFF);
    registers[at + 1] = quint16(quint32(value) >> 16);
}

ConfiguredDevice* gatewayWith(const QList<int>& starts, const QString& model, QObject* parent)
{
    auto* gateway = new ConfiguredDevice(parent);
    gateway->setDeviceModel(model);
    for (int start : starts) {
        auto* node = new NodeDevice(QStringLiteral("N%1").arg(start), gateway);
        node->startAddress = start;
        gateway->addNode(node);
    }
    return gateway;
}

} // namespace

class TestConfiguredDevice : public QObject
{
    Q_OBJECT

private slots:
    void init() { dataInterval = DefaultDataInterval; }
    void blockCoversNodes_data();
    void blockCoversNodes();
    void decodesRecordsAtTheirOffsets_data();
    void decodesRecordsAtTheirOffsets();
    void registerByteOrder();
    void linkInfoOnlyForTq100();
    void nonFiniteChannelsAreEmpty();
    void extremeStartRegisters();
    void disconnectionStartsOneRetry();
    void refreshFlagOnlyForTheRefreshPoll();
    void deletesNodesAndLink();
};

void TestConfiguredDevice::blockCoversNodes_data()
{
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("count");
    QTest::newRow("consecutive") << QList<int>{100, 104, 108} << 100 << 12;
    QTest::newRow("far apart") << QList<int>{100, 200} << 100 << 8;
    QTest::newRow("reversed") << QList<int>{104, 100} << 100 << 8;
    QTest::newRow("overlapping") << QList<int>{100, 106} << 100 << 8;
    QTest::newRow("one node") << QList<int>{0} << 0 << 4;
}

// Catches a block that starts at the first listed node instead of the lowest register.
void TestConfiguredDevice::blockCoversNodes()
{
    QFETCH(QList<int>, starts);
    QFETCH(int, first);
    QFETCH(int, count);
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith(starts, QStringLiteral("TQ700"), &owner);
    QCOMPARE(gateway->link()->startAddress, first);
    QCOMPARE(gateway->link()->registerCount, count);
}

void TestConfiguredDevice::decodesRecordsAtTheirOffsets_data()
{
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<QStringList>("ch1");
    QTest::newRow("consecutive") << QList<int>{100, 104, 108} << QStringList{"1.00", "2.00", "3.00"};
    QTest::newRow("far apart skipped") << QList<int>{100, 200} << QStringList{"1.00", ""};
    QTest::newRow("reversed") << QList<int>{104, 100} << QStringList{"2.00", "1.00"};
    QTest::newRow("overlapping skipped") << QList<int>{100, 106} << QStringList{"1.00", ""};
}

// Catches records read from the wrong byte offset, or read past the end of the block.
void TestConfiguredDevice::decodesRecordsAtTheirOffsets()
{
    QFETCH(QList<int>, starts);
    QFETCH(QStringList, ch1);
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith(starts, QStringLiteral("TQ700"), &owner);
    // Channel 1 of the record at register 4k holds k+1, channel 2 holds 10(k+1).
    QVector<quint16> registers(gateway->link()->registerCount);
    for (int k = 0; 4 * k + 3 < registers.size(); ++k) {
        putFloat(registers, 4 * k, float(k + 1));
        putFloat(registers, 4 * k + 2, float(10 * (k + 1)));
    }
    gateway->readData(block(registers));
    for (int i = 0; i < starts.size(); ++i) {
        const NodeDevice* node = gateway->nodes().at(i);
        QCOMPARE(node->ch1Text, ch1[i]);
        if (!ch1[i].isEmpty())
            QCOMPARE(node->ch2Text, QString::number(ch1[i].toDouble() * 10, 'f', 2));
    }
    QVERIFY(gateway->connected);
    QCOMPARE(gateway->missedPolls, 0);
}

// Catches a decoder that reads the registers' bytes or words in wire order.
void TestConfiguredDevice::registerByteOrder()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0}, QStringLiteral("TQ700"), &owner);
    // 21.5 is 0x41AC0000: register 0 holds the low word 0x0000, register 1 the high word.
    const QByteArray data = block({0x0000, 0x41AC, 0xC000, 0xC1A0});
    QCOMPARE(data.mid(2, 2), QByteArray("\xAC\x41", 2));
    gateway->readData(data);
    QCOMPARE(gateway->nodes().at(0)->ch1Text, QStringLiteral("21.50"));
    QCOMPARE(gateway->nodes().at(0)->ch2Text, QStringLiteral("-20.09"));
}

// Catches link quality decoded for other models, or read beyond the block for the last node.
void TestConfiguredDevice::linkInfoOnlyForTq100()
{
    QObject owner;
    ConfiguredDevice* tq100 = gatewayWith({0, 4, 8}, QStringLiteral("TQ100"), &owner);
    QVector<quint16> registers(12);
    putFloat(registers, 0, 1.0f);
    putInt(registers, 4, 87);   // read as the first node's link quality
    putInt(registers, 6, -3);   // and its battery
    putInt(registers, 8, 65536 + 5);
    tq100->readData(block(registers));
    QCOMPARE(tq100->nodes().at(0)->lqiText, QStringLiteral("87"));
    QCOMPARE(tq100->nodes().at(0)->batteryText, QStringLiteral("-3"));
    QCOMPARE(tq100->nodes().at(1)->lqiText, QStringLiteral("65541"));
    QCOMPARE(tq100->nodes().at(1)->batteryText, QStringLiteral("0"));
    QCOMPARE(tq100->nodes().at(2)->lqiText, QStringLiteral("-1"));
    QCOMPARE(tq100->nodes().at(2)->batteryText, QStringLiteral("-1"));

    for (const QString& model : {QStringLiteral("TQ700"), QStringLiteral("tq100")}) {
        ConfiguredDevice* other = gatewayWith({0, 4, 8}, model, &owner);
        other->readData(block(registers));
        QCOMPARE(other->nodes().at(0)->lqiText, QStringLiteral("-1"));
        QCOMPARE(other->nodes().at(0)->batteryText, QStringLiteral("-1"));
    }
}

// Catches NaN or infinity from a gateway shown, alarmed or stored as a number.
void TestConfiguredDevice::nonFiniteChannelsAreEmpty()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0, 4, 8}, QStringLiteral("TQ700"), &owner);
    for (NodeDevice* node : gateway->nodes())
        node->setAlarmRanges(0, 1, 0, 1);
    QVector<quint16> registers(12);
    putFloat(registers, 0, std::numeric_limits<float>::quiet_NaN());
    putFloat(registers, 2, 0.5f);
    putFloat(registers, 4, std::numeric_limits<float>::infinity());
    putFloat(registers, 6, -std::numeric_limits<float>::infinity());
    putFloat(registers, 8, std::numeric_limits<float>::max());
    gateway->readData(block(registers));
    QCOMPARE(gateway->nodes().at(0)->ch1Text, QString());
    QCOMPARE(gateway->nodes().at(0)->ch2Text, QStringLiteral("0.50"));
    QVERIFY(!gateway->nodes().at(0)->ch1Alarm);
    QCOMPARE(gateway->nodes().at(1)->ch1Text, QString());
    QCOMPARE(gateway->nodes().at(1)->ch2Text, QString());
    QVERIFY(!gateway->nodes().at(1)->ch1Alarm);
    QVERIFY(!gateway->nodes().at(1)->ch2Alarm);
    QVERIFY(gateway->nodes().at(2)->ch1Alarm);
    QVERIFY(gateway->nodes().at(2)->ch1Text.startsWith(QStringLiteral("340282346638528")));
}

// Catches overflow in the offset arithmetic for start registers at the ends of the int range.
void TestConfiguredDevice::extremeStartRegisters()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith(
        {std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), 0},
        QStringLiteral("TQ100"), &owner);
    QCOMPARE(gateway->link()->startAddress, std::numeric_limits<int>::min());
    QVector<quint16> registers(12);
    putFloat(registers, 0, 7.0f);
    gateway->readData(block(registers));
    QCOMPARE(gateway->nodes().at(1)->ch1Text, QStringLiteral("7.00"));
    QCOMPARE(gateway->nodes().at(0)->ch1Text, QString());
    QCOMPARE(gateway->nodes().at(2)->ch1Text, QString());
}

// Catches a second retry timer started while one is already pending.
void TestConfiguredDevice::disconnectionStartsOneRetry()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0}, QStringLiteral("TQ100"), &owner);
    gateway->setRetryInterval(300);
    static int writes;
    writes = 0;
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("ModbusDevice::write")))
                ++writes;
        });
    // As after a real disconnection, the counter sits at the limit.
    gateway->missedPolls = ConfiguredDevice::missedPollLimit();
    gateway->deviceDisconnected();
    QTest::qWait(100);
    gateway->deviceDisconnected();
    QVERIFY(gateway->retryPending);
    // One timer: one retry poll 300 ms after the first event, the next not before 600 ms.
    QTest::qWait(450);
    qInstallMessageHandler(previous);
    QCOMPARE(writes, 1);
    // The retry polled an unreachable gateway (no address): it stays disconnected and waits again.
    QVERIFY(gateway->retryPending);
    QVERIFY(!gateway->connected);
    QCOMPARE(gateway->missedPolls, ConfiguredDevice::missedPollLimit());
}

// Catches a refresh flag that leaks into the next regular poll's samples.
void TestConfiguredDevice::refreshFlagOnlyForTheRefreshPoll()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0}, QStringLiteral("TQ700"), &owner);
    NodeDevice* node = gateway->nodes().at(0);
    node->setRecordEnabled(false);
    // A refresh without data (no address configured) leaves the flag cleared.
    gateway->refresh();
    QVERIFY(!gateway->refreshPoll);
    const QDateTime before = gateway->lastPollTime;
    gateway->refresh();
    QCOMPARE(gateway->lastPollTime, before);
    QCOMPARE(gateway->missedPolls, 2);
}

// Catches nodes or the link outliving their gateway.
void TestConfiguredDevice::deletesNodesAndLink()
{
    auto* gateway = gatewayWith({0, 4}, QStringLiteral("TQ100"), nullptr);
    QPointer<NodeDevice> node = gateway->nodes().at(1);
    QPointer<ModbusDevice> link = gateway->link();
    delete gateway;
    QVERIFY(node.isNull());
    QVERIFY(link.isNull());
}

QTEST_GUILESS_MAIN(TestConfiguredDevice)
#include "tst_configureddevice.moc"
