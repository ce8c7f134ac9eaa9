#include "widgets/AbcCheckBox.h"

#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>

namespace abc {

int checkBoxTextFlags(Qt::AlignmentFlag horz, TabcVAlignment vert, bool wordWrap) {
    int f = 0;
    switch (horz) {
    case Qt::AlignRight: f |= Qt::AlignRight; break;
    case Qt::AlignHCenter: f |= Qt::AlignHCenter; break;
    default: f |= Qt::AlignLeft; break;
    }
    switch (vert) {
    case TabcVAlignment::vaTop: f |= Qt::AlignTop; break;
    case TabcVAlignment::vaBottom: f |= Qt::AlignBottom; break;
    case TabcVAlignment::vaCenter: f |= Qt::AlignVCenter; break;
    }
    if (wordWrap) f |= Qt::TextWordWrap;
    return f | Qt::TextShowMnemonic;
}

} // namespace abc

TabcCheckBox::TabcCheckBox(const QString &caption, QWidget *parent) : QCheckBox(caption, parent) {}

void TabcCheckBox::setAlignHorz(Qt::AlignmentFlag a) {
    if (a != Qt::AlignRight && a != Qt::AlignHCenter) a = Qt::AlignLeft;
    if (a == m_horz) return;
    m_horz = a;
    updateGeometry();
    update();
}

void TabcCheckBox::setAlignVert(TabcVAlignment a) {
    if (a == m_vert) return;
    m_vert = a;
    updateGeometry();
    update();
}

void TabcCheckBox::setWordWrap(bool on) {
    if (on == m_wrap) return;
    m_wrap = on;
    updateGeometry();
    update();
}

QRect TabcCheckBox::indicatorRect() const {
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, this);
    const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, &opt, this);
    int y = 0;
    if (m_vert == TabcVAlignment::vaCenter) y = (height() - h) / 2;
    else if (m_vert == TabcVAlignment::vaBottom) y = height() - h;
    return QRect(0, qMax(0, y), w, h);
}

QRect TabcCheckBox::textRect(int width, int height) const {
    QStyleOptionButton opt;
    initStyleOption(&opt);
    const int indent = style()->pixelMetric(QStyle::PM_IndicatorWidth, &opt, this) +
                       style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &opt, this);
    return QRect(indent, 0, qMax(1, width - indent), height);
}

int TabcCheckBox::heightForWidth(int width) const {
    const QRect tr = textRect(width, 10000);
    const QRect b = fontMetrics().boundingRect(tr, abc::checkBoxTextFlags(m_horz, m_vert, m_wrap), text());
    return qMax(indicatorRect().height(), b.height());
}

QSize TabcCheckBox::sizeHint() const { return QCheckBox::sizeHint(); }
QSize TabcCheckBox::minimumSizeHint() const { return m_wrap ? QSize(40, heightForWidth(40)) : sizeHint(); }

bool TabcCheckBox::hitButton(const QPoint &pos) const { return rect().contains(pos); }

void TabcCheckBox::paintEvent(QPaintEvent *) {
    QPainter p(this);
    QStyleOptionButton opt;
    initStyleOption(&opt);
    QStyleOptionButton ind = opt;
    ind.rect = indicatorRect();
    ind.text.clear();
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &ind, &p, this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(textRect(width(), height()), abc::checkBoxTextFlags(m_horz, m_vert, m_wrap), text());
    // The focus is drawn around the text, as on a standard check box.
    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        const QRect tr = textRect(width(), height());
        focus.rect = fontMetrics()
                         .boundingRect(tr, abc::checkBoxTextFlags(m_horz, m_vert, m_wrap), text())
                         .adjusted(-1, 0, 1, 0)
                         .intersected(rect());
        focus.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
    }
}
