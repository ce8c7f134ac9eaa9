#include "widgets/AbcComboBox.h"

#include <QAbstractItemModel>
#include <QStandardItemModel>

TabcLRComboBox::TabcLRComboBox(QWidget *parent) : QComboBox(parent) {
    // Reached with Tab like any list: the keyboard alone can choose.
    setFocusPolicy(Qt::StrongFocus);
}

void TabcLRComboBox::DestroyWnd() { m_savedIndex = currentIndex(); }

void TabcLRComboBox::CreateHandle() {
    if (m_savedIndex != -1 && m_savedIndex < count()) setCurrentIndex(m_savedIndex);
}

void TabcLRComboBox::recreateWindow() {
    DestroyWnd();
    // A new window starts without a selection; the items stay in the model.
    const bool blocked = blockSignals(true);
    setCurrentIndex(-1);
    const bool wasVisible = isVisible();
    if (wasVisible) hide();
    if (wasVisible) show();
    CreateHandle();
    blockSignals(blocked);
}
