// A test drives the numbered menu item of a window still to be rebuilt, and
// reaches one that a rebuilt window of forms/ still declares.
#include "forms/tree/FormList.h"
#include "forms/tree/NumberedTree.h"

void closeBoth(TFormListLike &list, TNumberedTree &tree) {
    list.N9->trigger();
    list.N9Click();
    tree.N8->trigger();
}
