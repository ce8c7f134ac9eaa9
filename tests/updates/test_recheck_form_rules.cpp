// The rules of a form, as its exports, update packages, backups and replacements take them: its own, and those
// between forms that name one of its tables as the rule notation reads a reference.
#include "engine/CatalogGate.h"
#include "engine/ControlFileLines.h"
#include "engine/RuleCheck.h"
#include "platform/Database.h"
#include "support/FakeDialogs.h"
#include "support/Fixture.h"

#include <gtest/gtest.h>

namespace ids = sample::ids;

TEST(FormRuleSet, RulesBetweenFormsBelongToTheFormsTheirReferencesName) {
    SampleFixture fx;
    FakeDialogs dialogs;
    const QSqlDatabase d = db::connection(db::kMain);
    // A form whose name ends as Ф30's does.
    const qint64 other = gate::addForm(d, "ФФ30", "x", false);
    TableShape s;
    s.colcount = s.rowcount = 8;
    s.fixcols = s.fixrows = 3;
    gate::addTable(d, other, "(2000)", "x", s);
    fx.reloadCaches();
    const rulecheck::RuleChecker checker(d);
    qint64 blank = 0, alike = 0;
    ASSERT_TRUE(rulecheck::InsertCheckedRule(d, checker, {"", "", "Ф30 Т[2000]СТР[1]ГР[4]", ">=", "Ф14Т[1000]СТР[1]ГР[4]", ""},
                                             "с пробелом", &blank));
    ASSERT_TRUE(rulecheck::InsertCheckedRule(d, checker, {"", "", "ФФ30Т[2000]СТР[1]ГР[4]", ">=", "Ф14Т[1000]СТР[1]ГР[4]", ""},
                                             "другая форма", &alike));

    QList<qint64> keys;
    for (const ctlfile::RuleKey &k : ctlfile::FormRuleKeys(d, ids::FormF30, "Ф30")) keys << k.key;
    EXPECT_TRUE(keys.contains(blank));
    EXPECT_FALSE(keys.contains(alike));
    EXPECT_TRUE(keys.contains(ids::RuleDischargedVsVisits));
    const QString lines = ctlfile::ControlFileLinesForForm(d, ids::FormF30, "Ф30").join('\n');
    EXPECT_TRUE(lines.contains("с пробелом"));
    EXPECT_FALSE(lines.contains("другая форма"));
    EXPECT_EQ(ctlfile::CountFormRules(d, ids::FormF30, "Ф30"), keys.size());
    for (const auto &[lft, names] : {std::pair{"Ф30 Т[2000]СТР[1]ГР[4]", true}, {"ф30т(2000)СТР1ГР4", true},
                                     {"ФФ30Т[2000]СТР[1]ГР[4]", false}, {"Ф3Т[1]+Ф300Т[1]", false}})
        EXPECT_EQ(ctlfile::RuleNamesForm({"", "", lft, ">=", "0", "", ""}, "Ф30"), names) << lft;

    EXPECT_EQ(ctlfile::DeleteFormRules(d, ids::FormF30, "Ф30"), keys.size());
    EXPECT_EQ(db::scalar(d, "select count(*) from int_control where \"Код\"=?", {alike}).toInt(), 1);
    EXPECT_EQ(db::scalar(d, "select count(*) from int_control where \"Код\"=?", {blank}).toInt(), 0);
}
