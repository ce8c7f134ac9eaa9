#pragma once
// The one place that knows every table of the main database (orvmain.mdb)
// and of a values database (data0.mdb, data<id>.mdb). New configurations,
// new years and the template source/data0.mdb are all made from it.
//
// Physical column order is binding where the program inserts by position:
// data/repdata, titles, rows, columns, conditions, populations, populations1,
// med_type_forms, row_titles, col_titles, formulas.
//
// SQLite folds letter case of names for Latin letters only: the key of
// int_control must be written "Код" exactly (quoted), never "код".
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace schema {

// The CREATE TABLE statements, in order (each "create table if not exists").
QStringList mainTableStatements();
QStringList valuesTableStatements();

// Parts of mainTableStatements() that their owners may also run on their own
// on an older main database that lacks them ("create table if not exists").
QString zenkorControlsStatement();        // imported control book
QStringList updateBookkeepingStatements(); // updates, update_forms, update_global_controls,
                                           // installed_form_versions

// Creates the missing tables on an open connection (existing ones are kept).
void createMainTables(const QSqlDatabase &db);
void createValuesTables(const QSqlDatabase &db);

// Makes a new database file with all its tables; an existing file is replaced.
// Throws db::Error.
void createMainDatabase(const QString &file);
void createValuesDatabase(const QString &file);

} // namespace schema
