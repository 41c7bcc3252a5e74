#include "projectlistitem.h"

#include <QIcon>

namespace {

// Loaded on first use and kept for the process: every list item shares the two symbols.
const QIcon& connectionIcon(bool connected)
{
    static const QIcon connecting(QStringLiteral(":/img/DeviceConnectingSymbol.png"));
    static const QIcon disconnected(QStringLiteral(":/img/DeviceDisconnectedSymbol.png"));
    return connected ? connecting : disconnected;
}

} // namespace

void ProjectListItem::setConnected(bool connected)
{
    const QIcon& icon = connectionIcon(connected);
    // Comes with every data block; an unchanged icon must not repaint the list.
    if (QListWidgetItem::icon().cacheKey() != icon.cacheKey())
        setIcon(icon);
}
