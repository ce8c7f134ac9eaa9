#pragma once
// A new table number or form name carried to everything that names it. The
// catalogue gate (engine/CatalogGate) checks and stores the new identity;
// here, in the same transaction of the main database, the texts that name
// the table or form follow it: control rules (sides, cycle and the rule's
// own table), calculated cells (formula, condition, both sides), indicator
// formulas and identifiers, the print mapping of the form
// (forms/<form>.txt) and, for a form, its print files (forms/<form>.txt,
// .doc, .docx). A failure anywhere changes nothing in the database; so does
// a rename after which a rule the rule check accepted would be refused, or a
// calculated cell or indicator formula would name a table that is not there
// (a reference that takes its table from its rule or the reference before it
// cannot follow): it is refused, naming them.
//
// References are read as the engine reads them: "Ф<form>Т[<number>]" with
// the form, or "Т[<number>]" without it, which names a table of the text's
// own form (the rule's form; for a calculated cell, the form the reference
// before it named, the first the cell's own). Names and numbers are
// compared by text::sameName.
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace carry {

// What followed a rename besides the catalogue, one entry per rule (named by
// its comment and sides), the calculated cells, the indicators, or a file
// ("Ф30.txt").
using Changed = QStringList;

// The closing message of a rename: head, then what followed it (or nothing).
QString changedMessage(const QString &head, const Changed &changed);

// Table ident gets the number, caption, decimals and order (gate::updateTable);
// every text naming its old number follows. formsFolder: the open year's
// "forms/" folder ("" when no file is to follow).
Changed renameTable(const QSqlDatabase &db, qint64 ident, const QString &tablen, const QString &name,
                    bool floattype, int scan, const QString &formsFolder);
// Form id gets the name, description and flag (gate::updateForm); every
// text naming its old name and its print files follow.
Changed renameForm(const QSqlDatabase &db, qint64 id, const QString &formname, const QString &decipher, bool net,
                   const QString &formsFolder);

// ---- the text work, for tests -----------------------------------------------------
// The text with every reference to table oldTablen of form formName naming
// newTablen instead, references read by notation::FindTextReferences.
// ownForm: the form of references without one; chained: a reference's form
// stands for the references after it (calculated cells).
QString carryTableNumber(const QString &text, const QString &formName, const QString &oldTablen,
                         const QString &newTablen, const QString &ownForm, bool chained);
// The text with every reference naming form oldName naming newName instead,
// also where the table comes from the rule ("Ф30СТР1ГР4").
QString carryFormName(const QString &text, const QString &oldName, const QString &newName);

} // namespace carry
