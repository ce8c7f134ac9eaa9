#pragma once
// Check trees of the program (territories, institutions, institution types)
// mark chosen nodes. The mark is the node's own state (data under
// kNodeMarkRole), read only through IsTreeNodeMarked; a marked node is drawn
// bold, which is all the font says. The marking routines keep a branch and
// its ancestors consistent. Every tree node carries its id (an
// administration, medicaltypes or report id) as data under kNodeIdRole.
#include "engine/UnitTree.h"

#include <QList>
#include <Qt>
#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

inline constexpr int kNodeIdRole = Qt::UserRole;
// Well clear of the roles the program's other trees and lists keep data under.
inline constexpr int kNodeMarkRole = Qt::UserRole + 100;

qint64 TreeNodeId(const QTreeWidgetItem *node);

bool IsTreeNodeMarked(const QTreeWidgetItem *node);
// Marks or unmarks the node alone, and draws it bold or normal accordingly.
void MarkTreeNode(QTreeWidgetItem *node);
void UnmarkTreeNode(QTreeWidgetItem *node);
// Ids of the marked leaves of a tree, in tree order.
QList<qint64> MarkedLeafIds(QTreeWidget *tree);

// direction +1 marks every node of the branch (the node and its
// descendants), -1 unmarks them.
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
