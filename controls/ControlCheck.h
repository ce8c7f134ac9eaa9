#pragma once
// Structure-aware syntax check of control rules (table int_control).
//
// A rule side is an expression of operands joined by + - * / with round
// brackets; an operand is a number or a cell reference
// "Ф<form>Т[<table>]СТР<rows>ГР<columns>" whose parts the rule's kind may
// leave out. Every reference is checked against the forms and tables
// installed here: the form and the table must exist, rows lie in
// 1 .. rowcount - fixrows, columns in fixcols + 1 .. colcount (the columns
// up to fixcols are headers). An operand must be made of reference parts only,
// a range must ascend, nesting is limited (kMaxNesting).
//
// Two flavours share one algorithm:
//  - FileRuleChecker: lines of a control file. The line's form, table and
//    cycle are written around every operand; the last error text is kept
//    for the rejects file. Its lookup lists are read once per load.
//  - EditorRuleChecker: the rule editor. Class, form and table come from the
//    editor; each error goes at once to the message callback.
#include "engine/Common.h"
#include "engine/TableShape.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <functional>

namespace controls {

// Row/column list check: items n or a..b joined by ",". An item that is no
// integer fails without a message; a number outside low..high fails with
// kind + " № " + n + " вне рабочей области таблицы"; a reversed range a..b
// (a > b) fails with its own message.
bool CheckRowColumnList(const QString &list, int low, int high, const QString &kind, QString *message);
// A cycle text: empty, or "ГР" / "СТР" and a list (in square brackets or
// not) of integers and ranges in ascending order. message receives the reason.
bool CheckCycleText(const QString &cycle, QString *message);
// One of = <> > >= < <= (blanks around it ignored).
bool IsKnownRelation(const QString &relation);

// The common algorithm; the two checkers below supply the reference check.
class RuleCheckerBase {
public:
    virtual ~RuleCheckerBase() = default;
    const QString &errorText() const { return m_error; }

protected:
    // Bracket balance, then innermost groups first, each through CheckOperands.
    bool CheckExpression(const QString &expression);
    // Operators taken in the order * / + -, each operand through CheckReference.
    bool CheckOperands(const QString &part);
    virtual bool CheckReference(const QString &operand) = 0;
    // Sets the error text (and, in the editor, shows it).
    virtual void fail(const QString &text) { m_error = text; }
    // Only remembers the text: the loader keeps the deepest failure.
    void setPendingError(const QString &text) { m_error = text; }
    virtual void bracketError(const QString &text) { fail(text); }

    // Parts of an upper-cased reference cut at its first Ф, Т[, СТР and ГР.
    struct Parts {
        bool hasForm = false, hasTable = false, hasRows = false, hasColumns = false;
        bool tableClosed = false;   // "Т[" has its "]"
        QString form, tableText, rows, columns;
        QString lead;               // text before the first part
        QString tableTail;          // text between the table's "]" and the next part
    };
    static Parts cut(const QString &upperText);
    // True when the operand is made only of reference parts (no text before
    // them, nothing after the table number).
    static bool ownPartsOnly(const QString &operand);
    // Row and column parts against a geometry; message as given by the caller.
    bool checkLists(const Parts &p, const TableShape &g, const QString &bracketMessage);

    QString m_error;
};

// The checker of control-file lines.
class FileRuleChecker : public RuleCheckerBase {
public:
    // Reads the forms ("select * from forms order by ind") and the tables
    // ("select * from tables order by form,tablen") of the database.
    explicit FileRuleChecker(const QSqlDatabase &mainDb);

    // A whole line: the relation, the line's own form and table (also for
    // lines of numbers only), the cycle, then CheckControl.
    bool CheckLine(const QString &formName, const QString &table, const QString &cycle, const QString &right,
                   const QString &left, const QString &relation);
    // Left side first; the right side only when the left passed.
    bool CheckControl(const QString &formName, const QString &table, const QString &cycle, const QString &right,
                      const QString &left);
    bool CheckControlExpression(const QString &formName, const QString &table, const QString &expression,
                                const QString &cycle);

    // Lookups over the lists read at construction.
    qint64 formIdByName(const QString &name) const;          // -1 when none
    QString formNameById(qint64 id) const;                   // empty when none
    TableShape geometry(qint64 formId, const QString &tableKey) const;

protected:
    bool CheckReference(const QString &operand) override;

private:
    struct FormEntry { QString name; QString text; qint64 id; };
    struct TableEntry { QString text; TableShape shape; };
    QList<FormEntry> m_forms;
    QList<TableEntry> m_tables;
    QString m_prefix, m_suffix;
};

// The checker of the rule editor.
class EditorRuleChecker : public RuleCheckerBase {
public:
    // ruleClass: 0 intra-table, 1 inter-table, 2 inter-form; table "(1000)".
    // The messages go to show (each at once); the checker reads the caches of
    // the open year (FindFormId, CachedTableShapeByFormId).
    EditorRuleChecker(int ruleClass, qint64 formId, const QString &table, std::function<void(const QString &)> show);
    bool CheckControlExpression(const QString &expression) { return CheckExpression(expression); }

protected:
    bool CheckReference(const QString &operand) override;
    void fail(const QString &text) override;
    void bracketError(const QString &text) override { fail(text); }

private:
    int m_class;
    qint64 m_formId;
    QString m_table;
    std::function<void(const QString &)> m_show;
};

} // namespace controls
