#include "engine/Populations.h"

#include "platform/Database.h"

void StorePopulation(const QSqlDatabase &d, PopulationTable table, qint64 unit, int year,
                     const PopulationCounts &c) {
    const QString name = table == PopulationTable::Units ? QStringLiteral("populations1") : QStringLiteral("populations");
    const QVariantList counts = {c.common, c.olds, c.teens, c.childs};
    db::updateOrInsert(
        d, QStringLiteral("update %1 set common=?, olds=?, teens=?, childs=? where year=? and unit=?").arg(name),
        counts + QVariantList{year, unit},
        QStringLiteral("insert into %1 (unit, year, common, olds, teens, childs) values (?,?,?,?,?,?)").arg(name),
        QVariantList{unit, year} + counts);
}
