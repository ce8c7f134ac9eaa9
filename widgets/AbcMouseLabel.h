#pragma once
// TabcMouseLabel: a hover label that acts as a command.
// Hover label: a text command that underlines and recolours itself while the
// mouse is over it or a button is held on it.
#include "widgets/AbcWave.h"

#include <QColor>
#include <QLabel>
#include <QPointer>

enum TabcLabelMouseEffect : unsigned {
    almUnderline = 1u << 0,
    almColor = 1u << 1,
    almColorShadow = 1u << 2,
    almSound = 1u << 3,
};
using TabcLabelMouseEffects = unsigned;

namespace abc {

// The stored set when `wanted` replaces `old`: almColor and almColorShadow
// exclude each other, the one just added stays.
TabcLabelMouseEffects mergeEffects(TabcLabelMouseEffects old, TabcLabelMouseEffects wanted);

enum class LabelState { Normal, Over, Pressed };

// How the text of an enabled label is drawn in a state.
struct LabelLook {
    bool underline = false;
    QColor textColor;        // colour of the text drawn in place
    bool shadow = false;     // two copies in shadowColor at (-1,-1) and (+1,+1) first
    QColor shadowColor;
};
LabelLook labelLook(LabelState state, TabcLabelMouseEffects over, const QColor &overColor,
                    TabcLabelMouseEffects down, const QColor &downColor, const QColor &fontColor);

} // namespace abc

class TabcMouseLabel : public QLabel {
    Q_OBJECT
public:
    explicit TabcMouseLabel(const QString &caption = QString(), QWidget *parent = nullptr);

    TabcLabelMouseEffects MouseOverEffects() const { return m_overEffects; }
    void setMouseOverEffects(TabcLabelMouseEffects e);
    TabcLabelMouseEffects MouseDownEffects() const { return m_downEffects; }
    void setMouseDownEffects(TabcLabelMouseEffects e);
    QColor MouseOverColor() const { return m_overColor; }
    void setMouseOverColor(const QColor &c);
    QColor MouseDownColor() const { return m_downColor; }
    void setMouseDownColor(const QColor &c);
    // Where the sounds come from (none: the label is silent); a list that is
    // destroyed is dropped from here.
    TabcCustomWaveList *SoundList() const { return m_soundList; }
    void setSoundList(TabcCustomWaveList *list) { m_soundList = list; }
    // Index of the sound played on entering, and on pressing.
    quint16 SoundOver() const { return m_soundOver; }
    void setSoundOver(quint16 index) { m_soundOver = index; }
    quint16 SoundDown() const { return m_soundDown; }
    void setSoundDown(quint16 index) { m_soundDown = index; }
    bool Transparent() const { return m_transparent; }
    void setTransparent(bool on);
    // Colour of the text when no effect recolours it.
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor &c);

    bool isOver() const { return m_over; }
    bool isPressed() const { return m_pressed; }
    abc::LabelState state() const;

    // Entering and leaving, also called by the events.
    void mouseEntered();
    void mouseLeft();

signals:
    void clicked();
    void mouseEnter();
    void mouseLeave();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void reevaluateOver();

    TabcLabelMouseEffects m_overEffects = almUnderline | almSound;
    TabcLabelMouseEffects m_downEffects = almUnderline | almSound;
    QColor m_overColor{255, 255, 0};
    QColor m_downColor{0, 255, 255};
    QColor m_fontColor{0, 0, 0};
    bool m_transparent = false;
    bool m_over = false;
    bool m_pressed = false;
    QPointer<TabcCustomWaveList> m_soundList;
    quint16 m_soundOver = 0;
    quint16 m_soundDown = 0;
};
