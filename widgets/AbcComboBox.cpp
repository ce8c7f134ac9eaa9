#include "widgets/AbcComboBox.h"
#include "widgets/WindowRules.h"

#include <QAbstractItemModel>
#include <QStandardItemModel>
#include <QStyleOptionComboBox>
#include <QStylePainter>

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

int TabcLRComboBox::widthForItems() const {
    QString longest;
    int text = 0;
    for (int i = 0; i < count(); ++i)
        if (const int w = fontMetrics().horizontalAdvance(itemText(i)); w > text) {
            text = w;
            longest = itemText(i);
        }
    return winutil::comboWidthFor(this, longest);
}

void TabcLRComboBox::paintEvent(QPaintEvent *) {
    QStylePainter painter(this);
    QStyleOptionComboBox opt;
    initStyleOption(&opt);
    painter.drawComplexControl(QStyle::CC_ComboBox, opt);
    const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, this);
    const QString whole = opt.currentText;
    opt.currentText = fontMetrics().elidedText(whole, Qt::ElideRight, qMax(0, field.width() - 2));
    const QString tip = opt.currentText == whole ? QString() : whole;
    if (toolTip() != tip) setToolTip(tip);
    painter.drawControl(QStyle::CE_ComboBoxLabel, opt);
}
