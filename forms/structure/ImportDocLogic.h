#pragma once
// Header layout of one table of a Word document made into the structure of a
// definition table: size, fixed columns and rows, one columns and one rows
// record per grid line and one titles record per non-empty cell.
#include "platform/Errors.h"
#include <QList>
#include <QString>
#include <stdexcept>

namespace importdoc {

// A failure with a Russian message ready to show.
class Error : public AppError {
public:
    using AppError::AppError;
};

// One grid position of the document table (1-based). A position covered by
// a merged cell is not filled.
struct DocCell {
    bool filled = false;
    QString text;
    int startColumn = 0, startRow = 0, endColumn = 0, endRow = 0;
};

struct DocStructure {
    int rows = 0, cols = 0;
    QList<DocCell> cells;   // row-major, rows * cols

    bool isEmpty() const { return rows <= 0 || cols <= 0; }
    DocCell &at(int r, int c) { return cells[(r - 1) * cols + (c - 1)]; }
    const DocCell &at(int r, int c) const { return cells[(r - 1) * cols + (c - 1)]; }
    void resize(int rowCount, int colCount);   // keeps the cells that stay inside
};

// The grid of table n (1-based) of a .docx (a legacy .doc is converted
// first). Each cell sits at the grid position where it starts, with its text
// (paragraphs on lines of their own, end-of-cell bytes removed, trimmed) and
// the row and column span the document gives it. A table, or a cell, beyond
// the largest table the program accepts is refused, naming the cell, before
// the grid is made. Throws Error.
DocStructure ExtractDocTableStructure(const QString &path, int n);

// Why the structure cannot become a table with these fixed columns and rows
// (larger than the program accepts, or more fixed lines than the table has);
// empty when it can.
QString structureFault(const DocStructure &s, int fixcols, int fixrows);

// Joins a second table on the right, leaving out its first fixcols columns.
// False (nothing changed) when the row counts differ.
bool joinRight(DocStructure &s1, const DocStructure &s2, int fixcols);

// Font and alignment of a title made from a document cell: Arial, size 10
// (9 for a text longer than 20 characters), neither bold nor italic, top left
// in the first column and centred elsewhere.
struct TitleAttributes {
    QString fontname;
    int fontsize = 10;
    bool bold = false, italic = false;
    QString tchars;
};
TitleAttributes FormatTitleAttributes(int row, int column, const QString &text);

// Rewrites the structure of the definition table ident in one transaction.
// Throws Error when the table does not exist, structureFault finds a fault or
// a statement fails; nothing changes then.
void UpdateTableStructure(qint64 ident, const DocStructure &s, int fixcols, int fixrows);

} // namespace importdoc
