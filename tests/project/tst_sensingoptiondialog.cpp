#include "calibrationdialog.h"
#include "configureddevice.h"
#include "messagedialog.h"
#include "networksettingdialog.h"
#include "nodedevice.h"
#include "sensingoptiondialog.h"
#include "windowfit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

// The node option dialog: what it reads from the node, the order of its checks, the custom-unit
// entry, bounds only while the gateway answers; and the network dialog.
class TestSensingOptionDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void opensWithNodeSettings();
    void missingNamesReportedInOrder_data();
    void missingNamesReportedInOrder();
    void customUnitEntry();
    void storedCustomLabelIsFifthEntry();
    void boundsOnlyWhileConnected_data();
    void boundsOnlyWhileConnected();
    void closedByFrameChangesNothing();
    void alarmRulesBesideRanges_data();
    void alarmRulesBesideRanges();
    void networkDialogShowsGateway();
    void calibrationEntered_data();
    void calibrationEntered();

private:
    SensingOptionDialog* open();
    template <typename T> T* child(const char* name)
    {
        return dialog->findChild<T*>(QLatin1String(name));
    }
    void clickConfirm();

    std::unique_ptr<QWidget> window;
    std::unique_ptr<QObject> owner;
    ConfiguredDevice* gateway = nullptr;
    NodeDevice* node = nullptr;
    QPointer<SensingOptionDialog> dialog;
};

void TestSensingOptionDialog::init()
{
    window = std::make_unique<QWidget>();
    window->resize(600, 600);
    window->show();
    owner = std::make_unique<QObject>();
    gateway = new ConfiguredDevice(owner.get());
    gateway->setDeviceInfo(QStringLiteral("192.168.1.40"), 1502);
    gateway->connected = true;
    node = new NodeDevice(QStringLiteral("A1B2C3"), gateway);
    node->setNames(QStringLiteral("Fridge"), QStringLiteral("Air"), QStringLiteral("Door"));
    node->setChannelUnits(TemperatureC, Humidity);
    node->setAlarmRanges(2, 8, 30, 70);
    gateway->addNode(node);
}

void TestSensingOptionDialog::cleanup()
{
    delete dialog;
    window.reset();
    owner.reset();
}

SensingOptionDialog* TestSensingOptionDialog::open()
{
    dialog = new SensingOptionDialog(node, window.get());
    dialog->show();
    return dialog;
}

void TestSensingOptionDialog::clickConfirm()
{
    QTest::mouseClick(child<QWidget>("pushButton_confirm"), Qt::LeftButton);
}

// Catches fields filled from the wrong node fields, or units in the wrong list position.
void TestSensingOptionDialog::opensWithNodeSettings()
{
    open();
    QCOMPARE(child<QLabel>("label_serialnumber")->text(), QStringLiteral("A1B2C3"));
    QCOMPARE(child<QLineEdit>("lineEdit_devicename")->text(), QStringLiteral("Fridge"));
    QCOMPARE(child<QLineEdit>("lineEdit_ch1name")->text(), QStringLiteral("Air"));
    QCOMPARE(child<QLineEdit>("lineEdit_ch2name")->text(), QStringLiteral("Door"));
    auto* unit1 = child<QComboBox>("comboBox_unit_ch1");
    QCOMPARE(unit1->count(), 5);
    const QStringList texts = {"Undefined", "Temperature(C)", "Temperature(F)", "Humidity",
                               "Custom"};
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(unit1->itemText(i), texts.at(i));
        QCOMPARE(unit1->itemData(i).toInt(), i);
    }
    QCOMPARE(unit1->currentIndex(), 1);
    QCOMPARE(child<QComboBox>("comboBox_unit_ch2")->currentIndex(), 3);
    QVERIFY(!unit1->isEditable());
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_min_ch1")->value(), 2.0);
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_max_ch2")->value(), 70.0);
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_max_ch2")->minimum(), -10000000.0);
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_max_ch2")->maximum(), 10000000.0);
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_max_ch2")->decimals(), 2);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Quillmar Lite Modbus"));
}

void TestSensingOptionDialog::missingNamesReportedInOrder_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QString>("ch1");
    QTest::addColumn<QString>("ch2");
    QTest::addColumn<QString>("message");
    QTest::newRow("all empty") << ""
                               << ""
                               << ""
                               << "Enter the Device Name.";
    QTest::newRow("device empty") << ""
                                  << "a"
                                  << "b"
                                  << "Enter the Device Name.";
    QTest::newRow("both channels empty") << "d"
                                         << ""
                                         << ""
                                         << "Enter the Channel-1 Name.";
    QTest::newRow("channel 1 empty") << "d"
                                     << ""
                                     << "b"
                                     << "Enter the Channel-1 Name.";
    QTest::newRow("channel 2 empty") << "d"
                                     << "a"
                                     << ""
                                     << "Enter the Channel-2 Name.";
}

// Catches checks in the wrong order, a missing message, or a node changed despite the failure.
void TestSensingOptionDialog::missingNamesReportedInOrder()
{
    QFETCH(QString, device);
    QFETCH(QString, ch1);
    QFETCH(QString, ch2);
    QFETCH(QString, message);
    open();
    QSignalSpy confirmed(dialog.data(), &SensingOptionDialog::sensingConfirm);
    child<QLineEdit>("lineEdit_devicename")->setText(device);
    child<QLineEdit>("lineEdit_ch1name")->setText(ch1);
    child<QLineEdit>("lineEdit_ch2name")->setText(ch2);
    child<QComboBox>("comboBox_unit_ch1")->setCurrentIndex(2);
    clickConfirm();

    const auto messages = dialog->findChildren<MessageDialog*>();
    QCOMPARE(messages.size(), 1);
    QVERIFY(messages.at(0)->isVisible());
    QCOMPARE(messages.at(0)->findChild<QGroupBox*>()->title(), QStringLiteral("INFORMATION"));
    QCOMPARE(messages.at(0)->findChild<QTextBrowser*>()->toPlainText(), message);
    QVERIFY(dialog->isVisible());
    QCOMPARE(confirmed.count(), 0);
    QCOMPARE(node->configuration().deviceName, QStringLiteral("Fridge"));
    QCOMPARE(int(node->configuration().ch1Unit), int(TemperatureC));
}

// Catches a custom entry that cannot be typed, accepts more than 11 characters, or leaves a
// stale custom label after another unit is chosen.
void TestSensingOptionDialog::customUnitEntry()
{
    open();
    QSignalSpy confirmed(dialog.data(), &SensingOptionDialog::sensingConfirm);
    auto* unit1 = child<QComboBox>("comboBox_unit_ch1");
    unit1->setCurrentIndex(4);
    QVERIFY(unit1->isEditable());
    unit1->lineEdit()->selectAll();
    QTest::keyClicks(unit1->lineEdit(), QStringLiteral("microsiemens/cm"));
    QCOMPARE(unit1->currentText(), QStringLiteral("microsiemen"));
    QCOMPARE(unit1->count(), 5);
    clickConfirm();
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(int(node->configuration().ch1Unit), int(Custom));
    QCOMPARE(node->configuration().ch1Custom, QStringLiteral("microsiemen"));
    QCOMPARE(int(node->configuration().ch2Unit), int(Humidity));
    QCOMPARE(node->configuration().ch2Custom, QString());
    QTRY_VERIFY(dialog.isNull()); // deleted once confirmed

    open();
    unit1 = child<QComboBox>("comboBox_unit_ch1");
    QVERIFY(unit1->isEditable());
    QCOMPARE(unit1->currentText(), QStringLiteral("microsiemen"));
    unit1->setCurrentIndex(3);
    QVERIFY(!unit1->isEditable());
    clickConfirm();
    QCOMPARE(int(node->configuration().ch1Unit), int(Humidity));
    QCOMPARE(node->configuration().ch1Custom, QString());
}

// Catches a stored custom label not offered back, so reopening would lose it.
void TestSensingOptionDialog::storedCustomLabelIsFifthEntry()
{
    node->setChannelUnits(Undefined, Custom);
    node->setCustomUnits(QString(), QStringLiteral("bar"));
    open();
    QCOMPARE(child<QComboBox>("comboBox_unit_ch1")->itemText(4), QStringLiteral("Custom"));
    auto* unit2 = child<QComboBox>("comboBox_unit_ch2");
    QCOMPARE(unit2->itemText(4), QStringLiteral("bar"));
    QVERIFY(unit2->isEditable());
    QCOMPARE(unit2->lineEdit()->maxLength(), 11);
    QVERIFY(!child<QComboBox>("comboBox_unit_ch1")->isEditable());
}

void TestSensingOptionDialog::boundsOnlyWhileConnected_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QList<float>>("stored");
    QTest::newRow("connected: inverted bounds kept as typed")
        << true << QList<float>{30.0f, 10.0f, -5.25f, 99.5f};
    QTest::newRow("disconnected: bounds unchanged") << false << QList<float>{2, 8, 30, 70};
}

void TestSensingOptionDialog::alarmRulesBesideRanges_data()
{
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("batteryEditable");
    QTest::addColumn<int>("storedBattery");
    QTest::newRow("TQ100: every rule") << "TQ100" << true << 20;
    QTest::newRow("TQ700: no battery reading, its rule kept") << "TQ700" << false << 30;
}

// Catches rules shown or stored in the wrong field or channel, a switched-on rule that starts
// from nothing instead of its usual value, and a battery rule offered where no battery is read.
void TestSensingOptionDialog::alarmRulesBesideRanges()
{
    QFETCH(QString, model);
    QFETCH(bool, batteryEditable);
    QFETCH(int, storedBattery);
    gateway->setDeviceModel(model);
    NodeAlarmRules stored;
    stored.channel[1].delayMinutes = 60;
    stored.channel[1].deadband = 1.5;
    stored.batteryLow = 30;
    node->setAlarmRules(stored);
    open();
    auto* delay1 = child<QComboBox>("comboBox_delay_ch1");
    auto* delay2 = child<QComboBox>("comboBox_delay_ch2");
    QCOMPARE(delay1->count(), 8);
    QCOMPARE(delay1->currentText(), QStringLiteral("None"));
    QCOMPARE(delay2->currentText(), QStringLiteral("60 min"));
    QCOMPARE(child<QDoubleSpinBox>("doubleSpinBox_deadband_ch2")->value(), 1.5);
    auto* noData = child<QCheckBox>("checkBox_nodata");
    auto* battery = child<QCheckBox>("checkBox_battery");
    QVERIFY(!noData->isChecked());
    QVERIFY(!child<QSpinBox>("spinBox_nodata")->isEnabled());
    QCOMPARE(battery->isEnabled(), batteryEditable);
    QCOMPARE(battery->isChecked(), true);

    delay1->setCurrentIndex(delay1->findText(QStringLiteral("15 min")));
    delay2->setCurrentIndex(delay2->findText(QStringLiteral("None")));
    auto* deadband1 = child<QDoubleSpinBox>("doubleSpinBox_deadband_ch1");
    deadband1->selectAll();
    QTest::keyClicks(deadband1, QStringLiteral("0.5"));
    QTest::mouseClick(noData, Qt::LeftButton, {}, QPoint(5, noData->height() / 2));
    QVERIFY(child<QSpinBox>("spinBox_nodata")->isEnabled());
    QCOMPARE(child<QSpinBox>("spinBox_nodata")->value(), 5);
    if (batteryEditable) {
        QTest::mouseClick(battery, Qt::LeftButton, {}, QPoint(5, battery->height() / 2));
        QTest::mouseClick(battery, Qt::LeftButton, {}, QPoint(5, battery->height() / 2));
        QCOMPARE(child<QSpinBox>("spinBox_battery")->value(), 30);
        auto* level = child<QSpinBox>("spinBox_battery");
        level->selectAll();
        QTest::keyClicks(level, QStringLiteral("20"));
    }
    clickConfirm();
    const NodeAlarmRules rules = node->configuration().alarmRules;
    QCOMPARE(rules.channel[0].delayMinutes, 15);
    QCOMPARE(rules.channel[0].deadband, 0.5);
    QCOMPARE(rules.channel[1].delayMinutes, 0);
    QCOMPARE(rules.channel[1].deadband, 1.5);
    QCOMPARE(rules.noDataMinutes, 5);
    QCOMPARE(rules.batteryLow, storedBattery);
}

// Catches bounds editable without a live gateway, or bounds reordered on the way into the node.
void TestSensingOptionDialog::boundsOnlyWhileConnected()
{
    QFETCH(bool, connected);
    QFETCH(QList<float>, stored);
    gateway->connected = connected;
    open();
    const char* names[] = {"doubleSpinBox_min_ch1", "doubleSpinBox_max_ch1",
                           "doubleSpinBox_min_ch2", "doubleSpinBox_max_ch2"};
    const QStringList typed = {"30", "10", "-5.25", "99.5"};
    for (int i = 0; i < 4; ++i) {
        auto* box = child<QDoubleSpinBox>(names[i]);
        QCOMPARE(box->isEnabled(), connected);
        box->selectAll();
        QTest::keyClicks(box, typed.at(i));
    }
    clickConfirm();
    QCOMPARE(node->alarmRanges(), stored);
}

// Catches a dialog closed by its frame that still writes into the node.
void TestSensingOptionDialog::closedByFrameChangesNothing()
{
    open();
    QSignalSpy confirmed(dialog.data(), &SensingOptionDialog::sensingConfirm);
    child<QLineEdit>("lineEdit_devicename")->setText(QStringLiteral("Other"));
    dialog->close();
    QCOMPARE(dialog->result(), int(QDialog::Rejected));
    QCOMPARE(confirmed.count(), 0);
    QCOMPARE(node->configuration().deviceName, QStringLiteral("Fridge"));
}

// Catches the wrong gateway shown, a network dialog that stays after its button, or an address
// or identifier read as rich text.
void TestSensingOptionDialog::networkDialogShowsGateway()
{
    QPointer<NetworkSettingDialog> network = new NetworkSettingDialog(node, window.get());
    network->show();
    QCOMPARE(network->findChild<QLabel*>(QStringLiteral("label_ipaddr"))->text(),
             QStringLiteral("192.168.1.40"));
    QCOMPARE(network->findChild<QLabel*>(QStringLiteral("label_port"))->text(),
             QStringLiteral("1502"));
    QCOMPARE(network->windowModality(), Qt::ApplicationModal);
    QTest::mouseClick(network->findChild<QWidget*>(QStringLiteral("pushButton_close")),
                      Qt::LeftButton);
    QVERIFY(!network->isVisible());
    QTRY_VERIFY(network.isNull());

    // Texts from the project file are shown as written, even where they look like mark-up.
    gateway->setDeviceInfo(QStringLiteral("<b>10.0.0.1</b>"), 1502);
    NodeConfig markedConfig = node->configuration();
    markedConfig.deviceNumber = QStringLiteral("<i>A1</i>");
    // A node of the gateway's (its child) beside the first, whose registers it shares.
    node = NodeDevice::fromConfig(markedConfig, gateway);
    std::unique_ptr<NetworkSettingDialog> marked(new NetworkSettingDialog(node, window.get()));
    open();
    for (const QLabel* label : {marked->findChild<QLabel*>(QStringLiteral("label_ipaddr")),
                                child<QLabel>("label_serialnumber")})
        QVERIFY(label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text()));
}

void TestSensingOptionDialog::calibrationEntered_data()
{
    QTest::addColumn<QDate>("due");
    QTest::addColumn<QString>("asFound");
    QTest::addColumn<QString>("problem"); // empty: taken
    const QString none;
    QTest::newRow("valid, the error found left empty") << QDate(2027, 3, 2) << none << none;
    QTest::newRow("due before calibration")
        << QDate(2026, 3, 1) << none << "The due date is not after the calibration date.";
    QTest::newRow("error found as text") << QDate(2027, 3, 2) << "about 0.3"
                                         << "An error found or left is not a number.";
}

// Catches: a channel's entry shown for the other, an invalid entry handed on to be signed, a
// valid one lost on the way (a field dropped, the channel or node wrong), a dialog that stays
// open after the entry was taken, or a node dialog that still shows the old entry.
void TestSensingOptionDialog::calibrationEntered()
{
    QFETCH(QDate, due);
    QFETCH(QString, asFound);
    QFETCH(QString, problem);
    QVector<CalibrationRecord> entered;
    CalibrationRecord old;
    old.certificate = QStringLiteral("K-2025-118");
    old.laboratory = QStringLiteral("Kalibrierlabor Nord");
    old.calibrated = QDate(2025, 3, 1);
    old.due = QDate(2026, 3, 1);
    CalibrationAccess access;
    access.current = [&](const QString& serial, int channel) -> std::optional<CalibrationRecord> {
        if (serial != QLatin1String("A1B2C3") || channel != 2)
            return std::nullopt;
        return entered.isEmpty() ? old : entered.last();
    };
    access.enter = [&](const CalibrationRecord& row, const CalibrationAccess::Done& done) {
        entered << row;
        done(true, QString());
    };
    open()->setCalibrationAccess(access);
    QCOMPARE(dialog->calibrationText(1), QStringLiteral("No entry in the register"));
    QCOMPARE(dialog->calibrationText(2),
             QStringLiteral("K-2025-118, Kalibrierlabor Nord\ncalibrated "
                            "2025-03-01, due 2026-03-01"));
    WindowFit::saveShot(dialog, QStringLiteral("node-dialog-calibration"));
    QTest::mouseClick(child<QWidget>("pushButton_calibration_ch2"), Qt::LeftButton);
    QPointer<CalibrationDialog> calibration = dialog->calibrationDialog();
    QVERIFY(calibration);
    const auto field = [&](const char* name) {
        return calibration->findChild<QLineEdit*>(QLatin1String(name));
    };
    QTest::keyClicks(field("lineEdit_certificate"), QStringLiteral("DAkkS 4711/26"));
    QTest::keyClicks(field("lineEdit_laboratory"), QStringLiteral("Kalibrierlabor Nord"));
    calibration->findChild<QDateEdit*>(QStringLiteral("dateEdit_calibrated"))
        ->setDate(QDate(2026, 3, 2));
    calibration->findChild<QDateEdit*>(QStringLiteral("dateEdit_due"))->setDate(due);
    QTest::keyClicks(field("lineEdit_asFound"), asFound);
    QTest::keyClicks(field("lineEdit_asLeft"), QStringLiteral("-0.04"));
    QTest::keyClicks(field("lineEdit_uncertainty"), QStringLiteral("0.1"));
    if (problem.isEmpty())
        WindowFit::saveShot(window.get(), calibration, QStringLiteral("calibration-dialog"));
    QTest::mouseClick(calibration->findChild<QWidget*>(QStringLiteral("pushButton_record")),
                      Qt::LeftButton);
    if (!problem.isEmpty()) {
        QVERIFY(entered.isEmpty());
        QCOMPARE(calibration->problemText(), problem);
        return;
    }
    QCOMPARE(entered.size(), 1);
    const CalibrationRecord& row = entered.first();
    QCOMPARE(row.serial, QStringLiteral("A1B2C3"));
    QCOMPARE(row.column, QStringLiteral("channel2"));
    QCOMPARE(row.certificate, QStringLiteral("DAkkS 4711/26"));
    QCOMPARE(row.calibrated, QDate(2026, 3, 2));
    QCOMPARE(row.due, due);
    QVERIFY(!row.asFound.has_value());
    QCOMPARE(row.asLeft, std::optional<double>(-0.04));
    QCOMPARE(row.uncertainty, 0.1);
    QTRY_VERIFY(calibration.isNull());
    QVERIFY(dialog->calibrationText(2).startsWith(QStringLiteral("DAkkS 4711/26, ")));
}

QTEST_MAIN(TestSensingOptionDialog)
#include "tst_sensingoptiondialog.moc"
