#pragma once
// The tip a widget shows where the mouse rests, asked as Qt asks it (a help event through the application's filters).
#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

// Hides a shown tip at once (QToolTip::hideText lets it linger a moment, and a tip asked for meanwhile would read
// the old one).
inline void hideTipsNow() {
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("qtooltip_label")) w->hide();
}

inline QString tipAt(QWidget *target, const QPoint &pos) {
    hideTipsNow();
    QHelpEvent e(QEvent::ToolTip, pos, target->mapToGlobal(pos));
    QApplication::sendEvent(target, &e);
    const QString tip = QToolTip::isVisible() ? QToolTip::text() : QString();
    hideTipsNow();
    return tip;
}
