#pragma once
// Control rules of the rule editor without its window: listing, reading,
// checking, saving, deleting and replacing rules of int_control, the
// expansion of a rule side for the decipher, and the comparison of a rule's
// references with the previous reporting year.
//
// Every statement works on the given main database connection and binds the
// texts it is given. The rule key column is "Код".
#include <QHash>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QSqlQuery;

class ProgressSink;
namespace rulecheck { class RuleChecker; }

namespace controls {

// Classes of rules (the editor's first radio group).
enum RuleClass { IntraTable = 0, InterTable = 1, InterForm = 2 };
// The list filter: all, by form, by table.
enum RuleFilter { FilterAll = 0, FilterForm = 1, FilterTable = 2 };

inline const QStringList kRelations = {QStringLiteral("="), QStringLiteral("<>"), QStringLiteral(">"),
                                       QStringLiteral(">="), QStringLiteral("<"), QStringLiteral("<=")};
inline const QString kNewRuleText = QStringLiteral("Новый контроль");

struct RuleTexts {
    QString lft, reltion, rght, cycl, commnt;
};

struct RuleRecord {
    qint64 key = 0;
    qint64 formId = 0;
    QString table;        // empty for null
    RuleTexts texts;
};

struct RuleItem {
    QString text;   // the comment
    qint64 key = 0;
};

// The editor's choice.
struct RuleScope {
    int ruleClass = IntraTable;
    int filter = FilterAll;
    qint64 formId = -1;     // -1: no form chosen
    QString formName;       // "Ф30"
    QString table;          // "(1000)", empty: no table chosen
};

// Index of a relation in kRelations by its first two characters; 0 ("=")
// for anything else.
int RelationIndex(const QString &relation);

// The rules of the scope, ordered as the editor lists them. An empty list
// when the class needs a form (and, for class 0, a table) that is not chosen.
// Throws db::Error ("Ошибка: поле commnt не найдено ..." when the table has
// no comment column).
QList<RuleItem> ListRules(const QSqlDatabase &mainDb, const RuleScope &scope);

// One rule; nothing when there is no such key.
std::optional<RuleRecord> ReadRule(const QSqlDatabase &mainDb, qint64 key);
// The rule at the current row of a "select * from int_control" query.
RuleRecord RuleRecordOf(const QSqlQuery &q);

// The checks before a save (class, form and table of the scope). Each refusal
// goes to show, followed where the editor adds it by "Ошибка в выражении" or
// "Ошибка в описании цикла!". focus tells which text to correct:
// 1 left side, 2 right side, 3 cycle, 4 comment, 0 none. Refused also: a
// relation that is none of kRelations, a cycle that is no "ГР"/"СТР" list
// (any class), a reversed range, an operand that is no reference, a header
// column, characters that code page 1251 cannot hold (named).
bool ValidateRule(const RuleScope &scope, const RuleTexts &texts, const std::function<void(const QString &)> &show,
                  int *focus = nullptr);
// The same against the forms and tables a checker has read.
bool ValidateRule(const rulecheck::RuleChecker &checker, const RuleScope &scope, const RuleTexts &texts,
                  const std::function<void(const QString &)> &show, int *focus = nullptr);

// The scope a save works in: a stored rule's own (its form, table and class,
// whatever the window shows); the chosen one for a new rule (key 0) or a
// key no rule holds.
RuleScope ScopeOfSave(const QSqlDatabase &mainDb, const RuleScope &chosen, qint64 key);
// Saves a rule: updates the rule with that key in its own scope, or inserts a
// new one of the chosen scope when key is 0. Returns the rule's key. A key no
// rule holds (deleted behind the window) stores nothing: db::Error saying so.
qint64 SaveRule(const QSqlDatabase &mainDb, const RuleScope &chosen, qint64 key, const RuleTexts &texts);

// Deletes the rules (keys 0 are passed over); returns how many were deleted.
int DeleteRules(const QSqlDatabase &mainDb, const QList<qint64> &keys);

// Where a replacement acts (the editor's replace group).
enum ReplaceWhere { ReplaceEverywhere = 0, ReplaceLeft = 1, ReplaceRight = 2, ReplaceCycle = 3, ReplaceComment = 4 };
// Replaces every occurrence of find (letter case kept) in the chosen texts of
// the rules; a rule in which nothing changed is not written, nor one that a
// save would refuse (ValidateRule in its own scope, characters outside code
// page 1251): those stay as they were and are listed in refused, with the
// reason. Returns the new comments of the rules whose comment changed;
// changed counts every rule written. One transaction: a failure leaves every
// rule as it was.
QHash<qint64, QString> ReplaceInRules(const QSqlDatabase &mainDb, const QList<qint64> &keys, int where,
                                      const QString &find, const QString &replacement, int *changed = nullptr,
                                      QStringList *refused = nullptr);
// The scope a stored rule belongs to (class from its form and table).
RuleScope ScopeOfRule(const RuleRecord &r);
// The refusal of a typed text holding characters code page 1251 cannot hold,
// naming each of them; empty when it holds none.
QString UnencodableMessage(const QString &typed);

// ---- Expansion of a rule side ----------------------------------------------
// Writes a cycle ("СТР..." or "ГР...", with or without brackets) into the row
// or column part of an expression as a bracketed group ("стр2..3" becomes
// "стр[2..3]"); markers found without regard to case. A cycle with an
// unclosed "[" leaves the expression as it is.
QString InsertCycle(const QString &text, const QString &cycle);
// QualifyFormulaRefs with the class as mode, then InsertCycle.
QString ExpandRuleSide(const QString &text, int mode, const QString &cycle, const QString &table,
                       const QString &formName);
// Carries a caret of a text over to its expansion, proportionally.
int CarryCaret(int caret, int originalLength, int expandedLength);

// ---- Previous year -----------------------------------------------------------
// True when a reference of the rule deciphers differently in the previous
// year's main database, or exists now and not then. Never throws; false
// without an open configuration or without the previous year's database.
bool CheckControlAgainstPreviousYear(qint64 key, const QString &lft, const QString &rght, const QString &relation,
                                     const QString &cycle);
// Searches every rule, stopping each group at its first discrepancy; the
// report lines for the discrepancy window. Throws db::Error.
QStringList SearchAllRuleDiscrepancies(const QSqlDatabase &mainDb, ProgressSink *progress);

// ---- Printing ------------------------------------------------------------------
// The lines of the printed list: the three headings, then one line per rule
// (lft, reltion, rght, cycl, commnt joined by tabs); keys without a row are
// passed over.
QStringList RulePrintLines(const QSqlDatabase &mainDb, const QStringList &headings, const QList<qint64> &keys);

} // namespace controls
