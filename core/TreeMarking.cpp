#include "core/TreeMarking.h"

#include "engine/SharedState.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

qint64 TreeNodeId(const QTreeWidgetItem *node) { return node ? node->data(0, kNodeIdRole).toLongLong() : 0; }

bool IsTreeNodeMarked(const QTreeWidgetItem *node) { return node && node->data(0, kNodeMarkRole).toBool(); }

static void setMarked(QTreeWidgetItem *node, bool marked) {
    if (!node) return;
    node->setData(0, kNodeMarkRole, marked);
    if (node->font(0).bold() == marked) return;
    QFont f = node->font(0);
    f.setBold(marked);
    node->setFont(0, f);
}

void MarkTreeNode(QTreeWidgetItem *node) { setMarked(node, true); }
void UnmarkTreeNode(QTreeWidgetItem *node) { setMarked(node, false); }

void SetBranchCheck(QTreeWidgetItem *node, int direction) {
    if (!node) return;
    setMarked(node, direction > 0);
    for (int i = 0; i < node->childCount(); ++i) SetBranchCheck(node->child(i), direction);
}

void CheckTreeBranch(QTreeWidgetItem *node) {
    if (!node) return;
    SetBranchCheck(node, +1);
    for (QTreeWidgetItem *p = node->parent(); p; p = p->parent()) MarkTreeNode(p);
}

void UncheckTreeBranch(QTreeWidgetItem *node) {
    if (!node) return;
    SetBranchCheck(node, -1);
    QTreeWidgetItem *current = node;
    for (;;) {
        UnmarkTreeNode(current);
        QTreeWidgetItem *parent = current->parent();
        if (!parent) return;
        for (int i = 0; i < parent->childCount(); ++i)
            if (IsTreeNodeMarked(parent->child(i))) return;
        current = parent;
    }
}

int TreeNodeSiblingIndex(const QTreeWidgetItem *node) {
    if (!node) return 0;
    auto *item = const_cast<QTreeWidgetItem *>(node);
    if (item->parent()) return item->parent()->indexOfChild(item);
    return item->treeWidget() ? item->treeWidget()->indexOfTopLevelItem(item) : 0;
}

static void countBefore(const QTreeWidgetItem *item, const QTreeWidgetItem *target, int &index, bool &found) {
    if (found) return;
    if (item == target) { found = true; return; }
    ++index;
    for (int i = 0; i < item->childCount() && !found; ++i) countBefore(item->child(i), target, index, found);
}

int TreeNodeAbsoluteIndex(const QTreeWidgetItem *node) {
    if (!node || !node->treeWidget()) return -1;
    QTreeWidget *tree = node->treeWidget();
    int index = 0;
    bool found = false;
    for (int i = 0; i < tree->topLevelItemCount() && !found; ++i) countBefore(tree->topLevelItem(i), node, index, found);
    return found ? index : -1;
}

static void collect(QTreeWidgetItem *item, QList<QTreeWidgetItem *> &out) {
    out.append(item);
    for (int i = 0; i < item->childCount(); ++i) collect(item->child(i), out);
}

QList<QTreeWidgetItem *> TreeNodesInOrder(QTreeWidget *tree) {
    QList<QTreeWidgetItem *> out;
    if (!tree) return out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) collect(tree->topLevelItem(i), out);
    return out;
}

QList<qint64> TreeLeafIds(const QTreeWidgetItem *node) {
    QList<qint64> out;
    if (!node) return out;
    if (node->childCount() == 0) {
        out.append(TreeNodeId(node));
        return out;
    }
    for (int i = 0; i < node->childCount(); ++i) out += TreeLeafIds(node->child(i));
    return out;
}

QList<qint64> MarkedLeafIds(QTreeWidget *tree) {
    QList<qint64> out;
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (n->childCount() == 0 && IsTreeNodeMarked(n)) out.append(TreeNodeId(n));
    return out;
}

static UnitNode unitOf(const QTreeWidgetItem *item) {
    UnitNode out{item->text(0), TreeNodeId(item), {}};
    for (int i = 0; i < item->childCount(); ++i) out.children.append(unitOf(item->child(i)));
    return out;
}

QList<UnitNode> TreeUnitNodes(const QTreeWidget *tree) {
    QList<UnitNode> out;
    if (!tree) return out;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) out.append(unitOf(tree->topLevelItem(i)));
    return out;
}

UnitBranch TreeUnitBranch(const QTreeWidgetItem *node) {
    UnitBranch out;
    if (!node) return out;
    if (const QTreeWidgetItem *p = node->parent()) {
        for (int i = 0; i < p->childCount(); ++i) out.siblings.append(unitOf(p->child(i)));
    } else if (const QTreeWidget *tree = node->treeWidget()) {
        out.siblings = TreeUnitNodes(tree);
    } else {
        out.siblings.append(unitOf(node));
        return out;
    }
    out.self = TreeNodeSiblingIndex(node);
    return out;
}

static bool isUnder(const QTreeWidgetItem *node, const QTreeWidgetItem *ancestor) {
    for (const QTreeWidgetItem *p = node; p; p = p->parent())
        if (p == ancestor) return true;
    return false;
}

static void detach(QTreeWidget *tree, QTreeWidgetItem *item) {
    if (item->parent()) item->parent()->removeChild(item);
    else tree->takeTopLevelItem(tree->indexOfTopLevelItem(item));
}

bool MoveTreeNode(QTreeWidget *tree, QTreeWidgetItem *d, QTreeWidgetItem *t, TreeDropPlace place,
                  const std::function<void(qint64, qint64)> &storeParent) {
    if (!tree || !d) return false;
    if (place != TreeDropPlace::Empty && (!t || isUnder(t, d))) return false;
    const qint64 oldParent = d->parent() ? TreeNodeId(d->parent()) : 0;
    qint64 newParent = 0;
    if (place == TreeDropPlace::Label) newParent = TreeNodeId(t);
    else if (place == TreeDropPlace::Indent) newParent = t->parent() ? TreeNodeId(t->parent()) : 0;
    if (newParent != oldParent && storeParent) storeParent(TreeNodeId(d), newParent);
    const bool wasCurrent = tree->currentItem() == d;
    detach(tree, d);
    switch (place) {
    case TreeDropPlace::Label: t->addChild(d); break;
    case TreeDropPlace::Indent:
        if (t->parent()) t->parent()->insertChild(t->parent()->indexOfChild(t), d);
        else tree->insertTopLevelItem(tree->indexOfTopLevelItem(t), d);
        break;
    case TreeDropPlace::Empty: tree->addTopLevelItem(d); break;
    }
    if (wasCurrent) tree->setCurrentItem(d);
    return true;
}

static QTreeWidgetItem *makeUnitNode(const StructNode &unit) {
    auto *item = new QTreeWidgetItem(QStringList{unit.unit});
    item->setData(0, kNodeIdRole, unit.id);
    return item;
}

static void recordIndex(int i, const QTreeWidgetItem *item) {
    QList<StructNode> &units = shared().Caches.structure;
    if (i < units.size()) units[i].treeIndex = TreeNodeAbsoluteIndex(item);
}

static bool hasAncestorId(const QTreeWidgetItem *node, qint64 id) {
    for (const QTreeWidgetItem *p = node; p; p = p->parent())
        if (TreeNodeId(p) == id) return true;
    return false;
}

void FillAdminTree(QTreeWidgetItem *node, qint64 parentId) {
    if (!node) return;
    const QList<StructNode> &units = shared().Caches.structure;
    for (int i = 0; i < units.size(); ++i) {
        if (units[i].parent != parentId) continue;
        const qint64 id = units[i].id;
        if (hasAncestorId(node, id)) continue;   // a cycle in the stored parents would never end
        QTreeWidgetItem *child = makeUnitNode(units[i]);
        node->addChild(child);
        recordIndex(i, child);
        FillAdminTree(child, id);
    }
}

void FillAdminTree(QTreeWidget *tree, qint64 parentId) {
    if (!tree) return;
    const QList<StructNode> &units = shared().Caches.structure;
    for (int i = 0; i < units.size(); ++i) {
        if (units[i].parent != parentId) continue;
        QTreeWidgetItem *item = makeUnitNode(units[i]);
        tree->addTopLevelItem(item);
        recordIndex(i, item);
        FillAdminTree(item, units[i].id);
    }
}
