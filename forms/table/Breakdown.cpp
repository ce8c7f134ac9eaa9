#include "forms/table/Breakdown.h"
#include "engine/CellNumbering.h"

#include "engine/Lookups.h"
#include "engine/StringList.h"
#include "engine/Conditions.h"
#include "core/FormulaHighlighter.h"
#include "core/ListWindow.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Errors.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"

#include <QAction>
#include <QHash>
#include <QLabel>
#include <QSqlQuery>
#include <cmath>
#include <optional>

namespace breakdown {

namespace {

QList<int> positions(const Request &q) {
    QList<int> out;
    switch (q.kind) {
    case Kind::Cell: out << q.column; break;
    case Kind::Row:
        for (int p = 0; p < q.gridColumns; ++p) out << p;
        break;
    case Kind::Column:
        for (int p = 0; p < q.gridRows; ++p) out << p;
        break;
    }
    return out;
}

// Stored (column, row) of a position.
QPair<int, int> storedCell(const Request &q, int p) {
    if (q.kind == Kind::Column)
        return {cells::storedColumnOfGrid(q.column, q.fixcols), cells::storedRowOfGrid(p, q.fixrows)};
    return {cells::storedColumnOfGrid(p, q.fixcols), cells::storedRowOfGrid(q.row, q.fixrows)};
}

// Unit lines: one per unit of the list in the units' order, each with
// fieldCount empty value fields.
struct UnitLines {
    QList<qint64> ids;
    QStringList names;
    QList<QStringList> fields;
    void load(const QString &sql, int fieldCount) {
        QSqlQuery u = db::exec(db::kMain, sql);
        while (u.next()) {
            ids << u.value(0).toLongLong();
            names << u.value(1).toString();
            fields << QStringList(QList<QString>(fieldCount));
        }
    }
    void appendTo(StringList &out) const {
        for (int i = 0; i < ids.size(); ++i) out.add(names[i] + u'\t' + fields[i].join(u'\t'), ids[i]);
    }
};

// The calculated cell broken down by the run's own reading of its rules.
void buildNet(const Request &q, const QList<int> &pos, StringList &out) {
    const qint64 tid = q.tableIdent;
    const QVariant scanValue =
        db::scalar(db::connection(db::kMain), QStringLiteral("select scan from tables where ident=?"), {tid});
    const int scan = scanValue.isNull() ? 0 : scanValue.toInt();
    const std::optional<CellRules> rules = ReadCellRules(tid, scan, q.row, q.column);
    if (!rules) return;
    QStringList unreadable;   // such a condition selects nobody; told once
    const CellShares cell = BreakDownCell(*rules, q.work.includeList, unreadable);
    if (!unreadable.isEmpty()) showMessage(UnreadableConditionsMessage(unreadable));
    if (cell.institutions.isEmpty()) return;

    // The rule's one value goes under the current cell's position.
    const int current = q.kind == Kind::Column ? int(pos.indexOf(q.row)) : int(pos.indexOf(q.column));
    UnitLines units;
    units.load(QStringLiteral("select id, unit from administration where id in (%1) order by ind, id")
                   .arg(db::inList(cell.institutions)),
               int(pos.size()));
    // A counter, and an institution without stored values, show "0".
    for (int i = 0; i < units.ids.size(); ++i)
        if (current >= 0)
            units.fields[i][current] = cell.shares.contains(units.ids[i])
                                           ? num::fixed2(cell.shares.value(units.ids[i]))
                                           : QStringLiteral("0");
    units.appendTo(out);
}

void buildUnits(const Request &q, const QList<int> &pos, StringList &out) {
    const QList<qint64> include = text::parseIdList(q.work.includeList);
    if (include.isEmpty()) return;
    const bool terrain = q.work.mode == ReportMode::Terrain;
    const QString valueTable = ValueTableName(terrain ? ValueTable::RepData : ValueTable::Data);
    UnitLines units;
    units.load(terrain ? QStringLiteral("select id, report from reports where id in (%1) order by ind, id")
                             .arg(db::inList(include))
                       : QStringLiteral("select id, unit from administration where id in (%1) order by ind, id")
                             .arg(db::inList(include)),
               int(pos.size()));
    qint64 table = GetTableIdentByFormId(q.formId, q.tableNumber);
    if (table < 0) table = q.tableIdent;
    for (int i = 0; i < pos.size(); ++i) {
        const auto cell = storedCell(q, pos[i]);
        QSqlQuery v = db::exec(db::kData,
                               QStringLiteral("select hospital, data from %1 where hospital in (%2) and year=? "
                                              "and \"table\"=? and \"column\"=? and \"row\"=?")
                                   .arg(valueTable, db::inList(include)),
                               {shared().Year, table, cell.first, cell.second});
        while (v.next()) {
            const int line = int(units.ids.indexOf(v.value(0).toLongLong()));
            if (line >= 0) units.fields[line][i] = num::general(v.value(1).toDouble());
        }
    }
    units.appendTo(out);
}

} // namespace

Result Build(const Request &q) {
    Result r;
    const QList<int> pos = positions(q);
    if (q.work.net) buildNet(q, pos, r.lines);
    else buildUnits(q, pos, r.lines);

    QStringList total{QStringLiteral("Всего")};
    r.heading = QStringLiteral("Подразделение\t");
    for (int p : pos) {
        const auto cell = storedCell(q, p);
        const double v = q.shown ? q.shown->at(cell.first, cell.second) : 0.0;
        total << (q.floatValues ? num::fixed2(v) : num::wholeText(v));
        const int number = q.kind == Kind::Column ? cells::refRowOfGrid(p) : cells::refColumnOfGrid(p, q.fixcols);
        r.heading += QString::number(number) + u'\t';
    }
    r.lines.add(total.join(u'\t'));
    return r;
}

QString PlaceText(const QList<GridTitle> &titles, Kind kind, int row, int column, int fixcols, int fixrows) {
    auto covering = [&](GridTitle::Band band, int number) {
        QString out;
        for (const GridTitle &t : titles)
            if (t.band == band && t.spanStart <= number && t.spanEnd >= number) out += t.text + u':';
        return out;
    };
    QString place;
    if (kind != Kind::Column) place = covering(GridTitle::RowHeader, cells::structRowOfGrid(row, fixrows));
    if (kind != Kind::Row)
        place += QStringLiteral(" - ") + covering(GridTitle::ColumnHeader, cells::structColumnOfGrid(column, fixcols));
    return place;
}

} // namespace breakdown

void openBreakdown(TVTable &table, breakdown::Kind kind) {
    using namespace breakdown;
    winutil::guarded(&table, [&] {
        if (!table.PutData()) return;
        Request q;
        q.kind = kind;
        q.row = table.currentRow();
        q.column = table.currentColumn();
        q.gridColumns = table.gridColumnCount();
        q.gridRows = table.gridRowCount();
        q.shown = &table.values();
        q.fixcols = table.fixCols();
        q.fixrows = table.fixRows();
        q.floatValues = table.showsDecimals();
        q.tableIdent = table.params().tableIdent;
        q.formId = table.params().formId;
        q.tableNumber = table.params().tableNumber;
        q.work = table.work();
        const Result r = Build(q);

        TForm1 &list = Form1();
        list.setHeading(table.formCaption() + QStringLiteral(" - ") + table.tableCaption() + QStringLiteral(" - ") +
                        PlaceText(table.gridTitles(), q.kind, q.row, q.column, q.fixcols, q.fixrows));
        list.setWindowTitle(table.windowTitle());
        list.ShowTextList(r.lines.texts(), r.heading);
        execModal(&list);
    });
    table.focusGrid();
}

void installBreakdownTableExtension() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    registerTableWindowExtension([](TVTable &w) {
        using breakdown::Kind;
        using C = TVTable::Command;
        w.connectCommand(C::BreakdownCell, [&w] { openBreakdown(w, Kind::Cell); });
        w.connectCommand(C::BreakdownRow, [&w] { openBreakdown(w, Kind::Row); });
        w.connectCommand(C::BreakdownColumn, [&w] { openBreakdown(w, Kind::Column); });
    });
}
