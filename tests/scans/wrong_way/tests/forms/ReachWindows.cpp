// A test drives the numbered menu item of a window still to be rebuilt, and
// reaches one that a rebuilt window of forms/ still declares, and a numbered
// handler of the rebuilt territory window.
#include "forms/territory/AdmForm.h"
#include "forms/tree/FormList.h"
#include "forms/tree/NumberedTree.h"

void closeBoth(TFormListLike &list, TNumberedTree &tree, TAdmFormLike &adm) {
    list.N9->trigger();
    list.N9Click();
    tree.N8->trigger();
    adm.N7Click();
}
