#pragma once

#include "datainterval.h"
#include "nodeconfig.h"

#include <QHash>
#include <QList>
#include <QModelIndex>
#include <QWidget>

#include <memory>

class ConfiguredDevice;
class QAction;
class QMenu;
class SelectDelegate;
class TreeModel;

namespace Ui {
class ProjectManager;
}

// Editor of a project's gateways (connections) and the nodes behind them, with the sampling
// interval. Every edit is checked as it is made; confirmation builds fresh gateway objects and
// hands them, with ownership, to the receiver of projectListConfirm.
class ProjectManager : public QWidget
{
    Q_OBJECT

public:
    enum Column {
        AddressColumn = 0,
        ModelColumn = 1,
        StartColumn = 2,
        IdColumn = 3,
        NameColumn = 4,
        Ch1NameColumn = 5,
        Ch2NameColumn = 6,
        SpareColumn = 7,
        ColumnCount = 8
    };
    static constexpr int MaxGateways = 8;
    static constexpr int MaxNodes = 16;
    static constexpr int MaxStartAddress = 106;
    static constexpr int NodeRegisters = 4;
    static constexpr int MaxIdLength = 18;
    static constexpr int MaxPort = 49151;

    explicit ProjectManager(QWidget* parent = nullptr);
    ~ProjectManager() override;

    void loadDeviceList(const QList<ConfiguredDevice*>& gateways);
    void setIntervalDisabled(bool disabled);
    // The sampling interval chosen for the project, in milliseconds.
    int interval() const { return m_interval; }
    void setInterval(int milliseconds);

    // An address with port as a user types it ("192.168.1.2:502"); true when the host is a
    // numeric IPv4 address and the port lies from 0 to 49151.
    static bool parseAddress(const QString& text, QString* host, quint16* port);

    TreeModel* model() const { return treeModel; }
    QMenu* intervalMenu() const { return menuInterval; }

signals:
    void projectListConfirm(QList<ConfiguredDevice*>);

public slots:
    void slotDataChanged(const QModelIndex& index);
    void updateActions();
    void slotProjectAddConnection();
    void slotProjectAddDevice();
    void slotProjectRemoveRow();
    void slotProjectListConfirm();
    void slotCommandInterval();
    void slotIntervalChange();

private:
    void nodeDataChanged(const QModelIndex& index);
    void gatewayDataChanged(const QModelIndex& index);
    void showStartAddressError();
    int totalNodeCount() const;
    void resizeColumns();

    std::unique_ptr<Ui::ProjectManager> ui;
    TreeModel* treeModel = nullptr;
    SelectDelegate* delegate = nullptr;
    QMenu* menuInterval = nullptr;
    QList<QAction*> intervalActions;
    int m_interval = DefaultDataInterval;
    // Settings the tree does not show (units, alarm ranges) of the nodes loaded for editing,
    // by identifier, so that confirming the edit keeps them.
    QHash<QString, NodeConfig> loadedNodes;
};
