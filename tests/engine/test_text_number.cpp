#include "engine/EngineError.h"
#include "engine/NumberFormat.h"
#include "engine/RuleEngine.h"
#include "engine/TextUtil.h"
#include "engine/ValueMatrix.h"
#include "platform/Database.h"

#include <QTemporaryDir>
#include <cmath>

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

// Russian agreement of a count and its noun, at the places the rule turns.
TEST(NumberFormat, CountsAgreeWithTheirNouns) {
    const auto rows = [](qint64 n) { return num::counted(n, "строка", "строки", "строк"); };
    EXPECT_EQ(rows(1), "1 строка");
    EXPECT_EQ(rows(4), "4 строки");
    EXPECT_EQ(rows(5), "5 строк");
    EXPECT_EQ(rows(0), "0 строк");
    EXPECT_EQ(rows(11), "11 строк");
    EXPECT_EQ(rows(14), "14 строк");
    EXPECT_EQ(rows(21), "21 строка");
    EXPECT_EQ(rows(22), "22 строки");
    EXPECT_EQ(rows(111), "111 строк");
    EXPECT_EQ(rows(112), "112 строк");
    EXPECT_EQ(rows(101), "101 строка");
    EXPECT_EQ(rows(-2), "-2 строки");
}

// A field of a tab-separated line: nothing in it splits its line, everything reads back; a byte 3 of a file written
// before it was an escape stays as it was.
TEST(TextUtil, FieldControlsReadBackAndNeverSplitALine) {
    QString all;
    for (char16_t c = 0; c < 0x20; ++c) all += QChar(c);
    all += QChar(0x7F);
    const QStringList texts = {all, "a\r\nb", "\x03", "\x03\x03I", "x\x03", "ф\tы\x01\x02", "", "обычный текст"};
    for (const QString &t : texts) {
        const QString e = text::encodeFieldControls(t);
        EXPECT_FALSE(e.contains(u'\t') || e.contains(u'\n') || e.contains(u'\r') || e.contains(QChar(0)));
        EXPECT_EQ(text::decodeFieldControls(e), t);
    }
    // As the files written before read: byte 1 and 2 are line breaks, a lone byte 3 is itself.
    EXPECT_EQ(text::decodeFieldControls("a\x01" "b\x02" "c"), "a\nb\rc");
    EXPECT_EQ(text::decodeFieldControls("a\x03"), "a\x03");
    EXPECT_EQ(text::decodeFieldControls("\x03ж"), "\x03ж");
}

TEST(TextUtil, CodesAndLists) {
    EXPECT_EQ(text::decodeColon(text::encodeColon("a:b")), "a:b");
    EXPECT_EQ(text::decodeLineBreaks(text::encodeLineBreaks("a\r\nb")), "a\r\nb");
    EXPECT_EQ(text::parseIdList("1,2,3,"), (QList<qint64>{1, 2, 3}));
    EXPECT_FALSE(text::isIdList("1,x"));
    EXPECT_FALSE(text::isIdList(""));
}

// A sum keeps the precision of its largest term: sums that cancel are 0, a
// real small remainder stays, and sums that do not cancel are untouched.
TEST(NumberFormat, SumsKeepThePrecisionOfTheirTerms) {
    struct Case { QList<double> terms; double expected; };
    const QList<Case> cases = {
        {{0.1, 0.2, -0.3}, 0.0},
        {{10.1, 20.2, -30.3}, 0.0},
        {{-30.3, 10.1, 20.2}, 0.0},
        {{1e13 + 0.5, -1e13}, 0.5},
        {{100, -99.9}, 0.1},
        {{0.1, 0.2}, 0.1 + 0.2},   // no cancelling: the stored form takes care of it
        {{1e-5, 2e-5, -3e-5}, 0.0},
        {{5, -5}, 0.0},
        {{0.001, -0.0005}, 0.0005},
    };
    for (const Case &c : cases) {
        ValueMatrix m;
        m.create(2, 2, 3, 3);
        for (double t : c.terms) m.add(2, 3, t);
        EXPECT_EQ(m.at(2, 3), c.expected) << c.terms.size() << " terms, first " << c.terms.first();
    }
    // A value set (typed, read) is no sum: it is kept as it is.
    ValueMatrix m;
    m.create(2, 2, 3, 3);
    m.add(2, 3, 0.3);
    m.set(2, 3, 5.551115123125783e-17);
    EXPECT_EQ(m.at(2, 3), 5.551115123125783e-17);
    EXPECT_EQ(num::settledSum(-1.7763568394002505e-15, 30.3), 0.0);
    EXPECT_EQ(num::settledSum(6e-14, 10.0), 1e-13);   // half a unit of the last digit rounds up
    EXPECT_EQ(num::settledSum(4e-14, 10.0), 0.0);
}

// Fifteen significant digits in all: large values show no decimals they do not have; the storable range ends at 10^15.
TEST(NumberFormat, LargeValuesShowOnlyTheirDigits) {
    const QList<std::pair<double, QString>> cases = {
        {9999999999999.99, "9999999999999.99"},   {12345678901234.56, "12345678901234.6"},
        {-40000000000000.3, "-40000000000000.3"}, {123456789012345.6, "123456789012346"},
        {4e14 + 0.25, "400000000000000"},         {-0.004, "0.00"},
    };
    for (const auto &[v, text] : cases) EXPECT_EQ(num::fixed2(v), text) << text.toStdString();
    for (double v : {0.0, -1.0, 999999999999999.0, -999999999999999.0}) EXPECT_TRUE(num::isStorableValue(v)) << v;
    for (double v : {1e15, -1e15, 2.5e20, std::nan(""), HUGE_VAL}) EXPECT_FALSE(num::isStorableValue(v)) << v;
    // The bound is taken on the value as stored: fifteen digits make 10^15 of it.
    EXPECT_FALSE(num::isStorableValue(999999999999999.9));
    EXPECT_FALSE(num::isStorableValue(-999999999999999.6));
    EXPECT_TRUE(num::isStorableValue(999999999999999.4));
    EXPECT_TRUE(num::isStorableValue(99999999999999.98));
    // From 10^15 on fifteen digits and zeros, never the digits of the binary value.
    const QList<std::pair<double, QString>> large = {
        {3857142857142859776.0, "3857142857142860000"}, {-1e17 / 3, "-33333333333333300"},
        {1e15, "1000000000000000"},                     {2.0 / 3 * 1e20, "66666666666666700000"},
    };
    for (const auto &[v, text] : large) EXPECT_EQ(num::fixed2(v), text) << text.toStdString();
    // Whole numbers alike.
    EXPECT_EQ(num::wholeText(3857142857142859776.0), "3857142857142860000");
    EXPECT_EQ(num::wholeText(-2.5), "-3");
    EXPECT_EQ(num::wholeText(-0.4), "0");
    EXPECT_EQ(num::wholeText(999999999999999.0), "999999999999999");
}

// Rules, calculated cells and indicators share one arithmetic: a sum keeps
// the precision of its terms, so a divisor that cancels divides by 0 and gives 0.
TEST(NumberFormat, ArithmeticOfSumsThatCancel) {
    num::Sum sum;
    for (double t : {0.1, 0.2, -0.3}) sum.add(t);
    EXPECT_EQ(sum.value(), 0.0);
    num::Sum kept;
    for (double t : {0.1, 0.2}) kept.add(t);
    EXPECT_EQ(kept.value(), 0.1 + 0.2);
    const QList<std::pair<QString, QString>> cases = {
        {"0.30/(0.10+0.20-0.30)", "0.00"},
        {"6/(10.10+20.20-30.30)", "0.00"},
        {"(0.1+0.2-0.3)*1000000000000", "0.00"},
        {"1-0.9-0.1", "0.00"},
        {"5/(0.1+0.2)", "16.67"},
        {"-(0.1+0.2-0.3)+7", "7.00"},
        {"100000000000000*3/7", "42857142857142.9"},
        {"9000000000000000000/7", "1285714285714290000"},
    };
    for (const auto &[expr, value] : cases) EXPECT_EQ(EvaluateExpression(expr), value) << expr.toStdString();
}

// Messages quote a field of at most 100 characters.
TEST(TextUtil, ShownFields) {
    EXPECT_EQ(text::shownField(QString(100, u'Ж')), QString(100, u'Ж'));
    const QString cut = text::shownField(QString(5'000'000, u'Ж'));
    EXPECT_EQ(cut.size(), 100);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
    // A character outside the basic plane is never split in two.
    QString astral = QString(98, u'a');
    astral += QString::fromUcs4(U"\U0001F600\U0001F600");
    EXPECT_EQ(text::shownField(astral), QString(98, u'a') + QChar(0x2026));
}

TEST(EngineTextHelpers, NumbersListsAndCharacters) {
    EXPECT_FALSE(IsDigitsText("-1"));
    EXPECT_FALSE(IsDecimalText("12,5"));
    EXPECT_EQ(ShiftNumberList("1,2,5", 3), "4,5,8");
    EXPECT_THROW(ShiftNumberList("1,x", 3), ConversionError);
}

// Searches forwards and backwards from a position, 1-based, Cyrillic as any text.
TEST(EngineTextHelpers, PosFromAndPosBackFrom) {
    EXPECT_EQ(PosFrom("ab", "xxab", 1), 3);
    EXPECT_EQ(PosFrom("q", "abc", 1), 4);                  // none: length + 1
    EXPECT_EQ(PosFrom("a", "abc", 9), 9);                  // a start beyond the text comes back
    EXPECT_EQ(PosFrom(",", "1,2,3", 3), 4);                // at or after the start
    EXPECT_EQ(PosFrom(",", "1,2,3", 4), 4);
    EXPECT_EQ(PosFrom("Ф", "СТР[1]ф2Ф3", 1), 9);           // letter case counts
    EXPECT_EQ(PosFrom("", "abc", 1), 4);
    EXPECT_EQ(PosBackFrom("a+b+c", 5, "+"), 4);            // the search starts at 5 - 1
    EXPECT_EQ(PosBackFrom("a+b+c", 4, "+"), 2);
    EXPECT_EQ(PosBackFrom("abc", 3, "+"), 0);
    EXPECT_EQ(PosBackFrom("(a)(b)", 6, "("), 4);
    EXPECT_EQ(PosBackFrom("(a)", 1, "("), 0);              // nothing before position 1
    EXPECT_EQ(PosBackFrom("ab", 99, "b"), 2);              // an index beyond the text searches from its end
    EXPECT_EQ(PosBackFrom("", 3, "+"), 0);
}
