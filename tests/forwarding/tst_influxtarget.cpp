#include "influxserver.h"
#include "influxtarget.h"
#include "lineprotocol.h"
#include "serverprocess.h"
#include "targetprobe.h"
#include "webhookreceiver.h"

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
    // An empty serial, one with control characters and one like another's encoding.
    {QString(), QStringLiteral("no serial"), QStringLiteral("a"), QStringLiteral("b")},
    {QStringLiteral("ctl\x01\x7F\r\n"), QStringLiteral("c"), QStringLiteral("d"),
     QStringLiteral("e")},
    {QStringLiteral("ctl%01%7F%0D%0A"), QStringLiteral("f"), QStringLiteral("g"),
     QStringLiteral("h")},
};

// What a line break in a string field is stored as.
QString stored(QString text)
{
    return text.replace(QLatin1String("\r\n"), QLatin1String(" "))
        .replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
}

// The serial a tag value stands for (the mapping is one-to-one).
QString serialOf(const QString& tag)
{
    return tag == QLatin1String("%")
               ? QString()
               : QString::fromUtf8(QByteArray::fromPercentEncoding(tag.toUtf8()));
}

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
        points[{s.serial, QString::number(s.channel)}][s.time] = QStringList{
            QString::number(s.value), stored(s.nodeName), stored(s.channelName), stored(s.unit)};
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
        auto& rows = points[{serialOf(tags.value(QStringLiteral("serial")).toString()),
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
    void refusedLinesAreSkipped_data();
    void refusedLinesAreSkipped();
    void endlessReplyIsCutOff();
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
    // that drops or misfiles a line (an empty serial, control characters), two serials in one
    // series, a name or unit that splits a series, a repeated write that adds points, an
    // event's change written as a point of its own, two events starting in one second written
    // as one point, a line break in a comment.
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
    change.comment = QStringLiteral("door, closed\nby K.\\");
    alarms.alarmChanges << change;
    // The next event of the node, starting in the same second the first one ended in.
    ForwardAlarmChange next = change;
    next.eventId = 6;
    next.changeMark = 3;
    next.comment.clear();
    next.acknowledgedAt.reset();
    next.acknowledgedBy.clear();
    next.end.reset();
    next.ended = AlarmEnd::Active;
    alarms.alarmChanges << next;

    target.send(batch);
    target.send(alarms);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), batch.samples.size(), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.alarmChangesAcknowledged(), 3, 20000);
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
    QCOMPARE(values.size(), 2);
    const QJsonArray point =
        values.at(0).toArray().at(1).toInt() == 2 ? values.at(0).toArray() : values.at(1).toArray();
    QCOMPARE(point.at(0).toVariant().toLongLong(), 1700000010);
    QCOMPARE(point.at(1).toInt(), 2);
    QCOMPARE(point.at(2).toString(), QStringLiteral("cleared"));
    QCOMPARE(point.at(3).toString(), change.acknowledgedBy);
    QCOMPARE(point.at(4).toString(), stored(change.comment));
    QCOMPARE(point.at(5).toString(), change.nodeName);
    const QJsonArray second =
        values.at(0).toArray() == point ? values.at(1).toArray() : values.at(0).toArray();
    QCOMPARE(second.at(0).toVariant().toLongLong(), 1700000010);
    QCOMPARE(second.at(1).toInt(), 3);
    QCOMPARE(second.at(2).toString(), QStringLiteral("active"));
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

void TestInfluxTarget::refusedLinesAreSkipped_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("refused"); // places of lines InfluxDB cannot read
    QTest::newRow("a write of unreadable lines only") << 3 << QList<int>{0, 1, 2};
    QTest::newRow("one among readable ones") << 9 << QList<int>{4};
    QTest::newRow("two far apart") << 12 << QList<int>{1, 10};
}

void TestInfluxTarget::refusedLinesAreSkipped()
{
    // Faults: a write InfluxDB answers "unable to parse" without "partial write" retried for
    // ever (every record behind it stalls), refused lines not counted or not named by their
    // row, readable lines of the same write lost.
    QFETCH(int, count);
    QFETCH(QList<int>, refused);
    const QString serial = QStringLiteral("lp-%1").arg(count);
    ForwardBatch batch;
    for (int i = 0; i < count; ++i) {
        ForwardSample sample;
        sample.rowId = 100 + i;
        sample.serial = serial;
        sample.value = i;
        // Outside the times InfluxDB can store: "unable to parse ... time outside range".
        sample.time = refused.contains(i) ? qint64(1000000000000) : 1660000000 + i;
        batch.samples << sample;
    }
    // Behind them, records that must not wait.
    ForwardBatch behind;
    for (int i = 0; i < 5; ++i) {
        ForwardSample sample;
        sample.rowId = 200 + i;
        sample.serial = serial;
        sample.value = 100 + i;
        sample.time = 1660001000 + i;
        behind.samples << sample;
    }

    // The first write holds the batch alone.
    ForwardTiming timing = quickTiming();
    timing.batchLines = count;
    InfluxTarget target(settingsFor(*server), QString(), timing);
    TargetProbe probe(&target);
    target.send(batch);
    target.send(behind);
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), count + 5, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().refused, qint64(refused.size()), 5000);
    QCOMPARE(probe.last().state, ForwardStatus::State::Connected);
    QVERIFY2(probe.last().lastError.contains(QStringLiteral("row %1").arg(100 + refused.last())),
             qPrintable(probe.last().lastError));
    const QJsonArray series =
        server
            ->query(Database,
                    QStringLiteral("SELECT value FROM sample WHERE serial = '%1'").arg(serial))
            .value(QStringLiteral("series"))
            .toArray();
    QCOMPARE(series.size(), 1);
    QCOMPARE(series.at(0).toObject().value(QStringLiteral("values")).toArray().size(),
             count - refused.size() + 5);
}

void TestInfluxTarget::endlessReplyIsCutOff()
{
    // Faults: a reply kept whole (a server that answers the ping and then streams without end
    // grows the recorder until it aborts), a reply cut off counted as a write, records lost
    // after it.
    WebhookReceiver hostile;
    QVERIFY(hostile.listen());
    hostile.setAnswer(204, "No Content", QByteArray());
    hostile.setEndlessBody("/write");
    InfluxForwarding settings;
    settings.url = QStringLiteral("http://127.0.0.1:%1").arg(hostile.port());
    settings.database = Database;
    ForwardTiming timing = quickTiming();
    timing.requestTimeoutMs = 3000;
    InfluxTarget target(settings, QString(), timing);
    TargetProbe probe(&target);
    const ForwardBatch batch = sampleBatch(AwkwardNodes.mid(0, 1), 3, 1600000000, 1);
    target.send(batch);
    // Cut off at once, and tried again after the back-off: long before the request timeout.
    QTRY_VERIFY_WITH_TIMEOUT(hostile.endlessHangUps() >= 2, 2500);
    QCOMPARE(probe.last().state, ForwardStatus::State::Failing);
    QVERIFY2(probe.last().lastError.contains(QLatin1String("cut off")),
             qPrintable(probe.last().lastError));
    QCOMPARE(probe.samplesAcknowledged(), 0);
    // What the server could hand over before the hang-up: the sockets' buffers, not the reply.
    QVERIFY2(hostile.endlessBytes() < (qint64(32) << 20),
             qPrintable(QString::number(hostile.endlessBytes())));

    // The server mends its ways: the records were kept, and go out.
    hostile.setEndlessBody(QByteArray());
    QTRY_COMPARE_WITH_TIMEOUT(probe.samplesAcknowledged(), batch.samples.size(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(probe.last().state, ForwardStatus::State::Connected, 5000);
    QVERIFY(
        hostile.requests().last().body.contains(LineProtocol::sampleLine(batch.samples.last())));
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
