#pragma once
// The one gate of the form and table catalogue ("forms" and "tables" of the
// main database). Every path that creates a form or a table, renames one or
// changes a table's sizes writes here: the catalogue and its tables editor,
// the structure file import, the update installer, the Word import and the
// structure edits of the table window. The gate checks
//   - a form's identity: a name without ":", "#" or line breaks, unique in
//     the catalogue without regard to letter case (Cyrillic included), since
//     every look-up by name ignores case; a new name must also be one that
//     references can name (engine/Notation);
//   - a table's identity: a number "(" + a text without brackets + ")",
//     unique within its form without regard to letter case; a new number
//     must also be one that references can name;
//   - a table's shape (engine/TableShape, shapecheck::countsFault);
// and refuses with EngineError (a Russian message) before anything is
// written, so that no form or table is shadowed by another or cannot be
// opened.
#include "engine/TableShape.h"

#include <QSqlDatabase>
#include <QString>

#include <optional>

namespace gate {

// ---- identity, without the catalogue --------------------------------------------
// What a new name must keep: what the structure files and the files named
// after a form can carry, and a name references can name
// (notation::FormNameProblem, notation::TableNumberProblem).
QString formNameFault(const QString &formname);
QString tableNumberFault(const QString &tablen);
// What the files can carry only: the names already stored, which are not
// repaired, keep to it (a structure file of such a form reads back).
QString formNameFormatFault(const QString &formname);
QString tableNumberFormatFault(const QString &tablen);

// ---- look-ups, letter case ignored --------------------------------------------------
// The one comparison of form and table names: blanks around them and letter
// case (Cyrillic included) do not count.
bool sameName(const QString &a, const QString &b);
struct FoundForm {
    qint64 id = 0;
    QString formname;   // as stored
};
// The form of that name (the oldest one when the catalogue already holds
// names that differ only in letter case).
std::optional<FoundForm> findForm(const QSqlDatabase &db, const QString &formname);
struct FoundTable {
    qint64 ident = 0;
    QString tablen;   // as stored
};
std::optional<FoundTable> findTable(const QSqlDatabase &db, qint64 formId, const QString &tablen);

// ---- identity against the catalogue ------------------------------------------------
// The fault of giving form selfId (0: a new form) that name; empty when none.
// A name kept as it is stored (letter case and blanks inside included) is
// held to formNameFormatFault only, a new one to formNameFault; the same
// holds for table numbers.
QString formIdentityFault(const QSqlDatabase &db, const QString &formname, qint64 selfId);
// The fault of giving table selfIdent (0: a new table) of the form that number.
QString tableIdentityFault(const QSqlDatabase &db, qint64 formId, const QString &tablen, qint64 selfIdent);

// ---- writes: names are stored trimmed (a Tab in a name is a blank), texts as given ----
// A new form with ind 999; returns its id.
qint64 addForm(const QSqlDatabase &db, const QString &formname, const QString &decipher, bool net);
void updateForm(const QSqlDatabase &db, qint64 id, const QString &formname, const QString &decipher, bool net);
void setFormOrder(const QSqlDatabase &db, qint64 id, int ind);
// A form line of a structure file or an update: the form of that name,
// found without regard to letter case, gets the description and the network
// flag and keeps its stored name (its print files and references name it
// so); without one, a new form is added.
struct PutForm {
    qint64 id = 0;
    bool added = false;
    QString formname;   // as stored
};
PutForm putForm(const QSqlDatabase &db, const QString &formname, const QString &decipher, bool net);

// A new table of the form; returns its ident.
qint64 addTable(const QSqlDatabase &db, qint64 formId, const QString &tablen, const QString &name,
                const TableShape &shape);
// The tables editor: number, caption, decimals and generation order.
void updateTable(const QSqlDatabase &db, qint64 ident, const QString &tablen, const QString &name, bool floattype,
                 int scan);
// A table's caption and whole shape (structure file import).
void setTableDefinition(const QSqlDatabase &db, qint64 ident, const QString &name, const TableShape &shape);
// Sizes and fixed lines only (Word import).
void setTableSizes(const QSqlDatabase &db, qint64 ident, int colcount, int rowcount, int fixcols, int fixrows);
// One data row or column more (delta 1) or less (-1) (structure edits).
void stepTableLines(const QSqlDatabase &db, qint64 ident, bool rows, int delta);
void setTableFloat(const QSqlDatabase &db, qint64 ident, bool floattype);

} // namespace gate
