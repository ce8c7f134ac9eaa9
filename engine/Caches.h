#pragma once
// Lookup caches of the open year (forms, tables, administrative structure,
// indicator sets), read from the main database ("dbmain") into
// shared().Caches (engine/YearCaches). Reloaded on every change of year or
// configuration. Each loader throws db::Error when the main database cannot
// be read; its part of the caches is then empty.
#include "engine/TableShape.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace caches {

// Caches.forms, from "select * from forms order by ind".
void GetForms();
// Caches.tables with their shapes, from "select * from tables order by form,tablen".
void GetTables();
// Caches.structure from the administration table ordered by dependence, ind;
// no unit has a tree position yet.
void GetStruct();
// Caches.tree: the sets under each parent in name order.
void GetTree();

// All four, in the order structure, tree, forms, tables. When one of them
// fails, nothing of the year that was open before is left.
void reloadAll();

} // namespace caches

// The shapes the tables cache of the open year holds (shared().Caches).
// Brings the cached shape of the table up to date after its sizes changed;
// false when the cache holds no such table.
bool RefreshCachedShape(const TableShape &shape);
// By form name or form id and table key "(1000)", letter case ignored;
// nothing when the open year has no such table.
std::optional<TableShape> CachedTableShape(const QString &formName, const QString &tableKey);
std::optional<TableShape> CachedTableShapeByFormId(qint64 formId, const QString &tableKey);
