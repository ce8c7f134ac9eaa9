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
    t.floatValues = db::storedYes(q.value(QStringLiteral("floattype")));
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

bool RefreshCachedShape(const TableShape &shape) {
    bool found = false;
    for (CachedTable &t : shared().Caches.tables)
        if (t.shape.ident == shape.ident) {
            t.shape = shape;
            found = true;
        }
    return found;
}

std::optional<TableShape> CachedTableShape(const QString &formName, const QString &tableKey) {
    const CachedTable *t = FindCachedTable(formName, tableKey);
    if (!t) return std::nullopt;
    return t->shape;
}

std::optional<TableShape> CachedTableShapeByFormId(qint64 formId, const QString &tableKey) {
    if (formId == -1) return std::nullopt;
    const QString name = GetFormNameById(formId);
    if (name.isEmpty()) return std::nullopt;
    return CachedTableShape(name, tableKey);
}
