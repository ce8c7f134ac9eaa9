#pragma once
// The one numbering of table cells. A table has NC columns and NR rows, of
// which the first FC columns and FR rows are header cells.
//   structure  (rows, columns, titles):   columns 1..NC, rows 1..NR
//   grid       (table window, data only): column g is structure FC+1+g,
//                                         row g is structure FR+1+g
//   stored     (data, repdata, value matrices, transfer files):
//                                         structure + 1 = grid + F + 2
//   reference  ("гр", "стр", labels):     column = structure column,
//                                         row = data row counted from 1
//   rules      (conditions):              grid numbering, -1 = whole line
#include <QString>

namespace cells {

// Structure <-> stored: one more, for columns and rows alike.
constexpr int storedOfStruct(int structLine) { return structLine + 1; }
constexpr int structOfStored(int storedLine) { return storedLine - 1; }

// Grid -> structure.
constexpr int structColumnOfGrid(int gridColumn, int fixCols) { return fixCols + 1 + gridColumn; }
constexpr int structRowOfGrid(int gridRow, int fixRows) { return fixRows + 1 + gridRow; }

// Grid -> stored.
constexpr int storedColumnOfGrid(int gridColumn, int fixCols) { return gridColumn + fixCols + 2; }
constexpr int storedRowOfGrid(int gridRow, int fixRows) { return gridRow + fixRows + 2; }

// Reference ("гр" m, "стр" n) <-> stored.
constexpr int storedColumnOfRef(int refColumn) { return refColumn + 1; }
constexpr int storedRowOfRef(int refRow, int fixRows) { return refRow + fixRows + 1; }
constexpr int refColumnOfStored(int storedColumn) { return storedColumn - 1; }
constexpr int refRowOfStored(int storedRow, int fixRows) { return storedRow - fixRows - 1; }

// Grid <-> reference, which is also what the user sees ("Графа", "Строка").
constexpr int refColumnOfGrid(int gridColumn, int fixCols) { return gridColumn + fixCols + 1; }
constexpr int refRowOfGrid(int gridRow) { return gridRow + 1; }
constexpr int gridColumnOfRef(int refColumn, int fixCols) { return refColumn - fixCols - 1; }
constexpr int gridRowOfRef(int refRow) { return refRow - 1; }

// Structure -> reference row (the reference column is the structure column).
constexpr int refRowOfStruct(int structRow, int fixRows) { return structRow - fixRows; }

// Title span key: "R1C3" for one cell, "R1C3:R2C5" for a span (structure numbering).
QString titleSpanKey(int startColumn, int startRow, int endColumn, int endRow);
// Parses a span key back; false when the text is no span key.
bool parseTitleSpanKey(const QString &key, int &startColumn, int &startRow, int &endColumn, int &endRow);

// A stored size as the table window shows it: first scaled by 96 / dpi and
// truncated toward zero (40.9 pt at 96 dpi -> 40 -> 53 px), then turned into
// pixels. A negative, absurd or unreadable size gives 0.
int tableWindowPixels(double points, int dpi);

} // namespace cells
