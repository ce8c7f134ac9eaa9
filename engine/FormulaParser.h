#pragma once
// Formulas, control rules and indicators over the reference notation of
// engine/Notation: terms, qualifying references with a form and a table, the
// rows and columns an expression names. Pure text work: no state, no database.
#include "engine/Notation.h"

#include <QList>
#include <QString>
#include <QStringList>

// Cuts an expression of the external control book into operands and operator
// items at + - * / outside double quotes, parentheses and square brackets.
// Operator items keep one blank on either side when the text had one ("+",
// " +", "+ ", " + "). A leading operator, or one right after another, stays
// in its operand. The program's own sides are cut by notation::CutSide (a
// source scan lists any other use).
QStringList SplitFormulaTerms(const QString &text);
// True for an operator item of SplitFormulaTerms (after trimming).
bool IsOperatorItem(const QString &item);

// Qualifying mode: 0 = form and table, 1 = form only, other = nothing.
// Read as the rule check and the rule run read a reference (engine/Notation):
// the form up to the next marker, the table key as ReadTableKey takes it.
struct FormTableRef {
    QString form;   // e.g. "Ф12", empty when absent
    QString table;  // "Т[7]" or "Т(7)", its brackets as written and its key as read ("Т( 7 )" -> "Т(7)"),
                    // empty when absent or empty (mode 0 only)
    QString number; // the table's number inside its brackets, "7"
};
FormTableRef ParseFormTableRef(const QString &reference, int mode);

// The lines a reader clips number lists to (notation::VisitClipped): those
// of the table it shows or sums.
struct LineBounds {
    qint64 rowLow = 0, rowHigh = kMaxListNumber;
    qint64 columnLow = 0, columnHigh = kMaxListNumber;
};
// Expanded row (column) list of a reference, clipped to the bounds; empty
// when absent or malformed.
QString ParseRowRef(const QString &reference, const LineBounds &bounds);
QString ParseColumnRef(const QString &reference, const LineBounds &bounds);

// Completes an operand with a form and a table ("[1000]", brackets included).
QString QualifyFormulaRef(const QString &operand, int mode, const QString &form, const QString &table);
// Completes every operand, cut as the rule run cuts a side (inside brackets
// too); the first reference sets the form and table of the ones after it,
// the defaults serve when it has none. Signs and blanks stay as written.
QString QualifyFormulaRefs(const QString &expression, int mode, const QString &defaultForm,
                           const QString &defaultTable);

struct RowsColumns {
    QString rows;
    QString columns;
};
// Rows and columns named by the operands of an expression (cut as the rule
// run cuts a side); a cycle "СТР..." or "ГР..." replaces the rows or the
// columns. With single set, anything but one operand naming one row and one
// column gives two empty lists.
RowsColumns GetReferencedRowsColumns(const QString &expression, const QString &cycle, bool single,
                                     const LineBounds &bounds);

// Deepest nesting of round brackets in a text. Texts nested deeper than
// kMaxNesting are not read (a rule, a condition or a formula like that is
// reported as it stands), so no reader recurses without bound.
inline constexpr int kMaxNesting = 100;
int NestingDepth(QStringView text);
