#pragma once

#include <QSize>
#include <QStringList>

class QWidget;

// Whether a window fits a small screen: what a user works with (buttons, fields, lists, views,
// charts, texts) lies wholly inside the window, unclipped by the widgets that hold it, except
// inside a scroll area, which the user scrolls to it.
namespace WindowFit {

// A 1280x720 screen (laptops, panel PCs) less a desktop panel.
constexpr QSize SmallScreen(1280, 680);

// The smallest size the window can be given: what its layout needs and its minimum size.
QSize smallest(QWidget* window);

// The widgets shown in the window that lie outside it or are cut off or squeezed to nothing,
// by object name (class name where there is none) and where they are.
QStringList outside(QWidget* window);

// Saves what the window shows as NAME.png into the folder QUILLMAR_GRAB_DIR names, if it is set:
// for a person to look at.
void saveShot(QWidget* window, const QString& name);
// The same with `dialog` drawn over the middle of `window`, as a person sees a dialog over it.
void saveShot(QWidget* window, QWidget* dialog, const QString& name);

} // namespace WindowFit
