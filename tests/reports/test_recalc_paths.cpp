// Every path that stores the sums of a summary report's institutions, run as the user starts it, through the same
// cases: a report without institutions (nothing deleted, a warning) and sums that cancel (no row). A scan of the
// sources keeps new paths of the kind behind the same checks.
#include "engine/SharedState.h"
#include "forms/tree/FormList.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "reports/GroupRecalc.h"
#include "support/SourceScan.h"
#include "support/CancellingProgress.h"
#include "support/WindowTestBase.h"

#include <QListWidget>
#include <QApplication>
#include <QRegularExpression>
#include <functional>
#include <tuple>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

constexpr int T2 = ids::TableF30Visits;   // Ф30 (2000): value cells from stored column 5, row 4

// run: the path for the report over the include list (as the report list passes it); composite: the path sums
// member reports too (the group recalculation sums a report's institutions only).
struct RecalcPath {
    const char *name;
    std::function<void(qint64 report, const QString &include)> run;
    bool composite = true;
};

// What the member list names on the paths that follow: "Разрезы" of a composite report hands over member reports.
MemberKind &pathMembers() {
    static MemberKind kind = MemberKind::Institutions;
    return kind;
}

WorkContext reportWork(qint64 report, const QString &include) {
    WorkContext w = testWork();
    w.mode = pathMembers() == MemberKind::Reports ? ReportMode::Terrain : ReportMode::Svod;
    w.members = pathMembers();
    w.net = false;
    w.includeList = include;
    w.institution = report;
    w.table = ValueTable::RepData;
    return w;
}

void formsTree(qint64 report, const QString &include, FakeDialogs &dialogs, bool wholeReport) {
    TFormList w(reportWork(report, include));
    w.setWindowTitle("Северный район");
    w.offerRecalculation(true);
    w.Start(-1);
    for (int i = 0; i < w.tree()->topLevelItemCount(); ++i)
        if (w.tree()->topLevelItem(i)->text(0).startsWith("Ф30"))
            w.tree()->setCurrentItem(w.tree()->topLevelItem(i));
    dialogs.answers = {true};
    if (wholeReport) w.recalculateReport();
    else w.recalculateSelectedForm();
}

QList<RecalcPath> paths(FakeDialogs &dialogs) {
    return {
        {"Групповой пересчет", [](qint64 report, const QString &include) {
             db::exec(db::kMain, "update reports set include=? where id=?", {include, report});
             TForm7 w;
             for (int i = 0; i < w.reportList()->count(); ++i)
                 if (w.reportList()->item(i)->data(Qt::UserRole).toLongLong() == report)
                     w.reportList()->item(i)->setCheckState(Qt::Checked);
             w.recalculateChecked();
         }, false},
        {"Пересчитать отчет", [&](qint64 report, const QString &include) { formsTree(report, include, dialogs, true); }},
        {"Пересчитать форму", [&](qint64 report, const QString &include) { formsTree(report, include, dialogs, false); }},
        {"Пересчитать таблицу", [](qint64 report, const QString &include) {
             TVTable w(TableWindowParams{ids::FormF30, T2, "(2000)", "Ф30"}, reportWork(report, include));
             w.show();
             QApplication::processEvents();
             w.recalculateTable();
         }},
    };
}

QVariant repValue(qint64 report, int column, int row) {
    return db::scalar(db::connection(db::kData), "select data from repdata where hospital=? and \"table\"=? "
                      "and \"column\"=? and \"row\"=? and year=2024", {report, T2, column, row});
}

void putData(qint64 hosp, double v, int column, int row) {
    db::exec(db::kData, "insert into data (hospital,data,year,\"table\",\"column\",\"row\") values (?,?,2024,?,?,?)",
             {hosp, v, T2, column, row});
}

struct RecalcPathsTest : SampleTest {
    void TearDown() override {
        pathMembers() = MemberKind::Institutions;
        SampleTest::TearDown();
    }
};

} // namespace

TEST_F(RecalcPathsTest, ReportWithoutInstitutionsKeepsItsValuesOnEveryPath) {
    const QSqlDatabase d = db::connection(db::kData);
    db::exec(db::kData, "insert into repdata values (?, 12, 2024, ?, 5, 4)", {ids::ReportNorth, T2});
    const QStringList before = valueRows(d, "repdata");
    for (const RecalcPath &p : paths(dialogs)) {
        SCOPED_TRACE(p.name);
        for (const QString &include : {"", ",", " "}) {
            dialogs.messages.clear();
            p.run(ids::ReportNorth, include);
            EXPECT_EQ(valueRows(d, "repdata"), before);
            EXPECT_TRUE(dialogs.sawMessage("Не заданы входящие учреждения")) << dialogs.messages.join('|').toStdString();
            EXPECT_FALSE(dialogs.sawMessage("закончен")) << dialogs.messages.join('|').toStdString();
        }
    }
}

TEST_F(RecalcPathsTest, SumsThatCancelStoreNoRowOnEveryPath) {
    db::exec(db::kData, "delete from data where \"table\"=? and \"row\" in (5, 6)", {T2});
    // Row 5 cancels in columns 5 and 6; row 6 holds 0.1 + 0.2, stored as 0.3.
    for (const auto &[column, row, a, b, c] : {std::tuple{5, 5, 0.1, 0.2, -0.3}, {6, 5, 10.1, 20.2, -30.3},
                                               {5, 6, 0.1, 0.2, 0.0}}) {
        putData(ids::NorthHospital, a, column, row);
        putData(ids::NorthPolyclinic, b, column, row);
        if (c != 0) putData(ids::FapOzerny, c, column, row);
    }
    for (const RecalcPath &p : paths(dialogs)) {
        SCOPED_TRACE(p.name);
        db::exec(db::kData, "delete from repdata where hospital=? and \"table\"=?", {ids::ReportNorth, T2});
        db::exec(db::kData, "insert into repdata values (?, 99, 2024, ?, 5, 5)", {ids::ReportNorth, T2});
        dialogs.messages.clear();
        p.run(ids::ReportNorth, "5,6,7,8");
        EXPECT_FALSE(dialogs.sawMessage("Не заданы")) << dialogs.messages.join('|').toStdString();
        EXPECT_FALSE(dialogs.sawMessage("Не удалось")) << dialogs.messages.join('|').toStdString();
        EXPECT_FALSE(repValue(ids::ReportNorth, 5, 5).isValid());
        EXPECT_FALSE(repValue(ids::ReportNorth, 6, 5).isValid());
        EXPECT_EQ(repValue(ids::ReportNorth, 5, 6).toDouble(), 0.3);
        // The sum of the sample's values in the row before is stored as ever.
        EXPECT_EQ(repValue(ids::ReportNorth, 5, 4).toDouble(), 5000 + 6000 + 7000);
    }
}

TEST_F(RecalcPathsTest, SumReachingTheStorableLimitStoresNothingAndNamesTheCell) {
    putData(ids::NorthHospital, 6e14, 6, 5);
    putData(ids::NorthPolyclinic, 4e14, 6, 5);
    const QSqlDatabase d = db::connection(db::kData);
    const QStringList before = valueRows(d, "repdata");
    for (const RecalcPath &p : paths(dialogs)) {
        SCOPED_TRACE(p.name);
        dialogs.messages.clear();
        p.run(ids::ReportNorth, "5,6,7,8");
        EXPECT_TRUE(dialogs.sawMessage("Ф30 т(2000) гр5 стр2")) << dialogs.messages.join('|').toStdString();
        EXPECT_EQ(valueRows(d, "repdata"), before);
    }
}

TEST_F(RecalcPathsTest, ReportWhoseMembersAreAllGoneKeepsItsValuesOnEveryPath) {
    // A deleted institution (99), "0", a territory (the district 2): none is an institution to sum.
    const QSqlDatabase d = db::connection(db::kData);
    db::exec(db::kData, "insert into repdata values (?, 12, 2024, ?, 5, 4)", {ids::ReportNorth, T2});
    const QStringList before = valueRows(d, "repdata");
    for (const RecalcPath &p : paths(dialogs)) {
        SCOPED_TRACE(p.name);
        for (const QString &include : {"99,", "0,", "2,", "0,2,99,99"}) {
            dialogs.messages.clear();
            p.run(ids::ReportNorth, include);
            const std::string shown = dialogs.messages.join('|').toStdString();
            EXPECT_EQ(valueRows(d, "repdata"), before) << include.toStdString();
            EXPECT_TRUE(dialogs.sawMessage("не найдены") || dialogs.sawMessage("коды: ")) << shown;
            EXPECT_FALSE(dialogs.sawMessage("закончен")) << shown;
            EXPECT_FALSE(dialogs.sawMessage("Готово!") && !dialogs.sawMessage("не пересчитаны")) << shown;
        }
    }
}

TEST_F(RecalcPathsTest, MembersThatNameNothingAreNamedAndLeftOut) {
    for (const RecalcPath &p : paths(dialogs)) {
        SCOPED_TRACE(p.name);
        dialogs.messages.clear();
        p.run(ids::ReportNorth, "5,99,2,5,");
        EXPECT_EQ(repValue(ids::ReportNorth, 5, 4).toDouble(), 5000);   // institution 5 once
        EXPECT_TRUE(dialogs.sawMessage("99, 2")) << dialogs.messages.join('|').toStdString();
    }
}

TEST_F(RecalcPathsTest, CompositeReportIsSummedFromItsMemberReports) {
    // Member reports 5 and 6 share their ids with two institutions (5000 and 6000 in the cell): the composite
    // report is their sum, 10000 + 9000, not the institutions' 11000.
    for (const auto &[id, name, value] : {std::tuple{5, "Район А", 10000.0}, {6, "Район Б", 9000.0}}) {
        db::exec(db::kMain, "insert into reports (id, report, net) values (?, ?, 0)", {id, name});
        db::exec(db::kData, "insert into repdata values (?, ?, 2024, ?, 5, 4)", {id, value, T2});
    }
    pathMembers() = MemberKind::Reports;
    const QSqlDatabase d = db::connection(db::kData);
    for (const RecalcPath &p : paths(dialogs)) {
        if (!p.composite) continue;
        SCOPED_TRACE(p.name);
        dialogs.messages.clear();
        db::exec(db::kData, "delete from repdata where hospital=?", {ids::ReportComposite});
        p.run(ids::ReportComposite, "5,6");
        EXPECT_EQ(repValue(ids::ReportComposite, 5, 4).toDouble(), 19000) << dialogs.messages.join('|').toStdString();
        // Member reports that are not there (a deleted report) are named, not summed; the report itself is left
        // out without being named among them.
        const QStringList before = valueRows(d, "repdata");
        dialogs.messages.clear();
        p.run(ids::ReportComposite, QStringLiteral("99,%1").arg(ids::ReportComposite));
        EXPECT_EQ(valueRows(d, "repdata"), before);
        EXPECT_TRUE(dialogs.sawMessage("Входящие отчеты не найдены (коды: 99):"))
            << dialogs.messages.join('|').toStdString();
    }
}

// The paths that store sums of a summary's institutions are the ones above: each file that sums institutions into
// stored values checks the include list (RequireMembers) and keeps the storable range (RequireStorableValue).
TEST(RecalcPathsScan, EverySumOfInstitutionsIsBehindTheChecks) {
    ASSERT_FALSE(sourceText("engine/ValueIO.cpp").isEmpty()) << sourceRoot().toStdString();
    const QRegularExpression summing("SumHospitalsData\\(|sumInstitutions\\(|recalculateForms?\\(|recalcReport\\(");
    const QStringList known{"engine/ValueIO.cpp", "engine/ValueIO.h", "engine/SummaryMembers.h", "engine/RuleEngine.cpp", "engine/RuleEngine.h",
                            "forms/shared/FormListLogic.cpp", "forms/shared/FormListLogic.h", "forms/tree/FormList.cpp",
                            "forms/table/TableWindow.cpp", "reports/GroupRecalc.cpp", "reports/GroupRecalc.h"};
    QStringList found;
    for (const auto &[rel, text] : productSources().asKeyValueRange())
        if (text.contains(summing)) found.append(rel);
    for (const QString &f : found) EXPECT_TRUE(known.contains(f)) << "a new path summing institutions: " << f.toStdString();
    for (const QString &f : {"engine/ValueIO.cpp", "forms/shared/FormListLogic.cpp", "forms/table/TableWindow.cpp"})
        EXPECT_TRUE(sourceText(f).contains("RequireMembers(")) << f.toStdString();
    // The group run names the ids that resolve to nothing, report by report, instead of throwing.
    EXPECT_TRUE(sourceText("reports/GroupRecalc.cpp").contains("ResolveMembers(")) << "reports/GroupRecalc.cpp";
}
