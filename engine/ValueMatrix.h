#pragma once
// Values of one table as doubles, indexed [stored column, stored row] between
// inclusive bounds. A cell with no stored value holds 0.
#include "engine/EngineError.h"
#include "engine/TableLimits.h"

#include <QList>

class ValueMatrix {
public:
    // A table past the limits of engine/TableLimits.h is refused (EngineError), never allocated.
    void create(int lowColumn, int highColumn, int lowRow, int highRow) {
        const qint64 cols = highColumn >= lowColumn ? qint64(highColumn) - lowColumn + 1 : 0;
        const qint64 rows = highRow >= lowRow ? qint64(highRow) - lowRow + 1 : 0;
        if (!limits::tableSizeFits(cols, rows))
            throw EngineError(QStringLiteral("Таблица слишком велика: %1 граф и %2 строк (не более %3 граф и %4 строк).")
                                  .arg(cols).arg(rows).arg(limits::kMaxTableColumns).arg(limits::kMaxTableRows));
        m_lc = lowColumn; m_hc = highColumn; m_lr = lowRow; m_hr = highRow;
        m_values = QList<double>(qsizetype(cols) * rows, 0.0);
        m_created = true;
    }
    void clear() { m_values.clear(); m_created = false; m_lc = m_lr = 0; m_hc = m_hr = -1; }
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
        return contains(column, row) ? m_values[index(column, row)] : 0.0;
    }
    void set(int column, int row, double v) {
        if (contains(column, row)) m_values[index(column, row)] = v;
    }
    void add(int column, int row, double v) {
        if (contains(column, row)) m_values[index(column, row)] += v;
    }
    void fill(double v) { m_values.fill(v); }

private:
    qsizetype index(int column, int row) const {
        return qsizetype(column - m_lc) * (m_hr - m_lr + 1) + (row - m_lr);
    }
    QList<double> m_values;
    int m_lc = 0, m_hc = -1, m_lr = 0, m_hr = -1;
    bool m_created = false;
};
