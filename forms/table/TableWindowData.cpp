#include "forms/table/TableWindowData.h"

#include "engine/CellNumbering.h"
#include "engine/TableLimits.h"
#include "engine/TextUtil.h"
#include "engine/TableShape.h"
#include "forms/table/TableLayout.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <cmath>

namespace {

void readTitles(const QSqlDatabase &d, TableDefinition &def, GridTitle::Band band, layout::DrawnRanges &drawn,
                int density) {
    QString cond;
    switch (band) {
    case GridTitle::Corner: cond = QStringLiteral("\"column\"<=? and \"row\"<=?"); break;
    case GridTitle::RowHeader: cond = QStringLiteral("\"column\"<=? and \"row\">?"); break;
    case GridTitle::ColumnHeader: cond = QStringLiteral("\"column\">? and \"row\"<=?"); break;
    }
    QSqlQuery q = db::exec(d,
                           QStringLiteral("select \"column\", \"row\", union_sc, union_sr, union_ec, union_er, fontname, "
                                          "fontsize, fontbold, fontitalic, tchars, txt from titles where \"table\"=? and ") +
                               cond + QStringLiteral(" order by \"column\", \"row\""),
                           {def.ident, def.fixcols, def.fixrows});
    const double scale = 96.0 / (density > 0 ? density : 96);
    const int cornerLeft = layout::sizeBefore(def.columnPixels, def.fixcols);
    const int cornerTop = layout::sizeBefore(def.rowPixels, def.fixrows);
    while (q.next()) {
        GridTitle t;
        t.band = band;
        t.column = q.value(0).toInt();
        t.row = q.value(1).toInt();
        const int sc = q.value(2).toInt(), sr = q.value(3).toInt();
        const int ec = q.value(4).toInt(), er = q.value(5).toInt();
        t.key = cells::titleSpanKey(sc, sr, ec, er);
        if (drawn.registerRange(t.key)) continue;
        switch (band) {
        case GridTitle::Corner: t.spanStart = t.spanEnd = t.column; break;
        case GridTitle::RowHeader: t.spanStart = sr; t.spanEnd = er; break;
        case GridTitle::ColumnHeader: t.spanStart = sc; t.spanEnd = ec; break;
        }
        int left = layout::sizeBefore(def.columnPixels, t.column - 1);
        int top = layout::sizeBefore(def.rowPixels, t.row - 1);
        if (band == GridTitle::ColumnHeader) left -= cornerLeft;
        if (band == GridTitle::RowHeader) top -= cornerTop;
        t.rect = QRect(left, top, layout::spanSize(def.columnPixels, sc, ec), layout::spanSize(def.rowPixels, sr, er));
        QString family = q.value(6).toString();
        if (family.trimmed().isEmpty()) family = QStringLiteral("Arial Cyr");
        t.font = QFont(family);
        const int size = q.value(7).toInt();
        t.font.setPointSize(std::max(1, int(std::lround((size > 0 ? size : 10) * scale))));
        t.font.setBold(db::storedYes(q.value(8)));
        t.font.setItalic(db::storedYes(q.value(9)));
        t.tchars = q.value(10).toString().left(6);
        t.text = text::decodeColon(q.value(11).toString());
        def.titles.append(t);
    }
}

} // namespace

TableDefinition readTableDefinition(const QSqlDatabase &d, qint64 formId, const QString &tableNumber, int density) {
    TableDefinition def;
    {
        QSqlQuery q = db::exec(d,
                               QStringLiteral("select ident, tablen, colcount, rowcount, fixcols, fixrows, floattype, "
                                              "scan from tables where form=? and upper(trim(tablen))=upper(trim(?))"),
                               {formId, tableNumber});
        if (!q.next()) return def;
        const TableShape shape = ShapeOfTableRecord(q);
        def.found = true;
        def.ident = shape.ident;
        def.tablen = q.value(1).toString();
        def.colcount = std::max(0, shape.colcount);
        def.rowcount = std::max(0, shape.rowcount);
        def.fixcols = std::clamp(shape.fixcols, 0, def.colcount);
        def.fixrows = std::clamp(shape.fixrows, 0, def.rowcount);
        def.floattype = shape.floatValues;
        def.scan = shape.scan;
    }
    if (!limits::tableSizeFits(def.colcount, def.rowcount)) {
        def.error = QStringLiteral("Таблица %1 слишком велика: %2 граф и %3 строк (не более %4 граф и %5 строк). "
                                   "Таблица не открыта.")
                        .arg(def.tablen).arg(def.colcount).arg(def.rowcount)
                        .arg(limits::kMaxTableColumns).arg(limits::kMaxTableRows);
        return def;
    }
    def.columnPixels = QList<int>(def.colcount, 0);
    def.rowPixels = QList<int>(def.rowcount, 0);
    struct Sizes {
        const char *sql;
        QList<int> *out;
        int count;
        const char *what;
    };
    const Sizes sizes[2] = {
        {"select \"column\", width from \"columns\" where \"table\"=? order by \"column\"", &def.columnPixels,
         def.colcount, "колонки"},
        {"select \"row\", height from \"rows\" where \"table\"=? order by \"row\"", &def.rowPixels, def.rowcount,
         "строки"},
    };
    for (const Sizes &s : sizes) {
        QSqlQuery q = db::exec(d, QString::fromLatin1(s.sql), {def.ident});
        while (q.next()) {
            const int i = q.value(0).toInt();
            if (i < 1 || i > s.count) {
                def.error = QStringLiteral("Ошибка: индекс %1 %2 выходит за границы массива (1..%3). Таблица: %4, ID: %5")
                                .arg(QString::fromUtf8(s.what))
                                .arg(i)
                                .arg(s.count)
                                .arg(def.tablen)
                                .arg(def.ident);
                return def;
            }
            (*s.out)[i - 1] = cells::tableWindowPixels(q.value(1).toDouble(), density);
        }
    }
    layout::DrawnRanges drawn;
    readTitles(d, def, GridTitle::Corner, drawn, density);
    readTitles(d, def, GridTitle::RowHeader, drawn, density);
    readTitles(d, def, GridTitle::ColumnHeader, drawn, density);
    return def;
}
