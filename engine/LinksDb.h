#pragma once
// The code-mapping database "Links.mdb": translates the external (ministry)
// numbering of forms, tables, rows and columns into the program's own.
//
// Tables (codes are texts; every longer code begins with the shorter one):
//   raz    (a1 section code, a2 section title, r3 boolean: tables found by all
//           5 characters of the code, else by its first 4 + "0")
//   kodif  (a1 territory code, a2 territory name)
//   forms  (nf program form name, mf external 5-character form code)
//   tables (msk external table code, orv program table key such as
//           "Ф30(3.2108)", inv boolean: external rows are program columns)
//   cols   (mskcol external column code = msk + 2-digit column number,
//           orvcol program column number)
//   rows   (mskrow external row code, 12 characters, orvrow program row number)
// The program only reads the file; createLinksDatabase makes an empty one
// (installation tools and tests fill it).
#include "platform/Database.h"

#include <QString>
#include <QStringList>
#include <memory>

namespace links {

inline const QString kFileName = QStringLiteral("Links.mdb");

// "create table if not exists" statements of every table, in a fixed order.
QStringList tableStatements();

// Creates (or completes) a Links database at path with all tables.
// Existing tables and rows are kept. Throws db::Error.
void createLinksDatabase(const QString &path);

// Where the program looks for the file: the open year's folder
// (shared().yearFolder() + "Links.mdb") when that file exists, otherwise the
// program folder + "Links.mdb" (returned even when it does not exist, so that
// opening it reports the path that was tried).
QString findLinksFile();

// Opens the file read-only on a connection of its own that closes when the
// returned object is destroyed. Throws db::Error (Russian message naming the
// path) when the file is missing or unreadable.
std::unique_ptr<db::ScopedConnection> openLinks(const QString &path);
// Same for findLinksFile().
std::unique_ptr<db::ScopedConnection> openLinks();

// Condition "column begins with the bound text", for the prefix look-ups the
// codes need (no LIKE: codes must not act as wildcards; a range, so that the
// code indexes serve it). Binds two values: pass prefixParams(prefix) as the
// statement's parameters (or append).
QString prefixCondition(const QString &column);
QVariantList prefixParams(const QString &prefix);

} // namespace links
