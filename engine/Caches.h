#pragma once
// Lookup caches of the open year (forms, tables, administrative structure,
// indicator sets), read from the main database ("dbmain") into shared().
// Reloaded on every change of year or configuration. Each loader throws
// db::Error when the main database cannot be read; the caches are then empty.
namespace caches {

// FormsList ("ФОРМА - decipher", object id) and NetFormsList (formname of net
// forms), from "select * from forms order by ind".
void GetForms();
// TablesList ("ФОРМА*Т(n) - name", object ident) and TablesArray
// ([i][1..7]: ident, colcount, rowcount, fixcols, fixrows, floattype 0/1,
// scan; [i][8] left 0), from "select * from tables order by form,tablen".
void GetTables();
// StructList/StructIds/StructParents/StructCount from the administration
// table ordered by dependence, ind; StructNodeIndexes is made empty
// (-1 for every row) for the tree builder to fill.
void GetStruct();
// TreeList/TreeIdents/TreeDepends from "select * from tree order by depend,part".
void GetTree();

// All four, in the order structure, tree, forms, tables.
void reloadAll();

} // namespace caches
