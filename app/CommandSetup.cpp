#include "app/Commands.h"

#include "forms/AdmForm.h"
#include "forms/MedTypes.h"

// Each work window's owner adds one assignment here when the window exists,
// e.g.  mainCommands().LAdm2 = [](QWidget *parent) { ... };
void installWindowCommands() {
    static bool done = false;
    if (done) return;
    done = true;
    MainCommands &c = mainCommands();
    c.Ladm1 = [](QWidget *parent) { openAdmFormForStructure(parent); };
    c.abcMouseLabel11 = [](QWidget *parent) { openAdmFormForInput(parent); };
    c.LAdm2 = [](QWidget *parent) { openMedTypesEditor(parent); };
    c.Lrek2 = [](QWidget *parent) { openMedTypesList(parent); };
}
