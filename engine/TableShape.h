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

// ---- the one check of a table's shape and of its size and title lines ----------
// Every path that writes a table's sizes or its rows, columns and titles
// (structure files, the tables editor, the Word import, structure edits)
// asks here first, so that no table is stored that the table window cannot
// open. Each check gives the reason in Russian, or an empty text.
namespace shapecheck {

// colcount and rowcount within the limits, 0 <= fixcols <= colcount,
// 0 <= fixrows <= rowcount, scan 0 (by rows) or 1 (by columns).
QString countsFault(const TableShape &shape);
// A "rows" record: row 1..rowcount, height 0..limit (0: no height set).
QString rowFault(const TableShape &shape, long long row, double height);
// A "columns" record: column 1..colcount, width 0..limit.
QString columnFault(const TableShape &shape, long long column, double width);

struct TitleCell {
    long long column = 0, row = 0, sc = 0, sr = 0, ec = 0, er = 0;
    QString fontname;
    long long fontsize = 0;
    QString tchars;
};
// A "titles" record: its cell and span inside the table (the cell inside its
// span), a font name, a font size 1..limit, a layout code of vertical
// alignment T/C/B, horizontal alignment L/C/R, rotation 0/1 and an indent
// of digits.
QString titleFault(const TableShape &shape, const TitleCell &title);
// A layout code as titleFault reads it.
bool layoutCodeValid(const QString &tchars);

} // namespace shapecheck
