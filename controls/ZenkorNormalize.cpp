#include "controls/ZenkorNormalize.h"

#include "controls/ZenkorImporter.h"
#include "engine/FormulaParser.h"
#include "engine/TextUtil.h"

namespace zenkor {

QString BracketNumbersAfterRowCol(const QString &text) { return notation::BracketBareNumbers(text); }

QString AttachCycle(const QString &text, const QString &cycle) {
    if (text.isEmpty() || cycle.isEmpty()) return text;
    const notation::Cycle kind = notation::ReadCycle(cycle);
    if (!kind.found) return text;
    const QString up = text::upper(text);
    // The group of the cycle's kind gives way to it up to (not including) its "]".
    if (const auto own = notation::FirstGroup(up, kind.line, false))
        return own->close < 0 ? text : text.left(own->at) + cycle + text.mid(own->close);
    const auto other = notation::FirstGroup(up, notation::OtherLine(kind.line), false);
    if (!other) return text;
    // Rows come first: before the column group, after the row group.
    const qsizetype at = kind.line == notation::Line::Rows ? other->at
                         : other->close >= 0                ? other->close + 1
                                                            : other->open + 1;
    return text.left(at) + cycle + text.mid(at);
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
