#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <gtest/gtest.h>

// Every spelling the windows and stored statements use names one of the two
// value tables; the enum goes back to the one SQL name.
TEST(WorkModes, ValueTableSpellingsAndRoundTrip) {
    const QList<std::pair<QString, ValueTable>> cases = {
        {"Data", ValueTable::Data},       {"data", ValueTable::Data},       {" DATA ", ValueTable::Data},
        {"RepData", ValueTable::RepData}, {"Repdata", ValueTable::RepData}, {"REpData", ValueTable::RepData},
        {"repdata", ValueTable::RepData}, {"", ValueTable::None},
    };
    for (const auto &[text, table] : cases) {
        const std::optional<ValueTable> read = valueTableFromName(text);
        ASSERT_TRUE(read.has_value()) << text.toStdString();
        EXPECT_EQ(*read, table) << text.toStdString();
        if (table != ValueTable::None)
            EXPECT_EQ(valueTableFromName(ValueTableName(*read)), table) << text.toStdString();
    }
    EXPECT_EQ(ValueTableName(ValueTable::Data), "data");
    EXPECT_EQ(ValueTableName(ValueTable::RepData), "repdata");
    // Names that are no value table, or would change the statement, read as nothing.
    for (const QString bad : {"Other", "data;drop table data", "дата", "rep data"})
        EXPECT_FALSE(valueTableFromName(bad).has_value()) << bad.toStdString();
    // No choice reads and writes the institutions' table.
    EXPECT_EQ(ValueTableName(ValueTable::None), "data");
}

TEST(WorkModes, ReportModeTextRoundTrip) {
    const QList<std::pair<QString, ReportMode>> cases = {
        {"Input", ReportMode::Input},     {"Svod", ReportMode::Svod},   {"Net", ReportMode::Net},
        {"Terrain", ReportMode::Terrain}, {"Types", ReportMode::Types}, {"Single", ReportMode::Single},
        {"", ReportMode::None},
    };
    for (const auto &[text, mode] : cases) {
        EXPECT_EQ(reportModeFromText(text), mode) << text.toStdString();
        EXPECT_EQ(reportModeText(mode), text);
    }
    for (const QString bad : {"types", "Svod ", "Ввод"})
        EXPECT_FALSE(reportModeFromText(bad).has_value()) << bad.toStdString();
}
