#include "influxserver.h"
#include "influxtarget.h"
#include "lineprotocol.h"
#include "serverprocess.h"
#include "targetprobe.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QMap>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Database = QStringLiteral("sites");

// Names a node may be given; the last field is the unit.
const QVector<QStringList> AwkwardNodes = {
    {QStringLiteral("plain"), QStringLiteral("Store 1"), QStringLiteral("Air"),
     QStringLiteral("°C")},
    {QStringLiteral("with space"), QStringLiteral("Room \"3\""), QStringLiteral("Temp, inside"),
     QStringLiteral("°F")},
    {QStringLiteral("comma,and=eq"), QStringLiteral("back\\slash\\"), QStringLiteral("name=x"),
     QStringLiteral("%RH")},
    {QStringLiteral("quote\"d"), QStringLiteral("line\nbreak"), QStringLiteral("tab\tname"),
     QStringLiteral("hPa")},
    {QStringLiteral("back\\slash"), QStringLiteral("Ωμέγα"), QStringLiteral("ü "),
     QStringLiteral("m/s")},
    {QStringLiteral("trail\\"), QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")},
    {QStringLiteral("Kühlraum 3 °C"), QStringLiteral("Kühlraum"), QStringLiteral("Luft"),
     QStringLiteral("°C")},
};

ForwardTiming quickTiming()
{
    ForwardTiming timing;
    timing.retryFirstMs = 100;
    timing.retryMaxMs = 400;
    timing.connectTimeoutMs = 2000;
    timing.requestTimeoutMs = 10000;
    timing.batchLines = 64;
    timing.reportIntervalMs = 20;
    return timing;
}

InfluxForwarding settingsFor(const InfluxServer& server)
{
    InfluxForwarding settings;
    settings.enabled = true;
    settings.url = server.url();
    settings.database = Database;
    return settings;
}

// Per series (serial as stored, channel) the points: time -> value, node, name, unit.
using Points = QMap<QPair<QString, QString>, QMap<qint64, QStringList>>;

Points expectedPoints(const ForwardBatch& batch)
{
    Points points;
    for (const ForwardSample& s : batch.samples) {
        // The one text InfluxDB cannot hold as it is: a backslash ending a tag value.
        QString serial = s.serial;
        if (serial.endsWith(QLatin1Char('\\')))
            serial.replace(serial.size() - 1, 1, QChar(0x29F5));
        points[{serial, QString::number(s.channel)}][s.time] =
            QStringList{QString::number(s.value), s.nodeName, s.channelName, s.unit};
    }
    return points;
}

Points storedPoints(const InfluxServer& server)
{
    const QJsonObject result = server.query(
        Database,
        QStringLiteral("SELECT value, node, channel_name, unit FROM sample GROUP BY serial, "
                       "channel"));
    Points points;
    for (const QJsonValue& s : result.value(QStringLiteral("series")).toArray()) {
        const QJsonObject series = s.toObject();
        const QJsonObject tags = series.value(QStringLiteral("tags")).toObject();
        auto& rows = points[{tags.value(QStringLiteral("serial")).toString(),
                             tags.value(QStringLiteral("channel")).toString()}];
        for (const QJsonValue& v : series.value(QStringLiteral("values")).toArray()) {
            const QJsonArray row = v.toArray();
            const qint64 time = row.at(0).toVariant().toLongLong();
            if (rows.contains(time))
                rows[time] << QStringLiteral("twice");
            else
                rows[time] =
                    QStringList{QString::number(row.at(1).toDouble()), row.at(2).toString(),
                                row.at(3).toString(), row.at(4).toString()};
        }
    }
    return points;
}

// The first difference between two sets of points, or empty text.
QString difference(const Points& stored, const Points& expected)
{
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString series = it.key().first + QLatin1Char('/') + it.key().second;
        if (!stored.contains(it.key()))
            return QStringLiteral("series missing: ") + series;
        const auto& rows = stored[it.key()];
        for (auto p = it.value().cbegin(); p != it.value().cend(); ++p)
            if (rows.value(p.key()) != p.value())
                return QStringLiteral("%1 at %2: stored [%3], expected [%4]")
                    .arg(series)
                    .arg(p.key())
                    .arg(rows.value(p.key()).join(QLatin1Char('|')),
                         p.value().join(QLatin1Char('|')));
        if (rows.size() != it.value().size())
            return series + QStringLiteral(": %1 points, expected %2")
                                .arg(rows.size())
                                .arg(it.value().size());
    }
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        if (!expected.contains(it.key()))
            return QStringLiteral("series not sent: ") + it.key().first + QLatin1Char('/') +
                   it.key().second;
    return QString();
}

} // namespace

Q_DECLARE_METATYPE(CleartextPassword)

// InfluxTarget against a real InfluxDB 1.6 of the test's own.
class TestInfluxTarget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyRecordOnceWithAwkwardNames();
    void outage_data();
    void outage();
    void failureIsNamed_data();
    void failureIsNamed();
    void wrongPasswordBacksOff();
    void passwordWithoutTls_data();
    void passwordWithoutTls();
    void partialWriteIsCountedNotRetried();
    void hungServerDoesNotHoldTheOwner();

private:
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<InfluxServer> server;
};

void TestInfluxTarget::initTestCase()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    server = std::make_unique<InfluxServer>(dir->path());
    QVERIFY2(server->start(), qPrintable(server->error()));
    QVERIFY(server->createDatabase(Database));
}

void TestInfluxTarget::cleanupTestCase()
{
    server.reset();
}

void TestInfluxTarget::everyRecordOnceWithAwkwardNames()
{
    // Faults: a record lost or doubled between the queue and the server, an escaping mistake
    // that drops or misfiles a line, a name or unit that splits a series, a repeated write
    // that adds points, an event's change written as a point of its own.
    InfluxTarget target(settingsFor(*server), QString(), quickTiming());
    TargetProbe probe(&target);
    const ForwardBatch batch = sampleBatch(AwkwardNodes, 30, 1700000000, 1);

    ForwardBatch alarms;
    ForwardAlarmChange change;
    change.eventId = 5;
    change.changeMark = 1;
    change.serial = QStringLiteral("with space");
    change.channel = 1;
    change.kind = AlarmKind::High;
    change.limit = 30;
    change.start = 1700000010;
    change.nodeName = QStringLiteral("Room \"3\"");
    alarms.alarmChanges << change;
    change.changeMark = 2;
    change.end = 1700000020;
    change.ended = AlarmEnd::Cleared;
    change.acknowledgedAt = 1700000015;
    change.acknowledgedBy = QStringLiteral("K. \"Q\"");
    change.comment = QStringLiteral("door, closed\\");
    alarms.alarmChanges << change;

    target.send(batch);
    target.send(alarms);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), batch.samples.size(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.alarmChangesAcknowledged(), 2, 20000);
    QCOMPARE(probe.repeated(), 0);
    QCOMPARE(probe.last().state, ForwardStatus::State::Connected);
    QCOMPARE(probe.last().refused, qint64(0));

    const Points expected = expectedPoints(batch);
    QCOMPARE(expected.size(), AwkwardNodes.size() * 2);
    QCOMPARE(difference(storedPoints(*server), expected), QString());

    // The same records once more: the same points, no more.
    target.send(batch);
    QTRY_COMPARE_WITH_TIMEOUT(probe.repeated(), batch.samples.size(), 20000);
    QCOMPARE(difference(storedPoints(*server), expected), QString());

    const QJsonObject events = server->query(
        Database, QStringLiteral("SELECT change, ended, acknowledged_by, comment, node FROM "
                                 "alarm GROUP BY serial, kind, channel"));
    const QJsonArray series = events.value(QStringLiteral("series")).toArray();
    QCOMPARE(series.size(), 1);
    const QJsonObject one = series.at(0).toObject();
    QCOMPARE(one.value(QStringLiteral("tags")).toObject().value(QStringLiteral("serial")),
             QJsonValue(QStringLiteral("with space")));
    const QJsonArray values = one.value(QStringLiteral("values")).toArray();
    QCOMPARE(values.size(), 1);
    const QJsonArray point = values.at(0).toArray();
    QCOMPARE(point.at(0).toVariant().toLongLong(), 1700000010);
    QCOMPARE(point.at(1).toInt(), 2);
    QCOMPARE(point.at(2).toString(), QStringLiteral("cleared"));
    QCOMPARE(point.at(3).toString(), change.acknowledgedBy);
    QCOMPARE(point.at(4).toString(), change.comment);
    QCOMPARE(point.at(5).toString(), change.nodeName);
}

void TestInfluxTarget::outage_data()
{
    QTest::addColumn<bool>("killed");
    QTest::newRow("stopped") << false;
    QTest::newRow("killed") << true;
}

void TestInfluxTarget::outage()
{
    // Faults: records handed over while the server is down dropped or acknowledged without a
    // write, no new attempt after the server is back, records acknowledged before the server
    // kept them (lost with a killed server).
    QFETCH(bool, killed);
    QTemporaryDir own;
    InfluxServer influx(own.path());
    QVERIFY2(influx.start(), qPrintable(influx.error()));
    QVERIFY(influx.createDatabase(Database));

    InfluxTarget target(settingsFor(influx), QString(), quickTiming());
    TargetProbe probe(&target);
    const QVector<QStringList> nodes = AwkwardNodes.mid(0, 2);
    const ForwardBatch before = sampleBatch(nodes, 50, 1700000000, 1);
    target.send(before);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), before.samples.size(), 20000);

    if (killed)
        influx.killHard();
    else
        influx.stop();
    const ForwardBatch during = sampleBatch(nodes, 50, 1700000050, 101);
    target.send(during);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 20000);
    const int failedAttempts = probe.last().attempts;
    QTRY_VERIFY_WITH_TIMEOUT(probe.last().attempts >= failedAttempts + 2, 20000);
    QCOMPARE(probe.samplesAcknowledged(), before.samples.size());
    QVERIFY(probe.last().waiting + probe.last().inFlight == during.samples.size());

    QVERIFY2(influx.start(), qPrintable(influx.error()));
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(),
                              before.samples.size() + during.samples.size(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Connected, 5000);
    QVERIFY(!probe.last().lastError.isEmpty());

    Points expected = expectedPoints(before);
    const Points later = expectedPoints(during);
    for (auto it = later.cbegin(); it != later.cend(); ++it)
        for (auto p = it.value().cbegin(); p != it.value().cend(); ++p)
            expected[it.key()][p.key()] = p.value();
    QCOMPARE(difference(storedPoints(influx), expected), QString());
}

void TestInfluxTarget::failureIsNamed_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("text");

    // Fault: a failing target that says nothing a user can act on, or acknowledges anyway.
    QTest::newRow("no such database") << ""
                                      << "missing"
                                      << "has no database \"missing\"";
    QTest::newRow("not http") << "ftp://127.0.0.1/" << Database
                              << "is not an http or https address";
    QTest::newRow("no database set") << ""
                                     << ""
                                     << "No InfluxDB database is set";
    QTest::newRow("nothing listens")
        << QStringLiteral("http://127.0.0.1:%1").arg(ServerProcess::freeLoopbackPort()) << Database
        << "Couldn't connect";
}

void TestInfluxTarget::failureIsNamed()
{
    QFETCH(QString, url);
    QFETCH(QString, database);
    QFETCH(QString, text);
    InfluxForwarding settings = settingsFor(*server);
    if (!url.isEmpty())
        settings.url = url;
    settings.database = database;
    InfluxTarget target(settings, QString(), quickTiming());
    TargetProbe probe(&target);
    target.send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(text), qPrintable(probe.last().lastError));
    QCOMPARE(probe.samplesAcknowledged(), 0);
}

void TestInfluxTarget::wrongPasswordBacksOff()
{
    // Faults: a refused login retried in a storm, not named as such, or data acknowledged.
    QTemporaryDir own;
    InfluxServer secured(own.path(), true);
    QVERIFY2(secured.start(), qPrintable(secured.error()));
    QVERIFY(secured.createDatabase(Database));
    // Every request the target makes shows in the server's log.
    const auto requests = [&secured] {
        return secured.countInLog(QStringLiteral("\"POST /write")) +
               secured.countInLog(QStringLiteral("\"GET /ping"));
    };
    const int before = requests();

    InfluxForwarding settings = settingsFor(secured);
    settings.user = InfluxServer::adminUser();
    ForwardTiming timing = quickTiming();
    timing.retryFirstMs = 200;
    timing.retryMaxMs = 1600;
    InfluxTarget target(settings, QStringLiteral("wrong"), timing);
    TargetProbe probe(&target);
    target.send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(QLatin1String("not authorised")),
             qPrintable(probe.last().lastError));
    QElapsedTimer sinceFirstRefusal;
    sinceFirstRefusal.start();
    const int first = probe.last().attempts;

    // Three more tries wait 200, 400 and 800 ms after the ones before.
    QTRY_VERIFY_WITH_TIMEOUT(probe.last().attempts >= first + 3, 10000);
    QVERIFY2(sinceFirstRefusal.elapsed() >= 1300,
             qPrintable(QString::number(sinceFirstRefusal.elapsed())));
    QTRY_COMPARE_WITH_TIMEOUT(requests() - before, probe.last().attempts, 5000);
    QCOMPARE(probe.samplesAcknowledged(), 0);

    // The right password: what waited arrives.
    InfluxTarget right(settings, InfluxServer::adminPassword(), timing);
    TargetProbe rightProbe(&right);
    right.send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
    QTRY_COMPARE_WITH_TIMEOUT(rightProbe.samplesAcknowledged(), 6, 10000);
}

void TestInfluxTarget::passwordWithoutTls_data()
{
    QTest::addColumn<CleartextPassword>("cleartext");
    QTest::addColumn<QString>("passwordProblem");
    QTest::addColumn<bool>("loginInUrl");
    QTest::addColumn<QString>("text");

    // http:// with a login: Basic authentication is the password in base64.
    QTest::newRow("refused: no request") << CleartextPassword::Refused << QString() << false
                                         << "The password is not sent unencrypted";
    QTest::newRow("ticked: sent") << CleartextPassword::Allowed << QString() << false << QString();
    // A project from before the choice goes on as it did (the status bar warns).
    QTest::newRow("legacy project: sent")
        << CleartextPassword::Unset << QString() << false << QString();
    // The password could not be had: no login with an empty one.
    QTest::newRow("secret service locked")
        << CleartextPassword::Allowed
        << QStringLiteral("Secret service locked: password not available") << false
        << "Secret service locked: password not available";
    // A login written into the shared project file's URL by hand.
    QTest::newRow("user:pass@ in the URL")
        << CleartextPassword::Allowed << QString() << true << "must not hold a user or password";
}

// Catches a password sent readable without the user's choice, a login tried with an empty
// password when the stored one could not be had, or one taken from the project file's URL.
void TestInfluxTarget::passwordWithoutTls()
{
    QFETCH(CleartextPassword, cleartext);
    QFETCH(QString, passwordProblem);
    QFETCH(bool, loginInUrl);
    QFETCH(QString, text);
    QTemporaryDir own;
    InfluxServer secured(own.path(), true);
    QVERIFY2(secured.start(), qPrintable(secured.error()));
    QVERIFY(secured.createDatabase(Database));
    const auto requests = [&secured] {
        return secured.countInLog(QStringLiteral("\"POST /write")) +
               secured.countInLog(QStringLiteral("\"GET /ping"));
    };
    // The fixture's own requests reach the log a moment after their answers.
    int before = -1;
    for (int i = 0; i < 25 && before != requests(); ++i) {
        before = requests();
        QTest::qWait(200);
    }

    InfluxForwarding settings = settingsFor(secured);
    QVERIFY(settings.url.startsWith(QLatin1String("http://")));
    settings.cleartext = cleartext;
    settings.passwordProblem = passwordProblem;
    QString password = InfluxServer::adminPassword();
    if (loginInUrl) {
        settings.url.replace(
            QStringLiteral("http://"),
            QStringLiteral("http://%1:%2@").arg(InfluxServer::adminUser(), password));
        password.clear();
    } else {
        settings.user = InfluxServer::adminUser();
        if (!passwordProblem.isEmpty())
            password.clear();
    }
    InfluxTarget target(settings, password, quickTiming());
    TargetProbe probe(&target);
    target.send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
    if (text.isEmpty()) {
        QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), 6, 10000);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
    QVERIFY2(probe.last().lastError.contains(text), qPrintable(probe.last().lastError));
    QTest::qWait(300);
    QCOMPARE(requests() - before, 0);
    QCOMPARE(probe.samplesAcknowledged(), 0);
}

void TestInfluxTarget::partialWriteIsCountedNotRetried()
{
    // Faults: a point the server will never take retried forever (everything behind it
    // stalls), or dropped without a word.
    QVERIFY(server->write(Database, "sample,channel=1,serial=typed value=\"text\" 1650000000\n") ==
            204);
    ForwardBatch batch;
    ForwardSample sample;
    sample.rowId = 1;
    sample.serial = QStringLiteral("typed");
    sample.channel = 1;
    sample.value = 1.5;
    sample.time = 1650000001;
    batch.samples << sample;
    // A month later: another shard, where "value" has no type yet.
    sample.rowId = 2;
    sample.serial = QStringLiteral("other");
    sample.time += 30 * 86400;
    batch.samples << sample;

    InfluxTarget target(settingsFor(*server), QString(), quickTiming());
    TargetProbe probe(&target);
    target.send(batch);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), 2, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().refused, qint64(1), 5000);
    QVERIFY2(probe.last().lastError.contains(QLatin1String("partial write")),
             qPrintable(probe.last().lastError));
    QCOMPARE(probe.last().state, ForwardStatus::State::Connected);
    const QJsonObject other =
        server->query(Database, QStringLiteral("SELECT value FROM sample WHERE serial = 'other'"));
    QCOMPARE(other.value(QStringLiteral("series")).toArray().size(), 1);
}

void TestInfluxTarget::hungServerDoesNotHoldTheOwner()
{
    // Faults: a write to a server that never answers waits forever, or its owner's thread
    // waits for it on the way out.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    InfluxForwarding settings;
    settings.url = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());
    settings.database = Database;
    ForwardTiming timing = quickTiming();
    timing.requestTimeoutMs = 500;

    {
        InfluxTarget target(settings, QString(), timing);
        TargetProbe probe(&target);
        target.send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
        QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Failing, 10000);
        QVERIFY2(probe.last().lastError.contains(QLatin1String("did not answer in time")),
                 qPrintable(probe.last().lastError));
    }

    timing.requestTimeoutMs = 60000;
    auto target = std::make_unique<InfluxTarget>(settings, QString(), timing);
    TargetProbe probe(target.get());
    target->send(sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1));
    QTRY_VERIFY_WITH_TIMEOUT(probe.last().inFlight > 0, 10000);
    QElapsedTimer ending;
    ending.start();
    target.reset();
    QVERIFY2(ending.elapsed() < 5000, qPrintable(QString::number(ending.elapsed())));
}

QTEST_GUILESS_MAIN(TestInfluxTarget)
#include "tst_influxtarget.moc"
