#include "engine/NumberFormat.h"
#include "engine/TextUtil.h"
#include "engine/TableValues.h"

#include <limits>

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

// Messages quote a field of at most 100 characters; the values storable are
// those whose fifteen digits hold the whole part.
TEST(TextUtil, ShownFieldsAndStorableValues) {
    EXPECT_EQ(text::shownField(QString(100, u'Ж')), QString(100, u'Ж'));
    const QString cut = text::shownField(QString(5'000'000, u'Ж'));
    EXPECT_EQ(cut.size(), 100);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    // A character outside the basic plane is never split in two.
    QString astral = QString(98, u'a');
    astral += QString::fromUcs4(U"\U0001F600\U0001F600");
    EXPECT_EQ(text::shownField(astral), QString(98, u'a') + QChar(0x2026));
    for (const double v : {0.1, 10.1, -999999999999999.0, 999999999999999.9})
        EXPECT_TRUE(isStorableValue(v)) << v;
    for (const double v : {1e15, -1e15, 1.7e308, std::numeric_limits<double>::infinity(),
                           std::numeric_limits<double>::quiet_NaN()})
        EXPECT_FALSE(isStorableValue(v)) << v;
}
