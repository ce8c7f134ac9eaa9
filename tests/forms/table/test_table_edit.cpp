// Typing semantics of a cell, the display format and running sums.
#include "forms/table/TableEdit.h"

#include <gtest/gtest.h>

using tableedit::CellEditor;
using tableedit::EvalCellSum;

TEST(CellSum, RunningSums) {
    struct Case {
        QString text;
        bool decimals;
        QString result;
    } cases[] = {
        {"12+3", false, "15"},
        {"12-30", false, "-18"},
        {"12", false, "12"},
        {"12+", false, "12"},                       // missing part counts as 0
        {"-3-2", false, "-5"},                      // leading minus is a sign
        {"-3+2", false, "-1"},
        {"3000000000+3000000000", false, "6000000000"},   // beyond 32 bits
        {"99999999999999+1", false, "100000000000000"},
        {"1.5+1.25", true, "2.75"},
        {"1.5+", true, "1.50"},
        {"2.005+0", true, "2.01"},
        {"1.5+1", false, "3"},                      // whole-number table rounds
        {"1..2+1", true, "1.00"},                   // unreadable part counts as 0
    };
    for (const Case &c : cases) EXPECT_EQ(EvalCellSum(c.text, c.decimals), c.result) << c.text.toStdString();
}

TEST(CellTyping, KeysAsTyped) {
    struct Case {
        QString keys;
        bool decimals;
        QString text;
    } cases[] = {
        {"12+3+", false, "15+"},
        {"12+-", false, "12-"},                 // two operators in a row
        {"12++3", false, "12+3"},
        {"-5", false, "5"},                     // no negative start
        {"+", false, ""},
        {"1,5", false, "1"},                    // "," and its fraction refused in whole numbers
        {"12.5+3+", false, "15+"},
        {"1,5", true, "1.5"},
        {"1.5.2", true, "1.52"},                // a second "." is ignored
        {"1.5+2.5", true, "1.5+2.5"},          // no sum pending yet
        {"1.5+2.5+", true, "4.00+"},
        {"12\b", false, "1"},
        {"12я", false, ""},
        {"1a2б", false, "12"},
        {"99999999999+1+", false, "100000000000+"},
    };
    for (const Case &c : cases) {
        CellEditor e;
        int refused = 0;
        for (QChar ch : c.keys) {
            e.typeChar(ch, c.decimals);
            refused += e.refused;
        }
        EXPECT_EQ(e.editText, c.text) << c.keys.toStdString();
        // Each refused key is heard: the separator and the digits after it.
        EXPECT_EQ(refused, !c.decimals && (c.keys.contains(u',') || c.keys.contains(u'.')) ? 2 : 0)
            << c.keys.toStdString();
    }
}

// The switch to decimals after a refused separator goes on with it; without one it adds nothing.
TEST(CellTyping, RefusedSeparatorGoesOnAfterTheSwitch) {
    CellEditor e;
    for (QChar ch : QStringLiteral("12+3,")) e.typeChar(ch, false);
    EXPECT_TRUE(e.inRefusedFraction);
    EXPECT_TRUE(e.continueRefusedFraction(e.editText));
    for (QChar ch : QStringLiteral("25")) e.typeChar(ch, true);
    EXPECT_EQ(e.editText, "12+3.25");
    EXPECT_DOUBLE_EQ(tableedit::cellTextValue(e.editText, true), 15.25);
    EXPECT_FALSE(e.continueRefusedFraction(e.editText));
    EXPECT_EQ(e.editText, "12+3.25");
}

TEST(CellTyping, UndoAndValue) {
    CellEditor e;
    e.reset("5");
    EXPECT_FALSE(e.undo());
    e.typeChar('6', false);
    EXPECT_TRUE(e.changed());
    EXPECT_TRUE(e.undo());
    EXPECT_EQ(e.editText, "5");
    EXPECT_DOUBLE_EQ(tableedit::cellTextValue("12+3+", false), 15);
    EXPECT_DOUBLE_EQ(tableedit::cellTextValue("", false), 0);
    EXPECT_DOUBLE_EQ(tableedit::cellTextValue("1.25-", true), 1.25);
}

TEST(CellDisplay, Format) {
    EXPECT_EQ(tableedit::displayText(0, false), "");
    EXPECT_EQ(tableedit::displayText(0, true), "");
    EXPECT_EQ(tableedit::displayText(0, false, true), "0");
    EXPECT_EQ(tableedit::displayText(0, true, true), "0.00");
    EXPECT_EQ(tableedit::displayText(0.004, true), "0.00");
    EXPECT_EQ(tableedit::displayText(2.5, false), "3");
    EXPECT_EQ(tableedit::displayText(-0.4, false), "0");
    EXPECT_EQ(tableedit::displayText(1234.5, true), "1234.50");
    EXPECT_EQ(tableedit::displayText(5e9, false), "5000000000");
}

TEST(Checksum, SkipsZerosAndHashesFloats) {
    EXPECT_EQ(tableedit::valuesChecksum({}), 5381u);
    EXPECT_EQ(tableedit::valuesChecksum({0, 0}), 5381u);
    // 1.0f is 0x3F800000.
    const quint32 one = 5381u ^ (5381u << 5) ^ 0x3F800000u;
    EXPECT_EQ(tableedit::valuesChecksum({0, 1.0}), one);
    EXPECT_NE(tableedit::valuesChecksum({1.0, 2.0}), tableedit::valuesChecksum({2.0, 1.0}));
}
