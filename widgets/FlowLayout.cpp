#include "widgets/FlowLayout.h"

#include <QStyle>
#include <QWidget>

FlowLayout::FlowLayout(QWidget *parent, int hSpacing, int vSpacing)
    : QLayout(parent), m_hSpace(hSpacing), m_vSpace(vSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem *item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem *item) { m_items.append(item); }

void FlowLayout::addRightAligned(QWidget *w) {
    addWidget(w);
    m_right.append(m_items.last());
}

int FlowLayout::count() const { return int(m_items.size()); }

QLayoutItem *FlowLayout::itemAt(int index) const { return index >= 0 && index < m_items.size() ? m_items[index] : nullptr; }

QLayoutItem *FlowLayout::takeAt(int index) {
    if (index < 0 || index >= m_items.size()) return nullptr;
    QLayoutItem *item = m_items.takeAt(index);
    m_right.removeAll(item);
    return item;
}

Qt::Orientations FlowLayout::expandingDirections() const {
    Qt::Orientations o;
    for (QLayoutItem *item : m_items) o |= item->expandingDirections() & Qt::Horizontal;
    return o;
}

int FlowLayout::horizontalGap() const {
    if (m_hSpace >= 0) return m_hSpace;
    const QWidget *w = parentWidget();
    return w ? w->style()->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, w) : 6;
}

int FlowLayout::verticalGap() const {
    if (m_vSpace >= 0) return m_vSpace;
    const QWidget *w = parentWidget();
    return w ? w->style()->pixelMetric(QStyle::PM_LayoutVerticalSpacing, nullptr, w) : 6;
}

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::minimumSize() const {
    // One item a row at the narrowest.
    QSize size;
    for (QLayoutItem *item : m_items)
        if (!item->isEmpty()) size = size.expandedTo(item->minimumSize());
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
    // Everything in one row.
    int width = 0, height = 0, n = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty()) continue;
        const QSize s = item->sizeHint();
        width += s.width() + (n++ > 0 ? horizontalGap() : 0);
        height = qMax(height, s.height());
    }
    const QMargins m = contentsMargins();
    return QSize(width + m.left() + m.right(), height + m.top() + m.bottom());
}

void FlowLayout::setGeometry(const QRect &rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect &rect, bool apply) const {
    const QMargins m = contentsMargins();
    const QRect area = rect.adjusted(m.left(), m.top(), -m.right(), -m.bottom());
    const int gap = horizontalGap(), vgap = verticalGap();
    // Rows first: as many items as their widths allow.
    QList<QList<QLayoutItem *>> rows{{}};
    int used = 0;
    for (QLayoutItem *item : m_items) {
        if (item->isEmpty()) continue;
        const int w = qMin(item->sizeHint().width(), area.width());
        if (!rows.last().isEmpty() && used + gap + w > area.width()) {
            rows.append(QList<QLayoutItem *>{});
            used = 0;
        }
        used += (rows.last().isEmpty() ? 0 : gap) + w;
        rows.last().append(item);
    }
    int y = area.y();
    for (const QList<QLayoutItem *> &row : rows) {
        if (row.isEmpty()) continue;
        // Widths: the hints, bounded by the row; the room left goes to the
        // items that expand, or before the right-aligned ones.
        QList<int> widths;
        int total = gap * (int(row.size()) - 1), expanding = 0;
        for (QLayoutItem *item : row) {
            const int w = qMax(item->minimumSize().width(), qMin(item->sizeHint().width(), area.width()));
            widths.append(w);
            total += w;
            if (item->expandingDirections() & Qt::Horizontal) ++expanding;
        }
        int spare = qMax(0, area.width() - total);
        if (expanding > 0) {
            for (int i = 0; i < row.size(); ++i)
                if (row[i]->expandingDirections() & Qt::Horizontal) {
                    const int add = spare / expanding--;
                    widths[i] += add;
                    spare -= add;
                }
        }
        int height = 0;
        for (int i = 0; i < row.size(); ++i)
            height = qMax(height, row[i]->hasHeightForWidth() ? row[i]->heightForWidth(widths[i])
                                                              : row[i]->sizeHint().height());
        int x = area.x();
        for (int i = 0; i < row.size(); ++i) {
            if (spare > 0 && m_right.contains(row[i])) {
                x += spare;
                spare = 0;
            }
            if (apply) {
                const int h = row[i]->hasHeightForWidth() ? row[i]->heightForWidth(widths[i])
                                                          : qMin(height, qMax(row[i]->sizeHint().height(),
                                                                              row[i]->minimumSize().height()));
                const bool fill = row[i]->expandingDirections() & Qt::Vertical;
                row[i]->setGeometry(QRect(x, y, widths[i], fill ? height : qMin(h, height)));
            }
            x += widths[i] + gap;
        }
        y += height + vgap;
    }
    return y - vgap - area.y() + m.top() + m.bottom();
}
