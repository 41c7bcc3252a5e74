#include "forwardrecords.h"
#include "mqttlayout.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>

#include <mosquitto.h>

// Topics and payloads of the records on a broker.
class TestMqttLayout : public QObject
{
    Q_OBJECT

private slots:
    void topics_data();
    void topics();
    void prefixProblem_data();
    void prefixProblem();
    void samplePayload();
    void alarmPayload();
    void auditHeadPayload_data();
    void auditHeadPayload();
};

void TestMqttLayout::topics_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("sample"); // channel 2
    QTest::addColumn<QString>("alarm");
    QTest::addColumn<QString>("status");

    // Faults: a serial that adds topic levels or wildcards (the broker refuses the message or
    // files it under another node), a doubled '/' from a prefix typed with a trailing one.
    QTest::newRow("plain") << "site/3"
                           << "N-17"
                           << "site/3/N-17/2"
                           << "site/3/N-17/alarm"
                           << "site/3/status";
    QTest::newRow("prefix with trailing slash") << "site/3/"
                                                << "N-17"
                                                << "site/3/N-17/2"
                                                << "site/3/N-17/alarm"
                                                << "site/3/status";
    QTest::newRow("no prefix") << ""
                               << "N-17"
                               << "N-17/2"
                               << "N-17/alarm"
                               << "status";
    QTest::newRow("slash in serial") << "p"
                                     << "a/b"
                                     << "p/a%2Fb/2"
                                     << "p/a%2Fb/alarm"
                                     << "p/status";
    QTest::newRow("wildcards in serial") << "p"
                                         << "a+b#c"
                                         << "p/a%2Bb%23c/2"
                                         << "p/a%2Bb%23c/alarm"
                                         << "p/status";
    QTest::newRow("percent in serial") << "p"
                                       << "100%"
                                       << "p/100%25/2"
                                       << "p/100%25/alarm"
                                       << "p/status";
    QTest::newRow("leading dollar") << ""
                                    << "$SYS"
                                    << "%24SYS/2"
                                    << "%24SYS/alarm"
                                    << "status";
    // Faults: a serial with a character libmosquitto refuses in a topic (the publish is refused,
    // the node silently missing from the broker), two serials sharing a topic.
    QTest::newRow("control characters, DEL") << "p"
                                             << QStringLiteral("a\x01"
                                                               "b\tc\x7F")
                                             << "p/a%01b%09c%7F/2"
                                             << "p/a%01b%09c%7F/alarm"
                                             << "p/status";
    QTest::newRow("C1 control") << "p" << QStringLiteral("a\u0085b\u009F") << "p/a%C2%85b%C2%9F/2"
                                << "p/a%C2%85b%C2%9F/alarm"
                                << "p/status";
    QTest::newRow("noncharacters")
        << "p" << QStringLiteral("a\uFDD0b\uFFFEc") + QString::fromUcs4(U"\U0010FFFF")
        << "p/a%EF%B7%90b%EF%BF%BEc%F4%8F%BF%BF/2"
        << "p/a%EF%B7%90b%EF%BF%BEc%F4%8F%BF%BF/alarm"
        << "p/status";
    QTest::newRow("percent-encoded look-alike") << "p"
                                                << "a%01"
                                                << "p/a%2501/2"
                                                << "p/a%2501/alarm"
                                                << "p/status";
    QTest::newRow("empty serial") << "p"
                                  << ""
                                  << "p//2"
                                  << "p//alarm"
                                  << "p/status";
    // Fault: a node's test topic equal to a topic of the node whose serial is "alarmtest".
    QTest::newRow("serial alarmtest") << "p"
                                      << "alarmtest"
                                      << "p/alarmtest/2"
                                      << "p/alarmtest/alarm"
                                      << "p/status";
    QTest::newRow("dollar inside, non-ASCII, blank") << "Kühlhaus"
                                                     << "T$ 1 °"
                                                     << "Kühlhaus/T$ 1 °/2"
                                                     << "Kühlhaus/T$ 1 °/alarm"
                                                     << "Kühlhaus/status";
}

void TestMqttLayout::topics()
{
    QFETCH(QString, prefix);
    QFETCH(QString, serial);
    QFETCH(QString, sample);
    QFETCH(QString, alarm);
    QFETCH(QString, status);
    QCOMPARE(MqttLayout::sampleTopic(prefix, serial, 2), sample);
    QCOMPARE(MqttLayout::alarmTopic(prefix, serial), alarm);
    QCOMPARE(MqttLayout::statusTopic(prefix), status);
    // The same checks the library makes before it publishes.
    for (const QString& topic : {sample, alarm}) {
        const QByteArray bytes = topic.toUtf8();
        QCOMPARE(mosquitto_validate_utf8(bytes.constData(), bytes.size()), int(MOSQ_ERR_SUCCESS));
        QCOMPARE(mosquitto_pub_topic_check(bytes.constData()), int(MOSQ_ERR_SUCCESS));
    }
    // An alarm test has a topic of its own, which no node's samples or alarms share (nor those
    // of a node named like the test's level), for one node and for all.
    for (const QString& node : {serial, QString()}) {
        const QString test = MqttLayout::alarmTestTopic(prefix, node);
        const QByteArray bytes = test.toUtf8();
        QCOMPARE(mosquitto_pub_topic_check(bytes.constData()), int(MOSQ_ERR_SUCCESS));
        for (const QString& other : {serial, QStringLiteral("alarmtest"), QStringLiteral("test")}) {
            QVERIFY(test != MqttLayout::sampleTopic(prefix, other, 1));
            QVERIFY(test != MqttLayout::sampleTopic(prefix, other, 2));
            QVERIFY(test != MqttLayout::alarmTopic(prefix, other));
        }
        QVERIFY(test != MqttLayout::auditHeadTopic(prefix));
        QVERIFY(test != MqttLayout::statusTopic(prefix));
    }
    if (!serial.isEmpty())
        QVERIFY(MqttLayout::alarmTestTopic(prefix, serial) !=
                MqttLayout::alarmTestTopic(prefix, QString()));
    // One-to-one: the serial comes back from its level.
    const QString level = sample.split(QLatin1Char('/')).at(sample.count(QLatin1Char('/')) - 1);
    QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(level.toUtf8())), serial);
}

void TestMqttLayout::prefixProblem_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<bool>("usable");
    QTest::newRow("levels") << "a/b/c" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("plus") << "a/+/c" << false;
    QTest::newRow("hash") << "a/#" << false;
    // Faults: a prefix libmosquitto refuses (every publish and the last will refused, the broker
    // never reached) taken without a word.
    QTest::newRow("control character") << QStringLiteral("site\x01") << false;
    QTest::newRow("line break") << "site/\n3" << false;
    QTest::newRow("DEL") << QStringLiteral("site\x7F") << false;
    QTest::newRow("C1 control") << QStringLiteral("site\u0085/3") << false;
    QTest::newRow("noncharacter") << QStringLiteral("site\uFDD0") << false;
    QTest::newRow("non-ASCII, blank") << "Kühlhaus/Süd 3" << true;
}

void TestMqttLayout::prefixProblem()
{
    // Fault: a prefix with wildcards accepted, and every publish refused by the library.
    QFETCH(QString, prefix);
    QFETCH(bool, usable);
    QCOMPARE(MqttLayout::prefixProblem(prefix).isEmpty(), usable);
}

void TestMqttLayout::samplePayload()
{
    // Faults: the time as a float in exponent form, a value with noise digits ("21.300000001"),
    // quotes in a name breaking the JSON.
    ForwardSample sample;
    sample.time = 1700000123;
    sample.value = 21.3;
    sample.nodeName = QStringLiteral("Room \"3\"");
    sample.channelName = QStringLiteral("Air\\in");
    sample.unit = QStringLiteral("°C");
    const QByteArray payload = MqttLayout::samplePayload(sample);
    QVERIFY2(payload.contains("\"time\":1700000123"), payload.constData());
    QVERIFY2(payload.contains("\"value\":21.3,") || payload.endsWith("\"value\":21.3}"),
             payload.constData());
    QJsonParseError error;
    const QJsonObject o = QJsonDocument::fromJson(payload, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.size(), 5);
    QCOMPARE(o.value(QStringLiteral("time")).toVariant().toLongLong(), sample.time);
    QCOMPARE(o.value(QStringLiteral("value")).toDouble(), sample.value);
    QCOMPARE(o.value(QStringLiteral("node")).toString(), sample.nodeName);
    QCOMPARE(o.value(QStringLiteral("channel")).toString(), sample.channelName);
    QCOMPARE(o.value(QStringLiteral("unit")).toString(), sample.unit);
}

void TestMqttLayout::alarmPayload()
{
    // Faults: a change without its mark (subscribers cannot tell the latest), times missing
    // where they are set, or present as 0 where they are not.
    ForwardAlarmChange change;
    change.eventId = 42;
    change.changeMark = 7;
    change.serial = QStringLiteral("N-1");
    change.channel = 1;
    change.kind = AlarmKind::High;
    change.limit = 30.0;
    change.start = 1700000000;
    change.extremeValue = 31.5;
    change.extremeTime = 1700000060;
    change.nodeName = QStringLiteral("Store");
    change.channelName = QStringLiteral("Air");
    change.unit = QStringLiteral("°C");
    QJsonObject o = QJsonDocument::fromJson(MqttLayout::alarmPayload(change)).object();
    QCOMPARE(o.value(QStringLiteral("event")).toInt(), 42);
    QCOMPARE(o.value(QStringLiteral("change")).toInt(), 7);
    QCOMPARE(o.value(QStringLiteral("kind")).toString(), QStringLiteral("high"));
    QCOMPARE(o.value(QStringLiteral("column")).toInt(), 1);
    QCOMPARE(o.value(QStringLiteral("limit")).toDouble(), 30.0);
    QCOMPARE(o.value(QStringLiteral("extreme")).toDouble(), 31.5);
    QCOMPARE(o.value(QStringLiteral("extremeTime")).toVariant().toLongLong(), 1700000060);
    QVERIFY(o.value(QStringLiteral("end")).isNull());
    QVERIFY(o.value(QStringLiteral("acknowledgedAt")).isNull());
    QCOMPARE(o.value(QStringLiteral("ended")).toString(), QStringLiteral("active"));

    change.channel = 0;
    change.kind = AlarmKind::NoData;
    change.end = 1700000900;
    change.ended = AlarmEnd::RecorderStopped;
    change.acknowledgedAt = 1700000500;
    change.acknowledgedBy = QStringLiteral("A. Smith");
    change.comment = QStringLiteral("door closed");
    o = QJsonDocument::fromJson(MqttLayout::alarmPayload(change)).object();
    QVERIFY(!o.contains(QStringLiteral("column")));
    QCOMPARE(o.value(QStringLiteral("kind")).toString(), QStringLiteral("no data"));
    QCOMPARE(o.value(QStringLiteral("end")).toVariant().toLongLong(), 1700000900);
    QCOMPARE(o.value(QStringLiteral("ended")).toString(), QStringLiteral("recorder stopped"));
    QCOMPARE(o.value(QStringLiteral("acknowledgedAt")).toVariant().toLongLong(), 1700000500);
    QCOMPARE(o.value(QStringLiteral("acknowledgedBy")).toString(), change.acknowledgedBy);
    QCOMPARE(o.value(QStringLiteral("comment")).toString(), change.comment);
}

void TestMqttLayout::auditHeadPayload_data()
{
    QTest::addColumn<qint64>("timeMs");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QString>("berlinTime"); // the time as written under TZ=Europe/Berlin
    const QByteArray hash = QByteArray("0123456789abcdef").repeated(4);
    QTest::newRow("winter") << qint64(1768046400250) << hash
                            << QStringLiteral("2026-01-10T13:00:00.250+01:00");
    QTest::newRow("summer") << qint64(1783684800000) << hash
                            << QStringLiteral("2026-07-10T14:00:00.000+02:00");
    // A file altered by hand may hold anything where the hash belongs.
    QTest::newRow("quotes and a line break in the hash")
        << qint64(1768046400000) << QByteArray("\"}\n{\"sequence\":1") << QString();
}

void TestMqttLayout::auditHeadPayload()
{
    // Faults: the time in UTC or without its offset (a reader cannot tell the local time it
    // was), the time cut to seconds, a hash that breaks the JSON or adds a field, more sent
    // than the head (the entry's texts).
    QFETCH(qint64, timeMs);
    QFETCH(QByteArray, hash);
    QFETCH(QString, berlinTime);
    ForwardAuditHead head{77, hash, timeMs};
    QJsonParseError error;
    const QJsonObject o =
        QJsonDocument::fromJson(MqttLayout::auditHeadPayload(head), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(o.keys(), (QStringList{QStringLiteral("hash"), QStringLiteral("sequence"),
                                    QStringLiteral("time")}));
    QCOMPARE(o.value(QStringLiteral("sequence")).toVariant().toLongLong(), qint64(77));
    QCOMPARE(o.value(QStringLiteral("hash")).toString().toUtf8(), hash);
    const QString time = o.value(QStringLiteral("time")).toString();
    const QDateTime read = QDateTime::fromString(time, Qt::ISODateWithMs);
    QCOMPARE(read.toMSecsSinceEpoch(), timeMs);
    QCOMPARE(read.offsetFromUtc(), QDateTime::fromMSecsSinceEpoch(timeMs).offsetFromUtc());
    QVERIFY2(time.contains(QRegularExpression(QStringLiteral("[+-]\\d\\d:\\d\\d$"))),
             qPrintable(time));
    if (!berlinTime.isEmpty() && qgetenv("TZ") == "Europe/Berlin")
        QCOMPARE(time, berlinTime);
    QCOMPARE(MqttLayout::auditHeadTopic(QStringLiteral("site/3/")),
             QStringLiteral("site/3/audit/head"));
}

QTEST_GUILESS_MAIN(TestMqttLayout)
#include "tst_mqttlayout.moc"
