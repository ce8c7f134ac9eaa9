// A member list read from the font weight of the tree's nodes, and from the
// mark's role.
#include "core/TreeMarking.h"

#include <QTreeWidget>

QList<qint64> boldMembers(QTreeWidget *tree) {
    QList<qint64> out;
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (n->childCount() == 0 && n->font(0).bold()) out.append(TreeNodeId(n));
    return out;
}

bool marked(const QTreeWidgetItem *n) { return n->data(0, kNodeMarkRole).toBool(); }
