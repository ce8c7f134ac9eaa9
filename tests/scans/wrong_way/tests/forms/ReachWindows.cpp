// A test drives the numbered menu item and handler of the forms tree, reaches
// one that another window of forms/ still declares, and a numbered handler
// of the territory window.
#include "forms/territory/AdmForm.h"
#include "forms/tree/FormList.h"
#include "forms/tree/NumberedTree.h"

void closeBoth(TFormListLike &list, TNumberedTree &tree, TAdmFormLike &adm) {
    list.N9->trigger();
    list.N9Click();
    tree.N8->trigger();
    adm.N7Click();
}
