#include "widgets/AbcBackground.h"

#include <QPainter>

TabcBackground::TabcBackground(QWidget *parent) : QWidget(parent) {
    resize(105, 105);
    setAttribute(Qt::WA_OpaquePaintEvent);
    connect(&m_gradient, &TabcGradient::OnChange, this, &TabcBackground::Redraw);
}

void TabcBackground::setActive(bool on) {
    m_active = on;
    Redraw();
}

void TabcBackground::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (m_active)
        m_gradient.Draw(p, QRect(0, 0, width(), height()));
    else
        p.fillRect(rect(), palette().window());
}
