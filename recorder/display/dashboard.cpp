#include "dashboard.h"
#include "ui_dashboard.h"

#include "configureddevice.h"
#include "dashboarddeviceitem.h"
#include "nodedevice.h"

#include <QLayout>

DashBoard::DashBoard(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::DashBoard>())
{
    ui->setupUi(this);
    for (int i = 0; i < Rows * Columns; ++i) {
        const QString name = QStringLiteral("widget_%1").arg(i + 1, 2, 10, QLatin1Char('0'));
        m_cells[i] = ui->frame_dashboard->findChild<QWidget*>(name);
        Q_ASSERT(m_cells[i]);
    }
}

DashBoard::~DashBoard()
{
    // The nodes outlive a dashboard that is closed with its project centre: they must not keep
    // pointing at tiles that are about to go.
    for (DashBoardDeviceItem* item : qAsConst(m_items)) {
        if (NodeDevice* node = item->node())
            node->clearDashboardTiles();
    }
}

QWidget* DashBoard::cell(int row, int column) const
{
    if (row < 0 || row >= Rows || column < 0 || column >= Columns)
        return nullptr;
    return m_cells[row * Columns + column];
}

void DashBoard::setDevices(const QList<ConfiguredDevice*>& gateways)
{
    int column = 0;
    int row = 0;
    for (ConfiguredDevice* gateway : gateways) {
        if (!gateway)
            continue;
        for (NodeDevice* node : gateway->nodes()) {
            if (row > Rows - 1) {
                column += 2;
                row = 0;
            }
            auto* first = new DashBoardDeviceItem(node, 1, this);
            auto* second = new DashBoardDeviceItem(node, 0, this);
            connect(first, &DashBoardDeviceItem::clicked, this, &DashBoard::slotClicked);
            connect(second, &DashBoardDeviceItem::clicked, this, &DashBoard::slotClicked);
            for (DashBoardDeviceItem* item : {first, second}) {
                connect(item, &DashBoardDeviceItem::outOfServiceRequested, this,
                        &DashBoard::outOfServiceRequested);
                connect(item, &DashBoardDeviceItem::backInServiceRequested, this,
                        &DashBoard::backInServiceRequested);
            }
            node->setDashboardTiles(first, second);
            m_items << first << second;
            // A seventeenth node starts again at the top left and stacks below the first.
            if (column >= Columns)
                column = 0;
            cell(row, column)->layout()->addWidget(first);
            cell(row, column + 1)->layout()->addWidget(second);
            ++row;
        }
    }
}

void DashBoard::refreshItems()
{
    for (DashBoardDeviceItem* item : qAsConst(m_items))
        item->refreshItem();
}

void DashBoard::setEmptyCellsVisible(bool visible)
{
    for (QWidget* c : m_cells) {
        bool holdsTile = false;
        for (QObject* child : c->children()) {
            if (child->objectName() == QLatin1String("DashBoardDeviceItem")) {
                holdsTile = true;
                break;
            }
        }
        if (!holdsTile)
            c->setVisible(visible);
    }
}

void DashBoard::slotClicked(NodeDevice* node)
{
    emit deviceClicked(node);
}

void DashBoard::setOutOfService(const QSet<QString>& serials)
{
    for (DashBoardDeviceItem* item : qAsConst(m_items)) {
        if (item->node())
            item->setOutOfService(serials.contains(item->node()->deviceNumber()));
    }
}
