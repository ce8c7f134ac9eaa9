#pragma once
// The one check of control rules (table int_control) before they are stored.
// Every path that stores or changes a rule goes through it: the rule editor
// (each class), the control-file loader, find-and-replace, the update
// installer and the control-book import. A rule it refuses is not stored.
//
// A rule is read as it is stored: the form name (empty: a rule between forms,
// formid 0), the table key "(1000)" (empty: a rule between tables or forms),
// the two sides, the relation and the cycle. Each side must reduce to a
// number for some values:
//  - operands joined by + - * /, round brackets balanced and nested at most
//    kMaxNesting deep (the depth the evaluation reads); no empty side, no
//    empty brackets, no sign without a left operand;
//  - an operand is a number (digits and at most one ".") or a cell reference
//    made of reference parts only (Ф form, Т[table] or Т(table), СТР rows,
//    ГР columns); a part the operand lacks comes from the rule (form in
//    classes 0 and 1, table in class 0) or from the cycle (rows or columns);
//    after that the reference must name a form, a table, rows and columns;
//  - every row lies in 1 .. rowcount - fixrows and every column in
//    fixcols + 1 .. colcount of the table the reference names, the cycle's
//    numbers included (checked against every table it is applied to, and in
//    class 0 against the rule's own table); ranges ascend; bounds of any
//    length are numbers (a 20-digit one lies outside every table);
//  - the relation is one of = <> > >= < <=.
// The check runs in time linear in the length of the rule and expands no list.
#include "engine/TableShape.h"

#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace rulecheck {

// A rule as stored in int_control.
struct RuleText {
    QString formName;   // "Ф30"; empty for a rule between forms
    QString table;      // "(1000)"; empty for a rule between tables or forms
    QString lft, reltion, rght, cycl;
};

// The field a refusal is about (the editor puts the caret there).
enum Field { NoField = 0, LeftSide = 1, RightSide = 2, CycleField = 3 };

struct Verdict {
    bool ok = true;
    QString reason;    // names the field and, where there is one, the operand
    int field = NoField;
    QString detail;    // the reason without the field's name
    explicit operator bool() const { return ok; }
};

// Reads the forms and tables of a main database once; checks any number of
// rules against them.
class RuleChecker {
public:
    explicit RuleChecker(const QSqlDatabase &mainDb);

    Verdict Check(const RuleText &rule) const;

    qint64 formIdByName(const QString &name) const;   // -1 when none (letter case ignored)
    QString formNameById(qint64 id) const;            // empty when none
    // Nothing found: a default shape (found() false).
    TableShape shape(qint64 formId, const QString &tableKey) const;

private:
    QHash<QString, qint64> m_formIds;         // upper-cased name -> id
    QHash<qint64, QString> m_formNames;
    QHash<QString, TableShape> m_shapes;      // id + "|" + upper-cased key
};

// One rule against the forms and tables of mainDb (read for this call).
Verdict CheckRule(const QSqlDatabase &mainDb, const RuleText &rule);

// The only writers of rule texts into int_control. Each checks the rule first
// and writes nothing when it is refused (the verdict says why), except the
// restore of a backup; db::Error when the statement fails.
// Inserts a rule: formid from the form name (0 for a rule between forms),
// tble the table key, or null / "" when it has none (nullTable chooses).
// key, when given, receives the rule's key; a positive key on entry asks for
// that key (a rule put back keeps its key) and is kept when no rule holds it.
Verdict InsertCheckedRule(const QSqlDatabase &mainDb, const RuleChecker &checker, const RuleText &rule,
                          const QString &comment, qint64 *key = nullptr, bool nullTable = false);
// Puts back a rule kept in a backup as it was stored, also one the check
// refuses today (its table lost a row since, say): a backup holds the user's
// own rules. The verdict says whether the check accepts it; nothing is
// written (stored false) only when the rule's form is not in the catalogue.
struct Restored {
    Verdict verdict;
    bool stored = false;
};
Restored RestoreRule(const QSqlDatabase &mainDb, const RuleChecker &checker, const RuleText &rule,
                     const QString &comment, qint64 *key = nullptr, bool nullTable = false);
// Rewrites the texts of the rule with that key; its form and table stay. A
// key no rule holds (deleted behind the window) is refused, naming the key.
Verdict UpdateCheckedRule(const QSqlDatabase &mainDb, const RuleChecker &checker, qint64 key, const RuleText &rule,
                          const QString &comment);

// Captions of the fields in refusals.
QString FieldCaption(int field);

} // namespace rulecheck
