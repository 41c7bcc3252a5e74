#include "alarmmonitor.h"
#include "alarmsound.h"
#include "configureddevice.h"
#include "nodedevice.h"
#include "pulsenullsink.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QStandardPaths>
#include <QTest>

// The alarm sound against a PulseAudio null sink of the test's own, and on a missing device.
class TestAlarmSound : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();
    void playsWhileAlarm_data();
    void playsWhileAlarm();
    void stopsAndRestarts();
    void followsTheAlarms_data();
    void followsTheAlarms();
    void nullDeviceNeverStarts();

private:
    void setAlarm(int node, int channel, bool on);

    PulseNullSink pulseSink;
    bool pulse = false;
    // A gap first, as a list may hold one; then two gateways of two nodes each.
    QList<ConfiguredDevice*> gateways;
    QStringList complaints;
    AlarmSound::Complaint complain;
};

void TestAlarmSound::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Before the first audio call of the process: the sound back end connects once.
    pulse = pulseSink.start(QStringLiteral(QUILLMAR_SOURCE_DIR "/tools/pulse-null-sink.sh"));
    if (pulse)
        qputenv("PULSE_SERVER", pulseSink.server().toLocal8Bit());
    complain = [this](const QString& title, const QString& text) {
        complaints << title + QLatin1Char('|') + text;
    };
}

void TestAlarmSound::cleanupTestCase()
{
    pulseSink.stop();
}

void TestAlarmSound::init()
{
    complaints.clear();
    gateways << nullptr;
    for (int gateway = 0; gateway < 2; ++gateway) {
        GatewayConfig config;
        config.ipAddress = QStringLiteral("127.0.0.1");
        for (int node = 0; node < 2; ++node) {
            NodeConfig nodeConfig;
            nodeConfig.deviceNumber = QStringLiteral("N%1%2").arg(gateway).arg(node);
            nodeConfig.startAddress = node * 4;
            config.nodes << nodeConfig;
        }
        gateways << ConfiguredDevice::fromConfig(config);
    }
}

void TestAlarmSound::cleanup()
{
    qDeleteAll(gateways);
    gateways.clear();
}

// `node` counts the nodes of all gateways in order.
void TestAlarmSound::setAlarm(int node, int channel, bool on)
{
    NodeDevice* device = gateways[1 + node / 2]->nodes()[node % 2];
    (channel == 1 ? device->ch1Alarm : device->ch2Alarm) = on;
}

void TestAlarmSound::playsWhileAlarm_data()
{
    QTest::addColumn<int>("node"); // -1: none
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("playing");
    QTest::newRow("no alarm") << -1 << 1 << false;
    QTest::newRow("first node, channel 1") << 0 << 1 << true;
    QTest::newRow("second gateway's last node, channel 2") << 3 << 2 << true;
}

// Catches: an alarm of a later node or of the second channel left silent, or a sound without
// an alarm.
void TestAlarmSound::playsWhileAlarm()
{
    if (!pulse || QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device: only the null-device case is checked");
    QFETCH(int, node);
    QFETCH(int, channel);
    QFETCH(bool, playing);
    AlarmSound sound(complain);
    QVERIFY(complaints.isEmpty());
    if (node >= 0)
        setAlarm(node, channel, true);
    sound.update(gateways);
    if (playing)
        QTRY_COMPARE_WITH_TIMEOUT(sound.output()->state(), QAudio::ActiveState, 3000);
    else
        QCOMPARE(sound.output()->state(), QAudio::StoppedState);
}

// Catches: a sound that plays on after the alarm ended, also without gateways, or that does not
// come back with the next alarm.
void TestAlarmSound::stopsAndRestarts()
{
    if (!pulse || QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device");
    AlarmSound sound(complain);
    QAudioOutput* output = sound.output();
    setAlarm(1, 1, true);
    sound.update(gateways);
    QTRY_COMPARE_WITH_TIMEOUT(output->state(), QAudio::ActiveState, 3000);
    setAlarm(1, 1, false);
    sound.update(gateways);
    QCOMPARE(output->state(), QAudio::StoppedState);
    sound.update({});
    QCOMPARE(output->state(), QAudio::StoppedState);

    setAlarm(2, 2, true);
    sound.update(gateways);
    QTRY_COMPARE_WITH_TIMEOUT(output->state(), QAudio::ActiveState, 3000);
}

void TestAlarmSound::followsTheAlarms_data()
{
    QTest::addColumn<int>("delay");
    // "value@second" a sample of channel 1 (range 10 to 30), "tick@second", "ack"; each followed
    // by the clock's update of the sound, then "+" playing or "-" silent.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("delay 0: as the node's flag")
        << 0 << QStringList{"20@0 -", "35@1 +", "30@2 -", "9@3 +", "tick@4 +", "20@5 -"};
    QTest::newRow("delay 1: silent within it")
        << 1 << QStringList{"35@0 -", "tick@59 -", "tick@60 +", "20@61 -"};
    QTest::newRow("acknowledged: silent until the next alarm")
        << 0 << QStringList{"35@0 +", "ack -", "36@1 -", "20@2 -", "35@3 +"};
}

// Catches: a sound during an alarm's delay, one that goes on after its acknowledgement, or one
// that stays silent for the next alarm.
void TestAlarmSound::followsTheAlarms()
{
    if (!pulse || QAudioDeviceInfo::defaultOutputDevice().isNull())
        QSKIP("no audio output device");
    QFETCH(int, delay);
    QFETCH(QStringList, steps);
    const QDateTime base(QDate(2024, 3, 31), QTime(1, 0), Qt::UTC);
    QDateTime now = base;
    AlarmMonitor monitor;
    monitor.setClock([&now] { return now; });
    MonitoredNode node;
    node.serial = QStringLiteral("N1");
    node.min[0] = 10;
    node.max[0] = 30;
    node.rules.channel[0].delayMinutes = delay;
    monitor.setNode(node);
    AlarmSound sound(complain);
    for (const QString& step : steps) {
        const QStringList parts = step.split(QLatin1Char(' '));
        const QString action = parts.at(0);
        if (action == QLatin1String("ack")) {
            QVERIFY(monitor.acknowledge(monitor.activeAlarms().first().id, QStringLiteral("Kim"),
                                        QString()));
        } else {
            const QStringList at = action.split(QLatin1Char('@'));
            now = base.addSecs(at.at(1).toInt());
            if (at.at(0) == QLatin1String("tick"))
                monitor.tick();
            else
                monitor.sample(node.serial, at.at(0).toDouble(), 0, -1, now);
        }
        sound.update(monitor);
        if (parts.at(1) == QLatin1String("+"))
            QTRY_COMPARE_WITH_TIMEOUT(sound.output()->state(), QAudio::ActiveState, 3000);
        else
            QCOMPARE(sound.output()->state(), QAudio::StoppedState);
    }
}

namespace {

QStringList warnings;

void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

} // namespace

// Catches: a start attempted on a missing device, which fails at once and warns every second,
// or the unsupported format not shown.
void TestAlarmSound::nullDeviceNeverStarts()
{
    AlarmSound sound(QAudioDeviceInfo(), complain);
    QCOMPARE(complaints,
             QStringList{"Audio|Raw audio format not supported by backend, cannot play audio!"});
    setAlarm(0, 1, true);
    warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    for (int tick = 0; tick < 3; ++tick)
        sound.update(gateways);
    qInstallMessageHandler(previous);
    QCOMPARE(warnings, QStringList());
    QCOMPARE(sound.output()->state(), QAudio::StoppedState);
}

QTEST_GUILESS_MAIN(TestAlarmSound)
#include "tst_alarmsound.moc"
