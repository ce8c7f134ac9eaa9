// Reaches a numbered label of a main-window stand-in and,
// from the program, the numbered menu item of a window of forms/.
#include "forms/tree/NumberedTree.h"

#include <QLabel>

struct TMainLike : QWidget {
    QLabel *Label7 = nullptr;
};

void showYear(TMainLike &main, TNumberedTree &tree) {
    main.Label7->setText("2024");
    tree.N8->trigger();
}
