// Conversion of control-book references into our notation: Links.mdb mapping, renumbering, splitting of sides,
// classification, the common cycle, tidying of sides and list compaction.
#include "support/ZenkorLinks.h"
#include "controls/ZenkorImporter.h"
#include "engine/LinksDb.h"
#include "platform/Database.h"
#include "support/Fixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Imp = TControlMatchImporter;

// Links.mdb for external form 030: table 1000 (project Ф30 (1000)) and the swapped table 2000.
QString makeLinks(const QString &folder) {
    return makeLinksAt(folder + "/Links.mdb",
                       {"insert into forms (nf, mf) values ('Ф30', '03000')",
                        "insert into tables (msk, orv, inv) values ('030001000', 'Ф30(1000)', 0), ('030002000', 'Ф30(2000)', 1)",
                        "insert into \"rows\" (mskrow, orvrow) values ('030001000003', 10), ('030001000005', 1), "
                        "('0300010007', 14), ('030001000008', 20), ('0300010008', 21), ('030002000001', 7)",
                        "insert into cols (mskcol, orvcol) values ('03000100001', 4), ('03000100002', 5), "
                        "('03000100003', 6), ('03000200001', 2)"});
}

TZenkorFormula ref(const QString &form, const QString &table, const QString &rows, const QString &cols) {
    TZenkorFormula f;
    f.FormCode = form;
    f.Table = table;
    f.Rows = rows;
    f.Cols = cols;
    return f;
}

} // namespace

TEST(ZenkorRenumber, MapsThroughLinksRowsAndColumns) {
    QTemporaryDir dir;
    Imp imp(QString(), nullptr, false, makeLinks(dir.path()));
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("5", "030", 1, "1000"), "1");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("005", "030", 1, "(1000)"), "1") << "leading zeros do not matter";
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("8", "030", 1, "1000"), "21") << "later row with the same key wins";
    // a range stands for every book number from its start to its end, each mapped on its own (unmapped 4 and 6 stay);
    // the result is the canonical list of the mapped numbers, in either direction
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("3:7", "030", 1, "1000"), "1,4,6,10,14");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("3П7", "030", 1, "1000"), "1,4,6,10,14");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("3..5", "030", 1, "1000"), "1,4,10");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("8:3", "030", 1, "1000"), "1,4,6,10,14,21");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("5:5", "030", 1, "1000"), "1");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1.3.5", "030", 1, "1000"), "1,10") << "unmapped 1 stays";
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("2:7", "030", 1, "1000"), "1..2,4,6,10,14") << "unmapped ends stay";
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("2П7", "030", 1, "1000"), "1..2,4,6,10,14");
    EXPECT_EQ(imp.ConvertZenkorColNumbers("1,3", "030", 1, "1000"), "4,6");
    EXPECT_EQ(imp.ConvertZenkorColNumbers("1П3", "030", 1, "1000"), "1П3") << "П is no range mark in columns";
    // In a sum every number of a range is mapped on its own and the sum stays a sum: no list the cycle could take.
    EXPECT_EQ(imp.ConvertNumberSpec("3П7", true, "030", 1, "1000", "СТР", "1000"), "СТР[1+4+6+10+14]");
    EXPECT_EQ(imp.ConvertNumberSpec("2П7", true, "030", 1, "1000", "СТР", "1000"), "СТР[1П2+4+6+10+14]");
    EXPECT_EQ(imp.ConvertNumberSpec("3:5+8", true, "030", 1, "1000", "СТР", "1000"), "СТР[1+4+10+21]");
    EXPECT_EQ(Imp::CompactRowColLists("Т(1000)СТР[1П2+4+6+10+14]ГР[3]"), "Т(1000)СТР[1..2,4,6,10,14]ГР[3]");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1О", "030", 1, "1000"), "1О") << "junk in a number: left as written";

    // swapped table: rows through cols, columns through rows
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1", "030", 1, "2000"), "2");
    EXPECT_EQ(imp.ConvertZenkorColNumbers("1", "030", 1, "2000"), "7");

    // no form or table: only the notation changes; no code or mapping: unchanged
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1:3.5", "030", 0, "1000"), "1..3,5");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1:3", "", 1, "1000"), "1:3");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("1:3", "047", 1, "1000"), "1..3");
    EXPECT_EQ(imp.ConvertZenkorRowNumbers("5", "0%", 1, "1000"), "5") << "codes are no wildcards";

    Imp noFile(QString(), nullptr, false, dir.path() + "/missing/Links.mdb");
    EXPECT_EQ(noFile.ConvertZenkorRowNumbers("3:7", "030", 1, "1000"), "3:7");
}

TEST(ZenkorRenumber, ExpandRangeListCanonicalForm) {
    EXPECT_EQ(Imp::ExpandRangeList("5,1..3,2,x"), "1..3,5");
    EXPECT_EQ(Imp::ExpandRangeList("4..2"), "4..2") << "no valid number: unchanged";
    EXPECT_EQ(Imp::ExpandRangeList("5..9,1..3,4,7"), "1..9");
    EXPECT_EQ(Imp::ExpandRangeList("2000000000,1..1999999999"), "1..2000000000") << "wide ranges stay cheap";
}

TEST(ZenkorReference, ConvertsThroughLinksAndTheFormMap) {
    SampleFixture fx;
    fx.reloadCaches();
    QTemporaryDir dir;
    NameValueList formMap;
    formMap.setValue("03000", "Ф30");
    Imp imp(db::kMain, &formMap, false, makeLinks(dir.path()));
    struct Case { const char *what; TZenkorFormula source; QString formName, table; int mode; QString expected; };
    const QList<Case> cases = {
        {"one cell", ref("030", "1000", "5", "3"), "", "", 0, "Ф30Т[1000]СТР[1]ГР[6]"},
        // A list keeps the book's order, so that its positions pair with the other lists of the line as the book's do.
        {"ranges", ref("030", "1000", "3:7", "1,2"), "Ф30", "", 1, "Ф30Т[1000]СТР[10,4,1,6,14]ГР[4..5]"},
        {"a descending range", ref("030", "1000", "5", "2:1"), "Ф30", "", 1, "Ф30Т[1000]СТР[1]ГР[5,4]"},
        {"row arithmetic: one whole reference per row", ref("030", "1000", "4-5", "3"), "", "", 0,
         "Ф30Т[1000]СТР[4]ГР[6]-Ф30Т[1000]СТР[1]ГР[6]"},
        {"row arithmetic with a product", ref("030", "1000", "3 - 4 x 5", "3"), "", "", 0,
         "Ф30Т[1000]СТР[10]ГР[6]-Ф30Т[1000]СТР[4]ГР[6]*Ф30Т[1000]СТР[1]ГР[6]"},
        {"quoted rows are our own numbers", ref("030", "1000", "'5'", "3"), "", "", 0, "Ф30Т[1000]СТР[5]ГР[6]"},
        {"quoted columns are our own numbers", ref("030", "1000", "5", "'9'"), "", "", 0, "Ф30Т[1000]СТР[1]ГР[9]"},
        {"column arithmetic: every term keeps the rows", ref("030", "1000", "5", "1 - 3"), "", "", 0,
         "Ф30Т[1000]СТР[1]ГР[4]-Ф30Т[1000]СТР[1]ГР[6]"},
        {"table override and an empty column number list: numbers looked up by the book's table",
         ref("030", "9999", "5", ""), "", "1000", 0, "Ф30Т[1000]СТР[5]"},
        {"a form the program lacks keeps the book's code", ref("077", "1000", "5", ""), "", "", 0, "Ф077Т[1000]СТР[5]"},
    };
    for (const Case &c : cases) {
        QString out = "old";
        imp.ConvertZenkorReference(c.source, c.formName, c.table, c.mode, out);
        EXPECT_EQ(out, c.expected) << c.what;
    }
}

TEST(ZenkorReference, WithoutFormIdOnlyTheNotationChanges) {
    QTemporaryDir dir;
    Imp imp(QString(), nullptr, false, dir.path() + "/none.mdb");
    QString out;
    imp.ConvertZenkorReference(ref("030", "1000", "1:3", "3"), "", "", 0, out);
    EXPECT_EQ(out, "Ф030Т[1000]СТР[1..3]ГР[3]");
    imp.ConvertZenkorReference(ref("030", "", "1", "2"), "", "", 0, out);
    EXPECT_EQ(out, "Ф030СТР[1]ГР[2]");

    // column number lists
    EXPECT_EQ(imp.ConvertNumberSpec("1,2-3", false, "030", 0, "1000", "ГР", "1000"), "ГР[1..2]-ГР[3]");
    EXPECT_EQ(imp.ConvertNumberSpec(" 1 : 3 ", false, "030", 0, "1000", "ГР", "1000"), "ГР[1..3]");
    // П in rows is a sum as + is; sums keep their separators inside one group until the lists are compacted
    EXPECT_EQ(imp.ConvertNumberSpec("3П7", true, "030", 0, "1000", "СТР", "1000"), "СТР[3П7]");
    EXPECT_EQ(imp.ConvertNumberSpec("7П3+9", true, "030", 0, "1000", "СТР", "1000"), "СТР[3П7+9]");
    EXPECT_EQ(imp.ConvertNumberSpec("1+2-4", false, "030", 0, "1000", "ГР", "1000"), "ГР[1+2]-ГР[4]");
}

// Operators, brackets and factors between references are covered by the
// import run; here the commas that keep a minus inside one reference.
TEST(ZenkorSides, MinusInsideAReferenceSplitsNothing) {
    for (const QString &side : {QStringLiteral("030,1000,1,3-4"), QStringLiteral("030,1000,'1-2,3,4,5',3")})
        EXPECT_EQ(Imp::SplitSideIntoReferences(side), QStringList{side});
    EXPECT_EQ(Imp::SplitSideIntoReferences("030,1000,1-2,3-030,1000,4,3"),
              (QStringList{"030,1000,1-2,3", "-", "030,1000,4,3"}));
    TZenkorFormula f;
    ASSERT_TRUE(Imp::SplitReference(" 030 , 1000 , 1-2 , 3,4 ", f));
    EXPECT_EQ(QStringList({f.FormCode, f.Table, f.Rows, f.Cols}), QStringList({"030", "1000", "1-2", "3,4"}));
    EXPECT_FALSE(Imp::SplitReference("030,1000,5", f));
}

TEST(ZenkorCycle, CommonColumnOrRowList) {
    QString cycle, kind;
    QStringList out;
    ASSERT_TRUE(Imp::ExtractCommonCycle({"Ф030Т[1000]СТР[5]ГР[1,2,3]", "Ф030Т[1000]СТР[5]ГР[1..3]"}, cycle, kind, out));
    EXPECT_EQ(kind, "ГР");
    EXPECT_EQ(cycle, "ГР[1..3]");
    EXPECT_EQ(out, (QStringList{"Ф030Т[1000]СТР[5]", "Ф030Т[1000]СТР[5]"}));

    ASSERT_TRUE(Imp::ExtractCommonCycle({"Ф030Т[1000]СТР[1,3,5]ГР[2]", "Ф030Т[1000]СТР[1,3,5]ГР[2]"}, cycle, kind, out));
    EXPECT_EQ(kind, "СТР");
    EXPECT_EQ(cycle, "СТР[1,3,5]");
    EXPECT_EQ(out, (QStringList{"Ф030Т[1000]ГР[2]", "Ф030Т[1000]ГР[2]"}));

    // equal counts favour the columns
    ASSERT_TRUE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1,3]ГР[2,4]"}, cycle, kind, out));
    EXPECT_EQ(kind, "ГР");
    EXPECT_EQ(out, (QStringList{"ФxТ[1]СТР[1,3]"}));

    // a cycle only where every reference takes it: one with columns (rows) of its own, a sum of them or
    // arithmetic over them leaves the lists in their references
    for (const QStringList &items : {QStringList{"ФxТ[1]СТР[1]ГР[3]-ФxТ[1]СТР[1]ГР[4]", "ФxТ[1]СТР[2]ГР[1,2]"},
                                     QStringList{"ФxТ[1]СТР[1]ГР[3]", "ФxТ[1]СТР[2]ГР[1,2]", "ФxТ[1]СТР[3]ГР[1,2]"},
                                     QStringList{"ФxТ[1]СТР[1..2]ГР[3]", "ФxТ[1]СТР[4]ГР[6]-ФxТ[1]СТР[5]ГР[6]"},
                                     QStringList{"ФxТ[1]СТР[3..4]ГР[4]", "ФxТ[1]СТР[1+5]ГР[6]"}})
        EXPECT_FALSE(Imp::ExtractCommonCycle(items, cycle, kind, out)) << items.join(" ; ").toStdString();
    // row arithmetic whose terms all carry the column list still gives the cycle
    ASSERT_TRUE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1]ГР[1,2]-ФxТ[1]СТР[2]ГР[1,2]", "ФxТ[1]СТР[3]ГР[1..2]"}, cycle,
                                        kind, out));
    EXPECT_EQ(out, (QStringList{"ФxТ[1]СТР[1]-ФxТ[1]СТР[2]", "ФxТ[1]СТР[3]"}));

    // single cells and disagreeing lists give no cycle
    EXPECT_FALSE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1]ГР[3]", "ФxТ[1]СТР[2]ГР[3]"}, cycle, kind, out));
    EXPECT_TRUE(cycle.isEmpty());
    EXPECT_TRUE(kind.isEmpty());
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1]ГР[1,2]", "ФxТ[1]СТР[1]ГР[3,4]"}, cycle, kind, out));
    EXPECT_FALSE(Imp::ExtractCommonCycle({}, cycle, kind, out));
    // a book's huge range is read as an interval, not number by number, and
    // a list is a list with or without its brackets
    ASSERT_TRUE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1..999999999]ГР[2]", "ФxТ[1]СТР1..999999999ГР[3]"}, cycle,
                                        kind, out));
    EXPECT_EQ(cycle, "СТР[1..999999999]");
    EXPECT_EQ(out, (QStringList{"ФxТ[1]ГР[2]", "ФxТ[1]ГР[3]"}));
    ASSERT_TRUE(Imp::ExtractCommonCycle({"ФxТ[1]СТР1..20000ГР[2]", "ФxТ[1]СТР[1..20000]ГР[3]"}, cycle, kind, out));
    EXPECT_EQ(cycle, "СТР[1..20000]");
    // lists in sum or descending notation are no lists here: no cycle, no failure
    EXPECT_FALSE(Imp::ExtractCommonCycle({"ФxТ[1]СТР[1+2]ГР[3П5]", "ФxТ[1]СТР[3..1]ГР[1]"}, cycle, kind, out));
}

TEST(ZenkorCompact, ListNotationAndColumnGroups) {
    EXPECT_EQ(Imp::CompactRowColLists("Т(1000)СТР[1]ГР[3П5]"), "Т(1000)СТР[1]ГР[3..5]");
    EXPECT_EQ(Imp::CompactRowColLists("Т(1000)СТР[1+2]ГР[3] - 5"), "Т(1000)СТР[1,2]ГР[3] - 5");

    EXPECT_EQ(Imp::CompactRowColLists("Т(1)СТР[1]ГР[5]+Т(1)СТР[1]ГР[3]+Т(1)СТР[1]ГР[4]"), "Т(1)СТР[1]ГР[3..5]");
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1]ГР[7]+СТР[1]ГР[1]+СТР[1]ГР[2]+СТР[1]ГР[3]"), "СТР[1]ГР[1..3,7]");
    // other terms keep their places; a group forms where its first term stood
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1]ГР[3] + СТР[2]ГР[3] + СТР[1]ГР[4]"), "СТР[1]ГР[3..4]+СТР[2]ГР[3]");

    // not grouped: other letter case, other row list, a range, a term that goes on
    EXPECT_EQ(Imp::CompactRowColLists("т(1)СТР[1]ГР[3] + Т(1)СТР[1]ГР[4]"), "т(1)СТР[1]ГР[3]+Т(1)СТР[1]ГР[4]");
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1..2]ГР[3]+СТР[1]ГР[4]"), "СТР[1..2]ГР[3]+СТР[1]ГР[4]");
    // only summands are taken together; a repeated one stays a term of its own
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1]ГР[3]-СТР[2]ГР[1] + СТР[1]ГР[4]"), "СТР[1]ГР[3..4]-СТР[2]ГР[1]");
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1]ГР[3]+СТР[1]ГР[3]+СТР[1]ГР[4]"), "СТР[1]ГР[3..4]+СТР[1]ГР[3]");
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1]ГР[3]-СТР[1]ГР[4]-СТР[1]ГР[5]"), "СТР[1]ГР[3]-СТР[1]ГР[4]-СТР[1]ГР[5]");
    EXPECT_EQ(Imp::CompactRowColLists("2*СТР[1]ГР[3]+СТР[1]ГР[4]+(СТР[1]ГР[5]+x)"),
              "2*СТР[1]ГР[3]+СТР[1]ГР[4]+(СТР[1]ГР[5]+x)");
    EXPECT_EQ(Imp::CompactRowColLists("СТР[1ГР[3"), "СТР[1ГР[3");
    EXPECT_EQ(Imp::CompactRowColLists("+ СТР[1]ГР[3] +"), "+ СТР[1]ГР[3] +") << "fewer than two terms";
}
