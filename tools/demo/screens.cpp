// screens: drives the recorder through its screens against the gateway simulator and saves what
// a user sees as PNG files (run under xvfb-run so that pop-up menus are on the grabbed screen).
//   usage: quillmar_screens OUTPUT_DIR

#include "alarmmonitor.h"
#include "alarmscreen.h"
#include "configureddevice.h"
#include "gatewaysimulator.h"
#include "nodedevice.h"
#include "projectalarms.h"
#include "projectcenter.h"
#include "projectlist.h"
#include "projectmain.h"
#include "projectmanager.h"
#include "quillmarmain.h"
#include "sensingoptiondialog.h"
#include "treemodel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCommandLinkButton>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>

#include <cstdio>

namespace {

void wait(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void shot(const QString& dir, const QString& name, QWidget* window, bool wholeScreen = false)
{
    wait(300);
    const QPixmap pixmap = wholeScreen ? QApplication::primaryScreen()->grabWindow(0)
                                       : window->grab();
    const QString file = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    pixmap.save(file);
    std::printf("%s\n", qPrintable(file));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillmar_screens OUTPUT_DIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    const auto messageBox = [](QMessageBox::Icon, const QString& title, const QString& text,
                               QMessageBox::StandardButtons) {
        std::fprintf(stderr, "critical message: %s: %s\n", qPrintable(title), qPrintable(text));
        return QMessageBox::Ok;
    };

    GatewaySimulator sim;
    GatewaySimulator::Gateway rooms = GatewaySimulator::gateway(QStringLiteral("TQ100"), {0, 4, 8});
    rooms.nodes[0].ch1 = QStringLiteral("sine:22,3,30");
    rooms.nodes[0].ch2 = QStringLiteral("sine:45,8,40");
    rooms.nodes[1].ch1 = QStringLiteral("ramp:18,0.5,18,26");
    rooms.nodes[1].ch2 = QStringLiteral("52");
    rooms.nodes[2].ch1 = QStringLiteral("33.5");
    rooms.nodes[2].ch2 = QStringLiteral("sine:48,10,20");
    for (auto& node : rooms.nodes) {
        node.lqi = 210;
        node.battery = 88;
    }
    GatewaySimulator::Gateway cold = GatewaySimulator::gateway(QStringLiteral("TQ700"), {0, 4});
    cold.nodes[0].ch1 = QStringLiteral("sine:4,1.5,30");
    cold.nodes[0].ch2 = QStringLiteral("85");
    cold.nodes[1].ch1 = QStringLiteral("sine:-18,1,25");
    cold.nodes[1].ch2 = QStringLiteral("60");
    if (!sim.start({rooms, cold})) {
        std::fprintf(stderr, "simulator: %s\n", qPrintable(sim.errorString()));
        return 1;
    }

    const QString project = work.filePath(QStringLiteral("Warehouse.tpc"));
    QuillmarMain window(messageBox);
    window.startScreen()->setFileDialogs(
        [project](QWidget*, const QString&, const QString&, const QString&) { return project; },
        {});
    window.move(0, 0);
    window.show();
    wait(800);
    shot(out, QStringLiteral("1-start-screen"), &window);

    window.startScreen()->findChild<QCommandLinkButton*>(QStringLiteral("btn_create"))->click();
    ProjectManager* editor = window.editor();
    TreeModel* model = editor->model();
    auto* addTop = editor->findChild<QPushButton*>(QStringLiteral("pushButton_add_top"));
    auto* addChild = editor->findChild<QPushButton*>(QStringLiteral("pushButton_add_child"));
    auto* tree = editor->findChild<QTreeView*>(QStringLiteral("treeView"));
    addTop->click();
    addTop->click();
    model->setData(model->index(0, 0), QStringLiteral("127.0.0.1:%1").arg(sim.port(0)));
    model->setData(model->index(0, 1), QStringLiteral("TQ100"));
    model->setData(model->index(1, 0), QStringLiteral("127.0.0.1:%1").arg(sim.port(1)));
    for (int gateway : {0, 0, 0, 1, 1}) {
        tree->selectionModel()->setCurrentIndex(model->index(gateway, 0),
                                                QItemSelectionModel::ClearAndSelect);
        addChild->click();
    }
    const QStringList names = {QStringLiteral("Office"), QStringLiteral("Lab"),
                               QStringLiteral("Server room")};
    for (int i = 0; i < 3; ++i)
        model->setData(model->index(i, 4, model->index(0, 0)), names[i]);
    model->setData(model->index(0, 4, model->index(1, 0)), QStringLiteral("Fridge"));
    model->setData(model->index(1, 4, model->index(1, 0)), QStringLiteral("Freezer"));
    editor->intervalMenu()->actions().at(0)->trigger();
    tree->selectionModel()->setCurrentIndex(model->index(1, 4, model->index(0, 0)),
                                            QItemSelectionModel::ClearAndSelect);
    shot(out, QStringLiteral("2-editor"), &window);

    editor->findChild<QToolButton*>(QStringLiteral("btn_confirm"))->click();
    const auto gateways = window.gateways();
    gateways[0]->nodes()[2]->setAlarmRanges(15, 30, 10, 90);
    gateways[1]->nodes()[1]->setAlarmRanges(-25, -15, 10, 90);
    window.slotStartRecord();
    wait(8000);
    shot(out, QStringLiteral("3-project-centre"), &window);

    window.slotCommandProject();
    wait(500);
    shot(out, QStringLiteral("4-menu-project"), &window, true);
    window.findChild<QMenu*>(QStringLiteral("menuProject"))->close();
    window.slotCommandRecord();
    auto* record = window.findChild<QMenu*>(QStringLiteral("menuRecord"));
    wait(300);
    auto* report = window.findChild<QMenu*>(QStringLiteral("menuReport"));
    record->setActiveAction(report->menuAction());
    report->popup(record->geometry().topRight() +
                  QPoint(0, record->actionGeometry(report->menuAction()).top()));
    wait(500);
    shot(out, QStringLiteral("5-menu-record"), &window, true);
    report->close();
    record->close();

    auto* list = window.projectCenter()->projectList()->findChild<QListWidget*>(QStringLiteral("list_project"));
    if (list && list->count() > 0) {
        list->setCurrentRow(0);
        emit list->itemClicked(list->item(0));
        wait(6000);
        shot(out, QStringLiteral("6-chart-panel"), &window);

        // The node's alarm rules beside its ranges.
        NodeDevice* office = gateways[0]->nodes()[0];
        NodeAlarmRules rules = office->configuration().alarmRules;
        rules.channel[0].delayMinutes = 5;
        rules.channel[0].deadband = 0.5;
        rules.noDataMinutes = 10;
        office->setAlarmRules(rules);
        window.projectCenter()->slotPopupSensingOption();
        if (auto* options = window.projectCenter()->findChild<SensingOptionDialog*>()) {
            shot(out, QStringLiteral("7-node-options"), options);
            options->reject();
            options->deleteLater();
        }
    }

    // An active alarm (the server room, beyond 30 all along), alarms of the lab that cleared
    // (its ramp passes 24 every 16 seconds), one of them acknowledged.
    gateways[0]->nodes()[1]->setAlarmRanges(15, 24, 10, 90);
    window.slotUpdateProjectFile();
    QList<qint64> cleared;
    const QString lab = gateways[0]->nodes()[1]->deviceNumber();
    QObject::connect(window.projectAlarms()->monitor(), &AlarmMonitor::alarmEnded,
                     [&cleared, lab](const AlarmEventRecord& r) {
                         if (r.serial == lab)
                             cleared << r.id;
                     });
    QElapsedTimer waited;
    waited.start();
    while (cleared.size() < 2 && waited.elapsed() < 60000)
        wait(200);
    if (!cleared.isEmpty())
        window.projectAlarms()->monitor()->acknowledge(cleared.first(), QStringLiteral("Kim"),
                                                       QStringLiteral("Door closed, fan checked"));
    wait(500);
    shot(out, QStringLiteral("8-status-alarms"), &window);
    window.slotShowAlarms();
    if (AlarmScreen* alarms = window.alarmScreen()) {
        alarms->move(60, 40);
        alarms->resize(1150, 640);
        wait(1500);
        shot(out, QStringLiteral("9-alarms"), alarms);
        auto* active = alarms->findChild<QTableView*>(QStringLiteral("tableView_active"));
        active->selectRow(0);
        alarms->acknowledgeSelected();
        if (QWidget* dialog = alarms->acknowledgeDialog()) {
            dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_name"))
                ->setText(QStringLiteral("Kim"));
            dialog->findChild<QComboBox*>(QStringLiteral("comboBox_cause"))
                ->setCurrentText(QStringLiteral("door left open"));
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit_action"))
                ->setPlainText(QStringLiteral("Door shut, air conditioning reset."));
            dialog->findChild<QComboBox*>(QStringLiteral("comboBox_product"))
                ->setCurrentText(QStringLiteral("quarantined"));
            dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_quantity"))
                ->setText(QStringLiteral("12 boxes"));
            dialog->findChild<QLineEdit*>(QStringLiteral("lineEdit_decidedBy"))
                ->setText(QStringLiteral("Olga Berg"));
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("plainTextEdit_comment"))
                ->setPlainText(QStringLiteral("Server room door shut, air conditioning reset."));
            shot(out, QStringLiteral("10-acknowledge"), dialog);
            dialog->close();
        }
        alarms->close();
    }
    window.slotStopRecord();
    window.slotCloseProject();
    return 0;
}
