#pragma once
// TabcLRComboBox: a combo box that keeps its selection.
// Combo box that keeps its selection when its window is made anew, and shows
// a text too long for it shortened with "…" and whole in its tip.
#include <QComboBox>

class TabcLRComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TabcLRComboBox(QWidget *parent = nullptr);

    // Makes the window anew (as a change of style does): the item index is
    // saved before and chosen again after.
    void recreateWindow();
    int savedIndex() const { return m_savedIndex; }
    // The width that shows the longest item whole.
    int widthForItems() const;

protected:
    // A text longer than the list is wide ends in "…", and the list's tip
    // gives it whole.
    void paintEvent(QPaintEvent *event) override;
    void DestroyWnd();
    void CreateHandle();

private:
    int m_savedIndex = -1;
};
