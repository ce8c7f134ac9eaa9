#include "controls/ZenkorNormalize.h"

#include "controls/ZenkorImporter.h"
#include "engine/FormulaParser.h"
#include "engine/TextUtil.h"

namespace zenkor {

namespace {
const QString kRow = QStringLiteral("СТР");
const QString kCol = QStringLiteral("ГР");
const QString kRowOpen = QStringLiteral("СТР[");
const QString kColOpen = QStringLiteral("ГР[");

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }
} // namespace

QString BracketNumbersAfterRowCol(const QString &text) {
    QString s = text;
    QString up = text::upper(s);
    for (int i = int(s.size()) - 1; i >= 0; --i) {
        const bool afterCol = i >= 1 && QStringView(up).mid(i - 1, 2) == kCol;
        const bool afterRow = i >= 2 && QStringView(up).mid(i - 2, 3) == kRow;
        if (!afterCol && !afterRow) continue;
        if (i + 1 >= s.size() || !isAsciiDigit(s.at(i + 1))) continue;
        int end = i + 1;
        while (end < s.size() && isAsciiDigit(s.at(end))) ++end;
        s.insert(end, u']');
        s.insert(i + 1, u'[');
        up = text::upper(s);
    }
    return s;
}

QString AttachCycle(const QString &text, const QString &cycle) {
    if (text.isEmpty() || cycle.isEmpty()) return text;
    const QString kind = text::upper(cycle.trimmed());
    const QString up = text::upper(text);
    // Replaces from the opening marker up to (not including) the first "]" behind it.
    auto replaceGroup = [&](int at) {
        const int close = int(up.indexOf(u']', at));
        if (close < 0) return text;
        return text.left(at) + cycle + text.mid(close);
    };
    if (kind.startsWith(kRow)) {
        const int rowAt = int(up.indexOf(kRowOpen));
        if (rowAt >= 0) return replaceGroup(rowAt);
        const int colAt = int(up.indexOf(kColOpen));
        if (colAt >= 0) return text.left(colAt) + cycle + text.mid(colAt);
        return text;
    }
    if (kind.startsWith(kCol)) {
        const int colAt = int(up.indexOf(kColOpen));
        if (colAt >= 0) return replaceGroup(colAt);
        const int rowAt = int(up.indexOf(kRowOpen));
        if (rowAt < 0) return text;
        const int close = int(up.indexOf(u']', rowAt));
        const int insertAt = close >= 0 ? close + 1 : rowAt + int(kRowOpen.size());
        return text.left(insertAt) + cycle + text.mid(insertAt);
    }
    return text;
}

QString NormalizeFormulaForMatch(const QString &side, int mode, const QString &defaultForm,
                                 const QString &defaultTable, const QString &cycle) {
    QString s = BracketNumbersAfterRowCol(side);
    s = QualifyFormulaRefs(s, mode, defaultForm, defaultTable);
    if (!cycle.isEmpty()) s = AttachCycle(s, cycle);
    s = text::upper(s.trimmed());
    QString out;
    out.reserve(s.size());
    for (QChar c : s)
        if (!c.isSpace()) out += c;
    // The program's rules write a table as Т[n], the imported ones as Т(n):
    // one spelling for both, so that the same reference compares equal.
    return TControlMatchImporter::TableBracketsToParens(out);
}

} // namespace zenkor

QString TControlMatchImporter::NormalizeFormulaForMatch(const QString &side, int mode, const QString &defaultForm,
                                                        const QString &defaultTable, const QString &cycle) {
    return zenkor::NormalizeFormulaForMatch(side, mode, defaultForm, defaultTable, cycle);
}
