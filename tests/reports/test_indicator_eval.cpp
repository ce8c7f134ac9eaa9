// Indicator evaluation over the sample configuration, with values worked out
// by hand from the sample's content (see core/SampleConfig.cpp):
//   Ф30 (1000) СТР1 of institution id: ГР4 = 10*id, ГР5 = 10*id - 2
//   (13: ГР5 = ГР4 + 3), СТР2 = floor(0.4*СТР1), СТР3 = floor(0.3*СТР1);
//   populations1.common of an institution = 1000*id.
#include "support/CancellingProgress.h"
#include "support/WindowTestBase.h"

#include "engine/RuleEngine.h"
#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "reports/IndicatorEval.h"

#include <gtest/gtest.h>

using namespace indicators;
using namespace sample::ids;

namespace {

// Stored position of Ф30 (1000) (fixrows 3): column = ГР + 1, row = СТР + 4.
void putRepData(qint64 report, int gr, int str, double value) {
    db::exec(db::kData, QStringLiteral("insert into repdata values (?,?,?,?,?,?)"),
             {report, value, SampleFixture::kYear, TableF30Staff, gr + 1, str + 4});
}

WorkContext g_work;   // what the window computing the set was opened for

void setMode(ReportMode mode, ValueTable table, qint64 unit, const QString &include = QString()) {
    g_work = WorkContext{mode, table, false, unit, include};
}

using IndicatorEvaluation = SampleTest;

// A set of one column holding the given formulas in rows 1.., plus identifiers.
qint64 makeSet(const QStringList &cells, const QStringList &identifiers = {}) {
    const qint64 t = AddSet(QStringLiteral("Проверка"), 0);
    StoreGridCell(t, 1, 0, QStringLiteral("Значение"), 64, 20);
    for (int i = 0; i < cells.size(); ++i) StoreGridCell(t, 1, i + 1, cells[i], 64, 20);
    for (const QString &id : identifiers) AddIdentifier(t, id);
    return t;
}

QStringList column1(const EvaluatedSet &e) { return e.values.value(1).mid(1); }

} // namespace

TEST_F(IndicatorEvaluation, SampleSetInTerrainMode) {
    putRepData(ReportNorth, 5, 1, 100);
    putRepData(ReportNorth, 4, 1, 200);
    setMode(ReportMode::Terrain, ValueTable::RepData, ReportNorth);
    const EvaluatedSet e = EvaluateSet(g_work, SetStaffing);
    // population of the northern report = 1000 * (5+6+7+8)
    EXPECT_EQ(e.values[1][1], QStringLiteral("38.46"));   // 100 * 10000 / 26000
    EXPECT_EQ(e.values[1][2], QStringLiteral("50.00%"));
    EXPECT_EQ(e.computedIdentifiers, QStringList{QStringLiteral("ВРАЧИ=100.00")});
}

// A divisor whose terms cancel is 0, so the quotient is 0.00; large values
// show only the fifteen digits a value has.
TEST_F(IndicatorEvaluation, SumsThatCancelAndLargeValuesInventNoDigits) {
    putRepData(ReportNorth, 6, 2, 0.1);
    putRepData(ReportNorth, 6, 3, 0.2);
    putRepData(ReportNorth, 6, 4, 0.3);
    putRepData(ReportNorth, 7, 2, 10.1);
    putRepData(ReportNorth, 7, 3, 20.2);
    putRepData(ReportNorth, 7, 4, 30.3);
    putRepData(ReportNorth, 6, 5, 40000000000000.37);
    setMode(ReportMode::Terrain, ValueTable::RepData, ReportNorth);
    const QString r = QStringLiteral("Ф30Т[1000]");
    const qint64 t = makeSet({r + "СТР4ГР6/(" + r + "СТР2ГР6+" + r + "СТР3ГР6-" + r + "СТР4ГР6)",
                              r + "СТР4ГР7/(" + r + "СТР2ГР7+" + r + "СТР3ГР7-" + r + "СТР4ГР7)",
                              r + "СТР[2..3]ГР6-" + r + "СТР4ГР6",
                              r + "СТР5ГР6",
                              r + "СТР5ГР6*100000/1.05"});
    EXPECT_EQ(column1(EvaluateSet(g_work, t)),
              (QStringList{"0.00", "0.00", "0.00", "40000000000000.4", "3809523809523850000"}));
}

TEST_F(IndicatorEvaluation, SampleSetInTypesMode) {
    setMode(ReportMode::Types, ValueTable::Data, 0, QStringLiteral("5,9"));
    const EvaluatedSet e = EvaluateSet(g_work, SetStaffing);
    // ГР5 = 48 + 88, ГР4 = 50 + 90, population 5000 + 9000
    EXPECT_EQ(e.values[1][1], QStringLiteral("97.14"));
    EXPECT_EQ(e.values[1][2], QStringLiteral("97.14%"));
    // With the progress window: the same values; "Отмена" ends the run.
    CancellingProgress never(1 << 30);
    EXPECT_EQ(EvaluateSet(g_work, SetStaffing, &never).values, e.values);
    CancellingProgress cancelling(1);
    EXPECT_THROW(EvaluateSet(g_work, SetStaffing, &cancelling), Cancelled);
    // An empty member list gives zeros, not a broken statement.
    g_work.includeList.clear();
    EXPECT_EQ(EvaluateSet(g_work, SetStaffing).values[1][1], QStringLiteral("0.00"));
}

TEST_F(IndicatorEvaluation, SampleSetInSingleModeAndItsSplit) {
    putRepData(ReportRegion, 5, 1, 252);
    putRepData(ReportRegion, 4, 1, 300);
    setMode(ReportMode::Single, ValueTable::RepData, ReportRegion, QStringLiteral("5,9,13"));
    const EvaluatedSet e = EvaluateSet(g_work, SetStaffing);
    EXPECT_EQ(e.values[1][1], QStringLiteral("20.00"));   // 252 * 10000 / 126000
    EXPECT_EQ(e.values[1][2], QStringLiteral("84.00%"));

    const SplitResult row = SplitByUnits(e, 1, {1});
    EXPECT_EQ(row.header, QStringLiteral("Подразделение\tЗначение"));
    EXPECT_EQ(row.lines, (QStringList{QStringLiteral("Северная ЦРБ\t96.00"), QStringLiteral("Южная ЦРБ\t97.78"),
                                      QStringLiteral("Областная больница\t102.31"), QStringLiteral("Всего\t20.00")}));
    const SplitResult cell = SplitByUnits(e, 2, {1});
    EXPECT_EQ(cell.lines.last(), QStringLiteral("Всего\t84.00%"));
    CancellingProgress cancelling(1);   // "Отмена" after the first member
    EXPECT_THROW(SplitByUnits(e, 1, {1}, {}, cancelling), Cancelled);

    // The split ends split mode, also when cancelled.
    EXPECT_FALSE(SplitMode());
}

// A reference the main grid cannot answer shows the same in every member's line.
TEST_F(IndicatorEvaluation, SplitShowsWhatTheMainGridShowsForUnansweredReferences) {
    setMode(ReportMode::Single, ValueTable::Data, 5, QStringLiteral("5,9"));
    const qint64 t = makeSet({QStringLiteral("Ф30Т[1000]СТР1ГР4"), QStringLiteral("Ф99Т[1]СТР1ГР1"),
                              QStringLiteral("Ф30Т[1000]СТР1ГР99"), QStringLiteral("Ф30Т[1000]СТР999ГР4")});
    const EvaluatedSet e = EvaluateSet(g_work, t);
    EXPECT_EQ(e.values[1][1], QStringLiteral("50.00"));
    for (int row = 2; row <= 4; ++row) {
        ASSERT_FALSE(e.values[1][row].startsWith(QStringLiteral("0"))) << e.values[1][row].toStdString();
        const SplitResult split = SplitByUnits(e, row, {1});
        for (const QString &line : split.lines)
            EXPECT_EQ(line.section(u'\t', 1), e.values[1][row]) << line.toStdString();
    }
    EXPECT_EQ(SplitByUnits(e, 1, {1}).lines,
              (QStringList{QStringLiteral("Северная ЦРБ\t50.00"), QStringLiteral("Южная ЦРБ\t90.00"),
                           QStringLiteral("Всего\t50.00")}));
}

TEST_F(IndicatorEvaluation, SplitRestoresStateWhenAMemberFails) {
    setMode(ReportMode::Single, ValueTable::RepData, ReportRegion, QStringLiteral("5,123456"));
    EvaluatedSet e;
    e.table.columnCount = 2;
    e.table.rowCount = 2;
    e.table.cells = {{QString(), QString()}, {QString(), QStringLiteral("Ф30Т[1000]СТР[x]ГР5")}};
    e.values = e.table.cells;
    e.work = g_work;
    EXPECT_ANY_THROW(SplitByUnits(e, 1, {1}));
    EXPECT_FALSE(SplitMode());
    // Long member ids are used whole; an id that names no institution is no member.
    EXPECT_EQ(SplitMembers(g_work), (QList<qint64>{5}));
    db::exec(db::kMain, "insert into administration (id, unit, medicaltype) values (123456, 'ФАП', 6)");
    EXPECT_EQ(SplitMembers(g_work), (QList<qint64>{5, 123456}));
}

TEST_F(IndicatorEvaluation, SplitByReportsInTerrainMode) {
    putRepData(ReportRegion, 5, 1, 252);
    putRepData(ReportNorth, 5, 1, 52);
    setMode(ReportMode::Terrain, ValueTable::RepData, ReportComposite);
    const qint64 t = makeSet({QStringLiteral("Ф30Т[1000]СТР1ГР5"), QStringLiteral("НАСЕЛЕНИЕ0")});
    const EvaluatedSet e = EvaluateSet(g_work, t);
    const SplitResult r = SplitByUnits(e, 1, {1});
    EXPECT_EQ(r.lines, (QStringList{QStringLiteral("Свод по области\t252.00"),
                                    QStringLiteral("Свод по Северному району\t52.00"), QStringLiteral("Всего\t0.00")}));
    EXPECT_EQ(SplitByUnits(e, 2, {1}).lines.at(1), QStringLiteral("Свод по Северному району\t26000"));
}

TEST_F(IndicatorEvaluation, ReferencesListsAndPasses) {
    setMode(ReportMode::Single, ValueTable::Data, NorthHospital);
    const qint64 t = makeSet({
        QStringLiteral("5"),                                   // 1 a number loads nothing
        QStringLiteral("Ф30Т(1000)СТР[1..3]ГР4"),              // 2 50 + 20 + 15
        QStringLiteral("ф30т[1000]стр1гр[4,5]"),               // 3 50 + 48
        QStringLiteral("Ф30Т[1000]СТР1ГР4+Ф30Т[2000]СТР1ГР4"), // 4 two tables: 50 + 5000
        QStringLiteral("Ф30Т[1000]СТР1ГР4/0"),                 // 5
        QStringLiteral("НАСЕЛЕНИЕ4*2"),                        // 6 stays symbolic
        QStringLiteral("А+Б;шт"),                              // 7 identifiers, later definition wins
        QStringLiteral("Ф99Т[1]СТР1ГР1"),                      // 8 no such table
        QStringLiteral("Ф30Т[1000]СТР9ГР4"),                   // 9 outside the table
        QStringLiteral("В"),                                   // 10 defined through another identifier
        QStringLiteral("-А*2"),                                // 11
    }, {QStringLiteral("А=1"), QStringLiteral("Б=Ф30Т[1000]СТР1ГР5"), QStringLiteral("А=2"), QStringLiteral("В=А+Б")});
    const EvaluatedSet e = EvaluateSet(g_work, t);
    const QStringList v = column1(e);
    EXPECT_EQ(v.mid(0, 7), (QStringList{"5", "85.00", "98.00", "5050.00", "0.00", "НАСЕЛЕНИЕ4*2", "50.00шт"}));
    EXPECT_TRUE(v[7].contains(QStringLiteral("Ф99"))) << v[7].toStdString();
    EXPECT_TRUE(v[8].startsWith(kOutsideTableMarker)) << v[8].toStdString();
    EXPECT_EQ(v.mid(9), (QStringList{"50.00", "-4.00"}));
}

TEST_F(IndicatorEvaluation, NetModeAndPopulationSources) {
    const qint64 t = makeSet({QStringLiteral("Ф30Т[1000]СТР1ГР4+7"), QStringLiteral("НАСЕЛЕНИЕ3")});
    setMode(ReportMode::Net, ValueTable::RepData, ReportNetwork);
    EvaluatedSet e = EvaluateSet(g_work, t);
    EXPECT_EQ(column1(e).at(0), QStringLiteral("7.00"));
    EXPECT_EQ(column1(e).at(1), QStringLiteral("НАСЕЛЕНИЕ3"));   // no population in this mode

    setMode(ReportMode::Svod, ValueTable::RepData, ReportNorth);
    e = EvaluateSet(g_work, t);
    EXPECT_EQ(column1(e).at(1), QStringLiteral("5200"));   // childs = 200 * 26
    setMode(ReportMode::Types, ValueTable::Data, 0, QStringLiteral("6,7"));
    e = EvaluateSet(g_work, t);
    EXPECT_EQ(column1(e).at(1), QStringLiteral("2600"));   // 200 * (6 + 7)
    EXPECT_EQ(column1(e).at(0), QStringLiteral("137.00")); // 60 + 70 + 7
}

// The gauge counts each table the set names once, in either bracket, either letter case, blanks in its key.
TEST_F(IndicatorEvaluation, GaugeStepsOncePerNamedTable) {
    setMode(ReportMode::Types, ValueTable::Data, 0, QStringLiteral("5,9"));
    const qint64 t = makeSet({"Ф30Т(1000)СТР1ГР4+ф30т[ 1000 ]стр2гр4", "(Ф30Т[2000]СТР1ГР4)/Ф14Т[1000]СТР1ГР5;%"},
                             {"ВРАЧИ=Ф30Т[1000]СТР1ГР5"});
    CancellingProgress never(1 << 30);
    EvaluateSet(g_work, t, &never);
    EXPECT_EQ(never.max, 3);
}
