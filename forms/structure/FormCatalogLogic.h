#pragma once
// The report-form catalogue without its windows: forms and their tables in
// the main database, deleting them with everything that hangs on them, and
// moving a form's whole structure out and in through the form structure
// file (engine/FormStructureFile).
#include "engine/FormStructureFile.h"
#include "platform/Errors.h"
#include <QList>
#include <QString>
#include <QStringList>

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
// A new name follows to every rule, calculated cell and indicator that names
// the form and to its print files (engine/CatalogRename), in one transaction;
// returns what followed, for the closing message.
QStringList updateForm(qint64 id, const QString &formname, const QString &decipher, bool net);
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
// A new number follows to every rule, calculated cell, indicator and print
// mapping line that names the table, in one transaction; returns what
// followed, for the closing message.
QStringList updateTable(qint64 ident, const QString &tablen, const QString &name, bool floattype, int scan);
// A table with its rows, columns, titles and calculated cells, and its values
// in every values database of the year.
void DeleteTableWithData(qint64 ident);

// ---- structure files -------------------------------------------------------------------

// The faults of the fields the catalogue and the tables editor edit; empty
// when they can be written to a structure file and read back. The form name
// and the table number are names: a ":" in them is refused too.
QString formFieldsFault(const QString &formname, const QString &decipher);
// A table number must also stand in parentheses ("(1000)"): the reader
// finds the table lines by their "(".
QString tableFieldsFault(const QString &tablen, const QString &name);

// The faults of giving a form (0: a new one) that name, and a table that
// number, against the rest of the catalogue (engine/CatalogGate); empty when
// none.
QString formIdentityFault(const QString &formname, qint64 selfId);
QString tableIdentityFault(qint64 ident, const QString &tablen);

// Writes the structure file of a form of the main database; throws (naming
// the field) when a text of the form would not read back as stored, and when
// the file cannot be written.
void exportForm(qint64 formId, const QString &path);

struct ImportResult {
    qint64 formId = 0;
    bool newForm = false;
    QString formname;   // as stored: a form found under another letter case keeps its name
    // Stored tables of the form the file does not have: tablen and ident.
    QList<QPair<QString, qint64>> missing;
};
// Writes a parsed file in one transaction: the form is found by its name
// without regard to letter case (updated, keeping its stored name) or added;
// each table is found by tablen, letter case ignored (updated, keeping its
// number, its rows, columns and titles replaced; calculated cells and values
// stay) or added.
// A failing statement throws Error ("Ошибка на строке ...") and nothing stays.
ImportResult importFrs(const frs::Form &form);
// The same through the given connection of a main database.
ImportResult importFrs(const QSqlDatabase &d, const frs::Form &form);

// The question about stored tables missing from the file.
QString missingTablesQuestion(const QList<QPair<QString, qint64>> &missing);

} // namespace catalog
