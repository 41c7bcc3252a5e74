#include "alarmmonitor.h"
#include "alarmshelves.h"
#include "databasewriter.h"
#include "writejob.h"

#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

namespace {

const QDateTime Base(QDate(2026, 12, 9), QTime(13, 0), Qt::UTC);

} // namespace

// Shelves and out-of-service times as a Supervisor's command makes them: what is refused, and
// that one still holding is taken up again when the project opens after a restart (through the
// recorder's writer and a real database file).
class TestAlarmShelves : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void requestsChecked_data();
    void requestsChecked();
    void restartKeepsWhatHolds_data();
    void restartKeepsWhatHolds();

private:
    // A recorder's start: a monitor knowing node 1001, its shelves opened from the file.
    void start();

    std::unique_ptr<QTemporaryDir> dir;
    QString database;
    std::unique_ptr<DatabaseWriter> writer;
    std::unique_ptr<AlarmMonitor> monitor;
    std::unique_ptr<AlarmShelves> shelves;
    QDateTime now;
};

void TestAlarmShelves::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    database = dir->filePath(QStringLiteral("project.dat"));
    now = Base;
    start();
}

void TestAlarmShelves::cleanup()
{
    shelves.reset();
    monitor.reset();
    writer.reset();
    dir.reset();
}

void TestAlarmShelves::start()
{
    shelves.reset();
    monitor.reset();
    writer.reset();
    writer = std::make_unique<DatabaseWriter>(database, QUuid::createUuid().toString());
    QVERIFY(writer->open());
    monitor = std::make_unique<AlarmMonitor>();
    monitor->setClock([this] { return now; });
    MonitoredNode node;
    node.serial = QStringLiteral("1001");
    node.min[0] = 0;
    node.max[0] = 8;
    monitor->setNode(node);
    shelves = std::make_unique<AlarmShelves>(monitor.get(), database,
                                             [this](const WriteJob& job) { writer->submit(job); });
    QString error;
    QVERIFY2(shelves->open(&error), qPrintable(error));
}

void TestAlarmShelves::requestsChecked_data()
{
    QTest::addColumn<bool>("outOfService");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("seconds"); // the shelve's length, or how far ahead service resumes
    QTest::addColumn<QString>("reason");
    QTest::addColumn<bool>("taken");
    const QString why = QStringLiteral("defrost");
    QTest::newRow("shelve for 15 minutes") << false << "1001" << 1 << 900 << why << true;
    QTest::newRow("shelve the whole node for 24 hours")
        << false << "1001" << 0 << 86400 << why << true;
    QTest::newRow("shelve a second longer than 24 hours")
        << false << "1001" << 1 << 86401 << why << false;
    QTest::newRow("shelve for no time") << false << "1001" << 1 << 0 << why << false;
    QTest::newRow("shelve for a negative time") << false << "1001" << 1 << -60 << why << false;
    QTest::newRow("a node the project has not") << false << "9999" << 1 << 900 << why << false;
    QTest::newRow("no node") << false << "" << 0 << 900 << why << false;
    QTest::newRow("channel 3") << false << "1001" << 3 << 900 << why << false;
    QTest::newRow("channel -1") << false << "1001" << -1 << 900 << why << false;
    QTest::newRow("no reason") << false << "1001" << 1 << 900 << "" << false;
    QTest::newRow("blanks for a reason") << false << "1001" << 1 << 900 << " \t " << false;
    QTest::newRow("a reason of 501 characters")
        << false << "1001" << 1 << 900 << QString(501, QLatin1Char('x')) << false;
    QTest::newRow("out of service for an hour") << true << "1001" << 0 << 3600 << why << true;
    QTest::newRow("out of service for 31 days") << true << "1001" << 0 << 31 * 86400 << why << true;
    QTest::newRow("out of service for 32 days")
        << true << "1001" << 0 << 32 * 86400 << why << false;
    QTest::newRow("out of service until a time past") << true << "1001" << 0 << -1 << why << false;
    QTest::newRow("out of service until now") << true << "1001" << 0 << 0 << why << false;
}

// Catches a shelve longer than allowed, of a node or channel that does not exist, or without a
// reason taken (and quieting alarms) instead of refused with a sentence.
void TestAlarmShelves::requestsChecked()
{
    QFETCH(bool, outOfService);
    QFETCH(QString, serial);
    QFETCH(int, channel);
    QFETCH(int, seconds);
    QFETCH(QString, reason);
    QFETCH(bool, taken);
    QString problem;
    const auto made = outOfService ? shelves->putOutOfService(serial, now.addSecs(seconds), reason,
                                                              QStringLiteral("olga"), &problem)
                                   : shelves->shelve(serial, channel, seconds, reason,
                                                     QStringLiteral("olga"), &problem);
    QCOMPARE(made.has_value(), taken);
    QCOMPARE(problem.isEmpty(), taken);
    QCOMPARE(monitor->suppressions().size(), taken ? 1 : 0);
    if (made) {
        QCOMPARE(made->until - made->from, qint64(seconds));
        QCOMPARE(made->reason, reason.trimmed());
        QCOMPARE(monitor->isOutOfService(serial), outOfService);
    }
}

void TestAlarmShelves::restartKeepsWhatHolds_data()
{
    QTest::addColumn<bool>("outOfService");
    QTest::addColumn<int>("endedAfter"); // seconds after the start; -1: not ended early
    QTest::addColumn<int>("restartAfter");
    QTest::addColumn<bool>("kept");
    QTest::newRow("shelve across a restart") << false << -1 << 600 << true;
    QTest::newRow("shelve over before the restart") << false << -1 << 3600 << false;
    QTest::newRow("unshelved before the restart") << false << 60 << 600 << false;
    QTest::newRow("out of service across a restart") << true << -1 << 600 << true;
    QTest::newRow("back in service before the restart") << true << 60 << 600 << false;
}

// Catches a shelve forgotten by a restart (its alarm sounding again before its time), or one
// over or ended early taken up again.
void TestAlarmShelves::restartKeepsWhatHolds()
{
    QFETCH(bool, outOfService);
    QFETCH(int, endedAfter);
    QFETCH(int, restartAfter);
    QFETCH(bool, kept);
    QString problem;
    const auto made =
        outOfService ? shelves->putOutOfService(QStringLiteral("1001"), now.addSecs(1800),
                                                QStringLiteral("new probe"), QStringLiteral("olga"),
                                                &problem)
                     : shelves->shelve(QStringLiteral("1001"), 1, 1800, QStringLiteral("defrost"),
                                       QStringLiteral("olga"), &problem);
    QVERIFY2(made, qPrintable(problem));
    if (endedAfter >= 0) {
        now = Base.addSecs(endedAfter);
        QVERIFY(shelves->end(made->id));
        QVERIFY(!shelves->end(made->id));
    }
    QVERIFY(writer->flushAndWait(now.toMSecsSinceEpoch()));
    now = Base.addSecs(restartAfter);
    start();
    const QVector<AlarmSuppression> held = monitor->suppressions();
    QCOMPARE(held.size(), kept ? 1 : 0);
    if (kept) {
        QCOMPARE(held.first().id, made->id);
        QCOMPARE(held.first().until, made->until);
        QCOMPARE(held.first().reason, made->reason);
        QCOMPARE(held.first().kind, made->kind);
        QCOMPARE(monitor->isOutOfService(QStringLiteral("1001")), outOfService);
        // A new one after the restart gets an id of its own.
        const auto next = shelves->shelve(QStringLiteral("1001"), 2, 900, QStringLiteral("x"),
                                          QStringLiteral("olga"), &problem);
        QVERIFY(next);
        QVERIFY(next->id > made->id);
    }
}

QTEST_GUILESS_MAIN(TestAlarmShelves)
#include "tst_alarmshelves.moc"
