#include "app/Commands.h"

// Each work window's owner adds one assignment here when the window exists,
// e.g.  mainCommands().LAdm2 = [](QWidget *parent) { ... };
void installWindowCommands() {
    static bool done = false;
    if (done) return;
    done = true;
}
