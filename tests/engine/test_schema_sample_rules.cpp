// The sample configuration's rules give the results its description promises,
// run through the rule engine and the calculated cells.
#include "support/Fixture.h"

#include "engine/Caches.h"
#include "engine/Conditions.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

using namespace sample::ids;

namespace {

// The errors of one institution's run of the rules selected by where with
// the default text.
StringList controlErrors(qint64 institution, const QString &where, const QString &defaultText) {
    shared().CurrentInstitution = institution;
    RuleRun run(RuleRunContext::current());
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select * from int_control where ") + where +
                                          QStringLiteral(" order by \"Код\""));
    while (q.next()) run.addRule(q.record());
    run.runControls(defaultText);
    return run.errors();
}

// Keys of the violated rules (one entry per failing repetition).
QList<qint64> violations(qint64 institution, const QString &where, const QString &defaultText) {
    QList<qint64> keys;
    for (const auto &item : controlErrors(institution, where, defaultText)) keys.append(item.object);
    return keys;
}

} // namespace

class SampleRules : public ::testing::Test {
protected:
    SampleFixture fx;
    void SetUp() override {
        fx.reloadCaches();
        shared().DataTableName = ValueTable::Data;
        shared().ReportMode = ReportMode::Input;
    }
};

TEST_F(SampleRules, ControlRulesFailOnlyWhereDocumented) {
    const QString intraF30 = QStringLiteral("formid=1 and tble='(1000)'");
    const QString interF30 = QStringLiteral("formid=1 and (tble='' or tble is null)");
    const QString interForm = QStringLiteral("formid=0");
    const QString intraF14 = QStringLiteral("formid=2 and tble='(1000)'");
    for (int h : {int(NorthHospital), int(NorthPolyclinic), int(FapOzerny), int(SouthHospital),
                  int(SouthPolyclinic), int(FapStepnoy), int(RegionalHospital), int(OncologyDispensary),
                  int(FapLesnoy)}) {
        QList<qint64> expectIntra;
        if (h == SouthHospital) expectIntra = {RuleDoctorsByColumn};
        if (h == RegionalHospital) expectIntra = {RuleOccupiedPositions};
        EXPECT_EQ(violations(h, intraF30, QStringLiteral("Ф30Т[1000]")), expectIntra) << h;
        EXPECT_EQ(violations(h, interF30, QStringLiteral("Ф30")),
                  h == FapOzerny ? QList<qint64>{RuleRuralVisits} : QList<qint64>{}) << h;
        EXPECT_TRUE(violations(h, interForm, QString()).isEmpty()) << h;
        EXPECT_TRUE(violations(h, intraF14, QStringLiteral("Ф14Т[1000]")).isEmpty()) << h;
    }
    // The cycled rule names the failing column.
    const StringList errors =
        controlErrors(SouthHospital, QStringLiteral("formid=1 and tble='(1000)'"), QStringLiteral("Ф30Т[1000]"));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors.text(0).contains(QStringLiteral("\tГР5Ф30Т[1000]\t"))) << errors.text(0).toStdString();
}

// The network form's calculated cells over all institutions, and the network
// report that stores them.
TEST_F(SampleRules, NetworkFormCellsCountAndSumInstitutions) {
    SharedState &s = shared();
    s.NetMode = true;
    s.IncludeList = QStringLiteral("5,6,7,8,9,10,11,12,13,14,15,16");
    RuleRun run(RuleRunContext::current());
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

    int stored = 0;
    QSqlQuery q = db::exec(db::kData, QStringLiteral("select \"column\", \"row\", data from repdata where hospital=? "
                                                     "and \"table\"=?"),
                           {int(ReportNetwork), int(TableF47Network)});
    while (q.next()) {
        ++stored;
        EXPECT_NEAR(q.value(2).toDouble(), m.at(q.value(0).toInt(), q.value(1).toInt()), 0.01)
            << q.value(0).toInt() << "," << q.value(1).toInt();
    }
    int nonZero = 0;
    for (int c = 5; c <= 6; ++c)
        for (int r = 4; r <= 7; ++r) nonZero += m.at(c, r) != 0;
    EXPECT_EQ(stored, nonZero);
}
