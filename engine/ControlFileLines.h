#pragma once
// Control files: plain text in code page 1251, CR LF, one rule a line, seven
// double-quoted fields joined by commas (form name, table number, left side,
// relation, right side, cycle, comment); a double quote inside a field is
// written doubled (quoted::join / quoted::split). The form name is the one
// stored in forms for the rule's formid, empty for a rule between forms
// (formid 0).
//
// The control editor and the update packages write and read these files
// here, through the connection they are given.
#include "engine/Notation.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace ctlfile {

struct ControlLine {
    QString formName, table, lft, reltion, rght, cycl, commnt;
};

// Cuts a rule line into its seven fields; nothing when the line does not
// begin with a double quote or does not hold exactly seven fields.
std::optional<ControlLine> ParseControlLine(const QString &line);
QString FormatControlLine(const ControlLine &line);

// Lines of the given rules, in the given order; keys without a row are
// passed over.
QStringList ControlFileLinesForKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys);
// Every rule, in the order they were entered.
QStringList ControlFileLinesAll(const QSqlDatabase &mainDb);
// Every rule, ordered by table, left and right side (then by key).
QStringList ControlFileLinesAllByTable(const QSqlDatabase &mainDb);
// The rules of a form: its own and every inter-form rule a reference of
// which names one of its tables, as the rule notation reads the reference
// ("Ф30Т[1000]", "ф30 т(1000)"; not "ФФ30Т[1000]"), ordered by table, left
// and right side.
QStringList ControlFileLinesForForm(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// The key of each rule of ControlFileLinesForForm, in its order, and whether
// the rule's table is null (a line cannot tell null from empty).
struct RuleKey {
    qint64 key = 0;
    bool nullTable = false;
};
QList<RuleKey> FormRuleKeys(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// Deletes the same rule set as ControlFileLinesForForm; returns the count.
int DeleteFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// Deletes the rules of these keys; returns the count.
int DeleteRulesByKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys);
// The references of a rule side, each cut at "+", "-", "*", "/" and the round
// brackets and read as the rule notation reads it (upper case, square table keys).
QList<ReferenceParts> SideReferences(const QString &side);
// Whether a reference of the side names the table (any table when empty) of
// the form (when formName is given), as the rule notation reads it: blanks
// before the table mark and inside its brackets, either kind of brackets,
// letter case aside.
bool SideNamesTable(const QString &side, const QString &formName, const QString &table);
// Whether a side of a rule between forms names a table of the form (the
// test of ControlFileLinesForForm).
bool RuleNamesForm(const ControlLine &rule, const QString &formName);
// How many rules belong to the form by the same test (its own and those
// between forms that name one of its tables).
int CountFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// Writes the lines (overwriting); throws db::Error on failure.
void WriteControlFile(const QString &path, const QStringList &lines);

} // namespace ctlfile
