#pragma once
// Calculated cells: rules of table `conditions` computed into a matrix from
// the values of many institutions (table "data" of db::kData, open year).
//
// A recalculation goes through RuleRun (engine/RuleEngine.h), which creates
// the matrix for the table, computes it and stores it.
#include "engine/EngineError.h"

#include <QHash>
#include <QList>
#include <QVariant>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// One record of `conditions`.
struct ConditionRule {
    qint64 tid = 0;
    int row = -1;            // data row from 0; -1 = column rule
    int column = -1;         // data column from 0; -1 = row rule
    bool type = false;       // true = sum of formula, false = counter
    QString formula;
    QString condition;
    double koeff = 1;        // divisor of a sum
    bool country = false;    // only rural institutions
    bool midle = false;      // average over the selected institutions
    QString types;           // "*" or comma list of medicaltypes.id
};

// Applies a stored relation (= <> > >= < <=) to two values; an unknown
// relation always holds. The control run compares its sides with it too.
bool RelationHolds(const QString &relation, double left, double right);

// Divisors of sum rules lie within -kMaxDivisor .. kMaxDivisor.
inline constexpr double kMaxDivisor = 1e9;
// One reading of a divisor for every path: blanks around it ignored, a
// decimal comma read as a point ("0,5" is 0.5), empty or 0 meaning 1.
// The divisor of a sum rule as stored: missing, unreadable or 0 means 1; a
// value beyond the range is kept as stored, never clamped (saving it again
// is refused until it is mended).
double ConditionDivisor(const QVariant &stored);
// A divisor as typed or read from a file: false (nothing stored, the caller
// says why) for a text that is no number or lies beyond the range.
bool ReadConditionDivisor(const QString &text, double &divisor);
// The text a divisor is shown with ("2", "-2", "0.5").
QString ConditionDivisorText(double divisor);
// Reads a rule from a query positioned on a `conditions` record.
class QSqlRecord;
ConditionRule ConditionRuleFromRecord(const QSqlRecord &record);
// The rule stored at (tid, row, column) exactly (-1 for a whole row or
// column); nothing when there is none. Every reader of one rule goes here.
std::optional<ConditionRule> ReadConditionRule(qint64 tid, int row, int column);

// Which line rules are crossed outside: column rules for scan 1, row rules
// for any other scan.
inline bool OuterRulesAreColumns(int scan) { return scan == 1; }
// The row rule of the row and the column rule of the column, as outer and
// inner by the table's scan; each missing when there is none.
struct LineRules {
    std::optional<ConditionRule> outer, inner;
};
LineRules ReadLineRules(qint64 tid, int scan, int row, int column);
// The formula of an inner line rule with each "*" replaced by the outer
// rule's formula, in one pass (what comes in is not searched again).
QString ConditionFormulaWithOuter(const QString &formula, const QString &outerFormula);

// The rules a calculated cell follows: its own cell rule, or where it has
// none the crossing of its row and column rules. The chooser (the cell rule,
// or the outer line rule) gives the institution types and its rural flag;
// the outer rule's condition narrows them when it has one; the value rule
// (the cell rule, or the inner line rule) narrows them by its rural flag and
// condition and gives the kind, divisor, average and formula, "*" standing
// for the outer formula. The outer rule's own kind, divisor and average are
// never used.
struct CellRules {
    ConditionRule value;
    std::optional<ConditionRule> outer;
    const ConditionRule &chooser() const { return outer ? *outer : value; }
    QString formula() const { return ConditionFormulaWithOuter(value.formula, outer ? outer->formula : QString()); }
};
// The rules of the data cell (row, column); nothing when the cell has no rule
// of its own and not both line rules.
std::optional<CellRules> ReadCellRules(qint64 tid, int scan, int row, int column);

// One calculated cell broken down by institutions, read by the steps of the
// run: the institutions its value is made of, in the units' order, and for a
// sum rule each one's share, the formula's references summed over its own
// values (an institution without stored values has none). The divisor, the
// average, the rounding and the formula's constants belong to no
// institution and are left out, so a counter's value is the number of
// institutions and a sum's (divisor 1, no average) the sum of the shares.
// stored is false where the run stores nothing for the cell. Conditions that
// cannot be read select nobody and are noted in unreadable, each once.
struct CellShares {
    bool stored = false;
    bool sum = false;
    QList<qint64> institutions;
    QHash<qint64, double> shares;
};
CellShares BreakDownCell(const CellRules &rules, const QString &includeList, QStringList &unreadable);
// The stored form of `types`: "*" or ids joined by "," with no trailing comma.
// Strips a trailing comma; empty result when the text is neither.
QString NormalizeTypes(const QString &types);

using ProgressLabelFn = std::function<void(const QString &)>;

// Computes every calculated cell of the table into the matrix, over the
// institutions of the include list (sums made integers when roundResult). The label
// receives prefix + "строка" r + " графа" c for each cell. A condition that
// cannot be read (unbalanced or too deeply nested brackets) selects nobody;
// the run goes on and returns each such message once, for the window that
// started it to show. Throws db::Error naming the rule on a broken rule
// (unknown form or table, malformed formula, relation or types). A reference
// that leaves out its form or table takes them from the reference read
// before it for the same cell (its condition's, its outer rule's), never
// from another cell's.
class ValueMatrix;
QStringList CalcTableConditions(ValueMatrix &matrix, qint64 tableIdent, const QString &includeList, bool roundResult,
                                const ProgressLabelFn &label = {}, const QString &labelPrefix = {});

// The message a window shows once after a run that met unreadable conditions.
QString UnreadableConditionsMessage(const QStringList &notes);

// Institutions of the given types (all of the include list for "*"),
// optionally only rural ones, as an institution list.
QString SelectInstitutionsByTypes(const QString &types, bool rural, const QString &includeList);

// Narrows a list by the rule's rural flag and condition; count receives the
// number of ids left. An unreadable condition selects nobody and its message
// goes to errors; without errors it is thrown (ConditionSyntaxError).
QString ApplyCondition(const ConditionRule &rule, const QString &list, int &count, QStringList *errors = nullptr);

// Unbalanced parentheses in a condition ("Не хватает левой скобки"); in a
// run the rule selects nobody and the message is collected.
class ConditionSyntaxError : public EngineError {
public:
    using EngineError::EngineError;
};

// The condition compiler on its own (conditions as stored: any letter case,
// blanks and line breaks allowed). Throws db::Error for an atom that is no
// prefix, reference and relation, or names an unknown form or table.
// The institutions of list selected by one atom; relation part "=0" keeps
// those with no stored value in any referenced cell.
QString CompileAtomicCondition(const QString &atom, const QString &list);
// The institutions of list selected by a whole condition: AND and OR of equal
// precedence applied left to right, parentheses grouping, every atom
// selecting from list. Throws ConditionSyntaxError for unbalanced parentheses.
QString CompileConditionGroup(const QString &condition, const QString &list);
// Folds a chain of entry tokens ("#0AND#1OR#2", words in any case) left to
// right: AND keeps the ids of the next entry found in what came before, OR
// appends the ids not yet there. An entry that is itself a chain is folded
// first; a text that does not begin with "#" is an institution list.
QString EvaluateConditionTokens(const QString &tokens, const QStringList &entries);

// Sum of one reference over the institutions of the list (0 for none).
double SumTermOverInstitutions(const QString &term, const QString &list);

// A parsed condition/formula reference.
struct ConditionRef {
    qint64 formId = -1;
    QString tableKey;        // "(n)"
    qint64 tableIdent = -1;
    QList<int> storedRows;
    QList<int> storedColumns;
};
// Parses a reference; parts it lacks come from previous (the reference parsed
// before it). Throws db::Error when the form or table does not exist.
ConditionRef ParseConditionRef(const QString &reference, const ConditionRef *previous = nullptr);

// List operations on institution lists.
QString IntersectIdLists(const QString &first, const QString &second);  // ids of second found in first
QString IdsNotInList(const QString &first, const QString &second);      // ids of second missing in first
