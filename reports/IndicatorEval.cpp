#include "reports/IndicatorEval.h"

#include "core/FormulaHighlighter.h"
#include "engine/Caches.h"
#include "engine/CellNumbering.h"
#include "engine/TableShape.h"
#include "engine/FormulaParser.h"
#include "engine/Lookups.h"
#include "engine/NumberFormat.h"
#include "engine/ProgressSink.h"
#include "engine/RuleEngine.h"
#include "engine/SharedState.h"
#include "engine/SummaryMembers.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSet>
#include <QSqlQuery>
#include <optional>

namespace indicators {

bool &SplitMode() {
    static bool on = false;
    return on;
}

namespace {

bool isOperator(QChar c) {
    return c == u'(' || c == u')' || c == u'*' || c == u'+' || c == u'-' || c == u'/';
}

bool modeIn(ReportMode m, std::initializer_list<ReportMode> modes) {
    for (ReportMode x : modes)
        if (m == x) return true;
    return false;
}

QString outsideMarker(const QString &form, const QString &key, int column, int row) {
    return QStringLiteral("%1 %2%3 гр%4стр%5").arg(kOutsideTableMarker, form, key).arg(column).arg(row);
}

// Sum over the table held; outside is set for a cell outside the table.
double sumMatrix(const RuleRun &held, const QList<int> &rows, const QList<int> &columns, const QString &form,
                 const QString &key, QString &outside) {
    const ValueMatrix &m = held.matrix();
    num::Sum sum;
    for (int c : columns)
        for (int r : rows) {
            if (!IsValidMatrixCell(m, c, r)) {
                if (outside.isEmpty()) outside = outsideMarker(form, key, c, r);
                continue;
            }
            sum.add(m.at(cells::storedColumnOfRef(c), cells::storedRowOfRef(r, held.fixRows())));
        }
    return sum.value();
}

// The tables a text names, each as its form and key, read as its operands
// are read (ResolveFormulaOperands).
void addNamedTables(const QString &text, QSet<QString> &tables) {
    const QStringList pieces = notation::CutSide(SquareTableBrackets(text::upper(text)));
    for (qsizetype i = 0; i < pieces.size(); i += 2) {
        const ReferenceParts parts = CutReferenceParts(pieces[i]);
        if (parts.hasForm && parts.hasTable) tables.insert(parts.form + parts.table);
    }
}

thread_local QString g_outside;   // outside-table marker of the last fetch
thread_local QSet<QString> g_resolving;   // identifiers being resolved in split mode

} // namespace

bool IndicatorCalc::modeIs(std::initializer_list<ReportMode> modes) const { return modeIn(m_work.mode, modes); }

QString FormulaPart(const QString &cellFormula) {
    const int i = cellFormula.indexOf(QLatin1Char(';'));
    return i < 0 ? cellFormula : cellFormula.left(i);
}

QString FormulaSuffix(const QString &cellFormula) {
    const int i = cellFormula.indexOf(QLatin1Char(';'));
    return i < 0 ? QString() : cellFormula.mid(i + 1);
}

QString IndicatorCalc::ResolveFormulaOperands(const QString &formula) {
    const QString text = SquareTableBrackets(text::upper(formula));
    QString out, operand;
    for (QChar ch : text) {
        if (isOperator(ch)) {
            out += ParseDataReference(operand.trimmed());
            out += ch;
            operand.clear();
        } else {
            operand += ch;
        }
    }
    out += ParseDataReference(operand.trimmed());
    return out;
}

QString IndicatorCalc::ParseDataReference(const QString &operand) {
    if (operand.isEmpty() || IsDecimalText(operand)) return operand;
    const ReferenceParts parts = CutReferenceParts(operand);
    if (!parts.hasForm || !parts.hasTable) return TakeVal(operand);
    // Lists clipped to the table they name; of a table that is not here each
    // item is one number (nothing is read from it).
    const TableShape shape = CachedTableShape(parts.form, parts.table).value_or(TableShape());
    const QList<int> rows = ParseIntegerList(parts.rows, 1, shape.dataRows());
    const QList<int> columns =
        ParseIntegerList(parts.columns, cells::refColumnOfGrid(0, shape.fixcols), shape.colcount);
    double sum = 0;
    bool answered = true;
    g_outside.clear();
    if (SplitMode())
        answered = SumCellsForInstitution(parts.form, parts.table, rows, columns, sum);
    else if (modeIs({ReportMode::Terrain, ReportMode::Single, ReportMode::Svod}))
        answered = SumLoadedCells(parts.form, parts.table, rows, columns, sum);
    else if (modeIs({ReportMode::Types}))
        answered = SumLoadedCellsForUnits(parts.form, parts.table, rows, columns, sum);
    if (!answered) return operand;
    if (!g_outside.isEmpty()) return g_outside;
    return num::fixed2(sum);
}

namespace {

// Sums cells of the table held. The first call loads the table with `load`
// and holds it by form and key; later calls answer only for that same table
// (false for another one, or when the load fails).
template <typename Load>
bool sumHeldTable(RuleRun &held, const QString &form, const QString &tableKey, const QList<int> &rows,
                  const QList<int> &columns, double &sum, int &loads, Load &&load) {
    if (!held.holdsTable()) {
        if (!load()) return false;
        held.setHeld(form, tableKey);
        ++loads;
    } else if (!held.holds(form, tableKey)) {
        return false;
    }
    sum = sumMatrix(held, rows, columns, form, tableKey, g_outside);
    return true;
}

} // namespace

bool IndicatorCalc::SumLoadedCells(const QString &form, const QString &tableKey, const QList<int> &rows,
                                   const QList<int> &columns, double &sum) {
    return sumHeldTable(m_table, form, tableKey, rows, columns, sum, m_loads,
                        [&] { return m_table.readTable(form, tableKey); });
}

bool IndicatorCalc::SumLoadedCellsForUnits(const QString &form, const QString &tableKey, const QList<int> &rows,
                                           const QList<int> &columns, double &sum) {
    return sumHeldTable(m_table, form, tableKey, rows, columns, sum, m_loads, [&] {
        if (m_pacer) {
            m_pacer->sink().setDetailText(form + QStringLiteral(" ") + tableKey);
            m_pacer->step();
        }
        return SumDataForUnits(m_table, form, tableKey, m_pacer);
    });
}

bool IndicatorCalc::SumCellsForInstitution(const QString &form, const QString &tableKey, const QList<int> &rows,
                                           const QList<int> &columns, double &sum) {
    sum = 0;
    // Answers as the main grid does: the reference itself for a table that
    // does not exist, the outside-table marker for a cell beyond its bounds.
    const std::optional<TableShape> shape = CachedTableShape(form, tableKey);
    if (!shape) return false;
    const TableShape &g = *shape;
    const qint64 ident = g.ident;
    if (rows.isEmpty() || columns.isEmpty()) return true;
    // The bounds of the matrix RuleRun::readTable fills for this geometry.
    auto inside = [&g](int c, int r) {
        return c >= cells::refColumnOfGrid(0, g.fixcols) && r >= cells::refRowOfGrid(0) && c <= g.colcount &&
               r <= g.dataRows();
    };
    for (int c : columns)
        for (int r : rows)
            if (!inside(c, r)) {
                g_outside = outsideMarker(form, tableKey, c, r);
                return true;
            }
    QList<int> storedRows, storedColumns;
    for (int r : rows) storedRows << cells::storedRowOfRef(r, g.fixrows);
    for (int c : columns) storedColumns << cells::storedColumnOfRef(c);
    const SharedState &s = shared();
    const QVariant v = db::scalar(
        db::connection(db::kData),
        QStringLiteral("select sum(data) from %1 where year=? and \"table\"=? and hospital=? and \"row\" in (%2) and "
                       "\"column\" in (%3)")
            .arg(ValueTableName(m_work.table), db::inList(storedRows), db::inList(storedColumns)),
        {s.Year, ident, m_work.institution});
    sum = v.isNull() ? 0.0 : v.toDouble();
    return true;
}

bool SumDataForUnits(RuleRun &run, const QString &form, const QString &tableKey, ProgressPacer *pacer) {
    const qint64 formId = GetFormIdByName(form);
    if (formId < 0) return false;
    const std::optional<TableShape> shape = CachedTableShapeByFormId(formId, tableKey);
    if (!shape) return false;
    const TableShape &g = *shape;
    const qint64 ident = g.ident;
    ValueMatrix &m = run.createMatrix(g);
    const QList<qint64> ids = text::parseIdList(run.context().includeList);
    if (ids.isEmpty()) return true;
    // Records outside the table's bounds are skipped by the matrix.
    db::readNumbers(db::connection(db::kData),
                    QStringLiteral("select \"column\", \"row\", data from %1 where year=? and \"table\"=? and "
                                   "hospital in (%2)")
                        .arg(ValueTableName(run.context().valueTable), db::inList(ids)),
                    {shared().Year, ident}, 3, [&](const double *f) {
                        m.add(int(f[0]), int(f[1]), f[2]);
                        if (pacer) pacer->tick();
                    });
    return true;
}

QString IndicatorCalc::TakeVal(const QString &name) {
    const SharedState &s = shared();
    if (name.left(9) == QStringLiteral("НАСЕЛЕНИЕ")) {
        const QChar last = name.isEmpty() ? QChar() : name.back();
        if (last < u'0' || last > u'3') return name;
        const int field = last.unicode() - u'0';
        const QSqlDatabase d = db::connection(db::kMain);
        QSqlQuery q;
        const QString fields = QStringLiteral("common,olds,teens,childs");
        const QString sums = QStringLiteral("sum(common),sum(olds),sum(teens),sum(childs)");
        if (SplitMode() && !modeIs({ReportMode::Terrain})) {
            if (!modeIs({ReportMode::Single, ReportMode::Svod, ReportMode::Types})) return name;
            q = db::exec(d, QStringLiteral("select %1 from populations1 where year=? and unit=?").arg(fields),
                         {s.Year, m_work.institution});
        } else if (modeIs({ReportMode::Terrain, ReportMode::Single, ReportMode::Svod})) {
            q = db::exec(d, QStringLiteral("select %1 from populations where year=? and unit=?").arg(fields),
                         {s.Year, m_work.institution});
        } else if (modeIs({ReportMode::Types})) {
            // The members of a type are institutions: their populations are
            // kept per institution.
            q = db::exec(d,
                         QStringLiteral("select %1 from populations1 where year=? and unit in (%2)")
                             .arg(sums, db::inList(text::parseIdList(m_work.includeList))),
                         {s.Year});
        } else {
            return name;   // no population source in this mode: the cell stays symbolic
        }
        qint64 v = 0;
        if (q.next()) v = qRound64(q.value(field).toDouble());
        return QString::number(v);
    }
    QString result = name;
    QString expression;
    bool found = false;
    if (m_identifiers) {
        for (const QString &line : *m_identifiers) {
            const int eq = line.indexOf(QLatin1Char('='));
            if (eq < 0) continue;
            if (text::upper(line.left(eq).trimmed()) == text::upper(name)) {
                expression = line.mid(eq + 1).trimmed();
                found = true;
            }
        }
    }
    if (!found) return result;
    if (IsNumberText(expression)) return expression;
    if (SplitMode()) {
        const QString key = text::upper(name);
        if (g_resolving.contains(key)) return result;   // an identifier defined through itself
        g_resolving.insert(key);
        try {
            result = EvaluateExpression(ResolveFormulaOperands(expression));
        } catch (...) {
            g_resolving.remove(key);
            throw;
        }
        g_resolving.remove(key);
    }
    return result;
}

void IndicatorCalc::GetDatas(QList<QStringList> &values, const QList<QStringList> &formulas) {
    m_loads = 0;
    const int columns = int(values.size());
    auto splitLine = [](const QString &line, QString &name, QString &expr) {
        const int eq = line.indexOf(QLatin1Char('='));
        name = eq < 0 ? line : line.left(eq);
        expr = eq < 0 ? QString() : line.mid(eq + 1);
        return eq >= 0;
    };
    for (int pass = 0; pass < 10000; ++pass) {
        m_table.release();
        if (m_identifiers)
            for (QString &line : *m_identifiers) {
                QString name, expr;
                if (splitLine(line, name, expr)) line = name + QLatin1Char('=') + ResolveFormulaOperands(expr);
            }
        for (int c = 1; c < columns; ++c)
            for (int r = 1; r < values[c].size(); ++r) values[c][r] = ResolveFormulaOperands(FormulaPart(values[c][r]));
        if (!m_table.holdsTable()) break;
    }
    // Identifiers in dependency order: a name defined through another
    // identifier gets its value once that one has one.
    if (m_identifiers) {
        for (int round = 0; round <= m_identifiers->size(); ++round) {
            bool changed = false;
            for (QString &line : *m_identifiers) {
                QString name, expr;
                if (!splitLine(line, name, expr)) continue;
                QString value = EvaluateExpression(round == 0 ? expr : ResolveFormulaOperands(expr));
                const QString now = name + QLatin1Char('=') + value;
                if (now != line) changed = true;
                line = now;
            }
            if (!changed && round > 0) break;
        }
    }
    for (int c = 1; c < columns; ++c)
        for (int r = 1; r < values[c].size(); ++r)
            values[c][r] = EvaluateExpression(ResolveFormulaOperands(FormulaPart(values[c][r]))) +
                           FormulaSuffix(formulas.value(c).value(r));
}

EvaluatedSet EvaluateSet(const WorkContext &work, qint64 term, ProgressSink *progress) {
    EvaluatedSet e;
    e.work = work;
    e.table = LoadSet(term);
    e.values = e.table.cells;
    e.identifiers = e.table.identifiers;
    e.computedIdentifiers = e.identifiers;
    SplitMode() = false;
    std::optional<ProgressPacer> pacer;
    if (progress) {
        // One step per table read; the number of tables is that of the
        // distinct references to them, near enough for a gauge.
        QSet<QString> tables;
        for (const QStringList &column : e.table.cells)
            for (const QString &cell : column) addNamedTables(cell, tables);
        for (const QString &line : e.identifiers) addNamedTables(line, tables);
        progress->setMax(int(tables.size()));
        progress->setPosition(0);
        pacer.emplace(*progress);
    }
    IndicatorCalc calc(work, &e.computedIdentifiers, pacer ? &*pacer : nullptr);
    calc.GetDatas(e.values, e.table.cells);
    return e;
}

QList<qint64> SplitMembers(const WorkContext &work) {
    if (work.mode == ReportMode::Terrain) {
        const QVariant v = db::scalar(db::connection(db::kMain),
                                      QStringLiteral("select include from statistics where base=?"),
                                      {work.institution});
        return ResolveMembers(MemberKind::Reports, v.toString(), work.institution).ids;
    }
    if (modeIn(work.mode, {ReportMode::Single, ReportMode::Svod, ReportMode::Types}))
        return ResolveMembers(MemberKind::Institutions, work.includeList).ids;
    return {};
}

SplitResult SplitByUnits(const EvaluatedSet &set, int row, const QList<int> &columns,
                         const std::function<void(const QString &)> &unitLabel, ProgressSink &progress) {
    struct Restore {
        const std::function<void(const QString &)> &label;
        ~Restore() {
            SplitMode() = false;
            if (label) label(QString());
        }
    } restore{unitLabel};

    WorkContext work = set.work;
    const bool terrain = work.mode == ReportMode::Terrain;
    if (terrain) work.table = ValueTable::RepData;
    else if (modeIn(work.mode, {ReportMode::Single, ReportMode::Types, ReportMode::Svod})) work.table = ValueTable::Data;
    const QList<qint64> members = SplitMembers(work);

    QStringList identifiers = set.identifiers;
    IndicatorCalc calc(work, &identifiers);
    SplitResult out;
    SplitMode() = true;
    const QSqlDatabase d = db::connection(db::kMain);
    progress.setMax(int(members.size()));
    int done = 0;
    for (qint64 id : members) {
        progress.setPosition(done++);
        progress.checkCancelled();
        calc.setInstitution(id);
        const QString name =
            db::scalar(d,
                       terrain ? QStringLiteral("select report from reports where id=?")
                               : QStringLiteral("select unit from administration where id=?"),
                       {id})
                .toString();
        if (unitLabel) unitLabel(name);
        progress.setDetailText(name);
        QString line = name;
        for (int c : columns) {
            // Resolved twice, as the main grid resolves a cell in its passes and
            // again when it evaluates it, so an unanswered reference reads the same.
            const QString f = set.table.cell(c, row);
            const QString resolved = calc.ResolveFormulaOperands(FormulaPart(f));
            line += QLatin1Char('\t') + EvaluateExpression(calc.ResolveFormulaOperands(resolved)) + FormulaSuffix(f);
        }
        out.lines << line;
    }
    QString total = QStringLiteral("Всего");
    QString header = QStringLiteral("Подразделение");
    for (int c : columns) {
        total += QLatin1Char('\t') + set.values.value(c).value(row);
        header += QLatin1Char('\t') + set.table.cell(c, 0);
    }
    out.lines << total;
    out.header = header;
    return out;
}

} // namespace indicators
