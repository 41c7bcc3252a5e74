#include "treeitem.h"

TreeItem::TreeItem(const QVector<QVariant>& data, TreeItem* parent)
    : itemData(data), parentItem(parent)
{
}

TreeItem::~TreeItem()
{
    qDeleteAll(childItems);
}

TreeItem* TreeItem::child(int number) const
{
    return childItems.value(number, nullptr);
}

int TreeItem::childCount() const
{
    return childItems.count();
}

int TreeItem::childNumber() const
{
    return parentItem ? parentItem->childItems.indexOf(const_cast<TreeItem*>(this)) : 0;
}

int TreeItem::columnCount() const
{
    return itemData.count();
}

QVariant TreeItem::data(int column) const
{
    return itemData.value(column);
}

bool TreeItem::insertChildren(int position, int count, int columns)
{
    if (position < 0 || position > childItems.size() || count < 0 || columns < 0)
        return false;
    for (int row = 0; row < count; ++row)
        childItems.insert(position, new TreeItem(QVector<QVariant>(columns), this));
    return true;
}

bool TreeItem::insertColumns(int position, int columns)
{
    if (position < 0 || position > itemData.size() || columns < 0)
        return false;
    for (int column = 0; column < columns; ++column)
        itemData.insert(position, QVariant());
    for (TreeItem* child : qAsConst(childItems))
        child->insertColumns(position, columns);
    return true;
}

bool TreeItem::removeChildren(int position, int count)
{
    if (position < 0 || count < 0 || position + count > childItems.size())
        return false;
    for (int row = 0; row < count; ++row)
        delete childItems.takeAt(position);
    return true;
}

bool TreeItem::removeColumns(int position, int columns)
{
    if (position < 0 || columns < 0 || position + columns > itemData.size())
        return false;
    for (int column = 0; column < columns; ++column)
        itemData.remove(position);
    for (TreeItem* child : qAsConst(childItems))
        child->removeColumns(position, columns);
    return true;
}

bool TreeItem::setData(int column, const QVariant& value)
{
    if (column < 0 || column >= itemData.size())
        return false;
    itemData[column] = value;
    return true;
}
