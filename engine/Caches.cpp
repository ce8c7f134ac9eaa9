#include "engine/Caches.h"

#include "engine/Lookups.h"

#include "engine/SharedState.h"
#include "engine/TableShape.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QSqlQuery>
#include <algorithm>

namespace caches {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QList<CachedForm> readForms() {
    QList<CachedForm> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from forms order by ind"));
    while (q.next())
        out.append({q.value(QStringLiteral("id")).toLongLong(), text::upper(q.value(QStringLiteral("formname")).toString()),
                    q.value(QStringLiteral("decipher")).toString(), db::storedYes(q.value(QStringLiteral("net")))});
    return out;
}

QList<CachedTable> readTables() {
    const QSqlDatabase d = mainDb();
    QHash<qint64, QString> formNames;
    {
        QSqlQuery f = db::exec(d, QStringLiteral("select id, formname from forms"));
        while (f.next()) formNames.insert(f.value(0).toLongLong(), text::upper(f.value(1).toString()));
    }
    QList<CachedTable> out;
    QSqlQuery q = db::exec(d, QStringLiteral("select * from tables order by form,tablen"));
    while (q.next()) {
        const qint64 form = q.value(QStringLiteral("form")).toLongLong();
        out.append({form, formNames.value(form), q.value(QStringLiteral("tablen")).toString(),
                    q.value(QStringLiteral("name")).toString(), ShapeOfTableRecord(q)});
    }
    return out;
}

QList<StructNode> readStruct() {
    QList<StructNode> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from administration order by dependence,ind"));
    while (q.next())
        out.append({q.value(QStringLiteral("id")).toLongLong(), q.value(QStringLiteral("dependence")).toLongLong(),
                    q.value(QStringLiteral("unit")).toString()});
    return out;
}

QList<TreeNode> readTree() {
    QList<TreeNode> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from tree order by depend, ident"));
    while (q.next())
        out.append({q.value(QStringLiteral("ident")).toLongLong(), q.value(QStringLiteral("depend")).toLongLong(),
                    q.value(QStringLiteral("part")).toString()});
    // Under each parent the sets in name order.
    std::stable_sort(out.begin(), out.end(), [](const TreeNode &a, const TreeNode &b) {
        return a.depend != b.depend ? a.depend < b.depend : text::nameLess(a.part, b.part);
    });
    return out;
}

// Empties the part first, so that a failed read leaves nothing of the old year.
template <typename T, typename Read>
void reload(QList<T> &part, Read read) {
    part.clear();
    part = read();
}

} // namespace

void GetForms() { reload(shared().Caches.forms, readForms); }
void GetTables() { reload(shared().Caches.tables, readTables); }
void GetStruct() { reload(shared().Caches.structure, readStruct); }
void GetTree() { reload(shared().Caches.tree, readTree); }

void reloadAll() {
    YearCaches &c = shared().Caches;
    c.clear();
    YearCaches fresh;
    fresh.structure = readStruct();
    fresh.tree = readTree();
    fresh.forms = readForms();
    fresh.tables = readTables();
    c = std::move(fresh);
}

} // namespace caches

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
