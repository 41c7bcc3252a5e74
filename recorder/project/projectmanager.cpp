#include "projectmanager.h"
#include "ui_projectmanager.h"

#include "configureddevice.h"
#include "datainterval.h"
#include "messagedialog.h"
#include "nodedevice.h"
#include "selectdelegate.h"
#include "treemodel.h"

#include <QAction>
#include <QDebug>
#include <QHostAddress>
#include <QMenu>
#include <QMessageBox>
#include <QUrl>
#include <QUuid>

namespace {

const char* const DefaultAddress = "192.168.1.2:502";

QString addressError()
{
    return QStringLiteral("IP Address & Port Number format is not valid.\nPlease retry.");
}

} // namespace

ProjectManager::ProjectManager(QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ProjectManager>())
{
    qRegisterMetaType<QList<ConfiguredDevice*>>();
    ui->setupUi(this);
    connect(ui->pushButton_add_top, &QPushButton::clicked, this,
            &ProjectManager::slotProjectAddConnection);
    connect(ui->pushButton_add_child, &QPushButton::clicked, this,
            &ProjectManager::slotProjectAddDevice);
    connect(ui->pushButton_del, &QPushButton::clicked, this, &ProjectManager::slotProjectRemoveRow);
    connect(ui->btn_confirm, &QToolButton::clicked, this, &ProjectManager::slotProjectListConfirm);
    connect(ui->btn_timeInterval, &QToolButton::clicked, this,
            &ProjectManager::slotCommandInterval);

    menuInterval = new QMenu(this);
    menuInterval->setStyleSheet(
        QStringLiteral("background-color: rgb(198, 198, 198);color: rgb(55,55,55);"));
    int count = 0;
    const int* intervals = offeredIntervals(&count);
    for (int i = 0; i < count; ++i) {
        auto* action = new QAction(intervalName(intervals[i]), this);
        action->setCheckable(true);
        action->setData(intervals[i]);
        action->setChecked(intervals[i] == m_interval);
        connect(action, &QAction::triggered, this, &ProjectManager::slotIntervalChange);
        menuInterval->addAction(action);
        intervalActions << action;
    }
    ui->label_interval->setText(intervalName(m_interval));

    const QStringList headers = {
        QStringLiteral("   IP Address:PORT   "),   QStringLiteral("   Model   "),
        QStringLiteral("   Start Address(16bit)   "), QStringLiteral("   ID   "),
        QStringLiteral("   Device Name   "),       QStringLiteral("   CH1 Name   "),
        QStringLiteral("   CH2 Name   "),          QString()};
    treeModel = new TreeModel(headers, this);
    delegate = new SelectDelegate(this);
    ui->treeView->setModel(treeModel);
    ui->treeView->setItemDelegate(delegate);
    connect(treeModel, &QAbstractItemModel::dataChanged, this, &ProjectManager::slotDataChanged);
    connect(ui->treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ProjectManager::updateActions);
    updateActions();
}

ProjectManager::~ProjectManager() = default;

bool ProjectManager::parseAddress(const QString& text, QString* host, quint16* port)
{
    const QUrl url = QUrl::fromUserInput(text);
    if (!url.isValid())
        return false;
    // libmodbus reaches gateways over IPv4 only.
    QHostAddress address;
    if (!address.setAddress(url.host()) || address.protocol() != QAbstractSocket::IPv4Protocol)
        return false;
    const int urlPort = url.port();
    if (urlPort < 0 || urlPort > MaxPort)
        return false;
    if (host)
        *host = address.toString();
    if (port)
        *port = static_cast<quint16>(urlPort);
    return true;
}

int ProjectManager::totalNodeCount() const
{
    int nodes = 0;
    for (int row = 0; row < treeModel->rowCount(); ++row)
        nodes += treeModel->rowCount(treeModel->index(row, 0));
    return nodes;
}

void ProjectManager::resizeColumns()
{
    for (int column = 0; column < treeModel->columnCount(); ++column)
        ui->treeView->resizeColumnToContents(column);
}

void ProjectManager::showStartAddressError()
{
    showMessage(this, QStringLiteral("ERROR"),
                QStringLiteral("The maximum value of the start address is ") +
                    QString::number(MaxStartAddress) + QLatin1Char('.'));
}

void ProjectManager::slotDataChanged(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    if (index.parent().isValid())
        nodeDataChanged(index);
    else
        gatewayDataChanged(index);
}

void ProjectManager::nodeDataChanged(const QModelIndex& index)
{
    const int row = index.row();
    const QModelIndex gateway = index.parent();
    qDebug().noquote() << "slotDataChanged child index : " << row << " , " << index.column()
                       << " , " << index.data().toString();
    switch (index.column()) {
    case StartColumn: {
        const int value = index.data().toString().toInt();
        if (row > 0) {
            const int previous = treeModel->index(row - 1, StartColumn, gateway).data().toInt();
            if (value < previous + NodeRegisters) {
                treeModel->setData(index, QString::number(previous + NodeRegisters));
                return;
            }
            if (value > MaxStartAddress) {
                treeModel->removeRows(row, 1, gateway);
                updateActions();
                showStartAddressError();
                return;
            }
        } else if (value > MaxStartAddress) {
            treeModel->setData(index, QStringLiteral("0"));
            showStartAddressError();
            return;
        }
        if (row + 1 < treeModel->rowCount(gateway)) {
            qDebug().noquote() << "nextrow : " << row + 1 << " , start : " << value;
            treeModel->setData(treeModel->index(row + 1, StartColumn, gateway),
                               QString::number(value + NodeRegisters));
        }
        break;
    }
    case IdColumn: {
        const QString id = index.data().toString();
        if (id.size() > MaxIdLength)
            treeModel->setData(index, id.left(MaxIdLength));
        break;
    }
    case AddressColumn:
    case ModelColumn:
    case SpareColumn:
        treeModel->setData(index, QString());
        break;
    default:
        break;
    }
    resizeColumns();
}

void ProjectManager::gatewayDataChanged(const QModelIndex& index)
{
    qDebug().noquote() << "slotDataChanged parent index : " << index.row() << " , "
                       << index.column() << " , " << index.data().toString();
    switch (index.column()) {
    case AddressColumn:
        if (!parseAddress(index.data().toString(), nullptr, nullptr)) {
            treeModel->setData(index, QLatin1String(DefaultAddress));
            showMessage(this, QStringLiteral("ERROR"), addressError());
        }
        break;
    case ModelColumn:
        break;
    default:
        treeModel->setData(index, QString());
        break;
    }
    resizeColumns();
}

void ProjectManager::updateActions()
{
    resizeColumns();
    ui->label_selected_top->clear();
    ui->label_selected_bottom->clear();
    for (QPushButton* button : {ui->pushButton_add_child, ui->pushButton_add_top}) {
        button->setIcon(QIcon());
        button->setText(QString());
        button->setEnabled(false);
    }
    const QIcon lan(QStringLiteral(":/img/icon_lan.png"));
    if (treeModel->rowCount() < MaxGateways) {
        ui->pushButton_add_top->setIcon(lan);
        ui->pushButton_add_top->setText(QStringLiteral("ADD Connection"));
        ui->pushButton_add_top->setEnabled(true);
    }
    ui->pushButton_del->setEnabled(!ui->treeView->selectionModel()->selection().isEmpty());

    const QModelIndex current = ui->treeView->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    ui->treeView->closePersistentEditor(current);
    const QModelIndex parent = current.parent();
    if (parent.isValid()) {
        ui->label_selected_top->setText(QLatin1Char('[') + QString::number(parent.row() + 1) +
                                        QStringLiteral("] ") +
                                        parent.sibling(parent.row(), AddressColumn).data().toString());
        ui->label_selected_bottom->setText(
            QLatin1Char('[') + QString::number(current.row() + 1) + QStringLiteral("] ") +
            current.sibling(current.row(), NameColumn).data().toString());
    } else {
        const QModelIndex gateway = current.sibling(current.row(), AddressColumn);
        ui->label_selected_top->setText(QLatin1Char('[') + QString::number(current.row() + 1) +
                                        QStringLiteral("] ") + gateway.data().toString());
        if (totalNodeCount() < MaxNodes && treeModel->rowCount(gateway) < MaxNodes) {
            ui->pushButton_add_child->setIcon(lan);
            ui->pushButton_add_child->setText(QStringLiteral("ADD Device"));
            ui->pushButton_add_child->setEnabled(true);
        }
    }
}

void ProjectManager::slotProjectAddConnection()
{
    if (treeModel->rowCount() >= MaxGateways)
        return;
    const int row = treeModel->rowCount();
    if (!treeModel->insertRow(row))
        return;
    treeModel->setData(treeModel->index(row, AddressColumn), QLatin1String(DefaultAddress));
    treeModel->setData(treeModel->index(row, ModelColumn), QStringLiteral("TQ700"));
    ui->treeView->selectionModel()->setCurrentIndex(treeModel->index(row, AddressColumn),
                                                    QItemSelectionModel::ClearAndSelect);
    updateActions();
}

void ProjectManager::slotProjectAddDevice()
{
    if (treeModel->rowCount() == 0)
        return;
    QModelIndex current = ui->treeView->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    // A node's row stands for its gateway, so nodes never get children of their own.
    if (current.parent().isValid())
        current = current.parent();
    const QModelIndex gateway = current.sibling(current.row(), AddressColumn);
    const int nodes = treeModel->rowCount(gateway);
    if (totalNodeCount() >= MaxNodes || nodes >= MaxNodes)
        return;
    qDebug().noquote() << "slotProjectAddDevice : row : " << nodes;
    const int start =
        nodes == 0
            ? 0
            : treeModel->index(nodes - 1, StartColumn, gateway).data().toInt() + NodeRegisters;
    if (!treeModel->insertRow(nodes, gateway))
        return;
    const QString id = QString::fromLatin1(
        QUuid::createUuid().toString().toUtf8().toBase64().left(MaxIdLength));
    treeModel->setData(treeModel->index(nodes, StartColumn, gateway), QString::number(start));
    // A start above the last register removes the row again.
    if (nodes < treeModel->rowCount(gateway)) {
        treeModel->setData(treeModel->index(nodes, IdColumn, gateway), id);
        treeModel->setData(treeModel->index(nodes, NameColumn, gateway),
                           QString(QStringLiteral("DEVICE") + QString::number(nodes + 1)));
        treeModel->setData(treeModel->index(nodes, Ch1NameColumn, gateway), QStringLiteral("CH1"));
        treeModel->setData(treeModel->index(nodes, Ch2NameColumn, gateway), QStringLiteral("CH2"));
    }
    ui->treeView->expandAll();
    updateActions();
}

void ProjectManager::slotProjectRemoveRow()
{
    const QModelIndex current = ui->treeView->selectionModel()->currentIndex();
    if (!current.isValid())
        return;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, QStringLiteral("Question"),
        QStringLiteral("Erasing the device may result in loss of data.\n Are you sure?"),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::NoButton);
    if (answer != QMessageBox::Yes)
        return;
    qDebug().noquote() << "slotProjectRemoveRow : row : " << current.row();
    if (treeModel->removeRow(current.row(), current.parent()))
        updateActions();
}

void ProjectManager::slotProjectListConfirm()
{
    if (treeModel->rowCount() == 0)
        return;
    QList<ConfiguredDevice*> result;
    for (int row = 0; row < treeModel->rowCount(); ++row) {
        const QModelIndex gateway = treeModel->index(row, AddressColumn);
        QString host;
        quint16 port = 0;
        if (!parseAddress(gateway.data().toString(), &host, &port)) {
            qDeleteAll(result);
            showMessage(this, QStringLiteral("ERROR"), addressError());
            return;
        }
        const QString model = treeModel->index(row, ModelColumn).data().toString();
        qDebug().noquote() << "slotProjectListConfirm ip : " << host << " port : " << port
                           << " deviceModel : " << model;
        auto* device = new ConfiguredDevice;
        device->setDeviceInfo(host, port);
        device->setDeviceModel(model);
        for (int child = 0; child < treeModel->rowCount(gateway); ++child) {
            auto cell = [&](int column) {
                return treeModel->index(child, column, gateway).data().toString();
            };
            // A node the list had keeps its units, ranges and rules; the rest is the table's.
            NodeConfig config = loadedNodes.value(cell(IdColumn));
            config.deviceNumber = cell(IdColumn);
            config.startAddress = cell(StartColumn).toInt();
            config.deviceName = cell(NameColumn);
            config.ch1Name = cell(Ch1NameColumn);
            config.ch2Name = cell(Ch2NameColumn);
            auto* node = NodeDevice::fromConfig(config, device);
            Q_ASSERT(node->registerCount() == NodeRegisters);
            device->addNode(node);
        }
        if (device->nodes().isEmpty())
            delete device;
        else
            result << device;
    }
    if (result.isEmpty()) {
        showMessage(this, QStringLiteral("INFORMATION"),
                    QStringLiteral("You must select at least one device.\nPlease retry."));
        return;
    }
    emit projectListConfirm(result);
}

void ProjectManager::loadDeviceList(const QList<ConfiguredDevice*>& gateways)
{
    int added = 0;
    for (const ConfiguredDevice* device : gateways) {
        if (!device)
            continue;
        const int row = treeModel->rowCount();
        if (!treeModel->insertRow(row)) {
            showMessage(this, QStringLiteral("ERROR"),
                        QStringLiteral("TreeWidget can't make row.\nPlease retry."));
            return;
        }
        const QModelIndex gateway = treeModel->index(row, AddressColumn);
        treeModel->setData(gateway,
                           QString(device->ipAddress() + QLatin1Char(':') + QString::number(device->port())));
        treeModel->setData(treeModel->index(row, ModelColumn), device->deviceModel());
        for (const NodeDevice* node : device->nodes()) {
            const int child = treeModel->rowCount(gateway);
            if (!treeModel->insertRow(child, gateway)) {
                showMessage(this, QStringLiteral("ERROR"),
                            QStringLiteral("TreeWidget can't make row.\nPlease retry."));
                return;
            }
            const NodeConfig config = node->configuration();
            loadedNodes.insert(config.deviceNumber, config);
            treeModel->setData(treeModel->index(child, StartColumn, gateway),
                               QString::number(config.startAddress));
            ++added;
            // A start register beyond the last one drops the node again.
            if (child >= treeModel->rowCount(gateway))
                continue;
            treeModel->setData(treeModel->index(child, IdColumn, gateway), config.deviceNumber);
            treeModel->setData(treeModel->index(child, NameColumn, gateway), config.deviceName);
            treeModel->setData(treeModel->index(child, Ch1NameColumn, gateway), config.ch1Name);
            treeModel->setData(treeModel->index(child, Ch2NameColumn, gateway), config.ch2Name);
        }
        if (added > MaxNodes - 1)
            break;
    }
    ui->treeView->expandAll();
    updateActions();
}

void ProjectManager::setIntervalDisabled(bool disabled)
{
    ui->btn_timeInterval->setDisabled(disabled);
    menuInterval->setDisabled(disabled);
}

void ProjectManager::slotCommandInterval()
{
    menuInterval->popup(ui->btn_timeInterval->mapToGlobal(QPoint(0, 0)) + QPoint(5, 46));
}

void ProjectManager::slotIntervalChange()
{
    auto* chosen = qobject_cast<QAction*>(sender());
    if (!chosen)
        return;
    setInterval(chosen->data().toInt());
}

void ProjectManager::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    for (QAction* action : qAsConst(intervalActions))
        action->setChecked(action->data().toInt() == milliseconds);
    ui->label_interval->setText(intervalName(milliseconds));
}
