#include "configureddevice.h"
#include "alarmeventtable.h"
#include "alarmeventwrite.h"
#include "databasepeek.h"
#include "databasewriter.h"
#include "gatewaysimulator.h"
#include "insertserialdata.h"
#include "nodedevice.h"
#include "projectalarms.h"
#include "projectfile.h"
#include "projectservices.h"
#include "spilljournal.h"
#include "sqliteconnection.h"
#include "tickingwriter.h"
#include "writeentry.h"
#include "writeralarmeventstore.h"

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <sqlite3.h>

namespace {

const QDateTime Base(QDate(2024, 10, 27), QTime(0, 50), Qt::UTC);

// "kind channel start end how ack" of every stored event, in id order; times from Base.
QStringList storedEvents(const QString& database)
{
    SqliteConnection db;
    QStringList out;
    if (!db.open(database, SQLITE_OPEN_READONLY))
        return {QStringLiteral("cannot open")};
    QVector<AlarmEventRecord> records;
    AlarmEventFilter all;
    AlarmEventTable::list(db.get(), all, &records, nullptr);
    std::sort(records.begin(), records.end(),
              [](const AlarmEventRecord& a, const AlarmEventRecord& b) { return a.id < b.id; });
    const qint64 base = Base.toSecsSinceEpoch();
    for (const AlarmEventRecord& r : records)
        out << QStringLiteral("%1 %2 %3 %4 %5 %6")
                   .arg(alarmKindText(r.kind))
                   .arg(r.channel)
                   .arg(r.start - base)
                   .arg(r.end ? QString::number(*r.end - base) : QStringLiteral("-"),
                        alarmEndText(r.ended),
                        r.acknowledgedBy.isEmpty() ? QStringLiteral("-") : r.acknowledgedBy);
    return out;
}

// Another program holding the database's write lock while it lives.
class WriteLock
{
public:
    explicit WriteLock(const QString& database)
    {
        locked = db.open(database, SQLITE_OPEN_READWRITE) &&
                 sqlite3_exec(db.get(), "begin immediate", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock() { sqlite3_exec(db.get(), "rollback", nullptr, nullptr, nullptr); }
    bool locked = false;

private:
    SqliteConnection db;
};

} // namespace

// The open project's alarms against its real database, written through the project's one
// database writer as the recorder writes them: the node's own flag and the alarm at a delay of
// 0, the end of the program (clean, or killed) and the next start, writes that meet a locked
// file, and the faults of a simulated gateway.
class TestProjectAlarms : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void delayZeroFollowsTheNodeFlag_data();
    void delayZeroFollowsTheNodeFlag();
    void restart_data();
    void restart();
    void lockedFileRetried();
    void countsActiveAndUnacknowledged();
    void simulatorFaults();
    void idsAboveAWaitingJournal();

private:
    // A project with one TQ100 gateway of one node "N1" at register 0 (range 10 to 30 on
    // channel 1), its database, and its alarms on the fake clock. A second node "N2" at register
    // 8 lets the gateway's block reach N1's link registers, as in the field.
    void makeProject(quint16 port, const NodeAlarmRules& rules, bool secondNode = false);
    // The alarms on a store of the project's writer of their own, opened first, fed by the
    // gateways' nodes as the recorder opens and feeds them.
    std::unique_ptr<ProjectAlarms> openAlarms();
    // Every write handed to the writer is in the file (or the file is locked: false).
    bool settle();
    // storedEvents() once what the writer holds is written.
    QStringList events();
    NodeDevice* node() const { return gateways.first()->nodes().first(); }
    void sample(const QString& ch1, int second, const QString& battery = QStringLiteral("-1"));
    void tickTo(int second);

    std::unique_ptr<QTemporaryDir> dir;
    QString project;
    QString database;
    QList<ConfiguredDevice*> gateways;
    // Its timer quicker than the recorder's: the counts read the log soon after a change.
    std::unique_ptr<TickingWriter> databaseWriter;
    // Those of every openAlarms(), which outlive the alarms on them.
    std::vector<std::unique_ptr<WriterAlarmEventStore>> stores;
    QDateTime now;
};

void TestProjectAlarms::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestProjectAlarms::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    project = dir->filePath(QStringLiteral("store.tpc"));
    now = Base;
}

void TestProjectAlarms::cleanup()
{
    stores.clear();
    databaseWriter.reset();
    qDeleteAll(gateways);
    gateways.clear();
    dir.reset();
}

void TestProjectAlarms::makeProject(quint16 port, const NodeAlarmRules& rules, bool secondNode)
{
    ProjectFile file(project);
    file.create(10000);
    GatewayConfig gateway;
    gateway.ipAddress = QStringLiteral("127.0.0.1");
    gateway.port = port;
    NodeConfig n;
    n.deviceNumber = QStringLiteral("N1");
    n.deviceName = QStringLiteral("Cold room");
    n.ch1Name = QStringLiteral("Temperature");
    n.ch1Min = 10;
    n.ch1Max = 30;
    n.alarmRules = rules;
    gateway.nodes << n;
    if (secondNode) {
        NodeConfig other;
        other.deviceNumber = QStringLiteral("N2");
        other.startAddress = 8;
        gateway.nodes << other;
    }
    file.saveDeviceList({gateway});
    ProjectData data;
    QVERIFY(file.load(&data));
    gateways << ConfiguredDevice::fromConfig(data.gateways.first());
    gateways.first()->setInterval(10000);
    database = ProjectFile::databasePath(project);
    {
        InsertSerialData table(database, QUuid::createUuid().toString());
        QVERIFY(table.createConnection());
    }
    databaseWriter = std::make_unique<TickingWriter>(database, QStringLiteral("alarms"));
    QVERIFY(databaseWriter->open());
}

std::unique_ptr<ProjectAlarms> TestProjectAlarms::openAlarms()
{
    stores.push_back(
        std::make_unique<WriterAlarmEventStore>(databaseWriter->writer(), database));
    WriterAlarmEventStore* store = stores.back().get();
    if (!store->open())
        return nullptr;
    auto alarms = std::make_unique<ProjectAlarms>(project, QStringLiteral("store"),
                                                  ProjectServices::nodesOf(gateways), store);
    connect(store, &WriterAlarmEventStore::written, alarms.get(), &ProjectAlarms::logWritten);
    alarms->setClock([this] { return now; });
    if (!alarms->open())
        return nullptr;
    ProjectServices::feedAlarms(gateways, alarms.get());
    return alarms;
}

bool TestProjectAlarms::settle()
{
    return databaseWriter->settle();
}

QStringList TestProjectAlarms::events()
{
    if (!settle())
        return {QStringLiteral("writes waiting")};
    return storedEvents(database);
}

void TestProjectAlarms::sample(const QString& ch1, int second, const QString& battery)
{
    now = Base.addSecs(second);
    node()->setData(ch1, QStringLiteral("50.00"), QStringLiteral("-1"), battery, now, false);
}

void TestProjectAlarms::tickTo(int second)
{
    // Not every second: the monitor needs a tick only where something falls due.
    now = Base.addSecs(second);
}

void TestProjectAlarms::delayZeroFollowsTheNodeFlag_data()
{
    QTest::addColumn<QStringList>("steps"); // a channel text, "disconnect" or "limits a b"
    QTest::newRow("range edges") << QStringList{"30.00", "30.01", "29.99", "9.99", "10.00", ""};
    QTest::newRow("disconnection") << QStringList{"35.00", "disconnect", "35.00"};
    QTest::newRow("changed limits")
        << QStringList{"35.00", "limits 10 40", "35.00", "limits 30 10", "20.00", "limits 0 0"};
    QTest::newRow("a value equal to a single-precision limit as shown")
        << QStringList{"limits -30 -18.1", "-18.10", "-18.09", "-18.10", "limits -2.1 30", "-2.10"};
}

// Catches: a project without delays whose sound would differ from today's (the node's flag), at
// the range's edges, on disconnection or when the limits change.
void TestProjectAlarms::delayZeroFollowsTheNodeFlag()
{
    QFETCH(QStringList, steps);
    makeProject(1502, NodeAlarmRules());
    auto alarms = openAlarms();
    QVERIFY(alarms);
    int second = 0;
    for (const QString& step : steps) {
        if (step == QLatin1String("disconnect")) {
            node()->deviceDisconnected();
        } else if (step.startsWith(QLatin1String("limits"))) {
            const QStringList bounds = step.split(QLatin1Char(' '));
            node()->setAlarmRanges(bounds.at(1).toFloat(), bounds.at(2).toFloat(), 0, 0);
            // What the project centre does after the option dialog, then the window.
            node()->checkAlarms();
            alarms->rulesChanged();
        } else {
            sample(step, second += 10);
        }
        alarms->tick();
        QCOMPARE(alarms->monitor()->soundWanted(), node()->isAlarmed(1) || node()->isAlarmed(2));
    }
}

void TestProjectAlarms::restart_data()
{
    QTest::addColumn<bool>("crash");
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<int>("end");
    QTest::newRow("clean exit: closed at the exit") << false << false << 600;
    QTest::newRow("crash while recording: at the last stored sample") << true << true << 500;
    QTest::newRow("crash, nothing recorded: at the last sample noted") << true << false << 480;
}

// Catches: an alarm left active in the log after the program ended, closed at the next start
// instead of at the node's last sample, not raised again when the condition still holds, or
// raised again as an event of its own that does not name the one it continues.
void TestProjectAlarms::restart()
{
    QFETCH(bool, crash);
    QFETCH(bool, recorded);
    QFETCH(int, end);
    NodeAlarmRules rules;
    rules.channel[0].delayMinutes = 1;
    makeProject(1502, rules);
    auto alarms = openAlarms();
    QVERIFY(alarms);
    InsertSerialData writer(database, QUuid::createUuid().toString());
    QVERIFY(writer.createConnection());
    node()->setSampleWriter(&writer);
    node()->setRecordEnabled(recorded);
    for (int second = 0; second <= 500; second += 20) {
        sample(QStringLiteral("35.00"), second);
        alarms->tick();
    }
    QVERIFY(writer.insertNow());
    // The samples the monitor noted end with the one at 480 (a minute apart from the raise).
    QCOMPARE(alarms->monitor()->activeCount(), 1);
    tickTo(600);
    // Killed: what was written stays, nothing more happens (the object outlives the checks).
    std::unique_ptr<ProjectAlarms> killed;
    if (crash) {
        QVERIFY(alarms->store()->flush());
        node()->setSampleObserver(nullptr);
        killed = std::move(alarms);
    } else {
        alarms.reset();
    }
    QCOMPARE(events().size(), 1);

    tickTo(900);
    auto next = openAlarms();
    QVERIFY(next);
    QVERIFY(next->store()->flush());
    QCOMPARE(events(), QStringList{QStringLiteral("high 1 0 %1 recorder stopped -").arg(end)});
    // The condition still holds: a new alarm once the delay has passed again.
    sample(QStringLiteral("35.00"), 900);
    next->tick();
    QCOMPARE(next->monitor()->activeCount(), 0);
    tickTo(960);
    next->tick();
    QCOMPARE(next->monitor()->activeCount(), 1);
    QVERIFY(next->store()->flush());
    QCOMPARE(events().last(), QStringLiteral("high 1 900 - active -"));
    // The same excursion as before the restart: the new event and its start message say so.
    const AlarmEventRecord raised = next->monitor()->activeAlarms().first();
    QCOMPARE(raised.continues.value_or(0), 1);
    QCOMPARE(DatabasePeek::scalar(database, QStringLiteral("select continuesId from alarm_event "
                                                           "where id = %1")
                                                .arg(raised.id)),
             1);
    QCOMPARE(next->monitor()->notificationEvent(raised, NotificationKind::Start).continuesEventId,
             1);
    // Back in range and out again: a new excursion continues nothing.
    sample(QStringLiteral("20.00"), 980);
    sample(QStringLiteral("35.00"), 1000);
    tickTo(1100);
    next->tick();
    QCOMPARE(next->monitor()->activeCount(), 1);
    QVERIFY(!next->monitor()->activeAlarms().first().continues);
    next.reset();
    if (killed)
        killed->monitor()->blockSignals(true);
}

// Catches: an event lost, or written out of order, while another program holds the file.
void TestProjectAlarms::lockedFileRetried()
{
    makeProject(1502, NodeAlarmRules());
    auto alarms = openAlarms();
    QVERIFY(alarms);
    auto* store = dynamic_cast<WriterAlarmEventStore*>(alarms->store());
    QVERIFY(store);
    QSignalSpy pending(store, &WriterAlarmEventStore::pendingChanged);
    // The close at the start goes while the file is free.
    QVERIFY(settle());
    {
        WriteLock lock(database);
        QVERIFY(lock.locked);
        sample(QStringLiteral("35.00"), 0);
        sample(QStringLiteral("20.00"), 10);
        QCOMPARE(alarms->monitor()->activeCount(), 0);
        // The event's insert and close wait, counted once the writer finds the file locked.
        QVERIFY(store->flush());
        QVERIFY(!settle());
        QTRY_COMPARE(store->pendingCount(), 2);
        QTRY_VERIFY(!pending.isEmpty());
        QCOMPARE(pending.last().first().toInt(), store->pendingCount());
    }
    QVERIFY(store->flush());
    QVERIFY(settle());
    QTRY_COMPARE(pending.last().first().toInt(), 0);
    QCOMPARE(events(), QStringList{"high 1 0 10 cleared -"});
}

// Catches: a status that forgets an alarm nobody acknowledged once it cleared, or that still
// counts it after its acknowledgement.
void TestProjectAlarms::countsActiveAndUnacknowledged()
{
    makeProject(1502, NodeAlarmRules());
    auto alarms = openAlarms();
    QVERIFY(alarms);
    QSignalSpy counts(alarms.get(), &ProjectAlarms::countsChanged);
    auto last = [&counts] { return counts.isEmpty() ? QVariantList() : counts.last(); };
    QTRY_COMPARE_WITH_TIMEOUT(last(), (QVariantList{0, 0}), 5000);
    sample(QStringLiteral("35.00"), 0);
    QCOMPARE(last(), (QVariantList{1, 1}));
    const qint64 first = alarms->monitor()->activeAlarms().first().id;
    sample(QStringLiteral("20.00"), 10);
    QTRY_COMPARE_WITH_TIMEOUT(last(), (QVariantList{0, 1}), 5000);
    sample(QStringLiteral("35.00"), 20);
    QTRY_COMPARE_WITH_TIMEOUT(last(), (QVariantList{1, 2}), 5000);
    QVERIFY(alarms->monitor()->acknowledge(first, QStringLiteral("Kim"), QStringLiteral("fan")));
    QTRY_COMPARE_WITH_TIMEOUT(last(), (QVariantList{1, 1}), 5000);
    QCOMPARE(events(), (QStringList{"high 1 0 10 cleared Kim", "high 1 20 - active -"}));
}

// Catches: a battery reported low or a gateway gone silent in the field raising nothing, or a
// range alarm that outlives its node's silence.
void TestProjectAlarms::simulatorFaults()
{
    GatewaySimulator sim;
    GatewaySimulator::Gateway gw = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 8});
    gw.nodes[0].ch1 = QStringLiteral("35");
    gw.nodes[0].battery = 60;
    QVERIFY2(sim.start({gw}), qPrintable(sim.errorString()));
    NodeAlarmRules rules;
    rules.noDataMinutes = 5;
    rules.batteryLow = 20;
    makeProject(sim.port(0), rules, true);
    auto alarms = openAlarms();
    QVERIFY(alarms);
    ConfiguredDevice* gateway = gateways.first();
    auto pollOnce = [gateway] {
        QSignalSpy polled(gateway, &ConfiguredDevice::polled);
        gateway->poll();
        return polled.wait(5000);
    };

    QVERIFY(pollOnce());
    QCOMPARE(node()->shownBattery(), QStringLiteral("60"));
    QCOMPARE(alarms->monitor()->activeCount(), 1); // high, at once
    QVERIFY(sim.setBattery(0, 0, 12));
    QVERIFY(pollOnce());
    QCOMPARE(alarms->monitor()->activeCount(), 2);

    QVERIFY(sim.setFault(0, QStringLiteral("stopped")));
    while (!gateway->retryPending)
        QVERIFY(pollOnce());
    alarms->tick();
    QCOMPARE(alarms->monitor()->activeCount(), 1); // the battery alarm stays
    now = now.addSecs(5 * 60);
    alarms->tick();
    QCOMPARE(alarms->monitor()->activeCount(), 2);

    QVERIFY(sim.startGateway(0));
    QVERIFY(sim.setChannel(0, 0, 1, 20.0));
    gateway->disconnectRetry();
    QTRY_VERIFY_WITH_TIMEOUT(gateway->connected, 5000);
    QVERIFY(pollOnce());
    QCOMPARE(alarms->monitor()->activeCount(), 1);
    alarms->stop();
    const QStringList events = this->events();
    QCOMPARE(events.size(), 3);
    QVERIFY2(events.at(0).startsWith(QLatin1String("high 1 ")) &&
                 events.at(0).endsWith(QLatin1String(" no data -")),
             qPrintable(events.at(0)));
    QVERIFY2(events.at(1).startsWith(QLatin1String("battery 0 ")) &&
                 events.at(1).endsWith(QLatin1String(" recorder stopped -")),
             qPrintable(events.at(1)));
    QVERIFY2(events.at(2).startsWith(QLatin1String("no data 0 ")) &&
                 events.at(2).endsWith(QLatin1String(" cleared -")),
             qPrintable(events.at(2)));
}

// Catches a new event taking the id of one a crash left in the writer's journal: the replay
// would then write the one over the other.
void TestProjectAlarms::idsAboveAWaitingJournal()
{
    database = dir->filePath(QStringLiteral("ids.dat"));
    {
        DatabaseWriter writer(database, QStringLiteral("ids"));
        QVERIFY(writer.open());
    }
    WriterAlarmEventStore before(nullptr, database);
    QVERIFY(before.open());
    QCOMPARE(before.firstFreeId(), qint64(1));

    AlarmEventRecord event;
    event.id = 1;
    event.serial = QStringLiteral("N1");
    event.channel = 1;
    event.start = event.raised = Base.toSecsSinceEpoch();
    SpillJournal journal(SpillJournal::pathFor(database));
    QString error;
    QVERIFY2(journal.load(&error), qPrintable(error));
    const std::deque<WriteEntry> entries{
        WriteEntry::ofJob(WriteJob::alarmEvent(AlarmEventWrite::insert(event)), 0)};
    QVERIFY2(journal.append(entries, 1, &error), qPrintable(error));

    WriterAlarmEventStore after(nullptr, database);
    QVERIFY(after.open());
    QVERIFY2(after.firstFreeId() > event.id, qPrintable(QString::number(after.firstFreeId())));
}

QTEST_GUILESS_MAIN(TestProjectAlarms)
#include "tst_projectalarms.moc"
