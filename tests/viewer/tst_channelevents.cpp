#include "channelevents.h"

#include <QtTest>

// Two nodes: "Hall" with a name from the project, B2 found only in the database.
class TestChannelEvents : public QObject
{
    Q_OBJECT

private slots:
    void listedUnderTheShownChannels_data();
    void listedUnderTheShownChannels();
};

namespace {

ChannelCatalog::Channel channel(const char* serial, int number, const QString& node,
                                const QString& name)
{
    ChannelCatalog::Channel c;
    c.serial = serial;
    c.channel = number;
    c.nodeName = node;
    c.channelName = name;
    return c;
}

AlarmEventRecord alarmEvent(qint64 id, const QString& serial, int channel, AlarmKind kind)
{
    AlarmEventRecord e;
    e.id = id;
    e.serial = serial;
    e.channel = channel;
    e.kind = kind;
    e.start = 1765000000 + id * 60;
    return e;
}

} // namespace

void TestChannelEvents::listedUnderTheShownChannels_data()
{
    QTest::addColumn<QVector<int>>("chosen");
    QTest::addColumn<QVector<int>>("eventIds");
    QTest::addColumn<QVector<int>>("listedIds");
    QTest::addColumn<QStringList>("names");

    // Events: 1 Hall channel 1, 2 Hall channel 2, 3 Hall as a whole, 4 B2 channel 2, 5 a node
    // the catalog does not know.
    QTest::newRow("a channel's event on that channel only (not its neighbour's)")
        << QVector<int>{0} << QVector<int>{1, 2} << QVector<int>{1}
        << QStringList{QStringLiteral("Hall Temperature")};
    QTest::newRow("a node's own event on any of its channels, by the node's name")
        << QVector<int>{1} << QVector<int>{3} << QVector<int>{3}
        << QStringList{QStringLiteral("Hall")};
    QTest::newRow("a node without a name listed by its serial number")
        << QVector<int>{3} << QVector<int>{4} << QVector<int>{4}
        << QStringList{QStringLiteral("B2 channel 2")};
    QTest::newRow("hidden channels and unknown nodes left out, the events' order kept")
        << QVector<int>{0, 3} << QVector<int>{2, 5, 4, 1} << QVector<int>{4, 1}
        << QStringList{QStringLiteral("B2 channel 2"), QStringLiteral("Hall Temperature")};
    QTest::newRow("a node's event listed once though both its channels are shown")
        << QVector<int>{1, 0} << QVector<int>{3} << QVector<int>{3}
        << QStringList{QStringLiteral("Hall")};
    QTest::newRow("nothing shown, nothing listed")
        << QVector<int>{} << QVector<int>{1, 3} << QVector<int>{} << QStringList{};
}

// Catches events listed under the wrong channel or twice, events of hidden channels or of
// unknown nodes listed, a node's own alarm left off, and names taken from the wrong channel.
void TestChannelEvents::listedUnderTheShownChannels()
{
    QFETCH(QVector<int>, chosen);
    QFETCH(QVector<int>, eventIds);
    QFETCH(QVector<int>, listedIds);
    QFETCH(QStringList, names);

    const QVector<ChannelCatalog::Channel> channels{
        channel("A1", 1, QStringLiteral("Hall"), QStringLiteral("Temperature")),
        channel("A1", 2, QStringLiteral("Hall"), QStringLiteral("Humidity")),
        channel("B2", 1, QString(), QStringLiteral("channel 1")),
        channel("B2", 2, QString(), QStringLiteral("channel 2"))};
    const QVector<AlarmEventRecord> all{alarmEvent(1, QStringLiteral("A1"), 1, AlarmKind::High),
                                        alarmEvent(2, QStringLiteral("A1"), 2, AlarmKind::Low),
                                        alarmEvent(3, QStringLiteral("A1"), 0, AlarmKind::NoData),
                                        alarmEvent(4, QStringLiteral("B2"), 2, AlarmKind::High),
                                        alarmEvent(5, QStringLiteral("C3"), 1, AlarmKind::High)};
    QVector<AlarmEventRecord> events;
    for (int id : eventIds)
        events << all[id - 1];

    const ChannelEvents::Listed listed = ChannelEvents::match(events, channels, chosen);
    QVector<int> ids;
    for (const AlarmEventRecord& e : listed.events)
        ids << int(e.id);
    QCOMPARE(ids, listedIds);
    QCOMPARE(listed.names, names);
}

QTEST_GUILESS_MAIN(TestChannelEvents)
#include "tst_channelevents.moc"
