#pragma once
// Writes a form's definition and its control rules into text files (code
// page 1251, CR LF): the form structure file (engine/FormStructureFile) and
// the control files of one form or of every rule (engine/ControlFileLines).
// The package generator ships them; the installer backs a form up with them
// before replacing it.
#include <QSqlDatabase>
#include <QString>

// formname of the form with that id; empty when there is none.
QString ReadFormNameById(const QSqlDatabase &db, qint64 formId);

// These return false, writing nothing, when the database is not open; they
// throw db::Error on database errors. The structure file of a form that is
// not there is left empty (false); a form text the file could not carry
// throws, naming the field.
bool ExportFormStructure(const QSqlDatabase &db, qint64 formId, const QString &fileName);
bool ExportFormControls(const QSqlDatabase &db, qint64 formId, const QString &formName, const QString &fileName);
// Every rule, ordered by table, left and right side.
bool ExportGlobalControls(const QSqlDatabase &db, const QString &fileName);
