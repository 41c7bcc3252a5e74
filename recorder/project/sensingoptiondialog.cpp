#include "sensingoptiondialog.h"
#include "ui_sensingoptiondialog.h"

#include "calibrationdialog.h"
#include "channelunit.h"
#include "configureddevice.h"
#include "gatewaymodel.h"
#include "messagedialog.h"
#include "nodedevice.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>

SensingOptionDialog::SensingOptionDialog(NodeDevice* node, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SensingOptionDialog>()), m_node(node)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    const NodeConfig config = node ? node->configuration() : NodeConfig();
    if (node)
        m_deviceNumber = config.deviceNumber;

    fillUnits(ui->comboBox_unit_ch1, config.ch1Custom);
    fillUnits(ui->comboBox_unit_ch2, config.ch2Custom);

    if (node) {
        ui->lineEdit_devicename->setText(config.deviceName);
        ui->lineEdit_ch1name->setText(config.ch1Name);
        ui->lineEdit_ch2name->setText(config.ch2Name);
    }
    ui->label_serialnumber->setText(m_deviceNumber);

    const auto* gateway = node ? qobject_cast<ConfiguredDevice*>(node->parent()) : nullptr;
    const bool connected = gateway && gateway->connected;
    for (QDoubleSpinBox* box : {ui->doubleSpinBox_min_ch1, ui->doubleSpinBox_max_ch1,
                                ui->doubleSpinBox_min_ch2, ui->doubleSpinBox_max_ch2})
        box->setEnabled(connected);

    connect(ui->comboBox_unit_ch1, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &SensingOptionDialog::checkCustomUnitPolicy);
    connect(ui->comboBox_unit_ch2, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &SensingOptionDialog::checkCustomUnitPolicy);
    if (node) {
        // Index 0 is already current: select it through a change so the policy runs.
        ui->comboBox_unit_ch1->setCurrentIndex(-1);
        ui->comboBox_unit_ch1->setCurrentIndex(config.ch1Unit);
        ui->comboBox_unit_ch2->setCurrentIndex(-1);
        ui->comboBox_unit_ch2->setCurrentIndex(config.ch2Unit);

        ui->doubleSpinBox_min_ch1->setValue(double(config.ch1Min));
        ui->doubleSpinBox_max_ch1->setValue(double(config.ch1Max));
        ui->doubleSpinBox_min_ch2->setValue(double(config.ch2Min));
        ui->doubleSpinBox_max_ch2->setValue(double(config.ch2Max));
    }
    showAlarmRules();

    // Each channel's calibration: the entry in force and the button that enters a new one.
    QGridLayout* grids[2] = {ui->gridLayout_channel1, ui->gridLayout_channel2};
    for (int c = 0; c < 2; ++c) {
        m_calibrationLabel[c] = new QLabel(this);
        m_calibrationLabel[c]->setObjectName(QStringLiteral("label_calibration_ch%1").arg(c + 1));
        m_calibrationButton[c] = new QPushButton(QStringLiteral("Calibration..."), this);
        m_calibrationButton[c]->setObjectName(
            QStringLiteral("pushButton_calibration_ch%1").arg(c + 1));
        m_calibrationButton[c]->setAutoDefault(false);
        m_calibrationButton[c]->setEnabled(false);
        QFont plain = m_calibrationLabel[c]->font();
        plain.setBold(false);
        // Two smaller lines (the certificate and laboratory, then the dates) in a row's height.
        plain.setPointSizeF(plain.pointSizeF() * 0.8);
        m_calibrationLabel[c]->setFont(plain);
        m_calibrationLabel[c]->setMinimumHeight(2 * QFontMetrics(plain).lineSpacing() + 2);
        // The button where the other rows have their caption, the entry beside it.
        const int at = grids[c]->rowCount();
        grids[c]->addWidget(m_calibrationButton[c], at, 0, Qt::AlignLeft | Qt::AlignVCenter);
        grids[c]->addWidget(m_calibrationLabel[c], at, 1);
        connect(m_calibrationButton[c], &QPushButton::clicked, this,
                [this, c] { enterCalibration(c + 1); });
    }
    // Still within a 1280x720 screen.
    setMinimumHeight(680);
    showCalibrations();

    connect(ui->pushButton_confirm, &QPushButton::clicked, this, &SensingOptionDialog::confirm);
}

SensingOptionDialog::~SensingOptionDialog() = default;

void SensingOptionDialog::setCalibrationAccess(const CalibrationAccess& access)
{
    m_calibrations = access;
    showCalibrations();
}

QString SensingOptionDialog::calibrationText(int channel) const
{
    return channel == 1 || channel == 2 ? m_calibrationLabel[channel - 1]->text() : QString();
}

void SensingOptionDialog::showCalibrations()
{
    for (int c = 0; c < 2; ++c) {
        const bool open = m_calibrations.isSet() && !m_deviceNumber.isEmpty();
        m_calibrationButton[c]->setEnabled(open);
        if (!open) {
            m_calibrationLabel[c]->setText(QStringLiteral("No register open"));
            continue;
        }
        const std::optional<CalibrationRecord> entry =
            m_calibrations.current(m_deviceNumber, c + 1);
        m_calibrationLabel[c]->setText(
            entry ? QStringLiteral("%1, %2\ncalibrated %3, due %4")
                        .arg(entry->certificate, entry->laboratory,
                             CalibrationRecord::dateText(entry->calibrated),
                             CalibrationRecord::dateText(entry->due))
                  : QStringLiteral("No entry in the register"));
    }
}

void SensingOptionDialog::enterCalibration(int channel)
{
    if (!m_calibrations.isSet() || !m_node || m_calibrationDialog)
        return;
    const NodeConfig config = m_node->configuration();
    const QString nodeName = config.deviceName.isEmpty() ? config.deviceNumber : config.deviceName;
    const QString channelName = channel == 1 ? config.ch1Name : config.ch2Name;
    const QString unit = channel == 1 ? channelUnitText(config.ch1Unit, config.ch1Custom)
                                      : channelUnitText(config.ch2Unit, config.ch2Custom);
    m_calibrationDialog = new CalibrationDialog(m_deviceNumber, channel,
                                                QStringLiteral("%1 (serial %2), channel %3 (%4)")
                                                    .arg(nodeName, m_deviceNumber)
                                                    .arg(channel)
                                                    .arg(channelName),
                                                unit, QDate::currentDate(), this);
    m_calibrationDialog->setEnter(m_calibrations.enter);
    connect(m_calibrationDialog, &CalibrationDialog::recorded, this,
            &SensingOptionDialog::showCalibrations);
    m_calibrationDialog->show();
}

void SensingOptionDialog::showAlarmRules()
{
    const NodeAlarmRules rules = m_node ? m_node->configuration().alarmRules : NodeAlarmRules();
    QComboBox* delays[2] = {ui->comboBox_delay_ch1, ui->comboBox_delay_ch2};
    QDoubleSpinBox* deadbands[2] = {ui->doubleSpinBox_deadband_ch1, ui->doubleSpinBox_deadband_ch2};
    for (int c = 0; c < 2; ++c) {
        for (int minutes : NodeAlarmRules::offeredDelays())
            delays[c]->addItem(minutes == 0 ? QStringLiteral("None")
                                            : QString::number(minutes) + QStringLiteral(" min"),
                               minutes);
        delays[c]->setCurrentIndex(std::max(0, delays[c]->findData(rules.channel[c].delayMinutes)));
        deadbands[c]->setValue(rules.channel[c].deadband);
    }

    // Switched on, "no data" starts from the usual 5 minutes and "battery low" from 20 %.
    ui->checkBox_nodata->setChecked(rules.noDataMinutes > 0);
    ui->spinBox_nodata->setValue(rules.noDataMinutes > 0 ? rules.noDataMinutes
                                                         : NodeAlarmRules::DefaultNoDataMinutes);
    ui->spinBox_nodata->setEnabled(ui->checkBox_nodata->isChecked());
    connect(ui->checkBox_nodata, &QCheckBox::toggled, ui->spinBox_nodata, &QWidget::setEnabled);

    const auto* gateway = m_node ? qobject_cast<ConfiguredDevice*>(m_node->parent()) : nullptr;
    const bool reportsBattery = gateway && GatewayModel::reportsLinkInfo(gateway->deviceModel());
    ui->checkBox_battery->setChecked(rules.batteryLow > 0);
    ui->spinBox_battery->setValue(rules.batteryLow > 0 ? rules.batteryLow
                                                       : NodeAlarmRules::DefaultBatteryLow);
    ui->checkBox_battery->setEnabled(reportsBattery);
    ui->spinBox_battery->setEnabled(reportsBattery && ui->checkBox_battery->isChecked());
    connect(ui->checkBox_battery, &QCheckBox::toggled, ui->spinBox_battery, &QWidget::setEnabled);
    if (!reportsBattery)
        ui->checkBox_battery->setToolTip(
            QStringLiteral("The gateway model of this node reports no battery level."));
}

void SensingOptionDialog::readAlarmRules()
{
    NodeAlarmRules rules = m_node->configuration().alarmRules;
    rules.channel[0].delayMinutes = ui->comboBox_delay_ch1->currentData().toInt();
    rules.channel[1].delayMinutes = ui->comboBox_delay_ch2->currentData().toInt();
    rules.channel[0].deadband = ui->doubleSpinBox_deadband_ch1->value();
    rules.channel[1].deadband = ui->doubleSpinBox_deadband_ch2->value();
    rules.noDataMinutes = ui->checkBox_nodata->isChecked() ? ui->spinBox_nodata->value() : 0;
    // A rule the model cannot serve is kept as it was (it may come from another gateway).
    if (ui->checkBox_battery->isEnabled())
        rules.batteryLow = ui->checkBox_battery->isChecked() ? ui->spinBox_battery->value() : 0;
    m_node->setAlarmRules(rules);
}

void SensingOptionDialog::fillUnits(QComboBox* box, const QString& customText)
{
    box->addItem(QStringLiteral("Undefined"), int(Undefined));
    box->addItem(QStringLiteral("Temperature(C)"), int(TemperatureC));
    box->addItem(QStringLiteral("Temperature(F)"), int(TemperatureF));
    box->addItem(QStringLiteral("Humidity"), int(Humidity));
    box->addItem(customText.isEmpty() ? QStringLiteral("Custom") : customText, int(Custom));
}

void SensingOptionDialog::checkCustomUnitPolicy(int index)
{
    auto* box = qobject_cast<QComboBox*>(sender());
    if (!box)
        return;
    const bool custom = index >= 0 && box->itemData(index).toInt() == Custom;
    if (custom == box->isEditable())
        return;
    box->setEditable(custom);
    if (custom) {
        box->lineEdit()->setMaxLength(MaxCustomUnitLength);
        // Typing edits the entry's text and must not add items to the list.
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setEditText(box->itemText(index).left(MaxCustomUnitLength));
    }
}

void SensingOptionDialog::confirm()
{
    const QString deviceName = ui->lineEdit_devicename->text();
    const QString ch1Name = ui->lineEdit_ch1name->text();
    const QString ch2Name = ui->lineEdit_ch2name->text();
    if (deviceName.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"), QStringLiteral("Enter the Device Name."));
        return;
    }
    if (ch1Name.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("Enter the Channel-1 Name."));
        return;
    }
    if (ch2Name.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("Enter the Channel-2 Name."));
        return;
    }
    // The node may have gone with its project while the dialog was open.
    if (!m_node) {
        reject();
        deleteLater();
        return;
    }
    m_node->setNames(deviceName, ch1Name, ch2Name);

    const int code1 = ui->comboBox_unit_ch1->currentData().toInt();
    const int code2 = ui->comboBox_unit_ch2->currentData().toInt();
    m_node->setChannelUnits(code1, code2);
    m_node->setCustomUnits(code1 == Custom ? ui->comboBox_unit_ch1->currentText() : QString(),
                           code2 == Custom ? ui->comboBox_unit_ch2->currentText() : QString());

    m_node->setAlarmRanges(
        float(ui->doubleSpinBox_min_ch1->value()), float(ui->doubleSpinBox_max_ch1->value()),
        float(ui->doubleSpinBox_min_ch2->value()), float(ui->doubleSpinBox_max_ch2->value()));
    readAlarmRules();

    emit sensingConfirm();
    accept();
    deleteLater();
}
