#include "projectlistitem.h"

#include <QIcon>

void ProjectListItem::setConnectionIcon(const QIcon& icon)
{
    // Comes with every data block; an unchanged icon must not repaint the list.
    if (QListWidgetItem::icon().cacheKey() != icon.cacheKey())
        setIcon(icon);
}
