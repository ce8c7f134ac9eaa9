// A value typed into the table window is kept whichever way the clerk closes the window: the close box or "Выход" (Esc
// and moving to the next table are covered with the table window's own tests). The table is opened again in a new
// window and must show the value.
#include "engine/SharedState.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"
#include "support/TableWindowSetup.h"

#include <QTest>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct LeaveCase {
    const char *name;
    std::function<void(TVTable &)> leave;
};

class TableLeavingTest : public ::testing::TestWithParam<LeaveCase> {
protected:
    void SetUp() override { fx.reloadCaches(); }

    void aim() {
        table = aimTableWindow(sample::ids::NorthHospital, sample::ids::FormF30, QStringLiteral("Ф30"),
                       QStringLiteral("(1000)"));
    }

    SampleFixture fx;
    FakeDialogs dialogs;
    TableWindowParams table;
};

} // namespace

TEST_P(TableLeavingTest, TypedValueSurvivesReopening) {
    aim();
    {
        auto w = showTableWindow(table);
        w->grid()->setCurrentCell(0, 1);
        QTest::keyClick(w->grid(), Qt::Key_Delete, Qt::ControlModifier);
        QTest::keyClicks(w->grid(), "417");
        GetParam().leave(*w);
        QApplication::processEvents();
    }
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join(u'\n').toStdString();

    aim();
    auto again = showTableWindow(table);
    EXPECT_EQ(again->cellDisplayText(0, 1), "417");
}

INSTANTIATE_TEST_SUITE_P(Ways, TableLeavingTest,
    ::testing::Values(LeaveCase{"CloseBox", [](TVTable &w) { w.close(); }},
        LeaveCase{"ExitItem", [](TVTable &w) { w.exitCommand()->trigger(); }},
        LeaveCase{"EscapeKey", [](TVTable &w) { QTest::keyClick(w.grid(), Qt::Key_Escape); }}),
    [](const ::testing::TestParamInfo<LeaveCase> &info) { return std::string(info.param.name); });
