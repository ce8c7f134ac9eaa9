#include "engine/RuleCheck.h"
#include "engine/CellNumbering.h"

#include "engine/FormulaParser.h"
#include "engine/Notation.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSet>
#include <QSqlQuery>

#include <algorithm>

namespace rulecheck {

namespace {

const QStringList kRelations = {QStringLiteral("="), QStringLiteral("<>"), QStringLiteral(">"),
                                QStringLiteral(">="), QStringLiteral("<"),  QStringLiteral("<=")};

// Digits with at most one "." and at least one digit: what the evaluation reads.
bool isNumber(QStringView t) {
    int dots = 0, digits = 0;
    for (QChar c : t) {
        if (c == u'.') ++dots;
        else if (c >= u'0' && c <= u'9') ++digits;
        else return false;
    }
    return digits > 0 && dots <= 1;
}

QString shapeKey(qint64 formId, const QString &tableKey) {
    return QString::number(formId) + u'|' + text::upper(tableKey.trimmed());
}


using notation::NumberSpan;

// The first number of the items outside low..high, or of a reversed range;
// empty when every item fits.
QString listFault(const QList<NumberSpan> &items, qint64 low, qint64 high, const QString &kind) {
    for (const NumberSpan &it : items) {
        for (qint64 n : {it.first, it.second}) {
            if (n >= low && n <= high) continue;
            const QString shown = n >= notation::kHugeBound ? QStringLiteral("больше %1").arg(high) : QString::number(n);
            return kind + QStringLiteral(" № ") + shown + QStringLiteral(" вне рабочей области таблицы");
        }
        if (it.first > it.second)
            return QStringLiteral("Диапазон %1..%2 задан в обратном порядке").arg(it.first).arg(it.second);
    }
    return {};
}

qint64 lowOf(const QList<NumberSpan> &items) {
    qint64 v = notation::kHugeBound;
    for (const NumberSpan &it : items) v = std::min({v, it.first, it.second});
    return v;
}
qint64 highOf(const QList<NumberSpan> &items) {
    qint64 v = 0;
    for (const NumberSpan &it : items) v = std::max({v, it.first, it.second});
    return v;
}
bool anyReversed(const QList<NumberSpan> &items) {
    return std::any_of(items.begin(), items.end(), [](const NumberSpan &s) { return s.first > s.second; });
}

// One check of one rule.
class Run {
public:
    Run(const RuleChecker &c, const RuleText &r) : m_c(c), m_r(r) {}

    Verdict go() {
        const int ruleClass = m_r.formName.trimmed().isEmpty() ? 2 : m_r.table.trimmed().isEmpty() ? 1 : 0;
        m_class = ruleClass;
        if (!kRelations.contains(m_r.reltion.trimmed()))
            return refuse(NoField, QStringLiteral("Неизвестное отношение \"") + m_r.reltion +
                                       QStringLiteral("\" (допустимы =, <>, <, >, <=, >=)"));
        if (m_class == 2 && !m_r.table.trimmed().isEmpty())
            return refuse(NoField, QStringLiteral("Указана таблица ") + m_r.table + QStringLiteral(" без формы"));
        if (m_class != 2) {
            m_formId = m_c.formIdByName(m_r.formName.trimmed());
            if (m_formId < 0) return refuse(NoField, QStringLiteral("Несуществующая форма ") + m_r.formName);
        }
        if (m_class == 0) {
            m_table = m_r.table.trimmed();
            if (!m_c.shape(m_formId, m_table).found())
                return refuse(NoField, QStringLiteral("Несуществующая таблица ") + m_r.formName + QStringLiteral("Т") +
                                           m_r.table);
        }
        // The run completes references by the rule's scope: a form or table
        // stored under a name it cannot read back has no rule that runs.
        if (m_class != 2)
            if (const QString why = notation::NamingProblem(m_r.formName, m_class == 0 ? m_table : QString(), false);
                !why.isEmpty())
                return refuse(NoField, QStringLiteral("Контроль этой формы или таблицы не может выполняться: ") + why +
                                           QStringLiteral(". Переименуйте форму или таблицу."));
        if (!readCycle()) return m_verdict;
        // The cycle's numbers against the rule's own table, also when no
        // reference takes them.
        if (m_class == 0 && m_hasCycle && !checkCycleAgainst(m_formId, m_table)) return m_verdict;
        if (!checkSide(m_r.lft, LeftSide)) return m_verdict;
        if (!checkSide(m_r.rght, RightSide)) return m_verdict;
        return {};
    }

private:
    Verdict refuse(int field, const QString &detail) {
        m_verdict.ok = false;
        m_verdict.field = field;
        m_verdict.detail = detail;
        m_verdict.reason = field == NoField ? detail : FieldCaption(field) + QStringLiteral(": ") + detail;
        return m_verdict;
    }
    bool fail(int field, const QString &detail) {
        refuse(field, detail);
        return false;
    }

    bool readCycle() {
        const QString c = text::upper(m_r.cycl.trimmed());
        if (c.isEmpty()) return true;
        const notation::Cycle cycle = notation::ReadCycle(c);
        QStringView list;
        if (!cycle.found || !notation::ListOfPart(cycle.after, list) || list.isEmpty() ||
            !notation::ReadListItems(list, m_cycleItems, false))
            return fail(CycleField, QStringLiteral("Ошибка в выражении цикла! (") + m_r.cycl.trimmed() + u')');
        if (anyReversed(m_cycleItems))
            return fail(CycleField, listFault(m_cycleItems, 0, notation::kHugeBound, QString()));
        m_hasCycle = true;
        m_cycleLine = cycle.line;
        m_cycleLow = lowOf(m_cycleItems);
        m_cycleHigh = highOf(m_cycleItems);
        return true;
    }

    bool checkCycleAgainst(qint64 formId, const QString &tableKey) {
        const QString key = shapeKey(formId, tableKey);
        if (m_cycleChecked.contains(key)) return true;
        const TableShape g = m_c.shape(formId, tableKey);
        const bool rows = m_cycleLine == notation::Line::Rows;
        const qint64 low = rows ? cells::refRowOfGrid(0) : cells::refColumnOfGrid(0, g.fixcols);
        const qint64 high = rows ? g.dataRows() : g.colcount;
        if (m_cycleLow < low || m_cycleHigh > high) {
            QString where = m_c.formNameById(formId) + QStringLiteral("Т") + tableKey;
            return fail(CycleField, listFault(m_cycleItems, low, high,
                                              rows ? QStringLiteral("Строка") : QStringLiteral("Графа")) +
                                        u' ' + where);
        }
        m_cycleChecked.insert(key);
        return true;
    }

    // Operands and signs in one pass over the pieces the rule run reads.
    bool checkSide(const QString &side, int field) {
        const QString t = SquareTableBrackets(text::upper(side));
        if (t.trimmed().isEmpty()) return fail(field, QStringLiteral("Пустое выражение"));
        if (t.count(u'(') != t.count(u')')) return fail(field, QStringLiteral("Нарушен баланс скобок"));
        bool expectOperand = true;
        int depth = 0;
        qsizetype at = 0;   // where the piece stands in the text
        const QStringList pieces = notation::CutSide(t);
        for (qsizetype k = 0; k < pieces.size(); at += pieces[k].size(), ++k) {
            if (k % 2 == 0) {
                // An operand; blanks alone stand between two signs.
                const QStringView operand = QStringView(pieces[k]).trimmed();
                if (operand.isEmpty()) continue;
                if (!expectOperand) return fail(field, QStringLiteral("Неправильная последовательность скобок"));
                if (!checkOperand(operand, field)) return false;
                expectOperand = false;
                continue;
            }
            const QChar c = pieces[k].front();
            if (expectOperand) {
                if (c == u'(') {
                    if (++depth > kMaxNesting)
                        return fail(field, QStringLiteral("Слишком глубокая вложенность скобок (больше %1)").arg(kMaxNesting));
                } else if (c == u')') {
                    return fail(field, QStringLiteral("Пустые скобки или знак перед \")\" (позиция %1)").arg(at + 1));
                } else {
                    return fail(field, QStringLiteral("Знак \"") + c +
                                           QStringLiteral("\" без операнда слева (позиция %1)").arg(at + 1));
                }
            } else if (c == u')') {
                if (--depth < 0) return fail(field, QStringLiteral("Неправильная последовательность скобок"));
            } else if (c == u'(') {
                return fail(field, QStringLiteral("Неправильная последовательность скобок"));
            } else {
                expectOperand = true;
            }
        }
        if (expectOperand) return fail(field, QStringLiteral("Выражение кончается знаком без операнда справа"));
        if (depth != 0) return fail(field, QStringLiteral("Неправильная последовательность скобок"));
        return true;
    }

    bool checkOperand(QStringView op, int field) {
        if (isNumber(op)) return true;
        const QString shown = op.toString();
        auto bad = [&](const QString &why) { return fail(field, why + QStringLiteral(" (операнд ") + shown + u')'); };
        const notation::Markers m = notation::FindMarkers(op);
        if (!op.left(m.leadEnd).trimmed().isEmpty() || m.leadEnd == op.size())
            return fail(field, QStringLiteral("Операнд не является ссылкой на ячейку: ") + shown);
        // Form.
        qint64 formId = m_formId;
        if (m.form.found()) {
            const QString name = m.form.in(op).trimmed().toString();
            formId = m_c.formIdByName(name);
            if (formId < 0) return bad(QStringLiteral("Несуществующая форма ") + name);
        } else if (m_class == 2) {
            return bad(QStringLiteral("Не задана форма"));
        }
        // Table.
        QString key = m_table;
        if (m.table.found()) {
            // The key the rule run reads; only a whole one is taken.
            const notation::TableKeyPart part = notation::ReadTableKey(m.table.in(op).mid(2));
            if (!part.closed) return fail(field, QStringLiteral("Операнд не является ссылкой на ячейку: ") + shown);
            key = part.key;
        } else if (m_class != 0) {
            return bad(QStringLiteral("Не задана таблица"));
        }
        const TableShape g = m_c.shape(formId, key);
        if (!g.found()) return bad(QStringLiteral("Несуществующая таблица ") + m_c.formNameById(formId) + u'Т' + key);
        // Rows and columns: the operand's own or the cycle's.
        for (notation::Line line : {notation::Line::Rows, notation::Line::Columns}) {
            const bool rows = line == notation::Line::Rows;
            const notation::Part &part = m.line(line);
            const QString kind = rows ? QStringLiteral("Строка") : QStringLiteral("Графа");
            if (m_hasCycle && m_cycleLine == line) {
                if (part.found())
                    return bad(rows ? QStringLiteral("При цикле по строкам нельзя указывать строки в условии")
                                    : QStringLiteral("При цикле по графам нельзя указывать графы в условии"));
                if (!checkCycleAgainst(formId, key)) return false;
                continue;
            }
            if (!part.found())
                return bad(rows ? QStringLiteral("Не указаны строки") : QStringLiteral("Не указаны графы"));
            QStringView list;
            if (!notation::ListOfPart(part.in(op).mid(notation::Marker(line).size()), list) || list.isEmpty() ||
                !notation::ReadListItems(list, m_items, false))
                return bad(QStringLiteral("Ошибка в выражении: список ") + (rows ? QStringLiteral("строк") : QStringLiteral("граф")) +
                           QStringLiteral(" не из целых чисел и диапазонов"));
            const QString fault = listFault(m_items, rows ? cells::refRowOfGrid(0) : cells::refColumnOfGrid(0, g.fixcols),
                                            rows ? g.dataRows() : g.colcount, kind);
            if (!fault.isEmpty()) return bad(fault);
        }
        return true;
    }

    const RuleChecker &m_c;
    const RuleText &m_r;
    Verdict m_verdict;
    int m_class = 0;
    qint64 m_formId = 0;
    QString m_table;
    bool m_hasCycle = false;
    notation::Line m_cycleLine = notation::Line::Rows;
    QList<NumberSpan> m_cycleItems, m_items;
    qint64 m_cycleLow = 0, m_cycleHigh = 0;
    QSet<QString> m_cycleChecked;
};

} // namespace

QString FieldCaption(int field) {
    switch (field) {
    case LeftSide: return QStringLiteral("Левая часть");
    case RightSide: return QStringLiteral("Правая часть");
    case CycleField: return QStringLiteral("Цикл");
    default: return QString();
    }
}

RuleChecker::RuleChecker(const QSqlDatabase &mainDb) {
    QSqlQuery f = db::exec(mainDb, QStringLiteral("select id, formname from forms"));
    while (f.next()) {
        const qint64 id = f.value(0).toLongLong();
        const QString name = text::upper(f.value(1).toString().trimmed());
        if (!m_formIds.contains(name)) m_formIds.insert(name, id);
        m_formNames.insert(id, name);
    }
    QSqlQuery t = db::exec(mainDb, QStringLiteral("select * from tables"));
    while (t.next()) {
        const QString key = shapeKey(t.value(QStringLiteral("form")).toLongLong(), t.value(QStringLiteral("tablen")).toString());
        if (!m_shapes.contains(key)) m_shapes.insert(key, ShapeOfTableRecord(t));
    }
}

qint64 RuleChecker::formIdByName(const QString &name) const { return m_formIds.value(text::upper(name.trimmed()), -1); }

QString RuleChecker::formNameById(qint64 id) const { return m_formNames.value(id); }

TableShape RuleChecker::shape(qint64 formId, const QString &tableKey) const {
    return m_shapes.value(shapeKey(formId, tableKey));
}

Verdict RuleChecker::Check(const RuleText &rule) const { return Run(*this, rule).go(); }

Verdict CheckRule(const QSqlDatabase &mainDb, const RuleText &rule) { return RuleChecker(mainDb).Check(rule); }

namespace {
// A text bound as a value: never null.
QString nn(const QString &v) { return v.isNull() ? QStringLiteral("") : v; }
} // namespace

namespace {

// The text entry gate for the texts of a rule, whatever the path: sides and
// cycle are formulas (a Tab or line break is a blank, blanks around them go),
// the comment is one line. A refusal names the field and the character.
Verdict enterTexts(RuleText &rule, QString &comment) {
    const std::pair<QString *, int> formulas[] = {{&rule.lft, LeftSide}, {&rule.rght, RightSide}, {&rule.cycl, CycleField}};
    for (const auto &[text, field] : formulas) {
        if (const QString why = text::entryProblem(*text); !why.isEmpty())
            return Verdict{false, FieldCaption(field) + QStringLiteral(": ") + why, field, why};
        *text = text::entryLayout(*text, text::Field::Formula).trimmed();
    }
    if (const QString why = text::entryProblem(comment); !why.isEmpty())
        return Verdict{false, QStringLiteral("Комментарий: ") + why, NoField, why};
    comment = text::entryLayout(comment, text::Field::OneLine);
    return {};
}

// Writes the rule; a positive key asks for that key (kept when no rule holds it).
void insertRule(const QSqlDatabase &mainDb, qint64 formId, const RuleText &rule, const QString &comment, qint64 *key,
                bool nullTable) {
    const QVariant table = !rule.table.trimmed().isEmpty() ? QVariant(rule.table.trimmed())
                           : nullTable                      ? QVariant(QMetaType(QMetaType::QString))
                                                            : QVariant(QStringLiteral(""));
    const QVariantList values = {formId, table, nn(rule.lft), nn(rule.reltion.trimmed()), nn(rule.rght),
                                 nn(notation::CanonicalCycle(rule.cycl)), nn(comment)};
    const bool keep = key && *key > 0
                      && !db::scalar(mainDb, QStringLiteral("select count(*) from int_control where \"Код\"=?"), {*key})
                              .toInt();
    if (keep)
        db::exec(mainDb,
                 QStringLiteral("insert into int_control (\"Код\",formid,tble,lft,reltion,rght,cycl,commnt) "
                                "values (?,?,?,?,?,?,?,?)"),
                 QVariantList{*key} + values);
    else
        db::exec(mainDb,
                 QStringLiteral("insert into int_control (formid,tble,lft,reltion,rght,cycl,commnt) values (?,?,?,?,?,?,?)"),
                 values);
    if (key && !keep) *key = db::lastInsertId(mainDb);
}
} // namespace

Verdict InsertCheckedRule(const QSqlDatabase &mainDb, const RuleChecker &checker, const RuleText &typed,
                          const QString &typedComment, qint64 *key, bool nullTable) {
    RuleText rule = typed;
    QString comment = typedComment;
    if (const Verdict entered = enterTexts(rule, comment); !entered) return entered;
    const Verdict v = checker.Check(rule);
    if (!v) return v;
    const qint64 formId = rule.formName.trimmed().isEmpty() ? 0 : checker.formIdByName(rule.formName);
    insertRule(mainDb, formId, rule, comment, key, nullTable);
    return v;
}

Restored RestoreRule(const QSqlDatabase &mainDb, const RuleChecker &checker, const RuleText &rule,
                     const QString &comment, qint64 *key, bool nullTable) {
    Restored r;
    const qint64 formId = rule.formName.trimmed().isEmpty() ? 0 : checker.formIdByName(rule.formName);
    if (formId < 0) {
        r.verdict.ok = false;
        r.verdict.reason = r.verdict.detail = QStringLiteral("Форма %1 не найдена").arg(rule.formName);
        return r;
    }
    r.verdict = checker.Check(rule);
    insertRule(mainDb, formId, rule, comment, key, nullTable);
    r.stored = true;
    return r;
}

Verdict UpdateCheckedRule(const QSqlDatabase &mainDb, const RuleChecker &checker, qint64 key, const RuleText &typed,
                          const QString &typedComment) {
    RuleText rule = typed;
    QString comment = typedComment;
    if (const Verdict entered = enterTexts(rule, comment); !entered) return entered;
    const Verdict v = checker.Check(rule);
    if (!v) return v;
    const QSqlQuery q = db::exec(
        mainDb, QStringLiteral("update int_control set lft=?, rght=?, cycl=?, commnt=?, reltion=? where \"Код\"=?"),
        {nn(rule.lft), nn(rule.rght), nn(notation::CanonicalCycle(rule.cycl)), nn(comment), nn(rule.reltion.trimmed()),
         key});
    if (q.numRowsAffected() <= 0) {
        const QString why =
            QStringLiteral("Контроль (код %1) не найден: он удален после того, как был показан").arg(key);
        return Verdict{false, why, NoField, why};
    }
    return v;
}

} // namespace rulecheck
