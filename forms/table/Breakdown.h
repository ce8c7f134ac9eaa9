#pragma once
// Breakdown of a value of the table window by the units that make it up: per
// institution (or included summary report) its own values of the current
// cell, of the current row or of the current column; in network mode, per
// institution the rule's formula of the current cell. The result goes to the
// list window.
#include "engine/StringList.h"
#include "engine/WorkContext.h"
#include "forms/table/TableGrid.h"

#include <QList>
#include <QString>

class QAction;
class TVTable;
class ValueMatrix;

namespace breakdown {

enum class Kind { Cell, Row, Column };   // "Ячейку", "Строку", "Графу"

struct Request {
    Kind kind = Kind::Cell;
    int row = 0;            // current grid row
    int column = 0;         // current grid column
    int gridColumns = 0;
    int gridRows = 0;
    int fixcols = 0;
    int fixrows = 0;
    bool floatValues = false;
    qint64 tableIdent = 0;
    qint64 formId = 0;
    QString tableNumber;
    const ValueMatrix *shown = nullptr;   // the table window's values, for the total line
    WorkContext work;                     // the table window's modes and members
};

struct Result {
    StringList lines;       // unit lines (object: unit id), then the total line
    QString heading;
};

// Reads the request's work context and the open year; the total line
// comes from the values shown. Throws db::Error.
Result Build(const Request &request);

// The place of the breakdown: row titles of the row (unless a column was
// chosen), then " - " and the column titles of the column (unless a row was).
QString PlaceText(const QList<GridTitle> &titles, Kind kind, int row, int column, int fixcols, int fixrows);

} // namespace breakdown

// "Разрезать": the breakdown of the current cell, row or column.
void openBreakdown(TVTable &table, breakdown::Kind kind);
// Connects the breakdown commands of every new table window (once).
void installBreakdownTableExtension();
