#pragma once
// The served population of a year: of the territory's units in populations1,
// of summary reports in populations, one row per unit (or report) and year.
#include <QSqlDatabase>

enum class PopulationTable { Units, Reports };

struct PopulationCounts {
    qint64 common = 0, olds = 0, teens = 0, childs = 0;
};

// Stores the counts of the unit and year, updating its row when there is one
// and inserting it otherwise; runs inside the caller's transaction. Throws
// db::Error.
void StorePopulation(const QSqlDatabase &db, PopulationTable table, qint64 unit, int year,
                     const PopulationCounts &counts);
