#pragma once
// Reference notation of formulas, control rules and indicators:
//   "Ф" form name, "Т[" n "]" or "Т(" n ")", "СТР" row list, "ГР" column list;
//   lists are items joined by ",", an item is an integer or a range a..b.
// Example: Ф12Т[1000]СТР[1,3..5]ГР[3]. Markers are found in the upper-cased
// text (Cyrillic lower case accepted); parts are copied as written.
// Pure text work: no state, no database.
#include "engine/TableLimits.h"

#include <QList>
#include <QString>
#include <QStringList>

// Cuts an expression into operands and operator items at + - * / outside
// double quotes, parentheses and square brackets. Operator items keep one
// blank on either side when the text had one ("+", " +", "+ ", " + ").
// A leading operator, or one right after another, stays in its operand.
QStringList SplitFormulaTerms(const QString &text);
// True for an operator item of SplitFormulaTerms (after trimming).
bool IsOperatorItem(const QString &item);

// Numbers above this name no line of any table (see engine/TableLimits.h).
inline constexpr int kMaxListNumber = limits::kMaxTableRows;

// Expands ranges: "1,3..5,8" -> "1,3,4,5,8"; "5..3" stands for nothing.
// A range is never expanded past the largest table: the numbers beyond
// kMaxListNumber (or below 0) are stood for by one of them, so
// "1..100000000" is 1..10000 and 10001, still outside every table.
// Throws ConversionError when a range bound is no integer.
QString ParseNumberList(const QString &list);

// ParseNumberList read as integers ("3..5" -> 3, 4, 5); a trailing comma adds
// nothing. Throws ConversionError for an item that is no integer.
QList<int> ParseIntegerList(QStringView list);

// The parts of an upper-cased reference (table in square brackets, see
// SquareTableBrackets of the decipher) cut at its
// first "Ф", "Т[", "СТР" and "ГР"; each part runs to the next of these
// markers, so a part cannot swallow the one after it.
struct ReferenceParts {
    bool hasForm = false, hasTable = false, hasRows = false, hasColumns = false;
    QString form;       // "Ф12", blanks trimmed
    QString table;      // table key "(1000)"
    QString rows;       // list text without its square brackets
    QString columns;
    bool any() const { return hasForm || hasTable || hasRows || hasColumns; }
};
ReferenceParts CutReferenceParts(QStringView upperText);

// Qualifying mode: 0 = form and table, 1 = form only, other = nothing.
struct FormTableRef {
    QString form;   // e.g. "Ф12", empty when absent
    QString table;  // "Т[7]" or "Т(7)" as written, empty when absent (mode 0 only)
};
FormTableRef ParseFormTableRef(const QString &reference, int mode);

// Expanded row (column) list of a reference; empty when absent or malformed.
QString ParseRowRef(const QString &reference);
QString ParseColumnRef(const QString &reference);

// Completes an operand with a form and a table ("[1000]", brackets included).
QString QualifyFormulaRef(const QString &operand, int mode, const QString &form, const QString &table);
// Completes every operand; the first reference sets the form and table of
// the ones after it, the defaults serve when it has none.
QString QualifyFormulaRefs(const QString &expression, int mode, const QString &defaultForm,
                           const QString &defaultTable);

struct RowsColumns {
    QString rows;
    QString columns;
};
// Rows and columns named by an expression; a cycle "СТР..." or "ГР..."
// replaces the rows or the columns. With single set, anything but one
// operand naming one row and one column gives two empty lists.
RowsColumns GetReferencedRowsColumns(const QString &expression, const QString &cycle, bool single);

// Deepest nesting of round brackets in a text. Texts nested deeper than
// kMaxNesting are not read (a rule, a condition or a formula like that is
// reported as it stands), so no reader recurses without bound.
inline constexpr int kMaxNesting = 100;
int NestingDepth(QStringView text);

// "Т(" (either case) becomes "Т[" and the next ")" after it "]".
QString SquareTableBrackets(const QString &reference);
