#pragma once
// The report-form catalogue without its windows: forms and their tables in
// the main database, deleting them with everything that hangs on them, and
// the form structure file (".frs") that moves a form's whole structure out
// and in.
//
// Structure file: code page 1251, CR LF, fields joined by "#":
//   formname#decipher#Да|Нет
//   then per table (by tablen):  (tablen)#name#colcount#rowcount#fixcols#fixrows#True|False#scan
//                                стр<row>#height            (one per rows record)
//                                гр<column>#width           (one per columns record)
//                                заг<column>#<row>#sc#sr#ec#er#fontname#fontsize#bold#italic#tchars#txt
// Colons are left out of names and texts; in txt LF is byte 1, CR byte 2,
// an empty txt is one blank. On reading, a colon in txt becomes byte 3.
#include "platform/Errors.h"
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>

namespace catalog {

// A failure of the catalogue's work, with a Russian message ready to show.
class Error : public AppError {
public:
    using AppError::AppError;
};

// ---- forms ------------------------------------------------------------------------

struct FormRow {
    qint64 id = 0;
    QString formname;
    QString decipher;
    bool net = false;
};

QString yesNo(bool value);   // "Да" / "Нет"

// All forms by ind.
QList<FormRow> listForms();
// A new form with ind 999; returns its id.
qint64 addForm(const QString &formname, const QString &decipher, bool net);
void updateForm(qint64 id, const QString &formname, const QString &decipher, bool net);
// The form, its tables with their structure and calculated cells, its
// assignment to institution types, and the values of its tables in every
// values database of the year (the open one and those of the other levels).
void deleteForm(qint64 id);
// ind := position, for the ids in list order.
void saveFormOrder(const QList<qint64> &idsInOrder);

// ---- tables of a form ----------------------------------------------------------------

struct TableRow {
    qint64 ident = 0;
    QString tablen;
    QString name;
    bool floattype = false;
    int scan = 0;
};

// Tables of a form by tablen.
QList<TableRow> listTables(qint64 formId);
void updateTable(qint64 ident, const QString &tablen, const QString &name, bool floattype, int scan);
// A table with its rows, columns, titles and calculated cells, and its values
// in every values database of the year.
void DeleteTableWithData(qint64 ident);

// ---- structure files -------------------------------------------------------------------

// Fields are joined by "#" with no escaping, so a field followed by others
// on its line must hold no "#", and no field may hold a line break: such a
// field would read back as another text. The reason in Russian, naming the
// field by what (e.g. "Содержание формы"), or empty when value reads back as
// written.
QString frsFieldFault(const QString &what, const QString &value, bool lastOnLine = false);
// Why a line of a structure file would not read back as the fields it was
// written from: it has more "#" than its kind has fields, so a "#" sits
// inside a field that is not the last. formLine is true for the first line
// of the file. Empty when the line reads back (or is no line of a known kind).
QString frsLineFault(const QString &line, bool formLine);
// The faults of the fields the catalogue and the tables editor edit; empty
// when they can be written to a structure file and read back.
QString formFieldsFault(const QString &formname, const QString &decipher);
// A table number must also stand in parentheses ("(1000)"): the reader
// finds the table lines by their "(".
QString tableFieldsFault(const QString &tablen, const QString &name);

// The lines of a form's structure file. Throws Error, naming the field, when
// a text of the form would not read back as stored (see frsFieldFault).
QStringList frsLines(qint64 formId);
// Writes the structure file; throws Error when it cannot be written.
void exportForm(qint64 formId, const QString &path);

struct FrsTitle {
    int column = 0, row = 0, sc = 0, sr = 0, ec = 0, er = 0;
    QString fontname;
    int fontsize = 0;
    bool bold = false, italic = false;
    QString tchars;
    QString txt;   // decoded: colon as byte 3, line breaks restored
    int line = 0;
};
struct FrsRowCol {
    int number = 0;
    double size = 0;
    int line = 0;
};
struct FrsTable {
    QString tablen, name;
    int colcount = 0, rowcount = 0, fixcols = 0, fixrows = 0;
    bool floattype = false;
    int scan = 0;
    int line = 0;
    QList<FrsRowCol> rows, columns;
    QList<FrsTitle> titles;
};
struct FrsForm {
    QString formname, decipher;
    bool net = true;   // anything but "Нет"
    QList<FrsTable> tables;
};

// Reads the whole file before anything is written. A line where a table line
// is expected but missing is told through warn (with its line number) and
// skipped up to the next line that begins with "("; any other fault of the
// file (a missing form line, a field that is not a number, too few fields, a
// table larger than the program accepts) throws Error naming the line, so
// nothing is imported from such a file.
FrsForm parseFrs(const QStringList &lines, const std::function<void(const QString &)> &warn = {});
FrsForm readFrsFile(const QString &path, const std::function<void(const QString &)> &warn = {});

struct ImportResult {
    qint64 formId = 0;
    bool newForm = false;
    // Stored tables of the form the file does not have: tablen and ident.
    QList<QPair<QString, qint64>> missing;
};
// Writes a parsed file in one transaction: the form is found by its name
// without regard to letter case (updated) or added; each table is found by tablen (updated, its rows,
// columns and titles replaced; calculated cells and values stay) or added.
// A failing statement throws Error ("Ошибка на строке ...") and nothing stays.
ImportResult importFrs(const FrsForm &form);

// The question about stored tables missing from the file.
QString missingTablesQuestion(const QList<QPair<QString, qint64>> &missing);

} // namespace catalog
