// The sample configuration's network form: calculated cells whose conditions reach over two forms.
#include "support/Fixture.h"
#include "support/TestWork.h"

#include "engine/Caches.h"
#include "engine/Conditions.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <gtest/gtest.h>

using namespace sample::ids;

class SampleRules : public ::testing::Test {
protected:
    SampleFixture fx;
    void SetUp() override {
        fx.reloadCaches();
        testWork().table = ValueTable::Data;
        testWork().mode = ReportMode::Input;
    }
};

TEST_F(SampleRules, NetworkFormCellsCountAndSumInstitutions) {
    SharedState &s = shared();
    testWork().net = true;
    testWork().includeList = QStringLiteral("5,6,7,8,9,10,11,12,13,14,15,16");
    RuleRun run(RuleRunContext{testWork()});
    run.matrix().create(4, 6, 3, 7);   // stored columns fixcols+1..colcount+1, rows fixrows+1..rowcount+1
    run.calcConditions(TableF47Network);
    const ValueMatrix &m = run.matrix();
    // Stored cell of grid (row r, column c) is [c + fixcols + 2, r + fixrows + 2].
    EXPECT_DOUBLE_EQ(m.at(5, 4), 4);   // Больница: 5, 9, 12, 13
    EXPECT_DOUBLE_EQ(m.at(5, 5), 3);   // Поликлиника: 6, 10, 14
    EXPECT_DOUBLE_EQ(m.at(5, 6), 3);   // rural ФАП: 7, 8, 11
    // Staffed hospitals and dispensaries with many deaths or visits: 9, 13, 15.
    EXPECT_DOUBLE_EQ(m.at(5, 7), 3);
    // Beds: bed-days of hospitals and dispensaries / 365.
    const auto bedDays = [](std::initializer_list<int> hs) {
        double sum = 0;
        for (int h : hs) sum += 45 * 10.0 * h + 0.5;
        return sum;
    };
    EXPECT_NEAR(m.at(6, 4), bedDays({5, 9, 13, 15}) / 365, 0.01);
    // Average visits over the three polyclinics (14 has no values).
    EXPECT_NEAR(m.at(6, 5), (100 * 60.0 + 100 * 100.0) / 3, 0.01);
    // Row rule of grid row 3 crossed with the column rule of grid column 1
    // fills only their crossing; row 2 has no row rule.
    EXPECT_NEAR(m.at(6, 7), bedDays({9, 13, 15}) / 365, 0.01);
    EXPECT_DOUBLE_EQ(m.at(6, 6), 0);

}
