// The one store of a served population: units and summary reports alike, one row per unit and year.
#include "test_engine_db.h"

#include "engine/Populations.h"
#include "platform/Database.h"

#include <gtest/gtest.h>

TEST(Populations, StoringAgainReplacesTheOneRowOfItsTableUnitAndYear) {
    EngineDb e;
    const QSqlDatabase d = e.mainDb();
    auto rows = [&](const QString &table) {
        QStringList out;
        QSqlQuery q = db::exec(d, "select unit, year, common, olds, teens, childs from " + table + " order by unit, year");
        while (q.next()) {
            QStringList r;
            for (int i = 0; i < 6; ++i) r << q.value(i).toString();
            out << r.join(u' ');
        }
        return out;
    };
    StorePopulation(d, PopulationTable::Units, 7, 2024, {1000, 700, 100, 200});
    StorePopulation(d, PopulationTable::Units, 7, 2023, {1, 1, 0, 0});
    StorePopulation(d, PopulationTable::Reports, 7, 2024, {5, 4, 0, 1});
    StorePopulation(d, PopulationTable::Units, 7, 2024, {9999999, 0, 0, 9999999});
    EXPECT_EQ(rows("populations1"), QStringList({"7 2023 1 1 0 0", "7 2024 9999999 0 0 9999999"}));
    EXPECT_EQ(rows("populations"), QStringList({"7 2024 5 4 0 1"}));
    StorePopulation(d, PopulationTable::Reports, 7, 2024, {6, 5, 0, 1});
    EXPECT_EQ(rows("populations"), QStringList({"7 2024 6 5 0 1"}));
}
