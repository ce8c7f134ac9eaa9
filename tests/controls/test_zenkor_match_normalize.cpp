#include "controls/ZenkorNormalize.h"

#include <gtest/gtest.h>

using namespace zenkor;

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
                                       QString()), QStringLiteral("Ф30Т(2000)СТР[1]ГР[4]"));
    // Table brackets of either kind compare equal.
    EXPECT_EQ(NormalizeFormulaForMatch(QStringLiteral("Ф14Т[1000]СТР[1]ГР[4]"), 2, QString(), QString(), QString()),
              NormalizeFormulaForMatch(QStringLiteral("ф14т(1000)стр1гр4"), 2, QString(), QString(), QString()));
}
