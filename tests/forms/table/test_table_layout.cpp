// Layout of the table window's titles: the title code and the wrap of title text.
#include "forms/table/TableLayout.h"

#include <gtest/gtest.h>

namespace {
// Every character 10 pixels wide.
int tenEach(const QString &s) { return int(s.size()) * 10; }
}

TEST(TableLayout, TitleCodeParts) {
    struct Case {
        const char *code;
        char v, h;
        bool rotated;
        int indent;
    } cases[] = {
        {"CC00", 'C', 'C', false, 0}, {"TL1", 'T', 'L', true, 0}, {"BR02", 'B', 'R', false, 2},
        {"CL012", 'C', 'L', false, 12}, {"", 'C', 'C', false, 0}, {"CC0300", 'C', 'C', false, 300 & 0xFF},
        {"XX0", 'C', 'C', false, 0},
    };
    for (const Case &c : cases) {
        const layout::TitleCode t = layout::parseTitleCode(QString::fromLatin1(c.code));
        EXPECT_EQ(t.vertical, QChar(c.v)) << c.code;
        EXPECT_EQ(t.horizontal, QChar(c.h)) << c.code;
        EXPECT_EQ(t.rotated, c.rotated) << c.code;
        EXPECT_EQ(t.indent, c.indent) << c.code;
    }
}

TEST(TableLayout, WrapBreaksAtBlanksDashesAndLineFeeds) {
    struct Case {
        QString text;
        int width;
        int indent;
        QStringList lines;
    } cases[] = {
        {"Всего", 100, 0, {"Всего"}},
        {"ab cd ef", 60, 0, {"ab cd", "ef"}},           // "ab cd" is 50 < 60
        {"ab cd ef", 50, 0, {"ab", "cd", "ef"}},        // 50 is not narrower than 50
        {"ab-cd", 40, 0, {"ab-", "cd"}},                // "-" stays with the word before it
        {"ab-cd", 100, 0, {"ab-cd"}},
        {"ab\ncd", 100, 0, {"ab", "cd"}},
        {"ab\r\ncd", 100, 0, {"ab", "cd"}},
        {"ab cd", 100, 60, {"ab", "cd"}},               // indent narrows the line
        {"длинноеслово x", 30, 0, {"длинноеслово", "x"}},  // too wide: a line of its own
        {"", 50, 0, {""}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(layout::wrapTitleText(c.text, c.width, c.indent, tenEach), c.lines) << c.text.toStdString();
}
