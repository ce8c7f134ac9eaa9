#include "engine/FormulaParser.h"

#include "engine/Common.h"
#include "engine/TextUtil.h"

#include <algorithm>

namespace {

bool isOperatorChar(QChar c) { return c == u'+' || c == u'-' || c == u'*' || c == u'/'; }

const QString kF = QStringLiteral("Ф");
const QString kT = QStringLiteral("Т");
const QString kRow = QStringLiteral("СТР");
const QString kCol = QStringLiteral("ГР");

// Row or column list of a reference after marker ("СТР" or "ГР").
QString parseLineRef(const QString &reference, const QString &marker) {
    const QString up = text::upper(reference);
    QString list;
    const int bracket = up.indexOf(marker + u'[');
    if (bracket >= 0) {
        const int start = bracket + int(marker.size()) + 1;
        int depth = 1;
        int end = -1;
        for (int i = start; i < up.size(); ++i) {
            if (up[i] == u'[') ++depth;
            else if (up[i] == u']' && --depth == 0) { end = i; break; }
        }
        if (end < 0) return {};
        list = reference.mid(start, end - start);
    } else {
        int p = up.indexOf(marker);
        if (p < 0) return {};
        p += int(marker.size());
        while (p < up.size() && up[p] == u' ') ++p;
        const int start = p;
        while (p < up.size() && (up[p].isDigit() || up[p] == u'.' || up[p] == u',')) ++p;
        list = reference.mid(start, p - start);
    }
    const QString ul = text::upper(list);
    if (list.isEmpty() || ul.contains(kRow) || ul.contains(kCol) || ul.contains(kF) || ul.contains(kT))
        return {};
    try {
        return ParseNumberList(list);
    } catch (const ConversionError &) {
        return {};
    }
}

} // namespace

bool IsOperatorItem(const QString &item) {
    const QString t = item.trimmed();
    return t.size() == 1 && isOperatorChar(t[0]);
}

QStringList SplitFormulaTerms(const QString &text) {
    QStringList out;
    QString operand;
    bool quoted = false;
    int paren = 0, bracket = 0;
    bool lastWasOperator = true;   // an operator at the start stays in the operand
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'"') {
            quoted = !quoted;
            operand += c;
            lastWasOperator = false;
            continue;
        }
        if (quoted) {
            operand += c;
            continue;
        }
        if (c == u'(') ++paren;
        else if (c == u')') --paren;
        else if (c == u'[') ++bracket;
        else if (c == u']') --bracket;
        if (isOperatorChar(c) && paren == 0 && bracket == 0 && i > 0 && !lastWasOperator
            && !operand.trimmed().isEmpty()) {
            QString item;
            if (text[i - 1] == u' ') item += u' ';
            item += c;
            if (i + 1 < text.size() && text[i + 1] == u' ') {
                item += u' ';
                ++i;
            }
            out.append(operand.trimmed());
            out.append(item);
            operand.clear();
            lastWasOperator = true;
            continue;
        }
        operand += c;
        if (c != u' ') lastWasOperator = false;
    }
    const QString last = operand.trimmed();
    if (!last.isEmpty()) out.append(last);
    return out;
}

namespace {

// A range a..b as the numbers that can name a line of some table: the part
// inside 0..kMaxListNumber in full, and one number standing for each part
// beyond it, so a reference past the table still reads as outside it.
template <typename Add>
void forRange(int a, int b, const Add &add) {
    if (a > b) return;
    if (a < 0) add(a);
    const int lo = std::max(a, 0), hi = std::min(b, kMaxListNumber);
    for (int v = lo; v <= hi; ++v) add(v);
    if (b > kMaxListNumber) add(std::max(a, kMaxListNumber + 1));
}

void appendRange(int a, int b, QList<int> &out) {
    forRange(a, b, [&](int v) { out.append(v); });
}

// Lists of plain integers and ranges ("3", "1,2", "3..12") read without
// building texts; false when the text holds anything else.
bool plainIntegers(QStringView s, QList<int> &out) {
    qsizetype i = 0;
    const qsizetype n = s.size();
    auto blanks = [&] { while (i < n && s[i] == u' ') ++i; };
    auto number = [&](int &v) {
        blanks();
        const qsizetype start = i;
        qint64 x = 0;
        while (i < n && s[i] >= u'0' && s[i] <= u'9' && i - start < 9) x = x * 10 + (s[i++].unicode() - u'0');
        if (i == start || (i < n && s[i] >= u'0' && s[i] <= u'9')) return false;
        v = int(x);
        blanks();
        return true;
    };
    blanks();
    if (i == n) return true;
    for (;;) {
        int a = 0;
        if (!number(a)) return false;
        if (i + 1 < n && s[i] == u'.' && s[i + 1] == u'.') {
            i += 2;
            int b = 0;
            if (!number(b)) return false;
            appendRange(a, b, out);
        } else {
            out.append(a);
        }
        if (i == n) return true;
        if (s[i] != u',') return false;
        ++i;
        blanks();
        if (i == n) return true;
    }
}

} // namespace

QList<int> ParseIntegerList(QStringView list) {
    QList<int> out;
    if (list.isEmpty() || plainIntegers(list, out)) return out;
    out.clear();
    const QString expanded = ParseNumberList(list.toString());
    if (expanded.isEmpty()) return out;
    for (const QString &item : expanded.split(u',')) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (!ok) throw ConversionError(QStringLiteral("\"%1\" не является целым числом").arg(item));
        out.append(v);
    }
    return out;
}

ReferenceParts CutReferenceParts(QStringView s) {
    static const QString tableMarker = QStringLiteral("Т[");
    const qsizetype pF = s.indexOf(kF), pT = s.indexOf(tableMarker), pR = s.indexOf(kRow), pG = s.indexOf(kCol);
    auto endOf = [&](qsizetype from) {
        qsizetype end = s.size();
        for (qsizetype p : {pF, pT, pR, pG})
            if (p > from && p < end) end = p;
        return end;
    };
    auto list = [&](qsizetype at, qsizetype markerLength) {
        QStringView part = s.mid(at + markerLength, endOf(at) - at - markerLength).trimmed();
        // A list without its closing "]" keeps its "[" and so reads as no list.
        if (part.size() >= 2 && part.startsWith(u'[') && part.endsWith(u']')) part = part.mid(1, part.size() - 2);
        return part.toString();
    };
    ReferenceParts r;
    if (pF >= 0) {
        r.hasForm = true;
        r.form = s.mid(pF, endOf(pF) - pF).trimmed().toString();
    }
    if (pT >= 0) {
        r.hasTable = true;
        QStringView t = s.mid(pT + 2, endOf(pT) - pT - 2).trimmed();
        if (t.endsWith(u']')) t.chop(1);
        r.table.reserve(t.size() + 2);
        r.table.append(u'(').append(t).append(u')');
    }
    if (pR >= 0) {
        r.hasRows = true;
        r.rows = list(pR, kRow.size());
    }
    if (pG >= 0) {
        r.hasColumns = true;
        r.columns = list(pG, kCol.size());
    }
    return r;
}

QString ParseNumberList(const QString &list) {
    QStringList out;
    const QStringList items = list.split(u',');
    for (const QString &item : items) {
        const int range = item.indexOf(QStringLiteral(".."));
        if (range >= 0) {
            bool ok1 = false, ok2 = false;
            const int lo = item.left(range).trimmed().toInt(&ok1);
            const int hi = item.mid(range + 2).trimmed().toInt(&ok2);
            if (!ok1 || !ok2)
                throw ConversionError(QStringLiteral("\"%1\" не является диапазоном целых чисел").arg(item));
            forRange(lo, hi, [&](int v) { out.append(QString::number(v)); });
        } else if (!item.trimmed().isEmpty()) {
            out.append(item);
        }
    }
    return out.join(u',');
}

FormTableRef ParseFormTableRef(const QString &reference, int mode) {
    FormTableRef r;
    const QString ref = reference.trimmed();
    if (ref.isEmpty()) return r;
    const QString up = text::upper(ref);
    const int f = up.indexOf(kF);
    if (f >= 0) {
        int i = f + 1;
        while (i < up.size() && up[i] != kT[0] && up[i] != u' ' && up[i] != u'(' && up[i] != u'[') ++i;
        if (i > f + 1) r.form = ref.mid(f, i - f);
    }
    if (mode == 0) {
        int t = up.indexOf(kT + u'[');
        QChar open = u'[';
        if (t < 0) {
            t = up.indexOf(kT + u'(');
            open = u'(';
        }
        if (t >= 0) {
            const int start = t + 2;
            int i = start;
            while (i < up.size() && up[i] != u']' && up[i] != u')') ++i;
            if (i > start) {
                const QString n = ref.mid(start, i - start);
                r.table = open == u'[' ? kT + u'[' + n + u']' : kT + u'(' + n + u')';
            }
        }
    }
    return r;
}

QString ParseRowRef(const QString &reference) { return parseLineRef(reference, kRow); }
QString ParseColumnRef(const QString &reference) { return parseLineRef(reference, kCol); }

QString QualifyFormulaRef(const QString &operand, int mode, const QString &form, const QString &table) {
    QString op = operand.trimmed();
    if (op.isEmpty() || IsDecimalText(op)) return op;
    const QString up = text::upper(op);
    const bool hasForm = up.contains(kF);
    if (mode == 1) {
        if (!hasForm && !form.isEmpty()) op = form + op;
    } else if (mode == 0) {
        if (!form.isEmpty() && !table.isEmpty()) {
            if (!up.contains(kT + u'[') && !up.contains(kT + u'(')) op = kT + table + op;
            if (!hasForm) op = form + op;
        }
    }
    return op;
}

QString QualifyFormulaRefs(const QString &expression, int mode, const QString &defaultForm,
                           const QString &defaultTable) {
    const QString expr = expression.trimmed();
    if (expr.isEmpty() || IsDecimalText(expr)) return expr;
    const QStringList items = SplitFormulaTerms(expr);
    if (items.isEmpty()) return expr;
    const FormTableRef first = ParseFormTableRef(items.first(), mode);
    const QString laterForm = first.form.isEmpty() ? defaultForm : first.form;
    // The first item's table part loses its leading "Т" so that operands get one.
    const QString laterTable = first.table.isEmpty() ? defaultTable : first.table.mid(1);
    QString out;
    bool firstOperand = true;
    for (const QString &item : items) {
        if (IsOperatorItem(item)) {
            out += item;
            continue;
        }
        QString q = firstOperand ? QualifyFormulaRef(item, mode, defaultForm, defaultTable)
                                 : QualifyFormulaRef(item, mode, laterForm, laterTable);
        firstOperand = false;
        out += q.isEmpty() ? item : q;
    }
    return out;
}

RowsColumns GetReferencedRowsColumns(const QString &expression, const QString &cycle, bool single) {
    RowsColumns r;
    if (expression.trimmed().isEmpty()) return r;
    QString cycleRows, cycleCols;
    const QString cu = text::upper(cycle.trimmed());
    auto cycleList = [&](int markerLength) {
        QString rest = cycle.trimmed().mid(markerLength);
        if (rest.startsWith(u'[')) rest = rest.mid(1, rest.size() - 2);
        try {
            return ParseNumberList(rest);
        } catch (const ConversionError &) {
            return QString();
        }
    };
    if (cu.startsWith(kRow)) cycleRows = cycleList(int(kRow.size()));
    else if (cu.startsWith(kCol)) cycleCols = cycleList(int(kCol.size()));

    const QStringList items = SplitFormulaTerms(expression);
    if (single && items.size() > 1) return {};
    QStringList rows, cols;
    for (const QString &item : items) {
        if (IsOperatorItem(item)) continue;
        const QString ir = ParseRowRef(item);
        const QString ic = ParseColumnRef(item);
        if (single && (ir.contains(u',') || ic.contains(u','))) return {};
        if (!ir.isEmpty()) rows.append(ir);
        if (!ic.isEmpty()) cols.append(ic);
    }
    r.rows = rows.join(u',');
    r.columns = cols.join(u',');
    if (!cycleRows.isEmpty()) r.rows = cycleRows;
    if (!cycleCols.isEmpty()) r.columns = cycleCols;
    return r;
}

int NestingDepth(QStringView text) {
    int depth = 0, deepest = 0;
    for (QChar c : text) {
        if (c == u'(') deepest = std::max(deepest, ++depth);
        else if (c == u')') --depth;
    }
    return deepest;
}

QString SquareTableBrackets(const QString &reference) {
    QString s = reference;
    for (int i = 0; i + 1 < s.size(); ++i) {
        if ((s[i] == u'Т' || s[i] == u'т') && s[i + 1] == u'(') {
            s[i + 1] = u'[';
            const int close = s.indexOf(u')', i + 2);
            if (close >= 0) s[close] = u']';
        }
    }
    return s;
}
