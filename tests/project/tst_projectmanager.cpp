#include "configureddevice.h"
#include "nodedevice.h"
#include "projectmanager.h"
#include "selectdelegate.h"
#include "shownmessages.h"
#include "treemodel.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>

using Starts = QVector<int>;

namespace {

QPushButton* button(ProjectManager* editor, const char* name)
{
    return editor->findChild<QPushButton*>(QLatin1String(name));
}

QTreeView* tree(ProjectManager* editor)
{
    return editor->findChild<QTreeView*>(QStringLiteral("treeView"));
}

void selectRow(ProjectManager* editor, const QModelIndex& index)
{
    tree(editor)->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

// A gateway added through its button, with `nodes` nodes added through theirs.
QModelIndex addGateway(ProjectManager* editor, int nodes)
{
    QTest::mouseClick(button(editor, "pushButton_add_top"), Qt::LeftButton);
    TreeModel* model = editor->model();
    const QModelIndex gateway = model->index(model->rowCount() - 1, 0);
    for (int i = 0; i < nodes; ++i) {
        selectRow(editor, gateway);
        QTest::mouseClick(button(editor, "pushButton_add_child"), Qt::LeftButton);
    }
    return gateway;
}

Starts starts(ProjectManager* editor, const QModelIndex& gateway)
{
    Starts values;
    for (int row = 0; row < editor->model()->rowCount(gateway); ++row)
        values << editor->model()->index(row, ProjectManager::StartColumn, gateway).data().toInt();
    return values;
}

// Answers the next modal question box with `answer` once it is up.
void answerQuestion(QMessageBox::StandardButton answer)
{
    QTimer::singleShot(0, [answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box)
            box->button(answer)->click();
    });
}

} // namespace

class TestProjectManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addressCheck_data();
    void addressCheck();
    void renumbering_data();
    void renumbering();
    void newNodeDefaults();
    void gatewayLimit();
    void nodeLimit_data();
    void nodeLimit();
    void foreignColumnsCleared_data();
    void foreignColumnsCleared();
    void identifierCut();
    void confirmBuildsFreshObjects();
    void confirmWithoutNodes();
    void confirmWithBadAddress();
    void confirmKeepsLoadedSettings();
    void loadRenumbersAndStopsAtLimit();
    void removeAsksFirst();
    void selectedLabels();
    void intervalMenu();
    void delegateEditors();
    void modelEmptyWriteIsSilent();

private:
    ProjectManager* editor = nullptr;
    QWidget* host = nullptr;
};

void TestProjectManager::init()
{
    host = new QWidget;
    editor = new ProjectManager(host);
    host->resize(900, 450);
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host));
}

void TestProjectManager::cleanup()
{
    delete host;
    host = nullptr;
    editor = nullptr;
}

void TestProjectManager::addressCheck_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("plain") << "10.0.0.7:1502" << true;
    QTest::newRow("port 0") << "10.0.0.7:0" << true;
    QTest::newRow("port 49151") << "10.0.0.7:49151" << true;
    QTest::newRow("port 49152") << "10.0.0.7:49152" << false;
    QTest::newRow("port 70000") << "10.0.0.7:70000" << false;
    QTest::newRow("host name") << "gateway.local:502" << false;
    QTest::newRow("no port") << "10.0.0.7" << false;
    QTest::newRow("garbage") << "not an address" << false;
    QTest::newRow("ipv6") << "[::1]:502" << false;
}

// Catches: a gateway address the link cannot use (name, missing or too high port) kept as typed.
void TestProjectManager::addressCheck()
{
    QFETCH(QString, typed);
    QFETCH(bool, accepted);
    const QModelIndex gateway = addGateway(editor, 0);
    shownMessages(editor);
    editor->model()->setData(gateway, typed);
    QCOMPARE(gateway.data().toString(), accepted ? typed : QStringLiteral("192.168.1.2:502"));
    const QStringList expected =
        accepted ? QStringList()
                 : QStringList{QStringLiteral(
                       "ERROR|IP Address & Port Number format is not valid.\nPlease retry.")};
    QCOMPARE(shownMessages(editor), expected);
}

void TestProjectManager::renumbering_data()
{
    QTest::addColumn<int>("nodes");
    QTest::addColumn<int>("firstStart");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Starts>("expected");
    QTest::addColumn<bool>("error");
    QTest::newRow("first moves all") << 3 << 0 << 0 << "20" << Starts{20, 24, 28} << false;
    QTest::newRow("too close to previous") << 3 << 0 << 1 << "2" << Starts{0, 4, 8} << false;
    QTest::newRow("gap kept, later follow") << 3 << 0 << 1 << "40" << Starts{0, 40, 44} << false;
    QTest::newRow("last passes 106") << 3 << 96 << 0 << "100" << Starts{100, 104} << true;
    QTest::newRow("first above 106") << 2 << 0 << 0 << "107" << Starts{0, 4} << true;
    QTest::newRow("later above 106") << 2 << 0 << 1 << "110" << Starts{0} << true;
    QTest::newRow("not a number") << 2 << 8 << 0 << "abc" << Starts{0, 4} << false;
    QTest::newRow("106 allowed") << 1 << 0 << 0 << "106" << Starts{106} << false;
}

// Catches: overlapping register records, or start registers past the gateway's last record.
void TestProjectManager::renumbering()
{
    QFETCH(int, nodes);
    QFETCH(int, firstStart);
    QFETCH(int, row);
    QFETCH(QString, typed);
    QFETCH(Starts, expected);
    QFETCH(bool, error);
    const QModelIndex gateway = addGateway(editor, nodes);
    TreeModel* model = editor->model();
    model->setData(model->index(0, ProjectManager::StartColumn, gateway),
                   QString::number(firstStart));
    shownMessages(editor);
    model->setData(model->index(row, ProjectManager::StartColumn, gateway), typed);
    QCOMPARE(starts(editor, gateway), expected);
    const QStringList messages = shownMessages(editor);
    QCOMPARE(messages.size(), error ? 1 : 0);
    if (error)
        QCOMPARE(messages.first(),
                 QStringLiteral("ERROR|The maximum value of the start address is 106."));
}

// Catches: new nodes overlapping the previous one, or identifiers that do not fit the database.
void TestProjectManager::newNodeDefaults()
{
    const QModelIndex gateway = addGateway(editor, 3);
    TreeModel* model = editor->model();
    QCOMPARE(gateway.data().toString(), QStringLiteral("192.168.1.2:502"));
    QCOMPARE(model->index(0, 1).data().toString(), QStringLiteral("TQ700"));
    QCOMPARE(starts(editor, gateway), (Starts{0, 4, 8}));
    QSet<QString> ids;
    for (int row = 0; row < 3; ++row) {
        auto cell = [&](int column) {
            return model->index(row, column, gateway).data().toString();
        };
        QCOMPARE(cell(3).size(), 18);
        ids.insert(cell(3));
        QCOMPARE(cell(4), QStringLiteral("DEVICE%1").arg(row + 1));
        QCOMPARE(cell(5), QStringLiteral("CH1"));
        QCOMPARE(cell(6), QStringLiteral("CH2"));
        QVERIFY(cell(0).isEmpty());
    }
    QCOMPARE(ids.size(), 3);
    QVERIFY(tree(editor)->isExpanded(gateway));
}

// Catches: a ninth gateway accepted.
void TestProjectManager::gatewayLimit()
{
    QPushButton* addTop = button(editor, "pushButton_add_top");
    for (int i = 0; i < 8; ++i) {
        QVERIFY(addTop->isEnabled());
        QCOMPARE(addTop->text(), QStringLiteral("ADD Connection"));
        QTest::mouseClick(addTop, Qt::LeftButton);
    }
    QCOMPARE(editor->model()->rowCount(), 8);
    QVERIFY(!addTop->isEnabled());
    QVERIFY(addTop->text().isEmpty());
    QVERIFY(addTop->icon().isNull());
    editor->slotProjectAddConnection();
    QCOMPARE(editor->model()->rowCount(), 8);
}

void TestProjectManager::nodeLimit_data()
{
    QTest::addColumn<QVector<int>>("perGateway");
    QTest::newRow("one gateway") << QVector<int>{16};
    QTest::newRow("spread") << QVector<int>{10, 6};
}

// Catches: a seventeenth node accepted, by one gateway or across several.
void TestProjectManager::nodeLimit()
{
    QFETCH(QVector<int>, perGateway);
    QList<QModelIndex> gateways;
    for (int nodes : perGateway)
        gateways << addGateway(editor, nodes);
    const QModelIndex spare = addGateway(editor, 0);
    QPushButton* addChild = button(editor, "pushButton_add_child");
    for (const QModelIndex& gateway : gateways + QList<QModelIndex>{spare}) {
        selectRow(editor, gateway);
        QVERIFY(!addChild->isEnabled());
        QVERIFY(addChild->text().isEmpty());
        editor->slotProjectAddDevice();
    }
    int total = 0;
    for (int row = 0; row < editor->model()->rowCount(); ++row)
        total += editor->model()->rowCount(editor->model()->index(row, 0));
    QCOMPARE(total, 16);
}

void TestProjectManager::foreignColumnsCleared_data()
{
    QTest::addColumn<bool>("nodeRow");
    QTest::addColumn<int>("column");
    for (int column = 2; column <= 7; ++column)
        QTest::addRow("gateway column %d", column) << false << column;
    for (int column : {0, 1, 7})
        QTest::addRow("node column %d", column) << true << column;
}

// Catches: text typed into a cell that has no meaning for the row kind being kept and saved.
void TestProjectManager::foreignColumnsCleared()
{
    QFETCH(bool, nodeRow);
    QFETCH(int, column);
    const QModelIndex gateway = addGateway(editor, 1);
    TreeModel* model = editor->model();
    const QModelIndex cell =
        nodeRow ? model->index(0, column, gateway) : model->index(gateway.row(), column);
    QVERIFY(model->setData(cell, QStringLiteral("typed")));
    QVERIFY(cell.data().toString().isEmpty());
}

// Catches: identifiers longer than the database column (18) kept, typed or loaded.
void TestProjectManager::identifierCut()
{
    auto* device = new ConfiguredDevice;
    device->setDeviceInfo(QStringLiteral("10.1.1.1"), 1502);
    auto* node = new NodeDevice(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), device);
    device->addNode(node);
    editor->loadDeviceList({device});
    delete device;
    TreeModel* model = editor->model();
    const QModelIndex gateway = model->index(0, 0);
    QCOMPARE(model->index(0, 3, gateway).data().toString(), QStringLiteral("ABCDEFGHIJKLMNOPQR"));
    model->setData(model->index(0, 3, gateway), QStringLiteral("0123456789abcdefghijk"));
    QCOMPARE(model->index(0, 3, gateway).data().toString(), QStringLiteral("0123456789abcdefgh"));
}

// Catches: confirmed objects sharing parents with the editor, nodes lost, empty gateways kept.
void TestProjectManager::confirmBuildsFreshObjects()
{
    const QModelIndex first = addGateway(editor, 2);
    addGateway(editor, 0);
    const QModelIndex third = addGateway(editor, 1);
    TreeModel* model = editor->model();
    model->setData(first, QStringLiteral("127.0.0.1:1502"));
    model->setData(model->index(first.row(), 1), QStringLiteral("TQ100"));
    model->setData(third, QStringLiteral("127.0.0.1:1503"));
    model->setData(model->index(1, 4, first), QStringLiteral("Cold room"));
    model->setData(model->index(0, 2, third), QStringLiteral("12"));

    QSignalSpy spy(editor, &ProjectManager::projectListConfirm);
    QTest::mouseClick(editor->findChild<QToolButton*>(QStringLiteral("btn_confirm")),
                      Qt::LeftButton);
    QCOMPARE(spy.count(), 1);
    const auto list = spy.first().first().value<QList<ConfiguredDevice*>>();
    QCOMPARE(list.size(), 2);
    QCOMPARE(list[0]->ipAddress(), QStringLiteral("127.0.0.1"));
    QCOMPARE(list[0]->port(), quint16(1502));
    QCOMPARE(list[0]->deviceModel(), QStringLiteral("TQ100"));
    QCOMPARE(list[0]->nodes().size(), 2);
    QCOMPARE(list[0]->nodes()[1]->startAddress(), 4);
    QCOMPARE(list[0]->nodes()[1]->configuration().deviceName, QStringLiteral("Cold room"));
    QCOMPARE(list[0]->nodes()[1]->configuration().ch1Name, QStringLiteral("CH1"));
    QCOMPARE(list[0]->nodes()[1]->registerCount(), 4);
    QCOMPARE(list[0]->nodes()[1]->deviceNumber(), model->index(1, 3, first).data().toString());
    QCOMPARE(list[1]->port(), quint16(1503));
    QCOMPARE(list[1]->deviceModel(), QStringLiteral("TQ700"));
    QCOMPARE(list[1]->nodes()[0]->startAddress(), 12);
    for (ConfiguredDevice* device : list) {
        QVERIFY(!device->parent());
        for (NodeDevice* node : device->nodes())
            QCOMPARE(node->parent(), device);
    }
    qDeleteAll(list);
    QVERIFY(shownMessages(editor).isEmpty());
}

// Catches: an empty project confirmed, or an empty tree answered with a message.
void TestProjectManager::confirmWithoutNodes()
{
    QSignalSpy spy(editor, &ProjectManager::projectListConfirm);
    editor->slotProjectListConfirm();
    QVERIFY(shownMessages(editor).isEmpty());
    addGateway(editor, 0);
    addGateway(editor, 0);
    editor->slotProjectListConfirm();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(shownMessages(editor),
             QStringList{QStringLiteral(
                 "INFORMATION|You must select at least one device.\nPlease retry.")});
}

// Catches: a list emitted although a gateway has no usable address.
void TestProjectManager::confirmWithBadAddress()
{
    addGateway(editor, 1);
    const QModelIndex second = addGateway(editor, 1);
    // Emptying a cell bypasses the edit check, as a cleared editor does.
    editor->model()->setData(second, QString());
    QSignalSpy spy(editor, &ProjectManager::projectListConfirm);
    editor->slotProjectListConfirm();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(shownMessages(editor),
             QStringList{QStringLiteral(
                 "ERROR|IP Address & Port Number format is not valid.\nPlease retry.")});
}

// Catches: units, alarm ranges and alarm rules of existing nodes lost when the project's devices
// are edited.
void TestProjectManager::confirmKeepsLoadedSettings()
{
    auto* device = new ConfiguredDevice;
    device->setDeviceInfo(QStringLiteral("127.0.0.1"), 1502);
    device->setDeviceModel(QStringLiteral("TQ100"));
    auto* node = new NodeDevice(QStringLiteral("node-a"), device);
    node->setNames(QStringLiteral("Freezer"), QStringLiteral("Temp"), QStringLiteral("Hum"));
    node->setChannelUnits(TemperatureC, Humidity);
    node->setAlarmRanges(-25, -15, 10, 90);
    NodeAlarmRules rules;
    rules.channel[0].delayMinutes = 15;
    rules.noDataMinutes = 5;
    node->setAlarmRules(rules);
    device->addNode(node);
    editor->loadDeviceList({device});
    delete device;

    const QModelIndex gateway = editor->model()->index(0, 0);
    selectRow(editor, gateway);
    editor->slotProjectAddDevice();
    QSignalSpy spy(editor, &ProjectManager::projectListConfirm);
    editor->slotProjectListConfirm();
    QCOMPARE(spy.count(), 1);
    const auto list = spy.first().first().value<QList<ConfiguredDevice*>>();
    QCOMPARE(list.size(), 1);
    const NodeDevice* kept = list[0]->nodes()[0];
    QCOMPARE(kept->configuration().deviceName, QStringLiteral("Freezer"));
    QCOMPARE(int(kept->configuration().ch1Unit), int(TemperatureC));
    QCOMPARE(kept->alarmRanges(), (QList<float>{-25, -15, 10, 90}));
    QCOMPARE(kept->configuration().alarmRules.channel[0].delayMinutes, 15);
    QCOMPARE(kept->configuration().alarmRules.noDataMinutes, 5);
    const NodeDevice* added = list[0]->nodes()[1];
    QVERIFY(added->configuration().alarmRules.isDefault());
    QCOMPARE(added->startAddress(), 4);
    QCOMPARE(added->alarmRanges(), (QList<float>{0, 0, 0, 0}));
    qDeleteAll(list);
}

// Catches: loaded values bypassing the edit rules (overlaps, bad address).
void TestProjectManager::loadRenumbersAndStopsAtLimit()
{
    QList<ConfiguredDevice*> devices;
    for (int g = 0; g < 3; ++g) {
        auto* device = new ConfiguredDevice;
        device->setDeviceInfo(g == 1 ? QStringLiteral("no.such.host") : QStringLiteral("10.0.0.1"),
                              quint16(1500 + g));
        for (int n = 0; n < 8; ++n) {
            auto* node = new NodeDevice(QStringLiteral("g%1n%2").arg(g).arg(n), device);
            node->setStartAddress(g == 0 ? 2 * n : 4 * n);
            device->addNode(node);
        }
        devices << device;
    }
    editor->loadDeviceList(devices);
    qDeleteAll(devices);
    TreeModel* model = editor->model();
    QCOMPARE(model->rowCount(), 2);
    QCOMPARE(starts(editor, model->index(0, 0)), (Starts{0, 4, 8, 12, 16, 20, 24, 28}));
    QCOMPARE(model->index(1, 0).data().toString(), QStringLiteral("192.168.1.2:502"));
    QCOMPARE(shownMessages(editor).size(), 1);
}

// Catches: a gateway or node erased without the user's consent, or kept after a yes.
void TestProjectManager::removeAsksFirst()
{
    const QModelIndex gateway = addGateway(editor, 2);
    addGateway(editor, 0);
    selectRow(editor, editor->model()->index(0, 0));
    answerQuestion(QMessageBox::No);
    QTest::mouseClick(button(editor, "pushButton_del"), Qt::LeftButton);
    QCOMPARE(editor->model()->rowCount(), 2);
    answerQuestion(QMessageBox::Yes);
    QTest::mouseClick(button(editor, "pushButton_del"), Qt::LeftButton);
    QCOMPARE(editor->model()->rowCount(), 1);
    QCOMPARE(editor->model()->rowCount(editor->model()->index(0, 0)), 0);
    Q_UNUSED(gateway)
}

// Catches: the selection summary naming the wrong gateway or node.
void TestProjectManager::selectedLabels()
{
    addGateway(editor, 0);
    const QModelIndex gateway = addGateway(editor, 2);
    editor->model()->setData(gateway, QStringLiteral("10.9.8.7:600"));
    auto* top = editor->findChild<QLabel*>(QStringLiteral("label_selected_top"));
    auto* bottom = editor->findChild<QLabel*>(QStringLiteral("label_selected_bottom"));
    selectRow(editor, editor->model()->index(1, 4, gateway));
    QCOMPARE(top->text(), QStringLiteral("[2] 10.9.8.7:600"));
    QCOMPARE(bottom->text(), QStringLiteral("[2] DEVICE2"));
    QVERIFY(!button(editor, "pushButton_add_child")->isEnabled());
    QVERIFY(button(editor, "pushButton_del")->isEnabled());
    selectRow(editor, gateway);
    QCOMPARE(top->text(), QStringLiteral("[2] 10.9.8.7:600"));
    QVERIFY(bottom->text().isEmpty());
    QVERIFY(button(editor, "pushButton_add_child")->isEnabled());
    // A name from the project file is shown as written, mark-up and all.
    editor->model()->setData(editor->model()->index(0, 4, gateway),
                             QStringLiteral("Tank <b>2</b>"));
    selectRow(editor, editor->model()->index(0, 4, gateway));
    QCOMPARE(bottom->text(), QStringLiteral("[1] Tank <b>2</b>"));
    QVERIFY(bottom->sizeHint().width() >= bottom->fontMetrics().horizontalAdvance(bottom->text()));
}

// Catches: the interval menu changing more than one choice, or not reaching the sampling interval.
void TestProjectManager::intervalMenu()
{
    QMenu* menu = editor->intervalMenu();
    const auto actions = menu->actions();
    QStringList names;
    for (QAction* action : actions)
        names << action->text() + (action->isChecked() ? QStringLiteral("*") : QString());
    QCOMPARE(names, (QStringList{"1 sec", "5 sec", "10 sec*", "1 min", "5 min", "10 min"}));
    auto* label = editor->findChild<QLabel*>(QStringLiteral("label_interval"));
    QCOMPARE(label->text(), QStringLiteral("10 sec"));
    actions[3]->trigger();
    QCOMPARE(editor->interval(), 60000);
    QCOMPARE(label->text(), QStringLiteral("1 min"));
    int checked = 0;
    for (QAction* action : actions)
        checked += action->isChecked() ? 1 : 0;
    QCOMPARE(checked, 1);
    QVERIFY(actions[3]->isChecked());

    auto* intervalButton = editor->findChild<QToolButton*>(QStringLiteral("btn_timeInterval"));
    editor->setIntervalDisabled(true);
    QVERIFY(!intervalButton->isEnabled());
    QVERIFY(!menu->isEnabled());
    editor->setIntervalDisabled(false);
    QVERIFY(intervalButton->isEnabled());
}

// Catches: editors that allow other models, start registers out of range, or an editable id.
void TestProjectManager::delegateEditors()
{
    const QModelIndex gateway = addGateway(editor, 1);
    TreeModel* model = editor->model();
    QTreeView* view = tree(editor);

    const QModelIndex modelCell = model->index(gateway.row(), 1);
    view->edit(modelCell);
    auto* combo = view->findChild<QComboBox*>();
    QVERIFY(combo);
    QCOMPARE(combo->count(), 2);
    QCOMPARE(combo->currentText(), QStringLiteral("TQ700"));
    combo->setCurrentIndex(0);
    emit combo->activated(0);
    QCOMPARE(modelCell.data().toString(), QStringLiteral("TQ100"));
    QTRY_VERIFY(!view->findChild<QComboBox*>());

    SelectDelegate delegate;
    QStyleOptionViewItem option;
    const QModelIndex startCell = model->index(0, 2, gateway);
    std::unique_ptr<QWidget> spinEditor(delegate.createEditor(view->viewport(), option, startCell));
    auto* spin = qobject_cast<QSpinBox*>(spinEditor.get());
    QVERIFY(spin);
    QCOMPARE(spin->minimum(), 0);
    QCOMPARE(spin->maximum(), 106);
    const QModelIndex idCell = model->index(0, 3, gateway);
    std::unique_ptr<QWidget> idEditor(delegate.createEditor(view->viewport(), option, idCell));
    auto* idLabel = qobject_cast<QLabel*>(idEditor.get());
    QVERIFY(idLabel);
    delegate.setEditorData(idLabel, idCell);
    const QString id = idCell.data().toString();
    QCOMPARE(idLabel->text(), id);
    delegate.setModelData(idLabel, model, idCell);
    QCOMPARE(idCell.data().toString(), id);
    idLabel->setText(QStringLiteral("<b>A1</b>"));
    QVERIFY(idLabel->sizeHint().width() >=
            idLabel->fontMetrics().horizontalAdvance(idLabel->text()));
}

// Catches: clearing a cell re-running the checks, or the last column removed leaving rows behind.
void TestProjectManager::modelEmptyWriteIsSilent()
{
    TreeModel model({QStringLiteral("a"), QStringLiteral("b")});
    QVERIFY(model.insertRows(0, 2));
    QVERIFY(model.insertRows(0, 1, model.index(0, 0)));
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.setData(model.index(0, 1), QString()));
    QCOMPARE(changed.count(), 0);
    QVERIFY(model.setData(model.index(0, 1), QStringLiteral("x")));
    QCOMPARE(changed.count(), 1);
    QVERIFY(!model.setData(model.index(0, 1), QStringLiteral("y"), Qt::DisplayRole));
    QVERIFY(!model.index(0, 0, model.index(0, 1)).isValid());
    QCOMPARE(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("b"));
    QCOMPARE(model.index(0, 0, model.index(0, 0)).parent(), model.index(0, 0));
    QVERIFY(model.removeColumns(0, 2));
    QCOMPARE(model.rowCount(), 0);
}

QTEST_MAIN(TestProjectManager)
#include "tst_projectmanager.moc"
