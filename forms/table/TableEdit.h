#pragma once
// What typing does to the text of the current cell of the table window, how
// a value is shown, and how single cells and whole tables are written to the
// value table. No widgets here: the window calls these.
#include "engine/WorkModes.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class ValueMatrix;

namespace tableedit {

// Adds or subtracts the two parts of "a+b" / "a-b" (the first operator after
// the first character; a leading "-" is the sign of a). A missing or empty
// part counts as 0; a part that is no number counts as 0 as well. Whole
// numbers are added in 64 bits; decimals give two decimals. Text without an
// operator comes back unchanged.
QString EvalCellSum(const QString &text, bool floatTable);

// The number a cell text stands for (0 for empty or unreadable text). A
// trailing operator is ignored and a pending sum is worked out.
double cellTextValue(const QString &text, bool floatTable);

// Display format: two decimals when floatDisplay, a whole number otherwise;
// the value 0 gives the empty text unless keepZero.
QString displayText(double value, bool floatDisplay, bool keepZero = false);

// Text typed into the current cell and the text it had when it was entered.
struct CellEditor {
    QString editText;
    QString savedText;

    // One typed character. Returns true when it changed the text (the cell
    // must be redrawn). Digits append; "." or "," append "." in a decimal
    // table once per number; "+"/"-" work out the pending sum and append the
    // operator (ignored on empty text); Backspace removes the last character;
    // the letter "я" empties the text. Everything else is ignored. In a
    // whole-number table "." and "," are refused, and so are the digits
    // after them, so a typed value never changes its magnitude; `refused`
    // tells the caller to beep.
    bool typeChar(QChar ch, bool floatTable);
    bool refused = false;
    bool inRefusedFraction = false;
    // F9 while a separator was refused (the table now takes decimals):
    // typedText (the text before the switch) goes on with the separator, so
    // "1", ",", F9, "5" gives 1.5 and never 15. True when it did.
    bool continueRefusedFraction(const QString &typedText);
    void clear() {
        editText.clear();
        inRefusedFraction = false;
    }
    // Ctrl+E: takes the entered text back. True when it differed.
    bool undo();
    bool changed() const { return editText != savedText; }
    void reset(const QString &text) {
        editText = savedText = text;
        inRefusedFraction = false;
    }
};

// What the window shows while a separator (and the digits after it) is
// refused in a whole-number table: the reason and the key that switches to
// decimals.
QString wholeNumberHint(QChar separator);

// Where Space and Enter move in a grid of columns x rows.
struct GridMove {
    int column = 0;
    int row = 0;
};
// Next cell of the row; after the last column column 0 of the next row (of
// the same row on the last row).
GridMove spaceMove(int column, int row, int columns, int rows);
// Column 0 of the next row (of the last row when already there).
GridMove enterMove(int column, int row, int columns, int rows);

// Where one cell lives in the value table.
struct CellTarget {
    ValueTable table = ValueTable::None;   // None is refused with db::Error
    int year = 0;
    qint64 tableIdent = 0;
    qint64 hospital = 0;
};

// Writes one cell: 0 deletes its row(s); otherwise the stored row is updated
// and a row is inserted when none was there. One transaction. Throws
// db::Error with the database's message.
void SaveCellValue(const QSqlDatabase &db, const CellTarget &target, int storedColumn, int storedRow,
                   double value);

// Guards of the table window against a table whose structure changed while
// it is open (another window edited it, or the caches kept the old one).
// Why the matrix read for display does not cover the table of colcount x
// rowcount with its fixed lines as the window lays it out; empty when it
// does.
QString matrixShapeFault(const ValueMatrix &matrix, int colcount, int rowcount, int fixcols, int fixrows);
// Before a cell is written: the table as it is stored now must still hold
// the stored cell. Returns the message that refuses the write ("Ошибка при
// чтении данных из таблицы: ..." when the table cannot be read, "Ошибка:
// выход за границы массива данных. Колонка: .., Строка: .." when the cell
// lies outside it), or an empty text.
QString cellWriteFault(const QSqlDatabase &mainDb, qint64 tableIdent, int storedColumn, int storedRow);

// Deletes every stored value of the table for the institution.
void ClearTableValues(const QSqlDatabase &db, const CellTarget &target);

// Reads the stored values of one table for one institution into a matrix of
// stored columns fixcols+2..colcount+1 and rows fixrows+2..rowcount+1.
void readTableValues(const QSqlDatabase &db, const CellTarget &target, int colcount, int rowcount,
                     int fixcols, int fixrows, ValueMatrix &matrix);

// Checksum over values in order: h := 5381; every non-zero value, as a 4-byte
// float, is mixed in as h := h xor (h shl 5) xor its bits (32-bit unsigned).
quint32 valuesChecksum(const QList<double> &values);

} // namespace tableedit
