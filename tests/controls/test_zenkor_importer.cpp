// Control-book lines, the importer object's maps and form-code lookups.
#include "controls/ZenkorImporter.h"
#include "core/LinksDb.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "support/Fixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

ZenkorControlLine parse(const QString &line, bool *ok = nullptr) {
    TControlMatchImporter imp(QString(), nullptr, false, QString());
    ZenkorControlLine out;
    const bool r = imp.ParseControlLine(line, out);
    if (ok) *ok = r;
    return out;
}

} // namespace

TEST(ZenkorLine, HeadFieldsFollowTheFirstComma) {
    bool ok = false;
    // first comma at position 16
    ZenkorControlLine l = parse("  01000123AB03000,1000,5,3 >= 03000,1000,6,3  ", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.bookNumber, "01");
    EXPECT_EQ(l.conditionNumber, "000123");
    EXPECT_EQ(l.errorType, "AB");
    EXPECT_EQ(l.left, "03000,1000,5,3");
    EXPECT_EQ(l.relation, ">=");
    EXPECT_EQ(l.right, "03000,1000,6,3");
    EXPECT_EQ(l.lineId, "01000123AB03");
    EXPECT_TRUE(l.formCode.isEmpty());
    EXPECT_TRUE(l.tableNumber.isEmpty());

    // comma at position 10: one-character error type, expression from the comma
    l = parse("01000123A,1000,5,3=7", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.errorType, "A");
    EXPECT_EQ(l.left, ",1000,5,3");
    EXPECT_EQ(l.right, "7");

    // comma at position 9: no error type
    l = parse("01000123,1000,5,3=7", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.bookNumber, "01");
    EXPECT_EQ(l.errorType, "");
    EXPECT_EQ(l.left, ",1000,5,3");

    // comma at position 11: the expression begins with it
    l = parse("01000123AB,1,2,3<>4", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.errorType, "AB");
    EXPECT_EQ(l.left, ",1,2,3");
    EXPECT_EQ(l.relation, "<>");

    // comma at position 5: no head, the whole line is the expression
    l = parse("0100,1000,5,3=7", &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(l.bookNumber.isEmpty());
    EXPECT_TRUE(l.conditionNumber.isEmpty());
    EXPECT_TRUE(l.errorType.isEmpty());
    EXPECT_EQ(l.left, "0100,1000,5,3");
    EXPECT_EQ(l.lineId, "0100,1000,5,");
}

TEST(ZenkorLine, ShortLinesAndIdentifierPadding) {
    bool ok = false;
    ZenkorControlLine l = parse("1,2=3,4", &ok);   // 7 characters
    ASSERT_TRUE(ok);
    EXPECT_TRUE(l.bookNumber.isEmpty());
    EXPECT_EQ(l.left, "1,2");
    EXPECT_EQ(l.right, "3,4");
    EXPECT_EQ(l.lineId, "1,2=3,400000");

    l = parse("01,2,3=45", &ok);                   // 9 characters
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.lineId, "01,2,3=45000");
}

TEST(ZenkorLine, RelationChosenByListOrderAndTrailingStar) {
    bool ok = false;
    ZenkorControlLine l = parse("0100012301x,y,z,w<5>=7", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.relation, ">=");
    EXPECT_EQ(l.left, "x,y,z,w<5");
    EXPECT_EQ(l.right, "7");

    l = parse("0100012301a,b,c,d<=e,f,g,h**", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.relation, "<=");
    EXPECT_EQ(l.right, "e,f,g,h*");

    l = parse("0100012301a,b,c,d<e,f,g,h", &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(l.relation, "<");
}

TEST(ZenkorLine, LinesThatYieldNoRule) {
    bool ok = true;
    ZenkorControlLine l = parse("   ", &ok);
    EXPECT_FALSE(ok);
    EXPECT_TRUE(l.lineId.isEmpty());

    // eight characters or more and no comma: the head stays, no expression
    l = parse("01000123AB 5 = 3", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(l.bookNumber, "01");
    EXPECT_EQ(l.conditionNumber, "000123");
    EXPECT_TRUE(l.left.isEmpty());

    l = parse("01000123AB03000,1000,5,3", &ok);   // no relation
    EXPECT_FALSE(ok);
    EXPECT_TRUE(l.relation.isEmpty());
    EXPECT_TRUE(l.lineId.isEmpty());

    // outputs of an earlier line never leak into the next
    TControlMatchImporter imp(QString(), nullptr, false, QString());
    ZenkorControlLine out;
    ASSERT_TRUE(imp.ParseControlLine("01000123AB03000,1000,5,3=1", out));
    EXPECT_FALSE(imp.ParseControlLine("", out));
    EXPECT_TRUE(out.left.isEmpty());
    EXPECT_TRUE(out.bookNumber.isEmpty());
}

TEST(ZenkorImporterObject, FormCodesAndNameValueLists) {
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode("03000"), "03000");
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode(" 030 "), "03000");
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode("1"), "00100");
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode("12"), "01200");
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode("0300"), "03000");
    EXPECT_EQ(TControlMatchImporter::NormalizeFormCode("1234567"), "12345");

    NameValueList list;
    list.setValue("Ф30", "03000");
    list.setValue("ф30", "03001");   // same name without regard to case: replaced
    list.setValue("Ф14", "01400");
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.value("Ф30"), "03001");
    EXPECT_EQ(list.nameAt(0), "Ф30");
    EXPECT_TRUE(list.value("Ф47").isEmpty());

    TControlMatchImporter imp(db::kMain, &list, false, QString());
    EXPECT_FALSE(imp.MapsLoaded);
    EXPECT_EQ(imp.linksFile(), paths::withSlash(paths::programFolder()) + "Links.mdb");
    imp.LinksPath = "/x/2024/Links.mdb";
    EXPECT_EQ(imp.linksFile(), "/x/2024/Links.mdb");
}

TEST(ZenkorImporterObject, FormCodeToFormIdThroughTheWindowMap) {
    SampleFixture fx;
    fx.reloadCaches();
    NameValueList map;
    map.setValue("03000", "Ф30");
    map.setValue("777", "Нет такой");
    TControlMatchImporter imp(db::kMain, &map, false, QString());
    QString name;
    EXPECT_EQ(imp.FormCodeToFormId("030", name), 1);
    EXPECT_EQ(name, "Ф30");
    EXPECT_EQ(imp.FormCodeToFormId(" 03000", name), 1);
    EXPECT_EQ(imp.FormCodeToFormId("777", name), -1) << "named form missing from the main database";
    EXPECT_EQ(name, "Нет такой");
    EXPECT_EQ(imp.FormCodeToFormId("99", name), 0);
    EXPECT_TRUE(name.isEmpty());

    TControlMatchImporter noMap(db::kMain, nullptr, false, QString());
    EXPECT_EQ(noMap.FormCodeToFormId("030", name), 0);
}

TEST(ZenkorImporterObject, LinksMapsLoadOnceAndMissingFileLeavesThemEmpty) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Links.mdb");
    links::createLinksDatabase(path);
    {
        db::ScopedConnection c(path, db::OpenMode::ReadWrite);
        const QSqlDatabase d = c.db();
        db::exec(d, "insert into forms (nf, mf) values (?, ?)", {" Ф30 ", "03000 "});
        db::exec(d, "insert into forms (nf, mf) values (?, ?)", {"Ф14", ""});
        db::exec(d, "insert into tables (msk, orv, inv) values (?, ?, 0)", {"030001000", "Ф30(1000)"});
        db::exec(d, "insert into tables (msk, orv, inv) values (?, ?, 0)", {"030001000", "Ф30(1001)"});
        db::exec(d, "insert into tables (msk, orv, inv) values (?, ?, 0)", {"030003000", "Ф30"});
    }
    TControlMatchImporter imp(QString(), nullptr, false, path);
    imp.LoadLinksMaps();
    EXPECT_TRUE(imp.MapsLoaded);
    EXPECT_EQ(imp.LinksFormMap.count(), 1);
    EXPECT_EQ(imp.LinksFormMap.value("Ф30"), "03000");
    EXPECT_EQ(imp.LinksTableMap.value("030001000"), "Ф30(1001)") << "a later row replaces an earlier one";

    EXPECT_EQ(imp.MapTableName("1000", "030"), "(1001)");
    EXPECT_EQ(imp.MapTableName("3000", "030"), "(3000)") << "value without a parenthesis";
    EXPECT_EQ(imp.MapTableName("2000", "030"), "(2000)") << "unknown table";
    EXPECT_EQ(imp.MapTableName("", "030"), "");

    {
        db::ScopedConnection c(path, db::OpenMode::ReadWrite);
        db::exec(c.db(), "insert into forms (nf, mf) values ('Ф47', '04700')");
    }
    imp.LoadLinksMaps();
    EXPECT_FALSE(imp.LinksFormMap.contains("Ф47")) << "the maps are read once";

    TControlMatchImporter missing(QString(), nullptr, false, dir.filePath("none/Links.mdb"));
    missing.LoadLinksMaps();
    EXPECT_TRUE(missing.MapsLoaded);
    EXPECT_TRUE(missing.LinksTableMap.isEmpty());
    EXPECT_EQ(missing.MapTableName("1000", "030"), "(1000)");
}
