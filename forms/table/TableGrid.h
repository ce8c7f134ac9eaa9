#pragma once
// TableGrid: the drawn grid of the table window.
// The drawn grid of the table window: the data cells with a frozen corner
// band, a frozen band of column-header titles above and of row-header titles
// at the left. Every title keeps its rectangle (band coordinates) so that a
// title can be found again by position. Cells are drawn by the owner through
// setCellPainter; titles are drawn here (wrap, alignment, indent, rotation).
#include <QAbstractScrollArea>
#include <QColor>
#include <QFont>
#include <QList>
#include <QPaintDevice>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

struct GridTitle {
    enum Band { Corner, RowHeader, ColumnHeader };
    Band band = Corner;
    int column = 0;         // top-left structure column and row of the title
    int row = 0;
    int spanStart = 0;      // rows (row header) or columns (column header) it spans;
    int spanEnd = 0;        // the column itself for corner titles
    QString key;            // span key "R1C3:R2C5"
    QString tchars;
    QString text;           // colon code already decoded
    QFont font;
    QRect rect;             // within its band
    QColor background = Qt::white;
    // Wrapped lines, worked out on first drawing.
    QStringList lines;
    bool wrapped = false;
    int wrapWidth = 0;      // line length the lines were wrapped for
};

class TableGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TableGrid(QWidget *parent = nullptr);

    // Pixel sizes of the data columns and rows and of the header bands.
    void setSizes(const QList<int> &columnPixels, const QList<int> &rowPixels, int cornerWidth,
                   int cornerHeight);
    void setTitles(QList<GridTitle> titles);
    const QList<GridTitle> &titles() const { return m_titles; }
    // Replaces one title (after it was edited) and repaints it; its lines
    // are wrapped again.
    void updateTitle(int index, const GridTitle &title);
    void clearAll();

    int columnCount() const { return int(m_colPx.size()); }
    int rowCount() const { return int(m_rowPx.size()); }
    int currentColumn() const { return m_col; }
    int currentRow() const { return m_row; }
    // Moves the current cell through the owner's cell choice (which may
    // refuse), keeps it in view and repaints. Returns false when the move
    // was refused.
    bool setCurrentCell(int column, int row);
    // Sets the current cell without asking (after loading).
    void resetCurrentCell(int column, int row);

    // Rectangle of a data cell in viewport coordinates.
    QRect cellRect(int column, int row) const;
    // Data cell under a viewport point; false outside the data area.
    bool cellAt(const QPoint &pos, int &column, int &row) const;
    // Index of the title under a viewport point, -1 when none.
    int titleAt(const QPoint &pos) const;
    // Rectangle of a title in viewport coordinates.
    QRect titleViewRect(const GridTitle &t) const;

    // Paints the headers of structure column and row in the colour: the
    // column-header titles spanning the column and the row-header titles
    // spanning the row.
    void highlightHeaders(int structColumn, int structRow, const QColor &color);
    void updateCell(int column, int row);
    void ensureVisible(int column, int row);

    // Draws one title into rect (the title's own rectangle on the painter).
    static void drawTitle(QPainter &p, GridTitle &title, const QRect &rect);
    // Where the title's lines go when drawn into rect: one rectangle per
    // wrapped line, a rotated line's rectangle standing upright. device gives
    // the font metrics (the screen when null).
    static QList<QRect> titleLineRects(GridTitle &title, const QRect &rect, const QPaintDevice *device = nullptr);

    // The owner's cell drawing: painter, rectangle, grid column and row.
    using CellPainter = std::function<void(QPainter &, const QRect &, int, int)>;
    void setCellPainter(CellPainter painter) { m_cellPainter = std::move(painter); }
    // Asked before the current cell changes (grid column and row); false keeps it.
    using CellChoice = std::function<bool(int, int)>;
    void setCellChoice(CellChoice choice) { m_cellChoice = std::move(choice); }

signals:
    void cellDoubleClicked(int column, int row);
    void titleDoubleClicked(int index);
    void currentCellChanged(int column, int row);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    CellPainter m_cellPainter;
    CellChoice m_cellChoice;
    void updateScrollBars();
    int columnX(int column) const { return m_colX[column]; }   // from the data origin
    int rowY(int row) const { return m_rowY[row]; }
    int dataWidth() const { return m_colX.isEmpty() ? 0 : m_colX.last(); }
    int dataHeight() const { return m_rowY.isEmpty() ? 0 : m_rowY.last(); }
    int pageRows() const;

    QList<int> m_colPx, m_rowPx;
    QList<int> m_colX, m_rowY;   // prefix sums of size + 1 line, count + 1 items
    int m_cornerW = 0, m_cornerH = 0;
    QList<GridTitle> m_titles;
    int m_col = 0, m_row = 0;
};
