#pragma once
// TFixedCellsGrid: a string grid whose first row and first column can be
// fixed cells, as the titles of a table: they stay in place while the grid
// scrolls, cannot be made current, look like headers, and dragging the line
// between two of them resizes the columns (in the fixed row) and the rows
// (in the fixed column).
#include <QTableWidget>

class QTableView;

class TFixedCellsGrid : public QTableWidget {
    Q_OBJECT
public:
    TFixedCellsGrid(int rows, int columns, QWidget *parent = nullptr);

    // One fixed row and one fixed column while on (and while the grid has at
    // least two rows and two columns). Turning them on moves the current
    // cell off them.
    void setFixedCells(bool on);
    bool fixedCells() const { return m_fixed; }
    // True while the fixed cells are shown (on, and the grid large enough).
    bool fixedCellsShown() const;

    // The views that draw the fixed cells: the row, the column and their
    // corner; nullptr while off.
    QTableView *fixedRowView() const { return m_row; }
    QTableView *fixedColumnView() const { return m_column; }
    QTableView *fixedCornerView() const { return m_corner; }

    // Grip for resizing: within this many pixels of a line between fixed cells.
    static constexpr int kGrip = 3;

protected:
    void updateGeometries() override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QTableView *makeFixedView();
    void layoutFixed();
    void copySizes(QTableView *view) const;
    // The line under pos of a fixed view: a column (its right edge) or a row
    // (its bottom edge); -1 when none.
    struct Grip {
        Qt::Orientation orientation = Qt::Horizontal;   // Horizontal: a column width
        int section = -1;
    };
    Grip gripAt(QTableView *view, const QPoint &pos) const;

    bool m_fixed = false;
    QTableView *m_row = nullptr;
    QTableView *m_column = nullptr;
    QTableView *m_corner = nullptr;
    Grip m_drag;
    int m_dragStart = 0;
    int m_dragSize = 0;
};
