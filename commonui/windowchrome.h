#pragma once

#include <QString>

class QFont;
class QMenu;

// Texts and looks the programs' main windows share, so that they stay alike.
namespace WindowChrome {

// The version as the top bars show it: "V" and the release number.
QString versionText();

// A project folder as the windows list it: longer than maxLength characters, its first
// maxLength characters and "...".
QString shortFolder(const QString& folder, int maxLength);

// The project as the status bars show it: the folder cut at 40 characters, "/", the project's
// name and ".tpc".
QString projectLabel(const QString& folder, const QString& projectName);

// The drop-down menus of the top bars: light grey, in the window's font made bold.
void styleMenu(QMenu* menu, const QFont& windowFont);

} // namespace WindowChrome
