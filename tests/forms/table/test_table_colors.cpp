// The cells a control rule names, for marking errors and counting rule sides.
#include "forms/table/ControlHighlight.h"

#include <gtest/gtest.h>

TEST(RuleCells, ErrorMarksFollowReferencesAndCycle) {
    auto keys = [](const QList<MarkedCell> &cells) {
        QStringList out;
        for (const MarkedCell &c : cells) out.append(MakeCellKey(c.row, c.column));
        return out;
    };
    // Column 3 of a table with one header column is grid column 1.
    EXPECT_EQ(keys(ReferenceCells("СТР2ГР3", 1)), QStringList{"1,1"});
    EXPECT_EQ(keys(ReferenceCells("СТР[1..2]ГР[3,4]", 1)), (QStringList{"0,1", "1,1", "0,2", "1,2"}));
    EXPECT_TRUE(ReferenceCells("ГР3", 1).isEmpty());
    // A cycled error marks only the cycle's row.
    EXPECT_EQ(keys(ExpressionCells("гр3", "СТР5", 1)), QStringList{"4,1"});
    EXPECT_EQ(keys(ExpressionCells("СТР[1]", "ГР5Ф30Т[1000]", 3)), QStringList{"0,1"});
    EXPECT_EQ(keys(ExpressionCells("стр1гр3+стр2гр4", "", 1)), (QStringList{"0,1", "1,2"}));
    // Lists past the table mark only the table's own cells.
    EXPECT_EQ(keys(ReferenceCells("СТР[1..100000000]ГР[2..999999999]", 1, {3, 2})),
              (QStringList{"0,0", "1,0", "0,1", "1,1"}));
    // Read in the pieces the rule run reads: a key in round brackets, blanks
    // in a list, an empty item; a reversed range marks nothing.
    EXPECT_EQ(keys(ExpressionCells("Ф30Т( 1000 )СТР[1..2]ГР[3,4]-Ф30Т[2000]СТР2ГР4", "", 1, {6, 5})),
              (QStringList{"0,1", "1,1", "0,2", "1,2", "1,2"}));
    EXPECT_EQ(keys(ExpressionCells("СТР1ГР3Т(1000)", "ГР5Ф30Т[1000]", 1, {6, 5})), QStringList{"0,1"});
    EXPECT_EQ(keys(ExpressionCells("СТР[ 1 , 2 ]ГР[ 3 ]", "", 1, {6, 5})), (QStringList{"0,1", "1,1"}));
    EXPECT_EQ(keys(ExpressionCells("СТР[1,,2]ГР3", "", 1, {6, 5})), (QStringList{"0,1", "1,1"}));
    EXPECT_TRUE(ExpressionCells("СТР[2..1]ГР3", "СТР5", 1, {6, 5}).isEmpty());
    EXPECT_TRUE(ExpressionCells("((", "СТР2Ф30Т(1000)", 1, {6, 5}).isEmpty());
    EXPECT_EQ(ErrorCycleItem("5.00 = 6.00\tСТР5\tкомментарий"), "СТР5");
    EXPECT_EQ(ErrorCycleItem("5.00 = 6.00"), "");
}

TEST(RuleCells, CountsOfRuleSides) {
    ControlCountList list;
    // Same cell on both sides counts twice; header columns and row 0 never.
    CountRuleSideCells(list, "стр1гр3", "", 0, {}, {}, 1, 2);
    CountRuleSideCells(list, "стр1гр3", "", 0, {}, {}, 1, 2);
    CountRuleSideCells(list, "стр1гр2", "", 0, {}, {}, 1, 2);
    EXPECT_EQ(list.size(), 1);
    EXPECT_EQ(list.value("0,0").IntraTableCount, 2);
    // An inter-table side that does not name the table adds nothing.
    CountRuleSideCells(list, "Т(2000)стр1гр3", "", 1, "(1000)", "Ф1", 1, 2);
    EXPECT_EQ(list.value("0,0").InterTableCount, 0);
    CountRuleSideCells(list, "Т(1000)стр1гр3", "", 1, "(1000)", "Ф1", 1, 2);
    EXPECT_EQ(list.value("0,0").InterTableCount, 1);
    // The table written in square brackets is the same table.
    CountRuleSideCells(list, "Т[1000]стр1гр3", "", 1, "(1000)", "Ф1", 1, 2);
    EXPECT_EQ(list.value("0,0").InterTableCount, 2);
    ControlCountList huge;
    CountRuleSideCells(huge, "стр[1..100000000]", "гр[1..100000000]", 0, {}, {}, 1, 2, {4, 3});
    EXPECT_EQ(huge.size(), 2 * 3);
}

// A rule between forms covers the cells of the form it names, found as the
// rule run finds it: not those of a form whose name begins the same way.
TEST(RuleCells, RulesBetweenFormsCoverTheirOwnFormOnly) {
    struct Case {
        const char *side, *form;
        bool covers;
    };
    const Case cases[] = {
        {"Ф12Т[1000]СТР1ГР3", "Ф12", true},
        {"ф12т( 1000 )стр1гр3", "Ф12", true},
        {"Ф12Т[1000]СТР1ГР3", "Ф1", false},
        {"Ф1Т[1000]СТР1ГР3", "Ф12", false},
        {"ФАТ1Т[1000]СТР1ГР3", "ФАТ1", true},
        {"ФАТ1Т[1000]СТР1ГР3", "ФА", false},
        {"Фёж Т[1000] СТР1ГР3", "ФЁЖ", true},
        {"Ф12Т[2000]СТР1ГР3", "Ф12", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(RuleSideCoversCell(c.side, "", 1, "(1000)", c.form, 2, 1, 2, 3), c.covers) << c.side << " " << c.form;
}

// A reference inside round brackets marks its cell, as the rule run reads it;
// a table whose key begins the same way is another table.
TEST(RuleCells, BracketedReferencesCoverTheirCells) {
    EXPECT_TRUE(RuleSideCoversCell("(Т(1000)СТР1ГР3+Т(1000)СТР2ГР3)*2", "", 2, "(1000)", "Ф1", 1, 1, 2, 3));
    EXPECT_TRUE(RuleSideCoversCell("2*(ф1т[1000]стр2гр3)", "", 2, "(1000)", "Ф1", 2, 1, 2, 3));
    EXPECT_FALSE(RuleSideCoversCell("(Т(10001)СТР2ГР3)", "", 2, "(1000)", "Ф1", 1, 1, 2, 3));
    ControlCountList list;
    CountRuleSideCells(list, "(Т(1000)СТР1ГР3+Т(1000)СТР2ГР3)/2", "", 1, "(1000)", "Ф1", 1, 2);
    EXPECT_EQ(list.value("0,0").InterTableCount, 1);
    EXPECT_EQ(list.value("1,0").InterTableCount, 1);
}
