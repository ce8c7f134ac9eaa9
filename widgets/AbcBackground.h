#pragma once
// TabcBackground: a gradient background widget.
// Gradient background placed behind the commands of a window.
#include "widgets/AbcGradient.h"

#include <QWidget>

class TabcBackground : public QWidget {
    Q_OBJECT
public:
    explicit TabcBackground(QWidget *parent = nullptr);

    bool Active() const { return m_active; }
    void setActive(bool on);
    QColor ColorFrom() const { return m_gradient.ColorFrom(); }
    void setColorFrom(const QColor &c) { m_gradient.setColorFrom(c); }
    QColor ColorTo() const { return m_gradient.ColorTo(); }
    void setColorTo(const QColor &c) { m_gradient.setColorTo(c); }
    TabcDrawDirection DrawDirection() const { return m_gradient.Direction(); }
    void setDrawDirection(TabcDrawDirection d) { m_gradient.setDirection(d); }
    int DrawSteps() const { return m_gradient.ColorCount(); }
    void setDrawSteps(int steps) { m_gradient.setColorCount(steps); }   // kept within 1..236
    TabcGradientDrawMethod DrawMethod() const { return m_gradient.DrawMethod(); }
    void setDrawMethod(TabcGradientDrawMethod m) { m_gradient.setDrawMethod(m); }
    bool DrawBuffered() const { return m_gradient.DrawBuffered(); }
    void setDrawBuffered(bool on) { m_gradient.setDrawBuffered(on); }

    TabcGradient &gradient() { return m_gradient; }
    void Redraw() { update(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TabcGradient m_gradient;
    bool m_active = true;
};
