#include "controls/ZenkorNormalize.h"

#include <gtest/gtest.h>

using namespace zenkor;

TEST(ZenkorNormalize, BracketsOnlyTheDigitRunRightAfterRowOrColumn) {
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("гр5")), QStringLiteral("гр[5]"));
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("СТР12ГР3")), QStringLiteral("СТР[12]ГР[3]"));
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("ГР 5")), QStringLiteral("ГР 5"));
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("СТР[1]ГР[3]")), QStringLiteral("СТР[1]ГР[3]"));
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("ГР4,5")), QStringLiteral("ГР[4],5"));
    EXPECT_EQ(BracketNumbersAfterRowCol(QStringLiteral("Ф30Т[1000]стр1..3гр4")),
              QStringLiteral("Ф30Т[1000]стр[1]..3гр[4]"));
}

TEST(ZenkorNormalize, AttachesRowAndColumnCycles) {
    // Replaces the column list up to its "]", which stays.
    EXPECT_EQ(AttachCycle(QStringLiteral("СТР[1]ГР[3]"), QStringLiteral("ГР[1..5]")),
              QStringLiteral("СТР[1]ГР[1..5]]"));
    // No column list: the cycle goes right after the row list.
    EXPECT_EQ(AttachCycle(QStringLiteral("СТР[2]"), QStringLiteral("ГР[1..5]")), QStringLiteral("СТР[2]ГР[1..5]"));
    EXPECT_EQ(AttachCycle(QStringLiteral("СТР[2"), QStringLiteral("ГР[4]")), QStringLiteral("СТР[ГР[4]2"));
    // Row cycle: replaces the row list, or goes before the column list.
    EXPECT_EQ(AttachCycle(QStringLiteral("стр[1]гр[3]"), QStringLiteral("СТР[1..4]")),
              QStringLiteral("СТР[1..4]]гр[3]"));
    EXPECT_EQ(AttachCycle(QStringLiteral("Т[1]ГР[3]"), QStringLiteral("СТР[1..4]")),
              QStringLiteral("Т[1]СТР[1..4]ГР[3]"));
    EXPECT_EQ(AttachCycle(QStringLiteral("СТР[1"), QStringLiteral("СТР[2]")), QStringLiteral("СТР[1"));
    // Nothing to attach.
    EXPECT_EQ(AttachCycle(QStringLiteral("СТР[1]"), QStringLiteral("X[1]")), QStringLiteral("СТР[1]"));
    EXPECT_EQ(AttachCycle(QStringLiteral("Т[1]"), QStringLiteral("ГР[1]")), QStringLiteral("Т[1]"));
    EXPECT_EQ(AttachCycle(QString(), QStringLiteral("ГР[1]")), QString());
}

TEST(ZenkorNormalize, SurfaceDifferencesNormaliseAlike) {
    const QString a = NormalizeFormulaForMatch(QStringLiteral("стр1 гр5 + СТР[2]ГР[5]"), 0, QStringLiteral("Ф30"),
                                               QStringLiteral("(1000)"), QString());
    const QString b = NormalizeFormulaForMatch(QStringLiteral("Ф30Т(1000)СТР[1]ГР[5]+Ф30т(1000)стр2гр5"), 0,
                                               QString(), QString(), QString());
    EXPECT_EQ(a, b);
    EXPECT_EQ(a, QStringLiteral("Ф30Т(1000)СТР[1]ГР[5]+Ф30Т(1000)СТР[2]ГР[5]"));
    EXPECT_FALSE(a.contains(u' '));
    EXPECT_EQ(a, a.toUpper());

    // The cycle kept apart and the cycle written into the side meet.
    const QString c = NormalizeFormulaForMatch(QStringLiteral("СТР[1]"), 0, QStringLiteral("Ф30"),
                                               QStringLiteral("(1000)"), QStringLiteral("ГР[4..7]"));
    EXPECT_EQ(c, QStringLiteral("Ф30Т(1000)СТР[1]ГР[4..7]"));
    // A cycle of neither kind changes nothing.
    EXPECT_EQ(NormalizeFormulaForMatch(QStringLiteral("ф30т(1000)стр1"), 0, QString(), QString(), QStringLiteral("x")),
              QStringLiteral("Ф30Т(1000)СТР[1]"));
    // Form-only qualification.
    EXPECT_EQ(NormalizeFormulaForMatch(QStringLiteral("Т[2000]СТР[1]ГР[4]"), 1, QStringLiteral("Ф30"), QString(),
                                       QString()),
              QStringLiteral("Ф30Т(2000)СТР[1]ГР[4]"));
    // Table brackets of either kind compare equal.
    EXPECT_EQ(NormalizeFormulaForMatch(QStringLiteral("Ф14Т[1000]СТР[1]ГР[4]"), 2, QString(), QString(), QString()),
              NormalizeFormulaForMatch(QStringLiteral("ф14т(1000)стр1гр4"), 2, QString(), QString(), QString()));
}
