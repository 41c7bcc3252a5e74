#include "chartview.h"
#include "configureddevice.h"
#include "dashboard.h"
#include "dashboarddeviceitem.h"
#include "nodedevice.h"

#include <QDateTime>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

// The dashboard's grid: where tiles of each node land, hiding empty cells, clicks, and what a
// node's samples and link changes do to its tiles.
class TestDashBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void placesColumnPairsTopDown_data();
    void placesColumnPairsTopDown();
    void seventeenthNodeStacksInFirstCells();
    void hidesOnlyEmptyCells_data();
    void hidesOnlyEmptyCells();
    void tileClickAsksForItsNode();
    void tileFollowsSamplesAlarmsAndLink();
    void otherNodesLinkLeavesTileAlone();
    void sameLengthValueKeepsFont();
    void namesAndUnitsFallBackAndRefresh();
    void outOfServiceTiles_data();
    void outOfServiceTiles();

private:
    QList<ConfiguredDevice*> makeNodes(int count, int perGateway = 16);
    DashBoardDeviceItem* tileIn(int row, int column, int index = 0);

    std::unique_ptr<QWidget> window;
    DashBoard* board = nullptr;
    std::unique_ptr<QObject> owner;
};

void TestDashBoard::init()
{
    qRegisterMetaType<NodeDevice*>();
    window = std::make_unique<QWidget>();
    window->resize(820, 420);
    board = new DashBoard(window.get());
    board->resize(810, 404);
    owner = std::make_unique<QObject>();
}

void TestDashBoard::cleanup()
{
    // The nodes go first here: the board must not touch them on its way out.
    owner.reset();
    window.reset();
}

QList<ConfiguredDevice*> TestDashBoard::makeNodes(int count, int perGateway)
{
    QList<ConfiguredDevice*> gateways;
    for (int i = 0; i < count; ++i) {
        if (i % perGateway == 0) {
            auto* gw = new ConfiguredDevice(owner.get());
            gw->setDeviceInfo(QStringLiteral("10.0.0.%1").arg(gateways.size() + 1), 502);
            gateways << gw;
        }
        auto* node = new NodeDevice(QStringLiteral("N%1").arg(i + 1), gateways.last());
        node->setNames(QStringLiteral("Node %1").arg(i + 1), QStringLiteral("Temp"),
                       QStringLiteral("Hum"));
        node->setStartAddress((i % perGateway) * 4);
        gateways.last()->addNode(node);
    }
    return gateways;
}

DashBoardDeviceItem* TestDashBoard::tileIn(int row, int column, int index)
{
    QWidget* c = board->cell(row, column);
    const auto tiles = c->findChildren<DashBoardDeviceItem*>(QString(), Qt::FindDirectChildrenOnly);
    return index < tiles.size() ? tiles.at(index) : nullptr;
}

void TestDashBoard::placesColumnPairsTopDown_data()
{
    QTest::addColumn<int>("nodes");
    QTest::addColumn<int>("perGateway");
    QTest::addColumn<int>("node");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("5 nodes: first") << 5 << 16 << 0 << 0 << 0;
    QTest::newRow("5 nodes: fourth") << 5 << 16 << 3 << 3 << 0;
    QTest::newRow("5 nodes: fifth") << 5 << 16 << 4 << 0 << 2;
    QTest::newRow("16 nodes: last") << 16 << 16 << 15 << 3 << 6;
    QTest::newRow("two gateways count on") << 6 << 3 << 4 << 0 << 2;
}

// Catches tiles placed row by row, in the wrong column of a pair, or restarted per gateway.
void TestDashBoard::placesColumnPairsTopDown()
{
    QFETCH(int, nodes);
    QFETCH(int, perGateway);
    QFETCH(int, node);
    QFETCH(int, row);
    QFETCH(int, column);
    const auto gateways = makeNodes(nodes, perGateway);
    board->setDevices(gateways);
    window->show();
    QCOMPARE(board->items().size(), nodes * 2);

    NodeDevice* expected = gateways.at(node / perGateway)->nodes().at(node % perGateway);
    DashBoardDeviceItem* first = tileIn(row, column);
    DashBoardDeviceItem* second = tileIn(row, column + 1);
    QVERIFY(first && second);
    QCOMPARE(first->node(), expected);
    QCOMPARE(first->channel(), quint8(1));
    QCOMPARE(second->node(), expected);
    QCOMPARE(second->channel(), quint8(0));
    QVERIFY(first->isVisible());
    QCOMPARE(first->findChild<QLabel*>(QStringLiteral("label_device"))->text(),
             expected->configuration().deviceName);
    QCOMPARE(first->findChild<QLabel*>(QStringLiteral("label_desc"))->text(),
             QStringLiteral("Temp"));
    QCOMPARE(second->findChild<QLabel*>(QStringLiteral("label_desc"))->text(),
             QStringLiteral("Hum"));
}

// Catches a seventeenth node dropped, or placed past the grid.
void TestDashBoard::seventeenthNodeStacksInFirstCells()
{
    const auto gateways = makeNodes(17, 9);
    board->setDevices(gateways);
    window->show();
    QCOMPARE(board->items().size(), 34);
    NodeDevice* first = gateways.at(0)->nodes().at(0);
    NodeDevice* seventeenth = gateways.at(1)->nodes().at(7);
    QCOMPARE(tileIn(0, 0, 0)->node(), first);
    QCOMPARE(tileIn(0, 0, 1)->node(), seventeenth);
    QCOMPARE(tileIn(0, 1, 1)->node(), seventeenth);
    QCOMPARE(tileIn(0, 1, 1)->channel(), quint8(0));
    // Stacked below the first node's tile, not on top of it.
    QVERIFY(tileIn(0, 0, 1)->y() > tileIn(0, 0, 0)->y());
}

void TestDashBoard::hidesOnlyEmptyCells_data()
{
    QTest::addColumn<int>("nodes");
    QTest::addColumn<int>("hidden");
    QTest::newRow("3 nodes") << 3 << 26;
    QTest::newRow("16 nodes") << 16 << 0;
    QTest::newRow("no nodes") << 0 << 32;
}

// Catches cells with tiles hidden, or empty cells left standing in expansion mode.
void TestDashBoard::hidesOnlyEmptyCells()
{
    QFETCH(int, nodes);
    QFETCH(int, hidden);
    board->setDevices(makeNodes(nodes));
    window->show();
    board->setEmptyCellsVisible(false);
    int hiddenCells = 0;
    for (int r = 0; r < DashBoard::Rows; ++r)
        for (int c = 0; c < DashBoard::Columns; ++c)
            hiddenCells += board->cell(r, c)->isHidden() ? 1 : 0;
    QCOMPARE(hiddenCells, hidden);
    board->setEmptyCellsVisible(true);
    for (int r = 0; r < DashBoard::Rows; ++r)
        for (int c = 0; c < DashBoard::Columns; ++c)
            QVERIFY(!board->cell(r, c)->isHidden());
}

// Catches a tile click that asks for the wrong node or none.
void TestDashBoard::tileClickAsksForItsNode()
{
    const auto gateways = makeNodes(6);
    board->setDevices(gateways);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QSignalSpy spy(board, &DashBoard::deviceClicked);
    DashBoardDeviceItem* tile = tileIn(1, 3); // node 6, channel 2
    QTest::mouseClick(tile->findChild<QWidget*>(QStringLiteral("frame_value")), Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<NodeDevice*>(), gateways.at(0)->nodes().at(5));
}

// Catches tiles that do not turn red in alarm and back, or keep a value after the link drops.
void TestDashBoard::tileFollowsSamplesAlarmsAndLink()
{
    const auto gateways = makeNodes(1);
    NodeDevice* node = gateways.at(0)->nodes().at(0);
    node->setAlarmRanges(10, 30, 0, 0);
    node->setChannelUnits(TemperatureC, Humidity);
    board->setDevices(gateways);
    board->refreshItems();
    window->show();
    DashBoardDeviceItem* t1 = tileIn(0, 0);
    DashBoardDeviceItem* t2 = tileIn(0, 1);
    auto value = [](DashBoardDeviceItem* t) {
        return t->findChild<QLabel*>(QStringLiteral("label_number"))->text();
    };
    auto unit = [](DashBoardDeviceItem* t) {
        return t->findChild<QLabel*>(QStringLiteral("label_unit"))->text();
    };
    auto style = [](DashBoardDeviceItem* t) {
        return t->findChild<QWidget*>(QStringLiteral("frame_value"))->styleSheet();
    };
    QCOMPARE(style(t1), ChartView::noValueStyle());

    const QDateTime t0 = QDateTime::currentDateTimeUtc();
    node->deviceConnected();
    node->setData(QStringLiteral("21.50"), QStringLiteral("45.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), t0, false);
    QCOMPARE(value(t1), QStringLiteral("21.50"));
    QCOMPARE(unit(t1), QStringLiteral("\u00B0C"));
    QCOMPARE(value(t2), QStringLiteral("45.00"));
    QCOMPARE(unit(t2), QStringLiteral("%RH"));
    QCOMPARE(style(t1), ChartView::normalStyle());

    node->setData(QStringLiteral("30.01"), QStringLiteral("45.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), t0.addSecs(1), false);
    QCOMPARE(style(t1), ChartView::alarmStyle());
    QCOMPARE(style(t2), ChartView::normalStyle()); // equal bounds never alarm

    node->setData(QStringLiteral("30.00"), QStringLiteral("45.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), t0.addSecs(2), false);
    QCOMPARE(style(t1), ChartView::normalStyle());

    node->deviceDisconnected();
    QCOMPARE(style(t1), ChartView::noValueStyle());
    QCOMPARE(style(t2), ChartView::noValueStyle());
    QCOMPARE(value(t1), QString());
    QCOMPARE(unit(t1), QString());
    board->refreshItems();
    QCOMPARE(style(t1), ChartView::noValueStyle());
}

// Catches a tile that reacts to another node's link.
void TestDashBoard::otherNodesLinkLeavesTileAlone()
{
    const auto gateways = makeNodes(2);
    board->setDevices(gateways);
    window->show();
    NodeDevice* node = gateways.at(0)->nodes().at(0);
    node->setData(QStringLiteral("1.00"), QStringLiteral("2.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), QDateTime::currentDateTimeUtc(), false);
    DashBoardDeviceItem* tile = tileIn(0, 0);
    tile->onDeviceDisconnected(QStringLiteral("N2"));
    QCOMPARE(tile->findChild<QLabel*>(QStringLiteral("label_number"))->text(),
             QStringLiteral("1.00"));
    QCOMPARE(tile->findChild<QWidget*>(QStringLiteral("frame_value"))->styleSheet(),
             ChartView::normalStyle());
    tile->onDeviceDisconnected(QStringLiteral("N1"));
    QCOMPARE(tile->findChild<QLabel*>(QStringLiteral("label_number"))->text(), QString());
}

// Catches a refit on every sample (slow) or none when the text grows (value overflows the tile).
void TestDashBoard::sameLengthValueKeepsFont()
{
    const auto gateways = makeNodes(1);
    board->setDevices(gateways);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    DashBoardDeviceItem* tile = tileIn(0, 0);
    auto* number = tile->findChild<QLabel*>(QStringLiteral("label_number"));
    tile->setValue(QStringLiteral("21.50"));
    const qreal fitted = number->font().pointSizeF();
    QFont odd = number->font();
    odd.setPointSizeF(3);
    number->setFont(odd);
    tile->setValue(QStringLiteral("22.75"));
    QCOMPARE(number->font().pointSizeF(), 3.0);
    tile->setValue(QStringLiteral("-1234.75"));
    QVERIFY(number->font().pointSizeF() != 3.0);
    QVERIFY(number->font().pointSizeF() < fitted);
    QVERIFY(QFontMetrics(number->font()).horizontalAdvance(number->text()) <= number->width());
}

// Catches names or units that do not follow the option dialog, or are read as rich text.
void TestDashBoard::namesAndUnitsFallBackAndRefresh()
{
    const auto gateways = makeNodes(1);
    NodeDevice* node = gateways.at(0)->nodes().at(0);
    node->setNames(QString(), QString(), QString());
    board->setDevices(gateways);
    window->show();
    DashBoardDeviceItem* t1 = tileIn(0, 0);
    DashBoardDeviceItem* t2 = tileIn(0, 1);
    QCOMPARE(t1->findChild<QLabel*>(QStringLiteral("label_device"))->text(),
             QStringLiteral("10.0.0.1"));
    QCOMPARE(t1->findChild<QLabel*>(QStringLiteral("label_desc"))->text(), QStringLiteral("CH1"));
    QCOMPARE(t2->findChild<QLabel*>(QStringLiteral("label_desc"))->text(), QStringLiteral("CH2"));

    node->setData(QStringLiteral("5.00"), QStringLiteral("6.00"), QStringLiteral("-1"),
                  QStringLiteral("-1"), QDateTime::currentDateTimeUtc(), false);
    node->setNames(QStringLiteral("Freezer"), QStringLiteral("Air"), QStringLiteral("Door"));
    node->setChannelUnits(Custom, TemperatureF);
    node->setCustomUnits(QStringLiteral("ppm"), QString());
    board->refreshItems();
    QCOMPARE(t1->findChild<QLabel*>(QStringLiteral("label_device"))->text(),
             QStringLiteral("Freezer"));
    QCOMPARE(t1->findChild<QLabel*>(QStringLiteral("label_desc"))->text(), QStringLiteral("Air"));
    QCOMPARE(t1->findChild<QLabel*>(QStringLiteral("label_unit"))->text(), QStringLiteral("ppm"));
    QCOMPARE(t2->findChild<QLabel*>(QStringLiteral("label_unit"))->text(),
             QStringLiteral("\u00B0F"));

    // Mark-up in a name is part of it, not a format.
    node->setNames(QStringLiteral("Tank <b>2</b>"), QStringLiteral("<i>Inlet</i>"), QString());
    board->refreshItems();
    for (const char* name : {"label_device", "label_desc"}) {
        const auto* label = t1->findChild<QLabel*>(QLatin1String(name));
        QVERIFY2(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text()),
                 name);
    }
}

void TestDashBoard::outOfServiceTiles_data()
{
    QTest::addColumn<QString>("value"); // channel 1's sample ("": none)
    QTest::addColumn<QStringList>("out"); // the serials out of service
    QTest::addColumn<QStringList>("states"); // the state texts of node 1's and node 2's first tiles
    QTest::addColumn<QString>("style");  // node 1's first tile: "grey", "red", "teal"
    QTest::newRow("in alarm, then out of service: grey, says so")
        << "35.00" << QStringList{"N1"} << QStringList{"OUT OF SERVICE", ""} << "grey";
    QTest::newRow("back in service: red again") << "35.00" << QStringList{}
                                                << QStringList{"", ""} << "red";
    QTest::newRow("another node out of service") << "20.00" << QStringList{"N2"}
                                                 << QStringList{"", "OUT OF SERVICE"} << "teal";
}

// Catches: a tile of a node out of service that keeps its alarm colour or does not say so, one
// of another node marked, and a tile that stays grey once the node is back.
void TestDashBoard::outOfServiceTiles()
{
    QFETCH(QString, value);
    QFETCH(QStringList, out);
    QFETCH(QStringList, states);
    QFETCH(QString, style);
    const auto gateways = makeNodes(2);
    NodeDevice* node = gateways.at(0)->nodes().at(0);
    node->setAlarmRanges(10, 30, 0, 0);
    node->setChannelUnits(TemperatureC, Humidity);
    board->setDevices(gateways);
    window->show();
    node->deviceConnected();
    // Out of service first, and from the first sample on when the row says so.
    board->setOutOfService({QStringLiteral("N1")});
    board->setOutOfService(QSet<QString>(out.begin(), out.end()));
    node->setData(value, QStringLiteral("45.00"), QStringLiteral("-1"), QStringLiteral("-1"),
                  QDateTime::currentDateTimeUtc(), false);
    DashBoardDeviceItem* first = tileIn(0, 0);
    DashBoardDeviceItem* second = tileIn(1, 0);
    QVERIFY(first && second);
    QCOMPARE((QStringList{first->stateText(), second->stateText()}), states);
    QCOMPARE(first->findChild<QLabel*>(QStringLiteral("label_state"))->isVisible(),
             !states.first().isEmpty());
    const QString expected = style == QLatin1String("grey")  ? ChartView::noValueStyle()
                             : style == QLatin1String("red") ? ChartView::alarmStyle()
                                                             : ChartView::normalStyle();
    QCOMPARE(first->findChild<QWidget*>(QStringLiteral("frame_value"))->styleSheet(), expected);
    // The value still shows: samples are recorded.
    QCOMPARE(first->findChild<QLabel*>(QStringLiteral("label_number"))->text(), value);
    if (const QString shots = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
        !shots.isEmpty() && style == QLatin1String("grey"))
        QVERIFY(window->grab().save(shots + QStringLiteral("/dashboard-out-of-service.png")));
}

QTEST_MAIN(TestDashBoard)
#include "tst_dashboard.moc"
