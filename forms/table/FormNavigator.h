#pragma once
// Stepping from one table to the next or previous one of the forms tree while
// the table window is open. The forms tree, which lies above the table
// window, passes itself to the table window it opens; the table window asks
// it.
#include "forms/table/TableWindowParams.h"

#include <QString>
#include <optional>

class FormNavigator {
public:
    virtual ~FormNavigator() = default;
    // Moves the forms tree's selection to the next (forward) or the previous
    // table, passing over form nodes and forms without tables, and returns
    // that table. Returns nothing, changing nothing, when there is no table in
    // that direction.
    virtual std::optional<TableWindowParams> nextTable(bool forward) = 0;
    // Texts of the selected table's form node ("ФОРМА - decipher") and table
    // node ("(1000) - name"), for the table window's two title labels.
    virtual QString currentFormText() const = 0;
    virtual QString currentTableText() const = 0;
};
