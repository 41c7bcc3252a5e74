// Live display harness: 16 nodes on two simulated gateways, polled every second, shown in a
// project centre the way the recorder shows them.
//
//   displayharness --shots DIR [--warmup SECONDS]   dashboard and chart panel screenshots
//   displayharness --cpu SECONDS                    CPU share with the chart panel shown
//
// Run under xvfb-run -a so the windows are real.

#include "chartview.h"
#include "configureddevice.h"
#include "dashboard.h"
#include "dashboarddeviceitem.h"
#include "gatewaysimulator.h"
#include "nodedevice.h"
#include "projectcenter.h"
#include "projectlist.h"
#include "qchartviewer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QListWidget>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>
#include <QtTest/QTest>

#include <unistd.h>

#include <cstdio>

namespace {

struct HarnessNode
{
    const char* name;
    const char* ch1Name;
    const char* ch2Name;
    ChannelUnit unit1;
    ChannelUnit unit2;
    const char* custom2;
    const char* ch1;
    const char* ch2;
    float min1, max1, min2, max2;
};

// Eight nodes per gateway; a few ranges are tight so the alarm colours show.
const HarnessNode kNodes[16] = {
    {"Cold Room 1", "Air", "Humidity", TemperatureC, Humidity, "", "sine:3,1.5,60", "sine:85,5,90",
     -2, 8, 0, 0},
    {"Cold Room 2", "Air", "Humidity", TemperatureC, Humidity, "", "sine:4,2,80", "sine:80,6,70",
     -2, 5, 0, 0},
    {"Freezer A", "Core", "Door", TemperatureC, Undefined, "", "sine:-18.5,1,45", "0", -25, -15, 0,
     0},
    {"Freezer B", "Core", "Air", TemperatureC, TemperatureC, "", "sine:-21,2,50", "sine:-19,3,40",
     -25, -15, -25, -15},
    {"Packing Hall", "Temperature", "Humidity", TemperatureC, Humidity, "", "sine:19,2,120",
     "sine:55,10,100", 10, 25, 30, 60},
    {"Loading Dock", "Temperature", "Humidity", TemperatureF, Humidity, "", "sine:68,8,90",
     "sine:60,12,110", 40, 90, 0, 0},
    {"Server Room", "Inlet", "Outlet", TemperatureC, TemperatureC, "", "sine:22,1,60",
     "sine:31,2,70", 15, 27, 15, 35},
    {"Boiler House", "Flow", "Pressure", TemperatureC, Custom, "bar", "sine:72,4,100",
     "sine:2.4,0.3,80", 60, 85, 1, 3},
    {"Lab Incubator", "Chamber", "CO2", TemperatureC, Custom, "%vol", "sine:37,0.2,60",
     "sine:5,0.4,75", 36.5, 37.5, 4, 6},
    {"Greenhouse", "Air", "Soil", TemperatureC, Custom, "kPa", "sine:26,4,110",
     "sine:-1234.5,30,90", 10, 35, 0, 0},
    {"Warehouse N", "Temperature", "Humidity", TemperatureC, Humidity, "", "sine:15,3,130",
     "sine:48,9,95", 5, 30, 20, 70},
    {"Warehouse S", "Temperature", "Humidity", TemperatureC, Humidity, "", "sine:17,3,125",
     "sine:52,9,105", 5, 30, 20, 70},
    {"Office", "Air", "Humidity", TemperatureC, Humidity, "", "sine:21.5,0.8,140", "sine:40,5,115",
     18, 26, 0, 0},
    {"Pharmacy Fridge", "Shelf", "Door", TemperatureC, Undefined, "", "sine:5,2.5,55", "0", 2, 8, 0,
     0},
    {"Tank 3", "Level", "Temperature", Custom, TemperatureC, "", "sine:1234.56,150,100",
     "sine:12,1,80", 0, 0, 0, 30},
    {"Roof", "Air", "Wind", TemperatureC, Custom, "m/s", "sine:8,6,150", "sine:7,5,60", -20, 40, 0,
     25},
};

double cpuSeconds()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which may hold blanks, start after the last ')'.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line, 12 and 13 here (0-based 11, 12).
    const double ticks = double(fields.value(11).toLongLong() + fields.value(12).toLongLong());
    return ticks / double(sysconf(_SC_CLK_TCK));
}

void save(QWidget* widget, const QString& path)
{
    if (widget->grab().save(path))
        std::printf("wrote %s\n", qPrintable(path));
    else
        std::printf("could not write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("quillmar.*=false"));
    QCommandLineParser parser;
    parser.addHelpOption();
    parser.addOption({QStringLiteral("shots"), QStringLiteral("Folder for the screenshots."),
                      QStringLiteral("dir")});
    parser.addOption({QStringLiteral("warmup"),
                      QStringLiteral("Seconds of polling before the first shot."),
                      QStringLiteral("seconds"), QStringLiteral("30")});
    parser.addOption({QStringLiteral("cpu"),
                      QStringLiteral("Measure the CPU share over this many seconds."),
                      QStringLiteral("seconds")});
    parser.addOption({QStringLiteral("size"), QStringLiteral("Window size, as in 1024x464."),
                      QStringLiteral("WxH"), QStringLiteral("1024x464")});
    parser.process(app);
    const QStringList size = parser.value(QStringLiteral("size")).split(QLatin1Char('x'));

    QVector<GatewaySimulator::Gateway> simGateways(2);
    for (int g = 0; g < 2; ++g) {
        simGateways[g].model = g == 0 ? QStringLiteral("TQ100") : QStringLiteral("TQ700");
        for (int n = 0; n < 8; ++n) {
            const HarnessNode& s = kNodes[g * 8 + n];
            GatewaySimulator::Node node;
            node.startRegister = n * 4;
            node.ch1 = QString::fromLatin1(s.ch1);
            node.ch2 = QString::fromLatin1(s.ch2);
            simGateways[g].nodes << node;
        }
    }
    GatewaySimulator sim;
    if (!sim.start(simGateways)) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }

    const int interval = 1000;
    QList<ConfiguredDevice*> gateways;
    for (int g = 0; g < 2; ++g) {
        auto* gw = new ConfiguredDevice;
        gw->setInterval(interval);
        gw->setDeviceInfo(QStringLiteral("127.0.0.1"), sim.port(g));
        gw->setDeviceModel(simGateways[g].model);
        for (int n = 0; n < 8; ++n) {
            const HarnessNode& s = kNodes[g * 8 + n];
            auto* node = new NodeDevice(
                QStringLiteral("%1%2-%3").arg(g == 0 ? "TQA" : "TQB").arg(n + 1).arg(4711 + n * 37),
                gw);
            node->setStartAddress(n * 4);
            node->setNames(QString::fromUtf8(s.name), QString::fromUtf8(s.ch1Name),
                           QString::fromUtf8(s.ch2Name));
            node->setChannelUnits(s.unit1, s.unit2);
            node->setCustomUnits(s.unit1 == Custom ? QStringLiteral("mm") : QString(),
                                 QString::fromUtf8(s.custom2));
            node->setAlarmRanges(s.min1, s.max1, s.min2, s.max2);
            gw->addNode(node);
        }
        gateways << gw;
    }

    // The main window's central frame: the dark background the centre is drawn on.
    QFrame window;
    window.setObjectName(QStringLiteral("centralFrame"));
    window.setStyleSheet(QStringLiteral(
        "#centralFrame { background-color: qlineargradient(spread:pad, x1:0.372222, y1:0.46, x2:1, "
        "y2:1, stop:0 rgba(49, 49, 49, 255), stop:1 rgba(73, 73, 73, 255)); }"));
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    QTemporaryDir dir;
    auto* center = new ProjectCenter(dir.filePath(QStringLiteral("Harness Plant.tpc")), &window);
    layout->addWidget(center);
    center->setDeviceList(gateways);
    center->setRecordTimes(QStringLiteral("2026-12-07 08:00:00"), QString());
    center->setRecording(true);
    center->setDatabaseSize(qint64(812.37 * 1048576));
    window.resize(size.value(0).toInt(), size.value(1).toInt());
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        std::fprintf(stderr, "window not exposed\n");

    QTimer poller;
    poller.setInterval(interval);
    QObject::connect(&poller, &QTimer::timeout, &poller, [&] {
        for (ConfiguredDevice* gw : qAsConst(gateways)) {
            if (!gw->retryPending)
                gw->poll();
        }
    });
    for (ConfiguredDevice* gw : qAsConst(gateways))
        gw->poll();
    poller.start();

    auto* list = center->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    auto clickNode = [&](int index) {
        QListWidgetItem* item = list->item(index);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(item).center());
    };

    int rc = 0;
    if (parser.isSet(QStringLiteral("shots"))) {
        const QString out = parser.value(QStringLiteral("shots"));
        QDir().mkpath(out);
        QTest::qWait(parser.value(QStringLiteral("warmup")).toInt() * 1000);
        save(&window, out + QStringLiteral("/dashboard.png"));
        center->dashBoard()->setEmptyCellsVisible(false);

        clickNode(7); // Boiler House: custom unit, TQ100 radio row
        QTest::qWait(1500);
        save(&window, out + QStringLiteral("/chartpanel-1.png"));
        QTest::qWait(8000);
        save(&window, out + QStringLiteral("/chartpanel-2.png"));

        // Cursor over the upper chart, in its right half and in its left half.
        QChartViewer* viewer = center->chartView()->viewer1();
        for (int i = 0; i < 2; ++i) {
            const QPoint at(i == 0 ? viewer->width() - 120 : 120, viewer->height() / 2);
            QTest::mouseMove(viewer, at);
            QTest::qWait(50);
            save(&window, out + QStringLiteral("/chartpanel-cursor-%1.png").arg(i + 1));
        }
        QTest::mouseMove(&window, QPoint(5, 5));

        clickNode(9); // Greenhouse: long negative value, TQ700
        QTest::qWait(1500);
        save(&window, out + QStringLiteral("/chartpanel-3.png"));

        // The node's two dialogs, as the panel's buttons open them.
        QTest::mouseClick(center->chartView()->findChild<QWidget*>(QStringLiteral("btn_setting")),
                          Qt::LeftButton);
        QTest::qWait(200);
        if (auto* option = center->findChild<QDialog*>(QStringLiteral("SensingOptionDialog"))) {
            save(option, out + QStringLiteral("/option-dialog.png"));
            option->reject();
        }
        QTest::mouseClick(center->chartView()->findChild<QWidget*>(QStringLiteral("btn_network")),
                          Qt::LeftButton);
        QTest::qWait(200);
        if (auto* network = center->findChild<QDialog*>(QStringLiteral("NetworkSettingDialog"))) {
            save(network, out + QStringLiteral("/network-dialog.png"));
            network->reject();
        }

        // A gateway that stops: its nodes grey out, histories stay.
        sim.stopGateway(1);
        QTest::qWait(7000);
        save(&window, out + QStringLiteral("/chartpanel-disconnected.png"));
        QTest::mouseClick(
            center->projectList()->findChild<QWidget*>(QStringLiteral("button_project")),
            Qt::LeftButton);
        QTest::qWait(300);
        save(&window, out + QStringLiteral("/dashboard-disconnected.png"));
    }
    if (parser.isSet(QStringLiteral("cpu"))) {
        const int seconds = parser.value(QStringLiteral("cpu")).toInt();
        clickNode(4);
        QTest::qWait(2000);
        const double cpu0 = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(seconds * 1000);
        const double used = cpuSeconds() - cpu0;
        const double elapsed = wall.elapsed() / 1000.0;
        std::printf("cpu: %.2f s of CPU in %.1f s with 16 nodes at 1 s and the chart panel shown: "
                    "%.2f %% of one core\n",
                    used, elapsed, 100.0 * used / elapsed);
        QTest::mouseClick(
            center->projectList()->findChild<QWidget*>(QStringLiteral("button_project")),
            Qt::LeftButton);
        QTest::qWait(1000);
        const double cpu1 = cpuSeconds();
        wall.restart();
        QTest::qWait(seconds * 1000 / 2);
        const double boardUsed = cpuSeconds() - cpu1;
        std::printf("cpu: dashboard shown: %.2f %% of one core over %.1f s\n",
                    100.0 * boardUsed / (wall.elapsed() / 1000.0), wall.elapsed() / 1000.0);
        if (100.0 * used / elapsed >= 10.0)
            rc = 2;
    }
    poller.stop();
    delete center;
    qDeleteAll(gateways);
    return rc;
}
