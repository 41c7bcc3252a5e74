#include "networksettingdialog.h"
#include "ui_networksettingdialog.h"

#include "configureddevice.h"
#include "nodedevice.h"

NetworkSettingDialog::NetworkSettingDialog(NodeDevice* node, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::NetworkSettingDialog>()), m_node(node)
{
    ui->setupUi(this);
    setWindowModality(Qt::ApplicationModal);
    if (const auto* gateway = node ? qobject_cast<ConfiguredDevice*>(node->parent()) : nullptr) {
        ui->label_ipaddr->setText(gateway->ipAddress());
        ui->label_port->setText(QString::number(gateway->port()));
    }
    connect(ui->pushButton_close, &QPushButton::clicked, this, &NetworkSettingDialog::close);
}

NetworkSettingDialog::~NetworkSettingDialog() = default;

void NetworkSettingDialog::close()
{
    reject();
    deleteLater();
}
