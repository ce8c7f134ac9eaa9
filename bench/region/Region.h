#pragma once
// A configuration of the size of a real region, built in a temporary folder
// through the program's own schema: 40 districts of 25 institutions each
// (1,000 at full size), 20 forms of 2-3 tables of 30 columns x 60 rows, each
// institution filling 70 % of the cells of the 10 tables of its type's four
// forms (12,600 value rows per institution, 12.6 million at full size), the
// same values in two sub-report levels, 1,000 control rules, two summary
// reports and an indicator set over the forms of every type.
//
// BENCH_INSTITUTIONS sets the number of institutions (a multiple of 40 is
// best); quick runs use a tenth of the region.
#include <QList>
#include <QString>
#include <QTemporaryDir>

namespace region {

struct Region {
    QTemporaryDir dir;
    QString config;                 // configuration folder, ends with '/'
    int year = 2024;
    int institutions = 0;
    qint64 rows = 0;                // value rows of one level
    QList<qint64> units;            // institution ids in list order
    qint64 territory = 0;           // the region's node, over the districts
    QList<qint64> districts;
    QList<qint64> forms;
    QList<qint64> tables;           // idents
    QList<qint64> reports;          // summary reports (all institutions, the first district)
    qint64 indicatorSet = 0;
    QList<qint64> levels;           // sub-report level ids (data<id>.mdb)
    double buildSeconds = 0;

    // Builds the region and opens it (dbmain, dbdat, caches) as the program does.
    explicit Region(int institutions = fromEnvironment());
    ~Region();
    static int fromEnvironment();

    QString yearFolder() const;
    QString levelFile(qint64 level) const;   // data<level>.mdb; 0 for the annual level
    QString includeList() const;             // every institution, joined by ","
};

constexpr int kColumns = 30, kRows = 60;     // cells of a table
constexpr int kFixCols = 2, kFixRows = 2;

} // namespace region
