#pragma once

#include "nodelistitemview.h"

#include <QListWidgetItem>

// A device-list entry; its node sets the connection symbol through NodeListItemView.
class ProjectListItem : public QListWidgetItem, public NodeListItemView
{
public:
    using QListWidgetItem::QListWidgetItem;

    void setConnected(bool connected) override;
};
