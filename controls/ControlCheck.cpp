#include "controls/ControlCheck.h"

#include "core/FormulaHighlighter.h"
#include "engine/FormulaParser.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <limits>

namespace controls {

namespace {

const QString kOperators = QStringLiteral("*/+-");

bool toInt(const QString &text, int &n) {
    bool ok = false;
    n = text.trimmed().toInt(&ok);
    return ok;
}

} // namespace

bool CheckRowColumnList(const QString &list, int low, int high, const QString &kind, QString *message) {
    QString rest = list;
    auto outside = [&](int n) {
        if (n >= low && n <= high) return false;
        if (message) *message = kind + QStringLiteral(" № ") + QString::number(n) + QStringLiteral(" вне рабочей области таблицы");
        return true;
    };
    while (!rest.isEmpty()) {
        const qsizetype comma = rest.indexOf(u',');
        const QString item = comma < 0 ? rest : rest.left(comma);
        rest = comma < 0 ? QString() : rest.mid(comma + 1);
        const qsizetype range = item.indexOf(QStringLiteral(".."));
        if (range < 0) {
            int n = 0;
            if (!toInt(item, n)) return false;
            if (outside(n)) return false;
        } else {
            int a = 0, b = 0;
            if (!toInt(item.left(range), a)) return false;
            if (!toInt(item.mid(range + 2), b)) return false;
            if (outside(a) || outside(b)) return false;
            if (a > b) {
                // Read as no line at all: surely not what was meant.
                if (message)
                    *message = QStringLiteral("Диапазон %1..%2 задан в обратном порядке").arg(a).arg(b);
                return false;
            }
        }
    }
    return true;
}

// ---- Common algorithm -------------------------------------------------------

bool RuleCheckerBase::CheckExpression(const QString &expression) {
    QString t = SquareTableBrackets(text::upper(expression));
    setPendingError(QStringLiteral("Нарушен баланс скобок"));
    if (t.count(u'(') != t.count(u')')) {
        bracketError(QStringLiteral("Нарушен баланс скобок"));
        return false;
    }
    if (NestingDepth(t) > kMaxNesting) {
        bracketError(QStringLiteral("Слишком глубокая вложенность скобок (больше %1)").arg(kMaxNesting));
        return false;
    }
    setPendingError(QStringLiteral("Неправильная последовательность скобок"));
    for (;;) {
        const qsizetype close = t.indexOf(u')');
        if (close < 0) break;
        const qsizetype open = t.lastIndexOf(u'(', close);
        if (open < 0) {
            bracketError(QStringLiteral("Неправильная последовательность скобок"));
            return false;
        }
        if (!CheckOperands(t.mid(open + 1, close - open - 1))) return false;
        t.replace(open, close - open + 1, QStringLiteral("1"));
    }
    return CheckOperands(t);
}

bool RuleCheckerBase::CheckOperands(const QString &part) {
    QString t = part;
    bool any = false;
    for (QChar op : kOperators) {
        if (t.contains(op)) any = true;
        t.replace(op, QStringLiteral("!") + op + u'!');
    }
    if (!any) return CheckReference(t);
    while (t != u"1") {
        qsizetype at = -1;
        for (QChar op : kOperators) {
            at = t.indexOf(QStringLiteral("!") + op + u'!');
            if (at >= 0) break;
        }
        if (at < 0) return CheckReference(t);   // nothing left to combine
        const qsizetype leftStart = at == 0 ? 0 : t.lastIndexOf(u'!', at - 1) + 1;
        const QString left = t.mid(leftStart, at - leftStart);
        const qsizetype rightStart = at + 3;
        qsizetype rightEnd = t.indexOf(u'!', rightStart);
        if (rightEnd < 0) rightEnd = t.size();
        const QString right = t.mid(rightStart, rightEnd - rightStart);
        if (left.isEmpty() || right.isEmpty()) return false;
        if (!CheckReference(left) || !CheckReference(right)) return false;
        t.replace(leftStart, rightEnd - leftStart, QStringLiteral("1"));
    }
    return true;
}

RuleCheckerBase::Parts RuleCheckerBase::cut(const QString &upperText) {
    const notation::Markers m = notation::FindMarkers(upperText);
    auto partOf = [&](const notation::Part &part, bool &has, QString &out) {
        has = part.found();
        if (has) out = part.in(upperText).toString();
    };
    Parts parts;
    parts.lead = upperText.left(m.leadEnd);
    partOf(m.form, parts.hasForm, parts.form);
    partOf(m.table, parts.hasTable, parts.tableText);
    partOf(m.rows, parts.hasRows, parts.rows);
    partOf(m.columns, parts.hasColumns, parts.columns);
    if (parts.hasTable) {
        // Between "Т[" and "]".
        QString s = parts.tableText.mid(2);
        const qsizetype close = s.indexOf(u']');
        parts.tableTail = close < 0 ? QString() : s.mid(close + 1);
        parts.tableClosed = close >= 0;
        parts.tableText = close < 0 ? s : s.left(close);
    }
    if (parts.hasRows) parts.rows = parts.rows.mid(3);
    if (parts.hasColumns) parts.columns = parts.columns.mid(2);
    return parts;
}

bool RuleCheckerBase::checkLists(const Parts &p, const TableShape &g, const QString &bracketMessage) {
    auto one = [&](QString list, int low, int high, const QString &kind) {
        if (list.startsWith(u'[')) {
            if (!list.endsWith(u']') || list.size() < 2) {
                fail(bracketMessage);
                return false;
            }
            list = list.mid(1, list.size() - 2);
        }
        QString message;
        if (list.trimmed().isEmpty() || !CheckRowColumnList(list, low, high, kind, &message)) {
            fail(message.isEmpty() ? bracketMessage : message);
            return false;
        }
        return true;
    };
    if (p.hasRows && !one(p.rows, 1, g.dataRows(), QStringLiteral("Строка"))) return false;
    if (p.hasColumns && !one(p.columns, g.fixcols + 1, g.colcount, QStringLiteral("Графа"))) return false;
    return true;
}

bool RuleCheckerBase::ownPartsOnly(const QString &operand) {
    const Parts p = cut(text::upper(operand));
    if (!p.lead.trimmed().isEmpty()) return false;
    if (!p.hasForm && !p.hasTable && !p.hasRows && !p.hasColumns) return false;
    if (p.hasTable && (!p.tableClosed || !p.tableTail.trimmed().isEmpty())) return false;
    return true;
}

bool CheckCycleText(const QString &cycle, QString *message) {
    const QString c = text::upper(cycle.trimmed());
    if (c.isEmpty()) return true;
    const notation::Cycle cycleText = notation::ReadCycle(c);
    if (!cycleText.found) {
        if (message) *message = QStringLiteral("Ошибка в выражении цикла!");
        return false;
    }
    QString list = cycleText.after;
    list = list.trimmed();
    if (list.startsWith(u'[')) {
        if (!list.endsWith(u']') || list.size() < 2) {
            if (message) *message = QStringLiteral("Ошибка в выражении цикла!");
            return false;
        }
        list = list.mid(1, list.size() - 2);
    }
    QString why;
    if (list.trimmed().isEmpty() ||
        !CheckRowColumnList(list, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), QString(), &why)) {
        if (message) *message = why.isEmpty() ? QStringLiteral("Ошибка в выражении цикла!") : why;
        return false;
    }
    return true;
}

bool IsKnownRelation(const QString &relation) {
    static const QStringList known = {QStringLiteral("="), QStringLiteral("<>"), QStringLiteral(">"),
                                      QStringLiteral(">="), QStringLiteral("<"), QStringLiteral("<=")};
    return known.contains(relation.trimmed());
}

// ---- Control-file lines -----------------------------------------------------

FileRuleChecker::FileRuleChecker(const QSqlDatabase &mainDb) {
    QSqlQuery f = db::exec(mainDb, QStringLiteral("select * from forms order by ind"));
    while (f.next()) {
        const QString name = text::upper(f.value(QStringLiteral("formname")).toString());
        m_forms.append({name, name + QStringLiteral(" - ") + f.value(QStringLiteral("decipher")).toString(),
                        f.value(QStringLiteral("id")).toLongLong()});
    }
    QSqlQuery t = db::exec(mainDb, QStringLiteral("select * from tables order by form,tablen"));
    while (t.next()) {
        const QString formName = formNameById(t.value(QStringLiteral("form")).toLongLong());
        m_tables.append({formName + QStringLiteral("Т") + t.value(QStringLiteral("tablen")).toString() +
                             QStringLiteral(" - ") + t.value(QStringLiteral("name")).toString(),
                         ShapeOfTableRecord(t)});
    }
}

qint64 FileRuleChecker::formIdByName(const QString &name) const {
    const QString head = text::upper(name) + u' ';
    for (const FormEntry &f : m_forms)
        if (f.text.startsWith(head)) return f.id;
    return -1;
}

QString FileRuleChecker::formNameById(qint64 id) const {
    for (const FormEntry &f : m_forms)
        if (f.id == id) return f.name;
    return QString();
}

TableShape FileRuleChecker::geometry(qint64 formId, const QString &tableKey) const {
    const QString head = text::upper(formNameById(formId) + QStringLiteral("Т") + tableKey);
    for (const TableEntry &t : m_tables)
        if (text::upper(t.text).startsWith(head)) return t.shape;
    return {};
}

bool FileRuleChecker::CheckLine(const QString &formName, const QString &table, const QString &cycle,
                                const QString &right, const QString &left, const QString &relation) {
    if (!IsKnownRelation(relation)) {
        fail(QStringLiteral("Неизвестное отношение \"") + relation + QStringLiteral("\" (допустимы =, <>, <, >, <=, >=)"));
        return false;
    }
    // The line's own form and table, also when both sides are numbers.
    if (!formName.isEmpty()) {
        const qint64 formId = formIdByName(formName);
        if (formId < 0) {
            fail(QStringLiteral("Несуществующая форма ") + formName);
            return false;
        }
        if (!table.isEmpty() && !geometry(formId, table).found()) {
            fail(QStringLiteral("Несуществующая таблица ") + formName + QStringLiteral("Т") + table);
            return false;
        }
    } else if (!table.isEmpty()) {
        fail(QStringLiteral("Указана таблица ") + table + QStringLiteral(" без формы"));
        return false;
    }
    QString why;
    if (!CheckCycleText(cycle, &why)) {
        fail(QStringLiteral("Ошибка в описании цикла \"") + cycle + QStringLiteral("\": ") + why);
        return false;
    }
    return CheckControl(formName, table, cycle, right, left);
}

bool FileRuleChecker::CheckControl(const QString &formName, const QString &table, const QString &cycle,
                                   const QString &right, const QString &left) {
    if (!CheckControlExpression(formName, table, left, cycle)) return false;
    return CheckControlExpression(formName, table, right, cycle);
}

bool FileRuleChecker::CheckControlExpression(const QString &formName, const QString &table, const QString &expression,
                                             const QString &cycle) {
    m_prefix = formName;
    if (!table.isEmpty()) m_prefix += QStringLiteral("Т[") + table.mid(1, table.size() - 2) + u']';
    m_suffix = text::upper(cycle);
    return CheckExpression(expression);
}

bool FileRuleChecker::CheckReference(const QString &operand) {
    if (IsDigitsText(operand)) return true;
    const QString t = text::upper(m_prefix + operand + m_suffix);
    if (!ownPartsOnly(operand)) {
        fail(QStringLiteral("Операнд не является ссылкой на ячейку: ") + operand);
        return false;
    }
    const Parts p = cut(t);
    if (!p.hasForm) {
        fail(QStringLiteral("Не задана форма ") + t);
        return false;
    }
    const qint64 formId = formIdByName(p.form);
    if (formId < 0) {
        fail(QStringLiteral("Несуществующая форма ") + t);
        return false;
    }
    if (!p.hasTable) {
        fail(QStringLiteral("Не указана таблица ") + t);
        return false;
    }
    const TableShape g = geometry(formId, u'(' + p.tableText + u')');
    if (!g.found()) {
        fail(QStringLiteral("Несуществующая таблица ") + t);
        return false;
    }
    return checkLists(p, g, QStringLiteral("Ошибка в выражении ") + t);
}

// ---- Rule editor ------------------------------------------------------------

EditorRuleChecker::EditorRuleChecker(int ruleClass, qint64 formId, const QString &table,
                                     std::function<void(const QString &)> show)
    : m_class(ruleClass), m_formId(formId), m_table(table), m_show(std::move(show)) {}

void EditorRuleChecker::fail(const QString &text) {
    m_error = text;
    if (m_show) m_show(text);
}

bool EditorRuleChecker::CheckReference(const QString &operand) {
    if (IsDigitsText(operand)) return true;
    if (!ownPartsOnly(operand)) {
        fail(QStringLiteral("Операнд не является ссылкой на ячейку: ") + operand);
        return false;
    }
    const Parts p = cut(text::upper(operand));
    qint64 formId = m_formId;
    if (p.hasForm) {
        formId = FindFormId(p.form);
        if (formId < 0) {
            fail(QStringLiteral("Несуществующая форма - ") + operand);
            return false;
        }
    } else if (m_class == 2) {
        fail(QStringLiteral("Не задана форма"));
        return false;
    }
    QString key;
    if (p.hasTable) {
        key = u'(' + p.tableText + u')';
    } else if (m_class == 0) {
        key = m_table;
    } else {
        fail(QStringLiteral("Не задана таблица"));
        return false;
    }
    const TableShape g = CachedTableShapeByFormId(formId, key).value_or(TableShape());
    if (!g.found()) {
        fail(QStringLiteral("Несуществующая таблица - ") + operand);
        return false;
    }
    return checkLists(p, g, QStringLiteral("Ошибка в выражении"));
}

} // namespace controls
