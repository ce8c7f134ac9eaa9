#pragma once
// Layout helpers every window uses: its size bounded by the screen and the
// look of a one-column tree.
#include <QSize>

class QMenuBar;
class QTreeWidget;
class QWidget;

namespace winutil {

// What the window manager's frame adds around a window (borders and the
// title bar): known only once shown, so taken at its common size.
inline const QSize kWindowFrame(16, 40);

// Gives a window the wanted size, but no more than fits the screen's free
// area with its frame.
void fitToScreen(QWidget *w, const QSize &wanted);

// A menu bar whose items sit close together, for windows with many menus:
// every menu stays in the bar on a screen 1024 pixels wide instead of
// going behind the extension button.
void compactMenuBar(QMenuBar *bar);

// A one-column tree without header, one node selected at a time, not editable.
void setupTree(QTreeWidget *tree);

} // namespace winutil
