#pragma once

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class ConfiguredDevice;
class NodeDevice;
class QListWidgetItem;

namespace Ui {
class ProjectList;
}

// The device list of an open project: one entry per node, headed by the project button that
// brings the dashboard back. Each entry shows the node's name and its gateway's link state.
class ProjectList : public QWidget
{
    Q_OBJECT

public:
    explicit ProjectList(const QString& projectName, QWidget* parent = nullptr);
    ~ProjectList() override;

    void setDevices(const QList<ConfiguredDevice*>& gateways);
    void selectDevice(NodeDevice* node);
    void refreshNames();

    // The entry that shows a node; null for a node not in the list.
    QListWidgetItem* itemOf(NodeDevice* node) const;

signals:
    void dashboardClicked();
    void deviceClicked(NodeDevice* node);

public slots:
    void slotPushDashboard();
    void deviceClicked(QListWidgetItem* item);

private:
    std::unique_ptr<Ui::ProjectList> ui;
    QIcon m_disconnectedIcon;
    // Node to entry, in list order. Guarded: the nodes belong to their gateways and may go first.
    struct Entry
    {
        QPointer<NodeDevice> node;
        QListWidgetItem* item;
    };
    QList<Entry> m_entries;
};
