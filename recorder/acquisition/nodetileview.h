#pragma once

#include <QString>

// What a node pushes into each of its two dashboard tiles.
class NodeTileView
{
public:
    virtual ~NodeTileView() = default;
    virtual void setValue(const QString& text) = 0;
    virtual void onDeviceConnected(const QString& deviceNumber) = 0;
    virtual void onDeviceDisconnected(const QString& deviceNumber) = 0;
};
