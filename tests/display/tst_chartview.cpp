#include "chartview.h"
#include "gatewaymodel.h"
#include "configureddevice.h"
#include "nodedevice.h"
#include "qchartviewer.h"

#include <basechart.h>
#include <chartapi.h>
#include <chartcore.h>
#include <clockchanges.h>
#include <drawarea.h>

#include <QDateTime>
#include <QFrame>
#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

// The chart panel driven by a node's own calls: value tiles, units, link state, the radio row,
// the two charts and clearing between nodes.
class TestChartView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void unitTexts_data();
    void unitTexts();
    void tileStylesFollowAlarmAndLink();
    void otherNodesLinkChangesNothing();
    void radioRowOnlyForTq100_data();
    void radioRowOnlyForTq100();
    void namesFallBack();
    void namesShowAsWritten();
    void chartsDrawSamplesAndClear();
    void chartScrollsWithNewSamples();
    void xAxisSpansTheHistory_data();
    void xAxisSpansTheHistory();
    void cursorReadsTheLocalClock_data();
    void cursorReadsTheLocalClock();
    void buttonsRequestDialogs();
    void sampleWithoutNodeIsIgnored();

private:
    NodeDevice* makeNode(const QString& model = QStringLiteral("TQ100"));
    void feed(NodeDevice* node, const QString& ch1, const QString& ch2, int second);
    QString text(const char* name) const;
    QString style(const char* name) const;
    int colourPixels(QChartViewer* viewer, QRgb colour) const;

    std::unique_ptr<QWidget> window;
    ChartView* view = nullptr;
    std::unique_ptr<QObject> owner;
    QDateTime start;
};

void TestChartView::initTestCase()
{
    QVERIFY(ClockChanges::zoneInEffect());
}

void TestChartView::init()
{
    window = std::make_unique<QWidget>();
    window->resize(810, 404);
    view = new ChartView(window.get());
    view->resize(810, 404);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    owner = std::make_unique<QObject>();
    start = QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC);
}

void TestChartView::cleanup()
{
    window.reset();
    owner.reset();
}

NodeDevice* TestChartView::makeNode(const QString& model)
{
    auto* gw = new ConfiguredDevice(owner.get());
    gw->setInterval(1000);
    gw->setDeviceInfo(QStringLiteral("192.168.7.20"), 502);
    gw->setDeviceModel(model);
    auto* node = new NodeDevice(QStringLiteral("ID-7"), gw);
    node->setNames(QStringLiteral("Cold room"), QStringLiteral("Air"), QStringLiteral("Humidity"));
    gw->addNode(node);
    return node;
}

void TestChartView::feed(NodeDevice* node, const QString& ch1, const QString& ch2, int second)
{
    node->deviceConnected();
    node->setData(ch1, ch2, QStringLiteral("201"), QStringLiteral("97"), start.addSecs(second),
                  false);
}

QString TestChartView::text(const char* name) const
{
    return view->findChild<QLabel*>(QLatin1String(name))->text();
}

QString TestChartView::style(const char* name) const
{
    return view->findChild<QWidget*>(QLatin1String(name))->styleSheet();
}

int TestChartView::colourPixels(QChartViewer* viewer, QRgb colour) const
{
    const QImage image = viewer->pixmap(Qt::ReturnByValue).toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == (colour & 0xFFFFFF) ? 1 : 0;
    return count;
}

void TestChartView::unitTexts_data()
{
    QTest::addColumn<int>("unit");
    QTest::addColumn<QString>("custom");
    QTest::addColumn<QString>("expected");
    QTest::newRow("undefined") << 0 << "ppm"
                               << "";
    QTest::newRow("celsius") << 1 << ""
                             << "\u00B0C";
    QTest::newRow("fahrenheit") << 2 << ""
                                << "\u00B0F";
    QTest::newRow("humidity") << 3 << ""
                              << "%RH";
    QTest::newRow("custom") << 4 << "kPa"
                            << "kPa";
    QTest::newRow("unknown code") << 9 << "kPa"
                                  << "";
}

// Catches a wrong unit beside a value (a temperature shown as humidity).
void TestChartView::unitTexts()
{
    QFETCH(int, unit);
    QFETCH(QString, custom);
    QFETCH(QString, expected);
    QCOMPARE(ChartView::unitText(unit, custom), expected);
    NodeDevice* node = makeNode();
    node->setChannelUnits(unit, unit);
    node->setCustomUnits(custom, QString());
    view->setNodeDevice(node);
    node->setChartView(view);
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"), 0);
    QCOMPARE(text("label_ch1_unit"), expected);
}

// Catches a panel tile that stays red after the value returns, or keeps a value when the link
// drops; the history must survive the drop.
void TestChartView::tileStylesFollowAlarmAndLink()
{
    NodeDevice* node = makeNode();
    node->setAlarmRanges(10, 30, 40, 60);
    node->setChannelUnits(TemperatureC, Humidity);
    view->setNodeDevice(node);
    node->setChartView(view);
    QCOMPARE(style("frame_ch1_value"), ChartView::noValueStyle());

    feed(node, QStringLiteral("21.00"), QStringLiteral("50.00"), 0);
    QCOMPARE(style("frame_ch1_value"), ChartView::normalStyle());
    QCOMPARE(text("label_ch1_number"), QStringLiteral("21.00"));
    QCOMPARE(text("label_ch2_unit"), QStringLiteral("%RH"));

    feed(node, QStringLiteral("9.99"), QStringLiteral("50.00"), 1);
    QCOMPARE(style("frame_ch1_value"), ChartView::alarmStyle());
    QCOMPARE(style("frame_ch2_value"), ChartView::normalStyle());
    feed(node, QStringLiteral("10.00"), QStringLiteral("60.01"), 2);
    QCOMPARE(style("frame_ch1_value"), ChartView::normalStyle());
    QCOMPARE(style("frame_ch2_value"), ChartView::alarmStyle());

    node->deviceDisconnected();
    QCOMPARE(style("frame_ch1_value"), ChartView::noValueStyle());
    QCOMPARE(style("frame_ch2_value"), ChartView::noValueStyle());
    QCOMPARE(text("label_ch1_number"), QString());
    QCOMPARE(text("label_ch2_unit"), QString());
    QTRY_VERIFY(colourPixels(view->viewer1(), 0xFF0000) > 0);

    feed(node, QStringLiteral("20.00"), QStringLiteral("50.00"), 3);
    QCOMPARE(style("frame_ch1_value"), ChartView::normalStyle());
    QCOMPARE(text("label_ch1_number"), QStringLiteral("20.00"));
}

// Catches a panel blanked by the link of a node it does not show.
void TestChartView::otherNodesLinkChangesNothing()
{
    NodeDevice* node = makeNode();
    view->setNodeDevice(node);
    node->setChartView(view);
    feed(node, QStringLiteral("21.00"), QStringLiteral("50.00"), 0);
    view->onDeviceDisconnected(QStringLiteral("ID-8"));
    QCOMPARE(text("label_ch1_number"), QStringLiteral("21.00"));
    QCOMPARE(style("frame_ch1_value"), ChartView::normalStyle());
    view->onDeviceConnected(QStringLiteral("ID-8"));
    node->deviceDisconnected();
    view->onDeviceConnected(QStringLiteral("ID-8"));
    QCOMPARE(style("frame_ch1_value"), ChartView::noValueStyle());
}

void TestChartView::radioRowOnlyForTq100_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("shown");
    QTest::newRow("TQ100") << "TQ100" << true;
    QTest::newRow("TQ700") << "TQ700" << false;
    for (const GatewayModel::Row& row : GatewayModel::rows())
        QTest::newRow(qPrintable(QStringLiteral("table row ") + row.name))
            << row.name << row.reportsLinkInfo;
}

// Catches radio power and battery shown for a gateway that does not report them.
void TestChartView::radioRowOnlyForTq100()
{
    QFETCH(QString, model);
    QFETCH(bool, shown);
    NodeDevice* node = makeNode(model);
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"), 0);
    view->setNodeDevice(node);
    node->setChartView(view);
    QCOMPARE(view->findChild<QFrame*>(QStringLiteral("frame_lqibatt"))->isVisible(), shown);
    QCOMPARE(text("label_lqi"), QStringLiteral("201"));
    QCOMPARE(text("label_batt"), QStringLiteral("97"));
    QCOMPARE(text("label_serialnumber"), QStringLiteral("ID : ID-7"));
    view->clearView();
    QVERIFY(!view->findChild<QFrame*>(QStringLiteral("frame_lqibatt"))->isVisible());
    QCOMPARE(text("label_lqi"), QString());
}

// Catches an empty heading for a node without names.
void TestChartView::namesFallBack()
{
    NodeDevice* node = makeNode();
    node->setNames(QString(), QString(), QString());
    view->setNodeDevice(node);
    QCOMPARE(text("label_device"), QStringLiteral("192.168.7.20"));
    QCOMPARE(text("label_ch2_device"), QStringLiteral("192.168.7.20"));
    QCOMPARE(text("label_ch1_desc"), QStringLiteral("CH1"));
    QCOMPARE(text("label_ch2_desc"), QStringLiteral("CH2"));
    node->setNames(QStringLiteral("Oven"), QStringLiteral("Core"), QString());
    view->refreshDeviceInfo();
    QCOMPARE(text("label_ch1_device"), QStringLiteral("Oven"));
    QCOMPARE(text("label_ch1_desc"), QStringLiteral("Core"));
    QCOMPARE(text("label_ch2_desc"), QStringLiteral("CH2"));
    view->clearView();
    QCOMPARE(text("label_ch1_desc"), QString());
    QVERIFY(view->findChild<QLabel*>(QStringLiteral("label_device_type"))
                ->pixmap(Qt::ReturnByValue)
                .isNull());
}

// Catches names from the project file read as rich text: mark-up in them vanishes.
void TestChartView::namesShowAsWritten()
{
    NodeDevice* node = makeNode();
    node->setNames(QStringLiteral("Tank <b>2</b>"), QStringLiteral("<i>Inlet</i>"), QString());
    view->setNodeDevice(node);
    for (const char* name : {"label_device", "label_ch1_device", "label_ch1_desc"}) {
        const auto* label = view->findChild<QLabel*>(QLatin1String(name));
        QVERIFY2(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text()),
                 name);
    }
}

// Catches charts that do not show the node's samples in their colours, or keep them after the
// panel was cleared for another node.
void TestChartView::chartsDrawSamplesAndClear()
{
    NodeDevice* node = makeNode();
    for (int i = 0; i < 30; ++i)
        feed(node, QString::number(20 + i % 5, 'f', 2), QString::number(50 - i % 7, 'f', 2), i);
    view->setNodeDevice(node);
    node->setChartView(view);
    QTRY_VERIFY(colourPixels(view->viewer1(), 0xFF0000) > 20);
    QTRY_VERIFY(colourPixels(view->viewer2(), 0x00CC00) > 20);
    QCOMPARE(colourPixels(view->viewer1(), 0x00CC00), 0);
    // Chart fills its host less 10 pixels.
    QCOMPARE(view->viewer1()->width(),
             view->findChild<QLabel*>(QStringLiteral("label_ch1_chart"))->width() - 10);

    node->clearChartView();
    view->clearView();
    // Either viewer may still be inside its hold-off when the panel is cleared.
    QTRY_COMPARE(colourPixels(view->viewer1(), 0xFF0000), 0);
    QTRY_COMPARE(colourPixels(view->viewer2(), 0x00CC00), 0);
    QCOMPARE(view->nodeDevice(), nullptr);
}

// Catches a chart that is not rebuilt when a sample arrives (a frozen line).
void TestChartView::chartScrollsWithNewSamples()
{
    NodeDevice* node = makeNode();
    view->setNodeDevice(node);
    node->setChartView(view);
    feed(node, QStringLiteral("20.00"), QStringLiteral("50.00"), 0);
    feed(node, QStringLiteral("25.00"), QStringLiteral("50.00"), 1);
    QTest::qWait(30);
    const QImage before = view->viewer1()->pixmap(Qt::ReturnByValue).toImage();
    for (int i = 2; i < 12; ++i)
        feed(node, QString::number(20 + (i % 3) * 4, 'f', 2), QStringLiteral("50.00"), i);
    QTest::qWait(30);
    QTRY_VERIFY(view->viewer1()->pixmap(Qt::ReturnByValue).toImage() != before);
}

void TestChartView::xAxisSpansTheHistory_data()
{
    QTest::addColumn<int>("interval");
    QTest::addColumn<int>("span");
    QTest::newRow("1 s") << 1000 << 240;
    QTest::newRow("10 s") << 10000 << 2400;
    QTest::newRow("10 min: 40 hours") << 600000 << 144000;
}

// Catches a time axis that does not cover 240 samples of the interval, or not end at the newest.
void TestChartView::xAxisSpansTheHistory()
{
    QFETCH(int, interval);
    QFETCH(int, span);
    NodeDevice* node = makeNode();
    qobject_cast<ConfiguredDevice*>(node->parent())->setInterval(interval);
    view->setNodeDevice(node);
    node->setChartView(view);
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"), 0);
    const double newest = CChart_chartTime2(int(start.toSecsSinceEpoch()));
    // The sample's redraw may wait for the viewer's hold-off.
    auto edges = [&] {
        auto* chart = dynamic_cast<XYChart*>(view->viewer1()->assignedChart());
        if (!chart || CXYChart_getLayerCount(chart) == 0)
            return QPair<int, int>(-1, -1);
        PlotArea* plot = CXYChart_getPlotArea(chart);
        return qMakePair(CXYChart_getXCoor(chart, newest - span) - CPlotArea_getLeftX(plot),
                         CXYChart_getXCoor(chart, newest) - CPlotArea_getRightX(plot));
    };
    QTRY_COMPARE(edges(), qMakePair(0, 0));
}

void TestChartView::cursorReadsTheLocalClock_data()
{
    QTest::addColumn<qint64>("seconds"); // since 1970 UTC
    QTest::newRow("winter") << qint64(1767225600);
    QTest::newRow("summer") << qint64(1782864000);
    for (const qint64 change : ClockChanges::inYear(2026))
        for (const int offset : {-1, 0, 1800}) {
            QTest::addRow(
                "%s %+d s",
                qPrintable(QDateTime::fromMSecsSinceEpoch(change, Qt::UTC).toString(Qt::ISODate)),
                offset)
                << change / 1000 + offset;
        }
}

// Catches a track cursor whose time, or a legend whose date, differs from the local clock of the
// status bar (written in UTC, or an hour off around a clock change).
void TestChartView::cursorReadsTheLocalClock()
{
    QFETCH(qint64, seconds);
    start = QDateTime::fromSecsSinceEpoch(seconds);
    NodeDevice* node = makeNode();
    view->setNodeDevice(node);
    node->setChartView(view);
    feed(node, QStringLiteral("1.00"), QStringLiteral("2.00"), -1);
    feed(node, QStringLiteral("1.50"), QStringLiteral("2.50"), 0);
    // Without the mouse the cursor stands at the newest sample.
    const QStringList expected = {
        QStringLiteral(" ") + start.toString(QStringLiteral("hh:mm:ss")) + QLatin1Char(' '),
        QStringLiteral("[ ") + start.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")) +
            QStringLiteral(" ]")};
    auto shown = [&] {
        BaseChart* chart = view->viewer2()->assignedChart();
        const DrawArea* cursor = chart ? chart->core()->dynamicLayer() : nullptr;
        return cursor ? cursor->texts() : QStringList();
    };
    QTRY_VERIFY2(shown().contains(expected[0]) && shown().contains(expected[1]),
                 qPrintable(shown().join(QLatin1Char('|')) + QStringLiteral(" <> ") +
                            expected.join(QLatin1Char('|'))));
}

// Catches option and network buttons that ask for nothing.
void TestChartView::buttonsRequestDialogs()
{
    QSignalSpy option(view, &ChartView::popupSensingOption);
    QSignalSpy network(view, &ChartView::popupNetworkSetting);
    QTest::mouseClick(view->findChild<QWidget*>(QStringLiteral("btn_setting")), Qt::LeftButton);
    QCOMPARE(option.count(), 1);
    QCOMPARE(network.count(), 0);
    QTest::mouseClick(view->findChild<QWidget*>(QStringLiteral("btn_network")), Qt::LeftButton);
    QCOMPARE(network.count(), 1);
}

// Catches a cleared panel that still takes samples pushed to it.
void TestChartView::sampleWithoutNodeIsIgnored()
{
    double times[NodeChartView::HistorySize];
    double values[NodeChartView::HistorySize];
    std::fill(std::begin(times), std::end(times), 1.0e9);
    std::fill(std::begin(values), std::end(values), 5.0);
    view->setData(times, values, values, QStringLiteral("5.00"), QStringLiteral("5.00"));
    QCOMPARE(text("label_ch1_number"), QString());
    QTest::qWait(30);
    QCOMPARE(colourPixels(view->viewer1(), 0xFF0000), 0);
}

QTEST_MAIN(TestChartView)
#include "tst_chartview.moc"
