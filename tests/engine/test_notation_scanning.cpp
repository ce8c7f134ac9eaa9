// The notation's scanners of whole texts: where references stand in an
// expression, bare numbers after the line markers, a cycle's marker as written.
#include "engine/Notation.h"

#include <gtest/gtest.h>

namespace {

// The references of a text as their own texts.
QStringList referencesOf(const QString &text) {
    const QString up = notation::Upper(text);
    QStringList out;
    for (const notation::Part &p : notation::FindReferences(up)) out << p.in(text).toString();
    return out;
}

} // namespace

TEST(NotationScanning, UpperKeepsEveryPosition) {
    EXPECT_EQ(notation::Upper(u"ф30т[1000]стр1гр4 ё"), QStringLiteral("Ф30Т[1000]СТР1ГР4 Ё"));
    // "ß" has no single capital: the text keeps its length.
    EXPECT_EQ(notation::Upper(u"ßгр5").size(), 4);
}

TEST(NotationScanning, ReferencesEndAtTheSignsOfTheExpression) {
    struct Case {
        const char16_t *text;
        QStringList refs;
    };
    const Case cases[] = {
        {u"Ф12Т[3]СТР[1..2]ГР4 + Ф1Т[1]ГР2", {"Ф12Т[3]СТР[1..2]ГР4", "Ф1Т[1]ГР2"}},
        // A table in round brackets, blanks before them, holds signs; lower case.
        {u"(ф12т (1-2)стр1гр4)*2", {"ф12т (1-2)стр1гр4"}},
        {u"Ф1СТР[-1]ГР[+2]>=Ф2СТР1", {"Ф1СТР[-1]ГР[+2]", "Ф2СТР1"}},
        {u"Ф1ГР1==Ф2ГР2", {"Ф1ГР1=", "Ф2ГР2"}},
        {u"Ф1ГР1 AND Ф2ГР2 or Ф3ГР3", {"Ф1ГР1", "Ф2ГР2", "Ф3ГР3"}},
        // AND and OR inside a word are no words; a Cyrillic letter stands apart.
        {u"ФORDERГР1 ФANDYГР2 ФXORА", {"ФORDERГР1", "ФANDYГР2", "ФXORА"}},
        {u"ФX ORА", {"ФX"}},
        {u"Ф1/Ф2-Ф3<Ф4", {"Ф1", "Ф2", "Ф3", "Ф4"}},
        // A "Ф" in a form's name is the name's own; past the name it starts another reference.
        {u"ФФ", {"ФФ"}},
        {u"ФАПФ1Т[1]ГР2+ффСТР1", {"ФАПФ1Т[1]ГР2", "ффСТР1"}},
        {u"Ф1Т[1]ГР2Ф3Т(1)ГР1", {"Ф1Т[1]ГР2", "Ф3Т(1)ГР1"}},
        {u"Ф   ", {"Ф"}},
        {u"СТР1ГР2+5", {}},
        {u"Ф1Т(1000ГР2", {"Ф1Т(1000ГР2"}},
        {u"Ф1)Ф2", {"Ф1", "Ф2"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(referencesOf(QString::fromUtf16(c.text)), c.refs) << QString::fromUtf16(c.text).toStdString();
    // Positions are those of the text, "ß" before a reference included.
    const QList<notation::Part> parts = notation::FindReferences(notation::Upper(u"ß+ф1гр2 "));
    ASSERT_EQ(parts.size(), 1);
    EXPECT_EQ(parts[0].at, 2);
    EXPECT_EQ(parts[0].end, 7);
}

TEST(NotationScanning, BareNumbersAfterMarkersAreBracketed) {
    const QPair<QString, QString> cases[] = {
        {"гр5", "гр[5]"},
        {"СТР12ГР3", "СТР[12]ГР[3]"},
        {"ф30т[1000]стр1гр4+Ф30Т[1000]Стр2Гр4", "ф30т[1000]стр[1]гр[4]+Ф30Т[1000]Стр[2]Гр[4]"},
        {"гр5стр", "гр[5]стр"},
        {"ёгр05..7", "ёгр[05]..7"},
        // Blanks, brackets and no digits: as written.
        {"ГР 5", "ГР 5"},
        {"ГР[5]", "ГР[5]"},
        {"СТР", "СТР"},
        {"ГР", "ГР"},
        {"", ""},
        {"ГРГР1", "ГРГР[1]"},
        {"СТРСТР", "СТРСТР"},
        {"гр٣", "гр٣"},
        // A capital of another length before the marker does not move it.
        {"ßгр5", "ßгр[5]"},
    };
    for (const auto &[text, bracketed] : cases)
        EXPECT_EQ(notation::BracketBareNumbers(text), bracketed) << text.toStdString();
}

TEST(NotationScanning, CycleMarkerAsWritten) {
    EXPECT_EQ(notation::ReadCycle(" стр [2..3]").marker, QStringLiteral("стр"));
    EXPECT_EQ(notation::ReadCycle("Гр4").marker, QStringLiteral("Гр"));
    EXPECT_TRUE(notation::ReadCycle("4..7").marker.isEmpty());
}

TEST(NotationScanning, LineReferencesWithAndWithoutFormAndTable) {
    auto read = [](const QString &text) {
        QStringList out;
        for (const notation::LineReference &r : notation::ReadLineReferences(text))
            out << QStringList{r.form, r.table, r.rows, r.columns}.join(u'|');
        return out;
    };
    // The program's own texts, lower case and blanks.
    EXPECT_EQ(read("Ф30Т[1000]СТР[1..5]ГР[4]"), QStringList{"Ф30|(1000)|[1..5]|[4]"});
    EXPECT_EQ(read("СТР[2]+стр 3 гр[4,6]"), (QStringList{"||[2]|", "||3|[4,6]"}));
    EXPECT_EQ(read("(ф14т( 1000 )стр1гр6>10 OR Ф30Т(2000)СТР1ГР4>8000)"),
              (QStringList{"Ф14|(1000)|1|6", "Ф30|(2000)|1|4"}));
    EXPECT_EQ(read("Фё Т[1]ГР2"), QStringList{"ФЁ|(1)||2"});
    // Out of order: the next reference; nothing that names a part is none.
    EXPECT_EQ(read("ГР5СТР1"), (QStringList{"|||5", "||1|"}));
    EXPECT_EQ(read("2*3+X"), QStringList{});
    // Hostile: unclosed brackets and markers alone.
    EXPECT_EQ(read("Ф1Т[1000СТР[1"), QStringList{"Ф1|||"});
    EXPECT_EQ(read("СТР[СТР[1]]"), (QStringList{"||[СТР[1]|"}));
}

TEST(NotationScanning, StoredTableNumberAsASquareKey) {
    EXPECT_EQ(notation::SquareTableKey("(1000)"), QStringLiteral("[1000]"));
    EXPECT_EQ(notation::SquareTableKey("(1000-дополнение ё)"), QStringLiteral("[1000-дополнение ё]"));
    EXPECT_EQ(notation::SquareTableKey("()"), QStringLiteral("[]"));
    for (const QString &kept : {"1000", "(1000", "1000)", "(", ")", "", "[1000]"})
        EXPECT_EQ(notation::SquareTableKey(kept), kept);
}

TEST(NotationScanning, TableKeysCloseAtTheirOwnKindOfBracket) {
    const QList<notation::TableKey> keys = notation::FindTableKeys(u"Ф1Т[10)]+Т(2]) Т[ Т Т(");
    ASSERT_EQ(keys.size(), 4);
    EXPECT_EQ(keys[0].at, 2);
    EXPECT_EQ(keys[0].close, 7);
    EXPECT_EQ(keys[1].at, 9);
    EXPECT_EQ(keys[1].close, 13);
    EXPECT_EQ(keys[2].close, -1);
    EXPECT_EQ(keys[3].at, 20);
    EXPECT_EQ(keys[3].close, -1);
    // Upper-cased text only; the Latin T is no table.
    EXPECT_TRUE(notation::FindTableKeys(u"т[1] T[1]").isEmpty());
}
