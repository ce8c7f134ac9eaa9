// Report transfer files through the report list: writing, reading back, and
// files that must not destroy the report's values.
#include "engine/SharedState.h"
#include "support/QueryRows.h"
#include "support/TestWork.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "reports/ReportList.h"
#include "support/WindowTestBase.h"

#include <QDir>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

QStringList reportRows(qint64 report) {
    return queryRows(db::connection(db::kData),
                     "select data, year, \"table\", \"column\", \"row\" from repdata where hospital=? "
                     "order by \"table\", \"column\", \"row\", year",
                     {report}, QStringLiteral(","));
}

struct ReportTransferTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        testWork().mode = ReportMode::Svod;
        testWork().table = ValueTable::RepData;
    }
    QString dataFolder() const { return fx.configFolder() + "data/"; }
};

} // namespace

TEST_F(ReportTransferTest, WriteThenReadGivesBackTheSameRows) {
    TRepList w(testWork());   // first row: report 1
    const QStringList before = reportRows(ids::ReportRegion);
    ASSERT_FALSE(before.isEmpty());

    const QString path = dataFolder() + "Свод по области";   // typed without extension
    dialogs.files = {path};
    w.unloadReportFile();
    ASSERT_TRUE(QFileInfo::exists(path + ".rpd"));
    EXPECT_EQ(dialogs.messages.last(),
              "Данные по Свод по области выгружены в файл " + QDir::toNativeSeparators(path + ".rpd"));
    QStringList lines;
    ASSERT_TRUE(cp1251::readLines(path + ".rpd", lines));
    EXPECT_EQ(lines.size(), before.size());

    db::exec(db::kData, "delete from repdata where hospital=1");
    db::exec(db::kData, "insert into repdata values (1, 5, 2024, 1, 5, 5)");
    dialogs.files = {path + ".rpd"};
    w.loadReportFile();
    EXPECT_EQ(dialogs.messages.last(), "Данные по Свод по области загружены из файла");
    EXPECT_EQ(reportRows(ids::ReportRegion), before);
}

TEST_F(ReportTransferTest, FormNamesMatchWithoutCaseAndOtherYearsKeepTheValues) {
    TRepList w(testWork());
    w.list()->setCurrentItem(w.list()->topLevelItem(1));
    QDir().mkpath(dataFolder());
    const QString path = dataFolder() + "север.rpd";
    ASSERT_TRUE(cp1251::writeLines(path, {"\"12.5\",\"2024\",\"ф30\",\"(2000)\",\"5\",\"4\"",
                                          "\"3\",\"2023\",\"Ф30\",\"(2000)\",\"5\",\"4\""}));
    dialogs.files = {path};
    w.loadReportFile();
    EXPECT_EQ(reportRows(ids::ReportNorth), QStringList{"12.5,2024,2,5,4"});

    // A file of another year is refused before anything of the report goes.
    const QString old = dataFolder() + "старый.rpd";
    ASSERT_TRUE(cp1251::writeLines(old, {"\"3\",\"2023\",\"Ф30\",\"(2000)\",\"5\",\"4\""}));
    dialogs.files = {old};
    w.loadReportFile();
    EXPECT_TRUE(dialogs.sawMessage("2023"));
    EXPECT_EQ(reportRows(ids::ReportNorth), QStringList{"12.5,2024,2,5,4"});
}

// A file of the report's year that lacks forms the report holds values in: asked first, naming them; No keeps every
// value, Yes loads and the closing box names what was emptied.
TEST_F(ReportTransferTest, LoadThatEmptiesFormsAsksFirst) {
    TRepList w(testWork());   // first row: report 1
    db::exec(db::kData, "insert into repdata values (?, 0.2, 2024, ?, 5, 5)", {ids::ReportRegion, ids::TableF14Patients});
    const QStringList before = reportRows(ids::ReportRegion);
    QDir().mkpath(dataFolder());
    const QString path = dataFolder() + "часть.rpd";
    ASSERT_TRUE(cp1251::writeLines(path, {"\"0.1\",\"2024\",\"Ф30\",\"(2000)\",\"5\",\"4\""}));
    dialogs.files = {path};
    dialogs.answers = {false};
    w.loadReportFile();
    ASSERT_EQ(dialogs.questions.size(), 1);
    EXPECT_TRUE(dialogs.questions[0].contains("будут очищены:\nСвод по области: Ф14\n"))
        << dialogs.questions[0].toStdString();
    EXPECT_EQ(reportRows(ids::ReportRegion), before);
    dialogs.files = {path};
    dialogs.answers = {true};
    w.loadReportFile();
    EXPECT_EQ(reportRows(ids::ReportRegion), QStringList{"0.1,2024,2,5,4"});
    EXPECT_TRUE(dialogs.messages.last().contains("Очищены формы")) << dialogs.messages.last().toStdString();
}

// A report of a long official name is proposed a file name that can be written.
TEST_F(ReportTransferTest, LongReportNameIsProposedAWritableFileName) {
    const QString official = QStringLiteral("Сводный отчет государственных учреждений здравоохранения района ").repeated(3);
    db::exec(db::kMain, "update reports set report=? where id=?", {official, ids::ReportRegion});
    TRepList w(testWork());   // first row: report 1
    w.unloadReportFile();      // the save dialog cancelled
    ASSERT_EQ(dialogs.savePaths.size(), 1);
    const QString proposed = QFileInfo(dialogs.savePaths[0]).fileName();
    EXPECT_TRUE(proposed.endsWith(".rpd"));
    EXPECT_LE(proposed.toUtf8().size(), 255 - 12) << proposed.toStdString();
    dialogs.files = {dialogs.savePaths[0]};
    w.unloadReportFile();
    EXPECT_TRUE(QFileInfo::exists(dialogs.savePaths[0])) << dialogs.messages.join('|').toStdString();
}

// A report without values of the year: nothing is written, and the user is told why.
TEST_F(ReportTransferTest, ReportWithoutValuesWritesNothing) {
    db::exec(db::kData, "delete from repdata where hospital=?", {ids::ReportRegion});
    TRepList w(testWork());   // first row: report 1
    w.unloadReportFile();
    EXPECT_TRUE(dialogs.savePaths.isEmpty());
    EXPECT_TRUE(dialogs.sawMessage("нет значений за 2024 год: выгружать нечего")) << dialogs.messages.join('|').toStdString();
}

TEST_F(ReportTransferTest, UnknownTableLineIsNamedOnceNotCountedTwice) {
    TRepList w(testWork());
    w.list()->setCurrentItem(w.list()->topLevelItem(1));
    QDir().mkpath(dataFolder());
    const QString path = dataFolder() + "север.rpd";
    ASSERT_TRUE(cp1251::writeLines(path, {"\"12.5\",\"2024\",\"Ф30\",\"(2000)\",\"5\",\"4\"",
                                          "\"7\",\"2024\",\"Ф30\",\"(9000)\",\"5\",\"4\""}));
    dialogs.files = {path};
    w.loadReportFile();
    EXPECT_EQ(reportRows(ids::ReportNorth), QStringList{"12.5,2024,2,5,4"});
    const QString shown = dialogs.messages.join('|');
    // The closing message names the table; no second warning counts the same line among the others.
    EXPECT_TRUE(shown.contains("(9000)")) << shown.toStdString();
    EXPECT_FALSE(shown.contains("не загружены: 1")) << shown.toStdString();
}
