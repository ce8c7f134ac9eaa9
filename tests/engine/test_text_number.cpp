#include "engine/NumberFormat.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(NumberFormat, TwoDecimalsTiesAwayFromZero) {
    EXPECT_EQ(num::fixed2(1), "1.00");
    EXPECT_EQ(num::fixed2(2.005), "2.01");
    EXPECT_EQ(num::fixed2(2.345), "2.35");
    EXPECT_EQ(num::fixed2(2.675), "2.68");
    EXPECT_EQ(num::fixed2(-2.345), "-2.35");
    EXPECT_EQ(num::fixed2(-0.001), "0.00");
    EXPECT_EQ(num::fixed2(1.0 / 3.0 * 3.0), "1.00");
}

TEST(NumberFormat, GeneralAndParse) {
    EXPECT_EQ(num::general(123456789012.25), "123456789012.25");
    double v = 0;
    EXPECT_TRUE(num::parse("12,5", v));
    EXPECT_DOUBLE_EQ(v, 12.5);
    EXPECT_FALSE(num::parse("", v));
    EXPECT_EQ(num::roundInt(2.5), 3);
    EXPECT_EQ(num::roundInt(-2.5), -3);
}

TEST(TextUtil, NamesSortInRussianOrderWithoutCase) {
    // Ё sorts with Е (Е first on a tie); numbers inside names by value.
    QStringList names{"Ёж", "Банан", "абрикос", "ель", "Жук", "ёлка", "Елка", "елка", "Zeta", "alpha", "10 ЦРБ", "я",
                      "ЦРБ №10", "ЦРБ №2", "ЦРБ №1а", "ЦРБ №02", "9 ЦРБ"};
    text::sortNames(names);
    EXPECT_EQ(names, (QStringList{"9 ЦРБ", "10 ЦРБ", "alpha", "Zeta", "абрикос", "Банан", "Ёж", "Елка", "елка", "ёлка",
                                  "ель", "Жук", "ЦРБ №1а", "ЦРБ №02", "ЦРБ №2", "ЦРБ №10", "я"}));
    // The databases sort with the same order.
    QTemporaryDir dir;
    {
        db::ScopedConnection c(dir.filePath("n.mdb"), db::OpenMode::Create);
        db::exec(c.db(), "create table t (commnt text)");
        for (const QString &n : names) db::exec(c.db(), "insert into t (commnt) values (?)", {n});
        QStringList back;
        for (const QVariant &v : db::column(c.db(), "select commnt from t order by commnt collate NAMES desc"))
            back.prepend(v.toString());
        EXPECT_EQ(back, names);
    }
    EXPECT_EQ(text::tabsToBlanks("Показатель\tздоровья\t"), "Показатель здоровья ");
}

TEST(TextUtil, CodesAndLists) {
    EXPECT_EQ(text::decodeColon(text::encodeColon("a:b")), "a:b");
    EXPECT_EQ(text::decodeLineBreaks(text::encodeLineBreaks("a\r\nb")), "a\r\nb");
    EXPECT_EQ(text::parseIdList("1,2,3,"), (QList<qint64>{1, 2, 3}));
    EXPECT_FALSE(text::isIdList("1,x"));
    EXPECT_FALSE(text::isIdList(""));
}
