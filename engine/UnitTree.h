#pragma once
// The territory tree as plain data: what a window hands the work on its
// units (unloads, order) instead of the nodes of its tree widget.
#include <QList>
#include <QString>

// A unit as the tree shows it, with the units under it in their order.
struct UnitNode {
    QString name;
    qint64 id = 0;                // administration.id
    QList<UnitNode> children;
};

// A unit among the units beside it (its parent's children, or the top level;
// itself included, in their order), each with everything under it: the names
// of files and folders made for a unit depend on its siblings' names.
struct UnitBranch {
    QList<UnitNode> siblings;
    qsizetype self = 0;
    const UnitNode &node() const { return siblings.at(self); }
};
