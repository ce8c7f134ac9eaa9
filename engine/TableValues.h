#pragma once
// The one writer of a table's values in the value tables ("data" of the
// institutions, "repdata" of the summary reports): the values of one table of
// one institution and year are replaced as a whole. Every value is stored as
// num::stored writes it (fifteen significant digits); a zero has no row.
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QSqlDatabase>
#include <QString>

#include <functional>

// A value the value tables can keep is num::isStorableValue: finite, and of a
// magnitude below 1e15, where the fifteen stored digits still hold its whole
// part. Typing, every load and the Excel input refuse anything else, naming the cell.
// "Значение 1.7e+308 в ячейке <cell> ..." for a refused value.
QString unstorableValueText(double value, const QString &cell);
// Throws db::Error naming the cell (form, table, column and row
// as references count them; owner: the institution or report) when the value may not be stored
// (num::isStorableValue). ValueRowWriter applies it to every value it stores,
// inside the caller's transaction, so that a sum that reached 10^15 stores
// nothing at all.
void RequireStorableValue(double value, qint64 owner, qint64 tableIdent, int column, int row);

// Stores value rows of one year by that rule, for a caller that has deleted
// what they replace (several tables, or all of them) in its own transaction:
// the one place of the stored-value rule (RequireStorableValue, naming the
// cell) and the zero rule. With rowsPerStatement above 1 the rows are written
// many to a statement (db::ValueRowBatch): a long run of rows, as a load or a
// summation writes, then costs less, and flush() must follow the last write.
class ValueRowWriter {
public:
    ValueRowWriter(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                   int rowsPerStatement = 1);
    // A value of the writer's institution; false for a zero, which is not
    // stored. Throws db::Error when the value may not be stored or the write fails.
    bool write(qint64 tableIdent, int column, int row, double value) {
        return write(m_institution, tableIdent, column, row, value);
    }
    // The same for a run that writes many institutions.
    bool write(qint64 institution, qint64 tableIdent, int column, int row, double value);
    // Writes the rows still waiting. Throws db::Error.
    void flush();

private:
    db::ValueRowBatch m_insert;
    qint64 m_institution;
    int m_year;
};

class TableValueWriter {
public:
    // Deletes what the table holds for the institution and year; the caller
    // runs the writer inside its transaction. Throws db::Error.
    TableValueWriter(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                     qint64 tableIdent);
    // Stores one value at stored (column, row); false for a zero, which is
    // not stored. Throws db::Error when the write fails.
    bool write(int column, int row, double value);

private:
    ValueRowWriter m_rows;
    qint64 m_tableIdent;
};

// Stores one typed value of one cell in its own transaction: a zero deletes
// the cell's row, any other value replaces or adds it (as num::stored).
// Throws db::Error.
void WriteCellValue(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                    qint64 tableIdent, int column, int row, double value);

// The rows of one institution and year of a value table, read as they lie
// (db::readInstitutionRows): `fields` a select list of numbers. The table
// goes down as ValueTable; its SQL name is ValueTableName's, checked once
// (db::TableName). Throws db::Error.
void ReadInstitutionValues(const QSqlDatabase &database, ValueTable valueTable, qint64 institution, int year,
                           const QString &fields, int columns, const std::function<void(const double *fields)> &row);
