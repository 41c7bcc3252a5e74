#include "acknowledgedialog.h"
#include "alarmeventlistmodel.h"
#include "alarmindicator.h"
#include "alarmscreen.h"
#include "alarmshelves.h"
#include "configureddevice.h"
#include "databasewriter.h"
#include "insertserialdata.h"
#include "messagedialog.h"
#include "nodedevice.h"
#include "projectalarms.h"
#include "projectfile.h"
#include "projectservices.h"
#include "suppressiondialog.h"
#include "tickingwriter.h"
#include "writejob.h"
#include "writeralarmeventstore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QMenu>
#include <QSettings>
#include <QSpinBox>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

// The Alarms screen against a project's real event log: what it lists where, its filters, and
// the acknowledgement with a name and a corrective action; and the status bar's indicator.
class TestAlarmScreen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void activeAboveHistory();
    void acknowledgeWithNameAndAction();
    void shelveAndUnshelve_data();
    void shelveAndUnshelve();
    void acknowledgeFormValidation_data();
    void acknowledgeFormValidation();
    void historyFilters_data();
    void historyFilters();
    void silenceAsked();
    void indicatorTexts_data();
    void indicatorTexts();

private:
    // Three events: node A's channel 1 active; node B's channel 1 cleared unacknowledged; node
    // A's channel 2 cleared and acknowledged by "Lee".
    void makeEvents();
    void sample(int node, const QString& ch1, const QString& ch2, int second);
    AlarmScreen* openScreen();
    QStringList column(QTableView* view, int column) const;
    template <typename T> T* child(QWidget* parent, const char* name) const
    {
        return parent->findChild<T*>(QLatin1String(name));
    }

    std::unique_ptr<QTemporaryDir> dir;
    QList<ConfiguredDevice*> gateways;
    // The log is written through the project's one writer, as the recorder writes it; its timer
    // quicker than the recorder's: what the screen does reaches the file at once.
    std::unique_ptr<TickingWriter> writer;
    std::unique_ptr<WriterAlarmEventStore> store;
    std::unique_ptr<ProjectAlarms> alarms;
    std::unique_ptr<QWidget> window;
    QDateTime now;
};

void TestAlarmScreen::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestAlarmScreen::init()
{
    QSettings(QStringLiteral("QuillmarLite"), QStringLiteral("Quillmar Lite Modbus")).clear();
    dir = std::make_unique<QTemporaryDir>();
    const QString project = dir->filePath(QStringLiteral("rooms.tpc"));
    ProjectFile file(project);
    file.create(10000);
    GatewayConfig gateway;
    gateway.ipAddress = QStringLiteral("127.0.0.1");
    for (const char* serial : {"A", "B"}) {
        NodeConfig n;
        n.deviceNumber = QLatin1String(serial);
        n.deviceName = QStringLiteral("Room ") + QLatin1String(serial);
        n.ch1Name = QStringLiteral("Temperature");
        n.ch2Name = QStringLiteral("Humidity");
        n.ch1Unit = TemperatureC;
        n.ch2Unit = Humidity;
        n.ch1Min = 10;
        n.ch1Max = 30;
        n.ch2Min = 20;
        n.ch2Max = 80;
        n.startAddress = gateway.nodes.size() * 4;
        gateway.nodes << n;
    }
    file.saveDeviceList({gateway});
    QSettings(project, QSettings::IniFormat)
        .setValue(QStringLiteral("CorrectiveCauses"), QStringLiteral("compressor trip"));
    ProjectData data;
    QVERIFY(file.load(&data));
    gateways << ConfiguredDevice::fromConfig(data.gateways.first());
    const QString database = ProjectFile::databasePath(project);
    {
        InsertSerialData table(database, QUuid::createUuid().toString());
        QVERIFY(table.createConnection());
    }
    writer = std::make_unique<TickingWriter>(database, QStringLiteral("screen"));
    QVERIFY(writer->open());
    store = std::make_unique<WriterAlarmEventStore>(writer->writer(), database);
    QVERIFY(store->open());
    now = QDateTime::currentDateTimeUtc().addSecs(-3600);
    alarms = std::make_unique<ProjectAlarms>(project, QStringLiteral("rooms"),
                                             ProjectServices::nodesOf(gateways), store.get());
    connect(store.get(), &WriterAlarmEventStore::written, alarms.get(), &ProjectAlarms::logWritten);
    alarms->setClock([this] { return now; });
    QVERIFY(alarms->open());
    ProjectServices::feedAlarms(gateways, alarms.get());
    window = std::make_unique<QWidget>();
    window->resize(400, 300);
    window->show();
}

void TestAlarmScreen::cleanup()
{
    window.reset();
    alarms.reset();
    store.reset();
    writer.reset();
    qDeleteAll(gateways);
    gateways.clear();
    dir.reset();
}

void TestAlarmScreen::sample(int node, const QString& ch1, const QString& ch2, int second)
{
    const QDateTime base = QDateTime::currentDateTimeUtc().addSecs(-3600);
    now = base.addSecs(second);
    gateways.first()->nodes().at(node)->setData(ch1, ch2, QStringLiteral("-1"),
                                                QStringLiteral("-1"), now, false);
}

void TestAlarmScreen::makeEvents()
{
    sample(1, QStringLiteral("5.00"), QStringLiteral("50.00"), 0);
    sample(1, QStringLiteral("20.00"), QStringLiteral("50.00"), 60);
    sample(0, QStringLiteral("20.00"), QStringLiteral("85.00"), 120);
    const qint64 humid = alarms->monitor()->activeAlarms().first().id;
    QVERIFY(alarms->monitor()->acknowledge(humid, QStringLiteral("Lee"), QStringLiteral("vent")));
    sample(0, QStringLiteral("20.00"), QStringLiteral("50.00"), 180);
    sample(0, QStringLiteral("35.00"), QStringLiteral("50.00"), 240);
    QCOMPARE(alarms->monitor()->activeCount(), 1);
    // In the file before the screen asks.
    QVERIFY(writer->settle());
}

AlarmScreen* TestAlarmScreen::openScreen()
{
    auto* screen = new AlarmScreen(alarms.get(), window.get());
    screen->setAttribute(Qt::WA_DeleteOnClose);
    QSignalSpy shown(screen, &AlarmScreen::historyShown);
    screen->show();
    // Everything, not only the last day: the clock of the events is an hour back.
    child<QComboBox>(screen, "comboBox_period")->setCurrentIndex(3);
    if (!shown.wait(5000))
        qWarning("no history shown");
    return screen;
}

QStringList TestAlarmScreen::column(QTableView* view, int column) const
{
    QStringList out;
    for (int row = 0; row < view->model()->rowCount(); ++row)
        out << view->model()->index(row, column).data().toString();
    return out;
}

// Catches: an active alarm missing on top or listed twice, a cleared alarm nobody acknowledged
// not saying so, or an acknowledgement shown without its name and action.
void TestAlarmScreen::activeAboveHistory()
{
    makeEvents();
    AlarmScreen* screen = openScreen();
    auto* active = child<QTableView>(screen, "tableView_active");
    auto* history = child<QTableView>(screen, "tableView_history");
    QCOMPARE(column(active, AlarmEventListModel::NodeColumn), QStringList{"Room A"});
    QCOMPARE(column(active, AlarmEventListModel::LimitColumn), QStringList{"30.00 °C"});
    QCOMPARE(column(active, AlarmEventListModel::EndColumn), QStringList{"Active"});
    QCOMPARE(column(history, AlarmEventListModel::NodeColumn), (QStringList{"Room A", "Room B"}));
    QCOMPARE(column(history, AlarmEventListModel::ChannelColumn),
             (QStringList{"Humidity", "Temperature"}));
    QCOMPARE(column(history, AlarmEventListModel::AlarmColumn), (QStringList{"High", "Low"}));
    const QStringList acknowledged = column(history, AlarmEventListModel::AcknowledgedColumn);
    QVERIFY2(acknowledged.at(0).startsWith(QLatin1String("Lee, ")), qPrintable(acknowledged.at(0)));
    QCOMPARE(acknowledged.at(1), QStringLiteral("Unacknowledged"));
    QCOMPARE(column(history, AlarmEventListModel::CommentColumn), (QStringList{"vent", ""}));
    QVERIFY(column(history, AlarmEventListModel::EndColumn).at(1).endsWith(" (cleared)"));
}

// Catches: an acknowledgement taken without a name, not recorded with its action, leaving the
// sound on, or a name the user has to type again every time.
void TestAlarmScreen::acknowledgeWithNameAndAction()
{
    AcknowledgeDialog::rememberName(QStringLiteral("Kim"));
    makeEvents();
    AlarmScreen* screen = openScreen();
    auto* button = child<QPushButton>(screen, "pushButton_acknowledge");
    auto* active = child<QTableView>(screen, "tableView_active");
    auto* history = child<QTableView>(screen, "tableView_history");
    QVERIFY(!button->isEnabled());
    history->selectRow(0); // acknowledged already
    QVERIFY(!button->isEnabled());
    active->selectRow(0);
    QVERIFY(!history->selectionModel()->hasSelection());
    QVERIFY(button->isEnabled());
    QVERIFY(alarms->monitor()->soundWanted());

    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<AcknowledgeDialog> dialog = screen->acknowledgeDialog();
    QVERIFY(dialog && dialog->isVisible());
    QVERIFY(!button->isEnabled());
    auto* name = child<QLineEdit>(dialog, "lineEdit_name");
    QCOMPARE(name->text(), QStringLiteral("Kim"));
    QVERIFY(child<QLabel>(dialog, "label_alarm")->text().startsWith("Room A / Temperature : High"));
    name->clear();
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    auto* message = dialog->findChild<MessageDialog*>();
    QVERIFY(message);
    QVERIFY(dialog->isVisible());
    QTest::keyClicks(name, QStringLiteral("Sam"));
    QTest::keyClicks(child<QPlainTextEdit>(dialog, "plainTextEdit_comment"),
                     QStringLiteral("compressor restarted"));
    // The project's own cause is offered; the product must be said.
    auto* cause = child<QComboBox>(dialog, "comboBox_cause");
    QVERIFY(cause->findText(QStringLiteral("compressor trip")) >= 0);
    cause->setCurrentText(QStringLiteral("compressor trip"));
    child<QComboBox>(dialog, "comboBox_product")->setCurrentText(QStringLiteral("quarantined"));
    QTest::keyClicks(child<QLineEdit>(dialog, "lineEdit_quantity"), QStringLiteral("12 boxes"));
    QTest::keyClicks(child<QLineEdit>(dialog, "lineEdit_decidedBy"), QStringLiteral("QA lead"));
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QTRY_VERIFY(!dialog);
    const CorrectiveAction stored = alarms->monitor()->activeAlarms().first().action;
    QCOMPARE(stored, (CorrectiveAction{"compressor trip", "", "quarantined", "12 boxes",
                                       "QA lead"}));

    QVERIFY(!alarms->monitor()->soundWanted());
    QCOMPARE(AcknowledgeDialog::rememberedName(), QStringLiteral("Sam"));
    const QStringList activeAck = column(active, AlarmEventListModel::AcknowledgedColumn);
    QVERIFY2(activeAck.first().startsWith(QLatin1String("Sam, ")), qPrintable(activeAck.first()));
    // The list shows the structured action before the free text.
    QCOMPARE(column(active, AlarmEventListModel::CommentColumn),
             QStringList{"compressor trip; product quarantined (12 boxes); decided by QA lead; "
                         "compressor restarted"});
    QVERIFY(!button->isEnabled());

    // The cleared one nobody acknowledged can still be.
    history->selectRow(1);
    QVERIFY(button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
    dialog = screen->acknowledgeDialog();
    child<QComboBox>(dialog, "comboBox_product")->setCurrentText(QStringLiteral("none"));
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    QTRY_COMPARE(column(history, AlarmEventListModel::AcknowledgedColumn).at(1).left(5),
                 QStringLiteral("Sam, "));
}

void TestAlarmScreen::shelveAndUnshelve_data()
{
    QTest::addColumn<int>("row"); // of the active list, -1: the history's first (Room A humidity)
    QTest::addColumn<int>("duration"); // index of the dialog's durations
    QTest::addColumn<QString>("shelved"); // the line the screen lists
    QTest::addColumn<bool>("silent");     // the sound stops
    QTest::newRow("the sounding alarm's channel for 15 minutes")
        << 0 << 0 << "Room A, Temperature: shelved until" << true;
    QTest::newRow("another channel of the node for 24 hours")
        << -1 << 7 << "Room A, Humidity: shelved until" << false;
}

// Catches: a shelve asked for another channel than the selected event's, or for a duration
// other than the one chosen; a shelved alarm not marked as such, still sounding, or not listed;
// an unshelve that leaves it quiet.
void TestAlarmScreen::shelveAndUnshelve()
{
    QFETCH(int, row);
    QFETCH(int, duration);
    QFETCH(QString, shelved);
    QFETCH(bool, silent);
    makeEvents();
    AlarmShelves shelves(alarms->monitor(), alarms->databasePath(),
                         [this](const WriteJob& job) { writer->writer()->submit(job); });
    AlarmScreen* screen = openScreen();
    QStringList asked;
    screen->setShelving(
        [&](const QString& serial, int channel, int seconds, const QString& reason) {
            asked << QStringLiteral("%1/%2/%3/%4").arg(serial).arg(channel).arg(seconds).arg(
                reason);
            QString problem;
            QVERIFY2(shelves.shelve(serial, channel, seconds, reason, QStringLiteral("sam"),
                                    &problem),
                     qPrintable(problem));
        },
        [&](const AlarmSuppression& s) { QVERIFY(shelves.end(s.id)); });
    auto* shelve = child<QPushButton>(screen, "pushButton_shelve");
    auto* unshelve = child<QPushButton>(screen, "pushButton_unshelve");
    auto* active = child<QTableView>(screen, "tableView_active");
    auto* history = child<QTableView>(screen, "tableView_history");
    QVERIFY(!shelve->isEnabled());
    if (row >= 0)
        active->selectRow(row);
    else
        history->selectRow(0);
    QVERIFY(shelve->isEnabled());
    QVERIFY(!unshelve->isEnabled());
    QTest::mouseClick(shelve, Qt::LeftButton);
    QPointer<SuppressionDialog> dialog = screen->shelveDialog();
    QVERIFY(dialog && dialog->isVisible());
    auto* confirm = child<QPushButton>(dialog, "pushButton_confirm");
    QVERIFY(!confirm->isEnabled()); // no reason yet
    child<QComboBox>(dialog, "comboBox_duration")->setCurrentIndex(duration);
    QTest::keyClicks(child<QLineEdit>(dialog, "lineEdit_reason"), QStringLiteral(" defrost "));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QTRY_VERIFY(!dialog);
    const int seconds = SuppressionDialog::offeredSeconds().at(duration);
    QCOMPARE(asked,
             QStringList{QStringLiteral("A/%1/%2/defrost").arg(row >= 0 ? 1 : 2).arg(seconds)});
    auto* list = child<QLabel>(screen, "label_shelves");
    QVERIFY2(list->text().startsWith(shelved), qPrintable(list->text()));
    QVERIFY(list->text().endsWith(QLatin1String("(defrost, sam)")));
    QCOMPARE(alarms->monitor()->soundWanted(), !silent);
    const QString state = column(active, AlarmEventListModel::StateColumn).first();
    QCOMPARE(state.startsWith(QLatin1String("shelved until ")), silent);
    const QString shots = qEnvironmentVariable("QUILLMAR_GRAB_DIR");
    if (!shots.isEmpty() && silent) {
        screen->resize(1280, 600);
        QVERIFY(screen->grab().save(shots + QStringLiteral("/alarms-shelved.png")));
    }
    if (!silent)
        return;
    // The shelve of the active alarm's channel: it sounds again once unshelved.
    active->selectRow(0);
    QVERIFY(unshelve->isEnabled());
    QTest::mouseClick(unshelve, Qt::LeftButton);
    QVERIFY(alarms->monitor()->soundWanted());
    QTRY_COMPARE(list->text(), QString());
    QCOMPARE(column(active, AlarmEventListModel::StateColumn), QStringList{QString()});
    QVERIFY(!unshelve->isEnabled());
}

void TestAlarmScreen::acknowledgeFormValidation_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("cause");
    QTest::addColumn<QString>("actionTaken");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("quantity");
    QTest::addColumn<QString>("problem"); // empty: confirmed
    QTest::addColumn<QString>("keptQuantity");

    // Catches: an acknowledgement without any word on the product affected.
    QTest::newRow("no product") << "Kim" << "defrost" << "" << "" << ""
                                << "Choose what became of the product affected." << "";
    // Catches: quarantined or discarded product of unknown amount.
    QTest::newRow("quarantined, no quantity")
        << "Kim" << "defrost" << "" << "quarantined" << ""
        << "Enter the quantity of product quarantined." << "";
    QTest::newRow("discarded, blank quantity")
        << "Kim" << "" << "" << "discarded" << "   " << "Enter the quantity of product discarded."
        << "";
    QTest::newRow("discarded with quantity")
        << "Kim" << "power failure" << "" << "discarded" << "40 kg" << "" << "40 kg";
    // Catches: a quantity typed before the choice changed kept for product that was released.
    QTest::newRow("released drops quantity")
        << "Kim" << "" << "" << "checked and released" << "3 boxes" << "" << "";
    // Catches: "other" given without saying what the cause was.
    QTest::newRow("other, undescribed")
        << "Kim" << "other" << "" << "none" << "" << "Describe the cause in the action taken."
        << "";
    QTest::newRow("other, described")
        << "Kim" << "other" << "forklift hit the door" << "none" << "" << "" << "";
    // Catches: the name check lost under the new fields.
    QTest::newRow("no name") << "" << "defrost" << "" << "none" << "" << "Enter your name." << "";
    // Catches: an alarm refused an acknowledgement while its cause is not known yet.
    QTest::newRow("no cause chosen")
        << "Kim" << "" << "" << "none" << "" << "" << "";
}

// The acknowledgement form's checks, through its widgets: what it refuses with a message, and
// what it hands on when confirmed.
void TestAlarmScreen::acknowledgeFormValidation()
{
    QFETCH(QString, name);
    QFETCH(QString, cause);
    QFETCH(QString, actionTaken);
    QFETCH(QString, product);
    QFETCH(QString, quantity);
    QFETCH(QString, problem);
    QFETCH(QString, keptQuantity);
    qRegisterMetaType<CorrectiveAction>();
    QPointer<AcknowledgeDialog> dialog =
        new AcknowledgeDialog(QStringLiteral("Room A"),
                              {QStringLiteral("defrost"), QStringLiteral("power failure"),
                               QStringLiteral("other")},
                              window.get());
    dialog->show();
    QSignalSpy spy(dialog.data(), &AcknowledgeDialog::acknowledged);
    auto* nameEdit = child<QLineEdit>(dialog, "lineEdit_name");
    nameEdit->clear();
    QTest::keyClicks(nameEdit, name);
    auto* causeBox = child<QComboBox>(dialog, "comboBox_cause");
    QCOMPARE(causeBox->currentIndex(), -1);
    if (!cause.isEmpty())
        causeBox->setCurrentIndex(causeBox->findText(cause));
    QTest::keyClicks(child<QPlainTextEdit>(dialog, "plainTextEdit_action"), actionTaken);
    auto* productBox = child<QComboBox>(dialog, "comboBox_product");
    auto* quantityEdit = child<QLineEdit>(dialog, "lineEdit_quantity");
    // The quantity first, while it can be typed, then the product as the row has it.
    productBox->setCurrentText(QStringLiteral("discarded"));
    QTest::keyClicks(quantityEdit, quantity);
    productBox->setCurrentIndex(productBox->findText(product));
    QCOMPARE(quantityEdit->isEnabled(), product == "quarantined" || product == "discarded");
    QTest::mouseClick(child<QPushButton>(dialog, "pushButton_confirm"), Qt::LeftButton);
    if (!problem.isEmpty()) {
        QCOMPARE(dialog->problem(), problem);
        QVERIFY(dialog->findChild<MessageDialog*>());
        QVERIFY(dialog->isVisible());
        QCOMPARE(spy.count(), 0);
        delete dialog;
        return;
    }
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), name);
    const auto action = spy.at(0).at(2).value<CorrectiveAction>();
    QCOMPARE(action.cause, cause);
    QCOMPARE(action.actionTaken, actionTaken);
    QCOMPARE(action.productAffected, product);
    QCOMPARE(action.quantity, keptQuantity);
    QTRY_VERIFY(!dialog);
}

// Catches: "SILENCE" offered with nothing sounding or again while silenced, the minutes chosen
// lost on the way, or the status bar's menu asking for other minutes than it says.
void TestAlarmScreen::silenceAsked()
{
    AlarmScreen* screen = openScreen();
    auto* button = child<QPushButton>(screen, "pushButton_silence");
    QVERIFY(!button->isEnabled());
    makeEvents();
    QTRY_VERIFY(button->isEnabled());
    QSignalSpy asked(screen, &AlarmScreen::silenceRequested);
    child<QSpinBox>(screen, "spinBox_silence")->setValue(20);
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(asked.count(), 1);
    QCOMPARE(asked.at(0).at(0).toInt(), 20);
    screen->setSilencedUntil(QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC));
    QVERIFY(!button->isEnabled());
    QCOMPARE(child<QLabel>(screen, "label_silence")->text(),
             QStringLiteral("Sound silenced until ") +
                 QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::UTC)
                     .toLocalTime()
                     .toString(QStringLiteral("HH:mm:ss")));
    screen->setSilencedUntil(QDateTime());
    QVERIFY(button->isEnabled());
    QVERIFY(child<QLabel>(screen, "label_silence")->text().isEmpty());
    QCOMPARE(child<QSpinBox>(screen, "spinBox_silence")->minimum(), 5);
    QCOMPARE(child<QSpinBox>(screen, "spinBox_silence")->maximum(), 30);

    AlarmIndicator indicator;
    QSignalSpy fromMenu(&indicator, &AlarmIndicator::silenceRequested);
    const QList<QAction*> actions = indicator.silenceMenu()->actions();
    QCOMPARE(actions.size(), 4);
    actions.at(2)->trigger();
    QCOMPARE(fromMenu.count(), 1);
    QCOMPARE(fromMenu.at(0).at(0).toInt(), 15);
    QVERIFY(actions.at(2)->text().contains(QLatin1String("15 minutes")));
}

void TestAlarmScreen::historyFilters_data()
{
    QTest::addColumn<int>("node"); // combo index: 0 all
    QTest::addColumn<int>("kind"); // combo index: 0 all, 1 high, 2 low
    QTest::addColumn<bool>("unacknowledged");
    QTest::addColumn<QStringList>("nodes");
    QTest::newRow("everything") << 0 << 0 << false << QStringList{"Room A", "Room B"};
    QTest::newRow("Room B") << 2 << 0 << false << QStringList{"Room B"};
    QTest::newRow("high") << 0 << 1 << false << QStringList{"Room A"};
    QTest::newRow("unacknowledged only") << 0 << 0 << true << QStringList{"Room B"};
    QTest::newRow("Room A, low: none") << 1 << 2 << false << QStringList{};
}

// Catches: a filter control that does not reach the log's question.
void TestAlarmScreen::historyFilters()
{
    QFETCH(int, node);
    QFETCH(int, kind);
    QFETCH(bool, unacknowledged);
    QFETCH(QStringList, nodes);
    makeEvents();
    AlarmScreen* screen = openScreen();
    QSignalSpy shown(screen, &AlarmScreen::historyShown);
    child<QComboBox>(screen, "comboBox_node")->setCurrentIndex(node);
    child<QComboBox>(screen, "comboBox_kind")->setCurrentIndex(kind);
    child<QCheckBox>(screen, "checkBox_unacknowledged")->setChecked(unacknowledged);
    QVERIFY(shown.wait(5000));
    QCOMPARE(
        column(child<QTableView>(screen, "tableView_history"), AlarmEventListModel::NodeColumn),
        nodes);
}

void TestAlarmScreen::indicatorTexts_data()
{
    QTest::addColumn<int>("active");
    QTest::addColumn<int>("unacknowledged");
    QTest::addColumn<int>("pending");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("bold");
    QTest::newRow("none") << 0 << 0 << 0 << "No alarms" << false;
    QTest::newRow("waiting") << 1 << 2 << 0 << "Alarms: 1 active, 2 unacknowledged" << true;
    QTest::newRow("all acknowledged")
        << 2 << 0 << 0 << "Alarms: 2 active, 0 unacknowledged" << false;
    QTest::newRow("log writes waiting")
        << 0 << 0 << 3 << "No alarms (alarm log: 3 writes waiting)" << true;
}

// Catches: an indicator that hides waiting acknowledgements or alarm-log writes, or shouts when
// nothing waits.
void TestAlarmScreen::indicatorTexts()
{
    QFETCH(int, active);
    QFETCH(int, unacknowledged);
    QFETCH(int, pending);
    QFETCH(QString, text);
    QFETCH(bool, bold);
    AlarmIndicator indicator(window.get());
    indicator.setCounts(active, unacknowledged);
    indicator.setPendingWrites(pending);
    QCOMPARE(indicator.text(), text);
    QCOMPARE(indicator.styleSheet().contains(QLatin1String("bold")), bold);
}

QTEST_MAIN(TestAlarmScreen)
#include "tst_alarmscreen.moc"
