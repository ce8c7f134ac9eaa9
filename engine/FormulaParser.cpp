#include "engine/FormulaParser.h"

#include "engine/EngineError.h"
#include "engine/TextUtil.h"

#include <algorithm>

namespace {

bool isOperatorChar(QChar c) { return c == u'+' || c == u'-' || c == u'*' || c == u'/'; }

const QString kF = QStringLiteral("Ф");
const QString kT = QStringLiteral("Т");

// Row or column list of a reference, expanded; empty when absent or malformed.
QString parseLineRef(const QString &reference, notation::Line line, const LineBounds &b) {
    const QString list = notation::LineListText(reference, line);
    if (list.isEmpty()) return {};
    try {
        return line == notation::Line::Rows ? ParseNumberList(list, b.rowLow, b.rowHigh)
                                            : ParseNumberList(list, b.columnLow, b.columnHigh);
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

FormTableRef ParseFormTableRef(const QString &reference, int mode) {
    // Read as the rule check and the rule run read a reference: each part
    // from its marker up to the next one, the table key up to its "]".
    FormTableRef r;
    const QString written = reference.trimmed();
    const QString ref = SquareTableBrackets(written);
    if (ref.isEmpty()) return r;
    const notation::Markers m = notation::FindMarkers(notation::Upper(ref));
    if (m.form.found()) {
        const QString form = m.form.in(ref).trimmed().toString();
        if (form.size() > kF.size()) r.form = form;
    }
    if (mode == 0 && m.table.found()) {
        const QString key = notation::ReadTableKey(m.table.in(ref).mid(2)).key;
        if (key.size() > 2) {
            r.number = key.mid(1, key.size() - 2);
            // The brackets as written: "Т(" was squared above.
            const bool round = written.at(m.table.at + 1) == u'(';
            r.table = round ? kT + u'(' + r.number + u')' : kT + u'[' + r.number + u']';
        }
    }
    return r;
}

QString ParseRowRef(const QString &reference, const LineBounds &bounds) {
    return parseLineRef(reference, notation::Line::Rows, bounds);
}
QString ParseColumnRef(const QString &reference, const LineBounds &bounds) {
    return parseLineRef(reference, notation::Line::Columns, bounds);
}

QString QualifyFormulaRef(const QString &operand, int mode, const QString &form, const QString &table) {
    QString op = operand.trimmed();
    if (op.isEmpty() || IsDecimalText(op)) return op;
    const QString up = text::upper(op);
    const bool hasForm = notation::FindMarkers(up).form.found();
    if (mode == 1) {
        if (!hasForm && !form.isEmpty()) op = form + op;
    } else if (mode == 0) {
        if (!form.isEmpty() && !table.isEmpty()) {
            if (notation::FindTableKeys(up).isEmpty()) op = kT + table + op;
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

RowsColumns GetReferencedRowsColumns(const QString &expression, const QString &cycle, bool single,
                                     const LineBounds &bounds) {
    RowsColumns r;
    if (expression.trimmed().isEmpty()) return r;
    QString cycleRows, cycleCols;
    const notation::Cycle cycleText = notation::ReadCycle(cycle);
    if (cycleText.found) {
        QString list;
        try {
            list = cycleText.line == notation::Line::Rows
                       ? ParseNumberList(cycleText.list(), bounds.rowLow, bounds.rowHigh)
                       : ParseNumberList(cycleText.list(), bounds.columnLow, bounds.columnHigh);
        } catch (const ConversionError &) {
        }
        (cycleText.line == notation::Line::Rows ? cycleRows : cycleCols) = list;
    }

    const QStringList items = SplitFormulaTerms(expression);
    if (single && items.size() > 1) return {};
    QStringList rows, cols;
    for (const QString &item : items) {
        if (IsOperatorItem(item)) continue;
        const QString ir = ParseRowRef(item, bounds);
        const QString ic = ParseColumnRef(item, bounds);
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
