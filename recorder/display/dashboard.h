#pragma once

#include <QList>
#include <QSet>
#include <QString>
#include <QWidget>

#include <memory>

class ConfiguredDevice;
class DashBoardDeviceItem;
class NodeDevice;

namespace Ui {
class DashBoard;
}

// Every node of the open project at once: two tiles per node in a grid of 4 rows by 8 columns,
// filled column pair by column pair from the top. A click on a tile asks for that node's chart
// panel.
class DashBoard : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Rows = 4;
    static constexpr int Columns = 8;

    explicit DashBoard(QWidget* parent = nullptr);
    ~DashBoard() override;

    void setDevices(const QList<ConfiguredDevice*>& gateways);
    void refreshItems();
    void setEmptyCellsVisible(bool visible);
    // The tiles of these nodes (by serial) show "OUT OF SERVICE", the others not.
    void setOutOfService(const QSet<QString>& serials);

    // The cell widget at a row and column (widget_01 is row 0, column 0).
    QWidget* cell(int row, int column) const;
    const QList<DashBoardDeviceItem*>& items() const { return m_items; }

signals:
    void deviceClicked(NodeDevice* node);
    // A tile's context menu asked for it.
    void outOfServiceRequested(NodeDevice* node);
    void backInServiceRequested(NodeDevice* node);

public slots:
    void slotClicked(NodeDevice* node);

private:
    std::unique_ptr<Ui::DashBoard> ui;
    QWidget* m_cells[Rows * Columns] = {};
    QList<DashBoardDeviceItem*> m_items;
};
