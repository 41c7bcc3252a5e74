#include "chartview.h"
#include "configureddevice.h"
#include "dashboard.h"
#include "dashboarddeviceitem.h"
#include "gatewaysimulator.h"
#include "networksettingdialog.h"
#include "nodedevice.h"
#include "projectcenter.h"
#include "projectlist.h"
#include "qchartviewer.h"
#include "sensingoptiondialog.h"

#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

// The project centre on real nodes polled from the simulator: tiles of the panel and of the
// dashboard in alarm and without link, switching between nodes and the dashboard, the bottom
// bar, and the dialogs it opens.
class TestProjectCenter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void alarmTurnsBothTilesRedAndBack();
    void disconnectionGreysBothKeepsHistory();
    void panelFollowsClickedNode();
    void dashboardButtonBringsBoardBack();
    void listShowsNamesAndLink();
    void databaseSize_data();
    void databaseSize();
    void recordingBar();
    void optionDialogFlow();
    void dialogsNeedANode();
    void centreClosedBeforeNodes();
    void nodesClosedBeforeCentre();

private:
    void poll();
    void pollOne(ConfiguredDevice* gw);
    void clickNode(int index);
    NodeDevice* nodeAt(int index) const;
    DashBoardDeviceItem* tileOf(NodeDevice* node, int channel) const;
    QString panelText(const char* name) const;
    QString panelStyle(const char* name) const;
    static QString tileStyle(DashBoardDeviceItem* tile);
    static QString tileText(DashBoardDeviceItem* tile);
    int redPixels() const;

    GatewaySimulator sim;
    QTemporaryDir dir;
    std::unique_ptr<QWidget> window;
    ProjectCenter* center = nullptr;
    QList<ConfiguredDevice*> gateways;
    // The gateways' clock, which the test steps instead of waiting for the time to pass.
    QDateTime gatewayTime;
};

void TestProjectCenter::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qRegisterMetaType<NodeDevice*>();
    GatewaySimulator::Gateway a = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4, 8});
    GatewaySimulator::Gateway b = GatewaySimulator::gateway(QStringLiteral("TQ700"), {0});
    QVERIFY2(sim.start({a, b}), qPrintable(sim.errorString()));
}

void TestProjectCenter::init()
{
    gatewayTime = QDateTime::currentDateTimeUtc();
    for (int g = 0; g < 2; ++g) {
        QVERIFY(sim.startGateway(g));
        QVERIFY(sim.setFault(g, QStringLiteral("none")));
    }
    const double values[4][2] = {{21.5, 45.0}, {4.0, 80.0}, {-18.0, 60.0}, {30.0, 40.0}};
    const int starts[4] = {0, 4, 8, 0};
    for (int i = 0; i < 4; ++i) {
        QVERIFY(sim.setChannel(i / 3, starts[i], 1, values[i][0]));
        QVERIFY(sim.setChannel(i / 3, starts[i], 2, values[i][1]));
    }

    gateways.clear();
    for (int g = 0; g < 2; ++g) {
        auto* gw = new ConfiguredDevice;
        gw->setInterval(1000);
        gw->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(g));
        gw->setDeviceModel(g == 0 ? QStringLiteral("TQ100") : QStringLiteral("TQ700"));
        gw->setClock([this] { return gatewayTime; });
        const int count = g == 0 ? 3 : 1;
        for (int n = 0; n < count; ++n) {
            auto* node = new NodeDevice(QStringLiteral("NODE-%1-%2").arg(g).arg(n), gw);
            node->setStartAddress(n * 4);
            node->setNames(QStringLiteral("Room %1").arg(gateways.size() * 3 + n + 1),
                           QStringLiteral("Temp"), QStringLiteral("Hum"));
            node->setChannelUnits(TemperatureC, Humidity);
            node->setAlarmRanges(-20, 25, 0, 100);
            gw->addNode(node);
        }
        gateways << gw;
    }

    window = std::make_unique<QWidget>();
    window->resize(1010, 464);
    center = new ProjectCenter(dir.filePath(QStringLiteral("Plant A.tpc")), window.get());
    center->resize(1010, 464);
    center->setDeviceList(gateways);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    poll();
}

void TestProjectCenter::cleanup()
{
    window.reset();
    qDeleteAll(gateways);
    gateways.clear();
}

void TestProjectCenter::poll()
{
    for (ConfiguredDevice* gw : qAsConst(gateways))
        pollOne(gw);
}

// The answer comes back through the event loop: wait for it.
void TestProjectCenter::pollOne(ConfiguredDevice* gw)
{
    QSignalSpy polled(gw, &ConfiguredDevice::polled);
    gw->poll();
    QVERIFY(polled.wait(5000));
}

NodeDevice* TestProjectCenter::nodeAt(int index) const
{
    return index < 3 ? gateways.at(0)->nodes().at(index) : gateways.at(1)->nodes().at(0);
}

void TestProjectCenter::clickNode(int index)
{
    auto* list = center->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    QListWidgetItem* item = list->item(index);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
}

DashBoardDeviceItem* TestProjectCenter::tileOf(NodeDevice* node, int channel) const
{
    for (DashBoardDeviceItem* tile : center->dashBoard()->items()) {
        if (tile->node() == node && tile->channel() == channel)
            return tile;
    }
    return nullptr;
}

QString TestProjectCenter::panelText(const char* name) const
{
    return center->chartView()->findChild<QLabel*>(QLatin1String(name))->text();
}

QString TestProjectCenter::panelStyle(const char* name) const
{
    return center->chartView()->findChild<QWidget*>(QLatin1String(name))->styleSheet();
}

QString TestProjectCenter::tileStyle(DashBoardDeviceItem* tile)
{
    return tile->findChild<QWidget*>(QStringLiteral("frame_value"))->styleSheet();
}

QString TestProjectCenter::tileText(DashBoardDeviceItem* tile)
{
    return tile->findChild<QLabel*>(QStringLiteral("label_number"))->text();
}

int TestProjectCenter::redPixels() const
{
    const QImage image = center->chartView()->viewer1()->pixmap(Qt::ReturnByValue).toImage();
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xFFFFFF) == 0xFF0000 ? 1 : 0;
    return count;
}

// Catches a tile of the panel or of the dashboard that misses an alarm or stays red after it.
void TestProjectCenter::alarmTurnsBothTilesRedAndBack()
{
    NodeDevice* node = nodeAt(1);
    clickNode(1);
    QVERIFY(!center->isDashboardShown());
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("4.00"));
    DashBoardDeviceItem* tile = tileOf(node, 1);
    QCOMPARE(tileStyle(tile), ChartView::normalStyle());

    QVERIFY(sim.setChannel(0, 4, 1, 25.5));
    poll();
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("25.50"));
    QCOMPARE(panelStyle("frame_ch1_value"), ChartView::alarmStyle());
    QCOMPARE(tileText(tile), QStringLiteral("25.50"));
    QCOMPARE(tileStyle(tile), ChartView::alarmStyle());
    QCOMPARE(panelStyle("frame_ch2_value"), ChartView::normalStyle());
    QCOMPARE(tileStyle(tileOf(node, 0)), ChartView::normalStyle());

    QVERIFY(sim.setChannel(0, 4, 1, 24.0));
    poll();
    QCOMPARE(panelStyle("frame_ch1_value"), ChartView::normalStyle());
    QCOMPARE(tileStyle(tile), ChartView::normalStyle());

    // The dashboard shows what happened while it was hidden.
    QVERIFY(sim.setChannel(0, 4, 2, 100.5));
    poll();
    QTest::mouseClick(center->projectList()->findChild<QWidget*>(QStringLiteral("button_project")),
                      Qt::LeftButton);
    QVERIFY(center->dashBoard()->isVisible());
    QCOMPARE(tileStyle(tileOf(node, 0)), ChartView::alarmStyle());
}

// Catches a lost link that leaves old values on show, or that wipes the chart's history.
void TestProjectCenter::disconnectionGreysBothKeepsHistory()
{
    NodeDevice* node = nodeAt(0);
    for (int i = 0; i < 3; ++i) {
        QVERIFY(sim.setChannel(0, 0, 1, 20.0 + i));
        // Samples need distinct seconds to take distinct slots.
        gatewayTime = gatewayTime.addSecs(1);
        poll();
    }
    clickNode(0);
    QTRY_VERIFY(redPixels() > 0);
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("22.00"));

    QVERIFY(sim.stopGateway(0));
    for (int i = 0; i < gateways.at(0)->missedPollLimit() + 1 && gateways.at(0)->connected; ++i)
        pollOne(gateways.at(0));
    QVERIFY(!gateways.at(0)->connected);

    for (const char* name : {"frame_ch1_value", "frame_ch2_value"})
        QCOMPARE(panelStyle(name), ChartView::noValueStyle());
    QCOMPARE(panelText("label_ch1_number"), QString());
    QCOMPARE(panelText("label_ch2_unit"), QString());
    for (int channel : {0, 1}) {
        QCOMPARE(tileStyle(tileOf(node, channel)), ChartView::noValueStyle());
        QCOMPARE(tileText(tileOf(node, channel)), QString());
    }
    // The other gateway's node is untouched.
    QCOMPARE(tileText(tileOf(nodeAt(3), 1)), QStringLiteral("30.00"));
    // History stays: in the node and on the chart.
    double times[NodeDevice::HistorySize], ch1[NodeDevice::HistorySize],
        ch2[NodeDevice::HistorySize];
    node->history(times, ch1, ch2);
    QCOMPARE(ch1[NodeDevice::HistorySize - 1], 22.0);
    QCOMPARE(ch1[NodeDevice::HistorySize - 3], 20.0);
    center->chartView()->updateChart();
    QTest::qWait(30);
    QVERIFY(redPixels() > 0);
}

// Catches a panel that keeps taking the previous node's samples after another node is chosen.
void TestProjectCenter::panelFollowsClickedNode()
{
    QSignalSpy clicked(center->projectList(), qOverload<NodeDevice*>(&ProjectList::deviceClicked));
    clickNode(0);
    QCOMPARE(center->currentNode(), nodeAt(0));
    QCOMPARE(panelText("label_device"), QStringLiteral("Room 1"));
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("21.50"));

    clickNode(3);
    QCOMPARE(clicked.count(), 2);
    QCOMPARE(center->currentNode(), nodeAt(3));
    QCOMPARE(nodeAt(0)->chartView(), nullptr);
    QCOMPARE(nodeAt(3)->chartView(), center->chartView());
    QCOMPARE(panelText("label_device"), QStringLiteral("Room 4"));
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("30.00"));
    QVERIFY(center->projectList()->itemOf(nodeAt(3))->isSelected());
    QVERIFY(!center->projectList()->itemOf(nodeAt(0))->isSelected());

    QVERIFY(sim.setChannel(0, 0, 1, 11.25));
    QVERIFY(sim.setChannel(1, 0, 1, 12.75));
    pollOne(gateways.at(0));
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("30.00"));
    pollOne(gateways.at(1));
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("12.75"));

    // A click on a dashboard tile of the first node switches back.
    QTest::mouseClick(center->projectList()->findChild<QWidget*>(QStringLiteral("button_project")),
                      Qt::LeftButton);
    QVERIFY(center->isDashboardShown());
    QCOMPARE(nodeAt(3)->chartView(), nullptr);
    QCOMPARE(center->currentNode(), nodeAt(3));
    DashBoardDeviceItem* tile = tileOf(nodeAt(0), 1);
    QTest::mouseClick(tile->findChild<QWidget*>(QStringLiteral("frame_value")), Qt::LeftButton);
    QVERIFY(!center->isDashboardShown());
    QVERIFY(center->chartView()->isVisible());
    QVERIFY(!center->dashBoard()->isVisible());
    QCOMPARE(panelText("label_ch1_number"), QStringLiteral("11.25"));
}

// Catches the board and panel both shown, or the panel left attached to its node.
void TestProjectCenter::dashboardButtonBringsBoardBack()
{
    QSignalSpy dashboard(center->projectList(), &ProjectList::dashboardClicked);
    QVERIFY(center->dashBoard()->isVisible());
    QVERIFY(!center->chartView()->isVisible());
    clickNode(2);
    clickNode(2); // the node already shown: nothing changes
    QCOMPARE(center->currentNode(), nodeAt(2));
    QVERIFY(center->chartView()->isVisible());
    QTest::mouseClick(center->projectList()->findChild<QWidget*>(QStringLiteral("button_project")),
                      Qt::LeftButton);
    QCOMPARE(dashboard.count(), 1);
    QVERIFY(center->dashBoard()->isVisible());
    QVERIFY(!center->chartView()->isVisible());
    QCOMPARE(panelText("label_ch1_desc"), QString());
    QCOMPARE(nodeAt(2)->chartView(), nullptr);
    auto* list = center->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    QVERIFY(list->selectedItems().isEmpty());
    // A click that matches no node is ignored.
    center->projectList()->deviceClicked(static_cast<QListWidgetItem*>(nullptr));
    QVERIFY(center->isDashboardShown());
}

// Catches list entries with the wrong text, tool tip or link symbol.
void TestProjectCenter::listShowsNamesAndLink()
{
    auto* list = center->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    QCOMPARE(list->count(), 4);
    QCOMPARE(list->item(0)->text(), QStringLiteral("Room 1"));
    QCOMPARE(list->item(3)->toolTip(), QStringLiteral("NODE-1-0"));
    const QImage connected =
        QIcon(QStringLiteral(":/img/DeviceConnectingSymbol.png")).pixmap(20).toImage();
    const QImage disconnected =
        QIcon(QStringLiteral(":/img/DeviceDisconnectedSymbol.png")).pixmap(20).toImage();
    QVERIFY(connected != disconnected);
    QCOMPARE(list->item(0)->icon().pixmap(20).toImage(), connected);
    QCOMPARE(center->projectList()
                 ->findChild<QAbstractButton*>(QStringLiteral("button_project"))
                 ->text(),
             QStringLiteral("Plant A"));

    QVERIFY(sim.stopGateway(1));
    for (int i = 0; i < 6 && gateways.at(1)->connected; ++i)
        pollOne(gateways.at(1));
    QCOMPARE(list->item(3)->icon().pixmap(20).toImage(), disconnected);
    QCOMPARE(list->item(0)->icon().pixmap(20).toImage(), connected);

    nodeAt(1)->setNames(QString(), QStringLiteral("a"), QStringLiteral("b"));
    center->projectList()->refreshNames();
    QCOMPARE(list->item(1)->text(), QStringLiteral("NODE-0-1"));
}

void TestProjectCenter::databaseSize_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("red");
    QTest::newRow("empty") << qint64(0) << "Database 0.00MB" << false;
    QTest::newRow("12.5 MiB") << qint64(13107200) << "Database 12.50MB" << false;
    QTest::newRow("one byte below 3 GiB") << qint64(3221225471LL) << "Database 3072.00MB" << false;
    QTest::newRow("exactly 3 GiB") << qint64(3221225472LL) << "Database 3072.00MB" << true;
    QTest::newRow("above 4 GiB") << qint64(5000000000LL) << "Database 4768.37MB" << true;
}

// Catches a size limit off by one byte, or a 32-bit overflow of large files.
void TestProjectCenter::databaseSize()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QFETCH(bool, red);
    center->setDatabaseSize(bytes);
    auto* label = center->findChild<QLabel*>(QStringLiteral("label_record_bytes"));
    QCOMPARE(label->text(), text);
    QCOMPARE(label->styleSheet(),
             red ? QStringLiteral("color:rgb(230,80,80);background-color:transparent;")
                 : QStringLiteral("color:rgb(192,192,192);background-color:transparent;"));
    const QImage shot =
        center->grab(label->geometry().translated(label->parentWidget()->mapTo(center, QPoint())))
            .toImage();
    bool reddish = false;
    for (int y = 0; y < shot.height() && !reddish; ++y)
        for (int x = 0; x < shot.width() && !reddish; ++x) {
            const QColor c = shot.pixelColor(x, y);
            reddish = c.red() > 180 && c.green() < 120;
        }
    QCOMPARE(reddish, red);
}

// Catches a record button that does nothing, or a second start that moves the first start time.
void TestProjectCenter::recordingBar()
{
    QSignalSpy record(center, &ProjectCenter::clickRecord);
    auto* button = center->findChild<QToolButton*>(QStringLiteral("btn_record"));
    QCOMPARE(button->toolTip(), QStringLiteral("Record current data"));
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(record.count(), 1);

    auto* to = center->findChild<QLabel*>(QStringLiteral("label_to"));
    const QString yellow = QStringLiteral("color:rgb(255,255,147);background-color:transparent;");
    const QImage stopIcon =
        QIcon(QStringLiteral(":/img/RecordStopButton.png")).pixmap(32).toImage();
    center->setRecording(true);
    const QString first = center->recordStartTime();
    QVERIFY(QDateTime::fromString(first, QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    QCOMPARE(to->text(), QStringLiteral("~"));
    QCOMPARE(to->styleSheet(), yellow);
    QCOMPARE(button->icon().pixmap(32).toImage(), stopIcon);

    center->setRecording(false);
    QVERIFY(QDateTime::fromString(center->recordEndTime(), QStringLiteral("yyyy-MM-dd hh:mm:ss"))
                .isValid());
    QCOMPARE(to->text(), QString());
    QVERIFY(button->icon().pixmap(32).toImage() != stopIcon);

    center->setRecordTimes(QStringLiteral("2026-01-02 03:04:05"), QString());
    center->setRecording(true);
    QCOMPARE(center->recordStartTime(), QStringLiteral("2026-01-02 03:04:05"));
    center->setRecordEndTime(QStringLiteral("2026-01-02 04:00:00"));
    QCOMPARE(center->recordEndTime(), QStringLiteral("2026-01-02 04:00:00"));
    center->setRecording(false);
    center->setRecording(true);
    QCOMPARE(center->recordStartTime(), QStringLiteral("2026-01-02 03:04:05"));
}

// Catches confirmed options that are not re-evaluated, shown, or saved.
void TestProjectCenter::optionDialogFlow()
{
    QSignalSpy update(center, &ProjectCenter::updateProjectFile);
    NodeDevice* node = nodeAt(0);
    clickNode(0);
    QTest::mouseClick(center->chartView()->findChild<QWidget*>(QStringLiteral("btn_setting")),
                      Qt::LeftButton);
    auto* dialog = center->findChild<SensingOptionDialog*>();
    QVERIFY(dialog && dialog->isVisible());
    dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_devicename"))
        ->setText(QStringLiteral("Blast chiller"));
    auto* max1 = dialog->findChild<QDoubleSpinBox*>(QStringLiteral("doubleSpinBox_max_ch1"));
    QVERIFY(max1->isEnabled());
    max1->setValue(20.0); // 21.5 is now out of range
    QTest::mouseClick(dialog->findChild<QWidget*>(QStringLiteral("pushButton_confirm")),
                      Qt::LeftButton);
    QCOMPARE(update.count(), 1);
    QVERIFY(node->isAlarmed(1));
    QCOMPARE(panelText("label_device"), QStringLiteral("Blast chiller"));
    QCOMPARE(panelStyle("frame_ch1_value"), ChartView::alarmStyle());
    auto* list = center->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    QCOMPARE(list->item(0)->text(), QStringLiteral("Blast chiller"));

    QTest::mouseClick(center->chartView()->findChild<QWidget*>(QStringLiteral("btn_network")),
                      Qt::LeftButton);
    auto* network = center->findChild<NetworkSettingDialog*>();
    QVERIFY(network && network->isVisible());
    QCOMPARE(network->findChild<QLabel*>(QStringLiteral("label_port"))->text(),
             QString::number(sim.port(0)));
}

// Catches dialogs opened for no node (a crash when they read it).
void TestProjectCenter::dialogsNeedANode()
{
    center->slotPopupSensingOption();
    center->slotNetworkSetting();
    QCOMPARE(center->findChildren<QDialog*>().size(), 0);
    center->slotDeviceClicked(nullptr);
    QVERIFY(center->isDashboardShown());
}

// Catches nodes left pointing at deleted widgets when the centre goes before its gateways.
void TestProjectCenter::centreClosedBeforeNodes()
{
    clickNode(0);
    window.reset();
    QCOMPARE(nodeAt(0)->chartView(), nullptr);
    QVERIFY(sim.setChannel(0, 0, 1, 5.0));
    poll(); // would write into freed tiles, list items and panel
    QCOMPARE(nodeAt(0)->shownChannel(1), QStringLiteral("5.00"));
    for (ConfiguredDevice* gw : qAsConst(gateways)) {
        gw->deviceDisconnected();
    }
}

// Catches widgets that reach into deleted nodes when the gateways go first (project closed).
void TestProjectCenter::nodesClosedBeforeCentre()
{
    clickNode(1);
    qDeleteAll(gateways);
    gateways.clear();
    center->slotPopupSensingOption();
    QCOMPARE(center->findChildren<QDialog*>().size(), 0);
    center->chartView()->updateChart();
    center->dashBoard()->refreshItems();
    center->projectList()->refreshNames();
    QTest::qWait(30);
    window.reset();
}

QTEST_MAIN(TestProjectCenter)
#include "tst_projectcenter.moc"
