#include "engine/Conditions.h"
#include "engine/Caches.h"
#include "engine/TableShape.h"

#include "engine/CellNumbering.h"
#include "engine/Lookups.h"
#include "engine/EngineError.h"
#include "engine/ValueMatrix.h"
#include "engine/FormulaParser.h"
#include "engine/Notation.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QHash>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>
#include <cmath>

namespace {

QList<qint64> ids(const QString &list) { return text::parseIdList(list); }

// State kept between the steps of one run: the last parsed reference and the
// form ids already looked up.
struct RunContext {
    ConditionRef last;
    bool hasLast = false;
    // Unreadable conditions met during the run, each once; null: thrown.
    QStringList *errors = nullptr;
    QHash<QString, qint64> formIds;
    bool roundResult = false;     // sums made integers

    // A whole run reads each referenced table's values of the year once
    // (all institutions) and answers every atom and sum from memory.
    struct Entry {
        qint64 hospital;
        double value;
    };
    using Cells = QHash<quint64, QList<Entry>>;   // (stored column, stored row) -> values
    bool useCache = false;
    QHash<qint64, Cells> tables;

    static quint64 cellKey(int column, int row) { return (quint64(quint32(column)) << 32) | quint32(row); }
    const Cells &tableValues(qint64 ident) {
        auto it = tables.constFind(ident);
        if (it != tables.constEnd()) return *it;
        Cells cells;
        QSqlQuery q(db::connection(db::kData));
        q.setForwardOnly(true);
        q.prepare(QStringLiteral("select hospital, \"column\", \"row\", data from %1 where year=? and \"table\"=?")
                      .arg(ValueTableName(ValueTable::Data)));
        q.addBindValue(shared().Year);
        q.addBindValue(ident);
        if (!q.exec()) throw db::statementFailure(db::connection(db::kData), q.lastQuery(), q.lastError());
        while (q.next())
            cells[cellKey(q.value(1).toInt(), q.value(2).toInt())].append(
                Entry{q.value(0).toLongLong(), q.value(3).toDouble()});
        return *tables.insert(ident, cells);
    }

    // Each cell resolves a reference that leaves out its form or table
    // against its own rules' references only, in the order the cell reads
    // them: a cell starts with none, a crossing with what its outer rule read.
    struct Last {
        ConditionRef ref;
        bool has = false;
    };
    Last lastRead() const { return {last, hasLast}; }
    void startFrom(const Last &l) {
        last = l.ref;
        hasLast = l.has;
    }

    ConditionRef parse(const QString &reference) {
        ConditionRef r = parseRef(reference);
        last = r;
        hasLast = true;
        return r;
    }
    ConditionRef parseRef(const QString &reference);
};

ConditionRef RunContext::parseRef(const QString &reference) {
    const ReferenceParts p = CutReferenceParts(SquareTableBrackets(text::upper(reference.trimmed())));
    ConditionRef r;
    if (p.hasForm) {
        auto it = formIds.constFind(p.form);
        if (it == formIds.constEnd()) it = formIds.insert(p.form, GetFormIdByName(p.form));
        r.formId = *it;
    } else if (hasLast) {
        r.formId = last.formId;
    }
    if (p.hasTable) r.tableKey = p.table;
    else if (hasLast) r.tableKey = last.tableKey;
    const std::optional<TableShape> shape =
        r.formId < 0 || r.tableKey.isEmpty() ? std::nullopt : CachedTableShapeByFormId(r.formId, r.tableKey);
    if (!shape)
        throw db::Error(QStringLiteral("В ссылке \"%1\" указана несуществующая форма или таблица").arg(reference));
    r.tableIdent = GetTableIdentByFormId(r.formId, r.tableKey);
    // Data rows follow the fixed rows of the referenced table; columns count
    // them all. Lines outside the table hold no value and are left out.
    const TableShape &g = *shape;
    const int rowCount = g.rowcount, colCount = g.colcount;
    if (p.hasRows)
        for (int row : ParseIntegerList(p.rows, 1, rowCount - g.fixrows))
            if (row >= 1 && row <= rowCount - g.fixrows) r.storedRows.append(cells::storedRowOfRef(row, g.fixrows));
    if (p.hasColumns)
        for (int column : ParseIntegerList(p.columns, cells::refColumnOfGrid(0, g.fixcols), colCount))
            if (column > g.fixcols && column <= colCount) r.storedColumns.append(cells::storedColumnOfRef(column));
    return r;
}

// Every cached value of the reference's cells stored by an institution of in.
template <typename Visit>
void visitValues(RunContext &ctx, const ConditionRef &r, const QSet<qint64> &in, Visit &&visit) {
    const RunContext::Cells &cells = ctx.tableValues(r.tableIdent);
    for (int c : r.storedColumns)
        for (int row : r.storedRows) {
            auto it = cells.constFind(RunContext::cellKey(c, row));
            if (it == cells.constEnd()) continue;
            for (const RunContext::Entry &e : *it)
                if (in.contains(e.hospital)) visit(e);
        }
}

double sumTerm(RunContext &ctx, const QString &term, const QString &list) {
    const QList<qint64> hs = ids(list);
    const ConditionRef r = ctx.parse(term);
    if (hs.isEmpty() || r.storedRows.isEmpty() || r.storedColumns.isEmpty()) return 0;
    if (ctx.useCache) {
        num::Sum sum;
        visitValues(ctx, r, QSet<qint64>(hs.begin(), hs.end()), [&](const RunContext::Entry &e) { sum.add(e.value); });
        return sum.value();
    }
    // Per cell, each counted as often as the reference names it, as the
    // run counts it; the largest term comes with each sum, so that a sum that
    // cancels is 0 here too.
    QHash<int, int> columnTimes, rowTimes;
    for (int c : r.storedColumns) ++columnTimes[c];
    for (int row : r.storedRows) ++rowTimes[row];
    QSqlQuery q = db::exec(
        db::connection(db::kData),
        QStringLiteral("select \"column\", \"row\", sum(data), max(abs(data)) from %1 where year=? and hospital in "
                       "(%2) and \"table\"=? and \"column\" in (%3) and \"row\" in (%4) group by \"column\", \"row\"")
            .arg(ValueTableName(ValueTable::Data), db::inList(hs), db::inList(r.storedColumns), db::inList(r.storedRows)),
        {shared().Year, r.tableIdent});
    num::Sum sum;
    while (q.next()) {
        const int times = columnTimes.value(q.value(0).toInt()) * rowTimes.value(q.value(1).toInt());
        sum.addSum(times * q.value(2).toDouble(), q.value(3).toDouble());
    }
    return sum.value();
}

// ---- Condition compiler ---------------------------------------------------------

const QRegularExpression &prefixPattern() {
    static const QRegularExpression re(QStringLiteral("^(-?\\d+(?:\\.\\d+)?)(<>|<=|>=|<|>|=)$"));
    return re;
}
const QRegularExpression &relationPattern() {
    static const QRegularExpression re(QStringLiteral("^(<>|<=|>=|<|>|=)(-?\\d+(?:\\.\\d+)?)$"));
    return re;
}

// The institutions of base selected by one atom: prefix, reference and
// relation part ("=0": the institutions with no stored value there). whole is
// the condition it came from, for the message.
QString compileAtom(RunContext &ctx, const QString &a, const QString &baseList, const QString &whole) {
    // The reference starts at its form: the prefix is what stands before it.
    const notation::Part form = notation::FindMarkers(a).form;
    if (!form.found()) throw db::Error(QStringLiteral("Неверное условие: %1").arg(whole));
    const int f = int(form.at);
    const QString prefix = a.left(f);
    int rel = -1;
    for (int i = f; i < a.size(); ++i)
        if (a[i] == u'<' || a[i] == u'=' || a[i] == u'>') {
            rel = i;
            break;
        }
    const QString reference = rel < 0 ? a.mid(f) : a.mid(f, rel - f);
    const QString relation = rel < 0 ? QString() : a.mid(rel);

    QString prefixOp, relationOp;
    double prefixValue = 0, relationValue = 0;
    if (!prefix.isEmpty()) {
        const auto m = prefixPattern().match(prefix);
        if (!m.hasMatch()) throw db::Error(QStringLiteral("Неверное условие: %1").arg(whole));
        prefixOp = m.captured(2);
        prefixValue = m.captured(1).toDouble();
    }
    const bool zero = relation == QLatin1String("=0");
    if (!relation.isEmpty() && !zero) {
        const auto m = relationPattern().match(relation);
        if (!m.hasMatch()) throw db::Error(QStringLiteral("Неверное условие: %1").arg(whole));
        relationOp = m.captured(1);
        relationValue = m.captured(2).toDouble();
    }
    const ConditionRef r = ctx.parse(reference);
    const QList<qint64> base = ids(baseList);

    QList<qint64> found;
    if (ctx.useCache) {
        QSet<qint64> hit;
        visitValues(ctx, r, QSet<qint64>(base.begin(), base.end()), [&](const RunContext::Entry &e) {
            if (!prefixOp.isEmpty() && !RelationHolds(prefixOp, prefixValue, e.value)) return;
            if (!relationOp.isEmpty() && !RelationHolds(relationOp, e.value, relationValue)) return;
            hit.insert(e.hospital);
        });
        for (qint64 h : base)
            if (hit.contains(h)) found.append(h);
    } else {
        QString sql = QStringLiteral("select distinct hospital from %1 where year=? and hospital in (%2) "
                                     "and \"table\"=? and \"column\" in (%3) and \"row\" in (%4)")
                          .arg(ValueTableName(ValueTable::Data), db::inList(base), db::inList(r.storedColumns),
                               db::inList(r.storedRows));
        QVariantList params{shared().Year, r.tableIdent};
        if (!prefixOp.isEmpty()) {
            sql += QStringLiteral(" and (? %1 data)").arg(prefixOp);
            params << prefixValue;
        }
        if (!relationOp.isEmpty()) {
            sql += QStringLiteral(" and (data %1 ?)").arg(relationOp);
            params << relationValue;
        }
        QSqlQuery q = db::exec(db::kData, sql, params);
        while (q.next()) found.append(q.value(0).toLongLong());
    }
    if (zero) return IdsNotInList(text::joinIdList(found), baseList);
    return text::joinIdList(found);
}

// Conditions: atoms joined by AND / OR of equal precedence, left to right,
// parentheses grouping. Every atom selects from the same base list. Each
// atom and each parenthesised group becomes an entry; the words between them
// make a chain of entry tokens folded by EvaluateConditionTokens.
class ConditionEvaluator {
public:
    ConditionEvaluator(RunContext &ctx, const QString &text, const QString &base)
        : m_ctx(ctx), m_s(text), m_base(base) {}

    QString run() {
        // Groups nest by recursion: deeper text than any real condition is not read.
        if (NestingDepth(m_s) > kMaxNesting)
            throw ConditionSyntaxError(QStringLiteral("Слишком глубокая вложенность скобок"));
        QString v = expr();
        if (m_pos < m_s.size()) {
            if (m_s[m_pos] == u')') throw ConditionSyntaxError(QStringLiteral("Не хватает левой скобки"));
            throw db::Error(QStringLiteral("Неверное условие: %1").arg(m_s));
        }
        return v;
    }

private:
    bool takeWord(QLatin1StringView w) {
        if (QStringView(m_s).mid(m_pos, w.size()) == w) {
            m_pos += w.size();
            return true;
        }
        return false;
    }
    QString token(const QString &entry) {
        m_entries.append(entry);
        return u'#' + QString::number(m_entries.size() - 1);
    }
    QString expr() {
        QString chain = token(operand());
        for (;;) {
            if (takeWord(QLatin1StringView("AND"))) chain += QStringLiteral("AND") + token(operand());
            else if (takeWord(QLatin1StringView("OR"))) chain += QStringLiteral("OR") + token(operand());
            else return EvaluateConditionTokens(chain, m_entries);
        }
    }
    QString operand() {
        if (m_pos < m_s.size() && m_s[m_pos] == u'(') {
            ++m_pos;
            QString v = expr();
            if (m_pos >= m_s.size() || m_s[m_pos] != u')')
                throw ConditionSyntaxError(QStringLiteral("Не хватает правой скобки"));
            ++m_pos;
            return v;
        }
        const qsizetype start = m_pos;
        while (m_pos < m_s.size() && m_s[m_pos] != u'(' && m_s[m_pos] != u')'
               && m_s.mid(m_pos, 3) != QLatin1String("AND") && m_s.mid(m_pos, 2) != QLatin1String("OR"))
            ++m_pos;
        return compileAtom(m_ctx, m_s.mid(start, m_pos - start), m_base, m_s);
    }

    RunContext &m_ctx;
    QString m_s;
    QString m_base;
    QStringList m_entries;
    qsizetype m_pos = 0;
};

// A condition as the compiler reads it: upper case, without blanks and line
// breaks, tables in square brackets.
QString conditionText(const QString &condition) {
    QString cond = text::upper(condition);
    cond.remove(u' ');
    cond.remove(u'\n');
    cond.remove(u'\r');
    return SquareTableBrackets(cond);
}

QString applyCondition(RunContext &ctx, const ConditionRule &rule, const QString &list, int &count) {
    QString result = list;
    if (rule.country && !ids(result).isEmpty()) {
        QList<qint64> rural;
        QSqlQuery q = db::exec(db::kMain,
                               QStringLiteral("select id from administration where country in (1, 'true', 'True') "
                                              "and id in (%1) order by ind, id").arg(db::inList(ids(result))));
        while (q.next()) rural.append(q.value(0).toLongLong());
        result = text::joinIdList(rural);
    }
    const QString cond = conditionText(rule.condition);
    if (!ids(result).isEmpty() && !cond.isEmpty()) {
        try {
            result = ConditionEvaluator(ctx, cond, result).run();
        } catch (const ConditionSyntaxError &e) {
            if (!ctx.errors) throw;
            // The rule selects nobody; the run goes on and reports it once.
            QString shown = rule.condition.trimmed();
            if (shown.size() > 200) shown = shown.left(200) + QStringLiteral("...");
            const QString line = e.message() + QStringLiteral(" в условии: ") + shown;
            if (!ctx.errors->contains(line)) ctx.errors->append(line);
            result.clear();
        }
    }
    count = int(ids(result).size());
    return result;
}

QString evaluateTokens(const QString &tokens, const QStringList &entries, int depth) {
    const QString t = text::upper(tokens.trimmed());
    if (!t.startsWith(u'#')) return tokens;   // an institution list
    auto bad = [&] { return db::Error(QStringLiteral("Неверное условие: %1").arg(tokens)); };
    // Chains name earlier entries only; a deeper walk than there are entries loops.
    if (depth > entries.size()) throw bad();
    qsizetype i = 0;
    auto value = [&] {
        if (i >= t.size() || t[i] != u'#') throw bad();
        const qsizetype start = ++i;
        while (i < t.size() && t[i] >= u'0' && t[i] <= u'9') ++i;
        bool ok = false;
        const int n = t.mid(start, i - start).toInt(&ok);
        if (!ok || n < 0 || n >= entries.size()) throw bad();
        return evaluateTokens(entries[n], entries, depth + 1);
    };
    QString acc = value();
    while (i < t.size()) {
        if (t.mid(i, 3) == QLatin1String("AND")) {
            i += 3;
            acc = IntersectIdLists(acc, value());
        } else if (t.mid(i, 2) == QLatin1String("OR")) {
            i += 2;
            const QString extra = IdsNotInList(acc, value());
            acc = acc.isEmpty() ? extra : (extra.isEmpty() ? acc : acc + u',' + extra);
        } else {
            throw bad();
        }
    }
    return acc;
}

// A sum formula as the run reads it ("*" already replaced): upper case, table
// keys in square brackets; either a constant (digits and "." alone) or terms
// cut at "+" and "-", each a number or a reference, added or subtracted left
// to right.
struct FormulaTerms {
    std::optional<QString> constant;
    struct Term {
        bool minus = false;
        QString text;   // trimmed, never empty
    };
    QList<Term> terms;
};

FormulaTerms readFormula(const QString &formula) {
    FormulaTerms out;
    const QString f = SquareTableBrackets(text::upper(formula)).trimmed();
    if (f.isEmpty()) return out;
    if (IsDigitsText(f)) {
        out.constant = f;
        return out;
    }
    // Terms and their signs alternate; a blank term (two signs in a row)
    // adds nothing.
    const QStringList pieces = notation::CutSide(f, u"+-");
    for (qsizetype i = 0; i < pieces.size(); i += 2) {
        const QString t = pieces[i].trimmed();
        if (!t.isEmpty()) out.terms.append({i > 0 && pieces[i - 1] == u"-", t});
    }
    return out;
}

// The value of a sum rule over the final list: the formula, then the divisor,
// the average over count and the rounding; a constant formula stands alone.
double calcFormula(RunContext &ctx, const ConditionRule &rule, const QString &formula, const QString &list,
                   int count) {
    const FormulaTerms f = readFormula(formula);
    if (f.constant) {
        bool ok = false;
        const double v = f.constant->toDouble(&ok);
        if (!ok) throw ConversionError(QStringLiteral("\"%1\" не является числом").arg(*f.constant));
        return v;
    }
    num::Sum sum;
    for (const FormulaTerms::Term &t : f.terms) {
        const double v = IsDecimalText(t.text) ? t.text.toDouble() : sumTerm(ctx, t.text, list);
        sum.add(t.minus ? -v : v);
    }
    double value = sum.value();
    value /= rule.koeff == 0 ? 1 : rule.koeff;
    if (rule.midle) value = count == 0 ? 0.0 : value / count;
    if (ctx.roundResult) value = std::nearbyint(value);
    return value;
}

// The same formula per institution of the list: each reference's values of
// the institution added or subtracted; constants belong to none.
QHash<qint64, double> formulaShares(RunContext &ctx, const QString &formula, const QString &list) {
    const FormulaTerms f = readFormula(formula);
    const QList<qint64> hs = ids(list);
    const QSet<qint64> in(hs.begin(), hs.end());
    QHash<qint64, num::Sum> sums;
    for (const FormulaTerms::Term &t : f.terms) {
        if (IsDecimalText(t.text)) continue;
        const ConditionRef r = ctx.parse(t.text);
        if (hs.isEmpty() || r.storedRows.isEmpty() || r.storedColumns.isEmpty()) continue;
        visitValues(ctx, r, in, [&](const RunContext::Entry &e) { sums[e.hospital].add(t.minus ? -e.value : e.value); });
    }
    QHash<qint64, double> out;
    for (auto it = sums.cbegin(); it != sums.cend(); ++it) out.insert(it.key(), it.value().value());
    return out;
}

QString selectByTypes(const QString &types, bool rural, const QString &includeList) {
    const QString t = NormalizeTypes(types);
    if (t == QLatin1String("*")) return text::joinIdList(ids(includeList));
    if (t.isEmpty()) {
        if (!types.trimmed().isEmpty() && types.trimmed() != QLatin1String(","))
            throw db::Error(QStringLiteral("Неверный список типов учреждений: %1").arg(types));
        return {};
    }
    QString sql = QStringLiteral("select id from administration where medicaltype in (%1)")
                      .arg(db::inList(ids(t)));
    if (rural) sql += QStringLiteral(" and country in (1, 'true', 'True')");
    const QList<qint64> include = ids(includeList);
    if (!include.isEmpty()) sql += QStringLiteral(" and id in (%1)").arg(db::inList(include));
    sql += QStringLiteral(" order by ind, id");
    QList<qint64> out;
    QSqlQuery q = db::exec(db::kMain, sql);
    while (q.next()) out.append(q.value(0).toLongLong());
    return text::joinIdList(out);
}

QList<ConditionRule> readRules(const QString &where, const QVariantList &params) {
    QList<ConditionRule> rules;
    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select * from conditions where ") + where, params);
    while (q.next()) rules.append(ConditionRuleFromRecord(q.record()));
    return rules;
}

// The institutions a cell's chooser selects: those of its types (with its
// rural flag), of a crossing then narrowed by the outer rule's rural flag and
// condition when it has a condition.
QString chosenInstitutions(RunContext &ctx, const ConditionRule &chooser, const QString &includeList, bool crossing) {
    const QString list = selectByTypes(chooser.types, chooser.country, includeList);
    if (!crossing || list.isEmpty() || chooser.condition.trimmed().isEmpty()) return list;
    int count = 0;
    return applyCondition(ctx, chooser, list, count);
}

// The chosen institutions narrowed by the value rule: the final list and its
// count, and whether the run stores the cell (a cell rule whenever any
// institution was chosen, a crossing only when some are left).
struct FinalList {
    bool stored = false;
    QString list;
    int count = 0;
};
FinalList finalInstitutions(RunContext &ctx, const CellRules &cell, const QString &chosen) {
    FinalList f;
    if (chosen.isEmpty()) return f;
    f.list = applyCondition(ctx, cell.value, chosen, f.count);
    f.stored = !cell.outer || f.count > 0;
    return f;
}

double cellValue(RunContext &ctx, const CellRules &cell, const FinalList &f) {
    return cell.value.type ? calcFormula(ctx, cell.value, cell.formula(), f.list, f.count) : double(f.count);
}

} // namespace

std::optional<ConditionRule> ReadConditionRule(qint64 tid, int row, int column) {
    const QList<ConditionRule> rules =
        readRules(QStringLiteral("tid=? and \"row\"=? and \"column\"=?"), {tid, row, column});
    if (rules.isEmpty()) return std::nullopt;
    return rules.first();
}

LineRules ReadLineRules(qint64 tid, int scan, int row, int column) {
    std::optional<ConditionRule> rowRule = ReadConditionRule(tid, row, -1),
                                 columnRule = ReadConditionRule(tid, -1, column);
    if (OuterRulesAreColumns(scan)) return {columnRule, rowRule};
    return {rowRule, columnRule};
}

QString ConditionFormulaWithOuter(const QString &formula, const QString &outerFormula) {
    QString f = formula;
    return f.replace(u'*', outerFormula);
}

std::optional<CellRules> ReadCellRules(qint64 tid, int scan, int row, int column) {
    if (std::optional<ConditionRule> own = ReadConditionRule(tid, row, column)) return CellRules{*own, std::nullopt};
    const LineRules lines = ReadLineRules(tid, scan, row, column);
    if (!lines.outer || !lines.inner) return std::nullopt;
    return CellRules{*lines.inner, lines.outer};
}

CellShares BreakDownCell(const CellRules &cell, const QString &includeList, QStringList &unreadable) {
    RunContext ctx;
    ctx.useCache = true;
    ctx.errors = &unreadable;
    const FinalList f =
        finalInstitutions(ctx, cell, chosenInstitutions(ctx, cell.chooser(), includeList, cell.outer.has_value()));
    CellShares out;
    out.stored = f.stored;
    out.sum = cell.value.type;
    if (!f.stored) return out;
    out.institutions = ids(f.list);
    if (out.sum) out.shares = formulaShares(ctx, cell.formula(), f.list);
    return out;
}

ConditionRule ConditionRuleFromRecord(const QSqlRecord &r) {
    ConditionRule c;
    c.tid = r.value(QStringLiteral("tid")).toLongLong();
    c.row = r.value(QStringLiteral("row")).toInt();
    c.column = r.value(QStringLiteral("column")).toInt();
    c.type = db::storedYes(r.value(QStringLiteral("type")));
    c.formula = r.value(QStringLiteral("formula")).toString();
    c.condition = r.value(QStringLiteral("condition")).toString();
    c.koeff = ConditionDivisor(r.value(QStringLiteral("koeff")));
    c.country = db::storedYes(r.value(QStringLiteral("country")));
    c.midle = db::storedYes(r.value(QStringLiteral("midle")));
    c.types = r.value(QStringLiteral("types")).toString();
    return c;
}

bool RelationHolds(const QString &relation, double l, double r) {
    const QString rel = relation.trimmed().left(3).trimmed();
    if (rel == QLatin1String("=")) return l == r;
    if (rel == QLatin1String("<>")) return l != r;
    if (rel == QLatin1String(">")) return l > r;
    if (rel == QLatin1String(">=")) return l >= r;
    if (rel == QLatin1String("<")) return l < r;
    if (rel == QLatin1String("<=")) return l <= r;
    return true;
}

namespace {
// The one reading of a divisor text: blanks around it ignored, a decimal
// comma read as a point; empty or 0 is 1. False for a text that is no
// finite number.
bool readDivisorText(const QString &text, double &divisor) {
    QString t = text.trimmed();
    t.replace(u',', u'.');
    if (t.isEmpty()) {
        divisor = 1;
        return true;
    }
    bool ok = false;
    const double k = t.toDouble(&ok);
    if (!ok || !std::isfinite(k)) return false;
    divisor = k == 0 ? 1 : k;
    return true;
}
} // namespace

double ConditionDivisor(const QVariant &stored) {
    double k = 1;
    return readDivisorText(stored.toString(), k) ? k : 1;
}

bool ReadConditionDivisor(const QString &text, double &divisor) {
    double k = 1;
    if (!readDivisorText(text, k) || std::abs(k) > kMaxDivisor) return false;
    divisor = k;
    return true;
}

QString ConditionDivisorText(double divisor) { return QString::number(divisor, 'g', 15); }

QString UnreadableConditionsMessage(const QStringList &notes) {
    return QStringLiteral("Условия, которые не удалось прочитать (по ним никто не отобран):\r\n") +
           notes.join(QStringLiteral("\r\n"));
}

QString NormalizeTypes(const QString &types) {
    QString t = types.trimmed();
    if (t.endsWith(u',')) t.chop(1);
    if (t == QLatin1String("*")) return t;
    return text::isIdList(t) ? t : QString();
}

QString SelectInstitutionsByTypes(const QString &types, bool rural, const QString &includeList) {
    return selectByTypes(types, rural, includeList);
}

QString CompileAtomicCondition(const QString &atom, const QString &list) {
    RunContext ctx;
    const QString a = conditionText(atom);
    return compileAtom(ctx, a, list, a);
}

QString CompileConditionGroup(const QString &condition, const QString &list) {
    RunContext ctx;
    const QString cond = conditionText(condition);
    if (cond.isEmpty()) return list;
    return ConditionEvaluator(ctx, cond, list).run();
}

QString EvaluateConditionTokens(const QString &tokens, const QStringList &entries) {
    return evaluateTokens(tokens, entries, 0);
}

QString ApplyCondition(const ConditionRule &rule, const QString &list, int &count, QStringList *errors) {
    RunContext ctx;
    ctx.errors = errors;
    return applyCondition(ctx, rule, list, count);
}

double SumTermOverInstitutions(const QString &term, const QString &list) {
    RunContext ctx;
    return sumTerm(ctx, term, list);
}

ConditionRef ParseConditionRef(const QString &reference, const ConditionRef *previous) {
    RunContext ctx;
    if (previous) {
        ctx.last = *previous;
        ctx.hasLast = true;
    }
    return ctx.parseRef(reference);
}

namespace {

// The ids of second that are (found = true) or are not in first.
QString filterIds(const QString &first, const QString &second, bool found) {
    const QList<qint64> a = ids(first);
    const QSet<qint64> in(a.begin(), a.end());
    QList<qint64> out;
    for (qint64 id : ids(second))
        if (in.contains(id) == found) out.append(id);
    return text::joinIdList(out);
}

} // namespace

QString IntersectIdLists(const QString &first, const QString &second) { return filterIds(first, second, true); }

QString IdsNotInList(const QString &first, const QString &second) { return filterIds(first, second, false); }

QStringList CalcTableConditions(ValueMatrix &m, qint64 tableIdent, const QString &includeList, bool roundResult,
                                const ProgressLabelFn &label, const QString &labelPrefix) {
    const std::optional<TableShape> g = FindTableShape(db::connection(db::kMain), tableIdent);
    if (!g) throw db::Error(QStringLiteral("Таблица %1 не найдена").arg(tableIdent));
    const int fixCols = g->fixcols, fixRows = g->fixrows;
    const int cmax = g->dataColumns() - 1, rmax = g->dataRows() - 1;
    const int scan = g->scan;
    RunContext ctx;
    ctx.useCache = true;
    ctx.roundResult = roundResult;
    QStringList errors;
    ctx.errors = &errors;
    QSet<QPair<int, int>> taken;   // (data column, data row) of cell rules

    // A rule that cannot be computed ends the run; the message names it.
    auto named = [&](int row, int column, const auto &work) {
        try {
            work();
        } catch (const std::exception &e) {
            QString where = QStringLiteral("Правило расчета ");
            if (row >= 0 && column >= 0)
                where += QStringLiteral("ячейки строка %1 графа %2")
                             .arg(cells::refRowOfGrid(row)).arg(cells::refColumnOfGrid(column, fixCols));
            else if (row >= 0)
                where += QStringLiteral("строки %1").arg(cells::refRowOfGrid(row));
            else
                where += QStringLiteral("графы %1").arg(cells::refColumnOfGrid(column, fixCols));
            throw db::Error(where + QStringLiteral(": ") + winutil::errorText(e));
        }
    };

    auto show = [&](int row, int column) {
        if (label)
            label(labelPrefix + QStringLiteral("строка") + QString::number(cells::refRowOfGrid(row))
                  + QStringLiteral(" графа") + QString::number(cells::refColumnOfGrid(column, fixCols)));
    };

    // Cell rules.
    const QList<ConditionRule> cellRules = readRules(
        QStringLiteral("tid=? and (\"row\">=0 and \"row\"<=?) and (\"column\">=0 and \"column\"<=?) "
                       "order by \"row\", \"column\""),
        {tableIdent, rmax, cmax});
    for (const ConditionRule &rule : cellRules) {
        show(rule.row, rule.column);
        named(rule.row, rule.column, [&] {
            const CellRules cell{rule, std::nullopt};
            ctx.startFrom({});
            const FinalList f = finalInstitutions(ctx, cell, chosenInstitutions(ctx, rule, includeList, false));
            if (!f.stored) return;
            m.set(cells::storedColumnOfGrid(rule.column, fixCols), cells::storedRowOfGrid(rule.row, fixRows),
                  cellValue(ctx, cell, f));
        });
        taken.insert({rule.column, rule.row});
    }

    // Row rules crossed with column rules.
    const QString columnRules = QStringLiteral("tid=? and \"row\"=-1 and (\"column\">=0 and \"column\"<=?) "
                                               "order by \"column\"");
    const QString rowRules = QStringLiteral("tid=? and \"column\"=-1 and (\"row\">=0 and \"row\"<=?) "
                                            "order by \"row\"");
    const bool outerColumns = OuterRulesAreColumns(scan);
    const QList<ConditionRule> outerRules =
        outerColumns ? readRules(columnRules, {tableIdent, cmax}) : readRules(rowRules, {tableIdent, rmax});
    const QList<ConditionRule> innerRules =
        outerColumns ? readRules(rowRules, {tableIdent, rmax}) : readRules(columnRules, {tableIdent, cmax});
    for (const ConditionRule &outer : outerRules) {
        // The outer rule chooses once for all its crossings.
        QString chosen;
        RunContext::Last afterOuter;
        named(outer.row, outer.column, [&] {
            ctx.startFrom({});
            chosen = chosenInstitutions(ctx, outer, includeList, true);
            afterOuter = ctx.lastRead();
        });
        if (chosen.isEmpty()) continue;
        for (const ConditionRule &inner : innerRules) {
            const int row = outerColumns ? inner.row : outer.row;
            const int column = outerColumns ? outer.column : inner.column;
            if (taken.contains({column, row})) continue;
            show(row, column);
            named(row, column, [&] {
                const CellRules cell{inner, outer};
                ctx.startFrom(afterOuter);
                const FinalList f = finalInstitutions(ctx, cell, chosen);
                if (!f.stored) return;
                m.set(cells::storedColumnOfGrid(column, fixCols), cells::storedRowOfGrid(row, fixRows),
                      cellValue(ctx, cell, f));
            });
        }
    }
    return errors;
}
