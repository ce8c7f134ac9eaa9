#pragma once
// Gradient painter of the window backgrounds: colour steps between two
// colours, drawn as bands (vertical, horizontal, two diagonals or from the
// edges to the centre), optionally through a kept bitmap.
#include <QColor>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPolygon>
#include <QRect>

class QPainter;

enum class TabcDrawDirection { ddVertical, ddHorizontal, ddLRDiagonal, ddRLDiagonal, ddCenter };
enum class TabcGradientDrawMethod { agdDraw, agdStretch, agdWinAPI };

namespace abc {

constexpr int kMaxColorCount = 236;

// Nearest integer, halves to the even neighbour (0.5 -> 0, 1.5 -> 2, 2.5 -> 2).
int rnd(double x);
// Colour count kept within 1..236.
int clampColorCount(int count);
// Colour of step i (1..count): every byte rnd(i / count * (to - from) + from).
QColor stepColor(const QColor &from, const QColor &to, int i, int count);

// One hand-drawn band: the area and the step whose colour fills it.
struct Band {
    QPolygon area;
    int step = 0;
};
// The bands of a direction inside r, in drawing order. For ddCenter the
// background fill in the start colour is not part of the list (step 0).
QList<Band> bands(TabcDrawDirection direction, const QRect &r, int count);
// Number of the last step drawn from the top-left (top-right) corner in the
// diagonal directions: rnd(count / 2).
int diagonalSplit(int count);

} // namespace abc

class TabcGradient : public QObject {
    Q_OBJECT
public:
    explicit TabcGradient(QObject *parent = nullptr);

    int ColorCount() const { return m_count; }
    void setColorCount(int count);
    QColor ColorFrom() const { return m_from; }
    void setColorFrom(const QColor &c);
    QColor ColorTo() const { return m_to; }
    void setColorTo(const QColor &c);
    TabcDrawDirection Direction() const { return m_direction; }
    void setDirection(TabcDrawDirection d);
    bool DrawBuffered() const { return m_buffered; }
    void setDrawBuffered(bool on);
    TabcGradientDrawMethod DrawMethod() const { return m_method; }
    void setDrawMethod(TabcGradientDrawMethod m);
    // Method actually used: this platform offers no system gradient call,
    // so agdWinAPI draws by hand.
    TabcGradientDrawMethod effectiveMethod() const;

    void Draw(QPainter &painter, const QRect &r);

    // Takes ColorCount, ColorFrom, ColorTo and Direction of another gradient;
    // this one is then changed and says so (OnChange), even when nothing
    // differs.
    void Assign(const TabcGradient &source);

    // For checks: how often the kept bitmap was rebuilt.
    int rebuildCount() const { return m_rebuilds; }
    bool isChanged() const { return m_changed; }

signals:
    void OnChange();

private:
    void drawDirect(QPainter &painter, const QRect &r) const;
    void markChanged(bool notify);

    int m_count = abc::kMaxColorCount;
    QColor m_from{0, 0, 255};
    QColor m_to{0, 0, 0};
    TabcDrawDirection m_direction = TabcDrawDirection::ddVertical;
    bool m_buffered = false;
    TabcGradientDrawMethod m_method = TabcGradientDrawMethod::agdDraw;
    bool m_changed = true;
    QImage m_buffer;
    int m_rebuilds = 0;
};
