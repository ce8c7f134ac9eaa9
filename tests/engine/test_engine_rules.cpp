// Data services over the databases and the control-rule engine.
#include "test_engine_db.h"

#include "engine/Lookups.h"
#include "engine/Checksums.h"
#include "engine/EngineError.h"
#include "engine/SummaryMembers.h"
#include "engine/TableValues.h"
#include "engine/ValueIO.h"
#include "engine/ValueMatrix.h"
#include "engine/Caches.h"
#include "engine/TableShape.h"
#include "engine/FormulaParser.h"
#include "engine/ProgressSink.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <gtest/gtest.h>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// Form Ф12 with table (1000): 6 columns (2 fixed), 5 rows (1 fixed), so references name columns 3..6 and rows 1..4; and
// table (2000) 4 x 3, no fixed cells. Form Ф14 with table (1): 3 x 3, 1 fixed column, 1 fixed row.
class EngineRules : public ::testing::Test {
protected:
    void SetUp() override {
        f12 = e.addForm("Ф12");
        f14 = e.addForm("Ф14");
        t1000 = e.addTable(f12, "(1000)", 6, 5, 2, 1);
        t2000 = e.addTable(f12, "(2000)", 4, 3, 0, 0);
        t1 = e.addTable(f14, "(1)", 3, 3, 1, 1);
        e.reload();
    }
    void put1000(int col, int row, double v, qint64 h = kHospital) { e.putRef(h, t1000, 1, col, row, v); }
    static RuleRunContext context(qint64 institution = kHospital) {
        RuleRunContext c;
        c.institution = institution;
        return c;
    }

    RuleRun run{context()};
    QStringList errors() const { return run.errors().texts(); }

    static constexpr qint64 kHospital = 7;
    EngineDb e;
    qint64 f12 = 0, f14 = 0, t1000 = 0, t2000 = 0, t1 = 0;
};

QList<double> storedValues(qint64 h, qint64 table, const QString &valueTable = "data") {
    QList<double> out;
    QSqlQuery q = db::exec(db::kData,
                           QString("select data from %1 where hospital=? and \"table\"=? order by \"column\", \"row\"")
                               .arg(valueTable),
                           {h, table});
    while (q.next()) out.append(q.value(0).toDouble());
    return out;
}

} // namespace

TEST(EngineLookups, CatalogueLinesMatchWholeKeysWithoutLetterCase) {
    EngineDb e;
    SharedState &s = shared();
    s.Caches.forms = {{11, "Ф1", "Первая"}, {12, "Ф2 - А", ""}};   // a name may hold " - "
    TableShape ten, one;
    ten.ident = 110, ten.colcount = 5, ten.rowcount = 6, ten.fixcols = 1, ten.fixrows = 2;
    one.ident = 101, one.colcount = 3, one.rowcount = 4, one.fixcols = 1, one.fixrows = 1, one.scan = 1;
    s.Caches.tables = {{11, "Ф1", "(10)", "десятая", ten}, {11, "Ф1", "(1)", "первая", one},
                       {12, "Ф2 - А", "(1)", "", one}};
    EXPECT_EQ(GetTableIdent("ф1", "(1)"), 101);
    EXPECT_EQ(GetTableIdent("Ф1", "(10)"), 110);
    EXPECT_EQ(GetTableIdent("Ф1", "(2)"), -1);
    EXPECT_EQ(GetTableIdent("Ф1", "1"), -1);     // the key is the number in parentheses
    EXPECT_EQ(GetTableIdent("Ф1", "(1"), -1);    // a cut or empty number is no table
    EXPECT_EQ(GetTableIdent("Ф1", ""), -1);
    EXPECT_EQ(GetTableIdentByFormId(11, "(1)"), 101);
    EXPECT_EQ(GetTableIdentByFormId(QString("11"), "(10)"), 110);
    EXPECT_THROW(GetTableIdentByFormId(QString("x1"), "(1)"), ConversionError);
    EXPECT_EQ(GetFormNameById(12), "Ф2 - А");
    EXPECT_EQ(GetTableIdentByFormId(12, "(1)"), 101);
    EXPECT_FALSE(CachedTableShapeByFormId(-1, "(1)"));
    EXPECT_EQ(CachedTableShape("ф1", "(10)")->colcount, 5);
}

TEST_F(EngineRules, SaveTableDataRewritesTheTableInOneGo) {
    e.put(kHospital, t1000, 4, 3, 99);       // old value, replaced
    e.put(kHospital + 1, t1000, 4, 3, 5);    // another institution, kept
    e.put(kHospital, t1000, 4, 3, 1, "data", EngineDb::kYear - 1);   // another year, kept
    RuleRun empty(context(0));
    ASSERT_TRUE(empty.readTable("Ф12", "(1000)"));
    run.matrix() = empty.matrix();
    run.matrix().set(4, 3, 1.5);
    run.matrix().set(7, 6, 2);
    run.matrix().set(6, 5, 0.1 + 0.2);   // stored with fifteen significant digits
    run.saveTable(f12, "(1000)");
    QSqlQuery q = db::exec(db::kData,
                           "select \"column\", \"row\", data from data where hospital=? and year=? order by \"column\"",
                           {kHospital, EngineDb::kYear});
    QStringList rows;
    while (q.next()) rows << QString("%1/%2/%3").arg(q.value(0).toInt()).arg(q.value(1).toInt()).arg(q.value(2).toDouble());
    EXPECT_EQ(rows, QStringList({"4/3/1.5", "6/5/0.3", "7/6/2"}));
    EXPECT_EQ(storedValues(kHospital + 1, t1000), QList<double>({5}));

    // An all-zero matrix leaves nothing of this year.
    run.matrix().fill(0);
    run.saveTable(f12, "(1000)");
    EXPECT_EQ(storedValues(kHospital, t1000), QList<double>({1}));

    // Summary reports go to repdata: the run's value table, not the window's.
    RuleRunContext report = context();
    report.valueTable = ValueTable::RepData;
    RuleRun toReport(report);
    toReport.matrix() = run.matrix();
    toReport.matrix().set(5, 4, 3);
    toReport.saveTable(f12, "(1000)");
    EXPECT_EQ(storedValues(kHospital, t1000, "repdata"), QList<double>({3}));
    // A table that is not in the catalogue stores nothing anywhere.
    EXPECT_THROW(run.saveTable(f12, "(3000)"), db::Error);
    EXPECT_EQ(db::scalar(db::connection(db::kData), "select count(*) from data where \"table\"<0").toInt(), 0);
    EXPECT_EQ(storedValues(kHospital, t1000), QList<double>({1}));
}

// The one writer of value rows, as a summation runs it over many institutions:
// a zero leaves no row, a value goes in as stored, one past the storable range
// names its cell's owner and stores nothing of the transaction.
TEST_F(EngineRules, ValueRowWriterKeepsTheStoredAndZeroRules) {
    const QSqlDatabase d = db::connection(db::kData);
    db::transaction(d, [&] {
        ValueRowWriter w(d, ValueTable::Data, 0, EngineDb::kYear, 2);
        EXPECT_FALSE(w.write(kHospital, t1000, 4, 3, 0));
        EXPECT_TRUE(w.write(kHospital, t1000, 5, 3, 0.1 + 0.2));
        EXPECT_TRUE(w.write(kHospital + 1, t1000, 4, 3, 5));
        EXPECT_TRUE(w.write(kHospital + 1, t1000, 5, 3, -7));
        EXPECT_TRUE(w.write(kHospital + 2, t1000, 4, 3, 1));   // waits for flush()
        w.flush();
    });
    EXPECT_EQ(storedValues(kHospital, t1000), QList<double>({0.3}));
    EXPECT_EQ(storedValues(kHospital + 1, t1000), QList<double>({5, -7}));
    EXPECT_EQ(storedValues(kHospital + 2, t1000), QList<double>({1}));
    try {
        db::transaction(d, [&] {
            ValueRowWriter w(d, ValueTable::RepData, kHospital, EngineDb::kYear);
            w.write(t1000, 4, 3, 2);
            w.write(t1000, 4, 4, 1e15);
        });
        FAIL() << "a value of 1e15 was stored";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.reason().contains(QStringLiteral("(код 7) слишком велико"))) << e.reason().toStdString();
    }
    EXPECT_EQ(storedValues(kHospital, t1000, "repdata"), QList<double>());
    // No value table chosen: no writer writes, and nothing of the table is cleared.
    const QList<double> kept = storedValues(kHospital, t1000);
    EXPECT_THROW(ValueRowWriter(d, ValueTable::None, kHospital, EngineDb::kYear), db::Error);
    EXPECT_THROW(TableValueWriter(d, ValueTable::None, kHospital, EngineDb::kYear, t1000), db::Error);
    EXPECT_THROW(WriteCellValue(d, ValueTable::None, kHospital, EngineDb::kYear, t1000, 4, 3, 1), db::Error);
    EXPECT_EQ(storedValues(kHospital, t1000), kept);
}

TEST_F(EngineRules, SumHospitalsDataAddsTheIncludedInstitutions) {
    put1000(3, 1, 2, 1);
    put1000(3, 1, 3, 2);
    put1000(4, 2, 5, 2);
    put1000(3, 1, 100, 3);   // not included
    put1000(3, 1, 1000, 4);  // listed, but a territory: no member
    for (const auto &[id, type] : {std::pair{1, 2}, {2, 2}, {3, 2}, {4, -1}})
        db::exec(db::kMain, "insert into administration (id, unit, medicaltype) values (?, 'ЦРБ', ?)", {id, type});
    RuleRunContext both = context(0);
    both.includeList = "1,2,4,99";
    RuleRun sum(both);
    ASSERT_TRUE(sum.readTable("Ф12", "(1000)"));
    sum.matrix().set(4, 3, 1);
    sum.sumInstitutions(f12, "(1000)");
    EXPECT_EQ(sum.matrix().at(4, 3), 6);
    EXPECT_EQ(sum.matrix().at(5, 4), 5);
    run.matrix() = sum.matrix();
    // An empty include list is refused before anything is read: the matrix stays.
    EXPECT_THROW(run.sumInstitutions(f12, "(1000)"), NoMembersError);
    EXPECT_EQ(run.matrix().at(4, 3), 6);
}

TEST_F(EngineRules, ChecksumsOfKnownValues) {
    EXPECT_EQ(TableDataChecksum(ValueTable::Data, kHospital, t1000), 0u);
    EXPECT_EQ(FormDataChecksum(ValueTable::Data, kHospital, f12), 5381u);
    put1000(3, 1, 1.0);
    EXPECT_EQ(TableDataChecksum(ValueTable::Data, kHospital, t1000), 1065530789u);
    put1000(4, 1, 2.5);
    EXPECT_EQ(TableDataChecksum(ValueTable::Data, kHospital, t1000), 2415132933u);
    EXPECT_EQ(FormDataChecksum(ValueTable::Data, kHospital, f12), 2415132933u);
    // Row order comes before column order; tables go in ident order.
    e.put(kHospital, t2000, 2, 2, 1.0);
    EXPECT_EQ(FormDataChecksum(ValueTable::Data, kHospital, f12), 1324622245u);
    EXPECT_EQ(FormDataChecksum(ValueTable::Data, kHospital + 1, f12), 5381u);
}

TEST_F(EngineRules, ReadTableFillsTheStoredBounds) {
    EXPECT_FALSE(run.readTable("Ф12", "(3000)"));
    put1000(3, 1, 4);
    put1000(6, 4, 2);
    e.put(kHospital, t1000, 3, 2, 50);   // header cell: skipped
    e.put(kHospital, t1000, 8, 3, 50);   // beyond the table: skipped
    ASSERT_TRUE(run.readTable("ф12", "(1000)"));
    const ValueMatrix &m = run.matrix();
    EXPECT_EQ(m.at(4, 3), 4);
    EXPECT_EQ(m.at(7, 6), 2);   // the last data cell
    EXPECT_EQ(m.at(3, 2), 0);

    EXPECT_TRUE(IsValidMatrixCell(m, 3, 1) && IsValidMatrixCell(m, 6, 4));
    EXPECT_FALSE(IsValidMatrixCell(m, 2, 1));   // column fixcols
    EXPECT_FALSE(IsValidMatrixCell(m, 7, 1));
    EXPECT_FALSE(IsValidMatrixCell(m, 3, 5));   // row rowcount - fixrows + 1

    // Mode "Types" adds the included institutions; other modes read the one unit from the value table.
    put1000(3, 1, 6, 8);
    e.put(9, t1000, 4, 3, 1, "repdata");
    auto valueRead = [](const RuleRunContext &c) {
        RuleRun r(c);
        EXPECT_TRUE(r.readTable("Ф12", "(1000)"));
        return r.matrix().at(4, 3);
    };
    RuleRunContext types = context(0);
    types.reportMode = ReportMode::Types;
    types.includeList = "7,8";
    EXPECT_EQ(valueRead(types), 10);
    types.includeList.clear();
    EXPECT_EQ(valueRead(types), 0);
    RuleRunContext report = context(9);
    report.reportMode = ReportMode::Svod;
    report.valueTable = ValueTable::RepData;
    EXPECT_EQ(valueRead(report), 1);
}

TEST(EngineArithmetic, OrdinaryPrecedenceAndTwoDecimals) {
    const QList<std::pair<QString, QString>> cases = {
        {"8/2*2", "8.00"},     {"10+2-5", "7.00"},   {"2*3/4", "1.50"},     {"1/3*3", "1.00"},
        {"5/0", "0.00"},       {"1.5+1.25", "2.75"}, {"(1+2)*3", "9.00"},   {"2*(3+4)-(1)", "13.00"},
        {"-2", "-2.00"},       {"3-5", "-2.00"},     {"-2*-3", "6.00"},     {"0.125+0", "0.13"},
        {"10-2-3", "5.00"},    {"12/2/3", "2.00"},   {"((2))", "2.00"},     {"1234.5*1", "1234.50"},
        // Texts that are no arithmetic stay as they are.
        {"12", "12"},          {"Ф1Т[1]СТР1ГР3+2", "Ф1Т[1]СТР1ГР3+2"},  {"2*(3+4", "2*(3+4"},
        {"2+", "2+"},          {"1.2.3+1", "1.2.3+1"}, {"ВПТ Ф1(1) гр9стр9+1", "ВПТ Ф1(1) гр9стр9+1"},
    };
    for (const auto &[in, out] : cases) EXPECT_EQ(EvaluateExpression(in), out) << in.toStdString();
    // As deep as the rule check lets a side be nested, and no deeper.
    const auto nested = [](int depth) { return QString(depth, '(') + "2+1" + QString(depth, ')'); };
    EXPECT_EQ(EvaluateExpression(nested(kMaxNesting)), "3.00");
    EXPECT_EQ(EvaluateExpression("-" + nested(kMaxNesting) + "*2"), "-6.00");
    EXPECT_EQ(EvaluateExpression(nested(kMaxNesting + 1)), nested(kMaxNesting + 1));
}

TEST_F(EngineRules, EvaluateReferenceSumsTheHeldTable) {
    put1000(3, 1, 2);
    put1000(3, 2, 3.25);
    put1000(4, 1, 10);
    QStringList labels;
    auto label = [&](const QString &t) { labels << t; };
    EXPECT_EQ(run.evaluateReference("Ф12Т[1000]СТР[1..2]ГР3", "", label), "5.25");
    EXPECT_EQ(labels, QStringList({"Ф12 - (1000)"}));
    EXPECT_TRUE(run.holds("ф12", "(1000)"));
    // Parts the reference lacks come from the cycle text.
    EXPECT_EQ(run.evaluateReference("СТР1", "ГР4Ф12Т[1000]"), "10.00");
    // A default text that repeats parts the reference has does not spoil it.
    EXPECT_EQ(run.evaluateReference("Ф12Т[1000]СТР1ГР4", "ГР3Ф12Т[1000]"), "10.00");
    EXPECT_EQ(run.evaluateReference("Ф12Т(1000)СТР 1 ГР 3 ", ""), "2.00");
    // Another table while one is held: left for a later pass.
    EXPECT_EQ(run.evaluateReference("Ф14Т[1]СТР1ГР2", ""), "Ф14Т[1]СТР1ГР2");
}

TEST_F(EngineRules, RunsKeepTheirOwnRulesErrorsAndTables) {
    put1000(3, 1, 5);
    e.putRef(kHospital, t1, 1, 2, 1, 4);
    RuleRun shown(context());
    ASSERT_TRUE(shown.loadTable("Ф12", "(1000)"));
    shown.addRule(1, "СТР1ГР3", "0", "=", "", "");
    // Another run loads another table and finds a violation: the first keeps
    // its table, its values and its rules, and sees none of the errors.
    run.addRule(2, "Ф14Т[1]СТР1ГР2", "0", "=", "", "");
    run.runControls("");
    EXPECT_EQ(errors(), QStringList({"4.00=0.00\t\t"}));
    EXPECT_TRUE(shown.holds("Ф12", "(1000)"));
    EXPECT_EQ(shown.matrix().at(4, 3), 5);
    EXPECT_TRUE(shown.errors().isEmpty());
    shown.runControls("Ф12Т[1000]");
    EXPECT_EQ(shown.errors().texts(), QStringList({"5.00=0.00\tФ12Т[1000]\t"}));
    EXPECT_EQ(run.errors().count(), 1);
}

TEST_F(EngineRules, CyclesExpandPerColumnWithTheDefaultText) {
    for (int c = 3; c <= 5; ++c) {
        put1000(c, 1, c == 4 ? 10 : 12);
        put1000(c, 2, 10);
    }
    run.addRule(41, "СТР1", "СТР2", "=", "строка 1 равна строке 2", "ГР[3..5]");
    run.runControls("Ф12Т[1000]");
    EXPECT_EQ(errors(), QStringList({"12.00=10.00\tГР3Ф12Т[1000]\tстрока 1 равна строке 2",
                                     "12.00=10.00\tГР5Ф12Т[1000]\tстрока 1 равна строке 2"}));
    EXPECT_EQ(run.errors().object(0), 41);
    EXPECT_EQ(run.errors().object(1), 41);
    EXPECT_EQ(run.ruleCount(), 0);
    EXPECT_FALSE(run.holdsTable());
}

// A cycle is clipped to the rule's own table also when no reference names
// it, and a position the list names twice is checked once.
TEST_F(EngineRules, CyclesCheckEachPositionOnceInTheRulesTable) {
    run.addRule(1, "8", "0.5", "<=", "константы", "СТР[1..4,3]");
    run.runControls("Ф12Т[1000]");
    EXPECT_EQ(errors(), QStringList({"8.00<=0.50\tСТР1Ф12Т[1000]\tконстанты", "8.00<=0.50\tСТР2Ф12Т[1000]\tконстанты",
                                     "8.00<=0.50\tСТР3Ф12Т[1000]\tконстанты", "8.00<=0.50\tСТР4Ф12Т[1000]\tконстанты"}));
    RuleRun between{context()};
    between.addRule(2, "8", "0.5", "<=", "без таблицы", "ГР[2..3]");
    between.runControls("");
    EXPECT_EQ(between.errors().texts(), QStringList({"8.00<=0.50\tГР2\tбез таблицы", "8.00<=0.50\tГР3\tбез таблицы"}));
}

TEST_F(EngineRules, SidesCompareAtTheTwoDecimalsTheyPrint) {
    // 10.1 + 20.2 and 0.1 + 0.2 are not what they print in binary.
    put1000(3, 1, 10.1);
    put1000(3, 2, 20.2);
    put1000(3, 3, 30.3);
    put1000(4, 1, 0.3);
    put1000(4, 2, 0.1);
    put1000(4, 3, 0.2);
    put1000(5, 1, 0.005);
    struct Case { QString left, relation, right, reported; };
    const QList<Case> cases = {
        {"СТР3ГР3", "=", "СТР1ГР3+СТР2ГР3", ""},
        {"СТР3ГР3", "<>", "СТР1ГР3+СТР2ГР3", "30.30<>30.30"},
        {"СТР1ГР4", ">=", "СТР2ГР4+СТР3ГР4", ""},
        {"СТР1ГР4", "<", "СТР2ГР4+СТР3ГР4", "0.30<0.30"},
        {"СТР1ГР4*3", "<=", "0.9", ""},
        {"СТР1ГР5", "=", "0.01", ""},   // a half cent goes away from zero
        {"СТР1ГР5", ">", "0", ""},
        // A lone constant prints the value it is decided on.
        {"1.01", "<>", "1.005", "1.01<>1.01"},
        {"СТР1ГР5", "<", "0.001", "0.01<0.00"},
    };
    for (int i = 0; i < cases.size(); ++i)
        run.addRule(i + 1, cases[i].left, cases[i].right, cases[i].relation, QString::number(i + 1), "");
    run.runControls("Ф12Т[1000]");
    QStringList expected;
    for (int i = 0; i < cases.size(); ++i)
        if (!cases[i].reported.isEmpty()) expected << cases[i].reported + "\tФ12Т[1000]\t" + QString::number(i + 1);
    EXPECT_EQ(errors(), expected);
}

// A rule text of absurd size ends the run with a report, in bounded memory
// and stack: run in a child process whose address space is limited.
[[noreturn]] void runAbsurdRulesAndExit() {
    long pages = 0, resident = 0;
    if (FILE *f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) pages = 0;
        std::fclose(f);
    }
    const rlim_t limit = rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
    const rlimit r{limit, limit};
    setrlimit(RLIMIT_AS, &r);
    const QString deep = QString(100000, '(') + "СТР1ГР3" + QString(100000, ')');
    RuleRunContext c;
    c.institution = 7;
    RuleRun run(c);
    run.addRule(1, "СТР[1..999999999]ГР3", "0", ">=", "строки", "");
    run.addRule(2, "СТР1", "0", "=", "цикл", "ГР[1..10000000]");
    run.addRule(3, deep, "1", "=", "вложенность", "");
    run.addRule(4, "СТР[1..100000000]ГР[1..100000000]", "0", "<", "оба", "");
    run.runControls("Ф12Т[1000]");
    const QStringList e = run.errors().texts();
    const bool ok = e.size() >= 4 && e[0].startsWith("ВПТ Ф12(1000) гр3стр5>=0") &&
                    e.last().startsWith("ВПТ Ф12(1000) гр1стр1<0") && e.filter("\tвложенность").size() == 1 &&
                    EvaluateExpression(QString(100000, '(') + "1" + QString(100000, ')')).startsWith("((") &&
                    EvaluateExpression(QString(100000, '-') + "1").startsWith("--");
    std::fprintf(stderr, "%d %s\n", int(e.size()), qPrintable(e.join(" | ").left(400)));
    std::_Exit(ok ? 0 : 1);
}

TEST_F(EngineRules, HugeRangesAndDeepNestingEndWithAReport) {
    put1000(3, 1, 1);
    EXPECT_EXIT(runAbsurdRulesAndExit(), ::testing::ExitedWithCode(0), "");
}

TEST_F(EngineRules, RulesOverTwoFormsLoadEachTableOnce) {
    put1000(3, 1, 7);
    e.putRef(kHospital, t1, 1, 2, 1, 4);
    e.putRef(kHospital, t1, 1, 3, 1, 3);
    QStringList labels;
    run.addRule(1, "Ф12Т[1000]СТР1ГР3", "Ф14Т(1)СТР1ГР2+Ф14Т(1)СТР1ГР3", "=", "", "");
    run.addRule(2, "Ф14Т[1]СТР1ГР2*2", "Ф12Т[1000]СТР1ГР3+1", "=", "разные", "");
    run.addRule(3, "Ф14Т[1]СТР1ГР2-Ф12Т[1000]СТР1ГР3", "0", "<", "", "");
    run.runControls("", [&](const QString &t) { labels << t; });
    EXPECT_EQ(labels, QStringList({"Ф12 - (1000)", "Ф14 - (1)"}));
    // 7 = 4+3; 4*2 = 8 = 7+1; 4-7 = -3 < 0 (a negative value is a number).
    EXPECT_TRUE(errors().isEmpty()) << errors().join("|").toStdString();
}

TEST_F(EngineRules, ViolationsAndWhatCannotBeComputed) {
    put1000(3, 1, 5);
    put1000(3, 2, 5);
    run.addRule(1, "Ф12Т[1000]СТР1ГР3", "Ф12Т[1000]СТР2ГР3", "<=", "равные допустимы", "");
    run.addRule(2, "Ф12Т[1000]СТР1ГР3", "Ф12Т[1000]СТР2ГР3", "<>", "различны", "");
    run.addRule(3, "Ф12Т[1000]СТР5ГР3", "0", ">=", "вне таблицы", "");
    run.addRule(4, "Ф99Т[1]СТР1ГР1", "Ф12Т[1000]СТР1ГР3", "=", "нет таблицы", "");
    run.addRule(5, "0", "Ф12Т[1000]СТР1ГР3-Ф12Т[1000]СТР2ГР3", "=", "ноль", "");
    run.addRule(6, "Ф12Т[1000]СТР[1..x]ГР3", "1", "=", "плохой список", "");
    run.addRule(7, "Ф12Т[1000]СТР1ГР3", "1", "=", "после ошибки", "ГР[3..y]");
    run.addRule(8, "Ф12Т[1000]СТР1ГР3*2", "Ф12Т[1000]СТР2ГР3", "?", "неизвестное отношение", "");
    run.addRule(9, "Ф12Т[1000]СТР1ГР3", "Ф12Т[1000]СТР2ГР3+1", "<", "последнее", "");
    run.addRule(10, "Ф12Т[1000]СТР[1ГР3", "5", "=", "нет скобки", "");
    run.runControls("");
    EXPECT_EQ(errors(), QStringList({
                            "5.00<>5.00\t\tразличны", "ВПТ Ф12(1000) гр3стр5>=0.00\t\tвне таблицы",
                            "Ф99Т[1]СТР1ГР1=5.00\t\tнет таблицы", "Ф12Т[1000]СТР[1..X]ГР3=1\t\tплохой список",
                            "5.00=1\tГР[3..y]\tпосле ошибки",
                            "Ф12Т[1000]СТР[1ГР3=5\t\tнет скобки",
                        }));
    EXPECT_EQ(run.errors().object(1), 3);
}
