#pragma once
// TabcLRComboBox: a combo box that keeps its selection.
// Combo box that keeps its selection when its window is made anew.
#include <QComboBox>

class TabcLRComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TabcLRComboBox(QWidget *parent = nullptr);

    // Makes the window anew (as a change of style does): the item index is
    // saved before and chosen again after.
    void recreateWindow();
    int savedIndex() const { return m_savedIndex; }

protected:
    void DestroyWnd();
    void CreateHandle();

private:
    int m_savedIndex = -1;
};
