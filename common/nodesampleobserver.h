#pragma once

#include <QString>

struct NodeConfig;
struct NodeSample;

// What a node tells whoever watches its samples beyond the widgets (the alarm monitor): each
// sample once the node has taken it, with the node's configuration as it stands, and the loss
// of its gateway.
class NodeSampleObserver
{
public:
    virtual ~NodeSampleObserver() = default;
    virtual void nodeSampled(const NodeConfig& node, const NodeSample& sample) = 0;
    virtual void nodeDisconnected(const QString& deviceNumber) = 0;
};
