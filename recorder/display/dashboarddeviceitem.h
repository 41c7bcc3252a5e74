#pragma once

#include "nodetileview.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <memory>

class NodeDevice;

namespace Ui {
class DashBoardDeviceItem;
}

// One dashboard tile: a node's device and channel name and the channel's current value with
// its unit, on a background that is teal while normal, red in alarm and grey without a value.
// A press on the tile asks for the node's chart panel.
class DashBoardDeviceItem : public QWidget, public NodeTileView
{
    Q_OBJECT

public:
    // channel: 1 for channel 1, 0 for channel 2.
    DashBoardDeviceItem(NodeDevice* node, quint8 channel, QWidget* parent = nullptr);
    ~DashBoardDeviceItem() override;

    // Called by the node.
    void setValue(const QString& text) override;
    void onDeviceConnected(const QString& deviceNumber) override;
    void onDeviceDisconnected(const QString& deviceNumber) override;

    void refreshItem();
    // While out of service the tile says so and stays grey (its value still shows).
    void setOutOfService(bool on);
    bool isOutOfService() const { return m_outOfService; }
    QString stateText() const;
    NodeDevice* node() const;
    quint8 channel() const { return m_channel; }

signals:
    void clicked(NodeDevice* node);
    // The tile's context menu: "Out of service..." and "Back in service".
    void outOfServiceRequested(NodeDevice* node);
    void backInServiceRequested(NodeDevice* node);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void readNames();
    bool alarmFlag() const;
    QString unitText() const;
    void setValueStyle(const QString& style);
    // The value's style for its state: grey out of service, red in alarm, else teal.
    QString valueStyle() const;

    std::unique_ptr<Ui::DashBoardDeviceItem> ui;
    QPointer<NodeDevice> m_node;
    quint8 m_channel = 1;
    qint32 m_unit = 0;
    QString m_customText;
    bool m_outOfService = false;
};
