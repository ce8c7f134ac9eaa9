#pragma once
// Indicator sets in the main database ("dbmain"): the set tree (table tree),
// the titles of a set's grid (col_titles, row_titles) and its cell formulas
// and identifiers (formulas, identifiers with column -1).
//
// Titles and cell formulas are stored with ":" as byte 3; identifiers are
// stored as typed. An empty title or formula is stored as one blank.
// Every function throws db::Error on a database failure and IndicatorError
// with a Russian message on a refused command.
#include "engine/EngineError.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// A refused command of the indicator windows; the message is ready to show.
class IndicatorError : public EngineError {
public:
    using EngineError::EngineError;
};

namespace indicators {

inline const QString kNewSetName = QStringLiteral("Неопределенный набор показателей");
inline const QString kNewIdentifier = QStringLiteral("Неопределенный идентификатор");
inline const QString kNewRow = QStringLiteral("Новая строка");
inline const QString kNewColumn = QStringLiteral("Новая графа");
constexpr int kStandardWidth = 64;
constexpr int kStandardHeight = 20;

// ---- Set tree -----------------------------------------------------------------
// Inserts a set under parent (0 for a root set); returns its key.
qint64 AddSet(const QString &name, qint64 parent);
// Returns the name as stored (a line break or Tab a blank), for the tree to show.
QString RenameSet(qint64 ident, const QString &name);
// Deletes the set and every set below it, children before parents, each with
// its titles and formulas. Returns the deleted keys in deletion order.
QList<qint64> DeleteSetTree(qint64 ident);
// Children of a set ordered as the tree shows them (by name).
struct SetNode {
    qint64 ident = 0;
    QString name;
};
QList<SetNode> ChildSets(qint64 ident);

// ---- Editing one set (term) ---------------------------------------------------------
// Stores a grid cell's text as the editor's "Ok": corner, row title, column
// title or formula, inserting its record when missing. width and height are
// the current sizes of the cell's column and row. The text must already be
// prepared by PrepareEditText; the grid then shows that text.
void StoreGridCell(qint64 term, int column, int row, const QString &text, int width, int height);
// "Ok" text: empty becomes " ", blanks leave a formula cell's text.
QString PrepareEditText(const QString &text, bool formulaCell);
void StoreIdentifier(qint64 term, int number, const QString &text);
// New title records at the end of the grid.
void AppendRow(qint64 term, int row, int height);
void AppendColumn(qint64 term, int column, int width);
// Insert before / delete the row or column (identifiers keep their numbers);
// each in one transaction. Deleting row 0 or column 0 is refused.
void InsertRowBefore(qint64 term, int row);
void InsertColumnBefore(qint64 term, int column);
void DeleteRow(qint64 term, int row);
void DeleteColumn(qint64 term, int column);
// Returns the new identifier's number (largest + 1, or 0).
int AddIdentifier(qint64 term, const QString &text = kNewIdentifier);
void DeleteIdentifier(qint64 term, int number);
// "Сохранить" of the sizes: widths[c] and heights[r] of the whole grid.
void SaveSizes(qint64 term, const QString &cornerText, const QList<int> &widths, const QList<int> &heights);
void SetStandardSizes(qint64 term);

// Every occurrence replaced, the search restarting from the beginning until
// none is left; a replacement that holds the search text replaces each
// occurrence of the original once (the restart would never end).
QString ReplaceAll(const QString &text, const QString &search, const QString &replacement);
// Scope of the replacement: 0 "т" the set, 1 "г" one column, 2 "с" one row,
// 3 "все" every set's formulas. Returns the number of formulas changed.
int ReplaceInFormulas(qint64 term, const QString &search, const QString &replacement, int scope, int currentColumn,
                      int currentRow, int lastColumn, int lastRow);

// ---- Loading a set ----------------------------------------------------------------
struct SetTable {
    int columnCount = 1;
    int rowCount = 1;
    QList<int> widths;    // per column; missing records keep kStandardWidth
    QList<int> heights;   // per row
    QList<QStringList> cells;   // [column][row], titles and formulas with ":" decoded
    QStringList identifiers;    // in order of their number
    QList<int> identifierNumbers;
    QString cell(int column, int row) const { return cells.value(column).value(row); }
};
// Reads the set as the editor and the view load it. A record beyond the
// grid it defines widens the grid rather than being lost.
SetTable LoadSet(qint64 term);

// ---- Set files (.stt) ---------------------------------------------------------
inline const QString kSetFileFilter = QStringLiteral("Структура статистических данных (*.stt)");
// Children of a set in the order they are written; by default ChildSets.
using ChildrenFn = std::function<QList<SetNode>(qint64)>;
// The lines of a set file for the set and its subtree.
QStringList SetFileLines(qint64 top, const ChildrenFn &children = {});
void SaveSetFile(const QString &path, qint64 top, const ChildrenFn &children = {});
// A set created by reading a file: its key, name and parent key.
struct LoadedSet {
    qint64 ident = 0;
    QString name;
    qint64 parent = 0;
};
// Adds the file's sets below the selected set and the top set's contents to
// the selected set, all in one transaction. A malformed file changes
// nothing and raises IndicatorError naming the line.
QList<LoadedSet> LoadSetFileLines(const QStringList &lines, qint64 selected);
QList<LoadedSet> LoadSetFile(const QString &path, qint64 selected);

// ---- Previous-year check ---------------------------------------------------------------
// Non-empty formulas of a set (cell formulas and identifiers).
QStringList SetFormulas(qint64 term);
// References of the formulas, sorted and without duplicates, letter case ignored.
QStringList ReferenceSet(const QStringList &formulas);
// Compares one reference with the previous year: true when the comparison
// was made; differs tells whether the meanings differ.
using CompareFn = std::function<bool(const QString &reference, bool &differs)>;
// The comparison of the decipher service.
CompareFn PreviousYearComparison();
// References of the set that differ (all, or only the first).
QStringList FindDiscrepancies(const QStringList &references, const CompareFn &compare, bool firstOnly);
struct TreeRow {
    qint64 ident = 0;
    QString name;
    qint64 parent = 0;
};
// Every tree row by ident.
QList<TreeRow> ReadTreeRows();
// Names from the root down to the set, joined by " -> ".
QString BuildTreePath(qint64 ident, const QList<TreeRow> &rows);

} // namespace indicators
