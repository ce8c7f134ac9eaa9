#pragma once
// Reading the definition of one table for the table window: the table row,
// the column widths and row heights, and the header titles with their
// rectangles. No widgets; the window lays the result out.
#include "forms/table/TableGrid.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

struct TableDefinition {
    bool found = false;
    qint64 ident = 0;
    QString tablen;
    int colcount = 0, rowcount = 0, fixcols = 0, fixrows = 0, scan = 0;
    bool floattype = false;
    QList<int> columnPixels;   // structure columns 1..colcount at 0..colcount-1
    QList<int> rowPixels;      // structure rows 1..rowcount
    QList<GridTitle> titles;   // corner, row-header and column-header titles
    // Set when a column or row record lies outside the table: the message to show.
    QString error;
};

// Reads the table of the form with the number (compared as text). Sizes are
// turned into pixels at the density; font sizes scaled by 96 / density.
// Throws db::Error on a database failure.
TableDefinition readTableDefinition(const QSqlDatabase &mainDb, qint64 formId, const QString &tableNumber,
                                    int density);
