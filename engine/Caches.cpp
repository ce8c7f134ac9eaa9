#include "engine/Caches.h"
#include "engine/TableShape.h"

#include "engine/SharedState.h"
#include "engine/TextUtil.h"

#include <algorithm>
#include "platform/Database.h"

#include <QHash>
#include <QSqlQuery>
#include <QSqlRecord>

namespace caches {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

} // namespace

void GetForms() {
    SharedState &s = shared();
    s.FormsList.clear();
    s.NetFormsList.clear();
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from forms order by ind"));
    while (q.next()) {
        const QString name = q.value(QStringLiteral("formname")).toString();
        s.FormsList.add(text::upper(name) + QStringLiteral(" - ") + q.value(QStringLiteral("decipher")).toString(),
                        q.value(QStringLiteral("id")).toLongLong());
        if (q.value(QStringLiteral("net")).toBool()) s.NetFormsList.append(name);
    }
}

void GetTables() {
    SharedState &s = shared();
    s.TablesList.clear();
    s.TablesArray.clear();
    const QSqlDatabase d = mainDb();

    QHash<qint64, QString> formNames;
    {
        QSqlQuery f = db::exec(d, QStringLiteral("select id, formname from forms"));
        while (f.next()) formNames.insert(f.value(0).toLongLong(), f.value(1).toString());
    }

    QSqlQuery q = db::exec(d, QStringLiteral("select * from tables order by form,tablen"));
    while (q.next()) {
        const qint64 ident = q.value(QStringLiteral("ident")).toLongLong();
        const QString form = formNames.value(q.value(QStringLiteral("form")).toLongLong());
        s.TablesList.add(text::upper(form) + QStringLiteral("*Т") + q.value(QStringLiteral("tablen")).toString() +
                             QStringLiteral(" - ") + q.value(QStringLiteral("name")).toString(),
                         ident);
        s.TablesArray.append(CacheLineOfShape(ShapeOfTableRecord(q)));
    }
}

void GetStruct() {
    SharedState &s = shared();
    s.StructList.clear();
    s.StructIds.clear();
    s.StructParents.clear();
    s.StructNodeIndexes.clear();
    s.StructCount = 0;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from administration order by dependence,ind"));
    while (q.next()) {
        s.StructList.append(q.value(QStringLiteral("unit")).toString());
        s.StructIds.append(q.value(QStringLiteral("id")).toLongLong());
        s.StructParents.append(q.value(QStringLiteral("dependence")).toLongLong());
        s.StructNodeIndexes.append(-1);
    }
    s.StructCount = int(s.StructIds.size());
}

void GetTree() {
    SharedState &s = shared();
    s.TreeList.clear();
    s.TreeIdents.clear();
    s.TreeDepends.clear();
    struct Node { QString part; qint64 ident; qint64 depend; };
    QList<Node> nodes;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select * from tree order by depend, ident"));
    while (q.next())
        nodes.append({q.value(QStringLiteral("part")).toString(), q.value(QStringLiteral("ident")).toLongLong(),
                      q.value(QStringLiteral("depend")).toLongLong()});
    // Under each parent the sets in name order.
    std::stable_sort(nodes.begin(), nodes.end(), [](const Node &a, const Node &b) {
        return a.depend != b.depend ? a.depend < b.depend : text::nameLess(a.part, b.part);
    });
    for (const Node &n : nodes) {
        s.TreeList.append(n.part);
        s.TreeIdents.append(n.ident);
        s.TreeDepends.append(n.depend);
    }
}

void reloadAll() {
    GetStruct();
    GetTree();
    GetForms();
    GetTables();
}

} // namespace caches
