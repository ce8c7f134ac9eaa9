#pragma once
// Check trees of the program (territories, institutions, institution types)
// mark a chosen node by drawing it bold. The marking routines keep a branch
// and its ancestors consistent. Every tree node carries its id (an
// administration, medicaltypes or report id) as data under kNodeIdRole.
#include "engine/UnitTree.h"

#include <QList>
#include <Qt>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

inline constexpr int kNodeIdRole = Qt::UserRole;

qint64 TreeNodeId(const QTreeWidgetItem *node);

bool IsTreeNodeBold(const QTreeWidgetItem *node);
void SetTreeNodeBold(QTreeWidgetItem *node);
void ClearTreeNodeBold(QTreeWidgetItem *node);

// direction +1 makes every node of the branch (the node and its descendants)
// bold, -1 makes them normal.
void SetBranchCheck(QTreeWidgetItem *node, int direction);
// Marks the branch, then the node's ancestors up to the root.
void CheckTreeBranch(QTreeWidgetItem *node);
// Unmarks the branch, then walks up: each ancestor loses its mark unless one
// of its children is still marked, where the walk stops.
void UncheckTreeBranch(QTreeWidgetItem *node);

// Adds the administrative children of parentId (shared().Caches.structure)
// under the node, depth first, each with its unit name and id; records each
// new node's position in tree order in its StructNode::treeIndex.
void FillAdminTree(QTreeWidgetItem *node, qint64 parentId);
// Same for the top level of a tree: the units of parentId become top-level
// nodes, each filled with its descendants.
void FillAdminTree(QTreeWidget *tree, qint64 parentId);

// Position of a node among its siblings (top-level nodes among the tree's
// top level), from 0.
int TreeNodeSiblingIndex(const QTreeWidgetItem *node);
// Position of a node in tree order (pre-order over all levels, from 0);
// -1 when the node is in no tree.
int TreeNodeAbsoluteIndex(const QTreeWidgetItem *node);
// Every node of a tree, in tree order.
QList<QTreeWidgetItem *> TreeNodesInOrder(QTreeWidget *tree);
// Ids of the leaves under a node in tree order (a leaf gives its own id).
QList<qint64> TreeLeafIds(const QTreeWidgetItem *node);

// The units of a territory tree as plain data (text and id of each node),
// for the work that takes them: the top level, and a node among its siblings.
QList<UnitNode> TreeUnitNodes(const QTreeWidget *tree);
UnitBranch TreeUnitBranch(const QTreeWidgetItem *node);

// Where a dragged node is dropped.
enum class TreeDropPlace { Label, Indent, Empty };
// Moves d: onto t's label it becomes t's last child, onto t's indent it goes
// before t, onto empty space to the end of the top level. Refused (false,
// nothing changes) when t is d or lies under d. When the parent changes,
// storeParent(id of d, id of the new parent or 0 at the top) runs first;
// what it throws leaves the tree as it was.
bool MoveTreeNode(QTreeWidget *tree, QTreeWidgetItem *d, QTreeWidgetItem *t, TreeDropPlace place,
                  const std::function<void(qint64 node, qint64 parent)> &storeParent);
