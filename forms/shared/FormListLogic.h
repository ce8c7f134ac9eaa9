#pragma once
// The forms tree's work without its window: which forms and tables it lists,
// the control runs of a form, between forms and of everything, recalculation,
// clearing and the conditions files of network forms. Throws db::Error.
#include "engine/ProgressSink.h"
#include "engine/RuleEngine.h"
#include "engine/SummaryMembers.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

namespace formlist {

struct TableEntry {
    qint64 ident = 0;
    QString tablen;       // "(1000)"
    QString text;         // tablen + " - " + name
};
struct FormEntry {
    qint64 id = 0;
    QString name;         // forms.formname
    QString text;         // formname + " - " + decipher
    QList<TableEntry> tables;
};

// The forms of an institution type (medicaltypes.id), or with -1 all forms of
// the current kind: the network forms when net is true, the others otherwise.
// The type is ignored for the network forms. Tables come from the tables cache.
QList<FormEntry> formsForType(qint64 medicalType, bool net = false);

// Form name of a form node text ("Ф30 - ..." -> "Ф30").
QString formNameOfText(const QString &nodeText);
// Table number of a table node text ("(1000) - ..." -> "(1000)").
QString tableNumberOfText(const QString &nodeText);

// False when a network form is named in either side (upper case compared).
bool IsControlApplicable(const QString &left, const QString &right);

using LabelFn = std::function<void(const QString &)>;

// Control runs for the run's institution; each adds to the run's errors a
// heading line before every block that found violations and returns whether
// any violation was found.
bool runFormControls(RuleRun &run, qint64 formId, const QString &formName, const QString &formText,
                     const LabelFn &label = {});
bool runInterFormControls(RuleRun &run, const QString &selectedFormName, const LabelFn &label = {});
// The whole-territory control: every table, every form, then between forms. On
// "Отмена" the run's errors are those it had before.
bool runAllControls(RuleRun &run, const QList<FormEntry> &forms, const QString &selectedFormName,
                    const LabelFn &label = {}, ProgressSink &progress = noProgress());

// Recalculates every table of the form for the run's institution: calculated
// cells in network mode, otherwise the sum over the include list; stores the
// tables in one transaction, so a broken rule (named in the error) changes
// nothing. A sum over members that resolve to none (engine/SummaryMembers)
// throws NoMembersError before anything is read or stored. The pacer moves one step per table and stops the run on "Отмена".
// The unreadable conditions met go to the run's messages, each once, for the
// window to show.
void recalculateForm(RuleRun &run, qint64 formId, const QString &formName, const LabelFn &label = {},
                     ProgressPacer *pacer = nullptr);
// "Пересчитать отчет" and "Пересчитать форму": the forms in one transaction,
// so that a broken rule or "Отмена" (Cancelled) leaves every stored value as
// before. The gauge's maximum is the number of tables. Returns the members
// summed (none for the network forms, which sum no members), whose
// unresolvedNote the closing message carries.
SummaryMembers recalculateForms(RuleRun &run, const QList<FormEntry> &forms, const LabelFn &label, ProgressSink &progress);

// Clearing of stored values of the window's institution (table "data").
void clearInstitution(qint64 institution);
void clearForm(qint64 institution, qint64 formId);
void clearTable(qint64 institution, qint64 tableIdent);

// Conditions files (.cnd): the calculated cells of every table of a form.
// Export returns the number of lines written. Import follows the import
// policy (engine/ImportPolicy): the whole file is checked first, a file with
// no line of the form changes nothing and says why, and only the tables the
// file carries get their conditions replaced.
int exportConditions(qint64 formId, const QString &formName, const QString &path);
struct ConditionsImport {
    int imported = 0;   // conditions stored
    int tables = 0;     // tables whose conditions were replaced
    QString message;    // the closing message
};
ConditionsImport importConditions(qint64 formId, const QString &formName, const QString &path);

} // namespace formlist
