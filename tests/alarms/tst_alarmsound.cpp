#include "alarmsound.h"
#include "acquisition/configureddevice.h"
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
