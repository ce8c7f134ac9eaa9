#include "forms/table/TableGrid.h"

#include "forms/table/TableLayout.h"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

namespace {
const QColor kLineColor(128, 128, 128);

QList<int> prefix(const QList<int> &sizes) {
    QList<int> out;
    out.reserve(sizes.size() + 1);
    int x = 0;
    out.append(0);
    for (int s : sizes) {
        x += std::max(0, s) + 1;
        out.append(x);
    }
    return out;
}

// Index of the item that holds offset pos in a prefix list (clamped).
int indexAt(const QList<int> &starts, int pos) {
    if (starts.size() < 2) return 0;
    auto it = std::upper_bound(starts.begin(), starts.end(), pos);
    int i = int(it - starts.begin()) - 1;
    return std::clamp(i, 0, int(starts.size()) - 2);
}
} // namespace

TableGrid::TableGrid(QWidget *parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    horizontalScrollBar()->setSingleStep(20);
    verticalScrollBar()->setSingleStep(20);
    m_colX = {0};
    m_rowY = {0};
}

void TableGrid::setSizes(const QList<int> &columnPixels, const QList<int> &rowPixels, int cornerWidth,
                         int cornerHeight) {
    m_colPx = columnPixels;
    m_rowPx = rowPixels;
    m_colX = prefix(m_colPx);
    m_rowY = prefix(m_rowPx);
    m_cornerW = std::max(0, cornerWidth);
    m_cornerH = std::max(0, cornerHeight);
    m_col = std::clamp(m_col, 0, std::max(0, columnCount() - 1));
    m_row = std::clamp(m_row, 0, std::max(0, rowCount() - 1));
    updateScrollBars();
    viewport()->update();
}

void TableGrid::setTitles(QList<GridTitle> titles) {
    m_titles = std::move(titles);
    viewport()->update();
}

void TableGrid::updateTitle(int index, const GridTitle &title) {
    if (index < 0 || index >= m_titles.size()) return;
    m_titles[index] = title;
    m_titles[index].wrapped = false;
    m_titles[index].lines.clear();
    viewport()->update();
}

void TableGrid::clearAll() {
    m_titles.clear();
    setSizes({}, {}, 0, 0);
    m_col = m_row = 0;
}

void TableGrid::updateScrollBars() {
    const QSize vs = viewport()->size();
    horizontalScrollBar()->setPageStep(std::max(1, vs.width() - m_cornerW));
    verticalScrollBar()->setPageStep(std::max(1, vs.height() - m_cornerH));
    horizontalScrollBar()->setRange(0, std::max(0, dataWidth() + 1 - (vs.width() - m_cornerW)));
    verticalScrollBar()->setRange(0, std::max(0, dataHeight() + 1 - (vs.height() - m_cornerH)));
}

void TableGrid::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
    // The cell being typed into stays in view.
    ensureVisible(m_col, m_row);
}

void TableGrid::focusInEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusInEvent(event);
    updateCell(m_col, m_row);   // the caret appears
}

void TableGrid::focusOutEvent(QFocusEvent *event) {
    QAbstractScrollArea::focusOutEvent(event);
    updateCell(m_col, m_row);
}

void TableGrid::scrollContentsBy(int, int) { viewport()->update(); }

QRect TableGrid::cellRect(int column, int row) const {
    if (column < 0 || row < 0 || column >= columnCount() || row >= rowCount()) return QRect();
    return QRect(m_cornerW + columnX(column) - horizontalScrollBar()->value(),
                 m_cornerH + rowY(row) - verticalScrollBar()->value(), m_colPx[column], m_rowPx[row]);
}

bool TableGrid::cellAt(const QPoint &pos, int &column, int &row) const {
    if (pos.x() < m_cornerW || pos.y() < m_cornerH || columnCount() == 0 || rowCount() == 0) return false;
    const int x = pos.x() - m_cornerW + horizontalScrollBar()->value();
    const int y = pos.y() - m_cornerH + verticalScrollBar()->value();
    if (x >= dataWidth() || y >= dataHeight()) return false;
    column = indexAt(m_colX, x);
    row = indexAt(m_rowY, y);
    return true;
}

QRect TableGrid::titleViewRect(const GridTitle &t) const {
    switch (t.band) {
    case GridTitle::Corner: return t.rect;
    case GridTitle::ColumnHeader: return t.rect.translated(m_cornerW - horizontalScrollBar()->value(), 0);
    case GridTitle::RowHeader: return t.rect.translated(0, m_cornerH - verticalScrollBar()->value());
    }
    return t.rect;
}

int TableGrid::titleAt(const QPoint &pos) const {
    for (int i = int(m_titles.size()) - 1; i >= 0; --i) {
        const GridTitle &t = m_titles[i];
        if (t.band == GridTitle::ColumnHeader && (pos.x() < m_cornerW || pos.y() >= m_cornerH)) continue;
        if (t.band == GridTitle::RowHeader && (pos.y() < m_cornerH || pos.x() >= m_cornerW)) continue;
        if (titleViewRect(t).contains(pos)) return i;
    }
    return -1;
}

void TableGrid::highlightHeaders(int structColumn, int structRow, const QColor &color) {
    for (GridTitle &t : m_titles) {
        const bool hit = (t.band == GridTitle::ColumnHeader && t.spanStart <= structColumn && structColumn <= t.spanEnd) ||
                         (t.band == GridTitle::RowHeader && t.spanStart <= structRow && structRow <= t.spanEnd);
        if (hit && t.background != color) {
            t.background = color;
            viewport()->update(titleViewRect(t));
        }
    }
}

void TableGrid::updateCell(int column, int row) {
    const QRect r = cellRect(column, row);
    if (r.isValid()) viewport()->update(r);
}

void TableGrid::ensureVisible(int column, int row) {
    if (column < 0 || row < 0 || column >= columnCount() || row >= rowCount()) return;
    const int vw = viewport()->width() - m_cornerW;
    const int vh = viewport()->height() - m_cornerH;
    QScrollBar *h = horizontalScrollBar();
    QScrollBar *v = verticalScrollBar();
    const int x0 = columnX(column), x1 = columnX(column + 1);
    if (x0 < h->value()) h->setValue(x0);
    else if (x1 > h->value() + vw) h->setValue(std::min(x0, x1 - vw));
    const int y0 = rowY(row), y1 = rowY(row + 1);
    if (y0 < v->value()) v->setValue(y0);
    else if (y1 > v->value() + vh) v->setValue(std::min(y0, y1 - vh));
}

bool TableGrid::setCurrentCell(int column, int row) {
    if (columnCount() == 0 || rowCount() == 0) return false;
    column = std::clamp(column, 0, columnCount() - 1);
    row = std::clamp(row, 0, rowCount() - 1);
    if (column == m_col && row == m_row) {
        ensureVisible(column, row);
        return true;
    }
    if (m_cellChoice && !m_cellChoice(column, row)) return false;
    const int oc = m_col, orow = m_row;
    m_col = column;
    m_row = row;
    updateCell(oc, orow);
    ensureVisible(column, row);
    updateCell(column, row);
    emit currentCellChanged(column, row);
    return true;
}

void TableGrid::resetCurrentCell(int column, int row) {
    m_col = std::clamp(column, 0, std::max(0, columnCount() - 1));
    m_row = std::clamp(row, 0, std::max(0, rowCount() - 1));
    ensureVisible(m_col, m_row);
    viewport()->update();
}

int TableGrid::pageRows() const {
    const int vh = viewport()->height() - m_cornerH;
    int n = 0, h = 0;
    for (int r = m_row; r < rowCount() && h < vh; ++r, ++n) h += m_rowPx[r] + 1;
    return std::max(1, n - 1);
}

void TableGrid::keyPressEvent(QKeyEvent *event) {
    if (columnCount() == 0 || rowCount() == 0) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    int c = m_col, r = m_row;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Left: --c; break;
    case Qt::Key_Right: ++c; break;
    case Qt::Key_Up: --r; break;
    case Qt::Key_Down: ++r; break;
    case Qt::Key_Home: c = 0; if (ctrl) r = 0; break;
    case Qt::Key_End: c = columnCount() - 1; if (ctrl) r = rowCount() - 1; break;
    case Qt::Key_PageUp: r -= pageRows(); break;
    case Qt::Key_PageDown: r += pageRows(); break;
    default: QAbstractScrollArea::keyPressEvent(event); return;
    }
    setCurrentCell(c, r);
    event->accept();
}

void TableGrid::mousePressEvent(QMouseEvent *event) {
    setFocus(Qt::MouseFocusReason);
    int c = 0, r = 0;
    if (event->button() == Qt::LeftButton && cellAt(event->position().toPoint(), c, r)) setCurrentCell(c, r);
}

void TableGrid::mouseDoubleClickEvent(QMouseEvent *event) {
    const QPoint pos = event->position().toPoint();
    int c = 0, r = 0;
    if (cellAt(pos, c, r)) {
        if (c == m_col && r == m_row) emit cellDoubleClicked(c, r);
        return;
    }
    const int t = titleAt(pos);
    if (t >= 0) emit titleDoubleClicked(t);
}

QList<QRect> TableGrid::titleLineRects(GridTitle &title, const QRect &rect, const QPaintDevice *device) {
    if (rect.width() <= 0 || rect.height() <= 0) return {};
    const layout::TitleCode code = layout::parseTitleCode(title.tchars);
    const QFontMetrics fm = device ? QFontMetrics(title.font, device) : QFontMetrics(title.font);
    auto measure = [&fm](const QString &s) { return fm.horizontalAdvance(s); };
    const int indentPx = code.indent * fm.horizontalAdvance(QStringLiteral("   "));
    // Rotated titles lay their lines along the height and stack them across
    // the width.
    const int W = code.rotated ? rect.height() : rect.width();
    const int H = code.rotated ? rect.width() : rect.height();
    if (!title.wrapped || title.wrapWidth != W) {
        title.lines = layout::wrapTitleText(title.text, W, indentPx, measure);
        title.wrapped = true;
        title.wrapWidth = W;
    }
    const int lineHeight = fm.height();
    const QList<QPoint> at = layout::placeTitleLines(title.lines, code, W, H, lineHeight, indentPx, measure);
    QList<QRect> rects = layout::titleLineRects(at, title.lines, code.rotated, W, lineHeight, measure);
    for (QRect &r : rects) r.translate(rect.topLeft());
    return rects;
}

void TableGrid::drawTitle(QPainter &p, GridTitle &title, const QRect &rect) {
    p.fillRect(rect, title.background);
    const QList<QRect> rects = titleLineRects(title, rect, p.device());
    if (rects.isEmpty()) return;
    const bool rotated = layout::parseTitleCode(title.tchars).rotated;
    p.save();
    p.setFont(title.font);
    const QFontMetrics fm(p.font(), p.device());
    p.setClipRect(rect, Qt::IntersectClip);
    p.setPen(Qt::black);
    for (int i = 0; i < rects.size(); ++i) {
        const QRect &r = rects[i];
        if (!rotated) {
            // drawText takes the baseline; the line's top edge is r.top().
            p.drawText(r.left(), r.top() + fm.ascent(), title.lines[i]);
        } else {
            // Read upward: the line starts at the bottom of its rectangle and
            // the letters' tops face its left edge. Turned a quarter to the
            // left, the rectangle's bottom-left corner becomes the origin of
            // an upright line whose baseline lies ascent below its top.
            p.save();
            p.translate(r.left(), r.bottom() + 1);
            p.rotate(-90);
            p.drawText(0, fm.ascent(), title.lines[i]);
            p.restore();
        }
    }
    p.restore();
}

void TableGrid::paintEvent(QPaintEvent *event) {
    QPainter p(viewport());
    const QRect dirty = event->rect();
    const int vw = viewport()->width(), vh = viewport()->height();
    const int sx = horizontalScrollBar()->value(), sy = verticalScrollBar()->value();
    // Outside the table the window's own colour; inside it the lines.
    p.fillRect(dirty, palette().color(QPalette::Window));
    const int tableRight = m_cornerW + dataWidth() + 1 - sx;
    const int tableBottom = m_cornerH + dataHeight() + 1 - sy;
    p.fillRect(dirty & QRect(0, 0, std::max(m_cornerW, tableRight), m_cornerH), kLineColor);
    p.fillRect(dirty & QRect(0, 0, m_cornerW, std::max(m_cornerH, tableBottom)), kLineColor);
    p.fillRect(dirty & QRect(m_cornerW, m_cornerH, std::max(0, tableRight - m_cornerW),
                             std::max(0, tableBottom - m_cornerH)),
               kLineColor);

    // Data cells.
    const QRect dataArea(m_cornerW, m_cornerH, std::max(0, vw - m_cornerW), std::max(0, vh - m_cornerH));
    const QRect dataDirty = dirty & dataArea;
    if (!dataDirty.isEmpty() && columnCount() > 0 && rowCount() > 0) {
        p.save();
        p.setClipRect(dataDirty);
        const int c0 = indexAt(m_colX, dataDirty.left() - m_cornerW + sx);
        const int c1 = indexAt(m_colX, dataDirty.right() - m_cornerW + sx);
        const int r0 = indexAt(m_rowY, dataDirty.top() - m_cornerH + sy);
        const int r1 = indexAt(m_rowY, dataDirty.bottom() - m_cornerH + sy);
        for (int r = r0; r <= r1; ++r) {
            if (m_rowPx[r] <= 0) continue;
            for (int c = c0; c <= c1; ++c) {
                if (m_colPx[c] <= 0) continue;
                const QRect cell(m_cornerW + m_colX[c] - sx, m_cornerH + m_rowY[r] - sy, m_colPx[c], m_rowPx[r]);
                if (m_cellPainter) m_cellPainter(p, cell, c, r);
                else p.fillRect(cell, Qt::white);
            }
        }
        p.restore();
    }

    // Header bands.
    const QRect bands[3] = {
        QRect(0, 0, m_cornerW, m_cornerH),                                          // corner
        QRect(0, m_cornerH, m_cornerW, std::max(0, vh - m_cornerH)),                // row header
        QRect(m_cornerW, 0, std::max(0, vw - m_cornerW), m_cornerH),                // column header
    };
    for (GridTitle &t : m_titles) {
        const QRect band = t.band == GridTitle::Corner      ? bands[0]
                           : t.band == GridTitle::RowHeader ? bands[1]
                                                            : bands[2];
        const QRect clip = dirty & band;
        if (clip.isEmpty()) continue;
        const QRect r = titleViewRect(t);
        if (!r.intersects(clip)) continue;
        p.save();
        p.setClipRect(clip);
        drawTitle(p, t, r);
        p.restore();
    }
}
