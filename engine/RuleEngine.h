#pragma once
// Control rules, calculated cells and formula arithmetic over the values of
// one institution.
//
// A run is a RuleRun made with its context (institution, include list, value
// table, report mode); it owns its rules, the table it holds and what it
// collects. A control run: addRule() for each chosen int_control row,
// runControls(defaultText), then show errors(). Each line of errors() is
//  left relation right TAB cycle TAB comment  with the rule key as its object.
// A recalculation: make the matrix of the table, calcConditions() or
// sumInstitutions(), saveTable(), then show UnreadableConditionsMessage of
// messages() once when it is not empty.
//
// Arithmetic: + - * / with the usual precedence, unary minus, parentheses,
// full precision inside; the result is written with two decimals and "."
// (x/0 gives 0). A text holding anything but numbers and operators is not
// reduced and stays as it stands.
#include "engine/Notation.h"
#include "engine/WorkContext.h"
#include "engine/WorkModes.h"
#include "engine/StringList.h"
#include "engine/ValueMatrix.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class ProgressPacer;
class QSqlRecord;
struct TableShape;

// Receives "form - key" each time the engine loads a table.
using TableLabelFn = std::function<void(const QString &)>;

// What a run reads besides the open configuration and year.
struct RuleRunContext {
    qint64 institution = 0;
    QString includeList;                                  // ids joined by ","
    MemberKind memberKind = MemberKind::Institutions;     // what includeList names
    ValueTable valueTable = ValueTable::None;             // None reads and writes "data"
    ReportMode reportMode = ReportMode::None;
    bool roundResult = false;                             // calculated cells rounded to integers
    bool net = false;                                     // the network forms and their rules

    RuleRunContext() = default;
    // The run of a window's work (no rounding: each recalculation asks for it).
    explicit RuleRunContext(const WorkContext &work)
        : institution(work.institution), includeList(work.includeList), memberKind(work.members),
          valueTable(work.table), reportMode(work.mode), net(work.net) {}
};

class RuleRun {
public:
    explicit RuleRun(RuleRunContext context);
    const RuleRunContext &context() const { return m_context; }

    // ---- Rules ----
    void addRule(qint64 key, const QString &left, const QString &right, const QString &relation,
                 const QString &comment, const QString &cycle);
    // Same from an int_control record (fields Код, lft, rght, reltion, commnt, cycl).
    void addRule(const QSqlRecord &record);
    struct Rule;
    // Every rule of the list, in its order.
    void addRules(const QList<Rule> &rules);
    int ruleCount() const { return int(m_rules.size()); }

    // Runs every rule added for the institution and empties the rules;
    // violations are appended to errors(). The default text completes
    // references that lack their form (and table): a form name, form +
    // "Т[n]", or empty. Database errors (a broken values file) propagate.
    void runControls(const QString &defaultText, const TableLabelFn &label = {});

    // ---- What the run collected, for the window that started it ----
    StringList &errors() { return m_errors; }             // object = rule key
    const StringList &errors() const { return m_errors; }
    // Unreadable conditions met by calcConditions, each once.
    const QStringList &messages() const { return m_messages; }

    // ---- The table held ----
    ValueMatrix &matrix() { return m_matrix; }
    const ValueMatrix &matrix() const { return m_matrix; }
    // Fixed rows of the table read (cells::storedRowOfRef turns its reference rows into stored ones).
    int fixRows() const { return m_fixRows; }
    // An empty matrix of the table's shape; nothing is held by name.
    ValueMatrix &createMatrix(const TableShape &shape);
    // Creates the matrix and fills it with the institution's values of the
    // open year (summed over the include list in mode "Types"). False
    // (nothing changed) when the table is unknown.
    bool readTable(const QString &formName, const QString &tableKey);
    // readTable, and the table becomes the one held by name.
    bool loadTable(const QString &formName, const QString &tableKey, const TableLabelFn &label = {});
    // Where readTable takes its tables from instead of the values database
    // (a rule tried on given values): the function creates and fills the
    // run's matrix for the form and table key and returns false when it has
    // no such table. An empty function restores the database.
    using TableSourceFn = std::function<bool(RuleRun &, const QString &formName, const QString &tableKey)>;
    void setTableSource(TableSourceFn source) { m_tableSource = std::move(source); }
    void setHeld(const QString &formName, const QString &tableKey);
    bool holdsTable() const { return !m_heldForm.isEmpty(); }
    bool holds(const QString &formName, const QString &tableKey) const;
    void release();                                      // nothing held by name; values stay

    // Value text of a reference ("12.00"), the reference unchanged when its
    // table is not the one held (or cannot be loaded), or the outside-table
    // marker "ВПТ <form><key> гр<c>стр<r>". Parts the reference lacks are
    // taken from the cycle text. Throws ConversionError for a row or column
    // list that is not made of integers.
    QString evaluateReference(const QString &reference, const QString &cycle, const TableLabelFn &label = {});
    // A rule side with every reference replaced by its value.
    QString resolveSide(const QString &side, const QString &cycle, const TableLabelFn &label = {});

    // ---- Calculated cells and sums into the matrix ----
    // Computes every calculated cell of the table into the matrix (see
    // engine/Conditions.h); unreadable conditions go to messages(), each
    // prefixed by messagePrefix.
    void calcConditions(qint64 tableIdent, const std::function<void(const QString &)> &label = {},
                        const QString &labelPrefix = {}, const QString &messagePrefix = {});
    // Adds the values of every institution of the include list.
    void sumInstitutions(qint64 formId, const QString &tableKey, ProgressPacer *pacer = nullptr);
    // Rewrites the institution's stored values of the table from the matrix.
    void saveTable(qint64 formId, const QString &tableKey);

    // One rule as added.
    struct Rule {
        qint64 key = 0;
        QString left, right, relation, comment, cycle;
    };

private:
    // Sum of the referenced cells of the table held; false with the
    // outside-table marker when a cell lies outside it. The lists are read
    // clipped to the table held (notation::VisitClipped).
    bool sumCells(const notation::NumberItems &columns, const notation::NumberItems &rows, double &sum,
                  QString &marker) const;

    RuleRunContext m_context;
    QList<Rule> m_rules;
    StringList m_errors;
    QStringList m_messages;
    ValueMatrix m_matrix;
    QString m_heldForm;       // empty = nothing held
    QString m_heldTable;
    int m_fixRows = 0;
    TableSourceFn m_tableSource;
};

Q_DECLARE_TYPEINFO(RuleRun::Rule, Q_RELOCATABLE_TYPE);

// True when reference column c and row r address a data cell of the matrix.
bool IsValidMatrixCell(const ValueMatrix &matrix, int column, int row);

QString EvaluateExpression(const QString &text);
// A signed decimal number as the engine writes it ("12.00", "-3.5", "7").
bool IsNumberText(const QString &text);

// Marker of a reference outside its table.
inline const QString kOutsideTableMarker = QStringLiteral("ВПТ");
