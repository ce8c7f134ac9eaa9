// The title row and column of a grid as fixed cells: in place while the grid
// scrolls, never current, and their lines dragged to resize.
#include "widgets/FixedCellsGrid.h"

#include <QApplication>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Grid {
    TFixedCellsGrid g{40, 30};
    Grid() {
        for (int r = 0; r < g.rowCount(); ++r)
            for (int c = 0; c < g.columnCount(); ++c)
                g.setItem(r, c, new QTableWidgetItem(r == 0   ? QStringLiteral("Графа %1").arg(c)
                                                     : c == 0 ? QStringLiteral("Строка %1").arg(r)
                                                              : QString::number(r * 0.1 + c)));
        g.resize(400, 300);
        g.show();
        QApplication::processEvents();
    }
};

} // namespace

TEST(FixedCells, TitlesStayInPlaceWhileTheGridScrolls) {
    Grid t;
    TFixedCellsGrid &g = t.g;
    EXPECT_EQ(g.fixedRowView(), nullptr);
    g.setCurrentCell(0, 0);
    g.setFixedCells(true);
    QApplication::processEvents();
    ASSERT_TRUE(g.fixedCellsShown());
    EXPECT_EQ(g.currentRow(), 1);        // the current cell leaves the titles
    EXPECT_EQ(g.currentColumn(), 1);
    QTableView *row = g.fixedRowView(), *column = g.fixedColumnView(), *corner = g.fixedCornerView();
    const QPoint rowAt = row->pos(), columnAt = column->pos();
    EXPECT_EQ(row->height(), g.rowHeight(0));
    EXPECT_EQ(column->width(), g.columnWidth(0));
    EXPECT_EQ(corner->size(), QSize(g.columnWidth(0), g.rowHeight(0)));

    g.verticalScrollBar()->setValue(g.verticalScrollBar()->maximum());
    g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum());
    QApplication::processEvents();
    EXPECT_EQ(row->pos(), rowAt);
    EXPECT_EQ(column->pos(), columnAt);
    // The fixed row shows the titles of the columns the grid shows, the
    // fixed column those of its rows.
    EXPECT_EQ(row->horizontalScrollBar()->value(), g.horizontalScrollBar()->value());
    EXPECT_EQ(row->indexAt(QPoint(2, 2)).row(), 0);
    EXPECT_EQ(column->verticalScrollBar()->value(), g.verticalScrollBar()->value());
    EXPECT_EQ(column->indexAt(QPoint(2, 2)).column(), 0);
    EXPECT_EQ(corner->indexAt(QPoint(2, 2)), g.model()->index(0, 0));

    // The keys do not reach the titles; a cell is scrolled out from under them.
    g.setCurrentCell(5, 1);
    QTest::keyClick(&g, Qt::Key_Left);
    EXPECT_EQ(g.currentColumn(), 1);
    QTest::keyClick(&g, Qt::Key_Home, Qt::ControlModifier);
    EXPECT_EQ(g.currentRow(), 1);
    EXPECT_EQ(g.currentColumn(), 1);
    QApplication::processEvents();
    const QRect current = g.visualRect(g.currentIndex());
    EXPECT_GE(current.top(), g.rowHeight(0));
    EXPECT_GE(current.left(), g.columnWidth(0));

    g.setFixedCells(false);
    EXPECT_EQ(g.fixedRowView(), nullptr);
    g.setCurrentCell(0, 0);
    EXPECT_EQ(g.currentRow(), 0);
}

TEST(FixedCells, DraggingTheirLinesResizesColumnsAndRows) {
    Grid t;
    TFixedCellsGrid &g = t.g;
    g.setFixedCells(true);
    QApplication::processEvents();
    QTableView *row = g.fixedRowView(), *column = g.fixedColumnView();
    // The line right of column 2 in the fixed row.
    const int edge = row->columnViewportPosition(2) + row->columnWidth(2);
    const int before = g.columnWidth(2);
    QWidget *vp = row->viewport();
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(edge, 5));
    QTest::mouseMove(vp, QPoint(edge + 30, 5));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(edge + 30, 5));
    EXPECT_EQ(g.columnWidth(2), before + 30);
    EXPECT_EQ(row->columnWidth(2), before + 30);

    // The line below row 3 in the fixed column.
    const int bottom = column->rowViewportPosition(3) + column->rowHeight(3);
    const int height = g.rowHeight(3);
    QWidget *cv = column->viewport();
    QTest::mousePress(cv, Qt::LeftButton, {}, QPoint(5, bottom));
    QTest::mouseMove(cv, QPoint(5, bottom + 12));
    QTest::mouseRelease(cv, Qt::LeftButton, {}, QPoint(5, bottom + 12));
    EXPECT_EQ(g.rowHeight(3), height + 12);

    // The title column itself, through the corner: the fixed views follow.
    const int w0 = g.columnWidth(0);
    QWidget *corner = g.fixedCornerView()->viewport();
    QTest::mousePress(corner, Qt::LeftButton, {}, QPoint(w0, 3));
    QTest::mouseMove(corner, QPoint(w0 + 40, 3));
    QTest::mouseRelease(corner, Qt::LeftButton, {}, QPoint(w0 + 40, 3));
    QApplication::processEvents();
    EXPECT_EQ(g.columnWidth(0), w0 + 40);
    EXPECT_EQ(column->width(), w0 + 40);

    // Away from a line a press resizes nothing and makes nothing current.
    const QSize sizes(g.columnWidth(1), g.rowHeight(1));
    QTest::mouseClick(vp, Qt::LeftButton, {}, QPoint(row->columnViewportPosition(1) + 10, 5));
    EXPECT_EQ(QSize(g.columnWidth(1), g.rowHeight(1)), sizes);
    EXPECT_GE(g.currentRow(), 1);
}

TEST(FixedCells, TooSmallAGridShowsNone) {
    TFixedCellsGrid g(1, 5);
    g.show();
    g.setFixedCells(true);
    QApplication::processEvents();
    EXPECT_FALSE(g.fixedCellsShown());
    EXPECT_FALSE(g.fixedRowView()->isVisible());
    g.setRowCount(3);
    QApplication::processEvents();
    EXPECT_TRUE(g.fixedCellsShown());
    EXPECT_TRUE(g.fixedRowView()->isVisible());
}
