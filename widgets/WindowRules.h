#pragma once
// The rules every window of the program follows, for the whole run of the
// application (installed once at start-up, before the first window):
//  - its menu bar wraps into as many rows as its width needs, so that no
//    menu is ever behind the extension button "»";
//  - Tab leaves every multi-line field and Ctrl+Tab too, but in a field
//    where a Tab is data (property kTabIsData) Ctrl+Tab types it; Ctrl+Tab
//    leaves a grid whose Tab walks its cells;
//  - Tab and Shift+Tab enter a group of options on its chosen one;
//  - the menu chosen with Alt and the arrows is drawn as chosen;
//  - it opens within the screen's free area, a dialog wide enough for its
//    caption where the area lets it; a window whose layout is larger than
//    that area shows its parts in a scroll area instead;
//  - Qt's file dialog shows the size, type and date of a file whole;
//  - a text a list cuts (an item of a list, a tree, a grid or an open
//    drop-down list, the choice of a closed drop-down list) shows whole in a
//    tip where the list gives none of its own.

class QComboBox;
class QString;

namespace winutil {

void installWindowRules();
// The width a drop-down list needs to show a text whole, closed or open (Qt
// opens it that wide where the screen lets it).
int comboWidthFor(const QComboBox *combo, const QString &text);
inline constexpr char kTabIsData[] = "tabIsData";

} // namespace winutil
