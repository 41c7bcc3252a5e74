#include "alarmeventtable.h"
#include "auditentry.h"
#include "databasewriter.h"
#include "forwarder.h"
#include "forwardersamplereader.h"
#include "influxserver.h"
#include "mosquittobroker.h"
#include "mqttsubscriber.h"
#include "novalue.h"
#include "viewersamplereader.h"
#include "writejob.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <sqlite3.h>

#include <limits>
#include <memory>

namespace {

// Per series (serial, channel) the values by time.
using Series = QMap<QPair<QString, int>, QMap<qint64, double>>;

ForwarderOptions quickOptions()
{
    ForwarderOptions options;
    options.batchRows = 500;
    options.aheadRows = 1000;
    options.pollMs = 50;
    options.positionMs = 50;
    options.statusMs = 100;
    options.timing.retryFirstMs = 100;
    options.timing.retryMaxMs = 400;
    options.timing.connectTimeoutMs = 2000;
    options.timing.requestTimeoutMs = 10000;
    options.timing.reportIntervalMs = 20;
    return options;
}

// `count` rows per node, `step` seconds apart from `first`: every seventh a gap record, every
// fifth with channel 2 without a value. Values differ per node, row and channel.
void record(DatabaseWriter* writer, const QStringList& serials, qint64 first, int count,
            int step = 1)
{
    for (int n = 0; n < count; ++n)
        for (int s = 0; s < serials.size(); ++s) {
            SampleRecord r{serials.at(s), s * 100 + n * 0.125, n % 5 == 0 ? NoValue : -40.5 + n,
                           quint32(first + qint64(n) * step)};
            if (n % 7 == 3)
                r.channel1 = r.channel2 = NoValue;
            writer->queueSample(r);
        }
    QVERIFY(writer->flushAndWait(0));
}

// The values the file holds, with times in [from, to).
Series fileSeries(const QString& path, qint64 from = 0,
                  qint64 to = std::numeric_limits<qint64>::max())
{
    Series series;
    ViewerSampleReader reader(path);
    reader.idRows(1, std::numeric_limits<qint64>::max(), false, [&](const StoredRow& r) {
        const QString serial = QString::fromUtf8(r.serial, r.serialLength);
        for (int c = 0; c < 2; ++c)
            if (r.present[c] && r.time >= from && r.time < to)
                series[{serial, c + 1}][r.time] = r.value[c];
        return true;
    });
    return series;
}

// The serial a tag value or topic level stands for (both mappings are one-to-one).
QString serialOf(const QString& encoded)
{
    return encoded == QLatin1String("%")
               ? QString()
               : QString::fromUtf8(QByteArray::fromPercentEncoding(encoded.toUtf8()));
}

// The values of the rows after `id`.
Series fileSeriesAfter(const QString& path, qint64 id)
{
    Series series;
    ViewerSampleReader reader(path);
    reader.idRows(id + 1, std::numeric_limits<qint64>::max(), false, [&](const StoredRow& r) {
        const QString serial = QString::fromUtf8(r.serial, r.serialLength);
        for (int c = 0; c < 2; ++c)
            if (r.present[c])
                series[{serial, c + 1}][r.time] = r.value[c];
        return true;
    });
    return series;
}

Series influxSeries(const InfluxServer& server, const QString& database,
                    const QString& where = QString())
{
    const QJsonObject result = server.query(
        database,
        QStringLiteral("SELECT value FROM sample %1 GROUP BY serial, channel").arg(where));
    Series series;
    for (const QJsonValue& s : result.value(QStringLiteral("series")).toArray()) {
        const QJsonObject o = s.toObject();
        const QJsonObject tags = o.value(QStringLiteral("tags")).toObject();
        auto& points = series[{serialOf(tags.value(QStringLiteral("serial")).toString()),
                               tags.value(QStringLiteral("channel")).toString().toInt()}];
        for (const QJsonValue& v : o.value(QStringLiteral("values")).toArray())
            points[v.toArray().at(0).toVariant().toLongLong()] = v.toArray().at(1).toDouble();
    }
    return series;
}

int points(const Series& series)
{
    int n = 0;
    for (const auto& s : series)
        n += s.size();
    return n;
}

// The first difference, or empty text.
QString difference(const Series& got, const Series& expected)
{
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QString name = it.key().first + QLatin1Char('/') + QString::number(it.key().second);
        const auto stored = got.value(it.key());
        if (stored.size() != it.value().size())
            return QStringLiteral("%1: %2 points, %3 expected")
                .arg(name)
                .arg(stored.size())
                .arg(it.value().size());
        for (auto p = it.value().cbegin(); p != it.value().cend(); ++p)
            if (!stored.contains(p.key()) || stored.value(p.key()) != p.value())
                return QStringLiteral("%1 at %2: %3, %4 expected")
                    .arg(name)
                    .arg(p.key())
                    .arg(stored.value(p.key()))
                    .arg(p.value());
    }
    if (got.size() != expected.size())
        return QStringLiteral("%1 series, %2 expected").arg(got.size()).arg(expected.size());
    return QString();
}

qint64 storedCursor(const QString& path, const QString& name)
{
    ForwarderSampleReader reader(path);
    qint64 value = -1;
    reader.stateValue(WriteJob::forwardPositionName(name), &value);
    return value;
}

qint64 newestRow(const QString& path)
{
    ForwarderSampleReader reader(path);
    return reader.maxId();
}

bool applyAlarm(const QString& path, const AlarmEventWrite& write)
{
    sqlite3* db = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &db) != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 5000);
    QString error;
    bool ok = sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr) == SQLITE_OK &&
              AlarmEventTable::apply(db, write, &error) &&
              sqlite3_exec(db, "commit", nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

const ForwarderTargetState* stateOf(const Forwarder& forwarder, const QString& key)
{
    for (const ForwarderTargetState& s : forwarder.states())
        if (s.key == key)
            return &s;
    return nullptr;
}

// The cursor has reached the newest row, with nothing left over.
bool caughtUp(const Forwarder& forwarder, const QString& key, qint64 newest)
{
    const ForwarderTargetState* s = stateOf(forwarder, key);
    return s && s->position == newest && s->historyPercent < 0;
}

// What the file's audit trail holds, sequence to hash, read as any other program would.
QMap<qint64, QByteArray> fileHashes(const QString& path)
{
    QMap<qint64, QByteArray> hashes;
    sqlite3* db = nullptr;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, "select sequence, hash from audit_trail", -1, &s, nullptr) ==
            SQLITE_OK)
        while (sqlite3_step(s) == SQLITE_ROW)
            hashes.insert(sqlite3_column_int64(s, 0),
                          QByteArray(reinterpret_cast<const char*>(sqlite3_column_text(s, 1))));
    sqlite3_finalize(s);
    sqlite3_close(db);
    return hashes;
}

// Texts no head may carry: the entries' own, and a target's password.
const QString EntryText = QStringLiteral("entry-text-not-for-witnesses");
const QString TargetPassword = QStringLiteral("target-password-not-for-witnesses");

// `count` entries through the recorder's writer, each holding EntryText.
void appendEntries(DatabaseWriter* writer, int count)
{
    for (int i = 0; i < count; ++i) {
        AuditEntry e;
        e.timeMs = QDateTime::currentMSecsSinceEpoch();
        e.user = QStringLiteral("anna");
        e.action = QStringLiteral("setting changed");
        e.object = QStringLiteral("limit");
        e.oldValue = EntryText;
        e.newValue = QStringLiteral("password changed");
        e.reason = EntryText;
        writer->submit(WriteJob::auditRecord(e));
    }
    QVERIFY(writer->flushAndWait(0));
}

// The heads a target holds as "SEQUENCE HASH" lines, written by the export script; its exit
// code in *status, what it said on stderr in *errors.
QStringList exportedHeads(const QStringList& arguments, int* status, QString* errors)
{
    QProcess process;
    process.start(QStringLiteral("bash"), QStringList{QStringLiteral(HEADS_EXPORT)} + arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        *status = -1;
        return {};
    }
    *status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    *errors = QString::fromUtf8(process.readAllStandardError());
    return QString::fromUtf8(process.readAllStandardOutput()).split(QLatin1Char('\n'),
                                                                     Qt::SkipEmptyParts);
}

// A recorder's database timer: what the writer holds (the cursors among it) goes in often.
class Ticker
{
public:
    explicit Ticker(DatabaseWriter* writer)
    {
        QObject::connect(&timer, &QTimer::timeout, writer, [writer] { writer->flush(0); });
        timer.start(100);
    }

private:
    QTimer timer;
};

} // namespace

// The forwarder on a real project database (through the recorder's writer) against a real
// InfluxDB 1.6 and a real mosquitto of the test's own.
class TestForwarder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void startsAtNewestAndSendsHistoryOnRequest();
    void alarmChangesFollow();
    void outage_data();
    void outage();
    void killedWithBacklog_data();
    void killedWithBacklog();
    void cursorPerTarget_data();
    void cursorPerTarget();
    void awkwardSerialsArrive_data();
    void awkwardSerialsArrive();
    void auditHeadWitnessed_data();
    void auditHeadWitnessed();

private:
    QString newDatabase(const QString& name);
    // Forwarding to one target ("mqtt" or "influx") of the test's own, named `name` there (a
    // topic prefix or a database, made here); on MQTT a subscriber to all of it, started.
    void targetSettings(const QString& target, const QString& name, ForwardingSettings* settings,
                        std::unique_ptr<MqttSubscriber>* subscriber);

    QTemporaryDir dir;
    std::unique_ptr<InfluxServer> influx;
    std::unique_ptr<MosquittoBroker> broker;
};

void TestForwarder::initTestCase()
{
    QVERIFY(dir.isValid());
    QDir().mkpath(dir.filePath(QStringLiteral("influx")));
    QDir().mkpath(dir.filePath(QStringLiteral("broker")));
    influx = std::make_unique<InfluxServer>(dir.filePath(QStringLiteral("influx")));
    QVERIFY2(influx->start(), qPrintable(influx->error()));
    MosquittoBroker::Options options;
    options.persistence = true;
    options.logAll = false;
    broker = std::make_unique<MosquittoBroker>(dir.filePath(QStringLiteral("broker")), options);
    QVERIFY2(broker->start(), qPrintable(broker->error()));
}

void TestForwarder::cleanupTestCase()
{
    broker.reset();
    influx.reset();
}

QString TestForwarder::newDatabase(const QString& name)
{
    return dir.filePath(name + QStringLiteral(".db"));
}

void TestForwarder::targetSettings(const QString& target, const QString& name,
                                   ForwardingSettings* settings,
                                   std::unique_ptr<MqttSubscriber>* subscriber)
{
    if (target == QLatin1String("influx")) {
        QVERIFY(influx->createDatabase(name));
        settings->influx.enabled = true;
        settings->influx.url = influx->url();
        settings->influx.database = name;
        return;
    }
    settings->mqtt.enabled = true;
    settings->mqtt.host = QStringLiteral("127.0.0.1");
    settings->mqtt.port = broker->port();
    settings->mqtt.topicPrefix = name;
    *subscriber = std::make_unique<MqttSubscriber>(name, broker->port(), name + "/#");
    QVERIFY((*subscriber)->start());
}

// Catches: a cursor that starts at the oldest row (the whole file resent when forwarding is
// switched on), history that misses rows or sends rows before its start, values changed or
// lost on the way, gap records or no-value rows sent as values, a cursor not kept in the file.
// Prints the day of one node as InfluxDB gives it beside the rows of the file.
void TestForwarder::startsAtNewestAndSendsHistoryOnRequest()
{
    const QString path = newDatabase(QStringLiteral("history"));
    const QString database = QStringLiteral("history");
    QVERIFY(influx->createDatabase(database));
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);
    const qint64 dayStart = 1718402400; // 2024-06-15 00:00 in UTC+2
    const QStringList nodes = {QStringLiteral("DAY-1"), QStringLiteral("DAY-2")};
    // Half a day before the day, the day itself, every 10 s.
    record(&writer, nodes, dayStart - 43200, (43200 + 86400) / 10, 10);
    const qint64 recorded = newestRow(path);

    ForwardingSettings settings;
    settings.influx.enabled = true;
    settings.influx.url = influx->url();
    settings.influx.database = database;
    auto forwarder =
        std::make_unique<Forwarder>(path, settings, QString(), QString(), &writer, quickOptions());
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(*forwarder, QStringLiteral("influx"), recorded), 10000);
    const QString cursor = Forwarder::rowCursorName(Forwarder::targetIdentity(settings.influx));
    QTRY_COMPARE_WITH_TIMEOUT(storedCursor(path, cursor), recorded, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(*forwarder, QStringLiteral("influx"))->backlogSamples, 0,
                              5000);

    // What is recorded from now on goes out; nothing older.
    record(&writer, nodes, dayStart + 86400, 10, 10);
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(*forwarder, QStringLiteral("influx"), newestRow(path)),
                             20000);
    const Series after = fileSeries(path, dayStart + 86400);
    QVERIFY2(difference(influxSeries(*influx, database), after).isEmpty(),
             qPrintable(difference(influxSeries(*influx, database), after)));

    forwarder->sendHistoryFrom(dayStart);
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(*forwarder, QStringLiteral("influx"))->historyPercent >= 0,
                             10000);
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(*forwarder, QStringLiteral("influx"), newestRow(path)),
                             60000);
    const Series fromStart = fileSeries(path, dayStart);
    const Series stored = influxSeries(*influx, database);
    QVERIFY2(difference(stored, fromStart).isEmpty(), qPrintable(difference(stored, fromStart)));

    // The day of one node, as a user of the central store would ask for it.
    const QString dayWhere = QStringLiteral("WHERE serial = 'DAY-1' AND time >= %1s AND time < %2s")
                                 .arg(dayStart)
                                 .arg(dayStart + 86400);
    const Series day = influxSeries(*influx, database, dayWhere);
    const Series fileDay = [&] {
        Series s = fileSeries(path, dayStart, dayStart + 86400);
        s.remove({nodes.at(1), 1});
        s.remove({nodes.at(1), 2});
        return s;
    }();
    QVERIFY2(difference(day, fileDay).isEmpty(), qPrintable(difference(day, fileDay)));
    const auto utc = [](qint64 t) {
        return QDateTime::fromSecsSinceEpoch(t, Qt::UTC).toString(Qt::ISODate);
    };
    for (int channel = 1; channel <= 2; ++channel) {
        const auto file = fileDay.value({nodes.at(0), channel});
        const auto got = day.value({nodes.at(0), channel});
        double fileSum = 0;
        double gotSum = 0;
        for (double v : file)
            fileSum += v;
        for (double v : got)
            gotSum += v;
        qInfo("DAY-1 channel %d on %s: InfluxDB %d points, sum %.3f, first %s=%g, last %s=%g; "
              "file %d values, sum %.3f",
              channel, qPrintable(utc(dayStart)), got.size(), gotSum,
              qPrintable(utc(got.firstKey())), got.first(), qPrintable(utc(got.lastKey())),
              got.last(), file.size(), fileSum);
    }
    // The README's example query: the day by the hour in the site's time zone.
    const QJsonArray hours =
        influx
            ->query(database,
                    QStringLiteral("SELECT mean(\"value\"), min(\"value\"), max(\"value\") FROM "
                                   "\"sample\" WHERE \"serial\" = 'DAY-1' AND \"channel\" = '1' "
                                   "AND time >= '2024-06-15T00:00:00+02:00' AND time < "
                                   "'2024-06-16T00:00:00+02:00' GROUP BY time(1h) "
                                   "tz('Europe/Berlin')"))
            .value(QStringLiteral("series"))
            .toArray()
            .at(0)
            .toObject()
            .value(QStringLiteral("values"))
            .toArray();
    QCOMPARE(hours.size(), 24);
    const auto firstHour = fileDay.value({nodes.at(0), 1});
    double sum = 0;
    int n = 0;
    for (auto it = firstHour.cbegin(); it != firstHour.cend() && it.key() < dayStart + 3600; ++it) {
        sum += it.value();
        ++n;
    }
    QVERIFY(n > 0);
    QVERIFY(qAbs(hours.at(0).toArray().at(1).toDouble() - sum / n) < 1e-9);
    // Nothing before the start went out.
    QCOMPARE(
        points(influxSeries(*influx, database, QStringLiteral("WHERE time < %1s").arg(dayStart))),
        0);

    forwarder.reset();
    QVERIFY(writer.flushAndWait(0));
    QCOMPARE(storedCursor(path, cursor), newestRow(path));
}

// Catches: alarm events not forwarded, or their later changes (acknowledged, ended) lost.
void TestForwarder::alarmChangesFollow()
{
    const QString path = newDatabase(QStringLiteral("alarms"));
    const QString database = QStringLiteral("alarms");
    QVERIFY(influx->createDatabase(database));
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);
    record(&writer, {QStringLiteral("ALARM-1")}, 1700000000, 10);

    ForwardingSettings settings;
    settings.influx.enabled = true;
    settings.influx.url = influx->url();
    settings.influx.database = database;
    Forwarder forwarder(path, settings, QString(), QString(), &writer, quickOptions());
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, QStringLiteral("influx"), newestRow(path)), 10000);

    AlarmEventRecord event;
    event.id = 1;
    event.serial = QStringLiteral("ALARM-1");
    event.channel = 1;
    event.kind = AlarmKind::High;
    event.limit = 8.0;
    event.start = 1700000100;
    event.raised = 1700000160;
    QVERIFY(applyAlarm(path, AlarmEventWrite::insert(event)));
    const QString query = QStringLiteral("SELECT event, ended, acknowledged_by FROM alarm");
    const auto field = [&](int column) {
        const QJsonArray values = influx->query(database, query)
                                      .value(QStringLiteral("series"))
                                      .toArray()
                                      .at(0)
                                      .toObject()
                                      .value(QStringLiteral("values"))
                                      .toArray();
        return values.size() == 1 ? values.at(0).toArray().at(column).toVariant() : QVariant();
    };
    QTRY_COMPARE_WITH_TIMEOUT(field(1).toInt(), 1, 10000);
    QCOMPARE(field(2).toString(), QStringLiteral("active"));

    QVERIFY(applyAlarm(path, AlarmEventWrite::acknowledge(1, 1700000200, QStringLiteral("Ana"),
                                                          QStringLiteral("door shut"))));
    QTRY_COMPARE_WITH_TIMEOUT(field(3).toString(), QStringLiteral("Ana"), 10000);
    QVERIFY(applyAlarm(path, AlarmEventWrite::close(1, 1700000300, AlarmEnd::Cleared)));
    QTRY_COMPARE_WITH_TIMEOUT(field(2).toString(), QStringLiteral("cleared"), 10000);
}

void TestForwarder::outage_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("influx") << QStringLiteral("influx");
    QTest::newRow("mqtt") << QStringLiteral("mqtt");
}

// Catches: rows recorded while the server is down lost, or the cursor moved past rows the
// server never took; a target that stops trying.
void TestForwarder::outage()
{
    QFETCH(QString, target);
    const QString path = newDatabase(QStringLiteral("outage-") + target);
    const QString database = QStringLiteral("outage");
    QVERIFY(influx->createDatabase(database));
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);
    const QStringList nodes = {target + QStringLiteral("-A"), target + QStringLiteral("-B")};

    ForwardingSettings settings;
    std::unique_ptr<MqttSubscriber> subscriber;
    if (target == QLatin1String("influx")) {
        settings.influx.enabled = true;
        settings.influx.url = influx->url();
        settings.influx.database = database;
    } else {
        settings.mqtt.enabled = true;
        settings.mqtt.host = QStringLiteral("127.0.0.1");
        settings.mqtt.port = broker->port();
        settings.mqtt.topicPrefix = QStringLiteral("outage");
        subscriber = std::make_unique<MqttSubscriber>(QStringLiteral("outage-counter"),
                                                      broker->port(), QStringLiteral("outage/#"));
        QVERIFY(subscriber->start());
    }
    Forwarder forwarder(path, settings, QString(), QString(), &writer, quickOptions());
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(forwarder, target) &&
                                 stateOf(forwarder, target)->status.state ==
                                     ForwardStatus::State::Connected,
                             10000);
    record(&writer, nodes, 1700000000, 300);
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, target, newestRow(path)), 20000);

    if (target == QLatin1String("influx"))
        influx->stop();
    else
        broker->stop();
    record(&writer, nodes, 1700000300, 600);
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(forwarder, target)->status.state !=
                                     ForwardStatus::State::Connected &&
                                 stateOf(forwarder, target)->backlogSamples > 0,
                             20000);
    QVERIFY(stateOf(forwarder, target)->position < newestRow(path));
    QVERIFY(!stateOf(forwarder, target)->status.lastError.isEmpty());
    if (target == QLatin1String("influx"))
        QVERIFY2(influx->start(), qPrintable(influx->error()));
    else
        QVERIFY2(broker->start(), qPrintable(broker->error()));
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, target, newestRow(path)), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(stateOf(forwarder, target)->backlogSamples, 0, 5000);

    const Series expected = fileSeries(path);
    if (target == QLatin1String("influx")) {
        const Series stored =
            influxSeries(*influx, database, QStringLiteral("WHERE serial =~ /^influx-/"));
        QVERIFY2(difference(stored, expected).isEmpty(), qPrintable(difference(stored, expected)));
        return;
    }
    // At least once: every value by a subscriber whose session outlived the broker's restart.
    // Repeats count towards the messages but not towards the values: the wait is for every
    // value, not for as many messages.
    Series delivered;
    auto deliveredAll = [&] {
        delivered.clear();
        for (const MqttSubscriber::Message& m : subscriber->messages()) {
            const QStringList levels = m.topic.split(QLatin1Char('/'));
            if (levels.size() != 3 || m.retained)
                continue;
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            delivered[{levels.at(1), levels.at(2).toInt()}]
                     [o.value(QStringLiteral("time")).toVariant().toLongLong()] =
                         o.value(QStringLiteral("value")).toDouble();
        }
        return difference(delivered, expected).isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(subscriber->count() >= points(expected), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(deliveredAll(), 20000);
    QVERIFY2(difference(delivered, expected).isEmpty(),
             qPrintable(difference(delivered, expected)));
}

void TestForwarder::killedWithBacklog_data()
{
    QTest::addColumn<bool>("serverDown");
    QTest::addColumn<int>("batchRows");
    QTest::newRow("server down while recording") << true << 500;
    QTest::newRow("killed while sending") << false << 5;
}

// Catches: a backlog lost when the recorder dies (kill -9) before it went out, or rows skipped
// or sent twice into a series after the restart.
void TestForwarder::killedWithBacklog()
{
    QFETCH(bool, serverDown);
    QFETCH(int, batchRows);
    const auto killCursor = [this](const QString& database) {
        InfluxForwarding target;
        target.url = influx->url();
        target.database = database;
        return Forwarder::rowCursorName(Forwarder::targetIdentity(target));
    };
    // Up again for the next case whatever happens here.
    struct Restart
    {
        InfluxServer* server;
        bool down = false;
        ~Restart()
        {
            if (down)
                server->start();
        }
    } restart{influx.get()};
    const QString name = serverDown ? QStringLiteral("killdown") : QStringLiteral("killsend");
    const QString path = newDatabase(name);
    QVERIFY(influx->createDatabase(name));
    if (serverDown) {
        influx->stop();
        restart.down = true;
    }

    const int rows = 3000;
    QProcess helper;
    helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    helper.start(QStringLiteral(FORWARDER_HELPER),
                 {path, influx->url(), name, QString::number(rows), QString::number(batchRows)});
    QVERIFY(helper.waitForStarted());
    QByteArray output;
    const auto readOutput = [&] {
        output += helper.readAllStandardOutput();
        return output;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains("stored\n"), 30000);
    if (!serverDown)
        // Some of the backlog went out and its cursor is stored: killed in the midst of it.
        QTRY_VERIFY_WITH_TIMEOUT(storedCursor(path, killCursor(name)) > 0, 30000);
    const qint64 newest = newestRow(path);
    QCOMPARE(helper.state(), QProcess::Running);
    helper.kill();
    QVERIFY(helper.waitForFinished());
    const qint64 cursor = storedCursor(path, killCursor(name));
    qInfo("killed with the cursor at %lld of %lld rows", cursor, newest);
    QVERIFY(cursor < newest);
    QVERIFY(cursor >= 0);

    if (serverDown) {
        restart.down = false;
        QVERIFY2(influx->start(), qPrintable(influx->error()));
    }
    output.clear();
    helper.start(QStringLiteral(FORWARDER_HELPER),
                 {path, influx->url(), name, QStringLiteral("0"), QString::number(batchRows)});
    QVERIFY(helper.waitForStarted());
    const QByteArray done = "position " + QByteArray::number(newest) + "\n";
    QTRY_VERIFY_WITH_TIMEOUT(readOutput().contains(done), 30000);
    helper.kill();
    helper.waitForFinished();

    const Series expected = fileSeries(path);
    // The helper's pattern: per node a gap record every seventh row, channel 2 empty every fifth.
    int values = 0;
    for (int n = 0; n < rows / 2; ++n)
        values += n % 7 == 3 ? 0 : (n % 5 == 0 ? 2 : 4);
    QCOMPARE(points(expected), values);
    const Series stored = influxSeries(*influx, name);
    QVERIFY2(difference(stored, expected).isEmpty(), qPrintable(difference(stored, expected)));
}

void TestForwarder::cursorPerTarget_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("the same target carries on") << "none";
    QTest::newRow("another database starts at the newest row") << "database";
    QTest::newRow("a cursor of the old name is the configured target's") << "legacy";
}

// Catches: a target pointed at another database (or host, port, prefix) carrying on from the
// cursor of the one before, so that the old target's backlog goes to the new one; a cursor
// written before cursors named their target lost on upgrade, or taken over twice.
void TestForwarder::cursorPerTarget()
{
    QFETCH(QString, change);
    const QString name = QStringLiteral("cursor-") + change;
    const QString other = name + QStringLiteral("-other");
    const QString path = newDatabase(name);
    QVERIFY(influx->createDatabase(name));
    QVERIFY(influx->createDatabase(other));
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);
    const QStringList nodes = {name};
    record(&writer, nodes, 1700000000, 50);

    ForwardingSettings first;
    first.influx.enabled = true;
    first.influx.url = influx->url();
    first.influx.database = name;
    qint64 from = newestRow(path);
    if (change == QLatin1String("legacy")) {
        // Where an earlier version left the target, halfway through the rows.
        from /= 2;
        writer.submit(WriteJob::forwardPosition(Forwarder::legacyRowCursorName("influx"), from));
        QVERIFY(writer.flushAndWait(0));
    } else {
        Forwarder forwarder(path, first, QString(), QString(), &writer, quickOptions());
        QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, QStringLiteral("influx"), newestRow(path)),
                                 10000);
    }
    QVERIFY(writer.flushAndWait(0));
    // Recorded while forwarding was off: the first target's backlog.
    record(&writer, nodes, 1700001000, 20);

    ForwardingSettings second = first;
    if (change == QLatin1String("database"))
        second.influx.database = other;
    Forwarder forwarder(path, second, QString(), QString(), &writer, quickOptions());
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, QStringLiteral("influx"), newestRow(path)), 20000);
    const Series toFirst = influxSeries(*influx, name);
    const Series toOther = influxSeries(*influx, other);
    QTRY_COMPARE_WITH_TIMEOUT(
        storedCursor(path, Forwarder::rowCursorName(Forwarder::targetIdentity(second.influx))),
        newestRow(path), 10000);
    if (change == QLatin1String("database")) {
        QCOMPARE(points(toOther), 0);
        QCOMPARE(points(toFirst), 0);
        return;
    }
    const Series expected = fileSeriesAfter(path, from);
    QVERIFY(points(expected) > 0);
    QVERIFY2(difference(toFirst, expected).isEmpty(), qPrintable(difference(toFirst, expected)));
    if (change == QLatin1String("legacy"))
        // Taken over: a target configured later does not take it again.
        QTRY_COMPARE_WITH_TIMEOUT(storedCursor(path, Forwarder::legacyRowCursorName("influx")),
                                  qint64(-1), 10000);
}

void TestForwarder::awkwardSerialsArrive_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("serial");
    QTest::newRow("InfluxDB, empty serial") << "influx" << QString();
    QTest::newRow("InfluxDB, control characters") << "influx" << QStringLiteral("ctl\x01\n\x7F\\");
    QTest::newRow("MQTT, control characters, noncharacter")
        << "mqtt" << QStringLiteral("ctl\x01\n\x7F\u0085\uFDD0");
    QTest::newRow("MQTT, empty serial") << "mqtt" << QString();
}

// Catches: a node whose serial the target cannot carry as it is silently missing there (InfluxDB
// refusing "serial=", libmosquitto refusing the topic) while its rows count as sent, or filed
// under another node's name.
void TestForwarder::awkwardSerialsArrive()
{
    QFETCH(QString, target);
    QFETCH(QString, serial);
    static int round = 0;
    const QString name = QStringLiteral("awkward-%1").arg(++round);
    const QString path = newDatabase(name);
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);

    std::unique_ptr<MqttSubscriber> subscriber;
    ForwardingSettings settings;
    targetSettings(target, name, &settings, &subscriber);
    if (QTest::currentTestFailed())
        return;
    Forwarder forwarder(path, settings, QString(), QString(), &writer, quickOptions());
    QTRY_VERIFY_WITH_TIMEOUT(stateOf(forwarder, target) &&
                                 stateOf(forwarder, target)->status.state ==
                                     ForwardStatus::State::Connected,
                             10000);
    record(&writer, {serial, name}, 1700000000, 30);
    QTRY_VERIFY_WITH_TIMEOUT(caughtUp(forwarder, target, newestRow(path)), 20000);
    QCOMPARE(stateOf(forwarder, target)->status.refused, qint64(0));

    const Series expected = fileSeries(path);
    QCOMPARE(expected.size(), 4);
    Series delivered;
    if (target == QLatin1String("influx")) {
        delivered = influxSeries(*influx, name);
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(subscriber->count() >= points(expected), 20000);
        for (const MqttSubscriber::Message& m : subscriber->messages()) {
            const QStringList levels = m.topic.split(QLatin1Char('/'));
            if (levels.size() != 3 || m.retained)
                continue;
            const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
            delivered[{serialOf(levels.at(1)), levels.at(2).toInt()}]
                     [o.value(QStringLiteral("time")).toVariant().toLongLong()] =
                         o.value(QStringLiteral("value")).toDouble();
        }
    }
    QVERIFY2(difference(delivered, expected).isEmpty(),
             qPrintable(difference(delivered, expected)));
}

void TestForwarder::auditHeadWitnessed_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("outage");
    QTest::newRow("MQTT") << "mqtt" << false;
    QTest::newRow("MQTT, broker down then up") << "mqtt" << true;
    QTest::newRow("InfluxDB") << "influx" << false;
    QTest::newRow("InfluxDB, server down then up") << "influx" << true;
}

// Catches: the audit trail's head not forwarded, or not again after new entries; a head that
// waited through an outage lost, or an older one arriving last; a head not retained on MQTT (a
// witness subscribing later reads nothing); the entries' texts or a password sent with it; an
// export that cannot read what was forwarded or writes what is not a head of the file.
void TestForwarder::auditHeadWitnessed()
{
    QFETCH(QString, target);
    QFETCH(bool, outage);
    static int round = 0;
    const QString name = QStringLiteral("witness-%1").arg(++round);
    const QString path = newDatabase(name);
    DatabaseWriter writer(path, QUuid::createUuid().toString());
    QVERIFY(writer.open());
    Ticker ticker(&writer);
    appendEntries(&writer, 3);

    const bool mqtt = target == QLatin1String("mqtt");
    std::unique_ptr<MqttSubscriber> subscriber;
    ForwardingSettings settings;
    targetSettings(target, name, &settings, &subscriber);
    if (QTest::currentTestFailed())
        return;
    // Everything the target was given, as text: the heads in order of arrival.
    const auto forwarded = [&]() {
        QStringList texts;
        if (mqtt) {
            for (const MqttSubscriber::Message& m : subscriber->messages())
                texts << m.topic + QLatin1Char(' ') + QString::fromUtf8(m.payload);
            return texts;
        }
        const QJsonObject result =
            influx->query(name, QStringLiteral("SELECT * FROM audit_head"));
        for (const QJsonValue& v : result.value(QStringLiteral("series"))
                                       .toArray()
                                       .at(0)
                                       .toObject()
                                       .value(QStringLiteral("values"))
                                       .toArray())
            texts << QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
        return texts;
    };
    // The newest head the target holds: sequence and hash.
    const auto newestForwarded = [&]() -> QPair<qint64, QByteArray> {
        if (mqtt) {
            const QString topic = name + QStringLiteral("/audit/head");
            QPair<qint64, QByteArray> newest;
            for (const MqttSubscriber::Message& m : subscriber->messages())
                if (m.topic == topic) {
                    const QJsonObject o = QJsonDocument::fromJson(m.payload).object();
                    newest = {o.value(QStringLiteral("sequence")).toVariant().toLongLong(),
                              o.value(QStringLiteral("hash")).toString().toUtf8()};
                }
            return newest;
        }
        const QJsonArray values =
            influx->query(name, QStringLiteral("SELECT sequence, hash FROM audit_head"))
                .value(QStringLiteral("series"))
                .toArray()
                .at(0)
                .toObject()
                .value(QStringLiteral("values"))
                .toArray();
        if (values.isEmpty())
            return {};
        const QJsonArray last = values.last().toArray();
        return {last.at(1).toVariant().toLongLong(), last.at(2).toString().toUtf8()};
    };
    const auto fileHead = [&]() -> QPair<qint64, QByteArray> {
        const QMap<qint64, QByteArray> hashes = fileHashes(path);
        return hashes.isEmpty() ? QPair<qint64, QByteArray>()
                                : qMakePair(hashes.lastKey(), hashes.last());
    };

    Forwarder forwarder(path, settings, TargetPassword, TargetPassword, &writer, quickOptions());
    QCOMPARE(fileHead().first, qint64(3));
    QTRY_COMPARE_WITH_TIMEOUT(newestForwarded(), fileHead(), 10000);
    appendEntries(&writer, 2);
    QCOMPARE(fileHead().first, qint64(5));
    QTRY_COMPARE_WITH_TIMEOUT(newestForwarded(), fileHead(), 10000);

    if (outage) {
        if (mqtt)
            broker->stop();
        else
            influx->stop();
        appendEntries(&writer, 1);
        QTRY_VERIFY_WITH_TIMEOUT(stateOf(forwarder, target)->status.state !=
                                     ForwardStatus::State::Connected,
                                 20000);
        appendEntries(&writer, 2);
        QCOMPARE(fileHead().first, qint64(8));
        if (mqtt)
            QVERIFY2(broker->start(), qPrintable(broker->error()));
        else
            QVERIFY2(influx->start(), qPrintable(influx->error()));
        QTRY_COMPARE_WITH_TIMEOUT(newestForwarded(), fileHead(), 30000);
    }

    // Nothing but heads: no text of the entries, no password.
    const QStringList texts = forwarded();
    QVERIFY(!texts.isEmpty());
    for (const QString& text : texts) {
        QVERIFY2(!text.contains(EntryText), qPrintable(text));
        QVERIFY2(!text.contains(TargetPassword), qPrintable(text));
        QVERIFY2(!text.contains(QStringLiteral("anna")), qPrintable(text));
    }

    // The export a verifier reads: every line a head the file holds, the newest among them.
    int status = -1;
    QString errors;
    const QStringList heads =
        mqtt ? exportedHeads({QStringLiteral("mqtt"), QStringLiteral("127.0.0.1"),
                              QString::number(broker->port()), name},
                             &status, &errors)
             : exportedHeads({QStringLiteral("influx"), influx->url(), name}, &status, &errors);
    QVERIFY2(status == 0, qPrintable(errors));
    QVERIFY(!heads.isEmpty());
    const QMap<qint64, QByteArray> hashes = fileHashes(path);
    for (const QString& line : heads) {
        const QStringList parts = line.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 2);
        QVERIFY2(hashes.value(parts.at(0).toLongLong()) == parts.at(1).toUtf8(),
                 qPrintable(line));
    }
    QCOMPARE(heads.last(), QString::number(fileHead().first) + QLatin1Char(' ') +
                               QString::fromUtf8(fileHead().second));
    if (mqtt)
        QCOMPARE(heads.size(), 1); // the retained head alone
}

QTEST_GUILESS_MAIN(TestForwarder)
#include "tst_forwarder.moc"
