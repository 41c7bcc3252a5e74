#pragma once

#include <QDateTime>

class NodeDevice;

// What a node tells whoever watches its samples beyond the widgets (the alarm monitor): each
// sample once the node has taken it, and the loss of its gateway.
class NodeSampleObserver
{
public:
    virtual ~NodeSampleObserver() = default;
    virtual void nodeSampled(const NodeDevice& node, const QDateTime& sampleTime, bool refresh) = 0;
    virtual void nodeDisconnected(const NodeDevice& node) = 0;
};
