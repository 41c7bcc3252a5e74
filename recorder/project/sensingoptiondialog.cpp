#include "sensingoptiondialog.h"
#include "ui_sensingoptiondialog.h"

#include "channelunit.h"
#include "acquisition/configureddevice.h"
#include "messagedialog.h"
#include "nodedevice.h"

#include <QComboBox>
#include <QLineEdit>

SensingOptionDialog::SensingOptionDialog(NodeDevice* node, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::SensingOptionDialog>()), m_node(node)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    if (node)
        m_deviceNumber = node->deviceNumber;

    fillUnits(ui->comboBox_unit_ch1, node ? node->ch1Custom : QString());
    fillUnits(ui->comboBox_unit_ch2, node ? node->ch2Custom : QString());

    if (node) {
        ui->lineEdit_devicename->setText(node->deviceName);
        ui->lineEdit_ch1name->setText(node->ch1Name);
        ui->lineEdit_ch2name->setText(node->ch2Name);
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
        ui->comboBox_unit_ch1->setCurrentIndex(node->ch1Unit);
        ui->comboBox_unit_ch2->setCurrentIndex(-1);
        ui->comboBox_unit_ch2->setCurrentIndex(node->ch2Unit);

        const QList<float> ranges = node->alarmRanges();
        ui->doubleSpinBox_min_ch1->setValue(double(ranges.value(0)));
        ui->doubleSpinBox_max_ch1->setValue(double(ranges.value(1)));
        ui->doubleSpinBox_min_ch2->setValue(double(ranges.value(2)));
        ui->doubleSpinBox_max_ch2->setValue(double(ranges.value(3)));
    }

    connect(ui->pushButton_confirm, &QPushButton::clicked, this, &SensingOptionDialog::confirm);
}

SensingOptionDialog::~SensingOptionDialog() = default;

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
    m_node->ch1Custom = code1 == Custom ? ui->comboBox_unit_ch1->currentText() : QString();
    m_node->ch2Custom = code2 == Custom ? ui->comboBox_unit_ch2->currentText() : QString();

    m_node->setAlarmRanges(
        float(ui->doubleSpinBox_min_ch1->value()), float(ui->doubleSpinBox_max_ch1->value()),
        float(ui->doubleSpinBox_min_ch2->value()), float(ui->doubleSpinBox_max_ch2->value()));

    emit sensingConfirm();
    accept();
    deleteLater();
}
