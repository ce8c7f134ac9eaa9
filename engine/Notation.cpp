#include "engine/Notation.h"

#include "engine/EngineError.h"
#include "engine/TextUtil.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace notation {

namespace {

const QString kForm = QStringLiteral("Ф");
const QString kTable = QStringLiteral("Т[");
const QString kRow = QStringLiteral("СТР");
const QString kCol = QStringLiteral("ГР");
const QString kDots = QStringLiteral("..");

} // namespace

const QString &Marker(Line line) { return line == Line::Rows ? kRow : kCol; }

QString Upper(QStringView text) {
    QString up = text.toString();
    for (QChar &c : up) c = c.toUpper();
    return up;
}

namespace {

bool isAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

bool isDigitOrLatin(QChar c) {
    return isAsciiDigit(c) || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}

// A "(" that follows the letter Т (Cyrillic or Latin), blanks and tabs between allowed.
bool opensTableBracket(QStringView up, qsizetype at) {
    qsizetype k = at - 1;
    while (k >= 0 && (up[k] == u' ' || up[k] == u'\t')) --k;
    return k >= 0 && (up[k] == u'Т' || up[k] == u'T');
}

// The word AND/OR at position j, standing apart from digits and Latin letters.
bool isLogicalWord(QStringView up, qsizetype j) {
    for (QStringView w : {QStringView(u"AND"), QStringView(u"OR")}) {
        if (up.mid(j, w.size()) != w) continue;
        const bool beforeFree = j == 0 || !isDigitOrLatin(up[j - 1]);
        const qsizetype after = j + w.size();
        const bool afterFree = after >= up.size() || !isDigitOrLatin(up[after]);
        if (beforeFree && afterFree) return true;
    }
    return false;
}

// End (exclusive) of the reference that starts with the "Ф" at s.
qsizetype referenceEnd(QStringView up, qsizetype s) {
    bool inTable = false;
    // The form's name runs up to the reference's next part, as FindMarkers
    // reads it: a "Ф" in it is the name's own ("ФАПФ1").
    bool inForm = true;
    const qsizetype n = up.size();
    for (qsizetype j = s + 1; j < n; ++j) {
        const QChar c = up[j];
        if (inForm && (up.mid(j, 2) == kTable || up.mid(j, 2) == u"Т(" || up.mid(j, 3) == kRow || up.mid(j, 2) == kCol))
            inForm = false;
        if (c == kForm[0] && !inForm) return j;
        if (c == u'(') {
            if (!inTable && opensTableBracket(up, j)) inTable = true;
            continue;
        }
        if (c == u')') {
            if (inTable) {
                inTable = false;
                continue;
            }
            return j;
        }
        if (c == u'<' || c == u'>') return j;
        if (c == u'=' && !(j + 1 < n && up[j + 1] == u'=')) return j;
        if (inTable) continue;
        if (isLogicalWord(up, j)) return j;
        if (c == u'*' || c == u'/') return j;
        if (c == u'+' || c == u'-') {
            const QChar before = up[j - 1];
            const bool sign = before == u'(' || before == u'*' || before == u'+' || before == u'-' ||
                              before == u'/' || before == u'[';
            if (!sign) return j;
        }
    }
    return n;
}

} // namespace

QList<Part> FindReferences(QStringView up) {
    QList<Part> out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype s = up.indexOf(kForm, from);
        if (s < 0) break;
        const qsizetype stop = referenceEnd(up, s);
        qsizetype end = stop;
        while (end > s + 1 && up[end - 1].isSpace()) --end;
        out.append(Part{s, end});
        from = stop > s ? stop : s + 1;
    }
    return out;
}

QStringList CutSide(const QString &t) {
    QStringList items;
    qsizetype start = 0;
    for (qsizetype i = 0; i < t.size(); ++i) {
        const QChar c = t[i];
        if (c != u'(' && c != u')' && c != u'*' && c != u'+' && c != u'-' && c != u'/') continue;
        items.append(t.mid(start, i - start));
        items.append(QString(c));
        start = i + 1;
    }
    items.append(t.mid(start));
    return items;
}

QString BracketBareNumbers(const QString &text) {
    const QString up = Upper(text);
    QString s = text;
    // From the right, so that the positions before each insertion stay those of up.
    for (qsizetype i = up.size() - 1; i >= 0; --i) {
        const bool afterCol = i >= 1 && QStringView(up).mid(i - 1, 2) == kCol;
        const bool afterRow = i >= 2 && QStringView(up).mid(i - 2, 3) == kRow;
        if (!afterCol && !afterRow) continue;
        if (i + 1 >= up.size() || !isAsciiDigit(up.at(i + 1))) continue;
        qsizetype end = i + 1;
        while (end < up.size() && isAsciiDigit(up.at(end))) ++end;
        s.insert(end, u']');
        s.insert(i + 1, u'[');
    }
    return s;
}

Markers FindMarkers(QStringView s) {
    Markers m;
    const qsizetype starts[4] = {s.indexOf(kForm), s.indexOf(kTable), s.indexOf(kRow), s.indexOf(kCol)};
    Part *parts[4] = {&m.form, &m.table, &m.rows, &m.columns};
    m.leadEnd = s.size();
    for (int i = 0; i < 4; ++i) {
        if (starts[i] < 0) continue;
        qsizetype end = s.size();
        for (qsizetype p : starts)
            if (p > starts[i] && p < end) end = p;
        *parts[i] = Part{starts[i], end};
        m.leadEnd = std::min(m.leadEnd, starts[i]);
    }
    return m;
}

QList<LineReference> ReadLineReferences(const QString &expression) {
    static const QRegularExpression re(
        QStringLiteral("(?:Ф((?:(?!Т[\\[(]|СТР|ГР)[^+\\-*/()<>=;\\[\\]])*))?\\s*"
                       "(?:Т[\\[(]\\s*([^\\])]*?)\\s*[\\])])?\\s*"
                       "(?:СТР\\s*(\\[[^\\]]*\\]|[0-9][0-9.,]*))?\\s*"
                       "(?:ГР\\s*(\\[[^\\]]*\\]|[0-9][0-9.,]*))?"));
    QList<LineReference> out;
    auto it = re.globalMatch(text::upper(expression));
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedLength() == 0) continue;
        if (m.capturedStart(1) < 0 && m.capturedStart(2) < 0 && m.capturedStart(3) < 0 && m.capturedStart(4) < 0)
            continue;
        LineReference r;
        if (m.capturedStart(1) >= 0) r.form = (kForm + m.captured(1)).trimmed();
        if (m.capturedStart(2) >= 0) r.table = u'(' + m.captured(2).trimmed() + u')';
        r.rows = m.captured(3);
        r.columns = m.captured(4);
        out.append(r);
    }
    return out;
}

QList<TextReference> FindTextReferences(QStringView text) {
    const QString up = SquareTableBrackets(Upper(text));
    QList<TextReference> out;
    auto piece = [&](qsizetype from, qsizetype to) {
        const QStringView p = QStringView(up).mid(from, to - from);
        const Markers m = FindMarkers(p);
        if (m.leadEnd == p.size() || !p.left(m.leadEnd).trimmed().isEmpty()) return;
        TextReference r;
        if (m.form.found()) {
            qsizetype a = m.form.at, b = m.form.end;
            while (b > a + 1 && p[b - 1].isSpace()) --b;
            r.formAt = from + a;
            r.formEnd = from + b;
        }
        if (m.table.found()) {
            const qsizetype close = p.indexOf(u']', m.table.at + 2);
            if (close >= 0 && close < m.table.end) {
                r.keyAt = from + m.table.at + 2;
                r.keyEnd = from + close;
            }
        }
        if (r.hasForm() || r.hasTable() || m.rows.found() || m.columns.found()) out.append(r);
    };
    qsizetype start = 0;
    for (qsizetype i = 0; i < up.size();) {
        const QChar c = up[i];
        if (c == kTable[0] && i + 1 < up.size() && up[i + 1] == u'[') {
            // A key is one part whatever it holds.
            const qsizetype close = up.indexOf(u']', i + 2);
            i = close < 0 ? up.size() : close + 1;
            continue;
        }
        qsizetype cut = 0;
        if (c == u'(' || c == u')' || c == u'*' || c == u'+' || c == u'-' || c == u'/' || c == u'<' || c == u'>' ||
            c == u'=' || c == u';')
            cut = 1;
        else if (QStringView(up).mid(i, 3) == u"AND")
            cut = 3;
        else if (QStringView(up).mid(i, 2) == u"OR")
            cut = 2;
        if (!cut) {
            ++i;
            continue;
        }
        piece(start, i);
        i += cut;
        start = i;
    }
    piece(start, up.size());
    return out;
}

QList<TableKey> FindTableKeys(QStringView up) {
    QList<TableKey> out;
    for (qsizetype p = 0; p + 1 < up.size(); ++p) {
        if (up.at(p) != u'Т' || (up.at(p + 1) != u'[' && up.at(p + 1) != u'(')) continue;
        out.append({p, up.indexOf(up.at(p + 1) == u'[' ? u']' : u')', p + 2)});
    }
    return out;
}

QString SquareTableKey(const QString &stored) {
    if (!stored.startsWith(u'(') || !stored.endsWith(u')')) return stored;
    return u'[' + stored.mid(1, stored.size() - 2) + u']';
}

TableKeyPart ReadTableKey(QStringView part) {
    QStringView t = part.trimmed();
    const qsizetype close = t.indexOf(u']');
    TableKeyPart k;
    k.closed = close >= 0 && close == t.size() - 1;
    if (t.endsWith(u']')) t = t.chopped(1).trimmed();
    k.closed = k.closed && !t.isEmpty();
    k.key.reserve(t.size() + 2);
    k.key.append(u'(').append(t).append(u')');
    return k;
}

QString TableKeyOf(const QString &tableText) {
    qsizetype start = -1;
    for (qsizetype i = 0; i < tableText.size() && start < 0; ++i)
        if (tableText[i] == u'(' || tableText[i] == u'[') start = i;
    if (start < 0) return tableText;
    // The key runs up to the next marker, as a reference's table part does.
    const QString squared = SquareTableBrackets(kTable.left(1) + tableText.mid(start));
    const Markers m = FindMarkers(Upper(squared));
    return ReadTableKey(m.table.in(squared).mid(kTable.size())).key;
}

QString StoredTableKey(const QString &table) {
    const QString t = table.trimmed();
    if (t.isEmpty()) return t;
    if (!t.contains(u'(') && !t.contains(u'[')) return u'(' + t + u')';
    return TableKeyOf(t);
}

namespace {

// Why a character cannot stand in a name a reference names; empty when it can.
QString characterProblem(QChar c) {
    if (c == u'+' || c == u'-' || c == u'*' || c == u'/') return QStringLiteral("это знак действия");
    if (c == u'(' || c == u')' || c == u'[' || c == u']') return QStringLiteral("это скобка выражения");
    if (c == u'<' || c == u'>' || c == u'=') return QStringLiteral("это знак сравнения");
    if (c == u';') return QStringLiteral("так отделяется формула показателя");
    if (c == u'"') return QStringLiteral("кавычки выделяют текст");
    if (c.isSpace()) return QStringLiteral("в условиях расчетных ячеек пробелы не читаются");
    return {};
}

QString shownCharacter(QChar c) {
    if (c == u' ') return QStringLiteral("пробел");
    if (c.isSpace()) return QStringLiteral("символ с кодом %1").arg(c.unicode());
    return u'"' + QString(c) + u'"';
}

// The first character or word of name (upper-cased alike in up) from `from`
// on that a reader would take for a part of the notation; words: the words
// that cannot stand in it.
QString nameProblem(const QString &what, const QString &name, const QString &up, qsizetype from,
                    const QStringList &words, const QString &shown) {
    for (qsizetype i = from; i < name.size(); ++i) {
        if (const QString why = characterProblem(name[i]); !why.isEmpty())
            return QStringLiteral("%1 не может содержать %2: в ссылках на ячейки %3: \"%4\"")
                .arg(what, shownCharacter(name[i]), why, shown);
        for (const QString &w : words) {
            if (QStringView(up).mid(i, w.size()) != w) continue;
            const QString why = w == kRow || w == kCol ? QStringLiteral("так начинаются части строк и граф")
                                : w == kForm           ? QStringLiteral("так начинается часть формы")
                                : w == QStringLiteral("ВПТ") ? QStringLiteral("так отмечается ячейка вне таблицы")
                                                       : QStringLiteral("так соединяются условия расчетных ячеек");
            return QStringLiteral("%1 не может содержать \"%2\" (в любом регистре): в ссылках на ячейки %3: \"%4\"")
                .arg(what, w, why, shown);
        }
    }
    return {};
}

} // namespace

QString FormNameProblem(const QString &formname) {
    const QString name = formname.trimmed();
    const QString up = Upper(name);
    if (!up.startsWith(kForm))
        return QStringLiteral("Наименование формы должно начинаться с буквы \"Ф\": с нее начинается ссылка на форму "
                              "в контролях и формулах: \"%1\"")
            .arg(name);
    if (up == kForm)
        return QStringLiteral("Наименование формы не может быть одной буквой \"Ф\": в ссылках на ячейки за ней "
                              "пишется имя формы");
    return nameProblem(QStringLiteral("Наименование формы"), name, up, 1,
                       {kRow, kCol, QStringLiteral("ВПТ"), QStringLiteral("AND"), QStringLiteral("OR")}, name);
}

namespace {
// The inside of a stored table number: "(1000)" -> "1000".
QString numberInside(const QString &tablen) {
    const QString t = tablen.trimmed();
    return t.size() >= 2 && t.startsWith(u'(') && t.endsWith(u')') ? t.mid(1, t.size() - 2) : t;
}
} // namespace

QString TableNumberProblem(const QString &tablen) {
    const QString inner = numberInside(tablen);
    return nameProblem(QStringLiteral("Номер таблицы"), inner, Upper(inner), 0,
                       {kRow, kCol, kForm, QStringLiteral("ВПТ"), QStringLiteral("AND"), QStringLiteral("OR")},
                       tablen.trimmed());
}

QString RuleScope(const QString &formname, const QString &tablen) {
    const QString form = formname.trimmed();
    if (tablen.trimmed().isEmpty()) return form;
    return form + kTable + numberInside(tablen) + u']';
}

QString NamingProblem(const QString &formname, const QString &tablen, bool inSide) {
    const QString form = formname.trimmed(), table = tablen.trimmed();
    QString written = RuleScope(form, table);
    if (inSide) written += kRow + QStringLiteral("1") + kCol + QStringLiteral("1");
    const QString up = SquareTableBrackets(Upper(written));
    const QStringList pieces = inSide ? CutSide(up) : QStringList{up};
    const ReferenceParts read = pieces.size() == 1 ? CutReferenceParts(pieces[0]) : ReferenceParts();
    const bool formBack = form.isEmpty() ? !read.hasForm : read.hasForm && read.form == Upper(form);
    const bool tableBack = table.isEmpty() ? !read.hasTable
                                           : read.hasTable && read.table == Upper(u'(' + numberInside(table) + u')');
    if (formBack && tableBack && (!inSide || (read.rows == u"1" && read.columns == u"1"))) return {};
    QString why = form.isEmpty() ? QString() : FormNameProblem(form);
    if (why.isEmpty() && !table.isEmpty()) why = TableNumberProblem(table);
    if (why.isEmpty())
        why = QStringLiteral("ссылка %1 не читается как ссылка на эту форму и таблицу").arg(written);
    return why;
}

QList<Group> FindGroups(QStringView s, bool nested) {
    QList<Group> out;
    const QString rowOpen = kRow + u'[', colOpen = kCol + u'[';
    qsizetype from = 0;
    for (;;) {
        const qsizetype r = s.indexOf(rowOpen, from), g = s.indexOf(colOpen, from);
        if (r < 0 && g < 0) break;
        Group grp;
        grp.line = (r >= 0 && (g < 0 || r < g)) ? Line::Rows : Line::Columns;
        grp.at = grp.line == Line::Rows ? r : g;
        grp.open = grp.at + Marker(grp.line).size();
        grp.close = nested ? MatchingBracket(s, grp.open, false) : s.indexOf(u']', grp.open);
        out.append(grp);
        from = grp.open + 1;
    }
    return out;
}

std::optional<Group> FirstGroup(QStringView s, Line line, bool nested) {
    for (const Group &g : FindGroups(s, nested))
        if (g.line == line) return g;
    return std::nullopt;
}

qsizetype MatchingBracket(QStringView s, qsizetype open, bool roundToo) {
    int depth = 0;
    for (qsizetype i = open; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == u'[' || (roundToo && c == u'(')) ++depth;
        else if ((c == u']' || (roundToo && c == u')')) && --depth == 0) return i;
    }
    return -1;
}

QString LineListText(const QString &reference, Line line) {
    const QString up = text::upper(reference);
    const QString &marker = Marker(line);
    QString list;
    const qsizetype bracket = up.indexOf(marker + u'[');
    if (bracket >= 0) {
        const qsizetype open = bracket + marker.size();
        const qsizetype close = MatchingBracket(up, open, false);
        if (close < 0) return {};
        list = reference.mid(open + 1, close - open - 1);
    } else {
        qsizetype p = up.indexOf(marker);
        if (p < 0) return {};
        p += marker.size();
        while (p < up.size() && up[p] == u' ') ++p;
        const qsizetype start = p;
        while (p < up.size() && (up[p].isDigit() || up[p] == u'.' || up[p] == u',')) ++p;
        list = reference.mid(start, p - start);
    }
    const QString ul = text::upper(list);
    if (ul.contains(kRow) || ul.contains(kCol) || ul.contains(kForm) || ul.contains(u'Т')) return {};
    return list;
}

bool ListOfPart(QStringView part, QStringView &list) {
    part = part.trimmed();
    if (part.startsWith(u'[')) {
        if (part.size() < 2 || !part.endsWith(u']')) return false;
        part = part.mid(1, part.size() - 2);
    }
    list = part.trimmed();
    return true;
}

QString CanonicalCycle(const QString &cycle) {
    const QString t = cycle.trimmed();
    const Cycle c = ReadCycle(t);
    QStringView list;
    if (!c.found || !ListOfPart(c.after, list) || list.isEmpty()) return t;
    return Marker(c.line) + u'[' + list.toString() + u']';
}

Cycle ReadCycle(const QString &cycle) {
    Cycle c;
    const QString t = cycle.trimmed();
    const QString up = text::upper(t);
    for (Line line : {Line::Columns, Line::Rows}) {
        if (!up.startsWith(Marker(line))) continue;
        c.found = true;
        c.line = line;
        c.marker = t.left(Marker(line).size());
        c.after = t.mid(Marker(line).size());
        break;
    }
    return c;
}

bool ReadNumberSpans(QStringView list, QList<NumberSpan> &spans) {
    // The same reading as every other list (bounds of any length are
    // numbers); only upward ranges are taken.
    if (!ReadListItems(list, spans, false)) {
        spans.clear();
        return false;
    }
    if (std::any_of(spans.begin(), spans.end(), [](const NumberSpan &s) { return s.second < s.first; })) {
        spans.clear();
        return false;
    }
    return true;
}

QList<NumberSpan> CanonicalSpans(QList<NumberSpan> spans) {
    std::sort(spans.begin(), spans.end());
    QList<NumberSpan> out;
    for (const NumberSpan &sp : spans) {
        if (!out.isEmpty() && sp.first <= out.last().second + 1) out.last().second = std::max(out.last().second, sp.second);
        else out.append(sp);
    }
    return out;
}

QString WriteNumberSpans(const QList<NumberSpan> &spans) {
    QList<NumberSpan> runs;
    for (const NumberSpan &sp : spans) {
        if (!runs.isEmpty() && sp.first == runs.last().second + 1) runs.last().second = sp.second;
        else runs.append(sp);
    }
    QStringList parts;
    for (const NumberSpan &r : runs)
        parts << (r.first == r.second ? QString::number(r.first)
                                      : QString::number(r.first) + kDots + QString::number(r.second));
    return parts.join(u',');
}

qint64 SpanCount(const QList<NumberSpan> &spans) {
    qint64 n = 0;
    for (const NumberSpan &sp : spans) n += sp.second - sp.first + 1;
    return n;
}

bool ReadListItems(QStringView list, QList<NumberSpan> &items, bool skipEmpty) {
    items.clear();
    const qsizetype n = list.size();
    qsizetype i = 0;
    auto blanks = [&] { while (i < n && list[i].isSpace()) ++i; };
    auto number = [&](qint64 &v) {
        blanks();
        const qsizetype start = i;
        v = 0;
        while (i < n && list[i] >= u'0' && list[i] <= u'9') {
            if (v < kHugeBound) v = std::min(kHugeBound, v * 10 + (list[i].unicode() - u'0'));
            ++i;
        }
        if (i == start) return false;
        blanks();
        return true;
    };
    blanks();
    if (i == n) return true;
    for (;;) {
        blanks();
        if (i == n || list[i] == u',') {
            if (!skipEmpty) return false;
        } else {
            qint64 a = 0, b = 0;
            if (!number(a)) return false;
            b = a;
            if (i + 1 < n && list[i] == u'.' && list[i + 1] == u'.') {
                i += 2;
                if (!number(b)) return false;
            }
            items.append({a, b});
        }
        if (i == n) return true;
        if (list[i] != u',') return false;
        ++i;
        if (i == n) return skipEmpty;
    }
}

std::optional<NumberItems> ReadNumberItems(QStringView list) {
    NumberItems items;
    if (!ReadListItems(list, items, true)) return std::nullopt;
    return items;
}

QList<int> ClippedIntegers(const NumberItems &items, qint64 low, qint64 high) {
    QList<int> out;
    VisitClipped(items, low, high, [&](qint64 v) {
        out.append(int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
        return true;
    });
    return out;
}

QString ClippedListText(const NumberItems &items, qint64 low, qint64 high) {
    QStringList parts;
    for (const NumberSpan &it : items) {
        const qint64 a = it.first, b = it.second;
        if (a > b) continue;
        if (a < low) {
            const qint64 to = std::min(b, low - 1);
            parts << (to > a ? QString::number(a) + kDots + QString::number(to) : QString::number(a));
        }
        const qint64 lo = std::max(a, low), hi = std::min(b, high);
        if (lo <= hi) parts << (lo == hi ? QString::number(lo) : QString::number(lo) + kDots + QString::number(hi));
        if (b > high) {
            const qint64 from = std::max(a, high + 1);
            parts << (b > from ? QString::number(from) + kDots + (b >= kHugeBound ? QString() : QString::number(b))
                               : QString::number(from));
        }
    }
    return parts.join(u',');
}

} // namespace notation

namespace {

notation::NumberItems itemsOrThrow(QStringView list) {
    const std::optional<notation::NumberItems> items = notation::ReadNumberItems(list);
    if (!items)
        throw ConversionError(QStringLiteral("\"%1\" не является списком целых чисел и диапазонов").arg(list.toString()));
    return *items;
}

} // namespace

QString ParseNumberList(const QString &list, qint64 low, qint64 high) {
    QString out;
    auto append = [&](const QString &item) {
        if (!out.isEmpty()) out += u',';
        out += item;
    };
    for (const QString &item : list.split(u',')) {
        // A range must be one; any other item that is no whole number
        // ("1.2") passes through as written, for its reader to judge.
        const std::optional<notation::NumberItems> read = notation::ReadNumberItems(item);
        if (!read) {
            if (item.contains(QStringLiteral(".."))) itemsOrThrow(item);
            append(item.trimmed());
            continue;
        }
        notation::VisitClipped(*read, low, high, [&](qint64 v) {
            append(QString::number(v));
            return true;
        });
    }
    return out;
}

QList<int> ParseIntegerList(QStringView list, qint64 low, qint64 high) {
    return notation::ClippedIntegers(itemsOrThrow(list), low, high);
}

QList<int> ExpandedNumbers(QStringView list) {
    QList<int> out;
    for (QStringView item : list.tokenize(u',')) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (ok) out.append(v);
    }
    return out;
}

QString ShiftNumberList(const QString &list, int offset) {
    if (list.isEmpty()) return {};
    QStringList out;
    for (QStringView item : QStringView(list).tokenize(u',')) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (!ok) throw ConversionError(QStringLiteral("\"%1\" не является целым числом").arg(item.toString()));
        out.append(QString::number(v + offset));
    }
    return out.join(u',');
}

QString SquareTableBrackets(const QString &reference) {
    // Read through a const view: writing detaches once, reading never.
    QString s = reference;
    const QString &c = s;
    for (int i = 0; i + 1 < c.size(); ++i) {
        if ((c[i] == u'Т' || c[i] == u'т') && c[i + 1] == u'(') {
            s[i + 1] = u'[';
            const int close = int(c.indexOf(u')', i + 2));
            if (close >= 0) s[close] = u']';
        }
    }
    return s;
}

ReferenceParts CutReferenceParts(QStringView s) {
    const notation::Markers m = notation::FindMarkers(s);
    auto list = [&](const notation::Part &p, qsizetype markerLength) {
        const QStringView part = p.in(s).mid(markerLength);
        // A list without its closing "]" keeps its "[" and so reads as no list.
        QStringView l;
        return notation::ListOfPart(part, l) ? l.toString() : part.trimmed().toString();
    };
    ReferenceParts r;
    if (m.form.found()) {
        r.hasForm = true;
        r.form = m.form.in(s).trimmed().toString();
    }
    if (m.table.found()) {
        r.hasTable = true;
        r.table = notation::ReadTableKey(m.table.in(s).mid(2)).key;
    }
    if (m.rows.found()) {
        r.hasRows = true;
        r.rows = list(m.rows, 3);
    }
    if (m.columns.found()) {
        r.hasColumns = true;
        r.columns = list(m.columns, 2);
    }
    return r;
}
