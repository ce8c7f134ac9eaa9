#include "bench/region/Region.h"

#include "engine/Caches.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "platform/Database.h"
#include "reports/IndicatorData.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>

namespace region {

namespace {

constexpr int kForms = 20;
constexpr int kTypes = 5;          // each type reports 4 forms
constexpr int kDistricts = 40;
constexpr int kRules = 1000;

void check(int rc, sqlite3 *h, const char *what) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "region: %s: %s\n", what, sqlite3_errmsg(h));
        std::abort();
    }
}

// The values of the annual level, straight through the sqlite3 API: the
// table from the program's schema, filled without indexes, then indexed by
// the schema's own statements.
qint64 fillValues(const QString &file, const Region &r, const QList<QList<qint64>> &tablesOfType) {
    QDir().mkpath(QFileInfo(file).path());
    sqlite3 *h = nullptr;
    check(sqlite3_open(file.toUtf8().constData(), &h), h, "open");
    sqlite3_exec(h, "pragma journal_mode=off; pragma synchronous=off", nullptr, nullptr, nullptr);
    QStringList indexes;
    for (const QString &s : schema::valuesTableStatements()) {
        if (s.startsWith(QLatin1String("create index"))) indexes.append(s);
        else check(sqlite3_exec(h, s.toUtf8().constData(), nullptr, nullptr, nullptr), h, "schema");
    }
    check(sqlite3_exec(h, "begin", nullptr, nullptr, nullptr), h, "begin");
    sqlite3_stmt *st = nullptr;
    check(sqlite3_prepare_v2(h, "insert into data (hospital,data,year,\"table\",\"column\",\"row\") "
                                "values (?,?,?,?,?,?)", -1, &st, nullptr), h, "prepare");
    qint64 rows = 0;
    for (int u = 0; u < r.units.size(); ++u) {
        const QList<qint64> &tables = tablesOfType[u % kTypes];
        // Table by table, row by row, as a table is filled and loaded: not
        // in the column order the unload writes, which would spare its sort.
        for (int t = 0; t < tables.size(); ++t)
            for (int row = 0; row < kRows; ++row)
                for (int c = 0; c < kColumns; ++c) {
                    // 70 % of the cells: 7 of every 10 along the row.
                    if ((c * kRows + row + u) % 10 >= 7) continue;
                    sqlite3_bind_int64(st, 1, r.units[u]);
                    // Counts mostly; one value in ten a fraction not exact in binary.
                    const int k = u * 7 + c * 3 + row;
                    sqlite3_bind_double(st, 2, double(k % 500) + (k % 10 == 0 ? 0.1 * (k % 7 + 1) : 0.0));
                    sqlite3_bind_int(st, 3, r.year);
                    sqlite3_bind_int64(st, 4, tables[t]);
                    // Value cells only: stored columns and rows after the fixed
                    // ones and the one stored number before the first value.
                    sqlite3_bind_int(st, 5, kFixCols + 2 + c);
                    sqlite3_bind_int(st, 6, kFixRows + 2 + row);
                    check(sqlite3_step(st), h, "insert");
                    sqlite3_reset(st);
                    ++rows;
                }
    }
    sqlite3_finalize(st);
    check(sqlite3_exec(h, "commit", nullptr, nullptr, nullptr), h, "commit");
    for (const QString &s : indexes) check(sqlite3_exec(h, s.toUtf8().constData(), nullptr, nullptr, nullptr), h, "index");
    sqlite3_close(h);
    return rows;
}

} // namespace

int Region::fromEnvironment() {
    const int n = qEnvironmentVariableIntValue("BENCH_INSTITUTIONS");
    return n > 0 ? n : 1000;
}

QString Region::yearFolder() const { return config + QString::number(year) + QLatin1Char('/'); }

QString Region::levelFile(qint64 level) const {
    return yearFolder() + QStringLiteral("data") + QString::number(level) + QStringLiteral(".mdb");
}

QString Region::includeList() const {
    QStringList ids;
    for (qint64 u : units) ids.append(QString::number(u));
    return ids.join(QLatin1Char(','));
}

Region::Region(int count) : institutions(count) {
    QElapsedTimer clock;
    clock.start();
    config = dir.path() + QLatin1Char('/');
    if (qEnvironmentVariableIsSet("BENCH_KEEP")) dir.setAutoRemove(false);
    SharedState &s = shared();
    s.ConfigPath = config;
    s.Year = year;
    QDir().mkpath(yearFolder());
    schema::createMainDatabase(yearFolder() + QStringLiteral("orvmain.mdb"));
    const QSqlDatabase m = db::open(db::kMain, yearFolder() + QStringLiteral("orvmain.mdb"));
    QList<QList<qint64>> tablesOfType(kTypes);
    db::transaction(m, [&] {
        QList<qint64> types;
        for (int t = 0; t < kTypes; ++t) {
            db::exec(m, QStringLiteral("insert into medicaltypes (type, ind) values (?, ?)"),
                     {QStringLiteral("Тип \"%1\"").arg(t + 1), t});
            types.append(db::lastInsertId(m));
        }
        for (int f = 0; f < kForms; ++f) {
            db::exec(m, QStringLiteral("insert into forms (formname, decipher, ind, net) values (?, ?, ?, 0)"),
                     {QStringLiteral("Ф%1").arg(f + 1), QStringLiteral("Форма № %1").arg(f + 1), f + 1});
            const qint64 form = db::lastInsertId(m);
            forms.append(form);
            db::exec(m, QStringLiteral("insert into med_type_forms (medicalsId, formsId) values (?, ?)"),
                     {types[f % kTypes], form});
            const int count = f % 2 == 0 ? 2 : 3;
            for (int t = 0; t < count; ++t) {
                db::exec(m, QStringLiteral("insert into tables (form, tablen, name, colcount, rowcount, fixcols, "
                                           "fixrows) values (?, ?, ?, ?, ?, ?, ?)"),
                         {form, QStringLiteral("(%1)").arg((t + 1) * 1000), QStringLiteral("Таблица %1").arg(t + 1),
                          kColumns + kFixCols, kRows + kFixRows, kFixCols, kFixRows});
                tables.append(db::lastInsertId(m));
                tablesOfType[f % kTypes].append(tables.last());
            }
        }
        db::exec(m, QStringLiteral("insert into administration (unit, dependence, medicaltype, ind) "
                                   "values ('Область', 0, -1, 0)"));
        territory = db::lastInsertId(m);
        for (int d = 0; d < kDistricts; ++d) {
            db::exec(m, QStringLiteral("insert into administration (unit, dependence, medicaltype, ind) "
                                       "values (?, ?, -1, ?)"),
                     {QStringLiteral("Район %1").arg(d + 1), territory, d});
            districts.append(db::lastInsertId(m));
        }
        for (int u = 0; u < institutions; ++u) {
            db::exec(m, QStringLiteral("insert into administration (unit, dependence, medicaltype, ind) "
                                       "values (?, ?, ?, ?)"),
                     {QStringLiteral("ЛПУ %1").arg(u + 1), districts[u % kDistricts], types[u % kTypes], u});
            units.append(db::lastInsertId(m));
        }
        // Control rules: sums of rows against their parts, some with cycles.
        for (int i = 0; i < kRules; ++i) {
            const int f = i % kForms;
            const int row = 1 + i % (kRows - 1);
            db::exec(m, QStringLiteral("insert into int_control (formid, tble, lft, reltion, rght, cycl, commnt) "
                                       "values (?, ?, ?, '>=', ?, ?, ?)"),
                     {forms[f], QStringLiteral("(1000)"), QStringLiteral("СТР%1ГР1").arg(row),
                      QStringLiteral("СТР%1ГР2").arg(row + 1), i % 3 == 0 ? QStringLiteral("ГР1-5") : QString(),
                      QStringLiteral("Правило %1").arg(i + 1)});
        }
        QString all, first;
        for (int u = 0; u < institutions; ++u) {
            all += QString::number(units[u]) + QLatin1Char(',');
            if (u % kDistricts == 0) first += QString::number(units[u]) + QLatin1Char(',');
        }
        db::exec(m, QStringLiteral("insert into reports (report, include, net, ind) values ('Свод по области', ?, 0, 1)"),
                 {all});
        reports.append(db::lastInsertId(m));
        db::exec(m, QStringLiteral("insert into reports (report, include, net, ind) values ('Свод по району 1', ?, 0, 2)"),
                 {first});
        reports.append(db::lastInsertId(m));
        for (const char *name : {"1 квартал", "2 квартал"}) {
            db::exec(m, QStringLiteral("insert into subreps (name) values (?)"), {QString::fromUtf8(name)});
            levels.append(db::lastInsertId(m));
        }
    });
    rows = fillValues(levelFile(0), *this, tablesOfType);
    for (qint64 level : levels) {
        QFile::remove(levelFile(level));
        QFile::copy(levelFile(0), levelFile(level));
    }
    db::open(db::kData, levelFile(0));
    caches::reloadAll();
    // An indicator set over forms Ф1-Ф5: 30 rows x 4 columns of ratios.
    indicatorSet = indicators::AddSet(QStringLiteral("Показатели области"), 0);
    for (int row = 1; row <= 30; ++row)
        for (int c = 1; c <= 4; ++c) {
            const int f = 1 + (row + c) % 5;   // forms of every institution type
            indicators::StoreGridCell(indicatorSet, c, row,
                                      QStringLiteral("Ф%1Т[1000]СТР%2ГР%3*100/Ф%1Т[2000]СТР%2ГР[3..6]")
                                          .arg(f).arg(row).arg(c + 2),
                                      64, 20);
        }
    buildSeconds = double(clock.elapsed()) / 1000.0;
    std::printf("region: %d institutions, %lld value rows per level, built in %.1f s\n", institutions,
                static_cast<long long>(rows), buildSeconds);
    std::fflush(stdout);
}

Region::~Region() {
    db::close(db::kData);
    db::close(db::kMain);
}

} // namespace region
