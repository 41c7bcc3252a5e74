#include "../recording/recordingtestsupport.h"
#include "databasepeek.h"
#include "forwarder.h"
#include "forwardingsettings.h"
#include "gatewaysimulator.h"
#include "projectfile.h"
#include "pulsenullsink.h"
#include "sampletable.h"
#include "webhookreceiver.h"
#include "writejob.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

namespace {

const char* const TimeFormat = "yyyy-MM-dd hh:mm:ss";

// The resident memory of a process in MB, from /proc.
double residentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

// Starts the recorder program on the project with recording on, its settings in configHome;
// false when it does not start.
bool startRecorder(QProcess* recorder, const QString& configHome, const QString& name,
                   const QString& project, const QString& pulseServer)
{
    {
        QSettings settings(configHome + QStringLiteral("/QuillmarLite/Quillmar Lite Modbus.conf"),
                           QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("RecentProjects"));
        settings.setValue(QStringLiteral("list"), QStringList{name});
        settings.setValue(QStringLiteral("projects"), QVariantMap{{name, project}});
        settings.setValue(QStringLiteral("autoLoad"), true);
        settings.setValue(QStringLiteral("autoRecord"), true);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("PULSE_SERVER"), pulseServer);
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("*.debug=false"));
    recorder->setProcessEnvironment(env);
    recorder->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    recorder->start(QStringLiteral(QUILLMAR_RECORDER), QStringList());
    return recorder->waitForStarted(10000);
}

// A project of one gateway (the simulator's first) with one node, polled each second: its path.
QString oneNodeProject(const QTemporaryDir& dir, const QString& name, const QString& deviceNumber,
                       quint16 port)
{
    const QString project = dir.filePath(name + QStringLiteral(".tpc"));
    ProjectFile file(project);
    file.create(1000);
    GatewayConfig config;
    config.ipAddress = QStringLiteral("127.0.0.1");
    config.port = port;
    NodeConfig node;
    node.deviceNumber = deviceNumber;
    config.nodes << node;
    file.saveDeviceList({config});
    return project;
}

// A simulated gateway of one node answering 3.25 and 70; the error text when it cannot start.
QString startOneNodeGateway(GatewaySimulator* sim)
{
    GatewaySimulator::Gateway gateway = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0});
    gateway.nodes[0].ch1 = QStringLiteral("3.25");
    gateway.nodes[0].ch2 = QStringLiteral("70");
    return sim->start({gateway}) ? QString() : sim->errorString();
}

// Entries of the project's audit trail with this action and new value.
qint64 auditCount(const QString& database, const QString& action, const QString& newValue)
{
    return DatabasePeek::scalar(database,
                                QStringLiteral("select count(*) from audit_trail where action = "
                                               "'%1' and newValue = '%2'")
                                    .arg(action, newValue));
}

// A project of one node on a simulated gateway, for the recorder program to record with its
// settings beside the project.
struct OneNodeRecording
{
    PulseNullSink pulse;
    GatewaySimulator sim;
    QTemporaryDir dir;
    QString name;
    QString project;
    QString database;
    QString configHome;

    // Empty when ready; otherwise why not. `noSound` is set when no sound server could be had.
    QString setUp(const QString& projectName, const QString& serial, bool* noSound)
    {
        // The alarm output needs a device, or the recorder waits at a message box for a click.
        *noSound = !pulse.start(QStringLiteral(QUILLMAR_SOURCE_DIR "/tools/pulse-null-sink.sh"));
        if (*noSound)
            return QStringLiteral("no PulseAudio daemon could be started");
        const QString simError = startOneNodeGateway(&sim);
        if (!simError.isEmpty() || !dir.isValid())
            return simError.isEmpty() ? dir.errorString() : simError;
        name = projectName;
        project = oneNodeProject(dir, name, serial, sim.port(0));
        database = ProjectFile::databasePath(project);
        configHome = dir.filePath(QStringLiteral("config"));
        return QString();
    }
    bool start(QProcess* recorder)
    {
        return startRecorder(recorder, configHome, name, project, pulse.server());
    }
};

// Kills the recorder when a test leaves early.
auto killOnExit(QProcess* recorder)
{
    return qScopeGuard([recorder] {
        if (recorder->state() != QProcess::NotRunning) {
            recorder->kill();
            recorder->waitForFinished(5000);
        }
    });
}

} // namespace

// The recorder program itself, ended by a signal while it records.
class TestProgramEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void terminationSignalEndsRecording_data();
    void terminationSignalEndsRecording();
    void killedRecordingFoundAtNextStart();
    void endlessForwardingReplyLeavesRecordingAlone();
};

void TestProgramEnd::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestProgramEnd::terminationSignalEndsRecording_data()
{
    // Another connection holds the write lock from just before the signal for this long.
    QTest::addColumn<int>("lockMs");
    QTest::newRow("free file") << 0;
    QTest::newRow("another program holds the write lock for 3 s") << 3000;
}

// Catches: a recorder ended by SIGTERM losing the samples that wait for their batch, the gap
// records or the stop time, the way a kill does; giving them up after 0.6 s when another
// program (a report, a backup) holds the write lock.
void TestProgramEnd::terminationSignalEndsRecording()
{
    QFETCH(int, lockMs);
    OneNodeRecording run;
    bool noSound = false;
    const QString problem = run.setUp(QStringLiteral("cycle"), QStringLiteral("SIG1"), &noSound);
    if (noSound)
        QSKIP(qPrintable(problem));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    GatewaySimulator& sim = run.sim;
    ProjectFile file(run.project);
    const QString& database = run.database;
    QProcess recorder;
    QVERIFY(run.start(&recorder));
    const auto killRecorder = killOnExit(&recorder);

    // The recording's start is bracketed by two poll counts: `notBefore` was read before the
    // project file last showed no start, `before` after it showed one. A slow test process
    // widens the bracket; it never puts the start outside it.
    qint64 notBefore = 0;
    QDeadlineTimer startDeadline(30000);
    for (;;) {
        const qint64 count = sim.pollCount(0);
        if (!file.value(QStringLiteral("record_start_time")).isEmpty())
            break;
        notBefore = count;
        QVERIFY2(!startDeadline.hasExpired(), "the recording did not start");
        QTest::qWait(20);
    }
    // Polls answered before the recording began, at most.
    const qint64 before = sim.pollCount(0);
    // Signal while a batch is incomplete: a few polls answered since the last write.
    QTRY_VERIFY_WITH_TIMEOUT(sim.pollCount(0) - before - storedRows(database).size() >= 3, 30000);
    std::unique_ptr<LockHolder> holder;
    if (lockMs > 0) {
        holder = std::make_unique<LockHolder>(database);
        QVERIFY(holder->locked);
        QTimer::singleShot(lockMs, &recorder, [&holder] { holder.reset(); });
    }
    const qint64 polled = sim.pollCount(0);
    const QDateTime signalled = QDateTime::currentDateTime();
    QVERIFY(::kill(pid_t(recorder.processId()), SIGTERM) == 0);
    // The event loop runs meanwhile: the lock is let go on time.
    QTRY_VERIFY_WITH_TIMEOUT(recorder.state() == QProcess::NotRunning, 30000);
    QVERIFY(!holder);
    QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
    QCOMPARE(recorder.exitCode(), 0);
    // Polls answered since just before the recording began, at least.
    const qint64 answered = sim.pollCount(0) - notBefore;

    const QStringList rows = storedRows(database);
    const QStringList gaps = rows.filter(QStringLiteral("SIG1 - - "));
    QCOMPARE(gaps.size(), 1);
    QCOMPARE(rows.last(), gaps.first());
    const int samples = rows.size() - 1;
    // Every sample polled up to the signal is stored; one poll may have been in flight.
    QVERIFY2(samples >= polled - before - 1 && samples <= answered + 1,
             qPrintable(QStringLiteral("%1 samples, %2 polls up to the signal, %3 in all")
                            .arg(samples)
                            .arg(polled - before)
                            .arg(answered)));
    const QDateTime stopped = QDateTime::fromString(file.value(QStringLiteral("record_stop_time")),
                                                    QLatin1String(TimeFormat));
    QVERIFY2(stopped.isValid() && stopped >= signalled.addSecs(-1) &&
                 stopped <= QDateTime::currentDateTime().addSecs(1),
             qPrintable(file.value(QStringLiteral("record_stop_time"))));
    // The audit trail says what started and what stopped the recording.
    QCOMPARE(auditCount(database, QStringLiteral("recording started"),
                        QStringLiteral("recording, started by the recorder at start")),
             qint64(1));
    QCOMPARE(auditCount(database, QStringLiteral("recording stopped"),
                        QStringLiteral("stopped by a signal to end the program")),
             qint64(1));
}

// Catches: a recording ended by a kill (or a power loss) that leaves no trace in the audit
// trail: the next start must record it, once.
void TestProgramEnd::killedRecordingFoundAtNextStart()
{
    OneNodeRecording run;
    bool noSound = false;
    const QString problem = run.setUp(QStringLiteral("killed"), QStringLiteral("KIL1"), &noSound);
    if (noSound)
        QSKIP(qPrintable(problem));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    const QString& database = run.database;
    const QString started = QStringLiteral("recording started");
    const QString atStart = QStringLiteral("recording, started by the recorder at start");
    const QString unstopped = QStringLiteral("recording ended without a stop");
    const QString lost =
        QStringLiteral("stopped by a kill or a power loss, found at the next start");
    {
        QProcess recorder;
        QVERIFY(run.start(&recorder));
        const auto killRecorder = killOnExit(&recorder);
        QTRY_VERIFY_WITH_TIMEOUT(auditCount(database, started, atStart) == 1, 30000);
        recorder.kill();
        QVERIFY(recorder.waitForFinished(10000));
    }
    QCOMPARE(auditCount(database, unstopped, lost), qint64(0));
    for (int start = 0; start < 2; ++start) {
        QProcess recorder;
        QVERIFY(run.start(&recorder));
        const auto killRecorder = killOnExit(&recorder);
        QTRY_VERIFY_WITH_TIMEOUT(auditCount(database, started, atStart) == start + 2, 30000);
        QVERIFY(::kill(pid_t(recorder.processId()), SIGTERM) == 0);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.state() == QProcess::NotRunning, 30000);
        // Found at the first start after the kill; the second, after a proper stop, finds none.
        QCOMPARE(auditCount(database, unstopped, lost), qint64(1));
    }
}

// Catches: a forwarding server (or a man in the middle on plain http) that answers the ping and
// then streams its replies without end growing the recorder until it aborts and recording
// stops; the records it was sent lost instead of sent again once it answers properly.
void TestProgramEnd::endlessForwardingReplyLeavesRecordingAlone()
{
    PulseNullSink pulse;
    if (!pulse.start(QStringLiteral(QUILLMAR_SOURCE_DIR "/tools/pulse-null-sink.sh")))
        QSKIP("no PulseAudio daemon could be started");
    WebhookReceiver hostile;
    QVERIFY(hostile.listen());
    hostile.setAnswer(204, "No Content", QByteArray());
    hostile.setEndlessBody("/write");

    GatewaySimulator sim;
    const QString simError = startOneNodeGateway(&sim);
    QVERIFY2(simError.isEmpty(), qPrintable(simError));
    const QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString project =
        oneNodeProject(dir, QStringLiteral("endless"), QStringLiteral("END1"), sim.port(0));
    ForwardingSettings forwarding;
    forwarding.influx.enabled = true;
    forwarding.influx.url = QStringLiteral("http://127.0.0.1:%1").arg(hostile.port());
    forwarding.influx.database = QStringLiteral("site");
    forwarding.save(project);
    const QString database = ProjectFile::databasePath(project);
    const QString configHome = dir.filePath(QStringLiteral("config"));
    QProcess recorder;
    QVERIFY(
        startRecorder(&recorder, configHome, QStringLiteral("endless"), project, pulse.server()));
    const auto killRecorder = killOnExit(&recorder);

    // The first write is cut off at once (not after the 60-s request timeout).
    QTRY_VERIFY_WITH_TIMEOUT(hostile.endlessHangUps() >= 1, 30000);
    const double first = residentMb(recorder.processId());
    const QString rows = QStringLiteral("select count(*) from quorbinal");
    const qint64 rowsThen = DatabasePeek::scalar(database, rows);
    // Tried again after the back-off (2 s, then 4 s), cut off again each time.
    QTRY_VERIFY_WITH_TIMEOUT(hostile.endlessHangUps() >= 3, 30000);
    QCOMPARE(recorder.state(), QProcess::Running);
    QTRY_VERIFY_WITH_TIMEOUT(DatabasePeek::scalar(database, rows) > rowsThen + 3, 10000);
    const double grown = residentMb(recorder.processId()) - first;
    qInfo("resident memory grew by %.1f MB over %d cut-off replies (%lld bytes handed over)", grown,
          hostile.endlessHangUps(), static_cast<long long>(hostile.endlessBytes()));
    QVERIFY2(grown < 64, qPrintable(QString::number(grown)));
    QVERIFY(hostile.endlessBytes() < (qint64(64) << 20));

    // The server answers properly again: what was recorded meanwhile goes out, nothing lost.
    hostile.setEndlessBody(QByteArray());
    const QString cursor =
        QStringLiteral("select value from %1 where name = '%2'")
            .arg(SampleTable::stateName(), WriteJob::forwardPositionName(Forwarder::rowCursorName(
                                               Forwarder::targetIdentity(forwarding.influx))));
    // Every row stored before the mend went out (the cursor reaches the file with the writer's
    // next batches, 8 samples of the one node apart).
    const qint64 storedBefore =
        DatabasePeek::scalar(database, QStringLiteral("select max(id) from quorbinal"));
    QVERIFY(storedBefore > 0);
    QTRY_VERIFY_WITH_TIMEOUT(DatabasePeek::scalar(database, cursor) >= storedBefore, 60000);
    QByteArray written;
    for (const WebhookReceiver::Request& request : hostile.requests())
        written += request.body;
    QVERIFY(written.contains("serial=END1 "));
    QCOMPARE(recorder.state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestProgramEnd)
#include "tst_programend.moc"
