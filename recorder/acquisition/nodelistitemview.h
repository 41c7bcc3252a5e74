#pragma once

// The device-list entry of a node: shows whether its gateway answers (the list picks the
// symbol).
class NodeListItemView
{
public:
    virtual ~NodeListItemView() = default;
    virtual void setConnected(bool connected) = 0;
};
