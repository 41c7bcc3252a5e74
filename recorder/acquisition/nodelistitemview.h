#pragma once

class QIcon;

// The device-list entry of a node: shows whether its gateway answers.
class NodeListItemView
{
public:
    virtual ~NodeListItemView() = default;
    virtual void setConnectionIcon(const QIcon& icon) = 0;
};
