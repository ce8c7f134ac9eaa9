// The rule check and every path that stores a rule, over the sample forms: Ф30 (1000) rows 1..5, columns 4..7 (fixcols
// 3); Ф30 (2000) rows 1..3, columns 4..5; Ф14 (1000) rows 1..4, columns 4..6.
#include "controls/ControlFile.h"
#include "controls/ControlRules.h"
#include "engine/Lookups.h"
#include "engine/FormulaParser.h"
#include "engine/Notation.h"
#include "engine/RuleCheck.h"
#include "engine/RuleEngine.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "support/SourceScan.h"
#include "support/Fixture.h"
#include "core/SampleConfig.h"
#include "updates/UpdateInstaller.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <gtest/gtest.h>

using namespace controls;

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }
int ruleCount() { return db::scalar(mainDb(), "select count(*) from int_control").toInt(); }

struct RuleCase {
    QString form, table, lft, rel, rght, cycl;
    QString refusal;   // empty: stored; else a part of the reason
};

QString nested(int depth) { return QString(depth, '(') + "СТР1ГР4" + QString(depth, ')'); }

// The rule texts every path is run through.
QList<RuleCase> contractCases() {
    return {
        // Stored.
        {"Ф30", "(1000)", "СТР1ГР4", "=", "СТР2ГР4+СТР3ГР4", "", ""},
        {"Ф30", "(1000)", "СТР[1]", ">=", "СТР[2]+СТР[3]", "ГР[4..7]", ""},
        {"Ф30", "(1000)", "ГР7", "<=", "ГР6 * 0.1", "стр[1..5]", ""},
        {"Ф30", "(1000)", "0", "=", "0", "ГР[7]", ""},
        {"Ф30", "(1000)", nested(100), "<>", "10.1", "", ""},   // the deepest nesting the run reads
        {"Ф30", "", "Т[2000]СТР1ГР4", ">=", "т(1000)стр1гр5", "", ""},
        {"Ф30", "", "Т[2000]СТР1", ">=", "Т[1000]СТР1", "ГР[4..5]", ""},
        {"Ф30", "", "Ф30Т[2000]СТР1ГР4", "=", "Т[1000]СТР1ГР4", "", ""},   // the rule's own form named again
        {"", "", "Ф14Т[1000]СТР[1]ГР[4]", "<=", "ф30т[2000]стр[1]гр[4]/2.5", "", ""},
        {"", "", "Ф14Т[1000]СТР[1..3,2]", "<=", "Ф30Т[2000]СТР[1]", "ГР[4..5]", ""},
        // Blanks where the notation allows them: read by the run as by the check.
        {"Ф30", "(1000)", "СТР[1]", ">=", "СТР[2]+СТР[3]", "ГР [4..7]", ""},
        {"Ф30", "(1000)", "СТР1", ">=", "СТР2", " гр  [ 4 .. 5 ] ", ""},
        {"Ф30", "(1000)", "СТР1ГР4", ">=", "СТР2ГР4", "   ", ""},
        {"Ф30", "", "Т[2000 ]СТР1ГР4", ">=", "Т[ 1000 ]СТР1ГР5", "", ""},
        // Cycles against the tables they are applied to, every class.
        {"Ф30", "", "Т[1000]СТР1", "=", "Т[2000]СТР1", "ГР[1..3]", "Графа № 1 вне рабочей области"},
        {"Ф30", "", "Т[1000]СТР1", "=", "Т[2000]СТР1", "ГР[4..99]", "Графа № 99 вне рабочей области"},
        {"Ф30", "", "Т[1000]ГР4", "=", "Т[2000]ГР4", "СТР[1..9]", "Строка № 9 вне рабочей области"},
        {"", "", "Ф30Т[1000]СТР1", "=", "Ф14Т[1000]СТР1", "ГР[4..99]", "Графа № 99 вне рабочей области"},
        {"Ф30", "(1000)", "0", "=", "0", "ГР[99]", "Графа № 99 вне рабочей области"},
        {"Ф30", "(1000)", "СТР1", "=", "СТР2", "ГР[5..4]", "Диапазон 5..4 задан в обратном порядке"},
        {"Ф30", "(1000)", "СТР1", "=", "СТР2", "ГР[4..5", "Ошибка в выражении цикла"},
        {"Ф30", "", "Т[1000]СТР1", "=", "0", "ЕРУНДА", "Ошибка в выражении цикла"},
        {"Ф30", "(1000)", "СТР1ГР5", "=", "СТР2", "ГР[4..7]", "При цикле по графам"},
        // Sides that do not reduce to a number.
        {"Ф30", "(1000)", "2.5.1", "=", "СТР1ГР4", "", "Операнд не является ссылкой"},
        {"Ф30", "(1000)", "()", "=", "СТР1ГР4", "", "Пустые скобки"},
        {"Ф30", "(1000)", "СТР1ГР4", "=", "", "", "Правая часть: Пустое выражение"},
        {"Ф30", "(1000)", nested(101), "=", "0", "", "Слишком глубокая вложенность скобок (больше 100)"},
        {"Ф30", "(1000)", "(СТР1ГР4", "=", "0", "", "Нарушен баланс скобок"},
        {"Ф30", "(1000)", ")СТР1ГР4(", "=", "0", "", "скобк"},
        {"Ф30", "(1000)", "-СТР1ГР4", "=", "0", "", "без операнда слева"},
        {"Ф30", "(1000)", "СТР[1]ГР4+-*", "=", "0", "", "без операнда слева"},
        {"Ф30", "(1000)", "СТР1ГР4+", "=", "0", "", "без операнда справа"},
        {"Ф30", "(1000)", "СТР1ГР4+ХЛАМ", "=", "0", "", "Операнд не является ссылкой на ячейку: ХЛАМ"},
        {"Ф30", "(1000)", "Т[1000]ХЛАМСТР1ГР4", "=", "0", "", "Операнд не является ссылкой"},
        {"Ф30", "(1000)", "СТР1ГР[[[", "=", "0", "", "Ошибка в выражении"},
        {"Ф30", "(1000)", "СТР1ГР", "=", "0", "", "Ошибка в выражении"},
        {"Ф30", "(1000)", "СТР1ГР[]", "=", "0", "", "Ошибка в выражении"},
        {"Ф30", "(1000)", "СТР1", "=", "0", "", "Не указаны графы"},
        // Relations, forms, tables and bounds.
        {"Ф30", "(1000)", "СТР1ГР4", "<>=", "0", "", "Неизвестное отношение"},
        {"Ф30", "(1000)", "СТР6ГР4", "=", "0", "", "Строка № 6 вне рабочей области таблицы (операнд СТР6ГР4)"},
        {"Ф30", "(1000)", "СТР1ГР1..3", "=", "0", "", "Графа № 1 вне рабочей области"},
        {"Ф30", "(1000)", "СТР[1..99999999999999999999]ГР4", "=", "0", "", "вне рабочей области"},
        {"Ф30", "(1000)", "СТР[5..3]ГР4", "=", "0", "", "Диапазон 5..3 задан в обратном порядке"},
        {"Ф30", "", "Т[9999]СТР1ГР4", "=", "0", "", "Несуществующая таблица"},
        {"Ф30", "", "СТР1ГР4", "=", "0", "", "Не задана таблица"},
        {"", "", "Т[1000]СТР1ГР4", "=", "0", "", "Не задана форма"},
        {"", "", "Ф99Т[1000]СТР1ГР4", "=", "0", "", "Несуществующая форма Ф99"},
    };
}

RuleScope scopeOf(const RuleCase &c) {
    const int cls = c.form.isEmpty() ? InterForm : c.table.isEmpty() ? InterTable : IntraTable;
    return {cls, FilterAll, c.form.isEmpty() ? -1 : (c.form == "Ф30" ? 1 : 2), c.form, c.table};
}

// Each path stores the rule (true) or refuses it (false); the reason comes back where the path gives one.
using Path = std::function<bool(const RuleCase &, const SampleFixture &, QString &)>;

bool editorPath(const RuleCase &c, const SampleFixture &, QString &why) {
    QStringList shown;
    const bool valid = ValidateRule(scopeOf(c), {c.lft, c.rel, c.rght, c.cycl, "к"}, [&](const QString &m) { shown << m; });
    why = shown.join('|');
    const int before = ruleCount();
    try {
        SaveRule(mainDb(), scopeOf(c), 0, {c.lft, c.rel, c.rght, c.cycl, "к"});
    } catch (const db::Error &e) {
        if (valid) why = e.message();
    }
    const bool stored = ruleCount() == before + 1;
    EXPECT_EQ(valid, stored) << "the editor's check and its save agree";
    return stored;
}

// A control file of the one rule, in the folder "contract".
QString ruleFile(const RuleCase &c, const SampleFixture &fx, const QString &name, const QString &comment = "к") {
    QDir().mkpath(fx.root() + "contract");
    EXPECT_TRUE(cp1251::writeLines(fx.root() + "contract/" + name,
                                   {FormatControlLine({c.form, c.table, c.lft, c.rel, c.rght, c.cycl, comment})}));
    return fx.root() + "contract/" + name;
}

bool loaderPath(const RuleCase &c, const SampleFixture &fx, QString &why) {
    // A comment of its own: the loader stores no rule stored already (by the editor, or for a case written apart).
    static int loaded = 0;
    const QString path = ruleFile(c, fx, "one.orv", "из файла " + QString::number(++loaded));
    try {
        return LoadControlFile(mainDb(), path, LoadMode::Append).inserted == 1;
    } catch (const db::Error &) {
        QStringList rejects;
        cp1251::readLines(fx.root() + "contract/" + kRejectsFileName, rejects);
        why = rejects.value(0);
        return false;
    }
}

bool replacePath(const RuleCase &c, const SampleFixture &, QString &why) {
    // A stored rule whose left side is then replaced by the text of the case.
    const qint64 formId = c.form.isEmpty() ? 0 : (c.form == "Ф30" ? 1 : 2);
    db::exec(mainDb(), "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values (?,?,?,?,?,?,?)",
             {formId, c.table, "@@@", c.rel, c.rght, c.cycl, "к"});
    const qint64 key = db::lastInsertId(mainDb());
    int changed = 0;
    QStringList refused;
    ReplaceInRules(mainDb(), {key}, ReplaceLeft, "@@@", c.lft.isEmpty() ? " " : c.lft, &changed, &refused);
    why = refused.join('|');
    const bool stored = db::scalar(mainDb(), "select lft from int_control where \"Код\"=?", {key}).toString() != "@@@";
    db::exec(mainDb(), "delete from int_control where \"Код\"=?", {key});
    EXPECT_EQ(stored, changed == 1);
    return stored;
}

bool installerPath(const RuleCase &c, const SampleFixture &fx, QString &) {
    const int before = ruleCount();
    InsertControlLines(mainDb(), ruleFile(c, fx, "install.orv"));
    return ruleCount() == before + 1;
}

} // namespace

// Every rule text through every path that stores rules: each stores or refuses it, all alike, saying why.
TEST(RuleContract, EveryStoringPathAgreesWithTheCheck) {
    SampleFixture fx;
    fx.reloadCaches();
    const QList<std::pair<const char *, Path>> paths = {
        {"editor", editorPath}, {"loader", loaderPath}, {"replace", replacePath}, {"installer", installerPath}};
    const rulecheck::RuleChecker checker(mainDb());
    for (const RuleCase &c : contractCases()) {
        const std::string what = (c.form + "|" + c.table + "|" + c.lft.left(40) + " " + c.rel + " " + c.rght + " | " + c.cycl)
                                      .toStdString();
        SCOPED_TRACE(what);
        const rulecheck::Verdict v = checker.Check({c.form, c.table, c.lft, c.rel, c.rght, c.cycl});
        EXPECT_EQ(bool(v), c.refusal.isEmpty()) << v.reason.toStdString();
        if (!c.refusal.isEmpty()) EXPECT_TRUE(v.reason.contains(c.refusal)) << v.reason.toStdString();
        for (const auto &[name, path] : paths) {
            QString why;
            const bool stored = path(c, fx, why);
            EXPECT_EQ(stored, c.refusal.isEmpty()) << name << ": " << why.toStdString();
            if (!stored && name != std::string("installer"))
                EXPECT_TRUE(why.contains(v.detail)) << name << ": " << why.toStdString();
        }
    }
}

// What every path stores, the rule run reads as the check did: each stored rule of the contract reduces both sides to
// numbers on the sample's values, one check per cycle position, and its cycle is stored in its one spelling.
TEST(RuleContract, EveryStoredRuleRunsAsChecked) {
    SampleFixture fx;
    fx.reloadCaches();
    db::exec(mainDb(), "delete from int_control");
    const QList<std::pair<const char *, Path>> paths = {
        {"editor", editorPath}, {"loader", loaderPath}, {"installer", installerPath}};
    for (const RuleCase &c : contractCases())
        if (c.refusal.isEmpty())
            for (const auto &[name, path] : paths) {
                QString why;
                EXPECT_TRUE(path(c, fx, why)) << name << ": " << why.toStdString();
            }
    QSqlQuery q = db::exec(mainDb(), "select * from int_control");
    int rules = 0;
    while (q.next()) {
        ++rules;
        const QSqlRecord r = q.record();
        const QString cycle = r.value("cycl").toString();
        EXPECT_EQ(cycle, notation::CanonicalCycle(cycle));
        const qint64 formId = r.value("formid").toLongLong();
        QString defaultText = formId > 0 ? GetFormNameById(formId) : QString();
        QString table = r.value("tble").toString();
        table.remove('(');
        table.remove(')');
        if (formId > 0 && !table.isEmpty()) defaultText += "Т[" + table + "]";
        // Both outcomes, so that every position is reported: the rule and its opposite relation.
        RuleRunContext context;
        context.institution = sample::ids::NorthHospital;
        RuleRun run(context);
        run.addRule(1, r.value("lft").toString(), r.value("rght").toString(), "=", "", cycle);
        run.addRule(2, r.value("lft").toString(), r.value("rght").toString(), "<>", "", cycle);
        run.runControls(defaultText);
        QList<int> positions;
        const notation::Cycle read = notation::ReadCycle(cycle);
        if (read.found) positions = ParseIntegerList(read.list(), 0, 1 << 20);
        const int checks = positions.isEmpty() ? 1 : int(QSet<int>(positions.begin(), positions.end()).size());
        EXPECT_EQ(run.errors().count(), checks) << r.value("lft").toString().toStdString() << " | " << cycle.toStdString();
        for (const QString &line : run.errors().texts()) {
            const QString sides = line.section('\t', 0, 0);
            const QRegularExpression numeric(R"(^-?\d+\.\d\d(=|<>)-?\d+\.\d\d$)");
            EXPECT_TRUE(numeric.match(sides).hasMatch()) << line.toStdString();
        }
    }
    EXPECT_GT(rules, 30);
}

// The rules of the sample configuration are all storable: an export of them loads back whole.
TEST(RuleContract, TheSampleRulesPassTheCheck) {
    SampleFixture fx;
    const rulecheck::RuleChecker checker(mainDb());
    QSqlQuery q = db::exec(mainDb(), "select formid, tble, lft, reltion, rght, cycl from int_control");
    int n = 0;
    while (q.next()) {
        const qint64 formId = q.value(0).toLongLong();
        const rulecheck::Verdict v = checker.Check({formId > 0 ? checker.formNameById(formId) : QString(),
                                                    q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                                                    q.value(4).toString(), q.value(5).toString()});
        EXPECT_TRUE(v) << q.value(2).toString().toStdString() << ": " << v.reason.toStdString();
        ++n;
    }
    EXPECT_EQ(n, 7);
}

// The field of a refusal takes the caret in the editor; a refusal names the side and the operand.
TEST(RuleContract, RefusalsNameTheFieldAndTheOperand) {
    SampleFixture fx;
    fx.reloadCaches();
    struct Case { RuleCase rule; int focus; QString shown; };
    const QList<Case> cases = {
        {{"Ф30", "(1000)", "СТР1ГР4", "=", "СТР1ГР4+СТР9ГР4", "", ""}, 2,
         "Правая часть: Строка № 9 вне рабочей области таблицы (операнд СТР9ГР4)"},
        {{"Ф30", "(1000)", "СТР1", "=", "СТР2", "ГР[4..8]", ""}, 3, "Цикл: Графа № 8 вне рабочей области таблицы Ф30Т(1000)"},
        {{"Ф30", "(1000)", "СТР1ГР4", "=", "1", "", "Врачи ≥ 5"}, 4,
         "Символы, которых нет в кодировке Windows-1251, не сохраняются: \"≥\" (U+2265)"},
        {{"Ф30", "(1000)", "Т[7]СТР1ГР4", "=", "1", "", ""}, 1, "Левая часть: Несуществующая таблица Ф30Т(7) (операнд Т[7]СТР1ГР4)"},
    };
    for (const Case &c : cases) {
        QStringList shown;
        int focus = -1;
        EXPECT_FALSE(ValidateRule(scopeOf(c.rule), {c.rule.lft, c.rule.rel, c.rule.rght, c.rule.cycl, c.rule.refusal},
                                  [&](const QString &m) { shown << m; }, &focus));
        EXPECT_EQ(shown, QStringList{c.shown});
        EXPECT_EQ(focus, c.focus);
    }
}

// The check reads a side once: a flat side of 20,000 terms and a list of 3,000 huge ranges take moments.
TEST(RuleContract, TheCheckIsLinearInTheSide) {
    SampleFixture fx;
    const rulecheck::RuleChecker checker(mainDb());
    QStringList terms;
    for (int i = 0; i < 20000; ++i) terms << QString("СТР%1ГР%2").arg(i % 5 + 1).arg(i % 4 + 4);
    QStringList ranges;
    for (int i = 0; i < 3000; ++i) ranges << "1..999999999";
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(checker.Check({"Ф30", "(1000)", terms.join('+'), "=", terms.join(" - "), ""}));
    EXPECT_FALSE(checker.Check({"Ф30", "", "Т[1000]СТР1", "=", "0", "ГР[" + ranges.join(',') + "]"}));
    EXPECT_LT(t.elapsed(), 2000);
}

// Statements that write rule texts: only the check's own writers store int_control rules. The control-book import keeps
// its converted rules in zenkor_controls for matching; they reach int_control through a control file and the loader.
// Calculated-cell rules (conditions) are written by the places listed.
TEST(RuleContract, NoStatementWritesRulesPastTheCheck) {
    const QRegularExpression write(
        QStringLiteral(R"((insert\s+(or\s+\w+\s+)?into|replace\s+into|update)\s+"?(int_control|zenkor_controls|conditions)\b)"),
        QRegularExpression::CaseInsensitiveOption);
    const QMap<QString, QString> gates = {
        {"engine/RuleCheck.cpp", "checker.Check("},
        {"controls/ZenkorTable.cpp", "insert into zenkor_controls"},
        {"controls/ZenkorDescribe.cpp", "set commnt=? where id=?"},   // the comment only
        // Calculated cells: the rule editor, the .cnd import and the structure renumbering.
        {"forms/table/CalcRuleEditor.cpp", "conditions"},
        {"forms/shared/FormListLogic.cpp", "conditions"},
        {"forms/structure/StructureEdit.cpp", "conditions"},
        // A new table number or form name, accepted by the catalogue gate, put in place of the old one; the rest of
        // each rule stays as it was.
        {"engine/CatalogRename.cpp", "carryTableNumber("},
    };
    QStringList offenders;
    for (const auto &[rel, body] : productSources().asKeyValueRange())
        if (write.match(body).hasMatch() && (!gates.contains(rel) || !body.contains(gates[rel]))) offenders << rel;
    EXPECT_TRUE(offenders.isEmpty()) << offenders.join(", ").toStdString();
}

// A rule put back asks for its key: it gets it when free, and a new one (never another rule's row) when taken.
TEST(RuleContract, AnAskedKeyIsKeptOnlyWhenFree) {
    SampleFixture fx;
    const rulecheck::RuleChecker checker(mainDb());
    const rulecheck::RuleText rule{"Ф30", "(1000)", "СТР[1]", ">=", "СТР[2]", "ГР[4]"};
    const qint64 taken = db::scalar(mainDb(), "select min(\"Код\") from int_control").toLongLong();
    const int before = ruleCount();
    for (const qint64 asked : {qint64(9000), taken, qint64(0)}) {
        qint64 key = asked;
        ASSERT_TRUE(rulecheck::InsertCheckedRule(mainDb(), checker, rule, "к", &key));
        if (asked == 9000) EXPECT_EQ(key, 9000);
        else EXPECT_GT(key, 9000);
        EXPECT_EQ(db::scalar(mainDb(), "select commnt from int_control where \"Код\"=?", {key}).toString(), "к");
    }
    EXPECT_EQ(ruleCount(), before + 3);
    EXPECT_NE(db::scalar(mainDb(), "select commnt from int_control where \"Код\"=?", {taken}).toString(), "к");
}
