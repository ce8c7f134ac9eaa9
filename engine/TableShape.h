#pragma once
// The shape of a report table: column and row counts, fixed (header) columns
// and rows, the scan flag and whether it holds decimals. Read in one place:
// from the "tables" record of the main database, or from the tables cache the
// open year keeps (engine/Caches).
#include <QString>
#include <QtGlobal>

#include <optional>

class QSqlDatabase;
class QSqlQuery;

struct TableShape {
    qint64 ident = 0;
    int colcount = 0, rowcount = 0, fixcols = 0, fixrows = 0;
    bool floatValues = false;   // floattype
    int scan = 0;
    bool found() const { return ident != 0 || colcount != 0; }   // a default shape names no table
    int dataRows() const { return rowcount - fixrows; }
    int dataColumns() const { return colcount - fixcols; }
};

// The shape of a query positioned on a "tables" record (select * or the
// named columns ident, colcount, rowcount, fixcols, fixrows, floattype, scan).
TableShape ShapeOfTableRecord(const QSqlQuery &record);
// The shape of the table ident; nothing when it does not exist.
std::optional<TableShape> FindTableShape(const QSqlDatabase &mainDb, qint64 ident);
// The same; throws db::Error when the table does not exist.
TableShape ReadTableShape(const QSqlDatabase &mainDb, qint64 ident);

// The shapes the tables cache of the open year holds (shared().Caches).
// Brings the cached shape of the table up to date after its sizes changed;
// false when the cache holds no such table.
bool RefreshCachedShape(const TableShape &shape);
// By form name or form id and table key "(1000)", letter case ignored;
// nothing when the open year has no such table.
std::optional<TableShape> CachedTableShape(const QString &formName, const QString &tableKey);
std::optional<TableShape> CachedTableShapeByFormId(qint64 formId, const QString &tableKey);
