#pragma once
// Institution types without their windows: the type tree, the forms assigned
// to a type, renaming, ordering and the institutions of marked types.
// Every text is bound; throws db::Error.
#include <QList>
#include <QPair>
#include <QString>

class QTreeWidget;
class QTreeWidgetItem;

namespace medtypes {

// Fills the tree (text = type, id under kNodeIdRole), level by level in ind order.
void loadTypeTree(QTreeWidget *tree);
// The forms a type can be given: every form that is not a network form, as
// ("ФОРМА - decipher", id) in ind order.
QList<QPair<QString, qint64>> assignableForms();
// Form ids assigned to a type.
QList<qint64> formsOfType(qint64 typeId);
// Replaces the type's assignments by the given forms, in one transaction. A
// type or form deleted behind the window refuses it (db::Error), nothing
// changed; so does a renamed type that is gone, and a node of the order.
void saveTypeForms(qint64 typeId, const QList<qint64> &formIds);
// The stored name of a type (empty when there is none).
QString typeName(qint64 typeId);
// Renames a type; an empty name is refused.
void renameType(qint64 typeId, const QString &name);
// Writes ind = position among siblings for every node, in one transaction.
void saveTypeOrder(QTreeWidget *tree);
// In ordering mode a type may be dropped only onto another type of its parent;
// it then moves, with its children, before that type.
bool canDropType(const QTreeWidgetItem *dragged, const QTreeWidgetItem *target);
bool moveTypeBefore(QTreeWidget *tree, QTreeWidgetItem *dragged, QTreeWidgetItem *target);
// Institutions of the given types joined by "," in their order.
QString unitsOfTypes(const QList<qint64> &typeIds);

} // namespace medtypes
