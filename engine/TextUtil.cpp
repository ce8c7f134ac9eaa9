#include "engine/TextUtil.h"

#include "engine/EngineError.h"
#include "platform/Codepage.h"

#include <algorithm>

namespace text {

QString upper(const QString &s) { return s.toUpper(); }
bool sameNoCase(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }
bool sameName(const QString &a, const QString &b) {
    return QStringView(a).trimmed().compare(QStringView(b).trimmed(), Qt::CaseInsensitive) == 0;
}

QString tabsToBlanks(const QString &s) {
    QString r = s;
    r.replace(u'\t', u' ');
    return r;
}

QString characterName(char32_t c) {
    const QString code = QStringLiteral("U+") + QString::number(uint(c), 16).toUpper().rightJustified(4, u'0');
    // An invisible character (a zero-width space, a byte-order mark) or a lone
    // half of a surrogate pair cannot be shown: its code alone names it.
    if (QChar::isSurrogate(c) || !QChar::isPrint(c) || QChar::category(c) == QChar::Other_Format) return code;
    return QStringLiteral("\"%1\" (%2)").arg(QString::fromUcs4(&c, 1), code);
}

QString unencodableProblem(const QString &text) {
    const QList<char32_t> bad = cp1251::unencodable(text);
    if (bad.isEmpty()) return {};
    QStringList shown;
    for (char32_t c : bad) shown << characterName(c);
    return QStringLiteral("Символы, которых нет в кодировке Windows-1251, не сохраняются: ") +
           shown.join(QStringLiteral(", "));
}

QString entryProblem(const QString &typed, const QString &field) {
    const QString problem = unencodableProblem(typed);
    if (problem.isEmpty() || field.isEmpty()) return problem;
    return QStringLiteral("%1: %2").arg(field, problem);
}

QString entry(const QString &typed, Field kind, const QString &field) {
    if (const QString problem = entryProblem(typed, field); !problem.isEmpty()) throw EngineError(problem);
    return entryLayout(typed, kind);
}

QString entryLayout(const QString &typed, Field kind) {
    QString r = typed;
    switch (kind) {
    case Field::OneLine:
    case Field::Formula:
        r.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
        // Every other control character too: bytes 1 and 2 are how records
        // carry line breaks, and a file read into a one-line text keeps them.
        for (QChar &c : r)
            if (c.unicode() < 0x20)
                c = u' ';
        break;
    case Field::MultiLine:
        r.replace(u'\t', u' ');
        break;
    }
    return r;
}

void sortNames(QStringList &names) { std::stable_sort(names.begin(), names.end(), nameLess); }

QString encodeColon(const QString &s) {
    QString r = s;
    r.replace(u':', QChar(3));
    return r;
}

QString decodeColon(const QString &s) {
    QString r = s;
    r.replace(QChar(3), u':');
    return r;
}

QString encodeLineBreaks(const QString &s) {
    QString r = s;
    r.replace(u'\n', QChar(1));
    r.replace(u'\r', QChar(2));
    return r;
}

QString decodeLineBreaks(const QString &s) {
    QString r = s;
    r.replace(QChar(1), u'\n');
    r.replace(QChar(2), u'\r');
    return r;
}

namespace {
constexpr char16_t kFieldEscape = 3;
bool isControl(char16_t c) { return c < 0x20 || c == 0x7F; }
} // namespace

QString encodeFieldControls(const QString &s) {
    QString r;
    r.reserve(s.size());
    for (const QChar ch : s) {
        const char16_t c = ch.unicode();
        if (c == u'\n') r += QChar(1);
        else if (c == u'\r') r += QChar(2);
        else if (isControl(c)) r += QChar(kFieldEscape), r += QChar(char16_t(c ^ 0x40));
        else r += ch;
    }
    return r;
}

QString decodeFieldControls(const QString &s) {
    QString r;
    r.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        const char16_t c = s[i].unicode();
        if (c == 1) r += u'\n';
        else if (c == 2) r += u'\r';
        else if (c == kFieldEscape && i + 1 < s.size() && isControl(char16_t(s[i + 1].unicode() ^ 0x40)))
            r += QChar(char16_t(s[++i].unicode() ^ 0x40));
        else r += s[i];
    }
    return r;
}

QList<qint64> parseIdList(const QString &list, bool *ok) {
    QList<qint64> ids;
    bool allOk = true;
    for (const QString &part : list.split(u',', Qt::SkipEmptyParts)) {
        bool good = false;
        const qint64 v = part.trimmed().toLongLong(&good);
        if (good) ids.append(v);
        else allOk = false;
    }
    if (ok) *ok = allOk;
    return ids;
}

QString joinIdList(const QList<qint64> &ids) {
    QStringList parts;
    parts.reserve(ids.size());
    for (qint64 id : ids) parts.append(QString::number(id));
    return parts.join(u',');
}

bool isIdList(const QString &list) {
    if (list.isEmpty()) return false;
    bool ok = false;
    parseIdList(list, &ok);
    return ok && !list.startsWith(u',') && !list.contains(QStringLiteral(",,"));
}

QString shortDate(const QDate &date) { return date.toString(QStringLiteral("dd.MM.yyyy")); }
QString longTime(const QTime &time) { return time.toString(QStringLiteral("hh:mm:ss")); }

QString shownField(const QString &s) {
    constexpr int kMost = 100;
    if (s.size() <= kMost) return s;
    int cut = kMost - 1;
    if (s.at(cut - 1).isHighSurrogate()) --cut;   // never split a character in two
    return s.left(cut) + QChar(0x2026);
}

} // namespace text

// ---- Positions and characters -------------------------------------------------

qsizetype PosFrom(const QString &sub, const QString &text, qsizetype start) {
    if (start > text.size()) return start;
    if (sub.isEmpty()) return text.size() + 1;
    const qsizetype at = text.indexOf(sub, std::max<qsizetype>(start, 1) - 1);
    return at < 0 ? text.size() + 1 : at + 1;
}

qsizetype PosBackFrom(const QString &text, qsizetype index, const QString &sub) {
    const qsizetype from = index - sub.size();
    if (sub.isEmpty() || from < 1 || text.isEmpty()) return 0;
    const qsizetype at = text.lastIndexOf(sub, std::min(from, text.size()) - 1);
    return at < 0 ? 0 : at + 1;
}

bool IsDigitsText(const QString &text) {
    for (QChar ch : text)
        if (!(ch >= u'0' && ch <= u'9') && ch != u'.') return false;
    return true;
}

bool IsDecimalText(const QString &text) { return !text.isEmpty() && IsDigitsText(text); }

QString ReplaceChar(const QString &text, QChar what, QChar with) {
    QString r = text;
    r.replace(what, with);
    return r;
}

QString RemoveChar(const QString &text, QChar what) {
    QString r = text;
    r.remove(what);
    return r;
}
