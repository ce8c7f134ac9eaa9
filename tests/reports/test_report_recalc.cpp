// Group recalculation: the sample's reports rebuilt from their institutions'
// values, checked against sums worked out by hand from the sample's values.
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "reports/GroupRecalc.h"
#include "support/CancellingProgress.h"
#include "support/WindowTestBase.h"

#include <QLabel>
#include <QListWidget>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QVariant repValue(qint64 report, int table, int column, int row, int year = SampleFixture::kYear) {
    return db::scalar(db::connection(db::kData),
                      "select data from repdata where hospital=? and \"table\"=? and \"column\"=? and \"row\"=? "
                      "and year=?",
                      {report, table, column, row, year});
}

void putData(qint64 hosp, double v, int table, int column, int row, int year = SampleFixture::kYear) {
    db::exec(db::kData, "insert into data (hospital,data,year,\"table\",\"column\",\"row\") values (?,?,?,?,?,?)",
             {hosp, v, year, table, column, row});
}

int count(const QString &sql, const QVariantList &p = {}) {
    return db::scalar(db::connection(db::kData), sql, p).toInt();
}

using RecalcTest = SampleTest;

} // namespace

TEST_F(RecalcTest, ReportSumsMatchHandSums) {
    // Northern district: institutions 5, 6, 7 have values (8 none); b = 10 * id.
    const auto r = grouprecalc::recalcReport(ids::ReportNorth, fx.year());
    EXPECT_FALSE(r.noMembers);
    // Ф30 (1000), fixrows 3: СТР1 is stored row 5; ГР4 stored column 5.
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Staff, 5, 5).toDouble(), 50 + 60 + 70);
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Staff, 6, 5).toDouble(), 48 + 58 + 68);
    // ГР7 = (b - 3) / 2 in whole numbers (the table holds no decimals).
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Staff, 8, 5).toDouble(), 23 + 28 + 33);
    // СТР2 = floor(0.4 * СТР1) for ГР4: 20 + 24 + 28.
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Staff, 5, 6).toDouble(), 72);
    // Ф30 (2000), fixrows 2: СТР1 stored row 4; ГР5 of 7 is ГР4 + 1.
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Visits, 5, 4).toDouble(), 5000 + 6000 + 7000);
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Visits, 6, 4).toDouble(), 1500 + 1800 + 7001);
    // Ф14 (1000), last table of the ordinary forms, only institution 5 of the district: ГР5 = 45 * 50 + 0.5.
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF14Patients, 6, 4).toDouble(), 2250.5);
    // Every stored cell is the sum of the institutions' cells.
    EXPECT_EQ(count("select count(*) from repdata where hospital=2 and year=2024"),
              count("select count(*) from (select distinct \"table\",\"column\",\"row\" from data "
                    "where hospital in (5,6,7,8) and year=2024)"));
}

TEST_F(RecalcTest, CancellingValuesOtherYearsAndNetworkFormsAreLeftAlone) {
    // Two institutions with 5 in a cell give 10; 5 and -5 give no row, and the old row goes.
    putData(6, 5, ids::TableF14Patients, 7, 4);   // 6 and 8 have no Ф14 values of their own
    putData(8, 5, ids::TableF14Patients, 7, 4);
    db::exec(db::kData, "delete from data where hospital in (5,6,7,8) and \"table\"=2 and \"column\"=5 and \"row\"=5");
    putData(5, 5, ids::TableF30Visits, 5, 5);
    putData(6, -5, ids::TableF30Visits, 5, 5);
    db::exec(db::kData, "insert into repdata values (2, 99, 2024, 2, 5, 5)");
    db::exec(db::kData, "insert into repdata values (2, 77, 2023, 2, 5, 4)");
    const int network = count("select count(*) from repdata where hospital=3 and \"table\"=4");
    ASSERT_GT(network, 0);

    grouprecalc::recalcReport(ids::ReportNorth, fx.year());
    grouprecalc::recalcReport(ids::ReportNetwork, fx.year());
    EXPECT_FALSE(repValue(ids::ReportNorth, ids::TableF30Visits, 5, 5).isValid());
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF14Patients, 7, 4).toDouble(), 50 / 10.0 + 10);
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Visits, 5, 4, 2023).toDouble(), 77);
    EXPECT_EQ(count("select count(*) from repdata where hospital=3 and \"table\"=4"), network);
    // Report 1 was not asked for: it keeps its rows as they were.
    EXPECT_DOUBLE_EQ(repValue(ids::ReportRegion, ids::TableF30Visits, 5, 4).toDouble(),
                     100 * 10 * (5 + 6 + 7 + 9 + 10 + 11 + 13 + 15));
}

TEST_F(RecalcTest, WindowRunsCheckedReportsAndKeepsThoseWithoutMembers) {
    db::exec(db::kMain, "update reports set include='' where id=4");
    db::exec(db::kData, "insert into repdata values (4, 12, 2024, 1, 5, 5)");
    TForm7 w;
    ASSERT_EQ(w.reportList()->count(), 4);

    // Nothing checked: only the closing message.
    w.recalculateChecked();
    EXPECT_EQ(dialogs.messages, QStringList{"Готово!"});
    EXPECT_DOUBLE_EQ(repValue(ids::ReportComposite, 1, 5, 5).toDouble(), 12);

    w.reportList()->item(1)->setCheckState(Qt::Checked);
    w.reportList()->item(3)->setCheckState(Qt::Checked);
    dialogs.messages.clear();
    w.recalculateChecked();
    EXPECT_EQ(w.reportList()->item(1)->checkState(), Qt::Unchecked);
    EXPECT_EQ(w.reportList()->item(3)->checkState(), Qt::Checked);
    EXPECT_TRUE(dialogs.sawMessage("Итоговый свод"));
    EXPECT_EQ(dialogs.messages.last(), "Готово!");
    EXPECT_DOUBLE_EQ(repValue(ids::ReportNorth, ids::TableF30Staff, 5, 5).toDouble(), 180);
    EXPECT_DOUBLE_EQ(repValue(ids::ReportComposite, 1, 5, 5).toDouble(), 12);
    EXPECT_EQ(w.reportCaption(), "Итоговый свод");
}

TEST_F(RecalcTest, GroupRunStoppedHalfwayLeavesEveryReportAsBefore) {
    // As the window runs them: every report in one transaction, "Отмена" seen at the second report's second table.
    const QSqlDatabase d = db::connection(db::kData);
    const QStringList before = valueRows(d, "repdata");
    int reports = 0;
    EXPECT_THROW(db::transaction(d, [&] {
                                     for (qint64 id : {ids::ReportNorth, ids::ReportRegion}) {
                                         ++reports;
                                         grouprecalc::recalcReport(id, fx.year(), [&](int index, int, const QString &) {
                                             if (reports == 2 && index == 1) throw Cancelled();
                                         });
                                     }
                                 }), Cancelled);
    EXPECT_EQ(valueRows(d, "repdata"), before);
    // Without "Отмена" the same run changes the reports.
    db::transaction(d, [&] {
        for (qint64 id : {ids::ReportNorth, ids::ReportRegion}) grouprecalc::recalcReport(id, fx.year());
    });
    EXPECT_NE(valueRows(d, "repdata"), before);
}
