// Institutions, member reports and population of a summary report: the tree marks shown from the stored list, the lists
// stored after OK, the population counted from the institutions and stored only when valid.
#include "engine/Caches.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "platform/Database.h"
#include "reports/Members.h"
#include "reports/Population.h"
#include "reports/ReportLogic.h"
#include "support/WindowTestBase.h"

#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QList<qint64> boldIds(QTreeWidget *tree) {
    QList<qint64> out;
    for (QTreeWidgetItem *n : TreeNodesInOrder(tree))
        if (IsTreeNodeMarked(n)) out.append(TreeNodeId(n));
    return out;
}

struct MembersTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        testWork().mode = ReportMode::Svod;
    }
};

} // namespace

TEST_F(MembersTest, IncludesOpenMarkedAndOkKeepsTheStoredList) {
    TRepInc w("5,6,7,8,", "Свод по Северному району");
    w.ShowTrees();
    EXPECT_EQ(boldIds(w.tree()), (QList<qint64>{1, 2, 5, 6, 7, 8}));
    EXPECT_EQ(reports::includeText(w.memberList()), "5,6,7,8,");

    // Through the command: OK without changes stores the same text.
    dialogs.modals.push_back([](QDialog *) { return int(QDialog::Accepted); });
    EXPECT_TRUE(editReportIncludes(nullptr, ids::ReportNorth, "Север"));
    EXPECT_EQ(reports::storedInclude(ids::ReportNorth), "5,6,7,8,");
    // Cancel changes nothing.
    dialogs.modals.push_back([](QDialog *d) {
        auto *inc = static_cast<TRepInc *>(d);
        inc->tree()->setCurrentItem(treeNodeWithId(inc->tree(), ids::North));
        inc->switchBranchMark();
        return int(QDialog::Rejected);
    });
    EXPECT_FALSE(editReportIncludes(nullptr, ids::ReportNorth, "Север"));
    EXPECT_EQ(reports::storedInclude(ids::ReportNorth), "5,6,7,8,");
}

TEST_F(MembersTest, MarkingBranchesAndStoringTheLeaves) {
    TRepInc w("5,", "Отчет");
    w.ShowTrees();
    QTreeWidget *t = w.tree();
    // Marking a territory marks its institutions; Space does the same as a double click.
    t->setCurrentItem(treeNodeWithId(t, ids::South));
    w.switchBranchMark();
    EXPECT_EQ(w.memberList(), (QList<qint64>{5, 9, 10, 11, 12}));
    // Unmarking the last marked institution of a territory clears it, and above it
    // only as far as no marked child remains.
    t->setCurrentItem(treeNodeWithId(t, ids::NorthHospital));
    w.show();
    t->setFocus();
    QTest::keyClick(t, Qt::Key_Space);
    EXPECT_FALSE(IsTreeNodeMarked(treeNodeWithId(t, ids::North)));
    EXPECT_TRUE(IsTreeNodeMarked(treeNodeWithId(t, ids::Region)));
    EXPECT_EQ(w.memberList(), (QList<qint64>{9, 10, 11, 12}));
    dialogs.modals.push_back([](QDialog *d) {
        auto *inc = static_cast<TRepInc *>(d);
        inc->tree()->setCurrentItem(treeNodeWithId(inc->tree(), ids::Central));
        inc->switchBranchMark();
        return int(QDialog::Accepted);
    });
    editReportIncludes(nullptr, ids::ReportNorth, "Север");
    EXPECT_EQ(reports::storedInclude(ids::ReportNorth), "5,6,7,8,13,14,15,16,");
}

TEST_F(MembersTest, ChildlessTerritoryAndSecondTopLevelUnitEnterTheList) {
    db::exec(db::kMain, "insert into administration (id, unit, dependence, medicaltype, ind) "
                        "values (40, 'Новый район', 1, -1, 9), (41, 'Другая область', 0, -1, 1), "
                        "(42, 'Больница другой области', 41, 2, 0)");
    caches::GetStruct();
    TRepInc w("40,42,", "Отчет");
    w.ShowTrees();
    EXPECT_TRUE(IsTreeNodeMarked(treeNodeWithId(w.tree(), 40)));
    EXPECT_TRUE(IsTreeNodeMarked(treeNodeWithId(w.tree(), 41)));
    EXPECT_EQ(reports::includeText(w.memberList()), "40,42,");
}

TEST_F(MembersTest, CompositionNeverOffersItselfAndReplacesItsRow) {
    TRepCont w(ids::ReportComposite, "Итоговый свод");
    ASSERT_EQ(w.reportList()->count(), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(w.reportList()->item(i)->data(Qt::UserRole).toLongLong(), ids::ReportComposite);
    EXPECT_EQ(w.checkedReports(), (QList<qint64>{1, 2}));

    auto check = [](QList<int> rows) {
        return [rows](QDialog *d) {
            auto *c = static_cast<TRepCont *>(d);
            for (int i = 0; i < c->reportList()->count(); ++i)
                c->reportList()->item(i)->setCheckState(rows.contains(i) ? Qt::Checked : Qt::Unchecked);
            return int(QDialog::Accepted);
        };
    };
    dialogs.modals.push_back(check({1, 2}));
    editReportComposition(nullptr, ids::ReportComposite, "Итоговый свод");
    EXPECT_EQ(db::column(db::connection(db::kMain), "select include from statistics where base=4"),
              QVariantList{"2,3"});
    dialogs.modals.push_back(check({}));
    editReportComposition(nullptr, ids::ReportComposite, "Итоговый свод");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select count(*) from statistics where base=4").toInt(), 0);
}

TEST_F(MembersTest, PopulationCountRestoreAndStore) {
    const int y = fx.year();
    TPopform w(ids::ReportNorth, "Свод по Северному району");
    ASSERT_TRUE(w.recordExists());
    const int k = 5 + 6 + 7 + 8;   // institutions of the northern district
    EXPECT_EQ(w.totalEdit()->text(), QString::number(1000 * k));
    EXPECT_EQ(w.childrenEdit()->text(), QString::number(200 * k));

    // A count from the institutions is shown, stored only by OK; Restore brings the record back.
    db::exec(db::kMain, "update populations1 set common=common+1 where unit=5 and year=?", {y});
    w.countFromInstitutions();
    EXPECT_EQ(w.totalEdit()->text(), QString::number(1000 * k + 1));
    EXPECT_EQ(reports::readPopulation(ids::ReportNorth, y)->common, QString::number(1000 * k));
    w.restoreStored();
    EXPECT_EQ(w.totalEdit()->text(), QString::number(1000 * k));
    // A sum of more than seven digits is refused, not cut.
    db::exec(db::kMain, "update populations1 set common=9999999 where unit in (5,6) and year=?", {y});
    w.countFromInstitutions();
    EXPECT_TRUE(dialogs.sawMessage("не помещается"));
    EXPECT_EQ(w.totalEdit()->text(), QString::number(1000 * k));

    // Seven digits are the most; an empty count is refused and nothing stored.
    w.totalEdit()->setText("12345678");
    w.adultsEdit()->setText("9999999");
    w.teenagersEdit()->clear();
    w.storeCounts();
    EXPECT_TRUE(dialogs.sawMessage("Подростки"));
    EXPECT_EQ(reports::readPopulation(ids::ReportNorth, y)->olds, QString::number(700 * k));
    w.teenagersEdit()->setText("3");
    w.storeCounts();
    EXPECT_EQ(w.result(), QDialog::Accepted);
    const auto stored = reports::readPopulation(ids::ReportNorth, y);
    EXPECT_EQ(stored->common, "1234567");
    EXPECT_EQ(stored->olds, "9999999");
    EXPECT_EQ(stored->teens, "3");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select count(*) from populations where unit=2").toInt(), 1);
}

TEST_F(MembersTest, PopulationOfAReportWithoutRecordOrMembers) {
    const int y = fx.year();
    TPopform w(ids::ReportComposite, "Итоговый свод");
    EXPECT_FALSE(w.recordExists());
    EXPECT_TRUE(w.totalEdit()->text().isEmpty());
    // No institutions: the count is zero, not a failing statement.
    w.countFromInstitutions();
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(w.totalEdit()->text(), "0");
    // The member reports' sum (reports 1 and 2).
    w.countFromMemberReports();
    const int expected = 1000 * (5 + 6 + 7 + 8 + 9 + 10 + 11 + 12 + 13 + 14 + 15 + 16) + 1000 * (5 + 6 + 7 + 8);
    EXPECT_EQ(w.totalEdit()->text(), QString::number(expected));
    w.storeCounts();
    EXPECT_EQ(reports::readPopulation(ids::ReportComposite, y)->common, QString::number(expected));
    db::exec(db::kMain, "delete from statistics");
    w.countFromMemberReports();
    EXPECT_TRUE(dialogs.sawMessage("Не задан список входящих отчетов"));
}
