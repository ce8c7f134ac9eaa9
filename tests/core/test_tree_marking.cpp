// Check trees: the mark of a node is its own state, drawn bold; moves that store the new parent first.
#include "core/TreeMarking.h"

#include <QTreeWidget>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

QTreeWidgetItem *node(QTreeWidgetItem *parent, const QString &text, qint64 id) {
    auto *item = new QTreeWidgetItem(parent, QStringList{text});
    item->setData(0, kNodeIdRole, id);
    return item;
}

QTreeWidgetItem *top(QTreeWidget &tree, const QString &text, qint64 id) {
    auto *item = new QTreeWidgetItem(&tree, QStringList{text});
    item->setData(0, kNodeIdRole, id);
    return item;
}

QStringList shape(const QList<UnitNode> &units, int depth = 0) {
    QStringList out;
    for (const UnitNode &u : units) {
        out.append(QString(depth, QLatin1Char('.')) + u.name + QLatin1Char('=') + QString::number(u.id));
        out += shape(u.children, depth + 1);
    }
    return out;
}

} // namespace

// A node drawn bold for any other reason is not marked, and a marked node stays marked whatever its font says; what
// the user sees of a mark is the bold font.
TEST(TreeMarking, TheMarkIsTheNodesStateAndBoldOnlyShowsIt) {
    QTreeWidget tree;
    QTreeWidgetItem *district = top(tree, QStringLiteral("Район"), 1);
    QTreeWidgetItem *crb = node(district, QStringLiteral("ЦРБ"), 2);
    QTreeWidgetItem *fap = node(district, QStringLiteral("ФАП \"Лесной\""), 3);
    QTreeWidgetItem *city = top(tree, QStringLiteral("город"), 4);
    QTreeWidgetItem *hospital = node(city, QStringLiteral("ГОРОД"), 5);

    QFont bold = hospital->font(0);
    bold.setBold(true);
    hospital->setFont(0, bold);
    EXPECT_FALSE(IsTreeNodeMarked(hospital));
    EXPECT_TRUE(MarkedLeafIds(&tree).isEmpty());

    CheckTreeBranch(fap);
    for (QTreeWidgetItem *n : {district, fap}) {
        EXPECT_TRUE(IsTreeNodeMarked(n)) << n->text(0).toStdString();
        EXPECT_TRUE(n->font(0).bold()) << n->text(0).toStdString();
    }
    EXPECT_FALSE(IsTreeNodeMarked(crb));
    EXPECT_FALSE(crb->font(0).bold());
    QFont plain = fap->font(0);
    plain.setBold(false);
    fap->setFont(0, plain);
    EXPECT_EQ(MarkedLeafIds(&tree), QList<qint64>{3});

    CheckTreeBranch(district);
    CheckTreeBranch(hospital);
    EXPECT_EQ(MarkedLeafIds(&tree), (QList<qint64>{2, 3, 5}));
    UncheckTreeBranch(crb);
    EXPECT_TRUE(IsTreeNodeMarked(district));   // its other child is still marked
    UncheckTreeBranch(fap);
    EXPECT_FALSE(IsTreeNodeMarked(district));
    EXPECT_FALSE(district->font(0).bold());
    EXPECT_EQ(MarkedLeafIds(&tree), QList<qint64>{5});
    UnmarkTreeNode(hospital);
    EXPECT_FALSE(hospital->font(0).bold());
    EXPECT_TRUE(MarkedLeafIds(&tree).isEmpty());
}

// A move stores the new parent before anything moves: a refusal there leaves the tree as it was; a move among the
// same parent's children stores nothing.
TEST(TreeMarking, AMoveStoresTheParentFirst) {
    QTreeWidget tree;
    QTreeWidgetItem *district = top(tree, QStringLiteral("Район"), 1);
    QTreeWidgetItem *crb = node(district, QStringLiteral("ЦРБ"), 2);
    QTreeWidgetItem *fap = node(district, QStringLiteral("ФАП"), 3);
    QTreeWidgetItem *city = top(tree, QStringLiteral("Город"), 4);
    tree.setCurrentItem(fap);
    QList<QPair<qint64, qint64>> stored;
    const auto refuse = [&](qint64 unit, qint64 parent) {
        stored.append({unit, parent});
        throw std::runtime_error("deleted in another window");
    };
    EXPECT_THROW(MoveTreeNode(&tree, fap, city, TreeDropPlace::Label, refuse), std::runtime_error);
    EXPECT_EQ(stored, (QList<QPair<qint64, qint64>>{{3, 4}}));
    EXPECT_EQ(shape(TreeUnitNodes(&tree)), (QStringList{"Район=1", ".ЦРБ=2", ".ФАП=3", "Город=4"}));
    EXPECT_EQ(tree.currentItem(), fap);

    stored.clear();
    const auto store = [&](qint64 unit, qint64 parent) { stored.append({unit, parent}); };
    EXPECT_TRUE(MoveTreeNode(&tree, fap, crb, TreeDropPlace::Indent, store));
    EXPECT_TRUE(stored.isEmpty());
    EXPECT_TRUE(MoveTreeNode(&tree, crb, nullptr, TreeDropPlace::Empty, store));
    EXPECT_EQ(stored, (QList<QPair<qint64, qint64>>{{2, 0}}));
    EXPECT_EQ(shape(TreeUnitNodes(&tree)), (QStringList{"Район=1", ".ФАП=3", "Город=4", "ЦРБ=2"}));
    EXPECT_EQ(tree.currentItem(), fap);
}
