#include "forms/table/ControlHighlight.h"
#include "engine/CellNumbering.h"

#include "core/AdminMode.h"
#include "engine/ControlFileLines.h"
#include "engine/Lookups.h"
#include "engine/FormulaParser.h"
#include "engine/ProgressSink.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cmath>

QString MakeCellKey(int gridRow, int gridColumn) {
    return QString::number(gridRow) + u',' + QString::number(gridColumn);
}

bool IsNumberInList(const QString &list, int n) { return ExpandedNumbers(list).contains(n); }

namespace {

// Nearest integer, halves to the even one.
int roundEven(double v) { return int(std::nearbyint(v)); }

double strength(qint32 n) {
    if (n >= 5) return 1.0;
    if (n >= 1) return n / 5.0 * 0.7 + 0.3;
    return 0.0;
}

} // namespace

QColor controlCountColor(const TControlCount &c) {
    const qint64 total = c.Total();
    if (total <= 0) return QColor(255, 255, 255);
    struct Kind {
        qint32 count;
        int base[3];
    };
    const Kind kinds[3] = {
        {c.IntraTableCount, {255, 255, 100}},
        {c.InterTableCount, {100, 180, 255}},
        {c.InterFormCount, {255, 120, 180}},
    };
    double sum[3] = {0, 0, 0};
    for (const Kind &k : kinds) {
        const double s = strength(k.count);
        const double weight = double(k.count) / double(total);
        for (int ch = 0; ch < 3; ++ch) {
            const int channel = k.count > 0 ? roundEven(255.0 - (255.0 - k.base[ch]) * s) : 255;
            sum[ch] += channel * weight;
        }
    }
    int out[3];
    for (int ch = 0; ch < 3; ++ch) out[ch] = roundEven(std::clamp(sum[ch], 0.0, 255.0));
    return QColor(out[0], out[1], out[2]);
}

QColor GetControlCellColor(const ControlCountList *list, const QString &key) {
    if (!list) return QColor(255, 255, 255);
    const auto it = list->constFind(key);
    if (it == list->constEnd()) return QColor(255, 255, 255);
    return controlCountColor(it.value());
}

QColor formulaFlagsColor(int bits) {
    int r = 255, g = 255, b = 255, n = 0;
    if (bits & 1) { r += 255; g += 255; b += 208; ++n; }
    if (bits & 2) { r += 208; g += 255; b += 208; ++n; }
    if (bits & 4) { r += 208; g += 208; b += 255; ++n; }
    return QColor(std::min(255, r / (n + 1)), std::min(255, g / (n + 1)), std::min(255, b / (n + 1)));
}

QColor FormulaCellColor(const FormulaFlagList *list, const QString &key) {
    if (!IsAdminMode() || !list) return QColor(255, 255, 255);
    const auto it = list->constFind(key);
    if (it == list->constEnd()) return QColor(255, 255, 255);
    return formulaFlagsColor(it.value());
}

void MarkFormulaCells(const QSqlDatabase &d, qint64 tableIdent, int colcount, int rowcount,
                      FormulaFlagList &list) {
    list.clear();
    if (!IsAdminMode()) return;
    const QString notBlank = QStringLiteral(
        " and ((formula is not null and trim(formula)<>'') or (condition is not null and trim(condition)<>'')"
        " or (trim(condition)<>'' and condition<>'*'))");
    const QString head = QStringLiteral("select \"row\", \"column\" from conditions where tid=? and ");
    auto flag = [&](int row, int column, int bit) { list[MakeCellKey(row, column)] |= bit; };

    QSqlQuery q = db::exec(d, head + QStringLiteral("(\"row\">=0 and \"column\">=0)") + notBlank, {tableIdent});
    while (q.next()) flag(q.value(0).toInt(), q.value(1).toInt(), 1);
    q = db::exec(d, head + QStringLiteral("(\"row\">=0 and \"column\"=-1)") + notBlank, {tableIdent});
    while (q.next())
        for (int c = 0; c <= colcount; ++c) flag(q.value(0).toInt(), c, 2);
    q = db::exec(d, head + QStringLiteral("(\"row\"=-1 and \"column\">=0)") + notBlank, {tableIdent});
    while (q.next())
        for (int r = 0; r <= rowcount; ++r) flag(r, q.value(1).toInt(), 4);
}

// ---- Rule coverage ---------------------------------------------------------

namespace {

// True when a reference of the side names the table (and the form, when
// formName is given), read as the rule run reads it.
bool namesTable(const QString &side, const QString &formName, const QString &tableKey) {
    if (tableKey.isEmpty()) return false;
    return ctlfile::SideNamesTable(side, formName, notation::StoredTableKey(tableKey));
}

// The numbers of a list that lie in low..high, each once, in their order.
QList<int> linesWithin(const QList<int> &numbers, int low, int high) {
    QList<int> out;
    QList<bool> seen(std::max(high - low + 1, 0), false);
    for (int v : numbers) {
        if (v < low || v > high || seen[v - low]) continue;
        seen[v - low] = true;
        out.append(v);
    }
    return out;
}

// Lists are read clipped to the one cell asked about: a huge list costs its
// number of items.
LineBounds cellBounds(int r, int c) { return {r, r, c, c}; }

bool termCovers(const QString &term, int r, int c) {
    const QString rows = ParseRowRef(term, cellBounds(r, c));
    const QString cols = ParseColumnRef(term, cellBounds(r, c));
    return !rows.isEmpty() && !cols.isEmpty() && IsNumberInList(rows, r) && IsNumberInList(cols, c);
}

} // namespace

bool RuleSideCoversCell(const QString &side, const QString &cycle, int r, const QString &tableKey,
                        const QString &formName, int kind, int fixrows, int fixcols, int c) {
    Q_UNUSED(fixrows);
    Q_UNUSED(fixcols);
    if (side.trimmed().isEmpty()) return false;
    const QString K = notation::StoredTableKey(tableKey);
    if (kind == 2 || (kind == 1 && !tableKey.isEmpty())) {
        // The operands the rule run reads.
        const QStringList pieces = notation::CutWrittenSide(side);
        for (qsizetype i = 0; i < pieces.size(); i += 2) {
            const QString term = pieces[i].trimmed();
            if (term.isEmpty()) continue;
            const FormTableRef ref = ParseFormTableRef(term, 0);
            if (kind == 2) {
                // The form itself, as the rule run finds it: "Ф12" is no reference of "Ф1".
                if (ref.form.isEmpty() || !text::sameName(ref.form, formName)) continue;
            }
            bool thisTable = false;
            if (ref.table.isEmpty()) {
                thisTable = kind == 1;
            } else if (!K.isEmpty()) {
                thisTable = text::sameName(notation::TableKeyOf(ref.table), K);
            }
            if (thisTable && termCovers(term, r, c)) return true;
        }
        return false;
    }
    const RowsColumns rc = GetReferencedRowsColumns(side, cycle, false, cellBounds(r, c));
    return !rc.rows.isEmpty() && !rc.columns.isEmpty() && IsNumberInList(rc.rows, r) &&
           IsNumberInList(rc.columns, c);
}

void CountRuleSideCells(ControlCountList &list, const QString &side, const QString &cycle, int kind,
                        const QString &tableKey, const QString &formName, int fixrows, int fixcols, CellArea area) {
    if (side.trimmed().isEmpty()) return;
    if (kind == 1 && !namesTable(side, {}, tableKey)) return;
    if (kind == 2 && !formName.isEmpty() && !namesTable(side, formName, tableKey)) return;
    // Clipped to the table shown: no list makes more than its items times the table.
    const LineBounds bounds{cells::refRowOfGrid(0), area.rows, cells::refColumnOfGrid(0, fixcols), area.columns};
    const RowsColumns rc = GetReferencedRowsColumns(side, cycle, false, bounds);
    if (rc.rows.isEmpty() || rc.columns.isEmpty()) return;
    // A side touches a cell once, however often its lists name it.
    const QList<int> columns =
        linesWithin(ExpandedNumbers(rc.columns), cells::refColumnOfGrid(0, fixcols), area.columns);
    const QList<int> rows = linesWithin(ExpandedNumbers(rc.rows), cells::refRowOfGrid(0), area.rows);
    for (int c : columns)
        for (int r : rows) {
            if (kind != 0 && !RuleSideCoversCell(side, cycle, r, tableKey, formName, kind, fixrows, fixcols, c))
                continue;
            TControlCount &count = list[MakeCellKey(cells::gridRowOfRef(r), cells::gridColumnOfRef(c, fixcols))];
            if (kind == 0) ++count.IntraTableCount;
            else if (kind == 1) ++count.InterTableCount;
            else ++count.InterFormCount;
        }
}

void LoadControlHighlight(const QSqlDatabase &d, qint64 formId, const QString &tableKey, ControlCountList &list,
                          int fixrows, int fixcols, ProgressSink *progress, CellArea area) {
    list.clear();
    QString formName = GetFormNameById(formId);
    const int dash = int(formName.indexOf(QStringLiteral(" - ")));
    if (dash >= 0) formName = formName.left(dash);
    const int total = db::scalar(d,
                                 QStringLiteral("select count(*) as cnt from int_control where (formid=? and "
                                                "upper(trim(tble))=upper(trim(?))) "
                                                "or (formid=? and (tble='' or tble is null)) or (formid=0)"),
                                 {formId, tableKey, formId})
                          .toInt();
    if (total > 0 && progress) {
        progress->setMax(total);
        progress->setStatusText(QStringLiteral("Загрузка контролей для подсветки..."));
        progress->setPosition(0);
    }
    struct Phase {
        QString name;
        QString sql;
        QVariantList params;
        int kind;
    };
    const Phase phases[3] = {
        {QStringLiteral("Внутритабличные контроли"),
         QStringLiteral("select lft, rght, cycl, commnt from int_control where formid=? and "
                        "upper(trim(tble))=upper(trim(?))"),
         {formId, tableKey}, 0},
        {QStringLiteral("Межтабличные контроли"),
         QStringLiteral("select lft, rght, cycl, commnt from int_control where formid=? and (tble='' or tble is null)"),
         {formId}, 1},
        {QStringLiteral("Межформенные контроли"),
         QStringLiteral("select lft, rght, cycl, commnt from int_control where formid=0"), {}, 2},
    };
    int i = 0;
    for (const Phase &ph : phases) {
        QSqlQuery q = db::exec(d, ph.sql, ph.params);
        while (q.next()) {
            ++i;
            if (progress && (i % 5 == 0 || i == total)) {
                progress->setPosition(i);
                const QString comment = q.value(3).toString();
                progress->setDetailText(comment.isEmpty()
                                            ? QStringLiteral("%1 (%2/%3)").arg(ph.name).arg(i).arg(total)
                                            : ph.name + QStringLiteral(": ") + comment);
            }
            const QString K = ph.kind == 0 ? QString() : tableKey;
            const QString N = ph.kind == 0 ? QString() : formName;
            const QString cycle = q.value(2).toString();
            CountRuleSideCells(list, q.value(0).toString(), cycle, ph.kind, K, N, fixrows, fixcols, area);
            CountRuleSideCells(list, q.value(1).toString(), cycle, ph.kind, K, N, fixrows, fixcols, area);
        }
    }
}

QString NormalizeTableKey(const QString &key) { return notation::StoredTableKey(key); }

QString ErrorCycleItem(const QString &errorLine) {
    const QStringList parts = errorLine.split(u'\t');
    return parts.size() >= 2 ? parts[1] : QString();
}

QList<MarkedCell> ReferenceCells(const QString &reference, int fixcols, CellArea area) {
    // A completed cycle text ("ГР5Ф30Т[1000]") ends the list where its form
    // or table part begins.
    auto listAfter = [&](notation::Line line) {
        const QString list = notation::LineListText(reference, line);
        return line == notation::Line::Rows ? ParseIntegerList(list, cells::refRowOfGrid(0), area.rows)
                                            : ParseIntegerList(list, cells::refColumnOfGrid(0, fixcols), area.columns);
    };
    // Only the cells of the table are marked, each once: a list past it, or
    // naming a line again, marks nothing more.
    const QList<int> rows = linesWithin(listAfter(notation::Line::Rows), cells::refRowOfGrid(0), area.rows);
    const QList<int> columns =
        linesWithin(listAfter(notation::Line::Columns), cells::refColumnOfGrid(0, fixcols), area.columns);
    QList<MarkedCell> marked;
    for (int c : columns)
        for (int r : rows) marked.append(MarkedCell{cells::gridColumnOfRef(c, fixcols), cells::gridRowOfRef(r)});
    return marked;
}

QList<MarkedCell> ExpressionCells(const QString &side, const QString &cycleItem, int fixcols, CellArea area) {
    // The pieces the rule run reads, each with the cycle item.
    const QStringList items = notation::CutSide(SquareTableBrackets(text::upper(side)));
    QList<MarkedCell> out;
    for (qsizetype i = 0; i < items.size(); i += 2) out += ReferenceCells(items[i] + cycleItem, fixcols, area);
    return out;
}

QList<CellRule> CellControlRules(const QSqlDatabase &d, qint64 formId, const QString &tableNumber, int fixrows,
                                 int fixcols, int r, int c) {
    QString formName = GetFormNameById(formId);
    const int dash = int(formName.indexOf(QStringLiteral(" - ")));
    if (dash >= 0) formName = formName.left(dash);
    const QString K = NormalizeTableKey(tableNumber);
    QList<CellRule> out;
    QSqlQuery q = db::exec(d,
                           QStringLiteral("select \"Код\", formid, tble, lft, rght, cycl, commnt from int_control where "
                                          "(formid=? and upper(trim(tble))=upper(trim(?))) or (formid=? and "
                                          "(tble='' or tble is null)) or "
                                          "(formid=0) order by formid, tble, commnt"),
                           {formId, tableNumber, formId});
    while (q.next()) {
        bool ok = false;
        const qint64 key = q.value(0).toLongLong(&ok);
        if (!ok) continue;
        const qint64 form = q.value(1).toLongLong();
        const QString tble = q.value(2).toString();
        const QString lft = q.value(3).toString(), rght = q.value(4).toString(), cycl = q.value(5).toString();
        QString label;
        bool hit = false;
        if (form == 0) {
            label = QStringLiteral("[Межформенный] ");
            hit = RuleSideCoversCell(lft, cycl, r, K, formName, 2, fixrows, fixcols, c) ||
                  RuleSideCoversCell(rght, cycl, r, K, formName, 2, fixrows, fixcols, c);
        } else if (tble.isEmpty()) {
            label = QStringLiteral("[Межтабличный] ");
            if (!namesTable(lft, {}, K) && !namesTable(rght, {}, K)) continue;
            hit = RuleSideCoversCell(lft, cycl, r, K, formName, 1, fixrows, fixcols, c) ||
                  RuleSideCoversCell(rght, cycl, r, K, formName, 1, fixrows, fixcols, c);
        } else {
            label = QStringLiteral("[Внутритабличный] ");
            hit = RuleSideCoversCell(lft, cycl, r, {}, {}, 0, fixrows, fixcols, c) ||
                  RuleSideCoversCell(rght, cycl, r, {}, {}, 0, fixrows, fixcols, c);
        }
        if (hit) out.append(CellRule{label + q.value(6).toString(), key});
    }
    return out;
}
