// Syntax check of rule sides over the sample forms: Ф30 (1000) has data rows
// 1..5 and columns 3..7 (fixcols 3), Ф30 (2000) rows 1..3, columns 3..5.
#include "controls/ControlCheck.h"
#include "controls/ControlRules.h"
#include "support/Fixture.h"
#include "platform/Database.h"

#include <gtest/gtest.h>

using namespace controls;

class FileCheck : public ::testing::Test {
protected:
    SampleFixture fx;
    FileRuleChecker checker{db::connection(db::kMain)};
    bool check(const QString &form, const QString &table, const QString &expr, const QString &cycle = {}) {
        return checker.CheckControlExpression(form, table, expr, cycle);
    }
};

// Each expression with the text of its failure (empty: accepted).
TEST_F(FileCheck, ExpressionsAndTheirFailures) {
    struct Case {
        QString form, table, expr, cycle, error;
    };
    const QList<Case> cases = {
        {"Ф30", "(1000)", "СТР[1]ГР[4]", "", ""},
        {"Ф30", "(1000)", "СТР5ГР7", "", ""},   // last row and column of the work area
        {"Ф30", "(1000)", "СТР6ГР7", "", "Строка № 6 вне рабочей области таблицы"},
        {"Ф30", "(1000)", "СТР1ГР3", "", "Графа № 3 вне рабочей области таблицы"},   // up to fixcols: headers
        {"Ф30", "(1000)", "12.5", "", ""},
        {"Ф30", "(1000)", "", "", ""},   // the empty text counts as a number
        // Round brackets and lower case read like square brackets and upper case.
        {"", "", "ф30т(2000)стр(1)гр4+Ф30Т[2000]СТР[1]ГР[4]", "", ""},
        {"", "", "Ф14Т[1000]СТР[1]ГР[4]*2", "", ""},
        {"", "", "Т[1000]СТР1ГР4", "", "Не задана форма "},
        {"", "", "Ф99Т[1000]СТР1ГР4", "", "Несуществующая форма Ф99Т[1000]СТР1ГР4"},
        {"Ф30", "", "СТР1ГР4", "", "Не указана таблица Ф30СТР1ГР4"},
        {"Ф30", "(3000)", "СТР1ГР4", "", "Несуществующая таблица "},
        {"Ф30", "(1000)", "СТР[1ГР4", "", "Ошибка в выражении "},
        // A line that names the form: the operand may not name it again.
        {"Ф30", "", "Т[2000]СТР1ГР4", "", ""},
        {"Ф30", "", "Ф30Т[2000]СТР1ГР4", "", "Несуществующая форма "},
        // A column cycle: the operand may not carry its own column part.
        {"Ф30", "(1000)", "СТР[1]", "ГР[4..7]", ""},
        {"Ф30", "(1000)", "СТР[1]ГР[5]", "ГР[4..7]", "?"},
        {"Ф30", "(1000)", "(СТР1ГР4+СТР2ГР4)*2-(СТР3ГР4/4)", "", ""},
        {"Ф30", "(1000)", "(СТР1ГР4+СТР2ГР4", "", "Нарушен баланс скобок"},
        {"Ф30", "(1000)", ")СТР1ГР4+СТР2ГР4(", "", "Неправильная последовательность скобок"},
        {"Ф30", "(1000)", "-СТР1ГР4", "", "Неправильная последовательность скобок"},   // empty left operand
        {"Ф30", "(1000)", "СТР1ГР4+", "", "?"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expr.toStdString());
        EXPECT_EQ(check(c.form, c.table, c.expr, c.cycle), c.error.isEmpty());
        if (!c.error.isEmpty() && c.error != "?")
            EXPECT_TRUE(checker.errorText().startsWith(c.error)) << checker.errorText().toStdString();
    }
    // Both sides: the right one is only looked at when the left passed.
    EXPECT_FALSE(checker.CheckControl("Ф30", "(1000)", "", "СТР9ГР4", "СТР8ГР4"));
    EXPECT_EQ(checker.errorText(), "Строка № 8 вне рабочей области таблицы");
    EXPECT_EQ(checker.formIdByName("ф14"), 2);
    EXPECT_EQ(checker.formIdByName("Ф1"), -1) << "a prefix of another name is no name";
}

// Lines the engine would misread or never list: each refused with its reason,
// by the loader and by the editor alike.
TEST_F(FileCheck, LinesTheEngineWouldMisread) {
    fx.reloadCaches();
    const QString deep = QString(150, '(') + "СТР1ГР4" + QString(150, ')');
    struct Case {
        QString form, table, left, relation, right, cycle, error;
        int ruleClass;
    };
    const QList<Case> cases = {
        {"Ф30", "(1000)", "СТР1ГР4+ХЛАМ", "=", "0", "", "Операнд не является ссылкой на ячейку: ХЛАМ", IntraTable},
        {"Ф30", "", "А!Б+Т[1000]СТР1ГР4", "=", "0", "", "Операнд не является ссылкой на ячейку", InterTable},
        {"Ф30", "(1000)", "Т[1000]ХЛАМСТР1ГР4", "=", "0", "", "Операнд не является ссылкой на ячейку: Т[1000]ХЛАМСТР1ГР4",
         IntraTable},
        {"Ф30", "(1000)", "СТР[1]", ">=", "СТР[2]", "ГР[3..7]", "Графа № 3 вне рабочей области таблицы", IntraTable},
        {"Ф30", "(1000)", "СТР[5..3]ГР4", "=", "0", "", "Диапазон 5..3 задан в обратном порядке", IntraTable},
        {"Ф30", "(1000)", "СТР1ГР4", "ЖЖ", "0", "", "Неизвестное отношение \"ЖЖ\" (допустимы =, <>, <, >, <=, >=)",
         IntraTable},
        {"Ф30", "", "Т[1000]СТР1ГР4", "=", "0", "ЕРУНДА", "Ошибка в выражении цикла!", InterTable},
        {"", "", "Ф30Т[1000]СТР1ГР4", "=", "0", "ГР[5..4]", "Диапазон 5..4 задан в обратном порядке", InterForm},
        {"Ф30", "(1000)", deep, "=", "0", "", "Слишком глубокая вложенность скобок (больше 100)", IntraTable},
    };
    for (const Case &c : cases) {
        const std::string what = (c.left + " " + c.relation + " " + c.cycle).left(60).toStdString();
        EXPECT_FALSE(checker.CheckLine(c.form, c.table, c.cycle, c.right, c.left, c.relation)) << what;
        EXPECT_TRUE(checker.errorText().contains(c.error)) << what << ": " << checker.errorText().toStdString();
        QStringList shown;
        EXPECT_FALSE(ValidateRule({c.ruleClass, FilterAll, 1, "Ф30", c.table}, {c.left, c.relation, c.right, c.cycle, ""},
                                  [&](const QString &m) { shown << m; }))
            << what;
        EXPECT_TRUE(shown.join('|').contains(c.error)) << what << ": " << shown.join('|').toStdString();
    }
    // A line of numbers only still names a form and table that must exist.
    EXPECT_FALSE(checker.CheckLine("Ф99", "(1)", "", "0", "1", "="));
    EXPECT_EQ(checker.errorText(), "Несуществующая форма Ф99");
    EXPECT_TRUE(checker.CheckLine("Ф30", "(1000)", "ГР[4..7]", "СТР[2]", "СТР[1]", ">="));
}

// Rules as the editor saves them: the messages shown, all of them in order,
// and the field the focus goes to (-1: not asked).
TEST(EditorCheck, MessagesAndFocusOfTheEditor) {
    SampleFixture fx;
    fx.reloadCaches();
    const RuleScope intra{IntraTable, FilterAll, 1, "Ф30", "(1000)"};
    const RuleScope inter{InterTable, FilterAll, 1, "Ф30", "(1000)"};
    const RuleScope forms{InterForm, FilterAll, 1, "Ф30", "(1000)"};
    struct Case {
        RuleScope scope;
        RuleTexts texts;
        QStringList shown;
        int focus = -1;
    };
    const QList<Case> cases = {
        {intra, {"СТР[1]", ">=", "СТР[2]+СТР[3]", "ГР[4..7]", "c"}, {}},
        {intra, {"СТР1ГР4", "<=", "СТР1ГР5", "", ""}, {}},
        // Inter-table rules must name the table, inter-form rules the form.
        {inter, {"СТР1ГР4", "=", "Т[2000]СТР1ГР4", "", ""}, {"Не задана таблица", "Ошибка в выражении левой части: СТР1ГР4"}},
        {inter, {"Т(2000)СТР1ГР4", "=", "т[1000]стр1гр4", "", ""}, {}},
        {forms, {"Т[2000]СТР1ГР4", "=", "1", "", ""}, {"Не задана форма", "Ошибка в выражении левой части: Т[2000]СТР1ГР4"}},
        {forms, {"Ф99Т[2000]СТР1ГР4", "=", "1", "", ""}, {"Несуществующая форма - Ф99Т[2000]СТР1ГР4", "Ошибка в выражении левой части: Ф99Т[2000]СТР1ГР4"}},
        {inter, {"Т[7]СТР1ГР4", "=", "1", "", ""}, {"Несуществующая таблица - Т[7]СТР1ГР4", "Ошибка в выражении левой части: Т[7]СТР1ГР4"}},
        {inter, {"(Т[2000]СТР1ГР4", "=", "1", "", ""}, {"Нарушен баланс скобок", "Ошибка в выражении левой части: (Т[2000]СТР1ГР4"}},
        // Texts travel in code page 1251: what it cannot hold is named, not lost.
        {inter, {"Т[2000]СТР1ГР4", "=", "1", "", "Врачи ≥ 5 €"},
         {"Символы, которых нет в кодировке Windows-1251, не сохраняются: \"≥\" (U+2265)"}, 4},
        // Cycles of intra-table rules.
        {intra, {"СТР1ГР4", "<=", "СТР1", "", ""},
         {"Ошибка в описании цикла! Без цикла правая часть должна указывать ячейку (строку и графу): СТР1"}, 2},
        {intra, {"СТР1гр4", "<=", "СТР2", "гр[4..7]", ""}, {"При цикле по графам нельзя указывать графы в условии"}, 1},
        {intra, {"ГР4", "<=", "СТР2ГР5", "стр1..5", ""}, {"При цикле по строкам нельзя указывать строки в условии"}},
        {intra, {"ГР4", "<=", "ГР5", "х1..5", ""}, {"Ошибка в выражении цикла!"}, 3},
        {intra, {"ГР4", "<=", "ГР5", "СТР[1..5", ""}, {"Ошибка в выражении цикла!"}},
        {intra, {"ГР4", "<=", "ГР5", "СТР[1..6]", ""}, {"Строка № 6 вне рабочей области таблицы", "Ошибка в описании цикла!"}},
        {intra, {"ГР4", "<=", "ГР5", "СТР[1..5]", ""}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.texts.lft + " " + c.texts.rght + " " + c.texts.cycl).toStdString());
        QStringList shown;
        int focus = -1;
        EXPECT_EQ(ValidateRule(c.scope, c.texts, [&](const QString &m) { shown << m; }, &focus), c.shown.isEmpty());
        EXPECT_EQ(shown.mid(0, c.shown.size()), c.shown);
        if (c.focus >= 0) EXPECT_EQ(focus, c.focus);
    }
}
