#include "projectlist.h"
#include "ui_projectlist.h"

#include "configureddevice.h"
#include "nodedevice.h"
#include "projectlistitem.h"

#include <QPointer>

namespace {

QString entryText(const NodeDevice* node)
{
    const NodeConfig config = node->configuration();
    return config.deviceName.isEmpty() ? config.deviceNumber : config.deviceName;
}

} // namespace

ProjectList::ProjectList(const QString& projectName, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::ProjectList>())
{
    ui->setupUi(this);
    m_disconnectedIcon = QIcon(QStringLiteral(":/img/DeviceDisconnectedSymbol.png"));
    ui->button_project->setText(projectName);
    connect(ui->button_project, &QCommandLinkButton::clicked, this,
            &ProjectList::slotPushDashboard);
    connect(ui->list_project, &QListWidget::itemClicked, this,
            qOverload<QListWidgetItem*>(&ProjectList::deviceClicked));
}

ProjectList::~ProjectList()
{
    // The nodes may outlive the list (the list goes with its project centre); they must not keep
    // pointing at entries about to be deleted.
    for (const Entry& entry : qAsConst(m_entries)) {
        if (entry.node)
            entry.node->clearListItem();
    }
}

void ProjectList::setDevices(const QList<ConfiguredDevice*>& gateways)
{
    for (ConfiguredDevice* gateway : gateways) {
        if (!gateway)
            continue;
        for (NodeDevice* node : gateway->nodes()) {
            auto* item = new ProjectListItem(m_disconnectedIcon, entryText(node), ui->list_project);
            item->setToolTip(node->deviceNumber());
            node->setListItem(item);
            m_entries.append({node, item});
        }
    }
}

QListWidgetItem* ProjectList::itemOf(NodeDevice* node) const
{
    for (const Entry& entry : m_entries) {
        if (node && entry.node == node)
            return entry.item;
    }
    return nullptr;
}

void ProjectList::deviceClicked(QListWidgetItem* item)
{
    for (const Entry& entry : qAsConst(m_entries)) {
        if (entry.item == item) {
            emit deviceClicked(entry.node.data());
            return;
        }
    }
    emit deviceClicked(static_cast<NodeDevice*>(nullptr));
}

void ProjectList::slotPushDashboard()
{
    ui->list_project->clearSelection();
    emit dashboardClicked();
}

void ProjectList::selectDevice(NodeDevice* node)
{
    ui->list_project->clearSelection();
    if (QListWidgetItem* item = itemOf(node))
        item->setSelected(true);
}

void ProjectList::refreshNames()
{
    for (const Entry& entry : qAsConst(m_entries)) {
        if (entry.node)
            entry.item->setText(entryText(entry.node));
    }
}
