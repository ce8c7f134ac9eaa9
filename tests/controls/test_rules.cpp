// Rule storage, control files, expansion of rule sides, the previous-year
// comparison and the upload body, over the sample configuration.
#include "controls/ControlFile.h"
#include "controls/ControlRules.h"
#include "controls/ControlUpload.h"
#include "engine/RuleCheck.h"
#include "engine/SharedState.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/Files.h"
#include "support/QueryRows.h"
#include "support/Fixture.h"

#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace controls;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

int ruleCount() { return db::scalar(mainDb(), "select count(*) from int_control").toInt(); }

QStringList keysOf(const QList<RuleItem> &items) {
    QStringList out;
    for (const RuleItem &i : items) out << QString::number(i.key);
    return out;
}

// The sample with its caches filled; d is its main database.
struct OverSample : ::testing::Test {
    SampleFixture fx;
    const QSqlDatabase d = mainDb();
    void SetUp() override { fx.reloadCaches(); }
};
using RuleStore = OverSample;
using ControlFileFormat = OverSample;

} // namespace

// The rule lists sort by comment in the order of names: numbers by value, Ё with Е, letter case aside.
TEST_F(RuleStore, ListsSortByCommentInTheOrderOfNames) {
    db::exec(d, "delete from int_control where formid=1 and tble='(1000)'");
    for (const char *c : {"Правило №10", "правило №2", "Ёмкость", "Емкость коек", "ель", "Правило №1"})
        db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                    "values (1, '(1000)', 'СТР1ГР4', '>=', '0', '', ?)",
                 {QString::fromUtf8(c)});
    QStringList comments;
    for (const RuleItem &i : ListRules(d, {IntraTable, FilterAll, 1, "Ф30", "(1000)"})) comments << i.text;
    EXPECT_EQ(comments, (QStringList{"ель", "Ёмкость", "Емкость коек", "Правило №1", "правило №2", "Правило №10"}));
}

TEST_F(RuleStore, ListsByClassAndFilter) {
    EXPECT_EQ(keysOf(ListRules(d, {IntraTable, FilterAll, 1, "Ф30", "(1000)"})).size(), 3);
    EXPECT_TRUE(ListRules(d, {IntraTable, FilterAll, 1, "Ф30", ""}).isEmpty()) << "class 0 needs a table";
    // Inter-table rules hold an empty or a null table.
    EXPECT_EQ(keysOf(ListRules(d, {InterTable, FilterAll, 1, "Ф30", "(1000)"})), (QStringList{"4", "5"}));
    EXPECT_EQ(keysOf(ListRules(d, {InterTable, FilterTable, 1, "Ф30", "(1000)"})), (QStringList{"4"}));
    EXPECT_EQ(keysOf(ListRules(d, {InterForm, FilterAll, -1, "", ""})), (QStringList{"6"}));
    EXPECT_EQ(keysOf(ListRules(d, {InterForm, FilterForm, 2, "Ф14", "(1000)"})), (QStringList{"6"}));
    EXPECT_TRUE(ListRules(d, {InterForm, FilterForm, 3, "Ф47", "(1000)"}).isEmpty());
    EXPECT_EQ(keysOf(ListRules(d, {InterForm, FilterTable, 1, "Ф30", "(2000)"})), (QStringList{"6"}));
    EXPECT_TRUE(ListRules(d, {InterForm, FilterTable, 1, "Ф30", "(1000)"}).isEmpty());
    // References read as the notation reads them: blanks before the table mark and in its brackets, and a form whose
    // name only ends as the chosen one's is another form.
    db::exec(d, "update int_control set lft='Ф14 Т[ 1000 ]СТР[1]ГР[4]' where \"Код\"=6");
    db::exec(d, "update int_control set lft='Т( 1000 )СТР[1]ГР[4]' where \"Код\"=4");
    db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                "values (0, '', 'ФФ14Т[1000]СТР[1]ГР[4]', '>=', '0', '', 'другая')");
    EXPECT_EQ(keysOf(ListRules(d, {InterTable, FilterTable, 1, "Ф30", "(1000)"})), (QStringList{"4"}));
    EXPECT_EQ(keysOf(ListRules(d, {InterForm, FilterForm, 2, "Ф14", "(1000)"})), (QStringList{"6"}));
    EXPECT_EQ(keysOf(ListRules(d, {InterForm, FilterTable, 2, "Ф14", "(1000)"})), (QStringList{"6"}));
}

TEST_F(RuleStore, SaveInsertUpdateDeleteAndQuotes) {
    // Texts with quotes are stored as typed (bound, never spliced).
    const RuleTexts t{"Т[1000]СТР1ГР4", ">=", "0", "", "Комментарий \"в кавычках\", и ' апостроф"};
    const qint64 k = SaveRule(d, {InterTable, FilterAll, 1, "Ф30", "(1000)"}, 0, t);
    EXPECT_GT(k, 7);
    std::optional<RuleRecord> r = ReadRule(d, k);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->texts.commnt, t.commnt);
    EXPECT_EQ(r->formId, 1);
    EXPECT_TRUE(db::scalar(d, "select tble is not null and tble='' from int_control where \"Код\"=?", {k}).toBool())
        << "class 1 stores an empty table, not null";
    const qint64 f = SaveRule(d, {InterForm, FilterAll, 1, "Ф30", "(1000)"}, 0, {"Ф30Т[1000]СТР1ГР4", "=", "1", "", "x"});
    EXPECT_EQ(ReadRule(d, f)->formId, 0);
    EXPECT_EQ(ReadRule(d, f)->table, "");
    const qint64 i = SaveRule(d, {IntraTable, FilterAll, 1, "Ф30", "(1000)"}, 0, {"СТР1ГР4", "=", "1", "", "y"});
    EXPECT_EQ(ReadRule(d, i)->table, "(1000)");

    EXPECT_EQ(SaveRule(d, {IntraTable, FilterAll, 1, "Ф30", "(1000)"}, i, {"СТР2ГР4", "<", "5", "", "z"}), i);
    EXPECT_EQ(ReadRule(d, i)->texts.reltion, "<");
    EXPECT_EQ(ReadRule(d, i)->texts.commnt, "z");

    const int before = ruleCount();
    EXPECT_EQ(DeleteRules(d, {i, 0, f, 9999}), 2);
    EXPECT_EQ(ruleCount(), before - 2);
    EXPECT_FALSE(ReadRule(d, i));
}

TEST_F(RuleStore, ReplaceTouchesOnlyTheChosenTexts) {
    const RuleRecord before = *ReadRule(d, 1);
    int changed = 0;
    auto comments = ReplaceInRules(d, {1, 0, 2}, ReplaceLeft, "СТР[1]", "СТР[4]", &changed);
    EXPECT_EQ(changed, 2);
    EXPECT_TRUE(comments.isEmpty());
    const RuleRecord after = *ReadRule(d, 1);
    EXPECT_EQ(after.texts.lft, QString(before.texts.lft).replace("СТР[1]", "СТР[4]"));
    EXPECT_EQ(after.texts.rght, before.texts.rght);
    EXPECT_EQ(after.texts.commnt, before.texts.commnt);
    // Case-sensitive; the comment's new text comes back for the list.
    comments = ReplaceInRules(d, {1}, ReplaceEverywhere, "стр[4]", "X", &changed);
    EXPECT_EQ(changed, 0);
    const QString c = after.texts.commnt;
    ASSERT_FALSE(c.isEmpty());
    comments = ReplaceInRules(d, {1}, ReplaceComment, c.left(3), "ЖЖЖ", &changed);
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(comments.value(1), "ЖЖЖ" + c.mid(3));
    EXPECT_EQ(ReadRule(d, 1)->texts.lft, after.texts.lft);

    // A rule that a save would refuse stays as it was and is listed.
    QStringList refused;
    ReplaceInRules(d, {1, 2}, ReplaceEverywhere, "СТР", "ХХХ", &changed, &refused);
    EXPECT_EQ(changed, 0);
    ASSERT_EQ(refused.size(), 2);
    EXPECT_TRUE(refused[0].contains("Операнд не является ссылкой на ячейку")) << refused[0].toStdString();
    EXPECT_TRUE(refused[0].contains("ХХХ")) << refused[0].toStdString();   // the replaced text is shown
    EXPECT_EQ(ReadRule(d, 1)->texts.lft, after.texts.lft);
    ReplaceInRules(d, {1}, ReplaceComment, "ЖЖЖ", "≠", &changed, &refused);
    EXPECT_EQ(changed, 0);
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0].contains("\"≠\" (U+2260)")) << refused[0].toStdString();

    // A failure on one rule leaves the rules handled before it unchanged.
    db::exec(d, "create trigger no_second before update on int_control when old.\"Код\"=2 "
                "begin select raise(abort, 'запрет'); end");
    const RuleRecord first = *ReadRule(d, 1);
    EXPECT_THROW(ReplaceInRules(d, {1, 2}, ReplaceEverywhere, "СТР", "стр", &changed), std::exception);
    EXPECT_EQ(ReadRule(d, 1)->texts.lft, first.texts.lft);
    EXPECT_EQ(ReadRule(d, 1)->texts.rght, first.texts.rght);
}

TEST(ControlLine, LinesRoundTrip) {
    // A comment holding the field separator "," travels whole: quotes inside a field are doubled.
    const ControlLine l{"Ф30", "(1000)", "СТР[1]", ">=", "СТР[2]+СТР[3]", "ГР[4..7]", "Врачи \"всего\",\"штатных\""};
    const QString text = FormatControlLine(l);
    EXPECT_EQ(text, "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]+СТР[3]\",\"ГР[4..7]\","
                    "\"Врачи \"\"всего\"\",\"\"штатных\"\"\"");
    const auto back = ParseControlLine(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->commnt, l.commnt);
    EXPECT_EQ(back->cycl, l.cycl);
    // A line of an older writer, quotes not doubled, still reads.
    const auto old = ParseControlLine("\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"0\",\"\",\"Врачи \"всего\"\"");
    ASSERT_TRUE(old);
    EXPECT_EQ(old->commnt, "Врачи \"всего\"");
    EXPECT_FALSE(ParseControlLine("Строка № 6 вне рабочей области таблицы"));
    EXPECT_FALSE(ParseControlLine("\"Ф30\",\"(1000)\",\"СТР1\""));
    EXPECT_FALSE(ParseControlLine("\"a\",\"b\",\"c\",\"d\",\"e\",\"f\",\"g\",\"h\""));
    EXPECT_FALSE(ParseControlLine("\""));
    // Blanks after the closing quote do not make the line unreadable.
    const auto trailing = ParseControlLine(text + "  \t");
    ASSERT_TRUE(trailing);
    EXPECT_EQ(trailing->commnt, l.commnt);
}

TEST_F(ControlFileFormat, ExportAndLoadBack) {
    const QString path = fx.root() + "controls.orv";
    const QStringList all = ControlFileLinesAll(d);
    ASSERT_EQ(all.size(), 7);
    WriteControlFile(path, all);
    const QByteArray bytes = fileBytes(path);
    EXPECT_TRUE(bytes.contains("\r\n"));
    EXPECT_TRUE(bytes.startsWith(cp1251::encode("\"Ф30\",\"(1000)\"")));

    // Replace mode brings back every rule under new keys.
    const LoadResult r = LoadControlFile(d, path, LoadMode::Replace);
    EXPECT_EQ(r.inserted, 7);
    EXPECT_TRUE(r.rejects.isEmpty());
    EXPECT_EQ(ruleCount(), 7);
    EXPECT_EQ(db::scalar(d, "select min(\"Код\") from int_control").toInt(), 8);
    EXPECT_EQ(ControlFileLinesAll(d), all);
    EXPECT_EQ(db::scalar(d, "select count(*) from int_control where tble is null").toInt(), 3)
        << "an empty table field loads as null";
    // "Подгрузка" of the same file again doubles nothing: every line is a rule stored already.
    const LoadResult again = LoadControlFile(d, path, LoadMode::Append);
    EXPECT_EQ(again.inserted, 0);
    EXPECT_EQ(again.alreadyStored, 7);
    EXPECT_EQ(ruleCount(), 7);
}

// A line is a stored rule when every field is: form, table (none and "" alike), sides as the rule run reads them
// (letter case, a Tab or line break for a blank), relation, cycle and comment. A rule differing in any one is loaded.
TEST_F(ControlFileFormat, AppendingStoresOnlyTheRulesNotStoredYet) {
    db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                "values (1, '(1000)', 'стр[1]', '>=', 'стр[2]', 'гр[4..5]', 'Врачи «Ёж»')");
    db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                "values (0, '', 'Ф14Т[1000]СТР[1] ГР[4]', '<=', 'Ф30Т[2000]СТР1ГР4', '', 'между')");
    const QString stored = "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"ГР[4..5]\",\"Врачи «Ёж»\"";
    const QStringList lines = {
        stored,
        "\"ф30\",\"(1000)\",\"стр[1]\",\">=\",\"стр[2]\",\"гр[4..5]\",\"Врачи «Ёж»\"",        // letter case of the sides
        "\"\",\"\",\"Ф14Т[1000]СТР[1]\tГР[4]\",\"<=\",\"Ф30Т[2000]СТР1ГР4\",\"\",\"между\"",    // a Tab; no table, stored ""
        stored,                                                                                     // twice in the file
        "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"ГР[4..5]\",\"врачи «Ёж»\"",          // the comment's case
        "\"Ф30\",\"(1000)\",\"СТР[1]\",\">\",\"СТР[2]\",\"ГР[4..5]\",\"Врачи «Ёж»\"",           // the relation
        "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[2]\",\"ГР[4]\",\"Врачи «Ёж»\"",             // the cycle
        "\"Ф30\",\"(1000)\",\"СТР[1]\",\">=\",\"СТР[3]\",\"ГР[4..5]\",\"Врачи «Ёж»\"",          // a side
        "\"Ф30\",\"\",\"Т[1000]СТР[1]\",\">=\",\"Т[1000]СТР[2]\",\"ГР[4..5]\",\"Врачи «Ёж»\"",  // the table
    };
    const QString path = fx.root() + "twice.orv";
    WriteControlFile(path, lines);
    const int before = ruleCount();
    const LoadResult r = LoadControlFile(d, path, LoadMode::Append);
    EXPECT_EQ(r.alreadyStored, 4);
    EXPECT_EQ(r.inserted, 5);
    EXPECT_EQ(ruleCount(), before + 5);
    // All of them stored already: nothing changes, and that is no failure.
    const LoadResult again = LoadControlFile(d, path, LoadMode::Append);
    EXPECT_EQ(again.inserted, 0);
    EXPECT_EQ(again.alreadyStored, int(lines.size()));
    EXPECT_EQ(ruleCount(), before + 5);
}

TEST_F(ControlFileFormat, ExportOfAFormMatchesItsDeletion) {
    const QStringList f14 = ControlFileLinesForForm(d, 2, "Ф14");
    EXPECT_EQ(f14.size(), 2) << "its own rule and the inter-form rule naming it";
    EXPECT_EQ(ControlFileLinesForKeys(d, {6, 12345, 7}).size(), 2) << "keys without a row are passed over";
    EXPECT_EQ(DeleteFormRules(d, 2, "Ф14"), 2);
    EXPECT_EQ(ruleCount(), 5);
    EXPECT_TRUE(ControlFileLinesForForm(d, 2, "Ф14").isEmpty());
    // Pattern characters in a form name match only themselves.
    db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                "values (0, '', 'ФX1Т[1000]СТР1ГР4', '=', '1', '', 'чужой')");
    EXPECT_TRUE(ListRules(d, {InterForm, FilterForm, 999, "Ф_1", ""}).isEmpty());
    EXPECT_EQ(DeleteFormRules(d, 999, "Ф_1"), 0);
    EXPECT_EQ(ControlFileLinesForForm(d, 999, "ФX1").size(), 1);
}

// "Замещение" with one form's exported rules replaces that form's rules and,
// of the rules between forms, those the file carries or whose forms are all
// its own; a rule between other forms stays.
TEST_F(ControlFileFormat, ReplacingOneFormKeepsTheRulesBetweenOtherForms) {
    const auto insert = [&](const QString &lft, const QString &rght, const QString &comment) {
        db::exec(d, "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values (0, '', ?, '>=', ?, '', ?)",
                 {lft, rght, comment});
    };
    insert("Ф30Т[1000]СТР1ГР4", "ф30т[2000]стр1гр4", "только Ф30");
    insert("Ф14Т[1000]СТР1ГР4", "0", "только Ф14");
    const QString path = fx.root() + "f14.orv";
    const QStringList lines = ControlFileLinesForForm(d, 2, "Ф14");   // rule 7, rule 6 (Ф14 and Ф30), "только Ф14"
    ASSERT_EQ(lines.size(), 3);
    WriteControlFile(path, lines);
    db::exec(d, "delete from int_control where commnt='только Ф14' and \"Код\">7");
    insert("Ф14Т[1000]СТР1ГР5", "0", "только Ф14, нет в файле");
    const int before = ruleCount();
    const LoadResult r = LoadControlFile(d, path, LoadMode::Replace);
    EXPECT_EQ(r.inserted, 3);
    const QStringList comments = queryRows(d, "select commnt from int_control order by commnt");
    // Rules 1..5 of Ф30 and the one between Ф30's tables stay; rule 6 and the
    // Ф14-only rule come back once from the file; the Ф14-only rule the file
    // lacks goes with its form.
    EXPECT_EQ(ruleCount(), before) << comments.join('|').toStdString();
    EXPECT_EQ(comments.filter("только Ф30").size(), 1);
    EXPECT_EQ(comments.filter("только Ф14").size(), 1);
    EXPECT_TRUE(comments.filter("нет в файле").isEmpty());
    EXPECT_EQ(db::scalar(d, "select count(*) from int_control where formid=0 and lft='Ф14Т[1000]СТР[1]ГР[4]'")
                  .toInt(), 1) << "the rule between Ф14 and Ф30 is not doubled";
}

// A rule between forms in the file is the stored one when it reads the same once stored: a Tab or a line break in a
// side is stored as a blank, so "Замещение" replaces it instead of adding it again.
TEST_F(ControlFileFormat, ReplacingARuleBetweenFormsComparesItAsItWouldBeStored) {
    db::exec(d, "update int_control set lft='Ф14Т[1000]СТР[1] ГР[4]' where \"Код\"=6");
    const QString path = fx.root() + "between.orv";
    WriteControlFile(path, {"\"\",\"\",\"Ф14Т[1000]СТР[1]\tГР[4]\",\"<=\",\"Ф30Т[2000]СТР[1]ГР[4]\",\"\",\"с табуляцией\""});
    const int before = ruleCount();
    EXPECT_EQ(LoadControlFile(d, path, LoadMode::Replace).inserted, 1);
    EXPECT_EQ(ruleCount(), before);
    EXPECT_EQ(db::scalar(d, "select commnt from int_control where lft='Ф14Т[1000]СТР[1] ГР[4]'").toString(), "с табуляцией");
}

TEST_F(ControlFileFormat, LoaderChecksCasesAndRejects) {
    const QString dir = fx.root() + "in/";
    QDir().mkpath(dir);
    const QString path = dir + "mixed.orv";
    ASSERT_TRUE(cp1251::writeLines(path, {
        "Комментарий: строки без кавычек пропускаются",
        "\"ф30\",\"(1000)\",\"стр[1]\",\">=\",\"стр[2]\",\"гр[4..7]\",\"Нижний Регистр\"",
        "\"\",\"\",\"ф14т[1000]стр1гр4\",\"<=\",\"Ф30Т[2000]СТР1ГР4\",\"\",\"между формами\"",
        "\"Ф30\",\"(1000)\",\"СТР[9]\",\">=\",\"0\",\"ГР4\",\"вне\"", "\"Ф30\",\"(1000)\",\"СТР[1]\"",
    }));
    const int before = ruleCount();
    const LoadResult r = LoadControlFile(d, path, LoadMode::Append);
    EXPECT_EQ(r.inserted, 2);
    EXPECT_EQ(ruleCount(), before + 2);
    QSqlQuery q = db::exec(d, "select lft, cycl, commnt, formid, tble from int_control where \"Код\">7 order by \"Код\"");
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(0).toString(), "СТР[1]");
    EXPECT_EQ(q.value(1).toString(), "ГР[4..7]");
    EXPECT_EQ(q.value(2).toString(), "Нижний Регистр") << "comments keep their case";
    EXPECT_EQ(q.value(3).toInt(), 1);
    ASSERT_TRUE(q.next());
    EXPECT_EQ(q.value(3).toInt(), 0) << "empty form: inter-form rule";
    EXPECT_TRUE(q.value(4).isNull());

    EXPECT_EQ(r.rejectsFile, dir + kRejectsFileName);
    QStringList rejects;
    ASSERT_TRUE(cp1251::readLines(r.rejectsFile, rejects));
    ASSERT_EQ(rejects.size(), 4);
    EXPECT_EQ(rejects[0], "Левая часть: Строка № 9 вне рабочей области таблицы (операнд СТР[9])");
    EXPECT_EQ(rejects[1], "\"Ф30\",\"(1000)\",\"СТР[9]\",\">=\",\"0\",\"ГР4\",\"вне\"");

    // The rejects file itself loads only its rule lines (still rejected): not one line is accepted, which is an error.
    EXPECT_THROW(LoadControlFile(d, r.rejectsFile, LoadMode::Append), db::Error);
    EXPECT_EQ(ruleCount(), before + 2);
}

TEST_F(ControlFileFormat, AFileWithoutRulesChangesNothing) {
    const QString path = fx.root() + "bad.orv";
    ASSERT_TRUE(cp1251::writeLines(path, {"это не файл контролей", "\"a\",\"b\""}));
    EXPECT_THROW(LoadControlFile(d, path, LoadMode::Replace), db::Error);
    EXPECT_EQ(ruleCount(), 7) << "replace mode deletes nothing for a malformed file";
    EXPECT_THROW(LoadControlFile(d, fx.root() + "missing.orv", LoadMode::Replace), db::Error);
    EXPECT_EQ(ruleCount(), 7);

    // Not one line accepted (a file of another structure, the right file
    // saved as UTF-8): replace mode deletes nothing and says why.
    const QString good = "\"Ф30\",\"(1000)\",\"СТР1ГР4\",\"=\",\"0\",\"\",\"Всего\"";
    const QFile utf8(fx.root() + "utf8.orv");
    ASSERT_TRUE(cp1251::writeFile(utf8.fileName(), (good + "\r\n").toUtf8()));
    ASSERT_TRUE(cp1251::writeLines(path, {"\"Ф99\",\"(1)\",\"СТР1\",\"=\",\"0\",\"\",\"x\""}));
    for (const QString &file : {path, utf8.fileName()}) {
        try {
            LoadControlFile(d, file, LoadMode::Replace);
            ADD_FAILURE() << "no line accepted, yet no error";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains("Контроли не изменены.")) << e.message().toStdString();
            EXPECT_EQ(e.message().contains("Windows-1251"), file == utf8.fileName()) << e.message().toStdString();
        }
        EXPECT_EQ(ruleCount(), 7);
        EXPECT_TRUE(QFile::exists(fx.root() + kRejectsFileName));
    }
    // The same file in code page 1251 loads.
    ASSERT_TRUE(cp1251::writeLines(path, {good}));
    EXPECT_EQ(LoadControlFile(d, path, LoadMode::Replace).inserted, 1);
    EXPECT_EQ(ruleCount(), 3) << "the rules of Ф14 and the one between forms stay";
}

TEST_F(ControlFileFormat, UnwritableRejectsFileKeepsTheLoadedRules) {
    const QString dir = fx.root() + "blocked/";
    ASSERT_TRUE(QDir().mkpath(dir + kRejectsFileName));   // a folder where the file should go
    ASSERT_TRUE(cp1251::writeLines(dir + "c.orv", {"\"Ф30\",\"(1000)\",\"СТР1ГР4\",\"=\",\"0\",\"\",\"x\"",
                                                   "\"Ф99\",\"(1)\",\"СТР1\",\"=\",\"0\",\"\",\"y\""}));
    const LoadResult r = LoadControlFile(d, dir + "c.orv", LoadMode::Append);
    EXPECT_EQ(r.inserted, 1);
    EXPECT_EQ(ruleCount(), 8);
    EXPECT_EQ(r.rejects.size(), 2);
    EXPECT_FALSE(r.rejectsError.isEmpty());
}

TEST(RuleSides, ExpandWithClassFormTableAndCycle) {
    EXPECT_EQ(ExpandRuleSide("СТР[1]+СТР[2]", 0, "ГР[4..7]", "(1000)", "Ф30"),
              "Ф30Т(1000)СТР[1]ГР[4..7]+Ф30Т(1000)СТР[2]");
    EXPECT_EQ(ExpandRuleSide("Т[2000]СТР[1]ГР[4]", 1, "", "", "Ф30"), "Ф30Т[2000]СТР[1]ГР[4]");
    EXPECT_EQ(ExpandRuleSide("12", 0, "", "(1000)", "Ф30"), "12");
}

TEST(RuleSides, EveryCycleSpellingTheCheckerTakesGivesOneBracketedGroup) {
    SampleFixture fx;
    struct Case { const char *text, *cycle, *expanded; };
    const Case cases[] = {
        {"Ф30Т[1000]стр[1]ГР[4]", "стр2..3", "Ф30Т[1000]стр[2..3]ГР[4]"},
        {"Ф30Т[1000]стр[1]ГР[4]", "стр[2..3]", "Ф30Т[1000]стр[2..3]ГР[4]"},
        {"Ф30Т[1000]стр[1]ГР[4]", " СТР [2..3] ", "Ф30Т[1000]СТР[2..3]ГР[4]"},
        {"Ф30Т[1000]стр[1]ГР[4]", "Стр 2, 5", "Ф30Т[1000]Стр[2, 5]ГР[4]"},
        {"Ф30Т[1000]стр[1]ГР[4]", "гр5..6", "Ф30Т[1000]стр[1]гр[5..6]"},
        {"Ф30Т[1000]ГР[4]", "стр2..3", "Ф30Т[1000]стр[2..3]ГР[4]"},
        {"Ф30Т[1000]СТР[1]+Ф30Т[1000]СТР[2]", "ГР 4", "Ф30Т[1000]СТР[1]ГР[4]+Ф30Т[1000]СТР[2]"},
        {"Ф30Т[1000]", "СТР2", "Ф30Т[1000]СТР[2]"},
    };
    for (const Case &c : cases) {
        EXPECT_TRUE(rulecheck::CheckRule(mainDb(), {"Ф30", "(1000)", "0", "=", "0", c.cycle})) << c.cycle;
        EXPECT_EQ(InsertCycle(c.text, c.cycle), c.expanded) << c.cycle;
    }
    // A cycle the checker refuses for its unclosed bracket changes nothing.
    EXPECT_FALSE(rulecheck::CheckRule(mainDb(), {"Ф30", "(1000)", "0", "=", "0", "стр[2..3"}));
    EXPECT_EQ(InsertCycle("Ф30Т[1000]стр[1]ГР[4]", "стр[2..3"), "Ф30Т[1000]стр[1]ГР[4]");
}

TEST(PreviousYear, ChangedAndMissingReferences) {
    SampleFixture fx(true);
    fx.reloadCaches();
    // Same definitions in both years: nothing differs.
    for (int key = 1; key <= 7; ++key) {
        const RuleRecord r = *ReadRule(mainDb(), key);
        EXPECT_FALSE(CheckControlAgainstPreviousYear(key, r.texts.lft, r.texts.rght, r.texts.reltion, r.texts.cycl))
            << key;
    }
    EXPECT_EQ(SearchAllRuleDiscrepancies(mainDb(), nullptr).filter("Расхождений не найдено").size(), 3);

    // Last year had no table (2000) of Ф30: rules reading it differ.
    {
        db::ScopedConnection prev(fx.configFolder() + QString::number(fx.year() - 1) + "/orvmain.mdb",
                                  db::OpenMode::ReadWrite);
        db::exec(prev.db(), "delete from tables where ident=2");
    }
    const RuleRecord r4 = *ReadRule(mainDb(), 4);
    EXPECT_TRUE(CheckControlAgainstPreviousYear(4, r4.texts.lft, r4.texts.rght, "", r4.texts.cycl));
    const RuleRecord r1 = *ReadRule(mainDb(), 1);
    EXPECT_FALSE(CheckControlAgainstPreviousYear(1, r1.texts.lft, r1.texts.rght, "", r1.texts.cycl));
    // The reverse: a reference that exists only last year is no discrepancy.
    EXPECT_FALSE(CheckControlAgainstPreviousYear(0, "Ф30Т[9000]СТР1ГР4", "", "", ""));

    const QStringList report = SearchAllRuleDiscrepancies(mainDb(), nullptr);
    EXPECT_EQ(report.first(), "Результаты проверки расхождений контролей с прошлым годом:");
    EXPECT_TRUE(report.contains("   Есть расхождения")) << report.join(QLatin1Char('|')).toStdString();
    EXPECT_TRUE(report.contains("   Есть расхождения в формах:"));
    EXPECT_TRUE(report.contains("   - Ф30"));
    EXPECT_EQ(report.last(), "Всего проверено контролей: 6") << "each group stops at its first discrepancy";
}

TEST(PreviousYear, NoPreviousDatabase) {
    SampleFixture fx(false);
    fx.reloadCaches();
    const RuleRecord r = *ReadRule(mainDb(), 4);
    EXPECT_FALSE(CheckControlAgainstPreviousYear(4, r.texts.lft, r.texts.rght, "", r.texts.cycl));
    const QStringList report = SearchAllRuleDiscrepancies(mainDb(), nullptr);
    EXPECT_EQ(report.filter("Расхождений не найдено").size(), 3);
    EXPECT_EQ(report.last(), "Всего проверено контролей: 7");
    db::exec(mainDb(), "delete from int_control");
    EXPECT_EQ(SearchAllRuleDiscrepancies(mainDb(), nullptr), QStringList{"Контроли не найдены"});
}

TEST(Upload, JsonBodyInKeyOrder) {
    UploadRule r;
    r.formId = 1;
    r.table = "(1000)";
    r.lft = "СТР[1]";
    r.reltion = ">=";
    r.rght = "a/b";
    r.cycl = "";
    r.commnt = "say \"hi\"\t";
    r.year = 2024;
    EXPECT_EQ(BuildControlJson(r), "{\"formid\":1,\"tble\":\"(1000)\",\"lft\":\"СТР[1]\",\"reltion\":\">=\","
                                   "\"rght\":\"a\\/b\",\"cycl\":\"\",\"commnt\":\"say \\\"hi\\\"\\t\",\"year\":2024}");
    r.key = 17;
    EXPECT_TRUE(BuildControlJson(r).endsWith(",\"year\":2024,\"id\":17}"));
}
