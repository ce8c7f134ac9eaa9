#include "forms/table/TableEdit.h"
#include "engine/CellNumbering.h"

#include "engine/Checksums.h"
#include "engine/NumberFormat.h"
#include "engine/ValueMatrix.h"
#include "engine/TableValues.h"
#include "engine/TableShape.h"
#include "platform/Database.h"
#include "platform/Errors.h"

#include <QSqlQuery>
#include <cmath>
#include <limits>

namespace tableedit {

namespace {

// Position of the operator that splits a running sum: the first "+" after the
// first character, else the first "-" after the first character.
int operatorPos(const QString &text) {
    const int plus = int(text.indexOf(u'+', 1));
    if (plus > 0) return plus;
    const int minus = int(text.indexOf(u'-', 1));
    return minus > 0 ? minus : -1;
}

bool readInteger(const QString &part, qint64 &out) {
    const QString t = part.trimmed();
    if (t.isEmpty() || t == u"-") {
        out = 0;
        return true;
    }
    bool ok = false;
    out = t.toLongLong(&ok);
    return ok;
}

double readNumber(const QString &part) {
    const QString t = part.trimmed();
    if (t.isEmpty() || t == u"-" || t == u"." || t == u"-.") return 0.0;
    double v = 0;
    return num::parse(t, v) ? v : 0.0;
}

QString wholeText(double v) { return num::wholeText(v); }

} // namespace

QString EvalCellSum(const QString &text, bool floatTable) {
    const int pos = operatorPos(text);
    if (pos < 0) return text;
    const QString a = text.left(pos);
    const QString b = text.mid(pos + 1);
    const bool plus = text[pos] == u'+';
    if (!floatTable) {
        qint64 x = 0, y = 0, r = 0;
        if (readInteger(a, x) && readInteger(b, y)) {
            const bool overflow = plus ? __builtin_add_overflow(x, y, &r) : __builtin_sub_overflow(x, y, &r);
            if (!overflow) return QString::number(r);
        }
        const double d = plus ? readNumber(a) + readNumber(b) : readNumber(a) - readNumber(b);
        return wholeText(d);
    }
    const double d = plus ? readNumber(a) + readNumber(b) : readNumber(a) - readNumber(b);
    return num::fixed2(d);
}

double cellTextValue(const QString &source, bool floatTable) {
    QString t = source;
    while (!t.isEmpty() && (t.endsWith(u'+') || t.endsWith(u'-'))) t.chop(1);
    if (t.isEmpty()) return 0.0;
    // A sum of more than two parts cannot be typed, but a pasted text could
    // hold one: work it out part by part.
    for (int guard = 0; operatorPos(t) > 0 && guard < 64; ++guard) {
        const QString next = EvalCellSum(t, floatTable);
        if (next == t) break;
        t = next;
    }
    return readNumber(t);
}

QString displayText(double value, bool floatDisplay, bool keepZero) {
    if (value == 0.0 && !keepZero) return QString();
    if (floatDisplay) return num::fixed2(value);
    return wholeText(value);
}

bool CellEditor::typeChar(QChar ch, bool floatTable) {
    refused = false;
    if (ch.isDigit() && ch.unicode() < 128) {
        // The fraction of a number whose "," was refused would multiply it.
        if (inRefusedFraction) {
            refused = true;
            return false;
        }
        editText += ch;
        return true;
    }
    inRefusedFraction = false;
    if (ch == u'.' || ch == u',') {
        if (!floatTable) {
            refused = inRefusedFraction = true;
            return false;
        }
        // Only one decimal point in the number being typed.
        const int start = std::max(editText.lastIndexOf(u'+'), editText.lastIndexOf(u'-')) + 1;
        if (editText.mid(start).contains(u'.')) return false;
        editText += u'.';
        return true;
    }
    if (ch == u'+' || ch == u'-') {
        if (editText.isEmpty()) return false;
        editText = EvalCellSum(editText, floatTable) + ch;
        return true;
    }
    if (ch == u'\b') {
        if (editText.isEmpty()) return false;
        editText.chop(1);
        return true;
    }
    if (ch == QChar(0x044F)) {   // "я", code 255 of the Cyrillic code page
        editText.clear();
        return true;
    }
    return false;
}

bool CellEditor::continueRefusedFraction(const QString &typedText) {
    if (!inRefusedFraction) return false;
    editText = typedText + u'.';
    inRefusedFraction = false;
    return true;
}

QString wholeNumberHint(QChar separator) {
    return QStringLiteral("Таблица принимает только целые числа: \"%1\" и цифры после него не вводятся. "
                          "Для ввода дробных чисел нажмите F9.")
        .arg(separator);
}

bool CellEditor::undo() {
    if (editText == savedText) return false;
    editText = savedText;
    return true;
}

GridMove spaceMove(int column, int row, int columns, int rows) {
    if (column + 1 < columns) return {column + 1, row};
    return {0, row + 1 < rows ? row + 1 : row};
}

GridMove enterMove(int column, int row, int columns, int rows) {
    Q_UNUSED(column);
    Q_UNUSED(columns);
    return {0, row + 1 < rows ? row + 1 : row};
}

void SaveCellValue(const QSqlDatabase &d, const CellTarget &target, int storedColumn, int storedRow,
                   double typed) {
    WriteCellValue(d, target.table, target.hospital, target.year, target.tableIdent, storedColumn,
                   storedRow, typed);
}

QString matrixShapeFault(const ValueMatrix &m, int colcount, int rowcount, int fixcols, int fixrows) {
    const int lowColumn = cells::storedColumnOfGrid(0, fixcols), highColumn = cells::storedOfStruct(colcount);
    const int lowRow = cells::storedRowOfGrid(0, fixrows), highRow = cells::storedOfStruct(rowcount);
    if (!m.isCreated()) return QStringLiteral("значения таблицы не прочитаны");
    if (m.lowColumn() <= lowColumn && m.highColumn() >= highColumn && m.lowRow() <= lowRow && m.highRow() >= highRow)
        return QString();
    return QStringLiteral("значения прочитаны для граф %1..%2 и строк %3..%4, а в таблице графы %5..%6 и строки %7..%8 "
                          "(структура таблицы изменилась)")
        .arg(cells::structOfStored(m.lowColumn())).arg(cells::structOfStored(m.highColumn()))
        .arg(cells::structOfStored(m.lowRow())).arg(cells::structOfStored(m.highRow()))
        .arg(cells::structOfStored(lowColumn)).arg(colcount)
        .arg(cells::structOfStored(lowRow)).arg(rowcount);
}

QString cellWriteFault(const QSqlDatabase &mainDb, qint64 tableIdent, int sc, int sr) {
    std::optional<TableShape> shape;
    try {
        shape = FindTableShape(mainDb, tableIdent);
    } catch (const std::exception &e) {
        return QStringLiteral("Ошибка при чтении данных из таблицы: ") + winutil::errorText(e);
    }
    if (!shape)
        return QStringLiteral("Ошибка при чтении данных из таблицы: таблицы с ID %1 больше нет").arg(tableIdent);
    if (sc < cells::storedColumnOfGrid(0, shape->fixcols) || sc > cells::storedOfStruct(shape->colcount) ||
        sr < cells::storedRowOfGrid(0, shape->fixrows) || sr > cells::storedOfStruct(shape->rowcount))
        return QStringLiteral("Ошибка: выход за границы массива данных. Колонка: %1, Строка: %2").arg(sc).arg(sr);
    return QString();
}

void ClearTableValues(const QSqlDatabase &d, const CellTarget &target) {
    const QString t = ValueTableName(target.table);
    db::exec(d, QStringLiteral("delete from ") + t + QStringLiteral(" where year=? and hospital=? and \"table\"=?"),
             {target.year, target.hospital, target.tableIdent});
}

void readTableValues(const QSqlDatabase &d, const CellTarget &target, int colcount, int rowcount, int fixcols,
                     int fixrows, ValueMatrix &matrix) {
    const QString t = ValueTableName(target.table);
    matrix.create(cells::storedColumnOfGrid(0, fixcols), colcount + 1, cells::storedRowOfGrid(0, fixrows),
                  rowcount + 1);
    QSqlQuery q = db::exec(d, QStringLiteral("select \"column\", \"row\", data from ") + t +
                                  QStringLiteral(" where year=? and hospital=? and \"table\"=?"),
                           {target.year, target.hospital, target.tableIdent});
    while (q.next()) matrix.set(q.value(0).toInt(), q.value(1).toInt(), q.value(2).toDouble());
}

quint32 valuesChecksum(const QList<double> &values) {
    quint32 h = 5381;
    for (double v : values)
        if (float(v) != 0.0f) h = ChecksumStep(h, v);
    return h;
}

} // namespace tableedit
