#include "widgets/WindowLayout.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTreeWidget>

namespace winutil {

void fitToScreen(QWidget *w, const QSize &wanted) {
    QSize size = wanted;
    if (const QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    w->resize(size);
}

void setupTree(QTreeWidget *tree) {
    tree->setHeaderHidden(true);
    tree->setColumnCount(1);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
}

} // namespace winutil
