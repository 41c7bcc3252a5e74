#include "forwardrecords.h"
#include "lineprotocol.h"

#include <QTest>

// The line protocol the records are written to InfluxDB in. That InfluxDB reads the awkward
// texts back unchanged is shown against a real server in tst_influxtarget.
class TestLineProtocol : public QObject
{
    Q_OBJECT

private slots:
    void escaping_data();
    void escaping();
    void serialTag_data();
    void serialTag();
    void number_data();
    void number();
    void sampleLine();
    void alarmLine();
    void auditHeadLine_data();
    void auditHeadLine();
};

void TestLineProtocol::escaping_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("key");         // tag key, tag value, field key
    QTest::addColumn<QString>("measurement"); // measurement name
    QTest::addColumn<QString>("field");       // string field value

    const QString bs = QStringLiteral("\\");
    const QString look = QString(QChar(0x29F5));
    // Faults: a blank, comma or '=' ending the tag set early, a quote ending a string early,
    // a backslash that swallows the separator after it.
    QTest::newRow("plain") << "N-17"
                           << "N-17"
                           << "N-17"
                           << "\"N-17\"";
    QTest::newRow("blank") << "Room 3"
                           << "Room\\ 3"
                           << "Room\\ 3"
                           << "\"Room 3\"";
    QTest::newRow("comma and equals") << "a,b=c"
                                      << "a\\,b\\=c"
                                      << "a\\,b=c"
                                      << "\"a,b=c\"";
    QTest::newRow("quotes") << "say \"hi\""
                            << "say\\ \"hi\""
                            << "say\\ \"hi\""
                            << "\"say \\\"hi\\\"\"";
    QTest::newRow("backslash inside") << "a" + bs + "b"
                                      << "a" + bs + "b"
                                      << "a" + bs + "b"
                                      << "\"a" + bs + bs + "b\"";
    QTest::newRow("backslash at the end")
        << "a" + bs << "a" + look << "a" + bs << "\"a" + bs + bs + "\"";
    QTest::newRow("backslash before a blank") << "a" + bs + " b"
                                              << "a" + look + "\\ b"
                                              << "a" + bs + "\\ b"
                                              << "\"a" + bs + bs + " b\"";
    QTest::newRow("two backslashes") << "a" + bs + bs + "b"
                                     << "a" + look + bs + "b"
                                     << "a" + bs + bs + "b"
                                     << "\"a" + bs + bs + bs + bs + "b\"";
    // A line break ends the line for InfluxDB 1.x wherever it stands, in a string field too.
    QTest::newRow("line break") << "a\nb"
                                << "a\\ b"
                                << "a\\ b"
                                << "\"a b\"";
    QTest::newRow("CR LF and CR in a comment") << "shut\r\ndoor\rok"
                                               << "shut\\ \\ door\\ ok"
                                               << "shut\\ \\ door\\ ok"
                                               << "\"shut door ok\"";
    QTest::newRow("non-ASCII") << "Kühlraum °C Ω"
                               << "Kühlraum\\ °C\\ Ω"
                               << "Kühlraum\\ °C\\ Ω"
                               << "\"Kühlraum °C Ω\"";
}

void TestLineProtocol::escaping()
{
    QFETCH(QString, text);
    QFETCH(QString, key);
    QFETCH(QString, measurement);
    QFETCH(QString, field);
    QCOMPARE(LineProtocol::key(text), key);
    QCOMPARE(LineProtocol::measurement(text), measurement);
    QCOMPARE(LineProtocol::stringField(text), field);
}

void TestLineProtocol::serialTag_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("tag");
    const QString bs = QStringLiteral("\\");
    // Faults: an empty serial written as "serial=" (InfluxDB refuses the whole write, and the
    // target retries it for ever), two serials sharing a series, a line break or backslash that
    // breaks the line.
    QTest::newRow("plain") << "TQ100-0001"
                           << "TQ100-0001";
    QTest::newRow("empty") << ""
                           << "%";
    QTest::newRow("a lone percent sign") << "%"
                                         << "%25";
    QTest::newRow("percent-encoded look-alike") << "a%0Ab"
                                                << "a%250Ab";
    QTest::newRow("line break") << "a\nb"
                                << "a%0Ab";
    QTest::newRow("control characters and DEL") << QStringLiteral("a\x01\tb\x7F") << "a%01%09b%7F";
    QTest::newRow("backslash at the end") << "a" + bs << "a%5C";
    QTest::newRow("backslash before a blank") << "a" + bs + " b"
                                              << "a%5C\\ b";
    QTest::newRow("backslash inside") << "a" + bs + "b"
                                      << "a" + bs + "b";
    QTest::newRow("blank, comma, equals") << "R 3,a=b"
                                          << "R\\ 3\\,a\\=b";
    QTest::newRow("non-ASCII") << "Kühl ⧵"
                               << "Kühl\\ ⧵";
}

void TestLineProtocol::serialTag()
{
    QFETCH(QString, serial);
    QFETCH(QString, tag);
    QCOMPARE(LineProtocol::serialTag(serial), tag);
    ForwardSample sample;
    sample.serial = serial;
    sample.time = 1700000000;
    QVERIFY(QString::fromUtf8(LineProtocol::sampleLine(sample))
                .startsWith(QStringLiteral("sample,channel=1,serial=") + tag + QLatin1Char(' ')));
    // An alarm test is a measurement of its own, tagged as a test, the node's serial as above;
    // a test of all nodes has no serial tag at all (never the empty serial's "%").
    ForwardAlarmTest test;
    test.testId = 7;
    test.serial = serial;
    test.time = 1700000000;
    const QString line = QString::fromUtf8(LineProtocol::alarmTestLine(test));
    if (serial.isEmpty())
        QVERIFY2(line.startsWith(QStringLiteral("alarm_test,test=true test_id=7i,")),
                 qPrintable(line));
    else
        QVERIFY2(line.startsWith(QStringLiteral("alarm_test,test=true,serial=") + tag +
                                 QStringLiteral(" test_id=7i,")),
                 qPrintable(line));
    QVERIFY(line.endsWith(QStringLiteral(" 1700000000")));
}

void TestLineProtocol::number_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("text");
    // Faults: noise digits, or fewer digits than the value needs to read back the same.
    QTest::newRow("two decimals") << 21.3 << QByteArray("21.3");
    QTest::newRow("whole") << 45.0 << QByteArray("45");
    QTest::newRow("negative") << -0.05 << QByteArray("-0.05");
    QTest::newRow("six digits") << 12345.7 << QByteArray("12345.7");
    QTest::newRow("float column") << double(21.3f) << QByteArray("21.299999237060547");
}

void TestLineProtocol::number()
{
    QFETCH(double, value);
    QFETCH(QByteArray, text);
    QCOMPARE(LineProtocol::number(value), text);
    QCOMPARE(text.toDouble(), value);
}

void TestLineProtocol::sampleLine()
{
    // Faults: the name or unit as a tag (a rename splits the series), the value as an integer
    // ("45i" clashes with the float field), the time in another precision.
    ForwardSample sample;
    sample.rowId = 9;
    sample.serial = QStringLiteral("Node 1,a");
    sample.channel = 2;
    sample.value = 45;
    sample.time = 1700000000;
    sample.nodeName = QStringLiteral("Lab \"B\"");
    sample.channelName = QStringLiteral("Humidity");
    sample.unit = QStringLiteral("%RH");
    QCOMPARE(QString::fromUtf8(LineProtocol::sampleLine(sample)),
             QStringLiteral("sample,channel=2,serial=Node\\ 1\\,a channel_name=\"Humidity\","
                            "node=\"Lab \\\"B\\\"\",unit=\"%RH\",value=45 1700000000"));
}

void TestLineProtocol::alarmLine()
{
    // Faults: a change written at its own time (each change a point of its own instead of the
    // event's one point), optional fields written as 0 before they happened, two events of one
    // node starting in the same second written as one point (no event id among the tags), a
    // line break in a comment that ends the line.
    ForwardAlarmChange change;
    change.eventId = 42;
    change.changeMark = 7;
    change.serial = QStringLiteral("N 1");
    change.channel = 1;
    change.kind = AlarmKind::Low;
    change.limit = 2;
    change.start = 1700000000;
    change.nodeName = QStringLiteral("Store");
    change.channelName = QStringLiteral("Air");
    change.unit = QStringLiteral("°C");
    QCOMPARE(
        QString::fromUtf8(LineProtocol::alarmLine(change)),
        QStringLiteral("alarm,channel=1,event_id=42,kind=low,serial=N\\ 1 event=42i,change=7i,"
                       "ended=\"active\",node=\"Store\",unit=\"°C\",channel_name=\"Air\",limit=2 "
                       "1700000000"));

    change.channel = 0;
    change.kind = AlarmKind::Battery;
    change.limit.reset();
    change.extremeValue = 2.9;
    change.extremeTime = 1700000030;
    change.end = 1700000100;
    change.ended = AlarmEnd::Cleared;
    change.acknowledgedAt = 1700000050;
    change.acknowledgedBy = QStringLiteral("Kim");
    change.comment = QStringLiteral("battery changed,\n\"new\"");
    QCOMPARE(QString::fromUtf8(LineProtocol::alarmLine(change)),
             QStringLiteral("alarm,event_id=42,kind=battery,serial=N\\ 1 event=42i,change=7i,"
                            "ended=\"cleared\",node=\"Store\",unit=\"°C\",extreme=2.9,"
                            "extreme_time=1700000030i,end=1700000100i,"
                            "acknowledged_at=1700000050i,acknowledged_by=\"Kim\","
                            "comment=\"battery changed, \\\"new\\\"\" 1700000000"));
    // The next event of the node, starting in the same second: another point.
    ForwardAlarmChange next = change;
    next.eventId = 43;
    QVERIFY(LineProtocol::alarmLine(next).startsWith("alarm,event_id=43,kind=battery,"));
}

void TestLineProtocol::auditHeadLine_data()
{
    QTest::addColumn<qint64>("timeMs");
    QTest::addColumn<QByteArray>("hash");
    QTest::addColumn<QString>("line");
    const QByteArray hash = QByteArray("0123456789abcdef").repeated(4);
    QTest::newRow("head") << qint64(1768046400999) << hash
                          << QStringLiteral("audit_head sequence=12i,hash=\"") +
                                 QString::fromLatin1(hash) + QStringLiteral("\" 1768046400");
    // A file altered by hand: a hash that would end the field, the line or add a point.
    QTest::newRow("hostile hash") << qint64(1768046400000) << QByteArray("x\" 1\nsample v=1")
                                  << QStringLiteral("audit_head sequence=12i,hash=\"x\\\" 1 "
                                                    "sample v=1\" 1768046400");
    QTest::newRow("before 1970") << qint64(-1500) << hash
                                 << QStringLiteral("audit_head sequence=12i,hash=\"") +
                                        QString::fromLatin1(hash) + QStringLiteral("\" -2");
}

void TestLineProtocol::auditHeadLine()
{
    // Faults: the sequence as a float or a tag (a series per head), the hash unescaped, the
    // time in milliseconds where every other point is in seconds.
    QFETCH(qint64, timeMs);
    QFETCH(QByteArray, hash);
    QFETCH(QString, line);
    QCOMPARE(QString::fromUtf8(LineProtocol::auditHeadLine(ForwardAuditHead{12, hash, timeMs})),
             line);
}

QTEST_GUILESS_MAIN(TestLineProtocol)
#include "tst_lineprotocol.moc"
