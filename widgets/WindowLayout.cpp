#include "widgets/WindowLayout.h"

#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>
#include <QTreeWidget>

namespace winutil {

void fitToScreen(QWidget *w, const QSize &wanted) {
    QSize size = wanted;
    if (const QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - kWindowFrame);
    w->resize(size);
}

void compactMenuBar(QMenuBar *bar) {
    bar->setStyleSheet(QStringLiteral("QMenuBar { spacing: 0px; } QMenuBar::item { padding: 2px 3px; }"));
}

void setupTree(QTreeWidget *tree) {
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

} // namespace winutil
