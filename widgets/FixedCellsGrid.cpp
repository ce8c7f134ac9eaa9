#include "widgets/FixedCellsGrid.h"

#include <QCoreApplication>
#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTableView>

TFixedCellsGrid::TFixedCellsGrid(int rows, int columns, QWidget *parent) : QTableWidget(rows, columns, parent) {
    // Pixel scrolling: the first scrolled row slides under the fixed row
    // instead of vanishing at once.
    setVerticalScrollMode(ScrollPerPixel);
    setHorizontalScrollMode(ScrollPerPixel);
    connect(horizontalHeader(), &QHeaderView::sectionResized, this, [this](int c, int, int size) {
        for (QTableView *v : {m_row, m_column, m_corner})
            if (v) v->setColumnWidth(c, size);
        layoutFixed();
    });
    connect(verticalHeader(), &QHeaderView::sectionResized, this, [this](int r, int, int size) {
        for (QTableView *v : {m_row, m_column, m_corner})
            if (v) v->setRowHeight(r, size);
        layoutFixed();
    });
}

bool TFixedCellsGrid::fixedCellsShown() const { return m_fixed && rowCount() >= 2 && columnCount() >= 2; }

QTableView *TFixedCellsGrid::makeFixedView() {
    auto *v = new QTableView(this);
    v->setModel(model());
    v->setItemDelegate(itemDelegate());
    v->setFocusPolicy(Qt::NoFocus);
    v->setSelectionMode(NoSelection);
    v->setEditTriggers(NoEditTriggers);
    v->horizontalHeader()->hide();
    v->verticalHeader()->hide();
    v->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    v->setVerticalScrollMode(ScrollPerPixel);
    v->setHorizontalScrollMode(ScrollPerPixel);
    v->setFrameShape(QFrame::NoFrame);
    v->setGridStyle(gridStyle());
    v->setWordWrap(wordWrap());
    QPalette p = v->palette();
    p.setColor(QPalette::Base, palette().color(QPalette::Button));
    v->setPalette(p);
    v->viewport()->setMouseTracking(true);
    v->viewport()->installEventFilter(this);
    copySizes(v);
    v->show();
    return v;
}

void TFixedCellsGrid::copySizes(QTableView *v) const {
    for (int c = 0; c < columnCount(); ++c)
        if (v->columnWidth(c) != columnWidth(c)) v->setColumnWidth(c, columnWidth(c));
    for (int r = 0; r < rowCount(); ++r)
        if (v->rowHeight(r) != rowHeight(r)) v->setRowHeight(r, rowHeight(r));
}

void TFixedCellsGrid::setFixedCells(bool on) {
    if (on == m_fixed) return;
    m_fixed = on;
    if (on) {
        m_column = makeFixedView();
        m_row = makeFixedView();
        m_corner = makeFixedView();
        connect(horizontalScrollBar(), &QScrollBar::valueChanged, m_row->horizontalScrollBar(), &QScrollBar::setValue);
        connect(verticalScrollBar(), &QScrollBar::valueChanged, m_column->verticalScrollBar(), &QScrollBar::setValue);
        if (fixedCellsShown() && (currentRow() < 1 || currentColumn() < 1))
            setCurrentCell(std::max(1, currentRow()), std::max(1, currentColumn()));
    } else {
        delete m_row;
        delete m_column;
        delete m_corner;
        m_row = m_column = m_corner = nullptr;
        m_drag = Grip();
    }
    layoutFixed();
}

void TFixedCellsGrid::layoutFixed() {
    if (!m_fixed || !m_row) return;
    const bool shown = fixedCellsShown();
    for (QTableView *v : {m_row, m_column, m_corner}) v->setVisible(shown);
    if (!shown) return;
    for (QTableView *v : {m_row, m_column, m_corner}) copySizes(v);
    const QRect vp = viewport()->geometry();
    const int w0 = std::min(columnWidth(0), vp.width()), h0 = std::min(rowHeight(0), vp.height());
    m_row->setGeometry(vp.left(), vp.top(), vp.width(), h0);
    m_column->setGeometry(vp.left(), vp.top(), w0, vp.height());
    m_corner->setGeometry(vp.left(), vp.top(), w0, h0);
    m_row->horizontalScrollBar()->setValue(horizontalScrollBar()->value());
    m_row->verticalScrollBar()->setValue(0);
    m_column->verticalScrollBar()->setValue(verticalScrollBar()->value());
    m_column->horizontalScrollBar()->setValue(0);
    m_corner->horizontalScrollBar()->setValue(0);
    m_corner->verticalScrollBar()->setValue(0);
    m_row->raise();
    m_column->raise();
    m_corner->raise();
}

void TFixedCellsGrid::updateGeometries() {
    QTableWidget::updateGeometries();
    layoutFixed();
}

void TFixedCellsGrid::resizeEvent(QResizeEvent *event) {
    QTableWidget::resizeEvent(event);
    layoutFixed();
}

QModelIndex TFixedCellsGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    QModelIndex i = QTableWidget::moveCursor(action, modifiers);
    if (!fixedCellsShown() || !i.isValid()) return i;
    return model()->index(std::max(1, i.row()), std::max(1, i.column()));
}

void TFixedCellsGrid::scrollTo(const QModelIndex &index, ScrollHint hint) {
    QTableWidget::scrollTo(index, hint);
    if (!fixedCellsShown() || !index.isValid() || index.row() < 1 || index.column() < 1) return;
    // A cell under the fixed row or column is scrolled out from under it.
    const QRect r = visualRect(index);
    if (r.top() < rowHeight(0)) verticalScrollBar()->setValue(verticalScrollBar()->value() + r.top() - rowHeight(0));
    if (r.left() < columnWidth(0))
        horizontalScrollBar()->setValue(horizontalScrollBar()->value() + r.left() - columnWidth(0));
}

TFixedCellsGrid::Grip TFixedCellsGrid::gripAt(QTableView *v, const QPoint &pos) const {
    for (int col : {v->columnAt(pos.x()), v->columnAt(pos.x() - kGrip)}) {
        if (col < 0) continue;
        const int edge = v->columnViewportPosition(col) + v->columnWidth(col);
        if (std::abs(pos.x() - edge) <= kGrip) return {Qt::Horizontal, col};
    }
    for (int row : {v->rowAt(pos.y()), v->rowAt(pos.y() - kGrip)}) {
        if (row < 0) continue;
        const int edge = v->rowViewportPosition(row) + v->rowHeight(row);
        if (std::abs(pos.y() - edge) <= kGrip) return {Qt::Vertical, row};
    }
    return {};
}

bool TFixedCellsGrid::eventFilter(QObject *watched, QEvent *event) {
    QTableView *view = nullptr;
    for (QTableView *v : {m_row, m_column, m_corner})
        if (v && watched == v->viewport()) view = v;
    if (!view) return QTableWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        const Grip g = gripAt(view, e->position().toPoint());
        if (e->button() != Qt::LeftButton || g.section < 0) return true;
        m_drag = g;
        m_dragStart = g.orientation == Qt::Horizontal ? int(e->globalPosition().x()) : int(e->globalPosition().y());
        m_dragSize = g.orientation == Qt::Horizontal ? columnWidth(g.section) : rowHeight(g.section);
        return true;
    }
    case QEvent::MouseMove: {
        auto *e = static_cast<QMouseEvent *>(event);
        if (m_drag.section >= 0) {
            const int now = m_drag.orientation == Qt::Horizontal ? int(e->globalPosition().x()) : int(e->globalPosition().y());
            const int size = std::max(2, m_dragSize + now - m_dragStart);
            if (m_drag.orientation == Qt::Horizontal) setColumnWidth(m_drag.section, size);
            else setRowHeight(m_drag.section, size);
            return true;
        }
        const Grip g = gripAt(view, e->position().toPoint());
        if (g.section < 0) view->viewport()->unsetCursor();
        else view->viewport()->setCursor(g.orientation == Qt::Horizontal ? Qt::SplitHCursor : Qt::SplitVCursor);
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_drag = Grip();
        return true;
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        // The fixed cells do not scroll on their own: the grid does.
        if (event->type() == QEvent::Wheel) QCoreApplication::sendEvent(viewport(), event);
        return true;
    default:
        return QTableWidget::eventFilter(watched, event);
    }
}
