#pragma once
// Layout helpers every window uses: its size bounded by the screen and the
// look of a one-column tree.
class QSize;
class QTreeWidget;
class QWidget;

namespace winutil {

// Gives a window the wanted size, but no more than the screen's free area.
void fitToScreen(QWidget *w, const QSize &wanted);

// A one-column tree without header, one node selected at a time, not editable.
void setupTree(QTreeWidget *tree);

} // namespace winutil
