#pragma once
// Matching the program's own control rules (int_control) against the rules
// imported from the control book (zenkor_controls): selection by rule class
// and filter, normalisation, marks, summary, ordering of the result lines,
// and the export of imported rules to a control file. No window here.
#include "engine/ProgressSink.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantList>

class TControlMatchImporter;

namespace cmatch {

inline const QString kDuplicate = QStringLiteral("[ДУБЛИРУЕТСЯ]");
inline const QString kOtherSign = QStringLiteral("[РАЗНЫЙ ЗНАК]");
inline const QString kDifferent = QStringLiteral("[ОТЛИЧАЕТСЯ]");

// One loaded rule (left, right, cycle, relation).
struct MatchRecord {
    QString left;
    QString right;
    QString cycle;
    QString relation;
    QString scope;     // form and table the rule belongs to; rules compare only within one
};

// "left rel right" plus " [cycle]" when there is a cycle.
QString displayLine(const MatchRecord &r);

// Relation read with its sides swapped ("<" <-> ">", "<=" <-> ">="); others unchanged.
QString MirrorRelation(const QString &relation);

// The rule's stored left expression of a result line (marker dropped).
QString MatchSortKey(const QString &line);
// Negative, 0 or positive: duplicates first, then other-sign lines, then the
// rest; inside a group by MatchSortKey in the name order (text::compareNames).
int CompareMatchLines(const QString &a, const QString &b);
// The lines to show: all or only the differing ones, in CompareMatchLines order.
QStringList filterAndSort(const QStringList &lines, bool onlyDifferent);

// What the rule class (0 intra-table, 1 inter-table, 2 inter-form) and the
// filter (0 all, 1 form, 2 table) select.
struct Selection {
    QString where;             // condition on int_control, empty: everything
    QVariantList whereParams;
    QString zenkorWhere;       // "where ..." on zenkor_controls (used only with a non-empty where)
    QVariantList zenkorParams;
    QString defaultTable;      // default table name for the normalisation
    // With sidesName only the rules a side of which names the table sideTable
    // (any table when empty) of the form sideForm (any form when empty).
    bool sidesName = false;
    QString sideForm;
    QString sideTable;         // as stored, "(1000)"
};
// formId: the chosen form (0 when none); tableText: the chosen table key such
// as "(1000)" (empty when none); formName: the form's name for class 2.
Selection selectionFor(int kind, int filter, qint64 formId, const QString &tableText, const QString &formName);
// Whether the selection keeps a rule of these sides: a reference of either
// names the chosen form and table, as the rule notation reads it (blanks
// before the table mark and inside its brackets, either bracket, letter case
// aside); every rule when the selection has no such filter.
bool SelectionKeeps(const Selection &selection, const QString &left, const QString &right);

struct CompareResult {
    int projectCount = 0;     // A
    int externalCount = 0;    // B
    int duplicates = 0;       // M
    QStringList projectLines;
    QStringList externalLines;
    QStringList summary;      // the summary text, line by line
};
// Loads both sides as the selection says, normalises them with the importer
// and marks every line. defaultForm: the chosen form's name (empty when none).
// The run only reads: on "Отмена" it stops with Cancelled and nothing changed.
CompareResult CompareControlSets(TControlMatchImporter &importer, const Selection &selection, int kind,
                                 const QString &defaultForm, ProgressSink &progress = noProgress());
// The marking step alone over normalised records and their display lines.
// duplicates counts the project lines found on the other side,
// externalDuplicates the imported ones.
void markLines(const QList<MatchRecord> &project, const QList<MatchRecord> &external, QStringList &projectLines,
               QStringList &externalLines, int &duplicates, int *externalDuplicates = nullptr,
               ProgressPacer *pacer = nullptr);

// Writes the imported rules of a form to a control file (the file is made
// anew, empty when nothing is found). Returns the number of rules written;
// sqlText receives the statement for the "nothing found" message.
int exportImportedControls(qint64 formId, const QString &formName, const QString &path, QString *sqlText);

} // namespace cmatch
