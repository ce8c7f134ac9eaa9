// Reference notation and title span keys.
#include "engine/CellNumbering.h"
#include "engine/EngineError.h"
#include "engine/FormulaParser.h"

#include <gtest/gtest.h>
#include <limits>

namespace {
// Lists read against the largest table.
const LineBounds kLargest{0, kMaxListNumber, 0, kMaxListNumber};
} // namespace

// One cell in every numbering, on tables whose fixed columns and rows differ
// (so a column conversion fed a row count shows).
TEST(EngineCellNumbering, EveryConversionOnTablesWithHeaders) {
    struct Cell {
        int fixCols, fixRows;
        int gridColumn, gridRow, structColumn, structRow, storedColumn, storedRow, refColumn, refRow;
    };
    const Cell cases[] = {
        {3, 2, 0, 0, 4, 3, 5, 4, 4, 1},    // first data cell
        {3, 2, 4, 3, 8, 6, 9, 7, 8, 4},
        {1, 4, 2, 1, 4, 6, 5, 7, 4, 2},
        {5, 1, 10, 0, 16, 2, 17, 3, 16, 1},
    };
    for (const Cell &c : cases) {
        SCOPED_TRACE(testing::Message() << "fix " << c.fixCols << "/" << c.fixRows << " grid " << c.gridColumn << ","
                                        << c.gridRow);
        EXPECT_EQ(cells::structColumnOfGrid(c.gridColumn, c.fixCols), c.structColumn);
        EXPECT_EQ(cells::structRowOfGrid(c.gridRow, c.fixRows), c.structRow);
        EXPECT_EQ(cells::storedColumnOfGrid(c.gridColumn, c.fixCols), c.storedColumn);
        EXPECT_EQ(cells::storedRowOfGrid(c.gridRow, c.fixRows), c.storedRow);
        EXPECT_EQ(cells::storedColumnOfRef(c.refColumn), c.storedColumn);
        EXPECT_EQ(cells::storedRowOfRef(c.refRow, c.fixRows), c.storedRow);
        EXPECT_EQ(cells::refColumnOfStored(c.storedColumn), c.refColumn);
        EXPECT_EQ(cells::refRowOfStored(c.storedRow, c.fixRows), c.refRow);
        EXPECT_EQ(cells::refColumnOfGrid(c.gridColumn, c.fixCols), c.refColumn);
        EXPECT_EQ(cells::refRowOfGrid(c.gridRow), c.refRow);
        EXPECT_EQ(cells::gridColumnOfRef(c.refColumn, c.fixCols), c.gridColumn);
        EXPECT_EQ(cells::gridRowOfRef(c.refRow), c.gridRow);
        EXPECT_EQ(cells::refRowOfStruct(c.structRow, c.fixRows), c.refRow);
        EXPECT_EQ(cells::storedOfStruct(c.structColumn), c.storedColumn);
        EXPECT_EQ(cells::storedOfStruct(c.structRow), c.storedRow);
        EXPECT_EQ(cells::structOfStored(c.storedColumn), c.structColumn);
        EXPECT_EQ(cells::structOfStored(c.storedRow), c.structRow);
    }
}

TEST(EngineCellNumbering, SpanKeysImagesAndPixels) {
    EXPECT_EQ(cells::titleSpanKey(3, 1, 3, 1), "R1C3");
    EXPECT_EQ(cells::titleSpanKey(3, 1, 5, 2), "R1C3:R2C5");
    int sc = 0, sr = 0, ec = 0, er = 0;
    ASSERT_TRUE(cells::parseTitleSpanKey("R1C3:R2C5", sc, sr, ec, er));
    EXPECT_EQ(QList<int>({sc, sr, ec, er}), QList<int>({3, 1, 5, 2}));
    ASSERT_TRUE(cells::parseTitleSpanKey("R4C7", sc, sr, ec, er));
    EXPECT_EQ(QList<int>({sc, sr, ec, er}), QList<int>({7, 4, 7, 4}));
    EXPECT_FALSE(cells::parseTitleSpanKey("C3R1", sc, sr, ec, er));
    // 96 / 120 dpi: 50 pt -> 40 (truncated) -> 66.67 -> 67 px.
    EXPECT_EQ(cells::tableWindowPixels(50, 120), 67);
    EXPECT_EQ(cells::tableWindowPixels(50, 96), 67);
    // A stored fraction is truncated, not rounded: 40.9 pt -> 40 -> 53 px.
    EXPECT_EQ(cells::tableWindowPixels(40.9, 96), 53);
    EXPECT_EQ(cells::tableWindowPixels(1e300, 96), 0);
}

TEST(EngineFormulaParser, SplitFormulaTerms) {
    EXPECT_EQ(SplitFormulaTerms("a+b"), QStringList({"a", "+", "b"}));
    EXPECT_EQ(SplitFormulaTerms("a +b"), QStringList({"a", " +", "b"}));
    EXPECT_EQ(SplitFormulaTerms("-a*b"), QStringList({"-a", "*", "b"}));
    EXPECT_EQ(SplitFormulaTerms("a*-b"), QStringList({"a", "*", "-b"}));
    EXPECT_EQ(SplitFormulaTerms("Ф1Т[1-2]СТР1"), QStringList({"Ф1Т[1-2]СТР1"}));
    EXPECT_EQ(SplitFormulaTerms("(a+b)/c"), QStringList({"(a+b)", "/", "c"}));
    EXPECT_EQ(SplitFormulaTerms("\"a+b\"-c"), QStringList({"\"a+b\"", "-", "c"}));
    EXPECT_TRUE(SplitFormulaTerms("").isEmpty());
}

TEST(EngineFormulaParser, NumberListsOfReferencesAndCycles) {
    const QList<std::pair<QString, QList<int>>> cases = {
        {"", {}},           {"3", {3}},           {" 3 , 4 ", {3, 4}},   {"1,3..5", {1, 3, 4, 5}},
        {"5..3", {}},       {"1,5..3,2", {1, 2}}, {"2,", {2}},           {"1,,2", {1, 2}},
        {"007", {7}},
        // Never expanded past the largest table: one number stands for the rest.
        {"9999..999999999", {9999, 10000, 10001}},    {"20000..30000", {20000}},
        {"9999..99999999999999999999", {9999, 10000, 10001}},
    };
    for (const auto &[in, out] : cases) EXPECT_EQ(ParseIntegerList(in, 0, kMaxListNumber), out) << in.toStdString();
    // Clipped to the table it refers to (rows 1..5): one outside number per
    // item, in its place; bounds of any length are numbers.
    const QList<std::pair<QString, QList<int>>> clipped = {
        {"1..99999999999999999999,2", {1, 2, 3, 4, 5, 6, 2}},
        {"0..2", {0, 1, 2}},
        {"7..9,3", {7, 3}},
        {"1..3,2", {1, 2, 3, 2}},
        {"99999999999999999999", {std::numeric_limits<int>::max()}},
    };
    for (const auto &[in, out] : clipped) EXPECT_EQ(ParseIntegerList(in, 1, 5), out) << in.toStdString();
    EXPECT_EQ(notation::ClippedListText(*notation::ReadNumberItems(u"1..99999999999999999999,0..2,4"), 1, 5),
              "1..5,6..,0,1..2,4");
    for (const QString bad : {"1.2", "x", "1..x", "1;2", "3 4", "-1"})
        EXPECT_THROW(ParseIntegerList(bad, 1, 5), ConversionError) << bad.toStdString();
    // The text form reads the same way.
    EXPECT_EQ(ParseNumberList("1,5..3,8", 0, kMaxListNumber), "1,8");
    EXPECT_EQ(ParseNumberList("9999..2147483647", 0, kMaxListNumber), "9999,10000,10001");
    EXPECT_THROW(ParseNumberList("1..x", 1, 5), ConversionError);
    // An item that is no whole number passes through as written; a range
    // must be one.
    EXPECT_EQ(ParseNumberList("1.2", 1, 5), "1.2");
    EXPECT_EQ(ParseNumberList("1, 1.2 ,3..4", 1, 5), "1,1.2,3,4");
    EXPECT_EQ(ParseNumberList("2,x", 1, 5), "2,x");
    EXPECT_THROW(ParseNumberList("1.2..3", 1, 5), ConversionError);
    EXPECT_THROW(ParseNumberList("1,2..", 1, 5), ConversionError);
    EXPECT_THROW(ParseIntegerList(u"1.2", 1, 5), ConversionError);   // the rule run still refuses it
}

// The engine sums a row listed twice; the control-book importer compares
// lists in their canonical form, each number once. Neither expands a range.
TEST(EngineNotation, RepeatedNumbersAndWideRangesPerReader) {
    EXPECT_EQ(ParseIntegerList(u"1..3,2", 1, 5), QList<int>({1, 2, 3, 2}));
    QList<notation::NumberSpan> spans;
    ASSERT_TRUE(notation::ReadNumberSpans(u"1..3,2, 7 ,5..6", spans));
    EXPECT_EQ(notation::WriteNumberSpans(notation::CanonicalSpans(spans)), "1..3,5..7");
    ASSERT_TRUE(notation::ReadNumberSpans(u"1..999999999999", spans));
    EXPECT_EQ(notation::SpanCount(spans), 999999999999LL);
    // A bound of any length is a number, far outside every table.
    ASSERT_TRUE(notation::ReadNumberSpans(u"7..99999999999999999999", spans));
    EXPECT_EQ(spans, (QList<notation::NumberSpan>{{7, notation::kHugeBound}}));
    for (const char16_t *bad : {u"5..3", u"1.2", u"1,,2", u"-1", u"1..x", u"1,"})
        EXPECT_FALSE(notation::ReadNumberSpans(bad, spans)) << QString::fromUtf16(bad).toStdString();
}

TEST(EngineNotation, GroupsCloseAtTheirOwnBracketOrTheFirst) {
    const QString up = QStringLiteral("Ф1Т[2]СТР[1,[2]]+ГР[3");
    const auto nested = notation::FindGroups(up, true), first = notation::FindGroups(up, false);
    ASSERT_EQ(nested.size(), 2);
    EXPECT_EQ(nested[0].line, notation::Line::Rows);
    EXPECT_EQ(up.mid(nested[0].open, nested[0].close - nested[0].open + 1), "[1,[2]]");
    EXPECT_EQ(up.mid(first[0].open, first[0].close - first[0].open + 1), "[1,[2]");
    EXPECT_EQ(nested[1].line, notation::Line::Columns);
    EXPECT_EQ(nested[1].close, -1);
    // The checker and the engine cut a reference at the same places.
    const notation::Markers m = notation::FindMarkers(u"X СТР1ГР2Ф3Т[4]");
    EXPECT_EQ(m.leadEnd, 2);
    EXPECT_EQ(m.rows.in(u"X СТР1ГР2Ф3Т[4]"), u"СТР1");
    EXPECT_EQ(m.table.in(u"X СТР1ГР2Ф3Т[4]"), u"Т[4]");
}

TEST(EngineFormulaParser, FormTableRowAndColumnParts) {
    struct FormTableCase { QString ref; int mode; QString form, table; };
    const QList<FormTableCase> formTables = {
        {"Ф12Т(7)СТР1", 0, "Ф12", "Т(7)"},
        {"Ф12Т(7)СТР1", 1, "Ф12", ""},   // the table part is not asked for
        {"ф12т[1000]стр1", 0, "ф12", "Т[1000]"},
        {"Ф Т[1]", 0, "", "Т[1]"},
        {"   ", 0, "", ""},
    };
    for (const FormTableCase &c : formTables) {
        const auto ft = ParseFormTableRef(c.ref, c.mode);
        EXPECT_EQ(ft.form, c.form) << c.ref.toStdString() << " " << c.mode;
        EXPECT_EQ(ft.table, c.table) << c.ref.toStdString() << " " << c.mode;
    }

    EXPECT_EQ(ParseRowRef("стр 1, 2", kLargest), "1");
    EXPECT_EQ(ParseRowRef("СТР[1", kLargest), "");
    EXPECT_EQ(ParseRowRef("Ф1Т[1]ГР3", kLargest), "");
    EXPECT_EQ(ParseRowRef("СТР[1..x]", kLargest), "");
    EXPECT_EQ(ParseRowRef("СТР[ГР1]", kLargest), "");
    EXPECT_EQ(ParseColumnRef("Ф12 Т(1000) СТР 2 ГР 4", kLargest), "4");
    EXPECT_EQ(ParseRowRef("Ф12Т[1000]СТР[1,3..5]ГР[3]", kLargest), "1,3,4,5");
}

TEST(EngineFormulaParser, Qualifying) {
    EXPECT_EQ(QualifyFormulaRefs("Т(3)СТР1ГР1+12.5", 0, "Ф12", "[1000]"), "Ф12Т(3)СТР1ГР1+12.5");
    EXPECT_EQ(QualifyFormulaRefs("СТР5ГР3", 0, "Ф12", ""), "СТР5ГР3");
    EXPECT_EQ(QualifyFormulaRefs("Ф3Т[2]СТР1ГР3+СТР2ГР3", 0, "Ф9", "[9]"), "Ф3Т[2]СТР1ГР3+Ф3Т[2]СТР2ГР3");
    EXPECT_EQ(QualifyFormulaRefs("СТР1ГР3 - СТР2ГР3", 0, "Ф9", "[9]"), "Ф9Т[9]СТР1ГР3 - Ф9Т[9]СТР2ГР3");
    EXPECT_EQ(QualifyFormulaRefs("СТР1ГР3*2", 1, "Ф9", "[9]"), "Ф9СТР1ГР3*2");
    EXPECT_EQ(QualifyFormulaRefs("  ", 0, "Ф9", "[9]"), "");
    EXPECT_EQ(QualifyFormulaRefs("СТР1ГР3", 2, "Ф9", "[9]"), "СТР1ГР3");
    // Operands inside round brackets are completed as the rule run reads them.
    EXPECT_EQ(QualifyFormulaRefs("(СТР1ГР3+стр2гр3)*2", 0, "Ф9", "[9]"), "(Ф9Т[9]СТР1ГР3+Ф9Т[9]стр2гр3)*2");
    EXPECT_EQ(QualifyFormulaRefs("-Ф3Т(2)СТР1ГР3 * (СТР2ГР3)", 0, "Ф9", "[9]"), "-Ф3Т(2)СТР1ГР3 * (Ф3Т(2)СТР2ГР3)");
}

TEST(EngineFormulaParser, ReferencedRowsColumns) {
    struct Case { QString formula, cycle; bool single; QString rows, columns; };
    const QList<Case> cases = {
        {"Ф1Т[1]СТР1ГР3+Ф1Т[1]СТР[2..3]ГР4", "", false, "1,2,3", "3,4"},
        {"Ф1Т[1]СТР1ГР5", "ГР[3..4]", false, "1", "3,4"},   // the cycle replaces the columns
        {"СТР1ГР5", "стр7", false, "7", "5"},               // the cycle replaces the rows
        {"Ф1Т[1]СТР1ГР3+Ф1Т[1]СТР2ГР4", "", true, "", ""},   // single: two cells give nothing
        {"Ф1Т[1]СТР[1,2]ГР3", "", true, "", ""},
        {"Ф1Т[1]СТР2ГР3", "", true, "2", "3"},
        {"", "ГР1", false, "", ""},
        // References inside round brackets count, as the rule run reads them.
        {"(Ф1Т[1]СТР1ГР3+Ф1Т[1]СТР2ГР4)*2", "", false, "1,2", "3,4"},
        {"(Ф1Т(1)СТР2ГР3)", "", true, "2", "3"},
    };
    for (const Case &c : cases) {
        const auto rc = GetReferencedRowsColumns(c.formula, c.cycle, c.single, kLargest);
        EXPECT_EQ(rc.rows, c.rows) << c.formula.toStdString() << " / " << c.cycle.toStdString();
        EXPECT_EQ(rc.columns, c.columns) << c.formula.toStdString() << " / " << c.cycle.toStdString();
    }
}
