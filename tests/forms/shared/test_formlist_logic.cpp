// Forms tree work on the sample configuration: listed forms, control runs of
// each scope, recalculation, clearing and conditions files.
#include "support/QueryRows.h"
#include "support/CancellingProgress.h"
#include "support/TestWork.h"
#include "support/WindowTestBase.h"

#include "core/SampleConfig.h"
#include "engine/SharedState.h"
#include "forms/shared/FormListLogic.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QFile>
#include <gtest/gtest.h>
#include <optional>

using namespace formlist;
namespace ids = sample::ids;

namespace {

// A run as the window makes one, from the context of the moment; the last one stays for its errors.
std::optional<RuleRun> g_run;
RuleRun &fresh() { return g_run.emplace(RuleRunContext{testWork()}); }
const StringList &lastErrors() { return g_run->errors(); }
QStringList errorTexts() { return lastErrors().texts(); }

QStringList formTexts(const QList<FormEntry> &forms) {
    QStringList out;
    for (const FormEntry &f : forms) {
        out.append(f.text);
        for (const TableEntry &t : f.tables) out.append("  " + t.text + "#" + QString::number(t.ident));
    }
    return out;
}

double stored(qint64 hosp, int table, int column, int row, const QString &t = "data") {
    return db::scalar(db::connection(db::kData),
                      QStringLiteral("select data from %1 where hospital=? and \"table\"=? and \"column\"=? "
                                     "and \"row\"=? and year=?").arg(t),
                      {hosp, table, column, row, SampleFixture::kYear}).toDouble();
}

using FormListTest = InputWindowTest;

} // namespace

TEST_F(FormListTest, FormsOfATypeAllFormsAndNetworkForms) {
    EXPECT_EQ(formTexts(formsForType(ids::TypePolyclinic)).mid(1),
              (QStringList{"  (1000) - Штаты#1", "  (2000) - Посещения#2"}));
    const QList<FormEntry> all = formsForType(-1);
    ASSERT_EQ(all.size(), 2);
    EXPECT_EQ(all[1].name, QStringLiteral("Ф14"));
    EXPECT_TRUE(formsForType(ids::TypeInpatient).isEmpty());   // a group has no forms of its own
    const QList<FormEntry> net = formsForType(ids::TypeHospital, true);
    ASSERT_EQ(net.size(), 1);
    EXPECT_EQ(formNameOfText(net[0].text), QStringLiteral("Ф47"));
}

TEST_F(FormListTest, ControlRunsOfEachScope) {
    const QList<FormEntry> forms = formsForType(-1);
    const FormEntry &f30 = forms[0];

    // Inter-table rules of Ф30: rule 5 fails for institution 7 only.
    testWork().institution = ids::FapOzerny;
    EXPECT_TRUE(runFormControls(fresh(), f30.id, f30.name, f30.text));
    QStringList e = errorTexts();
    ASSERT_EQ(e.size(), 2);
    EXPECT_EQ(e[0], QStringLiteral("Ф30 - межтабличный контроль"));
    EXPECT_EQ(lastErrors().object(1), ids::RuleVisitsVsPositions + 1);
    testWork().institution = ids::NorthHospital;
    EXPECT_FALSE(runFormControls(fresh(), f30.id, f30.name, f30.text));
    EXPECT_TRUE(lastErrors().isEmpty());   // no heading is left behind

    // Between forms: rule 6 holds everywhere.
    EXPECT_FALSE(runInterFormControls(fresh(), f30.name));
    EXPECT_TRUE(lastErrors().isEmpty());

    // Everything: institution 9 breaks rule 1 of Ф30 (1000) in column 5 only.
    testWork().institution = ids::SouthHospital;
    QStringList labels;
    EXPECT_TRUE(runAllControls(fresh(), forms, f30.name, [&](const QString &l) { labels.append(l); }));
    e = errorTexts();
    ASSERT_EQ(e.size(), 2) << e.join("\n").toStdString();
    EXPECT_EQ(e[0], QStringLiteral("Ф30т(1000)"));
    EXPECT_EQ(e[1], QStringLiteral("88.00>=114.00\tГР5Ф30Т[1000]\tВрачи всего не меньше суммы терапевтов и хирургов"));
    EXPECT_EQ(lastErrors().object(1), ids::RuleDoctorsByColumn);
    EXPECT_TRUE(labels.contains(QStringLiteral("Ф30 - (1000)")));
    EXPECT_TRUE(labels.last().isEmpty());

    // Institution 13 breaks rule 2 of the same table.
    testWork().institution = ids::RegionalHospital;
    EXPECT_TRUE(runAllControls(fresh(), forms, f30.name));
    EXPECT_EQ(lastErrors().object(1), ids::RuleOccupiedPositions);
}

TEST_F(FormListTest, RulesOfATableAreFoundWhateverTheLetterCaseTheyNameItIn) {
    // The table is "(1000а)"; its rules were stored naming "(1000А)" and " (1000а)".
    db::exec(db::connection(db::kMain), "update tables set tablen='(1000а)' where ident=?", {ids::TableF30Staff});
    db::exec(db::connection(db::kMain), "update int_control set tble='(1000А)' where \"Код\"=?", {ids::RuleDoctorsByColumn});
    db::exec(db::connection(db::kMain), "update int_control set tble=' (1000а)' where \"Код\"=?",
             {ids::RuleOccupiedPositions});
    fx.reloadCaches();
    const QList<FormEntry> forms = formsForType(-1);
    for (const auto &[institution, rule] : {std::pair{int(ids::SouthHospital), int(ids::RuleDoctorsByColumn)},
                                           {int(ids::RegionalHospital), int(ids::RuleOccupiedPositions)}}) {
        testWork().institution = institution;
        EXPECT_TRUE(runAllControls(fresh(), forms, forms[0].name)) << rule;
        EXPECT_EQ(lastErrors().object(1), rule);
    }
}

TEST_F(FormListTest, RulesRunInTheOrderOfTheirStoredTableNameThenKey) {
    // Two rules that never hold: the later one names the table with a blank
    // before it, which sorts first.
    const QSqlDatabase m = db::connection(db::kMain);
    const QString insert = "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                           "values (?, ?, '1', '=', '2', '', '')";
    const QList<FormEntry> forms = formsForType(-1);
    db::exec(m, insert, {forms[0].id, "(1000)"});
    const qint64 plain = db::lastInsertId(m);
    db::exec(m, insert, {forms[0].id, " (1000)"});
    const qint64 blank = db::lastInsertId(m);
    // Between its tables: a rule naming no table ('') and a later one with none (null), which sorts first.
    db::exec(m, insert, {forms[0].id, ""});
    const qint64 empty = db::lastInsertId(m);
    db::exec(m, insert, {forms[0].id, QVariant()});
    const qint64 none = db::lastInsertId(m);
    testWork().institution = ids::NorthHospital;
    ASSERT_TRUE(runAllControls(fresh(), forms, forms[0].name));
    QList<qint64> order;
    for (int i = 0; i < lastErrors().count(); ++i)
        if (QList<qint64>{plain, blank, empty, none}.contains(lastErrors().object(i))) order.append(lastErrors().object(i));
    EXPECT_EQ(order, (QList<qint64>{blank, plain, none, empty}));
}

TEST_F(FormListTest, InterFormRulesFollowTheNetworkMode) {
    db::exec(db::connection(db::kMain),
             "insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) values (0,'',?,'=',?,'','')",
             {QStringLiteral("ф47Т[1000]СТР[1]ГР[4]"), QStringLiteral("Ф30Т[1000]СТР[1]ГР[4]")});
    EXPECT_FALSE(IsControlApplicable(QStringLiteral("ф47Т[1000]СТР[1]ГР[4]"), QStringLiteral("1")));
    EXPECT_TRUE(IsControlApplicable(QStringLiteral("Ф30Т[1000]СТР[1]ГР[4]"), QStringLiteral("1")));
    testWork().institution = ids::NorthHospital;
    // Outside network mode the rule naming Ф47 is left out; rule 6 holds.
    EXPECT_FALSE(runInterFormControls(fresh(), QStringLiteral("Ф30")));
    // In network mode only rules naming the selected form are kept.
    testWork().net = true;
    testWork().institution = ids::Region;
    runInterFormControls(fresh(), QStringLiteral("Ф14"));
    EXPECT_TRUE(lastErrors().isEmpty());
}

TEST_F(FormListTest, RecalculationOfASummary) {
    // Summary of the northern district: the sum of its institutions.
    testWork().institution = ids::North;
    testWork().includeList = "5,6,7,8";
    recalculateForm(fresh(), ids::FormF30, "Ф30");
    const double expected = stored(5, ids::TableF30Visits, 5, 4) + stored(6, ids::TableF30Visits, 5, 4) +
                            stored(7, ids::TableF30Visits, 5, 4);
    EXPECT_GT(expected, 0);
    EXPECT_DOUBLE_EQ(stored(ids::North, ids::TableF30Visits, 5, 4), expected);
}

TEST_F(FormListTest, RecalculationIsAllOrNothingAndNamesTheBrokenRule) {
    testWork().net = true;
    testWork().institution = ids::Region;
    testWork().includeList = "5,6,7,8";
    QSqlDatabase m = db::connection(db::kMain);
    const QString insert = "insert into conditions (tid, \"row\", \"column\", type, formula, condition, koeff, "
                           "country, lft, rght, midle, types) values (?, ?, ?, ?, ?, ?, 1, 0, '', '', 0, '*')";
    db::exec(m, insert, {ids::TableF30Staff, 0, 0, 0, "", ""});                              // 4 institutions
    db::exec(m, insert, {ids::TableF30Visits, 0, 1, 1, "Ф99Т(1)СТР1ГР1", ""});              // no such form
    db::exec(db::connection(db::kData), "insert into data values (?, 0.1, ?, ?, 5, 5)",
             {ids::Region, shared().Year, ids::TableF30Staff});
    try {
        recalculateForm(fresh(), ids::FormF30, "Ф30");
        ADD_FAILURE() << "a broken rule must stop the recalculation";
    } catch (const db::Error &e) {
        EXPECT_TRUE(e.message().startsWith("Ф30т(2000): Правило расчета ячейки строка 1 графа 5: ")) << e.message().toStdString();
    }
    EXPECT_EQ(stored(ids::Region, ids::TableF30Staff, 5, 5), 0.1) << "the first table is not stored either";
    testWork().net = false;
}

TEST_F(FormListTest, RecalculationCancelledHalfwayLeavesTheValuesAsBefore) {
    testWork().institution = ids::North;
    testWork().includeList = "5,6,7,8";
    const QList<FormEntry> forms = formsForType(-1);
    const QSqlDatabase d = db::connection(db::kData);
    const QStringList before = valueRows(d);
    CancellingProgress cancelling(1);
    EXPECT_THROW(recalculateForms(fresh(), forms, {}, cancelling), Cancelled);
    EXPECT_GE(cancelling.max, 2);   // stopped halfway, not at the end
    EXPECT_EQ(valueRows(d), before);

    // The same run to its end changes the values; a later run starts afresh.
    CancellingProgress never(1 << 30);
    recalculateForms(fresh(), forms, {}, never);
    EXPECT_EQ(never.position, never.max);
    EXPECT_NE(valueRows(d), before);
}

TEST_F(FormListTest, ControlCancelledHalfwayKeepsThePreviousErrors) {
    const QList<FormEntry> forms = formsForType(-1);
    testWork().institution = ids::SouthHospital;
    ASSERT_TRUE(runAllControls(fresh(), forms, forms[0].name));
    const QStringList before = errorTexts();
    CancellingProgress cancelling(1);
    EXPECT_THROW(runAllControls(*g_run, forms, forms[0].name, {}, cancelling), Cancelled);
    EXPECT_GE(cancelling.max, 3);
    EXPECT_EQ(errorTexts(), before);
}

TEST_F(FormListTest, ClearingKeepsToItsScope) {
    const auto count = [](qint64 h) {
        return db::scalar(db::connection(db::kData), "select count(*) from data where hospital=?", {h}).toInt();
    };
    const int all5 = count(5);
    ASSERT_GT(all5, 0);
    clearTable(5, ids::TableF30Visits);
    const int afterTable = count(5);
    EXPECT_LT(afterTable, all5);
    EXPECT_GT(stored(5, ids::TableF30Staff, 5, 5), 0);
    clearForm(5, ids::FormF30);
    EXPECT_EQ(stored(5, ids::TableF30Staff, 5, 5), 0);
    EXPECT_GT(count(5), 0);   // Ф14 stays
    clearInstitution(5);
    EXPECT_EQ(count(5), 0);
    EXPECT_GT(count(9), 0);
}

TEST_F(FormListTest, ConditionsFileRoundTrip) {
    QSqlDatabase m = db::connection(db::kMain);
    db::exec(m, "update conditions set condition=? where rowid=(select min(rowid) from conditions where tid=?)",
             {QStringLiteral("строка1\r\nстрока2"), ids::TableF47Network});
    const auto dump = [&] {
        return queryRows(m, "select tid, \"row\", \"column\", type, formula, condition, koeff, country, midle, "
                            "types from conditions order by tid, \"row\", \"column\"");
    };
    const QStringList before = dump();
    ASSERT_FALSE(before.isEmpty());
    const QString file = fx.root() + "Ф47.cnd";
    const int written = exportConditions(ids::FormF47, "Ф47", file);
    EXPECT_EQ(written, before.size());
    db::exec(m, "delete from conditions");
    db::exec(m, "insert into conditions (tid, \"row\", \"column\") values (?, 9, 9)", {ids::TableF47Network});
    EXPECT_EQ(importConditions(ids::FormF47, "Ф47", file).imported, written);
    EXPECT_EQ(dump(), before);
}

// Tables whose numbers agree in their first ten characters are two tables:
// the conditions of one never land on the other.
TEST_F(FormListTest, ConditionsImportTellsLongTableNumbersApart) {
    QSqlDatabase m = db::connection(db::kMain);
    db::exec(m, "update tables set tablen=? where ident=?", {QStringLiteral("(1000-дополнение-1)"), ids::TableF47Network});
    db::exec(m, "insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows, floattype, scan) "
                "values (?, ?, 'Вторая', 5, 6, 1, 1, 0, 0)",
             {ids::FormF47, QStringLiteral("(1000-дополнение-2)")});
    const qint64 second = db::scalar(m, "select max(ident) from tables").toLongLong();
    const auto count = [&](qint64 t) { return db::scalar(m, "select count(*) from conditions where tid=?", {t}).toInt(); };
    const int before = count(ids::TableF47Network);
    ASSERT_GT(before, 0);
    const QString file = fx.root() + "Ф47.cnd";
    ASSERT_EQ(exportConditions(ids::FormF47, "Ф47", file), before);
    db::exec(m, "delete from conditions");
    EXPECT_EQ(importConditions(ids::FormF47, "Ф47", file).imported, before);
    EXPECT_EQ(count(ids::TableF47Network), before);
    EXPECT_EQ(count(second), 0);
}

TEST_F(FormListTest, ConditionsImportKeepsToItsFormAndRefusesBrokenFiles) {
    QSqlDatabase m = db::connection(db::kMain);
    const auto count = [&] {
        return db::scalar(m, "select count(*) from conditions where tid=?", {ids::TableF47Network}).toInt();
    };
    const int before = count();
    ASSERT_GT(before, 0);
    const QString broken = fx.root() + "broken.cnd";
    ASSERT_TRUE(cp1251::writeLines(broken, {"Ф47\t(1000)\t0\t0\t1"}));
    EXPECT_THROW(importConditions(ids::FormF47, "Ф47", broken), db::Error);
    EXPECT_EQ(count(), before);
    // A divisor that is no number within the range is refused, never wrapped.
    for (const char *divisor : {"99999999999", "1e10", "x"}) {
        ASSERT_TRUE(cp1251::writeLines(broken, {QString("Ф47\t(1000)\t0\t0\tTrue\tx\t\t%1\tFalse\tFalse\t*").arg(divisor)}));
        EXPECT_THROW(importConditions(ids::FormF47, "Ф47", broken), db::Error) << divisor;
        EXPECT_EQ(count(), before);
    }

    // A file with no line of the form changes nothing and says why.
    const QString good = "Ф47\t(1000)\t1\t2\tFalse\t\tусловие\t3\tTrue\tFalse\t2,5";
    const struct {
        const char *name;
        QByteArray bytes;
        QString says;
    } refused[] = {
        {"empty", "", QStringLiteral("пуст. Условия не изменены.")},
        {"blank lines", "\r\n  \r\n", QStringLiteral("пуст. Условия не изменены.")},
        {"another form", cp1251::encode("Ф30\t(1000)\t0\t0\tTrue\tx\t\t1\tFalse\tFalse\t*\r\n"),
         QStringLiteral("нет условий формы Ф47. Условия не изменены.")},
        {"unknown table", cp1251::encode("Ф47\t(9999)\t0\t0\tTrue\tx\t\t1\tFalse\tFalse\t*\r\n"),
         QStringLiteral("Строки неизвестных форм и таблиц пропущены: 1 (Ф47 (9999))")},
        {"unknown form", cp1251::encode("Ф99\t(1000)\t0\t0\tTrue\tx\t\t1\tFalse\tFalse\t*\r\n"),
         QStringLiteral("Строки неизвестных форм и таблиц пропущены: 1 (Ф99 (1000))")},
        {"UTF-8", ("\xEF\xBB\xBF" + good).toUtf8(), QStringLiteral("UTF-8")},
    };
    for (const auto &c : refused) {
        const QString path = fx.root() + c.name + QStringLiteral(".cnd");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(c.bytes);
        f.close();
        try {
            importConditions(ids::FormF47, "Ф47", path);
            ADD_FAILURE() << c.name << ": imported";
        } catch (const db::Error &e) {
            EXPECT_TRUE(e.message().contains(c.says)) << c.name << ": " << e.message().toStdString();
        }
        EXPECT_EQ(count(), before) << c.name;
    }

    // Lines of another form or of an unknown table are skipped and named; the tables the file carries are replaced.
    const QString other = fx.root() + "other.cnd";
    ASSERT_TRUE(cp1251::writeLines(other, {"Ф30\t(1000)\t0\t0\tTrue\tx\t\t1\tFalse\tFalse\t*",
                                           "Ф47\t(9999)\t0\t0\tTrue\tx\t\t1\tFalse\tFalse\t*",
                                           "ф47\t(1000)\t1\t2\tFalse\t\tусловие\x01\x02\t3\tTrue\tFalse\t2,5",
                                           "Ф47\t(1000)\t2\t2\tTrue\tx\t\t\tFalse\tFalse\t*"}));
    const ConditionsImport imported = importConditions(ids::FormF47, "Ф47", other);
    EXPECT_EQ(imported.imported, 2);
    EXPECT_TRUE(imported.message.startsWith(QStringLiteral("Условия успешно импортированы\n")));
    EXPECT_TRUE(imported.message.contains(QStringLiteral("Строки неизвестных форм и таблиц пропущены: 1 (Ф47 (9999))")))
        << imported.message.toStdString();
    EXPECT_EQ(count(), 2);
    // The line breaks come back from their codes; an empty divisor is 1.
    EXPECT_EQ(db::scalar(m, "select group_concat(\"row\" || '|' || type || '|' || condition || '|' || koeff || '|' || "
                            "country || '|' || types, ';') from conditions").toString(),
              QStringLiteral("1|0|условие\n\r|3|1|2,5;2|1||1|0|*"));

    // A divisor with a decimal comma is stored as the check read it, never as 1.
    ASSERT_TRUE(cp1251::writeLines(other, {"Ф47\t(1000)\t1\t2\tTrue\tx\t\t0,5\tFalse\tFalse\t*",
                                           "Ф47\t(1000)\t2\t2\tTrue\tx\t\t 2,5 \tFalse\tFalse\t*",
                                           "Ф47\t(1000)\t3\t2\tTrue\tx\t\t-1000000000\tFalse\tFalse\t*"}));
    EXPECT_EQ(importConditions(ids::FormF47, "Ф47", other).imported, 3);
    EXPECT_EQ(db::scalar(m, "select group_concat(koeff, ';') from (select koeff from conditions order by \"row\")")
                  .toString(),
              QStringLiteral("0.5;2.5;-1000000000"));
}
