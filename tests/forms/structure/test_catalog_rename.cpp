// A new table number or form name, given in the catalogue windows, carries to everything that names it: control rules,
// calculated cells, indicators, the print mapping and the print files, in one transaction; the control run finds what
// it found before.
#include "core/SampleConfig.h"
#include "engine/CatalogRename.h"
#include "engine/RuleCheck.h"
#include "engine/SharedState.h"
#include "forms/structure/FormCatalog.h"
#include "forms/structure/FormCatalogLogic.h"
#include "forms/shared/FormListLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/QueryRows.h"
#include "support/WindowTestBase.h"

#include <QFileInfo>
#include <QLineEdit>
#include <QRegularExpression>
#include <functional>
#include <optional>
#include <gtest/gtest.h>

namespace ids = sample::ids;
using namespace carry;

namespace {

struct CatalogRenameTest : InputWindowTest {
    std::optional<RuleRun> run;
    // The control run of Ф30 for an institution, as the forms tree makes it: the rule keys it flags.
    QList<qint64> flagged(qint64 institution) {
        fx.reloadCaches();
        testWork().institution = institution;
        run.emplace(RuleRunContext{testWork()});
        const QList<formlist::FormEntry> forms = formlist::formsForType(-1);
        formlist::runFormControls(*run, forms[0].id, forms[0].name, forms[0].text);
        QList<qint64> keys;
        for (int i = 0; i < run->errors().count(); ++i)
            if (run->errors().object(i) > 0) keys << run->errors().object(i) - 1;
        return keys;
    }
    QString ruleText(int key) {
        return queryRows(db::connection(db::kMain), "select coalesce(tble,''), lft, rght from int_control where "
                         "\"Код\"=?", {key}).join('|');
    }
    QStringList mapping(const QString &form) {
        QStringList lines;
        cp1251::readLines(fx.yearFolder() + "forms/" + form + ".txt", lines);
        return lines;
    }
    // Gives the table of the tables editor of Ф30 at the row a new number, as the user does.
    void renameInEditor(int row, const QString &number) {
        TFTabs t(ids::FormF30);
        t.show();
        t.list()->setCurrentItem(t.list()->topLevelItem(row));
        t.editTable();
        t.numberEdit()->setText(number);
        t.acceptTable();
    }
};

} // namespace

TEST(CarryText, TableReferencesOfTheFormFollowAndOthersStay) {
    const auto carried = [](const QString &s, const QString &own, bool chained) {
        return carryTableNumber(s, "Ф30", "(1000)", "(1000а)", own, chained);
    };
    EXPECT_EQ(carried("Т[1000]СТР[1]ГР[5]", "Ф30", false), "Т[1000а]СТР[1]ГР[5]");
    EXPECT_EQ(carried("ф30т[1000]стр1 + Ф14Т[1000]СТР1", "", false), "ф30т[1000а]стр1 + Ф14Т[1000]СТР1");
    EXPECT_EQ(carried("Ф30Т(1000)СТР1-АФ30Т[1000]ГР2", "", false), "Ф30Т(1000а)СТР1-АФ30Т[1000]ГР2");
    EXPECT_EQ(carried("Т[1000]СТР1", "Ф14", false), "Т[1000]СТР1");   // a rule of Ф14 names its own table
    EXPECT_EQ(carried("Т[10000]СТР1+Т[100]ГР1", "Ф30", false), "Т[10000]СТР1+Т[100]ГР1");
    // A calculated cell: a reference's form stands for the ones after it.
    EXPECT_EQ(carried("Ф14Т[1000]СТР1+Т[1000]СТР2", "Ф30", true), "Ф14Т[1000]СТР1+Т[1000]СТР2");
    EXPECT_EQ(carried("Ф14Т[1000]СТР1+Т[1000]СТР2", "Ф30", false), "Ф14Т[1000]СТР1+Т[1000а]СТР2");
    EXPECT_EQ(carried("Т[1000", "Ф30", false), "Т[1000");   // unclosed: left as written
    // Blanks between a form's name and its table mark, as the rule notation reads them.
    EXPECT_EQ(carried("Ф30 Т[1000]СТР[1]ГР[4] + Ф14  Т[1000]СТР[1]ГР[4]", "Ф14", false),
              "Ф30 Т[1000а]СТР[1]ГР[4] + Ф14  Т[1000]СТР[1]ГР[4]");

    EXPECT_EQ(carryFormName("ф30Т[1000]СТР1/АФ30Т[1000]+Ф3Т[1]", "Ф30", "Ф30а"), "Ф30аТ[1000]СТР1/АФ30Т[1000]+Ф3Т[1]");
    EXPECT_EQ(carryFormName("Ф3Т[1]+Ф30Т(2)", "Ф3", "Ф4"), "Ф4Т[1]+Ф30Т(2)");
    EXPECT_EQ(carryFormName("ф30 Т[1000]СТР1 + АФ30  Т[1000]СТР1", "Ф30", "Ф30а"), "Ф30а Т[1000]СТР1 + АФ30  Т[1000]СТР1");
    // A reference whose table comes from its rule names the form too; so do a condition's atoms and an indicator.
    EXPECT_EQ(carryFormName("Ф30СТР1ГР4+ф30 гр5стр2", "Ф30", "Ф31"), "Ф31СТР1ГР4+Ф31 гр5стр2");
    EXPECT_EQ(carryFormName("5<Ф30Т(1000)СТР1ГР4 AND(Ф30Т(2000)СТР1ГР4>8000 OR Ф14Т(1)СТР1ГР4=0)", "Ф30", "Ф31"),
              "5<Ф31Т(1000)СТР1ГР4 AND(Ф31Т(2000)СТР1ГР4>8000 OR Ф14Т(1)СТР1ГР4=0)");
    EXPECT_EQ(carryFormName("ВРАЧИ=Ф30Т[1000]СТР1ГР5;2", "Ф30", "Ф31"), "ВРАЧИ=Ф31Т[1000]СТР1ГР5;2");
    // A number stored before signs were refused is carried whole.
    EXPECT_EQ(carryTableNumber("Т[1000-1]СТР1ГР4+Т[1000]СТР1ГР4", "Ф30", "(1000-1)", "(1001)", "Ф30", false),
              "Т[1001]СТР1ГР4+Т[1000]СТР1ГР4");
}

TEST_F(CatalogRenameTest, NewTableNumberCarriesToRulesCellsIndicatorsAndPrint) {
    const QList<qint64> before = flagged(ids::FapOzerny);
    ASSERT_TRUE(before.contains(ids::RuleVisitsVsPositions)) << before.size();
    db::exec(db::kMain, "insert into conditions (tid, \"row\", \"column\", type, formula, condition) "
                        "values (?, 1, 1, 0, 'Ф30Т[1000]СТР1ГР4+Т[2000]СТР1ГР4', '')", {ids::TableF47Network});
    renameInEditor(0, "(1000а)");
    EXPECT_EQ(flagged(ids::FapOzerny), before);
    EXPECT_EQ(ruleText(ids::RuleOccupiedPositions), "(1000а)|СТР[1]ГР[5]|СТР[1]ГР[4]");
    EXPECT_EQ(ruleText(ids::RuleVisitsVsPositions), "|Т[2000]СТР[1]ГР[4]|Т[1000а]СТР[1]ГР[5]");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select formula from conditions where tid=? and formula like '%+Т[2000]%'",
                         {ids::TableF47Network}).toString(), "Ф30Т[1000а]СТР1ГР4+Т[2000]СТР1ГР4");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select formula from formulas where \"column\"=-1").toString(),
              "ВРАЧИ=Ф30Т[1000а]СТР1ГР5");
    EXPECT_EQ(mapping("Ф30"), QStringList{"1,4,4,[(1000а)],4,1,7,5"});
    ASSERT_FALSE(dialogs.messages.isEmpty());
    // Rules are named as the user knows them: comment and sides, never their keys.
    for (const char *item : {"(1000) изменен на (1000а)", "контроль \"Занятых должностей не больше штатных\" "
                             "(СТР[1]ГР[5] <= СТР[1]ГР[4])", "(Т[2000]СТР[1]ГР[4] >= Т[1000а]СТР[1]ГР[5])",
                             "расчетные ячейки", "показатели", "Ф30.txt"})
        EXPECT_TRUE(dialogs.messages.last().contains(QString::fromUtf8(item))) << dialogs.messages.last().toStdString();
    EXPECT_FALSE(dialogs.messages.last().contains(QRegularExpression("контроль \\d"))) << dialogs.messages.last().toStdString();
    // A caption changed alone carries nothing and says nothing more.
    dialogs.messages.clear();
    renameInEditor(0, "(1000а)");
    EXPECT_TRUE(dialogs.messages.isEmpty()) << dialogs.messages.join('|').toStdString();
}

TEST_F(CatalogRenameTest, MappingThatCannotBeCarriedChangesNothing) {
    const QStringList rules = queryRows(db::connection(db::kMain), "select * from int_control order by 1");
    // The print mapping was saved in UTF-16 by another editor: it cannot be read, so it cannot follow.
    const QString file = fx.yearFolder() + "forms/Ф30.txt";
    QByteArray utf16("\xFF\xFE", 2);
    for (QChar c : QStringLiteral("1,4,4,[(1000)],4,1,7,5\r\n")) utf16.append(char(c.unicode() & 0xFF)).append(char(c.unicode() >> 8));
    ASSERT_TRUE(cp1251::writeFile(file, utf16));
    try {
        catalog::updateTable(ids::TableF30Staff, "(1000а)", "Штаты", false, 0);
        ADD_FAILURE() << "accepted";
    } catch (const std::exception &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("Ничего не изменено")) << e.what();
    }
    EXPECT_EQ(queryRows(db::connection(db::kMain), "select * from int_control order by 1"), rules);
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select tablen from tables where ident=?", {ids::TableF30Staff})
                  .toString(), "(1000)");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), utf16);
}

TEST_F(CatalogRenameTest, NewFormNameCarriesToRulesAndPrintFiles) {
    db::exec(db::kMain, "update int_control set lft='ф30Т[2000]СТР[1]ГР[4]' where \"Код\"=?",
             {ids::RuleDischargedVsVisits});
    TFormL w;
    w.show();
    w.list()->setCurrentItem(w.list()->topLevelItem(0));
    const auto rename = [&](const QString &name) {
        dialogs.modals.push_back([name](QDialog *d) {
            auto *c = static_cast<TFChar *>(d);
            c->nameEdit()->setText(name);
            c->acceptForm();
            return c->result();
        });
        w.editForm();
    };
    // A print file of the new name is already there: refused, nothing changes.
    const QString forms = fx.yearFolder() + "forms/";
    ASSERT_TRUE(cp1251::writeLines(forms + "Ф31.docx", {"чужой"}));
    rename("Ф31");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select formname from forms where id=?", {ids::FormF30}).toString(), "Ф30");
    EXPECT_TRUE(QFileInfo::exists(forms + "Ф30.txt"));
    EXPECT_TRUE(QFileInfo::exists(forms + "Ф30.docx"));
    EXPECT_FALSE(QFileInfo::exists(forms + "Ф31.txt"));
    EXPECT_EQ(ruleText(ids::RuleDischargedVsVisits), "|ф30Т[2000]СТР[1]ГР[4]|Ф30Т[2000]СТР[1]ГР[4]");
    QFile::remove(forms + "Ф31.docx");

    rename("Ф31");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select formname from forms where id=?", {ids::FormF30}).toString(), "Ф31");
    EXPECT_EQ(ruleText(ids::RuleDischargedVsVisits), "|Ф31Т[2000]СТР[1]ГР[4]|Ф31Т[2000]СТР[1]ГР[4]");
    EXPECT_EQ(db::scalar(db::connection(db::kMain), "select formula from formulas where \"column\"=-1").toString(),
              "ВРАЧИ=Ф31Т[1000]СТР1ГР5");
    EXPECT_EQ(mapping("Ф31"), QStringList{"1,4,4,[(1000)],4,1,7,5"});
    EXPECT_TRUE(QFileInfo::exists(forms + "Ф31.docx"));
    EXPECT_FALSE(QFileInfo::exists(forms + "Ф30.docx"));
    for (const char *item : {"Ф30 переименована в Ф31", "контроль \"Выписанных не больше посещений\" (Ф31Т[2000]",
                             "показатели", "Ф31.txt", "Ф31.docx"})
        EXPECT_TRUE(dialogs.messages.last().contains(QString::fromUtf8(item))) << dialogs.messages.last().toStdString();
    // The rules still run on the renamed form.
    fx.reloadCaches();
    testWork().institution = ids::FapOzerny;
    RuleRun between{RuleRunContext{testWork()}};
    formlist::runInterFormControls(between, "Ф31");
    EXPECT_TRUE(between.messages().isEmpty());
}

// A rename the stored texts cannot follow is refused, naming them by what the user knows them by, and changes
// nothing: a rule of another form's table whose reference to Ф30 takes its table number from the rule, a
// calculated cell whose reference takes its table from the one before it. Fault of the kind: a form given without
// its table ("Ф30СТР1ГР4") now follows a new form name.
TEST_F(CatalogRenameTest, RenameThatLeavesATextUnreadableIsRefusedNamingIt) {
    const QSqlDatabase d = db::connection(db::kMain);
    const rulecheck::RuleChecker checker(d);
    qint64 key = 0;
    ASSERT_TRUE(rulecheck::InsertCheckedRule(d, checker, {"Ф14", "(1000)", "Ф30СТР1ГР4", ">=", "0", ""},
                                             "Штаты Ф30 не отрицательны", &key));
    const QStringList before = queryRows(d, "select * from int_control order by 1") +
                               queryRows(d, "select * from tables order by 1");
    auto refusal = [&](const std::function<void()> &rename) {
        try {
            rename();
        } catch (const std::exception &e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    };
    const QString why = refusal([] { catalog::updateTable(ids::TableF30Staff, "(1001)", "Штаты", false, 0); });
    EXPECT_TRUE(why.contains("контроль \"Штаты Ф30 не отрицательны\" (Ф30СТР1ГР4 >= 0)")) << why.toStdString();
    EXPECT_TRUE(why.contains("Ничего не изменено")) << why.toStdString();
    EXPECT_EQ(queryRows(d, "select * from int_control order by 1") + queryRows(d, "select * from tables order by 1"),
              before);

    db::exec(d, "delete from int_control where \"Код\"=?", {key});
    db::exec(d, "insert into conditions (tid, \"row\", \"column\", type, formula, condition) values (?, 2, 1, 1, "
                "'Ф14Т[1000]СТР1ГР4+Ф30СТР1ГР4', '')", {ids::TableF47Network});
    const QString cell = refusal([] { catalog::updateTable(ids::TableF14Patients, "(1001)", "x", false, 0); });
    EXPECT_TRUE(cell.contains("расчетная ячейка Ф47(1000), строка 2, графа 1")) << cell.toStdString();
    EXPECT_EQ(db::scalar(d, "select tablen from tables where ident=?", {ids::TableF14Patients}).toString(), "(1000)");

    // A new form name follows every reference to the form, the ones without a table too, and the rule still reads.
    db::exec(d, "delete from conditions where \"row\"=2 and tid=?", {ids::TableF47Network});
    ASSERT_TRUE(rulecheck::InsertCheckedRule(d, checker, {"Ф30", "(1000)", "Ф30СТР1ГР4+ф30 стр2гр4", ">=", "0", ""}, "к",
                                             &key));
    EXPECT_EQ(refusal([] { catalog::updateForm(ids::FormF30, "Ф31", "x", false); }), QString());
    EXPECT_EQ(ruleText(int(key)), "(1000)|Ф31СТР1ГР4+Ф31 стр2гр4|0");
    EXPECT_TRUE(rulecheck::RuleChecker(d).Check({"Ф31", "(1000)", "Ф31СТР1ГР4+Ф31 стр2гр4", ">=", "0", ""}));
}
