#pragma once
// Values of one table as doubles, indexed [stored column, stored row] between
// inclusive bounds. A cell with no stored value holds 0.
//
// A cell built by add() is a sum: the matrix keeps the largest magnitude of
// its terms, and at() gives the sum kept to the precision of that term
// (num::settledSum), so that sums that cancel read 0. Every sum of values
// into a matrix goes through add().
#include "engine/EngineError.h"
#include "engine/NumberFormat.h"
#include "engine/TableLimits.h"

#include <QList>

#include <algorithm>

class ValueMatrix {
public:
    // A table past the limits of engine/TableLimits.h is refused (EngineError), never allocated. A table's
    // matrix spans its value lines and the last header line before them (engine/CellNumbering), one line more
    // than the table has on each axis when it has no header lines: that line is within the limits.
    void create(int lowColumn, int highColumn, int lowRow, int highRow) {
        const qint64 cols = highColumn >= lowColumn ? qint64(highColumn) - lowColumn + 1 : 0;
        const qint64 rows = highRow >= lowRow ? qint64(highRow) - lowRow + 1 : 0;
        if (!limits::tableSizeFits(std::max<qint64>(0, cols - 1), std::max<qint64>(0, rows - 1)))
            throw EngineError(QStringLiteral("Таблица слишком велика: %1 граф и %2 строк (не более %3 граф и %4 строк).")
                                  .arg(cols).arg(rows).arg(limits::kMaxTableColumns).arg(limits::kMaxTableRows));
        m_lc = lowColumn; m_hc = highColumn; m_lr = lowRow; m_hr = highRow;
        m_values = QList<double>(qsizetype(cols) * rows, 0.0);
        m_largest.clear();
        m_created = true;
    }
    void clear() { m_values.clear(); m_largest.clear(); m_created = false; m_lc = m_lr = 0; m_hc = m_hr = -1; }
    bool isCreated() const { return m_created; }
    int lowColumn() const { return m_lc; }
    int highColumn() const { return m_hc; }
    int lowRow() const { return m_lr; }
    int highRow() const { return m_hr; }
    bool contains(int column, int row) const {
        return m_created && column >= m_lc && column <= m_hc && row >= m_lr && row <= m_hr;
    }
    // Reading outside the bounds gives 0; writing outside is ignored.
    double at(int column, int row) const {
        if (!contains(column, row)) return 0.0;
        const qsizetype i = index(column, row);
        const double v = m_values[i];
        if (m_largest.isEmpty() || !(m_largest[i] > (v < 0 ? -v : v))) return v;
        return num::settledSum(v, m_largest[i]);
    }
    void set(int column, int row, double v) {
        if (!contains(column, row)) return;
        const qsizetype i = index(column, row);
        m_values[i] = v;
        if (!m_largest.isEmpty()) m_largest[i] = 0;
    }
    void add(int column, int row, double v) {
        if (!contains(column, row)) return;
        const qsizetype i = index(column, row);
        m_values[i] += v;
        if (m_largest.isEmpty()) m_largest = QList<double>(m_values.size(), 0.0);
        const double a = v < 0 ? -v : v;
        if (a > m_largest[i]) m_largest[i] = a;
    }
    void fill(double v) { m_values.fill(v); m_largest.clear(); }

private:
    qsizetype index(int column, int row) const {
        return qsizetype(column - m_lc) * (m_hr - m_lr + 1) + (row - m_lr);
    }
    QList<double> m_values;
    QList<double> m_largest;   // per cell, the largest magnitude of the terms added; empty until the first add()
    int m_lc = 0, m_hc = -1, m_lr = 0, m_hr = -1;
    bool m_created = false;
};
