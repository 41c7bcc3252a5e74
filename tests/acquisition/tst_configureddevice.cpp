#include "configureddevice.h"
#include "gatewaymodel.h"
#include "modbusdevice.h"
#include "nodedevice.h"

#include <QtEndian>
#include <QtTest>

#include <atomic>
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
        node->setStartAddress(start);
        gateway->addNode(node);
    }
    return gateway;
}

} // namespace

class TestConfiguredDevice : public QObject
{
    Q_OBJECT

private slots:
    void blockCoversNodes_data();
    void blockCoversNodes();
    void decodesRecordsAtTheirOffsets_data();
    void decodesRecordsAtTheirOffsets();
    void registerByteOrder();
    void linkInfoOnlyFromOwnRegisters_data();
    void linkInfoOnlyFromOwnRegisters();
    void nonFiniteChannelsAreEmpty();
    void sampleHoldsTheNumbersOfItsTexts_data();
    void sampleHoldsTheNumbersOfItsTexts();
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
    QCOMPARE(gateway->registerStart(), first);
    QCOMPARE(gateway->registerCount(), count);
}

void TestConfiguredDevice::decodesRecordsAtTheirOffsets_data()
{
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<QStringList>("ch1");
    QTest::newRow("consecutive") << QList<int>{100, 104, 108}
                                 << QStringList{"1.00", "2.00", "3.00"};
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
    QVector<quint16> registers(gateway->registerCount());
    for (int k = 0; 4 * k + 3 < registers.size(); ++k) {
        putFloat(registers, 4 * k, float(k + 1));
        putFloat(registers, 4 * k + 2, float(10 * (k + 1)));
    }
    gateway->readData(block(registers));
    for (int i = 0; i < starts.size(); ++i) {
        const NodeDevice* node = gateway->nodes().at(i);
        QCOMPARE(node->shownChannel(1), ch1[i]);
        if (!ch1[i].isEmpty())
            QCOMPARE(node->shownChannel(2), QString::number(ch1[i].toDouble() * 10, 'f', 2));
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
    QCOMPARE(gateway->nodes().at(0)->shownChannel(1), QStringLiteral("21.50"));
    QCOMPARE(gateway->nodes().at(0)->shownChannel(2), QStringLiteral("-20.09"));
}

void TestConfiguredDevice::linkInfoOnlyFromOwnRegisters_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<QList<int>>("starts");
    QTest::addColumn<QStringList>("lqi");
    QTest::addColumn<QStringList>("battery");
    // The block holds 87 in registers 4-5 and -3 in registers 6-7, 65541 in registers 8-9.
    QTest::newRow("next node's channels")
        << "TQ100" << QList<int>{0, 4, 8} << QStringList{"-1", "-1", "-1"}
        << QStringList{"-1", "-1", "-1"};
    QTest::newRow("free registers after the node")
        << "TQ100" << QList<int>{0, 8} << QStringList{"87", ""} << QStringList{"-3", ""};
    QTest::newRow("listed in reverse")
        << "TQ100" << QList<int>{8, 0} << QStringList{"", "87"} << QStringList{"", "-3"};
    QTest::newRow("battery under the next node")
        << "TQ100" << QList<int>{0, 6} << QStringList{"87", ""} << QStringList{"-1", ""};
    QTest::newRow("single node, beyond the block")
        << "TQ100" << QList<int>{0} << QStringList{"-1"} << QStringList{"-1"};
    QTest::newRow("other model") << "TQ700" << QList<int>{0, 8} << QStringList{"-1", ""}
                                 << QStringList{"-1", ""};
    QTest::newRow("model in lower case")
        << "tq100" << QList<int>{0, 8} << QStringList{"-1", ""} << QStringList{"-1", ""};
    // Every model of the table, as its row says: a model added there is decoded without more.
    for (const GatewayModel::Row& row : GatewayModel::rows()) {
        const QString has = row.reportsLinkInfo ? QStringLiteral("87") : QStringLiteral("-1");
        const QString battery = row.reportsLinkInfo ? QStringLiteral("-3") : QStringLiteral("-1");
        QTest::newRow(qPrintable(QStringLiteral("table row ") + row.name))
            << row.name << QList<int>{0, 8} << QStringList{has, ""} << QStringList{battery, ""};
    }
}

// Catches link quality and battery read from another node's channel registers, from beyond the
// block, or for a model that has none. An empty text: the node lies outside the block.
void TestConfiguredDevice::linkInfoOnlyFromOwnRegisters()
{
    QFETCH(QString, model);
    QFETCH(QList<int>, starts);
    QFETCH(QStringList, lqi);
    QFETCH(QStringList, battery);
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith(starts, model, &owner);
    QVector<quint16> registers(4 * starts.size());
    const QVector<qint32> link = {87, -3, 65536 + 5};
    putFloat(registers, 0, 1.0f);
    for (int i = 0; i < link.size() && 6 + 2 * i <= registers.size(); ++i)
        putInt(registers, 4 + 2 * i, link.at(i));
    gateway->readData(block(registers));
    for (int i = 0; i < starts.size(); ++i) {
        QCOMPARE(gateway->nodes().at(i)->shownLinkQuality(), lqi.at(i));
        QCOMPARE(gateway->nodes().at(i)->shownBattery(), battery.at(i));
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
    QCOMPARE(gateway->nodes().at(0)->shownChannel(1), QString());
    QCOMPARE(gateway->nodes().at(0)->shownChannel(2), QStringLiteral("0.50"));
    QVERIFY(!gateway->nodes().at(0)->isAlarmed(1));
    QCOMPARE(gateway->nodes().at(1)->shownChannel(1), QString());
    QCOMPARE(gateway->nodes().at(1)->shownChannel(2), QString());
    QVERIFY(!gateway->nodes().at(1)->isAlarmed(1));
    QVERIFY(!gateway->nodes().at(1)->isAlarmed(2));
    QVERIFY(gateway->nodes().at(2)->isAlarmed(1));
    QVERIFY(gateway->nodes().at(2)->shownChannel(1).startsWith(QStringLiteral("340282346638528")));
}

void TestConfiguredDevice::sampleHoldsTheNumbersOfItsTexts_data()
{
    QTest::addColumn<float>("served");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("number");
    QTest::newRow("two decimals") << 21.5f << "21.50" << 21.5;
    QTest::newRow("rounded up") << 21.456f << "21.46" << 21.46;
    QTest::newRow("negative, rounded half away") << -7.125f << "-7.13" << -7.13;
    QTest::newRow("float's own digits dropped") << 1234.567f << "1234.57" << 1234.57;
    QTest::newRow("limit value") << -18.1f << "-18.10" << -18.1;
    QTest::newRow("zero") << 0.0f << "0.00" << 0.0;
}

// Catches a sample whose number is the float's widened value (-18.100000381...) instead of the
// two-decimal text it is shown and stored by, or link quality and battery not carried as numbers.
void TestConfiguredDevice::sampleHoldsTheNumbersOfItsTexts()
{
    QFETCH(float, served);
    QFETCH(QString, text);
    QFETCH(double, number);
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0, 8}, QStringLiteral("TQ100"), &owner);
    QVector<quint16> registers(8);
    putFloat(registers, 0, served);
    putInt(registers, 4, 87);
    putInt(registers, 6, -3);
    gateway->readData(block(registers));
    const NodeDevice* node = gateway->nodes().at(0);
    const NodeSample& sample = node->latestSample();
    QCOMPARE(node->shownChannel(1), text);
    QVERIFY(sample.channel1.has_value());
    QCOMPARE(*sample.channel1, number);
    QCOMPARE(*sample.channel2, 0.0);
    QCOMPARE(sample.linkQuality, std::optional<int>(87));
    QCOMPARE(sample.battery, std::optional<int>(-3));
    QVERIFY(!sample.refresh);
    // The second node's channels lie outside the block.
    QVERIFY(!gateway->nodes().at(1)->latestSample().channel1.has_value());
}

// Catches overflow in the offset arithmetic for start registers at the ends of the int range.
void TestConfiguredDevice::extremeStartRegisters()
{
    QObject owner;
    ConfiguredDevice* gateway =
        gatewayWith({std::numeric_limits<int>::max(), std::numeric_limits<int>::min(), 0},
                    QStringLiteral("TQ100"), &owner);
    QCOMPARE(gateway->registerStart(), std::numeric_limits<int>::min());
    QVector<quint16> registers(12);
    putFloat(registers, 0, 7.0f);
    gateway->readData(block(registers));
    QCOMPARE(gateway->nodes().at(1)->shownChannel(1), QStringLiteral("7.00"));
    QCOMPARE(gateway->nodes().at(0)->shownChannel(1), QString());
    QCOMPARE(gateway->nodes().at(2)->shownChannel(1), QString());
}

// Catches a second retry timer started while one is already pending.
void TestConfiguredDevice::disconnectionStartsOneRetry()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0}, QStringLiteral("TQ100"), &owner);
    gateway->setRetryInterval(300);
    // Counted on the link's thread.
    static std::atomic<int> writes;
    writes = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("ModbusDevice::write")))
                ++writes;
        });
    // As after a real disconnection, the counter sits at the limit.
    gateway->missedPolls = gateway->missedPollLimit();
    gateway->deviceDisconnected();
    QTest::qWait(100);
    gateway->deviceDisconnected();
    QVERIFY(gateway->retryPending);
    // One timer: one retry poll 300 ms after the first event, the next not before 600 ms.
    QTest::qWait(450);
    qInstallMessageHandler(previous);
    QCOMPARE(writes.load(), 1);
    // The retry polled an unreachable gateway (no address): it stays disconnected and waits again.
    QVERIFY(gateway->retryPending);
    QVERIFY(!gateway->connected);
    QCOMPARE(gateway->missedPolls, gateway->missedPollLimit());
}

// Catches a refresh flag that leaks into the next regular poll's samples.
void TestConfiguredDevice::refreshFlagOnlyForTheRefreshPoll()
{
    QObject owner;
    ConfiguredDevice* gateway = gatewayWith({0}, QStringLiteral("TQ700"), &owner);
    NodeDevice* node = gateway->nodes().at(0);
    node->setRecordEnabled(false);
    QSignalSpy polled(gateway, &ConfiguredDevice::polled);
    // A refresh without data (no address configured) leaves the flag cleared.
    const QDateTime before = gateway->lastPollTime;
    gateway->refresh();
    QVERIFY(gateway->refreshPoll);
    QVERIFY(polled.wait(5000));
    QVERIFY(!gateway->refreshPoll);
    gateway->refresh();
    QTRY_COMPARE_WITH_TIMEOUT(polled.size(), 2, 5000);
    QCOMPARE(polled.at(1).at(0).toBool(), false);
    QCOMPARE(gateway->lastPollTime, before);
    QCOMPARE(gateway->missedPolls, 2);
}

// Catches nodes or the link outliving their gateway, or a link thread left running.
void TestConfiguredDevice::deletesNodesAndLink()
{
    auto* gateway = gatewayWith({0, 4}, QStringLiteral("TQ100"), nullptr);
    QPointer<NodeDevice> node = gateway->nodes().at(1);
    QSignalSpy polled(gateway, &ConfiguredDevice::polled);
    gateway->poll();
    QVERIFY(polled.wait(5000));
    static std::atomic<int> released;
    released = 0;
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& message) {
            if (message.startsWith(QLatin1String("ModbusDevice::~ModbusDevice")))
                ++released;
        });
    delete gateway;
    qInstallMessageHandler(previous);
    QVERIFY(node.isNull());
    QCOMPARE(released.load(), 1);
}

QTEST_GUILESS_MAIN(TestConfiguredDevice)
#include "tst_configureddevice.moc"
