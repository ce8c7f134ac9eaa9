#include "widgets/AbcGradient.h"

#include <QPainter>
#include <cmath>

namespace abc {

int rnd(double x) {
    const double fl = std::floor(x);
    const double diff = x - fl;
    if (diff > 0.5) return int(fl) + 1;
    if (diff < 0.5) return int(fl);
    const long long f = static_cast<long long>(fl);
    return int(f % 2 == 0 ? f : f + 1);
}

int clampColorCount(int count) {
    if (count < 1) return 1;
    if (count > kMaxColorCount) return kMaxColorCount;
    return count;
}

QColor stepColor(const QColor &from, const QColor &to, int i, int count) {
    if (count < 1) count = 1;
    const double f = double(i) / double(count);
    auto part = [f](int a, int b) { return qBound(0, rnd(f * double(b - a) + double(a)), 255); };
    return QColor(part(from.red(), to.red()), part(from.green(), to.green()), part(from.blue(), to.blue()));
}

int diagonalSplit(int count) { return rnd(double(count) / 2.0); }

namespace {

QPolygon rectPolygon(int x0, int y0, int x1, int y1) {
    QPolygon p;
    p << QPoint(x0, y0) << QPoint(x1, y0) << QPoint(x1, y1) << QPoint(x0, y1);
    return p;
}

// Bands from the top-left corner to the bottom-right one; each band lies
// between the line of its step and the line of the step before.
QList<Band> lrDiagonal(const QRect &r, int count) {
    const int left = r.left(), top = r.top();
    const int right = left + r.width(), bottom = top + r.height();
    const double w = r.width(), h = r.height();
    const int split = diagonalSplit(count);
    struct Line { QPoint p; bool pOnTop; QPoint q; bool qOnLeft; };
    auto lineOf = [&](int i) -> Line {
        if (i <= split) {
            const double f = 2.0 * i / count;
            return {QPoint(left + rnd(f * w), top), true, QPoint(left, top + rnd(f * h)), true};
        }
        const double f = 2.0 * i / count - 1.0;
        return {QPoint(right, top + rnd(f * h)), false, QPoint(left + rnd(f * w), bottom), false};
    };
    QList<Band> out;
    Line prev = lineOf(0);
    for (int i = 1; i <= count; ++i) {
        const Line cur = lineOf(i);
        QPolygon p;
        p << prev.p;
        if (prev.pOnTop && !cur.pOnTop) p << QPoint(right, top);
        p << cur.p << cur.q;
        if (prev.qOnLeft && !cur.qOnLeft) p << QPoint(left, bottom);
        p << prev.q;
        out.append(Band{p, i});
        prev = cur;
    }
    return out;
}

} // namespace

QList<Band> bands(TabcDrawDirection direction, const QRect &r, int count) {
    count = clampColorCount(count);
    QList<Band> out;
    const int left = r.left(), top = r.top();
    const int right = left + r.width(), bottom = top + r.height();
    switch (direction) {
    case TabcDrawDirection::ddVertical: {
        int prev = top;
        for (int i = 1; i <= count; ++i) {
            const int y = top + rnd(double(i) / count * r.height());
            out.append(Band{rectPolygon(left, prev, right, y), i});
            prev = y;
        }
        break;
    }
    case TabcDrawDirection::ddHorizontal: {
        int prev = left;
        for (int i = 1; i <= count; ++i) {
            const int x = left + rnd(double(i) / count * r.width());
            out.append(Band{rectPolygon(prev, top, x, bottom), i});
            prev = x;
        }
        break;
    }
    case TabcDrawDirection::ddLRDiagonal:
        out = lrDiagonal(r, count);
        break;
    case TabcDrawDirection::ddRLDiagonal:
        // The mirror image: x measured leftwards from the right edge.
        out = lrDiagonal(r, count);
        for (Band &b : out)
            for (QPoint &pt : b.area) pt.setX(left + right - pt.x());
        break;
    case TabcDrawDirection::ddCenter:
        for (int i = 1; i <= count; ++i) {
            const int dx = rnd(double(i) / count * r.width() / 2.0);
            const int dy = rnd(double(i) / count * r.height() / 2.0);
            out.append(Band{rectPolygon(left + dx, top + dy, right - dx, bottom - dy), i});
        }
        break;
    }
    return out;
}

} // namespace abc

TabcGradient::TabcGradient(QObject *parent) : QObject(parent) {}

void TabcGradient::markChanged(bool notify) {
    m_changed = true;
    if (notify) emit OnChange();
}

void TabcGradient::Assign(const TabcGradient &source) {
    if (&source == this) return;
    m_count = source.m_count;
    m_from = source.m_from;
    m_to = source.m_to;
    m_direction = source.m_direction;
    markChanged(true);
}

void TabcGradient::setColorCount(int count) {
    count = abc::clampColorCount(count);
    if (count == m_count) return;
    m_count = count;
    markChanged(true);
}

void TabcGradient::setColorFrom(const QColor &c) {
    if (c == m_from) return;
    m_from = c;
    markChanged(true);
}

void TabcGradient::setColorTo(const QColor &c) {
    if (c == m_to) return;
    m_to = c;
    markChanged(true);
}

void TabcGradient::setDirection(TabcDrawDirection d) {
    if (d == m_direction) return;
    m_direction = d;
    markChanged(true);
}

void TabcGradient::setDrawBuffered(bool on) {
    if (on == m_buffered) return;
    m_buffered = on;
    if (!on) {
        m_buffer = QImage();
        if (m_method == TabcGradientDrawMethod::agdStretch) m_method = TabcGradientDrawMethod::agdDraw;
    }
    markChanged(false);
}

void TabcGradient::setDrawMethod(TabcGradientDrawMethod m) {
    if (m == m_method) return;
    m_method = m;
    if (m == TabcGradientDrawMethod::agdStretch) m_buffered = true;
    markChanged(false);
}

TabcGradientDrawMethod TabcGradient::effectiveMethod() const {
    return m_method == TabcGradientDrawMethod::agdWinAPI ? TabcGradientDrawMethod::agdDraw : m_method;
}

void TabcGradient::drawDirect(QPainter &painter, const QRect &r) const {
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (m_direction == TabcDrawDirection::ddCenter) painter.fillRect(r, m_from);
    for (const abc::Band &b : abc::bands(m_direction, r, m_count)) {
        painter.setBrush(abc::stepColor(m_from, m_to, b.step, m_count));
        painter.drawPolygon(b.area);
    }
    painter.restore();
}

void TabcGradient::Draw(QPainter &painter, const QRect &r) {
    if (r.width() <= 0 || r.height() <= 0) return;
    const bool stretch = effectiveMethod() == TabcGradientDrawMethod::agdStretch;
    if (!m_buffered) {
        drawDirect(painter, r);
        return;
    }
    const QSize want = stretch ? QSize(m_count, m_count) : r.size();
    if (m_changed || m_buffer.isNull() || (!stretch && m_buffer.size() != want)) {
        m_buffer = QImage(want, QImage::Format_RGB32);
        m_buffer.fill(Qt::black);
        QPainter bp(&m_buffer);
        drawDirect(bp, QRect(QPoint(0, 0), want));
        m_changed = false;
        ++m_rebuilds;
    }
    if (stretch)
        painter.drawImage(r, m_buffer);
    else
        painter.drawImage(r.topLeft(), m_buffer);
}
