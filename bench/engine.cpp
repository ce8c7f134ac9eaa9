// Speed of the rule engine against plain reading of the same values.
//   ReadFormTables:     every table of a form for one institution, one query each
//   RunControls:        1,000 control rules (a third with cycles) for that institution
//   CalcTableConditions: 100 calculated cells over 200 institutions
// The ratio RunControls / ReadFormTables is printed at the end (goal: at most 3).
#include "engine/Caches.h"
#include "support/TestWork.h"
#include "engine/Conditions.h"
#include "engine/RuleEngine.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <random>

namespace {

constexpr int kYear = 2024;
constexpr int kInstitutions = 200;
constexpr int kTables = 10;
constexpr int kRows = 40, kColumns = 20;          // data rows and columns
constexpr int kFixCols = 2, kFixRows = 1;
constexpr int kColCount = kColumns + kFixCols, kRowCount = kRows + kFixRows;
constexpr int kRules = 1000;
constexpr int kConditionRules = 100;

struct Setup {
    QTemporaryDir dir;
    QList<qint64> tables;
    qint64 netTable = 0;
    qint64 institution = 1;
    QList<std::array<QString, 5>> rules;   // left, right, relation, cycle, comment

    Setup() {
        const QString mainFile = dir.filePath("orvmain.mdb"), dataFile = dir.filePath("data0.mdb");
        schema::createMainDatabase(mainFile);
        schema::createValuesDatabase(dataFile);
        QSqlDatabase m = db::open(db::kMain, mainFile);
        QSqlDatabase d = db::open(db::kData, dataFile);
        std::mt19937 rng(7);
        db::transaction(m, [&] {
            db::exec(m, "insert into forms (formname, decipher, ind) values ('Ф1', 'Форма 1', 1)");
            const qint64 form = db::lastInsertId(m);
            for (int t = 1; t <= kTables; ++t) {
                db::exec(m, "insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                            "values (?, ?, 'т', ?, ?, ?, ?)",
                         {form, QString("(%1)").arg(t), kColCount, kRowCount, kFixCols, kFixRows});
                tables.append(db::lastInsertId(m));
            }
            db::exec(m, "insert into forms (formname, decipher, ind) values ('Ф47', 'Сеть', 2)");
            db::exec(m, "insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                        "values (?, '(1)', 'сеть', 12, 11, 2, 1)",
                     {db::lastInsertId(m)});
            netTable = db::lastInsertId(m);
            for (int i = 1; i <= kInstitutions; ++i)
                db::exec(m, "insert into administration (unit, dependence, medicaltype, country, ind) "
                            "values (?, 0, ?, ?, ?)",
                         {QString("Учреждение %1").arg(i), 1 + i % 4, i % 3 == 0 ? 1 : 0, i});
        });
        db::transaction(d, [&] {
            QSqlQuery q(d);
            q.prepare("insert into data values (?, ?, ?, ?, ?, ?)");
            auto put = [&](qint64 h, qint64 t, int c, int r, double v) {
                q.bindValue(0, h);
                q.bindValue(1, v);
                q.bindValue(2, kYear);
                q.bindValue(3, t);
                q.bindValue(4, c);
                q.bindValue(5, r);
                q.exec();
            };
            for (int h = 1; h <= kInstitutions; ++h)
                for (int ti = 0; ti < (h == institution ? kTables : 1); ++ti)
                    for (int c = kFixCols + 2; c <= kColCount + 1; ++c)
                        for (int r = kFixRows + 2; r <= kRowCount + 1; ++r) put(h, tables[ti], c, r, rng() % 100);
        });
        SharedState &s = shared();
        s.Year = kYear;
        testWork().mode = ReportMode::Input;
        testWork().table = ValueTable::Data;
        caches::GetForms();
        caches::GetTables();

        // Rules: within a table, between two tables, and cycled over columns.
        auto ref = [](int t, int r, int c) { return QString("Ф1Т[%1]СТР%2ГР%3").arg(t).arg(r).arg(c); };
        for (int i = 0; i < kRules; ++i) {
            const int t = 1 + i % kTables, t2 = 1 + (i * 7 + 3) % kTables;
            const int r = 1 + i % (kRows - 1), c = kFixCols + 1 + i % kColumns;
            if (i % 3 == 0) {
                rules.append({QString("Ф1Т[%1]СТР%2").arg(t).arg(r),
                              QString("Ф1Т[%1]СТР%2").arg(t2).arg(r + 1), ">=",
                              QString("ГР[%1..%2]").arg(kFixCols + 1).arg(kFixCols + 10), "цикл"});
            } else if (i % 3 == 1) {
                rules.append({ref(t, r, c) + "+" + ref(t, r + 1, c), ref(t2, r, c) + "*2", "<=", "", "две таблицы"});
            } else {
                rules.append({"(" + ref(t, r, c) + "-" + ref(t, r + 1, c) + ")/2", "0", ">", "", "одна таблица"});
            }
        }

        // Calculated cells: counters and sums under conditions over all institutions.
        for (int i = 0; i < kConditionRules; ++i) {
            const int row = i / 10, col = i % 10;
            const QString cond = QString("Ф1Т(1)СТР%1ГР%2>%3").arg(1 + i % kRows).arg(3 + i % kColumns).arg(i % 90);
            const bool sum = i % 2 == 0;
            db::exec(m, "insert into conditions values (?, ?, ?, ?, ?, ?, 1, ?, '', '', ?, '*')",
                     {netTable, row, col, sum ? 1 : 0,
                      sum ? QString("Ф1Т(1)СТР%1ГР%2").arg(1 + (i * 3) % kRows).arg(3 + (i * 5) % kColumns) : QString(),
                      i % 5 == 0 ? QString() : (i % 7 == 0 ? cond + " OR " + QString(cond).replace(">", "<") : cond),
                      i % 4 == 0 ? 1 : 0, i % 6 == 0 ? "True" : "False"});
        }
        QStringList ids;
        for (int i = 1; i <= kInstitutions; ++i) ids << QString::number(i);
        testWork().includeList = ids.join(',');
    }
    ~Setup() {
        db::close(db::kData);
        db::close(db::kMain);
    }
};

Setup *setup = nullptr;

void ReadFormTables(benchmark::State &state) {
    QSqlDatabase d = db::connection(db::kData);
    for (auto _ : state) {
        double total = 0;
        for (qint64 t : setup->tables) {
            ValueMatrix m;
            m.create(kFixCols + 1, kColCount + 1, kFixRows + 1, kRowCount + 1);
            QSqlQuery q = db::exec(d, "select \"column\", \"row\", data from data where year=? and \"table\"=? "
                                      "and hospital=?",
                                   {kYear, t, setup->institution});
            while (q.next()) m.set(q.value(0).toInt(), q.value(1).toInt(), q.value(2).toDouble());
            total += m.at(kFixCols + 2, kFixRows + 2);
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(ReadFormTables)->Unit(benchmark::kMillisecond)->Repetitions(7);

void RunControls(benchmark::State &state) {
    testWork().institution = setup->institution;
    const RuleRunContext context = RuleRunContext{testWork()};
    qint64 errors = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RuleRun run(context);
        qint64 key = 1;
        for (const auto &r : setup->rules) run.addRule(key++, r[0], r[1], r[2], r[4], r[3]);
        state.ResumeTiming();
        run.runControls("");
        errors = run.errors().count();
    }
    state.counters["errors"] = double(errors);
}
BENCHMARK(RunControls)->Unit(benchmark::kMillisecond)->Repetitions(7);

void CalcConditions(benchmark::State &state) {
    for (auto _ : state) {
        RuleRun run(RuleRunContext{testWork()});
        run.matrix().create(3, 13, 2, 12);
        run.calcConditions(setup->netTable);
    }
}
BENCHMARK(CalcConditions)->Unit(benchmark::kMillisecond);

// Keeps the best mean time per iteration of each benchmark over its
// repetitions: a run slowed by other work on the machine does not count.
class Recorder : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations <= 0) continue;
            const double t = r.real_accumulated_time / double(r.iterations);
            const auto it = seconds.find(r.run_name.function_name);
            if (it == seconds.end() || t < it->second) seconds[r.run_name.function_name] = t;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    Setup s;
    setup = &s;
    Recorder recorder;
    benchmark::RunSpecifiedBenchmarks(&recorder);
    const double read = recorder.seconds["ReadFormTables"], run = recorder.seconds["RunControls"];
    if (read > 0 && run > 0)
        std::printf("RunControls / reading the form's tables: ratio %.2f (goal <= 3)\n", run / read);
    benchmark::Shutdown();
    setup = nullptr;
    return 0;
}
