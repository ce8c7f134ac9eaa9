#include "engine/NumberFormat.h"
#include "engine/TextUtil.h"

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
    QStringList names{"Ёж", "Банан", "абрикос", "ель", "Жук", "ёлка", "Елка", "елка", "Zeta", "alpha", "10 ЦРБ", "я"};
    text::sortNames(names);
    EXPECT_EQ(names, (QStringList{"10 ЦРБ", "alpha", "Zeta", "абрикос", "Банан", "Елка", "елка", "ель", "Ёж", "ёлка",
                                  "Жук", "я"}));
    EXPECT_EQ(text::tabsToBlanks("Показатель\tздоровья\t"), "Показатель здоровья ");
}

TEST(TextUtil, CodesAndLists) {
    EXPECT_EQ(text::decodeColon(text::encodeColon("a:b")), "a:b");
    EXPECT_EQ(text::decodeLineBreaks(text::encodeLineBreaks("a\r\nb")), "a\r\nb");
    EXPECT_EQ(text::parseIdList("1,2,3,"), (QList<qint64>{1, 2, 3}));
    EXPECT_FALSE(text::isIdList("1,x"));
    EXPECT_FALSE(text::isIdList(""));
}
