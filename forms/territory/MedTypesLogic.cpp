#include "forms/territory/MedTypesLogic.h"

#include "engine/TextUtil.h"
#include "core/TreeMarking.h"
#include "platform/Database.h"

#include <QSet>
#include <QSqlQuery>
#include <QTreeWidget>
#include <QTreeWidgetItem>

namespace medtypes {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

void loadLevel(QTreeWidget *tree, QTreeWidgetItem *parentNode, qint64 parentId, QSet<qint64> &seen) {
    struct Row { qint64 id; QString type; };
    QList<Row> rows;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, type from medicaltypes where parent=? order by ind, id"),
                           {parentId});
    while (q.next()) rows.append(Row{q.value(0).toLongLong(), q.value(1).toString()});
    for (const Row &r : rows) {
        if (seen.contains(r.id)) continue;   // a cycle in the stored parents
        seen.insert(r.id);
        auto *item = new QTreeWidgetItem(QStringList{r.type});
        item->setData(0, kNodeIdRole, r.id);
        if (parentNode) parentNode->addChild(item);
        else tree->addTopLevelItem(item);
        loadLevel(tree, item, r.id, seen);
    }
}

QString typeGone() {
    return QStringLiteral("Тип учреждения удален в другом окне или другой копией программы. Изменение не сохранено: "
                          "откройте окно заново.");
}

} // namespace

void loadTypeTree(QTreeWidget *tree) {
    tree->clear();
    QSet<qint64> seen;
    loadLevel(tree, nullptr, 0, seen);
}

QList<QPair<QString, qint64>> assignableForms() {
    QList<QPair<QString, qint64>> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, formname, decipher from forms "
                                                    "where net=0 or net is null order by ind, id"));
    while (q.next())
        out.append({q.value(1).toString() + QStringLiteral(" - ") + q.value(2).toString(), q.value(0).toLongLong()});
    return out;
}

QList<qint64> formsOfType(qint64 typeId) {
    QList<qint64> out;
    for (const QVariant &v : db::column(mainDb(), QStringLiteral("select formsId from med_type_forms where medicalsId=?"),
                                        {typeId}))
        out.append(v.toLongLong());
    return out;
}

void saveTypeForms(qint64 typeId, const QList<qint64> &formIds) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        // A type or a form deleted behind the window takes no assignment.
        db::requireRow(d, QStringLiteral("select 1 from medicaltypes where id=?"), {typeId}, typeGone());
        for (qint64 f : formIds)
            db::requireRow(d, QStringLiteral("select 1 from forms where id=?"), {f},
                           QStringLiteral("Отчетная форма удалена из перечня форм, пока было открыто окно. Формы типа "
                                          "не сохранены: откройте окно заново."));
        db::exec(d, QStringLiteral("delete from med_type_forms where medicalsId=?"), {typeId});
        for (qint64 f : formIds)
            db::exec(d, QStringLiteral("insert into med_type_forms (medicalsId, formsId) values (?,?)"), {typeId, f});
    });
}

QString typeName(qint64 typeId) {
    return db::scalar(mainDb(), QStringLiteral("select type from medicaltypes where id=?"), {typeId}).toString();
}

void renameType(qint64 typeId, const QString &name) {
    if (name.trimmed().isEmpty()) throw db::Error(QStringLiteral("Наименование типа учреждения не может быть пустым."));
    db::execRow(mainDb(), QStringLiteral("update medicaltypes set type=? where id=?"),
                {text::entry(name).trimmed(), typeId}, typeGone());
}

void saveTypeOrder(QTreeWidget *tree) {
    const QSqlDatabase d = mainDb();
    const QList<QTreeWidgetItem *> nodes = TreeNodesInOrder(tree);
    db::transaction(d, [&] {
        for (QTreeWidgetItem *n : nodes)
            db::execRow(d, QStringLiteral("update medicaltypes set ind=? where id=?"),
                        {TreeNodeSiblingIndex(n), TreeNodeId(n)},
                        QStringLiteral("Тип учреждения \"%1\" удален в другом окне. Порядок не сохранен: откройте окно "
                                       "заново.").arg(n->text(0)));
    });
}

bool canDropType(const QTreeWidgetItem *dragged, const QTreeWidgetItem *target) {
    return dragged && target && dragged != target && dragged->parent() == target->parent() &&
           dragged->treeWidget() == target->treeWidget();
}

bool moveTypeBefore(QTreeWidget *tree, QTreeWidgetItem *dragged, QTreeWidgetItem *target) {
    if (!canDropType(dragged, target)) return false;
    QTreeWidgetItem *parent = dragged->parent();
    const bool wasCurrent = tree->currentItem() == dragged;
    if (parent) {
        parent->removeChild(dragged);
        parent->insertChild(parent->indexOfChild(target), dragged);
    } else {
        tree->takeTopLevelItem(tree->indexOfTopLevelItem(dragged));
        tree->insertTopLevelItem(tree->indexOfTopLevelItem(target), dragged);
    }
    if (wasCurrent) tree->setCurrentItem(dragged);
    return true;
}

QString unitsOfTypes(const QList<qint64> &typeIds) {
    QList<qint64> ids;
    for (const QVariant &v : db::column(mainDb(),
                                        QStringLiteral("select id from administration where medicaltype in (%1) "
                                                       "order by ind, id").arg(db::inList(typeIds))))
        ids.append(v.toLongLong());
    return text::joinIdList(ids);
}

} // namespace medtypes
