#pragma once
// Rows that wrap: a layout that places its items left to right and starts a
// new row where the width ends, as words in a line of text. Button rows,
// groups of options and blocks of a window use it, so that a window lays
// itself out by what it holds on a narrow or scaled screen instead of
// pushing its parts past the edge. Items that expand horizontally share the
// room left in their row.
#include <QLayout>
#include <QList>

class FlowLayout : public QLayout {
public:
    explicit FlowLayout(QWidget *parent = nullptr, int hSpacing = -1, int vSpacing = -1);
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QLayoutItem *takeAt(int index) override;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize minimumSize() const override;
    QSize sizeHint() const override;
    void setGeometry(const QRect &rect) override;

    // The right end of the last row: items added after this call are
    // placed at the right of their row (a closing button such as "Выход").
    void addRightAligned(QWidget *w);

private:
    int horizontalGap() const;
    int verticalGap() const;
    // Lays the items out in rect (or only measures when apply is false);
    // returns the height used.
    int arrange(const QRect &rect, bool apply) const;

    QList<QLayoutItem *> m_items;
    QList<QLayoutItem *> m_right;   // placed at the right of their row
    int m_hSpace, m_vSpace;
};
