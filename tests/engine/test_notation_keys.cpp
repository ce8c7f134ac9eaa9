// Table keys and forms of a reference read one way: the rule check, the rule
// run, the highlighter's and the editors' reading (ParseFormTableRef) take
// the same key out of the same text; and the readers of expanded lists.
#include "test_engine_db.h"

#include "engine/EngineError.h"
#include "engine/FormulaParser.h"
#include "engine/RuleCheck.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    const char16_t *text;
    const char16_t *runKey;   // the rule run's key, "" when it reads no table
    bool whole;               // the check takes the key
    const char16_t *form, *table, *number;   // ParseFormTableRef(text, 0)
};

// Answers as the readers gave them before they shared the notation, but for
// the rows marked "now": those were read otherwise by the editors' reader
// and are read as the rule run reads them.
const KeyCase kKeys[] = {
    {u"Ф30Т[1000]СТР[1]ГР[4]", u"(1000)", true, u"Ф30", u"Т[1000]", u"1000"},
    {u"ф30т(1000)стр1гр4", u"(1000)", true, u"ф30", u"Т(1000)", u"1000"},
    {u"Ф12Т(7]СТР1", u"(7)", true, u"Ф12", u"Т(7)", u"7"},
    {u"т(Ёж)гр2", u"(ЁЖ)", true, u"", u"Т(Ёж)", u"Ёж"},
    {u"Т[1000-ё]", u"(1000-Ё)", true, u"", u"Т[1000-ё]", u"1000-ё"},
    {u"Фё12Т[7]", u"(7)", true, u"Фё12", u"Т[7]", u"7"},
    {u"ФX#:=Т[1:2]", u"(1:2)", true, u"ФX#:=", u"Т[1:2]", u"1:2"},
    {u"Ф12Т[99999999999999999999]", u"(99999999999999999999)", true, u"Ф12", u"Т[99999999999999999999]",
     u"99999999999999999999"},
    {u"Ф Т[1]", u"(1)", true, u"", u"Т[1]", u"1"},
    {u"Т(5", u"(5)", false, u"", u"Т(5)", u"5"},
    {u"Т[1000", u"(1000)", false, u"", u"Т[1000]", u"1000"},
    {u"Т[]", u"()", false, u"", u"", u""},
    {u"Ф12(1)Т[5]", u"(5)", true, u"Ф12(1)", u"Т[5]", u"5"},   // now: the form runs up to its table
    // now: blanks inside the brackets are no part of the key, Tab included.
    {u"Ф30Т( 1000 )СТР1", u"(1000)", true, u"Ф30", u"Т(1000)", u"1000"},
    {u"Ф30 Т[ 1000 ] СТР[1]", u"(1000)", true, u"Ф30", u"Т[1000]", u"1000"},
    {u"Ф12\tТ[\t5\t]", u"(5)", true, u"Ф12", u"Т[5]", u"5"},
    {u"Т[ ]", u"()", false, u"", u"", u""},
    // now: a form name holding "Т" or followed by its lines is the run's.
    {u"ФАТ1Т[1]СТР1", u"(1)", true, u"ФАТ1", u"Т[1]", u"1"},
    {u"Ф12ГР1Т[4]", u"(4)", true, u"Ф12", u"Т[4]", u"4"},
    // now: what the check refuses is read as the run reads it.
    {u"Т[10]00]", u"(10]00)", false, u"", u"Т[10]00]", u"10]00"},
    {u"Т[1000] X", u"(1000] X)", false, u"", u"Т[1000] X]", u"1000] X"},
    {u"Т[[1000]]", u"([1000])", false, u"", u"Т[[1000]]", u"[1000]"},
    {u"Ф12Т[7)СТР1", u"(7))", false, u"Ф12", u"Т[7)]", u"7)"},
    {u"Ф12Т[2]Т(3)", u"(2]Т[3)", false, u"Ф12", u"Т[2]Т[3]", u"2]Т[3"},
    {u"Ф12Т[1000СТР1ГР2", u"(1000)", false, u"Ф12", u"Т[1000]", u"1000"},
    {u"Т[ФОРМА]", u"()", false, u"ФОРМА]", u"", u""},
    // No table.
    {u"Ф12 СТР1ГР2", u"", false, u"Ф12", u"", u""},
    {u"Ф12 Т (7)", u"", false, u"Ф12 Т (7)", u"", u""},   // now: "Т (" with a blank is no table key
    {u"T(5)", u"", false, u"", u"", u""},                  // the Latin T
    {u"СТР[1..3]ГР[2,,3]", u"", false, u"", u"", u""},
    {u"Ф", u"", false, u"", u"", u""},
    {u"   ", u"", false, u"", u"", u""},
    {u"", u"", false, u"", u"", u""},
};

} // namespace

TEST(NotationKeys, RunCheckAndEditorsReadOneKey) {
    for (const KeyCase &c : kKeys) {
        const QString text = QString::fromUtf16(c.text);
        SCOPED_TRACE(text.toStdString());
        const QString up = SquareTableBrackets(text::upper(text));
        const ReferenceParts run = CutReferenceParts(up);
        EXPECT_EQ(run.hasTable ? run.table : QString(), QString::fromUtf16(c.runKey));
        const notation::Markers m = notation::FindMarkers(up);
        if (m.table.found()) {
            const notation::TableKeyPart key = notation::ReadTableKey(m.table.in(up).mid(2));
            EXPECT_EQ(key.key, run.table);
            EXPECT_EQ(key.closed, c.whole);
        }
        const FormTableRef ref = ParseFormTableRef(text, 0);
        EXPECT_EQ(ref.form, QString::fromUtf16(c.form));
        EXPECT_EQ(ref.table, QString::fromUtf16(c.table));
        EXPECT_EQ(ref.number, QString::fromUtf16(c.number));
        // A table the editors find is the run's table, in either spelling.
        if (!ref.table.isEmpty()) {
            EXPECT_TRUE(text::sameName(notation::TableKeyOf(ref.table), run.table));
            EXPECT_TRUE(text::sameName(u'(' + ref.number + u')', run.table));
        }
        EXPECT_TRUE(ParseFormTableRef(text, 1).table.isEmpty());
    }
}

TEST(NotationKeys, KeyOfATableText) {
    const QPair<QString, QString> cases[] = {
        {"Т[ 7 ]", "(7)"}, {"т(7)", "(7)"}, {"(7)", "(7)"}, {"[7]", "(7)"}, {"T(5)", "(5)"},
        {"Т[1000-ё]", "(1000-ё)"}, {"Т[7]СТР1", "(7)"}, {"[7", "(7)"}, {"[]", "()"},
        // No bracket: the text itself.
        {"7", "7"}, {"", ""}, {"Т", "Т"},
    };
    for (const auto &[text, key] : cases) EXPECT_EQ(notation::TableKeyOf(text), key) << text.toStdString();
    // A chosen or stored table, as the highlighter and the book's descriptions look it up.
    const QPair<QString, QString> stored[] = {
        {"1000", "(1000)"}, {" 1000 ", "(1000)"}, {"(1000)", "(1000)"}, {"[1000]", "(1000)"},
        {"Т[ 1000 ]", "(1000)"}, {"т(1000ё)", "(1000ё)"}, {"Ёж", "(Ёж)"}, {"  ", ""}, {"", ""},
    };
    for (const auto &[text, key] : stored) EXPECT_EQ(notation::StoredTableKey(text), key) << text.toStdString();
}

TEST(NotationKeys, ExpandedListsAreReadByTheNotation) {
    EXPECT_EQ(ExpandedNumbers(u"1,3,4, 5 ,-2,+7"), (QList<int>{1, 3, 4, 5, -2, 7}));
    // Items that are no int are passed over: what ParseNumberList lets through.
    EXPECT_EQ(ExpandedNumbers(u"1.2,,x,ё,99999999999,2"), (QList<int>{2}));
    EXPECT_TRUE(ExpandedNumbers(u"").isEmpty());
    EXPECT_EQ(ShiftNumberList(" 1, 2 ,5", 3), "4,5,8");
    EXPECT_EQ(ShiftNumberList("", 3), "");
    for (const char *bad : {"1,,2", "1..3", "ё", "1,"}) EXPECT_THROW(ShiftNumberList(bad, 1), ConversionError) << bad;
}

// The check takes exactly the whole keys, with the message it always gave;
// every key it takes is the run's.
TEST(NotationKeys, CheckTakesTheWholeKeysOnly) {
    EngineDb e;
    const qint64 f12 = e.addForm("Ф12");
    e.addTable(f12, "(1000)", 6, 5, 2, 1);
    e.addTable(f12, "(1000ё)", 6, 5, 2, 1);
    e.reload();
    const rulecheck::RuleChecker checker(db::connection(db::kMain));
    const QStringList taken = {"Ф12Т[1000]СТР1ГР3", "ф12т( 1000 )стр1гр3", "Ф12Т[\t1000\t]СТР1ГР3",
                               "Ф12 Т[1000Ё] СТР1ГР3", "Ф12Т(1000]СТР1ГР3"};
    for (const QString &side : taken) {
        EXPECT_TRUE(checker.Check({"Ф12", "", side, "=", "0", ""})) << side.toStdString();
        const ReferenceParts run = CutReferenceParts(SquareTableBrackets(text::upper(side)));
        EXPECT_TRUE(run.table == "(1000)" || run.table == "(1000Ё)") << side.toStdString();
    }
    const QStringList refused = {"Ф12Т[1000СТР1ГР3", "Ф12Т[]СТР1ГР3", "Ф12Т[ ]СТР1ГР3", "Ф12Т[1000] XСТР1ГР3",
                                 "Ф12Т[10]00]СТР1ГР3", "Ф12Т[[1000]]СТР1ГР3", "Ф12Т[1000ё СТР1ГР3"};
    for (const QString &side : refused) {
        const rulecheck::Verdict v = checker.Check({"Ф12", "", side, "=", "0", ""});
        EXPECT_FALSE(v) << side.toStdString();
        // The operand is shown as the check reads it, in capitals.
        EXPECT_EQ(v.detail, "Операнд не является ссылкой на ячейку: " + text::upper(side)) << side.toStdString();
    }
    // A round bracket closing a square one is a fault of the brackets.
    EXPECT_EQ(checker.Check({"Ф12", "", "Ф12Т[1000)СТР1ГР3", "=", "0", ""}).detail, "Нарушен баланс скобок");
}

// A rule side is cut at its signs one way for the rule run and the error marks.
TEST(NotationKeys, SidesAreCutAtTheirSigns) {
    auto cut = [](const QString &side) { return notation::CutSide(SquareTableBrackets(text::upper(side))); };
    EXPECT_EQ(cut("ф30т(1000)стр1гр3+СТР2ГР3"), (QStringList{"Ф30Т[1000]СТР1ГР3", "+", "СТР2ГР3"}));
    EXPECT_EQ(cut("(СТР1ГР3-2)*ё/0"), (QStringList{"", "(", "СТР1ГР3", "-", "2", ")", "", "*", "Ё", "/", "0"}));
    EXPECT_EQ(cut("Т( 1000 )СТР[1..2]"), QStringList{"Т[ 1000 ]СТР[1..2]"});
    EXPECT_EQ(cut(""), QStringList{""});
    EXPECT_EQ(cut("--"), (QStringList{"", "-", "", "-", ""}));
    // A reader of fewer signs: a calculated cell's sum is cut at "+" and "-" alone.
    EXPECT_EQ(notation::CutSide("(a+b)*c-d", u"+-"), (QStringList{"(a", "+", "b)*c", "-", "d"}));
    // As written: the same cut, each piece in its own case and brackets, blanks kept.
    EXPECT_EQ(notation::CutWrittenSide("т(7)стр1 - ß2"), (QStringList{"т(7)стр1 ", "-", " ß2"}));
    EXPECT_EQ(notation::CutWrittenSide("(ф1т(1)стр1+2)"),
              (QStringList{"", "(", "ф1т(1)стр1", "+", "2", ")", ""}));
    // Operands replaced, signs kept: what the rule run and the indicators evaluate.
    EXPECT_EQ(notation::ReplaceOperands("(т(1)стр1 + 2)*ё", [](const QString &p) { return "<" + p + ">"; }),
              "<>(<Т[1]СТР1 >+< 2>)<>*<Ё>");
}
