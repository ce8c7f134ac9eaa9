#pragma once
// Check trees of the program (territories, institutions, institution types)
// mark a chosen node by drawing it bold. The marking routines keep a branch
// and its ancestors consistent. Every tree node carries its id (an
// administration, medicaltypes or report id) as data under kNodeIdRole.
#include <QList>
#include <Qt>

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
