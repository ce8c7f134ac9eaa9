// Calculated cells over a small territory.
#include "test_engine_db.h"

#include "engine/ValueMatrix.h"
#include "engine/Conditions.h"
#include "engine/RuleEngine.h"
#include "engine/TextUtil.h"
#include "engine/SharedState.h"

#include <gtest/gtest.h>

namespace {

// Four institutions: two hospitals (type 1) and two feldsher posts (type 2),
// h2 and h3 rural. Form Ф1 table (1) holds their values:
//   стр1 гр2: h1 10, h2 5, h3 -, h4 3
//   стр2 гр2: h1 1,  h2 2, h3 4, h4 -
// The calculated table is Ф47 (1): 4 columns (1 fixed), 4 rows (1 fixed).
class EngineConditions : public ::testing::Test {
protected:
    // The empty matrix of a table, as a recalculation starts from.
    bool readEmpty(const QString &form, const QString &key) {
        RuleRun run{RuleRunContext{}};
        if (!run.readTable(form, key)) return false;
        matrix = run.matrix();
        return true;
    }
    // A recalculation of the table into the matrix, over include.
    QStringList calc(qint64 table, const ProgressLabelFn &label = {}, const QString &prefix = {}) {
        return CalcTableConditions(matrix, table, include, round, label, prefix);
    }
    ValueMatrix matrix;
    QString include;
    bool round = false;
    void SetUp() override {
        h1 = e.addInstitution("Больница 1", 1, false, 1);
        h2 = e.addInstitution("Больница 2", 1, true, 2);
        h3 = e.addInstitution("ФАП 1", 2, true, 3);
        h4 = e.addInstitution("ФАП 2", 2, false, 4);
        const qint64 f1 = e.addForm("Ф1");
        const qint64 f47 = e.addForm("Ф47");
        src = e.addTable(f1, "(1)", 5, 4, 1, 1);
        out = e.addTable(f47, "(1)", 4, 4, 1, 1);
        e.reload();
        e.putRef(h1, src, 1, 2, 1, 10);
        e.putRef(h2, src, 1, 2, 1, 5);
        e.putRef(h4, src, 1, 2, 1, 3);
        e.putRef(h1, src, 1, 2, 2, 1);
        e.putRef(h2, src, 1, 2, 2, 2);
        e.putRef(h3, src, 1, 2, 2, 4);
        include = text::joinIdList({h1, h2, h3, h4});
        ASSERT_TRUE(readEmpty("Ф47", "(1)"));
    }
    // Value of data cell (grid column, grid row) of the calculated table.
    double cell(int column, int row) const {
        return matrix.at(cells::storedColumnOfGrid(column, 1), cells::storedRowOfGrid(row, 1));
    }
    // The 3 x 3 data cells of the calculated table, row by row.
    QList<QList<double>> cells3x3() const {
        QList<QList<double>> rows;
        for (int r = 0; r < 3; ++r) rows.append({cell(0, r), cell(1, r), cell(2, r)});
        return rows;
    }
    void counter(int row, int column, const QString &condition, const QString &types = "*", bool rural = false) {
        e.addCondition(out, row, column, false, "", condition, 1, rural, false, types);
    }
    void sum(int row, int column, const QString &formula, const QString &condition = "", int koeff = 1,
             bool average = false, const QString &types = "*", bool rural = false) {
        e.addCondition(out, row, column, true, formula, condition, koeff, rural, average, types);
    }

    EngineDb e;
    qint64 h1 = 0, h2 = 0, h3 = 0, h4 = 0, src = 0, out = 0;
};

const QString a = "Ф1Т(1)СТР1ГР2";   // 10, 5, -, 3
const QString b = "Ф1Т(1)СТР2ГР2";   // 1, 2, 4, -

} // namespace

TEST(EngineConditionDivisor, MissingOrZeroMeansOne) {
    const QList<std::pair<QVariant, double>> cases = {
        {QVariant(), 1}, {QVariant(QMetaType(QMetaType::Int)), 1}, {"", 1}, {"0", 1}, {0.4, 0.4}, {"x", 1},
        {3, 3}, {"12", 12}, {-2, -2}, {"0,5", 0.5}, {" 2,5 ", 2.5},
        // Beyond the range: kept as stored, never clamped nor wrapped.
        {"99999999999", 99999999999.0}, {"1e10", 1e10}, {-1e300, -1e300},
    };
    for (const auto &[stored, divisor] : cases) EXPECT_EQ(ConditionDivisor(stored), divisor) << stored.toString().toStdString();
}

// The check and the store read a divisor alike: what the check accepts is
// stored as the check read it; beyond the range nothing is accepted.
TEST(EngineConditionDivisor, CheckAndStoreReadAlike) {
    for (const QString &text : {"0,5", "2,5", " -0,25", "0.5", "1000000000", "-1000000000", "", "0", "7"}) {
        double checked = 0;
        ASSERT_TRUE(ReadConditionDivisor(text, checked)) << text.toStdString();
        EXPECT_EQ(ConditionDivisor(text), checked) << text.toStdString();
    }
    for (const QString &text : {"1000000000,5", "-2e9", "1e10", "x", "1,2,3", "nan", "inf"}) {
        double checked = 42;
        EXPECT_FALSE(ReadConditionDivisor(text, checked)) << text.toStdString();
        EXPECT_EQ(checked, 42);
    }
}

TEST(EngineIdLists, TypesThatWouldChangeTheStatementReadAsNone) {
    EXPECT_EQ(NormalizeTypes(" * "), "*");
    EXPECT_EQ(NormalizeTypes("1) or (1=1"), "");
}

TEST(EngineIdLists, TokenChainsFoldLeftToRight) {
    const QStringList entries = {"1,2,3", "3,4", "5", "", "#0and#1", "#4OR#2"};
    const QList<std::pair<QString, QString>> cases = {
        {"#0", "1,2,3"},         {"#0AND#1", "3"},         {"#1and#0", "3"},
        {"#0OR#1", "1,2,3,4"},   {"#1OR#0", "3,4,1,2"},    {"#2OR#0AND#1", "3"},     // (c OR a) AND b
        {"#3OR#2", "5"},         {"#2OR#3", "5"},          {"#4", "3"},
        {"#5", "3,5"},           {"7,8", "7,8"},           {"", ""},
    };
    for (const auto &[tokens, out] : cases) EXPECT_EQ(EvaluateConditionTokens(tokens, entries), out) << tokens.toStdString();
    for (const QString bad : {"#9", "#0XOR#1", "#", "#0AND"})
        EXPECT_THROW(EvaluateConditionTokens(bad, entries), db::Error) << bad.toStdString();
    EXPECT_THROW(EvaluateConditionTokens("#0", {"#0"}), db::Error);   // an entry naming itself
}

TEST_F(EngineConditions, CountersWithConditions) {
    counter(0, 0, "");                                    // everybody
    counter(0, 1, a + ">0");                              // h1 h2 h4
    counter(0, 2, a + "=0");                              // h3: no value there
    counter(1, 0, "4<" + a);                              // prefix: 4 < data -> h1 h2
    counter(1, 1, a + ">0 and " + b + ">0 and " + a + "<10");   // h2
    counter(1, 2, a + ">4 OR " + b + ">3 AND " + b + ">=4");    // (h1 h2 | h3) & h3 -> h3
    counter(2, 0, a + ">4 OR (" + b + ">3 AND " + b + ">=4)");  // h1 h2 h3
    counter(2, 1, "(" + a + ">0)", "1,2,");               // types with a trailing comma
    counter(2, 2, "", "2", true);                         // rural feldsher posts: h3
    calc(out);
    EXPECT_EQ(cells3x3(), (QList<QList<double>>{{4, 3, 1}, {2, 1, 1}, {3, 3, 1}}));
}

TEST_F(EngineConditions, SumsAveragesDivisorAndRounding) {
    sum(0, 0, a);                                  // 18
    sum(0, 1, a + "+" + b + "-Ф1Т[1]СТР[1..2]ГР[2]", "", 1);   // 18 + 7 - 25 = 0
    sum(0, 2, a, "", 2);                           // 9
    sum(1, 0, a, a + ">0", 1, true);               // (10+5+3)/3 = 6
    sum(1, 1, a, "", 1, false, "*", true);         // rural: h2 h3 -> 5
    sum(1, 2, "12.5", "", 3, true);                // a constant stays as it is
    sum(2, 0, "ф1т(1)стр1гр2", a + ">4", 3, true); // 15 / 3 / 2 = 2.5
    sum(2, 1, "", "");                             // empty formula
    sum(2, 2, a, "", 0);                           // a zero divisor means 1
    calc(out);
    EXPECT_EQ(cells3x3(), (QList<QList<double>>{{18, 0, 9}, {6, 5, 12.5}, {2.5, 0, 18}}));

    round = true;
    calc(out);
    EXPECT_EQ(cell(0, 2), 2);       // a half goes to the even neighbour
    EXPECT_EQ(cell(2, 1), 12.5);
}

// A calculated cell whose terms cancel is 0, not a residue of 1e-17, whether
// the terms are cells of one institution or one cell of several.
TEST_F(EngineConditions, SumsThatCancelAreZero) {
    e.putRef(h1, src, 1, 3, 3, 0.1);
    e.putRef(h2, src, 1, 3, 3, 0.2);
    e.putRef(h3, src, 1, 4, 3, 0.3);
    e.putRef(h1, src, 1, 5, 3, 10.1);
    e.putRef(h2, src, 1, 5, 3, 20.2);
    e.putRef(h4, src, 1, 5, 3, -30.3);
    sum(0, 0, "Ф1Т(1)СТР3ГР3-Ф1Т(1)СТР3ГР4");       // 0.1 + 0.2 - 0.3
    sum(0, 1, "Ф1Т(1)СТР3ГР5");                      // 10.1 + 20.2 - 30.3 over institutions
    sum(0, 2, "Ф1Т(1)СТР3ГР3-0.3");
    calc(out);
    EXPECT_EQ(cells3x3()[0], (QList<double>{0, 0, 0}));
}

TEST_F(EngineConditions, AverageOfThreeAndHalfToEven) {
    e.putRef(h3, src, 1, 3, 1, 10);
    e.putRef(h4, src, 1, 4, 1, 7);
    sum(0, 0, "Ф1Т(1)СТР1ГР3", b + ">0", 1, true);                        // 10 over h1 h2 h3
    sum(0, 1, "Ф1Т(1)СТР1ГР4", a + "<4 OR " + a + ">9", 1, true);         // 7 over h4 h1
    sum(0, 2, a, a + ">99", 1, true);                                     // nobody
    calc(out);
    EXPECT_NEAR(cell(0, 0), 10.0 / 3, 1e-12);
    EXPECT_EQ(cell(1, 0), 3.5);
    EXPECT_EQ(cell(2, 0), 0);
    round = true;
    calc(out);
    EXPECT_EQ(cell(0, 0), 3);
    EXPECT_EQ(cell(1, 0), 4);
}

TEST_F(EngineConditions, RowRulesCrossedWithColumnRules) {
    // scan 0: row rules are outer. Row 1 sums стр1 of the source table; the
    // column rules say which column ("*" stands for the row's formula).
    e.addCondition(out, 1, -1, true, "Ф1Т(1)СТР1", "", 1, false, false, "*");
    e.addCondition(out, 2, -1, true, "Ф1Т(1)СТР2", a + ">0", 1, false, false, "*");
    e.addCondition(out, -1, 0, true, "*ГР2", "", 1, false, false, "7");    // inner types are not used
    e.addCondition(out, -1, 1, false, "", b + ">1", 1, false, false, "*");
    e.addCondition(out, -1, 2, false, "", "", 1, true, false, "*");        // rural only
    // A cell rule that selects nobody keeps the cell from its crossing.
    counter(1, 2, "", "9");
    matrix.set(cells::storedColumnOfGrid(2, 1), cells::storedRowOfGrid(1, 1), 77);
    calc(out);
    EXPECT_EQ(cell(0, 1), 18);      // стр1 гр2 over everybody
    EXPECT_EQ(cell(1, 1), 2);       // h2 h3
    EXPECT_EQ(cell(2, 1), 77);      // taken by its cell rule
    EXPECT_EQ(cell(0, 2), 3);       // стр2 гр2 over h1 h2 h4 (row condition)
    EXPECT_EQ(cell(1, 2), 1);       // of h1 h2 h4 only h2 has стр2 > 1
    EXPECT_EQ(cell(2, 2), 1);       // rural among h1 h2 h4: h2
    EXPECT_EQ(cell(0, 0), 0);       // row 0 has no rule

    // scan 1: column rules outer, row rules inner.
    db::exec(db::kMain, "update tables set scan=1 where ident=?", {out});
    db::exec(db::kMain, "delete from conditions");
    ASSERT_TRUE(readEmpty("Ф47", "(1)"));
    e.addCondition(out, -1, 0, true, "ГР2", "", 1, false, false, "1");     // hospitals h1 h2
    e.addCondition(out, 0, -1, true, "Ф1Т(1)СТР1*", "", 1, false, false, "*");
    e.addCondition(out, 1, -1, false, "", b + "=0", 1, false, false, "*");
    calc(out);
    EXPECT_EQ(cell(0, 0), 15);
    EXPECT_EQ(cell(0, 1), 0);       // both hospitals have стр2: nobody, skipped
}

TEST_F(EngineConditions, EmptyListsAndBrokenRules) {
    include.clear();
    matrix.set(cells::storedColumnOfGrid(0, 1), cells::storedRowOfGrid(0, 1), 5);
    counter(0, 0, "");
    calc(out);
    EXPECT_EQ(cell(0, 0), 5);       // "*" over an empty include list stores nothing

    include = text::joinIdList({h1, h2, h3, h4});
    db::exec(db::kMain, "delete from conditions");
    // Unreadable conditions select nobody; the run shows no window and
    // returns each message once, however many cells meet it.
    counter(0, 0, a + ">0)");
    counter(0, 1, "(" + a + ">0");
    e.addCondition(out, -1, 2, false, "", a + ">0)", 1, false, false, "*");
    e.addCondition(out, 0, -1, false, "", "", 1, false, false, "*");
    e.addCondition(out, 1, -1, false, "", "", 1, false, false, "*");
    e.addCondition(out, 2, -1, false, "", "", 1, false, false, "*");
    const QStringList notes = calc(out);
    EXPECT_EQ(cell(0, 0), 0);
    EXPECT_EQ(cell(1, 0), 0);
    EXPECT_EQ(notes, QStringList({"Не хватает левой скобки в условии: " + a + ">0)",
                                  "Не хватает правой скобки в условии: (" + a + ">0"}));

    // Text that would change the statement is refused, never run.
    const QStringList bad = {a + ">0;delete from data", a + ">0 or (1=1)", "data>0" + a, a + ">x",
                             a + " OR 1=1", "Ф9Т(1)СТР1ГР2>0", "Ф1Т(7)СТР1ГР2>0"};
    for (const QString &condition : bad) {
        db::exec(db::kMain, "delete from conditions");
        counter(0, 0, condition);
        EXPECT_THROW(calc(out), std::exception) << condition.toStdString();
    }
    db::exec(db::kMain, "delete from conditions");
    counter(0, 0, "", "1) or (1=1");
    EXPECT_THROW(calc(out), db::Error);
    EXPECT_EQ(db::scalar(db::connection(db::kData), "select count(*) from data").toInt(), 6);
    EXPECT_THROW(calc(999), db::Error);
}

TEST_F(EngineConditions, ReferencesShiftToStoredNumbering) {
    const ConditionRef r = ParseConditionRef("ф1т(1)стр[1..2]гр2,4");
    EXPECT_EQ(r.tableKey, "(1)");
    EXPECT_EQ(r.tableIdent, src);
    EXPECT_EQ(r.storedRows, QList<int>({3, 4}));
    EXPECT_EQ(r.storedColumns, QList<int>({3, 5}));
    const ConditionRef next = ParseConditionRef("СТР3ГР5", &r);
    EXPECT_EQ(next.tableIdent, src);
    EXPECT_EQ(next.storedRows, QList<int>({5}));
    EXPECT_THROW(ParseConditionRef("СТР3ГР5"), db::Error);
}

TEST_F(EngineConditions, ApplyConditionOnItsOwnAgreesWithTheRun) {
    const QString all = text::joinIdList({h1, h2, h3, h4});
    ConditionRule rule;
    int count = -1;
    // The compiler's parts on their own take conditions as stored.
    EXPECT_EQ(CompileAtomicCondition("ф1т(1)стр1гр2 > 4", all), text::joinIdList({h1, h2}));
    EXPECT_EQ(CompileConditionGroup("(" + a + ">4)\r\nor " + b + "=0", all), text::joinIdList({h1, h2, h4}));
    EXPECT_EQ(CompileConditionGroup("", all), all);
    EXPECT_THROW(CompileConditionGroup(a + ">4)", all), ConditionSyntaxError);
    EXPECT_THROW(CompileConditionGroup(QString(100000, '(') + a + ">4" + QString(100000, ')'), all),
                 ConditionSyntaxError);
    // A list past the table sums the table's own lines only.
    EXPECT_EQ(SumTermOverInstitutions("Ф1Т(1)СТР[1..100000000]ГР[2..999999999]", QString::number(h1)), 11);
    EXPECT_THROW(CompileAtomicCondition("СТР1ГР2>4", all), db::Error);
    rule.condition.clear();
    rule.country = true;
    EXPECT_EQ(ApplyCondition(rule, all, count), text::joinIdList({h2, h3}));
    EXPECT_EQ(ApplyCondition(rule, "", count), "");
}

TEST_F(EngineConditions, StarOfAColumnRuleTakesTheRowFormula) {
    // scan 0: the row rule's formula R replaces "*"; a row rule without a
    // formula leaves "*" to nothing, and an empty formula sums nothing.
    e.addCondition(out, 0, -1, true, a, "", 1, false, false, "*");
    e.addCondition(out, 1, -1, true, "", "", 1, false, false, "*");
    e.addCondition(out, 2, -1, true, b, "", 2, true, true, "*");    // outer koeff and average unused
    e.addCondition(out, -1, 0, true, "*", "", 1, false, false, "*");
    e.addCondition(out, -1, 1, true, "*", a + ">4", 1, false, false, "*");
    e.addCondition(out, -1, 2, true, "*", "", 1, false, true, "*");
    matrix.fill(9);
    calc(out);
    const QList<std::tuple<int, int, double>> expected = {
        {0, 0, 18}, {1, 0, 15}, {2, 0, 4.5},   // R over all, over h1 h2, average of 4
        {0, 1, 0},  {1, 1, 0},  {2, 1, 0},
        {0, 2, 7},  {1, 2, 3},  {2, 2, 7.0 / 4},
    };
    for (const auto &[column, row, value] : expected)
        EXPECT_DOUBLE_EQ(cell(column, row), value) << column << "," << row;
}

TEST_F(EngineConditions, LabelCountsTheFixedColumnsOfItsTable) {
    const qint64 wide = e.addTable(e.addForm("Ф48"), "(2)", 6, 3, 2, 1);
    e.reload();
    ASSERT_TRUE(readEmpty("Ф48", "(2)"));
    e.addCondition(wide, 0, 0, false, "", "", 1, false, false, "*");
    e.addCondition(wide, 1, 3, false, "", "", 1, false, false, "*");
    e.addCondition(wide, 2, 0, false, "", "", 1, false, false, "*");   // beyond the rows: not read
    QStringList labels;
    calc(wide, [&](const QString &t) { labels << t; }, "Ф48 (2) ");
    EXPECT_EQ(labels, QStringList({"Ф48 (2) строка1 графа3", "Ф48 (2) строка2 графа6"}));
    EXPECT_EQ(matrix.at(cells::storedColumnOfGrid(3, 2), cells::storedRowOfGrid(1, 1)), 4);
}

TEST_F(EngineConditions, PrefixesAndRelationsOfAtoms) {
    const QString all = text::joinIdList({h1, h2, h3, h4});
    const QList<std::pair<QString, QList<qint64>>> cases = {
        {a + ">4", {h1, h2}},
        {a + ">=5", {h1, h2}},
        {a + "<>10", {h2, h4}},
        {"-1<" + a, {h1, h2, h4}},           // a signed prefix
        {"4<" + a + "<10", {h2}},            // prefix and relation together
        {a + "=0", {h3}},
        {a + "=0 OR " + b + "=0", {h3, h4}},
        {"(" + a + "=0) AND (" + b + ">3)", {h3}},
        {a + "<=" + "5 and " + b + ">-1", {h2}},   // h4 has no value in b
        {"2<" + b + " and " + a + "<>0", {}},
    };
    ConditionRule rule;
    for (const auto &[condition, expected] : cases) {
        rule.condition = condition;
        int count = -1;
        EXPECT_EQ(ApplyCondition(rule, all, count), text::joinIdList(expected)) << condition.toStdString();
        EXPECT_EQ(count, expected.size()) << condition.toStdString();
    }
}

// A reference that names a line twice sums its cells twice, on its own as in a recalculation.
TEST_F(EngineConditions, ALineNamedTwiceCountsTwiceOnItsOwnAndInTheRun) {
    sum(0, 0, "Ф1Т(1)СТР1,1ГР2");
    sum(0, 1, "Ф1Т(1)СТР[1..2,2]ГР2,2");
    calc(out);
    EXPECT_EQ(cell(0, 0), 36);
    EXPECT_EQ(cell(1, 0), 64);
    EXPECT_EQ(SumTermOverInstitutions("Ф1Т(1)СТР1,1ГР2", include), 36);
    EXPECT_EQ(SumTermOverInstitutions("Ф1Т(1)СТР[1..2,2]ГР2,2", include), 64);
}

// A reference without its form and table takes them from the references its own cell read before it (its
// condition's, those of the outer rule of a crossing), never from another cell's: the value does not hang on
// which cells were reckoned first, and the breakdown of the cell reads it the same way.
TEST_F(EngineConditions, AShortReferenceLeansOnItsOwnCellOnly) {
    sum(0, 0, a + "+" + b);
    sum(0, 1, "СТР2ГР2", a + ">4");   // h1 and h2: 1 + 2
    calc(out);
    EXPECT_EQ(cell(1, 0), 3);
    // Crossing: the outer row rule's condition names the table for the inner column rule's formula.
    e.addCondition(out, 1, -1, false, "", a + ">4", 1, false, false, "*");
    e.addCondition(out, -1, 2, true, "СТР2ГР2", "", 1, false, false, "*");
    calc(out);
    EXPECT_EQ(cell(2, 1), 3);
    std::optional<CellRules> crossing = ReadCellRules(out, 0, 1, 2);
    ASSERT_TRUE(crossing.has_value());
    QStringList unreadable;
    EXPECT_EQ(BreakDownCell(*crossing, include, unreadable).shares, (QHash<qint64, double>{{h1, 1}, {h2, 2}}));

    // After a cell that named the table, a cell of its own naming none is refused, by name.
    sum(0, 2, "СТР2ГР2");
    try {
        calc(out);
        ADD_FAILURE() << "a reference naming no table was summed";
    } catch (const db::Error &e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains("ячейки строка 1 графа 4")) << e.what();
    }
    EXPECT_THROW(BreakDownCell(*ReadCellRules(out, 0, 0, 2), include, unreadable), db::Error);
}
