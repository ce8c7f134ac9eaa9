#include "widgets/AbcMouseLabel.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace abc {

TabcLabelMouseEffects mergeEffects(TabcLabelMouseEffects old, TabcLabelMouseEffects wanted) {
    TabcLabelMouseEffects e = wanted;
    if ((e & almColorShadow) && !(old & almColorShadow))
        e &= ~TabcLabelMouseEffects(almColor);
    else if ((e & almColor) && !(old & almColor))
        e &= ~TabcLabelMouseEffects(almColorShadow);
    return e;
}

LabelLook labelLook(LabelState state, TabcLabelMouseEffects over, const QColor &overColor,
                    TabcLabelMouseEffects down, const QColor &downColor, const QColor &fontColor) {
    LabelLook look;
    look.textColor = fontColor;
    if (state == LabelState::Normal) return look;
    const TabcLabelMouseEffects e = state == LabelState::Pressed ? down : over;
    const QColor c = state == LabelState::Pressed ? downColor : overColor;
    look.underline = e & almUnderline;
    if (e & almColor) {
        look.textColor = c;
    } else if (e & almColorShadow) {
        look.shadow = true;
        look.shadowColor = c;
    }
    return look;
}

} // namespace abc

TabcMouseLabel::TabcMouseLabel(const QString &caption, QWidget *parent) : QLabel(caption, parent) {
    setCursor(Qt::PointingHandCursor);
}

abc::LabelState TabcMouseLabel::state() const {
    if (m_pressed) return abc::LabelState::Pressed;
    if (m_over) return abc::LabelState::Over;
    return abc::LabelState::Normal;
}

void TabcMouseLabel::setMouseOverEffects(TabcLabelMouseEffects e) {
    e = abc::mergeEffects(m_overEffects, e);
    if (e == m_overEffects) return;
    m_overEffects = e;
    if (m_over && !m_pressed) update();
}

void TabcMouseLabel::setMouseDownEffects(TabcLabelMouseEffects e) {
    e = abc::mergeEffects(m_downEffects, e);
    if (e == m_downEffects) return;
    m_downEffects = e;
    if (m_pressed) update();
}

void TabcMouseLabel::setMouseOverColor(const QColor &c) {
    if (c == m_overColor) return;
    m_overColor = c;
    if (m_over && !m_pressed) update();
}

void TabcMouseLabel::setMouseDownColor(const QColor &c) {
    if (c == m_downColor) return;
    m_downColor = c;
    if (m_pressed) update();
}

void TabcMouseLabel::setTransparent(bool on) {
    m_transparent = on;
    setAttribute(Qt::WA_TranslucentBackground, on);
    update();
}

void TabcMouseLabel::setFontColor(const QColor &c) {
    if (c == m_fontColor) return;
    m_fontColor = c;
    update();
}

void TabcMouseLabel::mouseEntered() {
    if (!m_over && isEnabled()) {
        m_over = true;
        update();
        if ((m_overEffects & almSound) && m_soundList) m_soundList->PlayItem(m_soundOver);
    }
    emit mouseEnter();
}

void TabcMouseLabel::mouseLeft() {
    if (isEnabled() && !m_pressed) {
        m_over = false;
        update();
    }
    emit mouseLeave();
}

void TabcMouseLabel::reevaluateOver() {
    const bool under = isVisible() && rect().contains(mapFromGlobal(QCursor::pos()));
    if (under)
        mouseEntered();
    else if (m_over) {
        m_over = false;
        update();
        emit mouseLeave();
    }
}

void TabcMouseLabel::enterEvent(QEnterEvent *event) {
    QLabel::enterEvent(event);
    mouseEntered();
}

void TabcMouseLabel::leaveEvent(QEvent *event) {
    QLabel::leaveEvent(event);
    mouseLeft();
}

void TabcMouseLabel::mousePressEvent(QMouseEvent *event) {
    QLabel::mousePressEvent(event);
    if (!m_pressed && isEnabled()) {
        m_pressed = true;
        update();
        if ((m_downEffects & almSound) && m_soundList) m_soundList->PlayItem(m_soundDown);
    }
}

void TabcMouseLabel::mouseReleaseEvent(QMouseEvent *event) {
    QLabel::mouseReleaseEvent(event);
    if (!m_pressed || !isEnabled()) return;
    m_pressed = false;
    update();
    const bool inside = rect().contains(event->position().toPoint());
    if (inside) {
        if (!m_over) mouseEntered();
    } else if (m_over) {
        m_over = false;
        update();
        emit mouseLeave();
    }
    if (inside && event->button() == Qt::LeftButton) emit clicked();
}

void TabcMouseLabel::changeEvent(QEvent *event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        if (!isEnabled()) {
            m_pressed = false;
            m_over = false;
        } else {
            reevaluateOver();
        }
        update();
    }
}

void TabcMouseLabel::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (!m_transparent) p.fillRect(rect(), palette().color(backgroundRole()));
    int flags = int(alignment());
    if (wordWrap()) flags |= Qt::TextWordWrap;
    flags |= Qt::TextExpandTabs;
    const QRect r = contentsRect();
    QFont f = font();
    if (!isEnabled()) {
        p.setFont(f);
        p.setPen(palette().color(QPalette::Light));
        p.drawText(r.translated(1, 1), flags, text());
        p.setPen(palette().color(QPalette::Dark));
        p.drawText(r, flags, text());
        return;
    }
    const abc::LabelLook look =
        abc::labelLook(state(), m_overEffects, m_overColor, m_downEffects, m_downColor, m_fontColor);
    f.setUnderline(look.underline || font().underline());
    p.setFont(f);
    if (look.shadow) {
        p.setPen(look.shadowColor);
        p.drawText(r.translated(-1, -1), flags, text());
        p.drawText(r.translated(1, 1), flags, text());
    }
    p.setPen(look.textColor);
    p.drawText(r, flags, text());
}
