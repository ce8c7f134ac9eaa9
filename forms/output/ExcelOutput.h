#pragma once
// Spreadsheet output of report forms: one table laid out on a sheet like the
// table window (widths, heights, header cells with merges, fonts and
// alignments, the stored values, thin borders), a whole form as one workbook,
// a whole form per included institution as one file each, and one table per
// included institution as the sheets of one workbook.
#include "engine/ProgressSink.h"
#include "engine/WorkModes.h"
#include "platform/office/ExcelWorkbook.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace excelout {

struct TableNode {
    qint64 ident = 0;
    QString text;   // "(1000) - name"
};
struct FormNode {
    QString text;   // "Ф30 - decipher"
    QList<TableNode> tables;
};

using LabelFn = std::function<void(const QString &)>;

// Sheet column width for a structure column width in points: (width - 3.75)
// / 5.25 to the nearest integer, halves to the even one. Every sheet writer
// (the table window's sheet too) uses it, so one table gets the same widths
// in each output.
int SheetColumnWidth(double points);

// Lays table node out on sheet with the values of institution (or report) h
// from the value table values; cell (1, 1) = caption + " - " + text.
void BuildExcelSheet(office::ExcelSheet &sheet, const TableNode &table, qint64 h, const QString &caption,
                     ValueTable values);

// A new workbook with one sheet per table of the form (named by tablen, in
// tree order, after the workbook's initial sheet).
office::ExcelWorkbook ExportFormToExcel(qint64 h, const FormNode &form, const QString &caption, ValueTable values,
                                        const LabelFn &label = {});

// The form for every member of includeList (resolved as engine/SummaryMembers
// does; ids that name nothing are left out) saved as
// <folder><form> - <name>.xlsx, with the member's own values (institutions
// from "Data", member reports from "RepData"); two members of one name (letter
// case aside) are told apart by the mark " #" + id. Returns the files
// written. On "Отмена" no file is written
// or replaced. Books of the same names already there are replaced only when
// confirmReplace (given their file names) agrees; else the run is Cancelled.
using ReplaceFn = std::function<bool(const QStringList &existing)>;
QStringList exportFormPerMember(const QString &folder, const FormNode &form, const QString &includeList,
                                MemberKind kind, const LabelFn &label = {}, ProgressSink &progress = noProgress(),
                                const ReplaceFn &confirmReplace = {});

// The table for every member of includeList, one sheet each, newest first.
// Names longer than 30 characters go through shortName. Values and names are
// the members' own, as for exportFormPerMember.
office::ExcelWorkbook exportTablePerMember(const TableNode &table, const QString &formName,
                                           const QString &includeList, MemberKind kind,
                                           const std::function<QString(const QString &)> &shortName,
                                           const LabelFn &label = {}, ProgressSink &progress = noProgress());

} // namespace excelout
