#pragma once
// The one place that knows every table of the main database (orvmain.mdb)
// and of a values database (data0.mdb, data<id>.mdb). New configurations,
// new years and the template source/data0.mdb are all made from it.
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

namespace schema {

// The CREATE TABLE statements, in order (each "create table if not exists").
QStringList mainTableStatements();
QStringList valuesTableStatements();

// Creates the missing tables on an open connection (existing ones are kept).
void createMainTables(const QSqlDatabase &db);
void createValuesTables(const QSqlDatabase &db);

// Makes a new database file with all its tables; an existing file is replaced.
// Throws db::Error.
void createMainDatabase(const QString &file);
void createValuesDatabase(const QString &file);

} // namespace schema
