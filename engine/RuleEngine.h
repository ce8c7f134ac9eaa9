#pragma once
// Control rules and formula arithmetic over the values of one institution.
//
// A control run: set shared().CurrentInstitution, empty ControlErrors,
// ClearControlRules(), AddControlRule() for each chosen int_control row,
// RunTableControls(defaultText), then show ControlErrors. Each line of
// ControlErrors is  left relation right TAB cycle TAB comment  with the rule
// key as its object.
//
// Arithmetic: + - * / with the usual precedence, unary minus, parentheses,
// full precision inside; the result is written with two decimals and "."
// (x/0 gives 0). A text holding anything but numbers and operators is not
// reduced and stays as it stands.
#include "engine/ValueMatrix.h"

#include <QString>
#include <functional>

class QSqlRecord;
class StringList;

// Receives "form - key" each time the engine loads a table.
using TableLabelFn = std::function<void(const QString &)>;

// Appends one rule to the five rule lists (object of the left entry = key).
void AddControlRule(qint64 key, const QString &left, const QString &right, const QString &relation,
                    const QString &comment, const QString &cycle);
// Same from an int_control record (fields Код, lft, rght, reltion, commnt, cycl).
void AddControlRule(const QSqlRecord &record);
void ClearControlRules();

// Runs every loaded rule for CurrentInstitution; violations go to
// ControlErrors. The default text completes references that lack their form
// (and table): a form name, form + "Т[n]", or empty. The rule lists are
// always emptied. Database errors (a broken values file) still propagate.
void RunTableControls(const QString &defaultText, const TableLabelFn &label = {});

// Creates DataMatrix for the table and fills it with the institution's
// values of the open year (summed over IncludeList in mode "Types"); sets
// FixRowsMinusOne. False (nothing changed) when the table is unknown.
bool ReadTableMatrix(qint64 institution, const QString &formName, const QString &tableKey);
// True when reference column c and row r address a data cell of the matrix.
bool IsValidMatrixCell(const ValueMatrix &matrix, int column, int row);

// Value text of a reference for CurrentInstitution ("12.00"), the reference
// unchanged when its table is not the one held (or cannot be loaded), or the
// outside-table marker "ВПТ <form><key> гр<c>стр<r>". Parts the reference
// lacks are taken from the cycle text. Throws ConversionError for a row or
// column list that is not made of integers.
QString EvaluateReference(const QString &reference, const QString &cycle, const TableLabelFn &label = {});
// Replaces every reference of list[index] by its value (cycle from RuleCycleList).
void ResolveRuleSide(StringList &list, int index, const TableLabelFn &label = {});

// Arithmetic on texts: the value with two decimals, or the text unchanged
// when it holds an operand that is no number (or no operator at all).
QString EvaluateFlatExpression(const QString &text);
QString EvaluateExpression(const QString &text);
// A signed decimal number as the engine writes it ("12.00", "-3.5", "7").
bool IsNumberText(const QString &text);
// Applies a stored relation (= <> > >= < <=) to two values; an unknown
// relation always holds.
bool RelationHolds(const QString &relation, double left, double right);

// Marker of a reference outside its table.
inline const QString kOutsideTableMarker = QStringLiteral("ВПТ");
