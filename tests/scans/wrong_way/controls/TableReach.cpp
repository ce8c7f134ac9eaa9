// Clears the table window's values by its numbered menu item.
#include "forms/table/TableWindow.h"

void clearFromOutside(TVTable &table) {
    table.N5->trigger();
    table.clearCommand()->setVisible(true);
}
