#pragma once
// Cell colours of the table window: the pale tints of cells that have
// calculation rules (administrator mode) and the tints that say how many
// control rules of each kind touch a cell. Cell keys are "grid row,grid
// column", both from 0 over the data cells.
#include "engine/TableLimits.h"

#include <QColor>
#include <QHash>
#include <QSqlDatabase>
#include <QList>
#include <QString>

class ProgressSink;

// How many rule sides of each kind cover one cell.
class TControlCount {
public:
    qint32 IntraTableCount = 0;
    qint32 InterTableCount = 0;
    qint32 InterFormCount = 0;
    qint64 Total() const { return qint64(IntraTableCount) + InterTableCount + InterFormCount; }
};

// cell key -> counters
using ControlCountList = QHash<QString, TControlCount>;
// cell key -> bits: 1 cell rule, 2 row rule, 4 column rule
using FormulaFlagList = QHash<QString, int>;

QString MakeCellKey(int gridRow, int gridColumn);

// True when one item of the comma list converts to n; items that do not
// convert are passed over.
bool IsNumberInList(const QString &list, int n);

// Colour of a cell for control highlighting; white when the cell has no count.
QColor GetControlCellColor(const ControlCountList *list, const QString &key);
// The same from the three counts.
QColor controlCountColor(const TControlCount &count);

// Colour of a cell for formula highlighting; white outside administrator
// mode or when the cell has no flags.
QColor FormulaCellColor(const FormulaFlagList *list, const QString &key);
// The same from the flag bits.
QColor formulaFlagsColor(int bits);

// Fills the list from the calculation rules of the table (nothing outside
// administrator mode). Throws db::Error.
void MarkFormulaCells(const QSqlDatabase &mainDb, qint64 tableIdent, int colcount, int rowcount,
                      FormulaFlagList &list);

// Colour values of the window system (red + 256*green + 65536*blue).
inline int colorValue(const QColor &c) { return c.red() + 256 * c.green() + 65536 * c.blue(); }
inline QColor colorFromValue(int v) { return QColor(v & 0xFF, (v >> 8) & 0xFF, (v >> 16) & 0xFF); }

// ---- Which cells a control rule touches -----------------------------------
// The table's last reference column (colcount) and last data row
// (rowcount - fixrows): cells past them are never marked or counted, however
// long the list that names them.
struct CellArea {
    int columns = limits::kMaxTableColumns;
    int rows = limits::kMaxTableRows;
};
// kind: 0 intra-table, 1 inter-table, 2 inter-form. r is the data row from 1,
// c the structure column. tableKey is "(1000)", formName the form's name.
bool RuleSideCoversCell(const QString &side, const QString &cycle, int r, const QString &tableKey,
                        const QString &formName, int kind, int fixrows, int fixcols, int c);
// Adds the cells of one rule side to the counters of its kind.
void CountRuleSideCells(ControlCountList &list, const QString &side, const QString &cycle, int kind,
                        const QString &tableKey, const QString &formName, int fixrows, int fixcols,
                        CellArea area = {});
// Refills the list from every rule of the form that can touch the table:
// intra-table, inter-table and inter-form ones. Throws db::Error.
void LoadControlHighlight(const QSqlDatabase &mainDb, qint64 formId, const QString &tableKey,
                          ControlCountList &list, int fixrows, int fixcols, ProgressSink *progress = nullptr,
                          CellArea area = {});

// A table key as rules hold it: "1000" -> "(1000)", "Т[1000]" -> "(1000)".
QString NormalizeTableKey(const QString &key);

// Grid cell (column, row from 0) of an error mark.
struct MarkedCell {
    int column = 0;
    int row = 0;
};
// The cycle item of a control error line: the text between its first and
// second tab.
QString ErrorCycleItem(const QString &errorLine);
// Cells named by one reference (its row and column lists; form and table are
// not looked at). Throws ConversionError for an item that is no integer.
QList<MarkedCell> ReferenceCells(const QString &reference, int fixcols, CellArea area = {});
// Cells named by every reference of a rule side, the cycle item appended to
// each.
QList<MarkedCell> ExpressionCells(const QString &side, const QString &cycleItem, int fixcols,
                                  CellArea area = {});

// The control rules that touch one cell (data row r from 1, structure column
// c), for the rule list of the control-rule editor: each line is the kind
// label ("[Внутритабличный] ", "[Межтабличный] ", "[Межформенный] ") and the
// comment, with the rule key. Throws db::Error.
struct CellRule {
    QString text;
    qint64 key = 0;
};
QList<CellRule> CellControlRules(const QSqlDatabase &mainDb, qint64 formId, const QString &tableNumber, int fixrows,
                                 int fixcols, int r, int c);
