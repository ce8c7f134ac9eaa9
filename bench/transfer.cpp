// Group load of institution transfer files against inserting the same rows
// straight into SQLite in one transaction.
//
// 200 institution files of 5,000 lines each are loaded with the territory
// window's group load (each file read and checked, then replaced in a
// savepoint of the group's one transaction); the baseline inserts the same 1,000,000 rows with one
// prepared statement of the sqlite3 API into a values database of the same
// layout. Each side is the best of three runs; prints both times and their
// ratio.
#include "engine/Caches.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/shared/TransferFiles.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>

#include <cstdio>

namespace {

constexpr int kFiles = 200;
constexpr int kLines = 5000;
constexpr int kYear = 2026;

struct Setup {
    QTemporaryDir dir;
    QStringList files;
    QList<qint64> units;
    qint64 ident = 0;
    QString baselineFile;

    Setup() {
        shared().ConfigPath = dir.path() + QStringLiteral("/");
        shared().Year = kYear;
        const QString year = shared().yearFolder();
        QDir().mkpath(year + QStringLiteral("data"));
        schema::createMainDatabase(year + QStringLiteral("orvmain.mdb"));
        schema::createValuesDatabase(year + QStringLiteral("data0.mdb"));
        baselineFile = year + QStringLiteral("baseline.mdb");
        schema::createValuesDatabase(baselineFile);
        db::open(db::kMain, year + QStringLiteral("orvmain.mdb"));
        db::open(db::kData, year + QStringLiteral("data0.mdb"));
        const QSqlDatabase m = db::connection(db::kMain);
        db::transaction(m, [&] {
            db::exec(m, QStringLiteral("insert into forms (formname, decipher, ind, net) values ('Ф1','Форма',1,0)"));
            const qint64 form = db::lastInsertId(m);
            // Stored columns 3..53 and rows 3..103: 5,151 value cells.
            db::exec(m, QStringLiteral("insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                                       "values (?, '(1)', 'Таблица', 52, 102, 1, 1)"),
                     {form});
            ident = db::lastInsertId(m);
            for (int i = 1; i <= kFiles; ++i) {
                db::exec(m, QStringLiteral("insert into administration (unit, dependence, medicaltype, ind) "
                                           "values (?, 0, -1, ?)"),
                         {QStringLiteral("ЛПУ %1").arg(i), i});
                units.append(db::lastInsertId(m));
            }
        });
        caches::reloadAll();
        for (int i = 1; i <= kFiles; ++i) {
            QStringList lines;
            lines.reserve(kLines);
            for (int k = 0; k < kLines; ++k)
                lines.append(transfer::formatRecord(QString::number(i * 10 + k % 97 + 0.5), QString::number(kYear),
                                                    QStringLiteral("Ф1"), QStringLiteral("(1)"), 3 + k % 51,
                                                    3 + k / 51));
            const QString f = year + QStringLiteral("data/ЛПУ %1 - Годовой - %2.orw").arg(i).arg(kYear);
            cp1251::writeLines(f, lines);
            files.append(f);
        }
    }
    ~Setup() {
        db::close(db::kMain);
        db::close(db::kData);
    }
};

Setup *g_setup = nullptr;
double g_loadMs = 0, g_directMs = 0;

void BM_GroupLoad(benchmark::State &state) {
    for (auto _ : state) {
        // Each run loads into the same empty values table, as the first one does.
        db::exec(db::connection(db::kData), QStringLiteral("delete from data"));
        QElapsedTimer t;
        t.start();
        const adm::GroupLoadResult r = adm::loadUnitFiles(g_setup->files, QString(), false);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        g_loadMs = g_loadMs > 0 ? std::min(g_loadMs, ms) : ms;
        if (r.loaded != kFiles) state.SkipWithError("not every file was loaded");
        state.SetIterationTime(ms / 1000.0);
    }
    state.counters["rows"] = double(kFiles) * kLines;
}

void BM_DirectInsert(benchmark::State &state) {
    for (auto _ : state) {
        sqlite3 *h = nullptr;
        sqlite3_open(g_setup->baselineFile.toUtf8().constData(), &h);
        sqlite3_exec(h, "delete from data", nullptr, nullptr, nullptr);
        // The same layout as the values database after a load: the loader adds
        // the index by institution and year that its replacing deletes need.
        sqlite3_exec(h, "create index if not exists data_hospital on data (hospital, year)", nullptr, nullptr, nullptr);
        QElapsedTimer t;
        t.start();
        sqlite3_exec(h, "begin", nullptr, nullptr, nullptr);
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(h, "insert into data (hospital,data,year,\"table\",\"column\",\"row\") values (?,?,?,?,?,?)",
                           -1, &st, nullptr);
        for (int i = 1; i <= kFiles; ++i) {
            for (int k = 0; k < kLines; ++k) {
                sqlite3_bind_int64(st, 1, g_setup->units[i - 1]);
                sqlite3_bind_double(st, 2, i * 10 + k % 97 + 0.5);
                sqlite3_bind_int(st, 3, kYear);
                sqlite3_bind_int64(st, 4, g_setup->ident);
                sqlite3_bind_int(st, 5, 3 + k % 51);
                sqlite3_bind_int(st, 6, 3 + k / 51);
                sqlite3_step(st);
                sqlite3_reset(st);
            }
        }
        sqlite3_finalize(st);
        sqlite3_exec(h, "commit", nullptr, nullptr, nullptr);
        const double ms = double(t.nsecsElapsed()) / 1e6;
        g_directMs = g_directMs > 0 ? std::min(g_directMs, ms) : ms;
        sqlite3_close(h);
        state.SetIterationTime(ms / 1000.0);
    }
}

// Each side the best of three runs: the machine's noise only ever adds time.
BENCHMARK(BM_GroupLoad)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectInsert)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Setup setup;
    g_setup = &setup;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (g_loadMs > 0 && g_directMs > 0)
        std::printf("group load of %d files x %d lines: %.0f ms; direct insert: %.0f ms; ratio %.2f (goal <= 2)\n",
                    kFiles, kLines, g_loadMs, g_directMs, g_loadMs / g_directMs);
    g_setup = nullptr;
    return 0;
}
