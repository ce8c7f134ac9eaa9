// Control-book lines, the importer object's maps and form-code lookups.
#include "support/ZenkorLinks.h"
#include "controls/ZenkorImporter.h"
#include "engine/LinksDb.h"
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

TEST(ZenkorLine, HeadRelationAndIdentifierOfRuleLines) {
    // Fields before the first comma: book (2), condition number (6), error type (what is left, at most 2); the
    // identifier is the first 12 characters, padded with zeros.
    struct Case { const char *what; QString line; QString book, condition, errorType, left, relation, right, lineId; };
    const QList<Case> cases = {
        {"comma at position 16", "  01000123AB03000,1000,5,3 >= 03000,1000,6,3  ",
         "01", "000123", "AB", "03000,1000,5,3", ">=", "03000,1000,6,3", "01000123AB03"},
        {"comma at 10: one-character error type, expression from the comma", "01000123A,1000,5,3=7",
         "01", "000123", "A", ",1000,5,3", "=", "7", "01000123A,10"},
        {"comma at 9: no error type", "01000123,1000,5,3=7", "01", "000123", "", ",1000,5,3", "=", "7", "01000123,100"},
        {"comma at 11: the expression begins with it", "01000123AB,1,2,3<>4",
         "01", "000123", "AB", ",1,2,3", "<>", "4", "01000123AB,1"},
        {"comma at 5: no head, the whole line is the expression", "0100,1000,5,3=7",
         "", "", "", "0100,1000,5,3", "=", "7", "0100,1000,5,"},
        {"short lines are padded", "1,2=3,4", "", "", "", "1,2", "=", "3,4", "1,2=3,400000"},
        {"the first relation of the list wins", "0100012301x,y,z,w<5>=7",
         "01", "000123", "01", "x,y,z,w<5", ">=", "7", "0100012301x,"},
        {"a doubled trailing star keeps one", "0100012301a,b,c,d<=e,f,g,h**",
         "01", "000123", "01", "a,b,c,d", "<=", "e,f,g,h*", "0100012301a,"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        bool ok = false;
        const ZenkorControlLine l = parse(c.line, &ok);
        ASSERT_TRUE(ok);
        EXPECT_EQ(l.bookNumber, c.book);
        EXPECT_EQ(l.conditionNumber, c.condition);
        EXPECT_EQ(l.errorType, c.errorType);
        EXPECT_EQ(l.left, c.left);
        EXPECT_EQ(l.relation, c.relation);
        EXPECT_EQ(l.right, c.right);
        EXPECT_EQ(l.lineId, c.lineId);
        EXPECT_TRUE(l.formCode.isEmpty());
        EXPECT_TRUE(l.tableNumber.isEmpty());
    }
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

TEST(ZenkorImporterObject, NameValueListsIgnoreLetterCaseAndSurviveRemovals) {
    NameValueList list;
    list.setValue("Ф30", "03000");
    list.setValue("ф30", "03001");   // same name without regard to case: replaced
    list.setValue("Ф14", "01400");
    EXPECT_EQ(list.value("Ф30"), "03001");
    list.remove("ф30");
    EXPECT_EQ(list.value("Ф14"), "01400") << "look-ups still right after a removal";
    EXPECT_TRUE(list.value("Ф30").isEmpty());
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
}

TEST(ZenkorImporterObject, LinksMapsLoadOnceAndMissingFileLeavesThemEmpty) {
    QTemporaryDir dir;
    const QString path = makeLinksAt(dir.filePath("Links.mdb"),
                                     {"insert into forms (nf, mf) values (' Ф30 ', '03000 '), ('Ф14', '')",
                                      "insert into tables (msk, orv, inv) values ('030001000', 'Ф30(1000)', 0), "
                                      "('030001000', 'Ф30(1001)', 0), ('030003000', 'Ф30', 0)"});
    TControlMatchImporter imp(QString(), nullptr, false, path);
    imp.LoadLinksMaps();
    EXPECT_EQ(imp.LinksFormMap.count(), 1);
    EXPECT_EQ(imp.LinksFormMap.value("Ф30"), "03000");
    EXPECT_EQ(imp.LinksTableMap.value("030001000"), "Ф30(1001)") << "a later row replaces an earlier one";

    EXPECT_EQ(imp.MapTableName("1000", "030"), "(1001)");
    EXPECT_EQ(imp.MapTableName("3000", "030"), "(3000)") << "value without a parenthesis";
    EXPECT_EQ(imp.MapTableName("2000", "030"), "(2000)") << "unknown table";
    EXPECT_EQ(imp.MapTableName("", "030"), "");

    TControlMatchImporter missing(QString(), nullptr, false, dir.filePath("none/Links.mdb"));
    missing.LoadLinksMaps();
    EXPECT_TRUE(missing.LinksTableMap.isEmpty());
    EXPECT_EQ(missing.MapTableName("1000", "030"), "(1000)");
}
