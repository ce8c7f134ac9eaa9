// Structure changes of one table over the sample configuration: rows and columns inserted and deleted with their
// titles, spans, sizes, calculation rules and stored values of every values file; the rules that name moved lines;
// title edits; a failure half-way changes nothing.
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "forms/structure/StructureEdit.h"
#include "platform/Database.h"
#include "support/QueryRows.h"
#include "support/Fixture.h"

#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace structedit;

namespace {

constexpr int kStaff = sample::ids::TableF30Staff;      // 7 x 8, fixcols 3, fixrows 3
constexpr int kVisits = sample::ids::TableF30Visits;    // 5 x 5, fixcols 3, fixrows 2
constexpr int kNetwork = sample::ids::TableF47Network;  // 5 x 6, fixcols 3, fixrows 2, calculated cells

struct Title { int sc, sr, ec, er; QString font; int size; QString tchars, text; };

class StructureEditTest : public ::testing::Test {
protected:
    void SetUp() override { fx.reloadCaches(); }

    QSqlDatabase main() { return db::connection(db::kMain); }
    QStringList files() { return yearValuesFiles(main(), fx.yearFolder(), db::fileOf(db::kData)); }

    TableShape shape(int ident) { return ReadTableShape(main(), ident); }

    // Title record at (column, row); sc = -1 when there is none.
    Title title(int ident, int column, int row) {
        QSqlQuery q = db::exec(main(), "select union_sc, union_sr, union_ec, union_er, fontname, fontsize, tchars, txt "
                               "from titles where \"table\"=? and \"column\"=? and \"row\"=?",
                               {ident, column, row});
        if (!q.next()) return Title{-1, -1, -1, -1, {}, 0, {}, {}};
        return Title{q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt(),
                     q.value(4).toString(), q.value(5).toInt(), q.value(6).toString(), q.value(7).toString()};
    }
    QString titleText(int ident, int column, int row) { return text::decodeColon(title(ident, column, row).text); }

    // Size records as number -> size.
    QMap<int, double> sizes(int ident, bool rows) {
        QMap<int, double> m;
        QSqlQuery q = db::exec(main(), rows ? "select \"row\", height from \"rows\" where \"table\"=?"
                                            : "select \"column\", width from \"columns\" where \"table\"=?",
                               {ident});
        while (q.next()) m.insert(q.value(0).toInt(), q.value(1).toDouble());
        return m;
    }

    // Calculation rules of a table as "row,column".
    QSet<QString> rules(int ident) {
        QSet<QString> s;
        QSqlQuery q = db::exec(main(), "select \"row\", \"column\" from conditions where tid=?", {ident});
        while (q.next()) s.insert(q.value(0).toString() + u',' + q.value(1).toString());
        return s;
    }

    // Stored value of a cell in the values file (0 when there is no row).
    double value(const QString &connection, const QString &table, qint64 hospital, int ident, int column, int row) {
        return db::scalar(db::connection(connection),
                          QStringLiteral("select coalesce(sum(data), 0) from %1 where hospital=? and \"table\"=? and "
                                         "\"column\"=? and \"row\"=?").arg(table),
                          {hospital, ident, column, row}).toDouble();
    }
    double data(qint64 hospital, int ident, int column, int row) {
        return value(db::kData, "data", hospital, ident, column, row);
    }
    int storedCount(const QString &table, int ident) {
        return db::scalar(db::connection(db::kData), QStringLiteral("select count(*) from %1 where \"table\"=?").arg(table),
                          {ident}).toInt();
    }

    // Everything of a table, to compare before and after a refused change.
    QString snapshot(int ident) {
        QStringList parts;
        auto dump = [&](const QSqlDatabase &d, const QString &sql) { parts << queryRows(d, sql, {ident}); };
        dump(main(), "select * from tables where ident=?");
        dump(main(), "select * from titles where \"table\"=? order by \"column\", \"row\", txt");
        dump(main(), "select * from \"rows\" where \"table\"=? order by \"row\"");
        dump(main(), "select * from \"columns\" where \"table\"=? order by \"column\"");
        dump(main(), "select * from conditions where tid=? order by \"row\", \"column\"");
        dump(db::connection(db::kData), "select * from data where \"table\"=? order by hospital, \"column\", \"row\"");
        dump(db::connection(db::kData), "select * from repdata where \"table\"=? order by hospital, \"column\", \"row\"");
        return parts.join(u'\n');
    }

    // Makes the two first row-header titles of column 1 of the staff table one title over structure rows 4..5.
    void mergeFirstTwoRowTitles() {
        db::exec(main(), "delete from titles where \"table\"=? and \"column\"=1 and \"row\"=5", {kStaff});
        db::exec(main(), "update titles set union_er=5 where \"table\"=? and \"column\"=1 and \"row\"=4", {kStaff});
    }

    SampleFixture fx;
};

} // namespace

TEST_F(StructureEditTest, RowInsertedBeforeMovesEverythingBelowIt) {
    const double second = data(5, kStaff, 5, 6);   // СТР2 ГР4 of institution 5
    ASSERT_GT(second, 0);
    const QString name2 = titleText(kStaff, 1, 5);
    const QMap<int, double> before = sizes(kStaff, true);

    insertDataRow(main(), kStaff, 1, Place::Before, 18, files());

    EXPECT_EQ(shape(kStaff).rowcount, 9);
    // The new header cells: one blank single cell each.
    for (int c = 1; c <= 3; ++c) {
        const Title t = title(kStaff, c, 5);
        EXPECT_EQ(t.text, " ");
        EXPECT_EQ((TitleSpan{t.sc, t.sr, t.ec, t.er}), (TitleSpan{c, 5, c, 5}));
    }
    EXPECT_EQ(titleText(kStaff, 1, 6), name2);
    EXPECT_EQ(title(kStaff, 1, 6).sr, 6);
    EXPECT_EQ(title(kStaff, 1, 6).er, 6);
    // Sizes: the new row at 5, the old ones from 5 on one further.
    const QMap<int, double> after = sizes(kStaff, true);
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.value(5), 18);
    for (int r = 5; r <= 8; ++r) EXPECT_EQ(after.value(r + 1), before.value(r));
    // Values: the new row is empty, СТР2 moved to СТР3; СТР1 stays.
    EXPECT_EQ(data(5, kStaff, 5, 6), 0);
    EXPECT_EQ(data(5, kStaff, 5, 7), second);
    EXPECT_EQ(data(5, kStaff, 5, 5), 50);
}

TEST_F(StructureEditTest, RowInsertedAfterTheLastAppendsItsSize) {
    const double last = data(5, kStaff, 5, 9);   // СТР5
    insertDataRow(main(), kStaff, 4, Place::After, 18, files());
    EXPECT_EQ(sizes(kStaff, true).value(9), 18);
    EXPECT_EQ(data(5, kStaff, 5, 9), last);
    // A table without size records gets one for the new row.
    db::exec(main(), "delete from \"rows\" where \"table\"=?", {kVisits});
    insertDataRow(main(), kVisits, 0, Place::After, 18, files());
    EXPECT_EQ(sizes(kVisits, true), (QMap<int, double>{{4, 18}}));
}

TEST_F(StructureEditTest, InsertedRowJoinsTheMergedTitleItFallsInside) {
    mergeFirstTwoRowTitles();
    // Before the second row of the merged title: the new cell of column 1 is part of it; the title grows by one row.
    insertDataRow(main(), kStaff, 1, Place::Before, 18, files());
    EXPECT_EQ((TitleSpan{title(kStaff, 1, 4).sc, title(kStaff, 1, 4).sr, title(kStaff, 1, 4).ec, title(kStaff, 1, 4).er}),
              (TitleSpan{1, 4, 1, 6}));
    EXPECT_EQ((TitleSpan{title(kStaff, 1, 5).sc, title(kStaff, 1, 5).sr, title(kStaff, 1, 5).ec, title(kStaff, 1, 5).er}),
              (TitleSpan{1, 4, 1, 6}));
    EXPECT_EQ(title(kStaff, 2, 5).er, 5);   // column 2 has no merged title

    // Before its first row: single cells, the title moves down.
    insertDataRow(main(), kStaff, 0, Place::Before, 18, files());
    EXPECT_EQ(title(kStaff, 1, 4).er, 4);
    EXPECT_EQ(title(kStaff, 1, 5).sr, 5);
    EXPECT_EQ(title(kStaff, 1, 5).er, 7);

    // After its last row (now 7): a single cell.
    insertDataRow(main(), kStaff, 3, Place::After, 18, files());
    EXPECT_EQ(title(kStaff, 1, 8).sr, 8);
    EXPECT_EQ(title(kStaff, 1, 8).er, 8);
    EXPECT_EQ(title(kStaff, 1, 5).er, 7);
}

TEST_F(StructureEditTest, MergedTitleKeepsItsTextWhileAnyOfItsLinesRemains) {
    // Insert a line inside a merged title, then delete the title's first line:
    // the blank copy the insert made must not take the title's place.
    mergeFirstTwoRowTitles();   // column 1, rows 4..5
    struct Case {
        bool rows;
        int column, row;   // the title's first cell
    };
    for (const Case &c : {Case{false, 4, 1}, Case{true, 1, 4}}) {
        SCOPED_TRACE(c.rows ? "rows" : "columns");
        const QString text = titleText(kStaff, c.column, c.row);
        ASSERT_FALSE(text.trimmed().isEmpty());
        if (c.rows) insertDataRow(main(), kStaff, 0, Place::After, 18, files());
        else insertDataColumn(main(), kStaff, 0, Place::After, 48, files());
        if (c.rows) deleteDataRow(main(), kStaff, 0, files());
        else deleteDataColumn(main(), kStaff, 0, files());
        const Title t = title(kStaff, c.column, c.row);
        EXPECT_EQ(titleText(kStaff, c.column, c.row), text);
        EXPECT_EQ((TitleSpan{t.sc, t.sr, t.ec, t.er}), c.rows ? (TitleSpan{1, 4, 1, 5}) : (TitleSpan{4, 1, 5, 1}));
        // No second record left inside the title.
        EXPECT_EQ(title(kStaff, c.rows ? 1 : 5, c.rows ? 5 : 1).sc, -1);
        // Deleting its remaining first line still keeps the text.
        if (c.rows) deleteDataRow(main(), kStaff, 0, files());
        else deleteDataColumn(main(), kStaff, 0, files());
        EXPECT_EQ(titleText(kStaff, c.column, c.row), text);
    }
}

TEST_F(StructureEditTest, ColumnInsertAndDeleteKeepHeadersAndValuesOfEveryFile) {
    // Values of the visits table live in data0 (institutions and report 1) and in data1.
    const double g4 = data(5, kVisits, 5, 4), g5 = data(5, kVisits, 6, 4);
    const double rep = value(db::kData, "repdata", sample::ids::ReportRegion, kVisits, 6, 4);
    ASSERT_GT(g5, 0);
    ASSERT_GT(rep, 0);
    const QString level1 = fx.yearFolder() + "data1.mdb";
    ASSERT_TRUE(files().contains(QFileInfo(level1).canonicalFilePath()));
    db::ScopedConnection quarterDb(level1, db::OpenMode::ReadWrite);
    const QString quarter = quarterDb.name();
    const double q4 = value(quarter, "data", 5, kVisits, 5, 4);
    ASSERT_GT(q4, 0);

    insertDataColumn(main(), kVisits, 0, Place::After, 48, files());   // new structure column 5
    EXPECT_EQ(shape(kVisits).colcount, 6);
    EXPECT_EQ(title(kVisits, 5, 1).text, " ");
    EXPECT_EQ(titleText(kVisits, 6, 1), "из них сельскими жителями");
    EXPECT_EQ(titleText(kVisits, 6, 2), "5");   // the numbering row keeps its text
    EXPECT_EQ(sizes(kVisits, false).value(5), 48);
    EXPECT_EQ(sizes(kVisits, false).value(6), 72);
    EXPECT_EQ(data(5, kVisits, 5, 4), g4);
    EXPECT_EQ(data(5, kVisits, 6, 4), 0);
    EXPECT_EQ(data(5, kVisits, 7, 4), g5);
    EXPECT_EQ(value(db::kData, "repdata", sample::ids::ReportRegion, kVisits, 7, 4), rep);
    EXPECT_EQ(value(quarter, "data", 5, kVisits, 5, 4), q4);

    // Deleting the first data column takes its values in every file along.
    deleteDataColumn(main(), kVisits, 0, files());
    EXPECT_EQ(shape(kVisits).colcount, 5);
    EXPECT_EQ(title(kVisits, 4, 1).text, " ");
    EXPECT_EQ(data(5, kVisits, 6, 4), g5);
    EXPECT_EQ(data(5, kVisits, 5, 4), 0);
    EXPECT_EQ(value(quarter, "data", 5, kVisits, 5, 4), 0);
    EXPECT_EQ(sizes(kVisits, false).size(), 5);
}

TEST_F(StructureEditTest, DeletedColumnShrinksTheMergedTitlesOverIt) {
    // Column 4 carries "Число должностей: ..." over 4..5; column 6 "Число физических лиц" over 6..7.
    const QString positions = titleText(kStaff, 4, 1);
    const QString occupied = titleText(kStaff, 5, 2);
    deleteDataColumn(main(), kStaff, 0, files());
    // The merged title that started on the deleted column keeps its text over the next one.
    EXPECT_EQ(titleText(kStaff, 4, 1), positions);
    EXPECT_EQ(title(kStaff, 4, 1).ec, 4);
    EXPECT_EQ(titleText(kStaff, 4, 2), occupied);
    EXPECT_EQ((TitleSpan{title(kStaff, 5, 1).sc, title(kStaff, 5, 1).sr, title(kStaff, 5, 1).ec, title(kStaff, 5, 1).er}),
              (TitleSpan{5, 1, 6, 1}));
    EXPECT_EQ(title(kStaff, 7, 1).sc, -1);
    EXPECT_EQ(shape(kStaff).colcount, 6);

    // A merged title that ends on the deleted column loses it.
    deleteDataColumn(main(), kStaff, 2, files());   // structure column 6
    EXPECT_EQ(title(kStaff, 5, 1).ec, 5);
}

TEST_F(StructureEditTest, DeletedRowTakesItsRulesTitlesSizesAndValues) {
    // Calculated cells of the network table: (0,0) (0,1) (1,0) (1,1) (2,0) (3,0), row rule (3,-1), column rule (-1,1).
    const QSet<QString> all = rules(kNetwork);
    ASSERT_TRUE(all.contains("3,-1"));
    ASSERT_TRUE(all.contains("-1,1"));
    deleteDataRow(main(), kNetwork, 1, files());
    EXPECT_EQ(rules(kNetwork), (QSet<QString>{"0,0", "0,1", "1,0", "2,0", "2,-1", "-1,1"}));
    EXPECT_EQ(shape(kNetwork).rowcount, 5);

    const double third = data(5, kStaff, 4 + 1, 7);   // СТР3 ГР4
    const QString name3 = titleText(kStaff, 1, 6);
    deleteDataRow(main(), kStaff, 1, files());
    EXPECT_EQ(titleText(kStaff, 1, 5), name3);
    EXPECT_EQ(data(5, kStaff, 5, 6), third);
    EXPECT_EQ(sizes(kStaff, true).size(), 7);
    EXPECT_EQ(shape(kStaff).rowcount, 7);
}

TEST_F(StructureEditTest, RulesFollowInsertedRowsAndColumns) {
    insertDataRow(main(), kNetwork, 1, Place::Before, 18, files());
    EXPECT_EQ(rules(kNetwork), (QSet<QString>{"0,0", "0,1", "2,0", "2,1", "3,0", "4,0", "4,-1", "-1,1"}));
    insertDataRow(main(), kNetwork, 0, Place::After, 18, files());
    EXPECT_EQ(rules(kNetwork), (QSet<QString>{"0,0", "0,1", "3,0", "3,1", "4,0", "5,0", "5,-1", "-1,1"}));
    insertDataColumn(main(), kNetwork, 0, Place::Before, 48, files());
    EXPECT_EQ(rules(kNetwork), (QSet<QString>{"0,1", "0,2", "3,1", "3,2", "4,1", "5,1", "5,-1", "-1,2"}));
    deleteDataColumn(main(), kNetwork, 2, files());
    EXPECT_EQ(rules(kNetwork), (QSet<QString>{"0,1", "3,1", "4,1", "5,1", "5,-1"}));
}

TEST_F(StructureEditTest, RulesNamingMovedLinesAreListed) {
    // Rule numbers are not changed by an edit; the rules and formulas that
    // name the table's lines from the changed one on are listed instead.
    struct Case {
        int ident;
        bool rows;
        int line;   // structure number
        QStringList expected;
    };
    const QList<Case> cases = {
        // Staff table, data row 2 (fixrows 3): "СТР[2]+СТР[3]" and the cycle СТР[1..5].
        {kStaff, true, 5, {"Контроль 1 Ф30 (1000)", "Контроль 3 Ф30 (1000)"}},
        // Column 5: own-table rules, the inter-table rule and both indicator formulas naming Ф30Т[1000]...ГР5.
        {kStaff, false, 5,
         {"Контроль 1 Ф30 (1000)", "Контроль 2 Ф30 (1000)", "Контроль 3 Ф30 (1000)", "Контроль 4 Ф30",
          "Показатели \"Обеспеченность кадрами\", строка 0, графа -1",
          "Показатели \"Обеспеченность кадрами\", строка 2, графа 1"}},
        // Nothing names column 8 or row 6.
        {kStaff, false, 8, {}},
        {kStaff, true, 9, {}},
        // Ф14 column 5: its own cycle and the calculated cells of Ф47 naming it,
        // "*ГР5" through the row rule it crosses.
        {sample::ids::TableF14Patients, false, 5,
         {"Контроль 7 Ф14 (1000)", "Расчет Ф47 (1000) ГР5", "Расчет Ф47 (1000) СТР1ГР5", "Расчет Ф47 (1000) СТР4",
          "Расчет Ф47 (1000) СТР4ГР4"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2 %3").arg(c.ident).arg(c.rows).arg(c.line).toStdString());
        QStringList where;
        for (const QString &l : rulesReferringFrom(main(), c.ident, c.rows, c.line)) where << l.section('\t', 0, 0);
        where.sort();
        QStringList expected = c.expected;
        expected.sort();
        EXPECT_EQ(where, expected);
    }
}

// A list is read as the rule run reads it: one the run cannot read ("1.5"
// is no list of rows) is listed rather than missed; blanks and lower case
// are a list.
TEST_F(StructureEditTest, RulesWithListsTheRunCannotReadAreListed) {
    const QString cols = "\"Код\",formid,tble,lft,reltion,rght,cycl,commnt";
    db::exec(main(), "insert into int_control (" + cols + ") values (901, 1, '(1000)', 'СТР[1.5]ГР[4]', '>=', '0', '', 'a')");
    db::exec(main(), "insert into int_control (" + cols + ") values (902, 1, '(1000)', 'стр [ 1 , 5 ]гр4', '>=', '0', '', 'b')");
    db::exec(main(), "insert into int_control (" + cols + ") values (903, 1, '(1000)', 'СТР 1 5', '>=', '0', '', 'c')");
    QStringList where;
    for (const QString &l : rulesReferringFrom(main(), kStaff, true, 9)) where << l.section('\t', 0, 0);
    EXPECT_EQ(where, QStringList{"Контроль 901 Ф30 (1000)"});
}

TEST_F(StructureEditTest, RefusedAndFailedChangesLeaveEverythingAsItWas) {
    // A table with one data row and one data column.
    db::exec(main(), "insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                     "values (1, '(3000)', 'Одна', 2, 2, 1, 1)");
    const int one = int(db::lastInsertId(main()));
    try {
        deleteDataRow(main(), one, 0, files());
        ADD_FAILURE();
    } catch (const db::Error &e) {
        EXPECT_EQ(e.message(), "Нельзя удалить последнюю строку данных");
    }
    try {
        deleteDataColumn(main(), one, 0, files());
        ADD_FAILURE();
    } catch (const db::Error &e) {
        EXPECT_EQ(e.message(), "Нельзя удалить последний столбец данных");
    }
    EXPECT_EQ(shape(one).rowcount, 2);
    // A table without data columns gets its first one.
    db::exec(main(), "update tables set colcount=1 where ident=?", {one});
    insertDataColumn(main(), one, 0, Place::Before, 48, files());
    EXPECT_EQ(shape(one).colcount, 2);
    EXPECT_EQ(title(one, 2, 1).text, " ");

    // A values file that refuses the change: the definitions stay as well.
    const QString before = snapshot(kStaff);
    db::exec(db::kData, "create trigger refuse before update on data begin select raise(abort, 'отказ'); end");
    EXPECT_THROW(insertDataRow(main(), kStaff, 0, Place::Before, 18, files()), db::Error);
    EXPECT_THROW(deleteDataColumn(main(), kStaff, 1, files()), db::Error);
    EXPECT_EQ(snapshot(kStaff), before);
    // Out of the table.
    EXPECT_THROW(insertDataRow(main(), kStaff, 5, Place::Before, 18, files()), db::Error);
    EXPECT_EQ(snapshot(kStaff), before);
    // A line beyond the largest table the program opens.
    db::exec(main(), "update tables set colcount=1000 where ident=?", {one});
    EXPECT_THROW(insertDataColumn(main(), one, 0, Place::Before, 48, files()), db::Error);
    EXPECT_EQ(shape(one).colcount, 1000);
}

TEST_F(StructureEditTest, TitleEditStoresTextCodeAndSizes) {
    TitleContent c{"Times New Roman", 12, true, false, "TR03", "Всего: врачей"};
    saveTitle(main(), kStaff, 1, 4, c, 2, "75,5");
    const Title t = title(kStaff, 1, 4);
    EXPECT_EQ(t.text, QString("Всего") + QChar(3) + " врачей");
    EXPECT_EQ(titleText(kStaff, 1, 4), "Всего: врачей");
    EXPECT_EQ(t.tchars, "TR03");
    EXPECT_EQ(t.font, "Times New Roman");
    EXPECT_EQ(t.size, 12);
    EXPECT_EQ(sizes(kStaff, true).value(4), 30.6);   // 12 * 1.275 * 2
    EXPECT_EQ(sizes(kStaff, false).value(1), 75.5);

    // No lines and no width: sizes stay.
    const auto rows = sizes(kStaff, true), cols = sizes(kStaff, false);
    c.text = "Врачи";
    saveTitle(main(), kStaff, 1, 4, c, 0, "");
    EXPECT_EQ(sizes(kStaff, true), rows);
    EXPECT_EQ(sizes(kStaff, false), cols);
    EXPECT_EQ(titleText(kStaff, 1, 4), "Врачи");

    // A width that is no number writes nothing at all.
    const QString before = snapshot(kStaff);
    c.text = "Другое";
    EXPECT_THROW(saveTitle(main(), kStaff, 1, 4, c, 3, "широкая"), db::Error);
    EXPECT_EQ(snapshot(kStaff), before);
    // Quotes in texts are data, not SQL.
    c.text = "\"Кавычки\" и 'апострофы'";
    c.fontName = "Arial \"Cyr\"";
    saveTitle(main(), kStaff, 1, 4, c, 0, "");
    EXPECT_EQ(titleText(kStaff, 1, 4), c.text);

    // A missing size record is created.
    db::exec(main(), "delete from \"columns\" where \"table\"=? and \"column\"=2", {kStaff});
    saveTitle(main(), kStaff, 2, 4, c, 0, "40");
    EXPECT_EQ(sizes(kStaff, false).value(2), 40);
}

TEST_F(StructureEditTest, RulesOnATableWithLowerCaseLettersAreListed) {
    // The table numbered "(1000а)": rules name it "Т[1000А]" once upper-cased, the stored rule key as typed, another
    // form's rule in lower case. Each is found as the engine finds it.
    db::exec(main(), "update tables set tablen='(1000а)' where ident=?", {kStaff});
    db::exec(main(), "update int_control set tble='(1000а)' where tble='(1000)' and formid=1");
    db::exec(main(), "update int_control set lft=replace(lft, 'Т[1000]', 'т[1000а]'), "
                     "rght=replace(rght, 'Т[1000]', 'т[1000а]')");
    QStringList where;
    for (const QString &l : rulesReferringFrom(main(), kStaff, false, 5)) where << l.section('\t', 0, 0);
    for (const char *rule : {"Контроль 1 Ф30 (1000а)", "Контроль 2 Ф30 (1000а)", "Контроль 3 Ф30 (1000а)",
                             "Контроль 4 Ф30"})
        EXPECT_TRUE(where.contains(QString::fromUtf8(rule))) << rule << ": " << where.join('|').toStdString();
}

TEST_F(StructureEditTest, RulesNamingAFormWithABlankInItsNameAreListed) {
    // The notation reads a form's name up to its table mark, blanks inside and before the mark included.
    db::exec(main(), "update forms set formname='Ф 14' where id=?", {sample::ids::FormF14});
    db::exec(main(), "update int_control set lft='Ф 14Т[1000]СТР[1]ГР[4]', rght='Ф30 Т[2000]СТР[1]ГР[4]' where \"Код\"=?",
             {sample::ids::RuleDischargedVsVisits});
    QStringList where;
    for (const QString &l : rulesReferringFrom(main(), sample::ids::TableF14Patients, false, 4))
        where << l.section('\t', 0, 0);
    EXPECT_TRUE(where.contains("Контроль 6")) << where.join('|').toStdString();
    where.clear();
    for (const QString &l : rulesReferringFrom(main(), kVisits, false, 4)) where << l.section('\t', 0, 0);
    EXPECT_TRUE(where.contains("Контроль 6")) << where.join('|').toStdString();
}
