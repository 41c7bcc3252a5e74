#include "windowchrome.h"

#include "programversion.h"

#include <QFont>
#include <QMenu>

namespace WindowChrome {

namespace {

constexpr int StatusFolderLength = 40;

} // namespace

QString versionText()
{
    return QStringLiteral("V") + programVersion();
}

QString shortFolder(const QString& folder, int maxLength)
{
    return folder.size() > maxLength ? folder.left(maxLength) + QStringLiteral("...") : folder;
}

QString projectLabel(const QString& folder, const QString& projectName)
{
    return shortFolder(folder, StatusFolderLength) + QLatin1Char('/') + projectName +
           QStringLiteral(".tpc");
}

void styleMenu(QMenu* menu, const QFont& windowFont)
{
    QFont bold = windowFont;
    bold.setBold(true);
    menu->setStyleSheet(QStringLiteral("background-color: rgb(203, 203, 203);"));
    menu->setFont(bold);
}

} // namespace WindowChrome
