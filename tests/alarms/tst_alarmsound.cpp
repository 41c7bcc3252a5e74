#include "alarmmonitor.h"
#include "alarmsound.h"
#include "pulsenullsink.h"

#include <QAudioDeviceInfo>
#include <QAudioOutput>
#include <QStandardPaths>
#include <QTest>

#include <memory>

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
    // Why the cases that play cannot run here; empty when they can.
    QString soundProblem() const;

    PulseNullSink pulseSink;
    bool pulse = false;
    // The monitor of two gateways' two nodes each (range 10 to 30, no delay), and which of their
    // channels are out of range.
    std::unique_ptr<AlarmMonitor> gatewayNodes;
    bool alarm[4][2] = {};
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

// A sound server that cannot start fails the cases that play rather than skipping them: a
// skipped case counts as passed, and the sound would go unchecked for good.
QString TestAlarmSound::soundProblem() const
{
    if (!pulse)
        return pulseSink.errorString();
    if (QAudioDeviceInfo::defaultOutputDevice().isNull())
        return QStringLiteral("Qt has no audio output on the test's PulseAudio daemon "
                              "(libqt5multimedia5-plugins, tools/install-deps.sh)");
    return QString();
}

void TestAlarmSound::cleanupTestCase()
{
    pulseSink.stop();
}

void TestAlarmSound::init()
{
    complaints.clear();
    gatewayNodes = std::make_unique<AlarmMonitor>();
    for (int node = 0; node < 4; ++node) {
        MonitoredNode config;
        config.serial = QStringLiteral("N%1%2").arg(node / 2).arg(node % 2);
        for (int c = 0; c < 2; ++c) {
            config.min[c] = 10;
            config.max[c] = 30;
            alarm[node][c] = false;
        }
        gatewayNodes->setNode(config);
    }
}

void TestAlarmSound::cleanup()
{
    gatewayNodes.reset();
}

// `node` counts the nodes of both gateways in order; a sample of the node goes to the monitor.
void TestAlarmSound::setAlarm(int node, int channel, bool on)
{
    alarm[node][channel - 1] = on;
    gatewayNodes->sample(QStringLiteral("N%1%2").arg(node / 2).arg(node % 2),
                    alarm[node][0] ? 35.0 : 20.0, alarm[node][1] ? 35.0 : 20.0, -1,
                    QDateTime::currentDateTimeUtc());
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
    QVERIFY2(soundProblem().isEmpty(), qPrintable(soundProblem()));
    QFETCH(int, node);
    QFETCH(int, channel);
    QFETCH(bool, playing);
    AlarmSound sound(complain);
    QVERIFY(complaints.isEmpty());
    if (node >= 0)
        setAlarm(node, channel, true);
    sound.update(*gatewayNodes);
    if (playing)
        QTRY_COMPARE_WITH_TIMEOUT(sound.output()->state(), QAudio::ActiveState, 3000);
    else
        QCOMPARE(sound.output()->state(), QAudio::StoppedState);
}

// Catches: a sound that plays on after the alarm ended, also with a monitor of no nodes, or that
// does not come back with the next alarm.
void TestAlarmSound::stopsAndRestarts()
{
    QVERIFY2(soundProblem().isEmpty(), qPrintable(soundProblem()));
    AlarmSound sound(complain);
    QAudioOutput* output = sound.output();
    setAlarm(1, 1, true);
    sound.update(*gatewayNodes);
    QTRY_COMPARE_WITH_TIMEOUT(output->state(), QAudio::ActiveState, 3000);
    setAlarm(1, 1, false);
    sound.update(*gatewayNodes);
    QCOMPARE(output->state(), QAudio::StoppedState);
    sound.update(AlarmMonitor());
    QCOMPARE(output->state(), QAudio::StoppedState);

    setAlarm(2, 2, true);
    sound.update(*gatewayNodes);
    QTRY_COMPARE_WITH_TIMEOUT(output->state(), QAudio::ActiveState, 3000);
}

void TestAlarmSound::followsTheAlarms_data()
{
    QTest::addColumn<int>("delay");
    // "value@second" a sample of channel 1 (range 10 to 30), "2:value@second" of channel 2
    // (range -10 to 10, 0 until set), "tick@second", "ack", "silence minutes", "reminding" (the first active
    // alarm still wants its reminders); each followed by the clock's update of the sound, then
    // "+" playing or "-" silent.
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("delay 0: as the node's flag")
        << 0 << QStringList{"20@0 -", "35@1 +", "30@2 -", "9@3 +", "tick@4 +", "20@5 -"};
    QTest::newRow("delay 1: silent within it")
        << 1 << QStringList{"35@0 -", "tick@59 -", "tick@60 +", "20@61 -"};
    QTest::newRow("acknowledged: silent until the next alarm")
        << 0 << QStringList{"35@0 +", "ack -", "36@1 -", "20@2 -", "35@3 +"};
    // Catches: a silence that never ends, or one that ends early.
    QTest::newRow("silenced: back at its end")
        << 0 << QStringList{"35@0 +", "silence 5 -", "tick@60 -", "tick@299 -", "tick@300 +"};
    // Catches: a new alarm left silent under a silence asked for an earlier one.
    QTest::newRow("silenced: a new alarm brings it back")
        << 0 << QStringList{"35@0 +", "silence 30 -", "tick@60 -", "2:35@61 +", "tick@62 +"};
    // Catches: the same condition raised again after it cleared taken for the silenced alarm.
    QTest::newRow("silenced: the alarm ends and starts anew")
        << 0 << QStringList{"35@0 +", "silence 30 -", "20@10 -", "35@20 +"};
    // Catches: a silence that acknowledges, and so stops the reminders.
    QTest::newRow("silenced: still unacknowledged")
        << 0 << QStringList{"35@0 +", "silence 10 -", "reminding -", "tick@600 +", "reminding +"};
    // Catches: a choice outside 5 to 30 minutes taken as it is.
    QTest::newRow("silence of 1 minute lasts 5")
        << 0 << QStringList{"35@0 +", "silence 1 -", "tick@120 -", "tick@300 +"};
    QTest::newRow("silence of 2 hours lasts 30 minutes")
        << 0 << QStringList{"35@0 +", "silence 120 -", "tick@1799 -", "tick@1800 +"};
    // Catches: a clock set back far stretching a silence beyond its longest.
    QTest::newRow("silenced: clock set back")
        << 0 << QStringList{"35@0 +", "silence 10 -", "tick@-1000 -", "tick@-2000 +"};
    // Catches: a silence outliving an acknowledgement and keeping the next alarm quiet.
    QTest::newRow("silenced, then acknowledged: next alarm sounds")
        << 0 << QStringList{"35@0 +", "silence 30 -", "ack -", "20@5 -", "35@6 +"};
}

// Catches: a sound during an alarm's delay, one that goes on after its acknowledgement, or one
// that stays silent for the next alarm.
void TestAlarmSound::followsTheAlarms()
{
    QVERIFY2(soundProblem().isEmpty(), qPrintable(soundProblem()));
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
    node.min[1] = -10;
    node.max[1] = 10;
    node.rules.channel[0].delayMinutes = delay;
    monitor.setNode(node);
    AlarmSound sound(complain);
    sound.setClock([&now] { return now; });
    double value1 = 20;
    double value2 = 0;
    for (const QString& step : steps) {
        const QStringList parts = step.split(QLatin1Char(' '));
        const QString action = parts.at(0);
        if (action == QLatin1String("ack")) {
            QVERIFY(monitor.acknowledge(monitor.activeAlarms().first().id, QStringLiteral("Kim"),
                                        QString()));
        } else if (action == QLatin1String("silence")) {
            sound.silence(parts.at(1).toInt(), monitor);
            QVERIFY(sound.isSilenced());
        } else if (action == QLatin1String("reminding")) {
            QVERIFY(monitor.isAlarming(monitor.activeAlarms().first().id));
            QCOMPARE(monitor.unacknowledgedCount(), 1);
        } else {
            const QStringList at = action.split(QLatin1Char('@'));
            now = base.addSecs(at.at(1).toInt());
            if (at.at(0) == QLatin1String("tick"))
                monitor.tick();
            else if (at.at(0).startsWith(QLatin1String("2:")))
                value2 = at.at(0).mid(2).toDouble();
            else
                value1 = at.at(0).toDouble();
            if (at.at(0) != QLatin1String("tick"))
                monitor.sample(node.serial, value1, value2, -1, now);
        }
        sound.update(monitor);
        if (parts.last() == QLatin1String("+"))
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
        sound.update(*gatewayNodes);
    qInstallMessageHandler(previous);
    QCOMPARE(warnings, QStringList());
    QCOMPARE(sound.output()->state(), QAudio::StoppedState);
}

QTEST_GUILESS_MAIN(TestAlarmSound)
#include "tst_alarmsound.moc"
