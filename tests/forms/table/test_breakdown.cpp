// Breakdown of a table value by the units that make it up, over the sample: institutions and summary reports of the
// include list, network rules of a cell, the total line taken from the window's matrix, and the list window reached
// from the table window's menu.
#include "core/ListWindow.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "forms/table/Breakdown.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/TableWindowSetup.h"

#include <QApplication>
#include <gtest/gtest.h>

using namespace breakdown;

namespace {

class BreakdownTest : public ::testing::Test {
protected:
    void SetUp() override {
        fx.reloadCaches();
        table = aimTableWindow(sample::ids::ReportNorth, sample::ids::FormF30, QStringLiteral("Ф30"), QStringLiteral("(1000)"),
                       sample::ids::TableF30Staff);
        SharedState &s = shared();
        testWork().mode = ReportMode::Svod;
        testWork().table = ValueTable::RepData;
        testWork().includeList = QStringLiteral("5,6,7,8");
        // The window's own values: stored columns 5..8, rows 5..9.
        shown.create(0, 10, 0, 12);
    }
    void TearDown() override { testWork().net = false; }
    TableWindowParams table;

    // Ф30 (1000): 4 grid columns, 5 grid rows, fixcols 3, fixrows 3.
    Request staff(Kind kind, int row, int column) {
        return {.kind = kind, .row = row, .column = column, .gridColumns = 4, .gridRows = 5, .fixcols = 3,
                .fixrows = 3, .tableIdent = sample::ids::TableF30Staff, .formId = sample::ids::FormF30,
                .tableNumber = QStringLiteral("(1000)"), .shown = &shown, .work = testWork()};
    }

    Request network(int row, int column) {
        SharedState &s = shared();
        testWork().net = true;
        testWork().mode = ReportMode::Net;
        testWork().includeList = QStringLiteral("5,6,7,8,9,10,11,12,13,14,15,16");
        return {.kind = Kind::Cell, .row = row, .column = column, .gridColumns = 2, .gridRows = 4, .fixcols = 3,
                .fixrows = 2, .floatValues = true, .tableIdent = sample::ids::TableF47Network,
                .formId = sample::ids::FormF47, .tableNumber = QStringLiteral("(1000)"), .shown = &shown, .work = testWork()};
    }

    SampleFixture fx;
    FakeDialogs dialogs;
    ValueMatrix shown;
};

} // namespace

TEST_F(BreakdownTest, CellOfEachInstitutionAndTheWindowsTotal) {
    shown.set(5, 5, 1234);   // not the sum of the lines
    const Result r = Build(staff(Kind::Cell, 0, 0));
    EXPECT_EQ(r.heading, "Подразделение\t4\t");
    EXPECT_EQ(r.lines.texts(), QStringList({"Северная ЦРБ\t50", "Северная поликлиника\t60", "ФАП Озёрный\t70",
                                            "ФАП Лесной\t", "Всего\t1234"}));
    EXPECT_EQ(r.lines.object(0), sample::ids::NorthHospital);
    EXPECT_EQ(r.lines.object(3), sample::ids::FapLesnoy);
}

TEST_F(BreakdownTest, RowAndColumnGiveOneFieldPerPosition) {
    testWork().includeList = QStringLiteral("8,5");   // listed by the units' order, not the list's
    Request row = staff(Kind::Row, 0, 2);
    row.floatValues = true;
    shown.set(8, 5, 23.5);
    Result r = Build(row);
    EXPECT_EQ(r.heading, "Подразделение\t4\t5\t6\t7\t");
    EXPECT_EQ(r.lines.texts(),
              QStringList({"Северная ЦРБ\t50\t48\t47\t23", "ФАП Лесной\t\t\t\t", "Всего\t0.00\t0.00\t0.00\t23.50"}));

    r = Build(staff(Kind::Column, 3, 0));
    EXPECT_EQ(r.heading, "Подразделение\t1\t2\t3\t4\t5\t");
    EXPECT_EQ(r.lines.text(0), "Северная ЦРБ\t50\t20\t15\t100\t50");
    EXPECT_EQ(r.lines.text(2), "Всего\t0\t0\t0\t0\t0");
}

TEST_F(BreakdownTest, SummaryReportsInTerrainMode) {
    SharedState &s = shared();
    testWork().mode = ReportMode::Terrain;
    testWork().includeList = QStringLiteral("1,2");
    Request q = staff(Kind::Cell, 0, 0);
    q.fixrows = 2;   // Ф30 (2000)
    q.tableIdent = sample::ids::TableF30Visits;
    q.tableNumber = QStringLiteral("(2000)");
    const Result r = Build(q);
    EXPECT_EQ(r.lines.text(0), "Свод по области\t76000");
    EXPECT_EQ(r.lines.text(1), "Свод по Северному району\t");
    EXPECT_EQ(r.lines.object(1), sample::ids::ReportNorth);
    q.work.includeList.clear();
    EXPECT_EQ(Build(q).lines.count(), 1);   // only the total
}

TEST_F(BreakdownTest, NetworkCellsFollowTheirRule) {
    // Counter of hospitals: each selected institution with "0".
    Result r = Build(network(0, 0));
    EXPECT_EQ(r.lines.texts(),
              QStringList({"Северная ЦРБ\t0", "Южная ЦРБ\t0", "Областная больница\t0", "Южная участковая больница\t0",
                           "Всего\t0.00"}));

    // Sum of a reference per institution; the divisor is not applied.
    r = Build(network(0, 1));
    EXPECT_EQ(r.lines.count(), 7);
    EXPECT_EQ(r.lines.text(0), "Северная ЦРБ\t2250.50");
    EXPECT_EQ(r.lines.text(r.lines.indexOfObject(sample::ids::OncologyDispensary)),
              "Онкологический диспансер\t6750.50");
    EXPECT_EQ(r.lines.text(r.lines.indexOfObject(sample::ids::TbDispensary)), "Противотуберкулёзный диспансер\t0");

    // No cell rule: the crossing of the row and column rules with the condition.
    r = Build(network(3, 1));
    EXPECT_EQ(r.lines.texts(), QStringList({"Южная ЦРБ\t4050.50", "Областная больница\t5850.50",
                                            "Онкологический диспансер\t6750.50", "Всего\t0.00"}));

    // A column of the network table: the rule's value under the current row.
    Request column = network(1, 0);
    column.kind = Kind::Column;
    r = Build(column);
    EXPECT_EQ(r.lines.text(0), "Северная поликлиника\t\t0\t\t");
    EXPECT_EQ(r.heading, "Подразделение\t1\t2\t3\t4\t");
}

TEST_F(BreakdownTest, UnbalancedConditionListsNobody) {
    db::exec(db::kMain, "update conditions set condition='Ф30Т(1000)СТР1ГР4>0)' where tid=? and \"row\"=3 and "
                        "\"column\"=0", {sample::ids::TableF47Network});
    const Result r = Build(network(3, 0));
    EXPECT_EQ(r.lines.texts(), QStringList({"Всего\t0.00"}));
    EXPECT_TRUE(dialogs.sawMessage("Не хватает левой скобки"));
}

TEST_F(BreakdownTest, FromTheTableWindowIntoTheListWindow) {
    installBreakdownTableExtension();
    testWork().institution = sample::ids::ReportRegion;
    TVTable w(table, testWork());
    w.show();
    QApplication::processEvents();
    ASSERT_TRUE(w.isLoaded());
    ASSERT_TRUE(w.commandAction(TVTable::Command::BreakdownColumn)->isEnabled());
    w.grid()->setCurrentCell(1, 0);
    QStringList rows;
    dialogs.modals.push_back([&](QDialog *d) {
        auto *list = static_cast<TForm1 *>(d);
        const ListContents c = list->contents();
        for (const QStringList &row : c.rows) rows << row.join(u'|');
        EXPECT_TRUE(list->heading().startsWith(w.formCaption() + " - " + w.tableCaption() + " - "));
        EXPECT_FALSE(list->heading().contains("Наименование"));
        return int(QDialog::Accepted);
    });
    w.commandAction(TVTable::Command::BreakdownColumn)->trigger();
    ASSERT_EQ(dialogs.modalTitles.size(), 1);
    EXPECT_EQ(dialogs.modalTitles[0], w.windowTitle());
    ASSERT_EQ(rows.size(), 5);
    EXPECT_EQ(rows[0], "Северная ЦРБ|48|19|14|96|48|");
}
