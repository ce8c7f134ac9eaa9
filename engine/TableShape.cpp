#include "engine/TableShape.h"

#include "engine/Common.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QVariant>

TableShape ShapeOfTableRecord(const QSqlQuery &q) {
    TableShape t;
    t.ident = q.value(QStringLiteral("ident")).toLongLong();
    t.colcount = q.value(QStringLiteral("colcount")).toInt();
    t.rowcount = q.value(QStringLiteral("rowcount")).toInt();
    t.fixcols = q.value(QStringLiteral("fixcols")).toInt();
    t.fixrows = q.value(QStringLiteral("fixrows")).toInt();
    t.floatValues = q.value(QStringLiteral("floattype")).toBool();
    t.scan = q.value(QStringLiteral("scan")).toInt();
    return t;
}

std::optional<TableShape> FindTableShape(const QSqlDatabase &mainDb, qint64 ident) {
    QSqlQuery q = db::exec(
        mainDb, QStringLiteral("select ident, colcount, rowcount, fixcols, fixrows, floattype, scan from tables where ident=?"),
        {ident});
    if (!q.next()) return std::nullopt;
    return ShapeOfTableRecord(q);
}

TableShape ReadTableShape(const QSqlDatabase &mainDb, qint64 ident) {
    const std::optional<TableShape> shape = FindTableShape(mainDb, ident);
    if (!shape) throw db::Error(QStringLiteral("Таблица не определена!"));
    return *shape;
}

// Cache line: [1] ident, [2] colcount, [3] rowcount, [4] fixcols, [5] fixrows,
// [6] floattype, [7] scan; [8] is the presence report's counter.
std::array<int, 9> CacheLineOfShape(const TableShape &t) {
    std::array<int, 9> row{};
    row[1] = int(t.ident);
    row[2] = t.colcount;
    row[3] = t.rowcount;
    row[4] = t.fixcols;
    row[5] = t.fixrows;
    row[6] = t.floatValues ? 1 : 0;
    row[7] = t.scan;
    return row;
}

bool RefreshCachedShape(const TableShape &shape) {
    auto &lines = shared().TablesArray;
    for (auto &line : lines) {
        if (line[1] != shape.ident) continue;
        const int counter = line[8];
        line = CacheLineOfShape(shape);
        line[8] = counter;
        return true;
    }
    return false;
}

std::optional<TableShape> CachedTableShapeAt(int line) {
    const auto &lines = shared().TablesArray;
    if (line < 0 || line >= lines.size()) return std::nullopt;
    const auto &a = lines[line];
    TableShape t;
    t.ident = a[1];
    t.colcount = a[2];
    t.rowcount = a[3];
    t.fixcols = a[4];
    t.fixrows = a[5];
    t.floatValues = a[6] != 0;
    t.scan = a[7];
    return t;
}

std::optional<TableShape> CachedTableShape(const QString &formName, const QString &tableKey) {
    return CachedTableShapeAt(TablesCatalogueLine(formName, tableKey));
}

std::optional<TableShape> CachedTableShapeByFormId(qint64 formId, const QString &tableKey) {
    if (formId == -1) return std::nullopt;
    const QString name = GetFormNameById(formId);
    if (name.isEmpty()) return std::nullopt;
    return CachedTableShape(name, tableKey);
}
