#pragma once
// TabcCheckBox: a check box with an aligned, wrapped caption.
// Check box whose caption can be aligned horizontally and vertically and
// wrapped over several lines.
#include <QCheckBox>

enum class TabcVAlignment { vaTop, vaBottom, vaCenter };

namespace abc {
// Qt text flags for drawing the caption with the given alignment and wrapping.
int checkBoxTextFlags(Qt::AlignmentFlag horz, TabcVAlignment vert, bool wordWrap);
} // namespace abc

class TabcCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit TabcCheckBox(const QString &caption = QString(), QWidget *parent = nullptr);

    Qt::AlignmentFlag AlignHorz() const { return m_horz; }   // Qt::AlignLeft, AlignRight or AlignHCenter
    // Any other flag counts as Qt::AlignLeft.
    void setAlignHorz(Qt::AlignmentFlag a);
    TabcVAlignment AlignVert() const { return m_vert; }
    void setAlignVert(TabcVAlignment a);
    bool WordWrap() const { return m_wrap; }
    void setWordWrap(bool on);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return m_wrap; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;

private:
    QRect indicatorRect() const;
    QRect textRect(int width, int height) const;

    Qt::AlignmentFlag m_horz = Qt::AlignLeft;
    TabcVAlignment m_vert = TabcVAlignment::vaTop;
    bool m_wrap = true;
};
