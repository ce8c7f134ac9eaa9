// Region-scale work against its SQLite floor, both measured in the same run
// on the region of bench/region (BENCH_INSTITUTIONS institutions, 1,000 by
// default). Each line "ratio R (goal <= G)" compares the program's code path
// (the function its window calls; for the recalculation also the window)
// with the least SQLite work that the same result needs:
//   "Пересчитать отчет"      one SELECT of the rows it reads          goal 2
//                            and the window against the same calls    goal 1.1
//   summation of two levels  copying one level and reading the other  goal 2
//   group unload             one SELECT of all rows                   goal 3
//   group load               DELETE + INSERT of the same rows         goal 1.5
//   indicators, "Types"      one SELECT of the rows                   goal 2
#include "bench/region/Region.h"
#include "support/TestWork.h"
#include "support/FakeDialogs.h"

#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/AdmFormLogic.h"
#include "forms/FormList.h"
#include "forms/FormListLogic.h"
#include "forms/TransferFiles.h"
#include "platform/Database.h"
#include "reports/IndicatorEval.h"
#include "reports/SummationLogic.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTreeWidget>
#include <sqlite3.h>

#include <cstdio>
#include <functional>

namespace {

int g_missed = 0;
FakeDialogs *g_dialogs = nullptr;

double seconds(const std::function<void()> &work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e9;
}

void ratio(const char *what, double measured, double floor, double goal) {
    const double r = measured / floor;
    std::printf("%-44s %8.2f s  floor %8.2f s  ratio %.2f (goal <= %g)\n", what, measured, floor, r, goal);
    std::fflush(stdout);
    if (r > goal) ++g_missed;
}

// The floor's own connection: the sqlite3 API with nothing between.
struct Raw {
    sqlite3 *h = nullptr;
    explicit Raw(const QString &file) { sqlite3_open(file.toUtf8().constData(), &h); }
    ~Raw() { sqlite3_close(h); }
    void exec(const QString &sql) {
        char *err = nullptr;
        if (sqlite3_exec(h, sql.toUtf8().constData(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::fprintf(stderr, "floor: %s\n", err ? err : "?");
            std::abort();
        }
    }
    // Reads every row of a query, each column once; returns the rows.
    qint64 read(const QString &sql) {
        sqlite3_stmt *st = nullptr;
        sqlite3_prepare_v2(h, sql.toUtf8().constData(), -1, &st, nullptr);
        qint64 n = 0;
        double sink = 0;
        const int columns = sqlite3_column_count(st);
        while (sqlite3_step(st) == SQLITE_ROW) {
            for (int c = 0; c < columns; ++c) sink += sqlite3_column_double(st, c);
            ++n;
        }
        sqlite3_finalize(st);
        if (sink == -1) std::puts("");
        return n;
    }
};

QString idList(const QList<qint64> &ids) {
    QStringList s;
    for (qint64 id : ids) s.append(QString::number(id));
    return s.join(QLatin1Char(','));
}

void recalculation(region::Region &r) {
    SharedState &s = shared();
    testWork().includeList = r.includeList();
    testWork().institution = r.reports[0];
    testWork().table = ValueTable::RepData;
    const double floor = seconds([&] {
        Raw raw(r.levelFile(0));
        raw.read(QStringLiteral("select \"column\", \"row\", data from data where year=%1 and \"table\" in (%2) "
                                "and hospital in (%3)").arg(r.year).arg(idList(r.tables), testWork().includeList));
    });
    const QList<formlist::FormEntry> forms = formlist::formsForType(-1);
    // Measured on the second run, like the window's: each replaces the
    // report's values stored by the run before.
    RuleRun first(RuleRunContext{testWork()});
    formlist::recalculateForms(first, forms, {}, noProgress());
    const double calls = seconds([&] {
        RuleRun run(RuleRunContext{testWork()});
        formlist::recalculateForms(run, forms, {}, noProgress());
    });
    TFormList w(testWork());
    w.setWindowTitle(QStringLiteral("Свод по области"));
    w.N10->setVisible(true);
    w.Start(-1);
    w.show();
    // As in the program, the progress window has been painted before (the
    // first painting of the process loads its fonts).
    Progress().show();
    QApplication::processEvents();
    Progress().hide();
    g_dialogs->answers.push_back(true);   // "Персчитать ...?"
    const double window = seconds([&] { w.N10Click(); });
    ratio("\"Пересчитать отчет\" (window) / SELECT", window, floor, 2);
    ratio("\"Пересчитать отчет\" window / same calls", window, calls, 1.1);
    testWork().table = ValueTable::Data;
}

void summation(region::Region &r) {
    merge::Request req;
    req.sources = {r.levels[0], r.levels[1]};
    req.receiver = 0;
    req.fixedSource = r.levels[0];
    req.year = r.year;
    const merge::ExclList excl;
    const QString scratch = r.yearFolder() + QStringLiteral("floor.mdb");
    const double floor = seconds([&] {
        QFile::remove(scratch);
        Raw raw(scratch);
        for (const QString &st : schema::valuesTableStatements()) raw.exec(st);
        raw.exec(QStringLiteral("attach '%1' as a").arg(r.levelFile(r.levels[0])));
        raw.exec(QStringLiteral("begin; insert into data select * from a.data; commit"));
        Raw other(r.levelFile(r.levels[1]));
        other.read(QStringLiteral("select hospital, data, year, \"table\", \"column\", \"row\" from data"));
    });
    QFile::remove(scratch);
    const double run = seconds([&] { merge::run(req, excl); });
    ratio("summation of two levels / copy + read", run, floor, 2);
}

QStringList unloadedFiles(const QString &folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.orw")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files.append(it.next());
    files.sort();
    return files;
}

void groupTransfer(region::Region &r) {
    const QString folder = r.yearFolder() + QStringLiteral("unload/");
    const double readAll = seconds([&] {
        Raw raw(r.levelFile(0));
        raw.read(QStringLiteral("select hospital, data, year, \"table\", \"column\", \"row\" from data"));
    });
    QTreeWidget tree;
    FillAdminTree(&tree, 0);
    QTreeWidgetItem *territory = tree.topLevelItem(0);
    const double unload = seconds([&] {
        transfer::SaveHospTree(territory, folder, QStringLiteral("Годовой"), r.year, [](const QString &) {});
    });
    ratio("group unload of the territory / SELECT", unload, readAll, 3);

    const QStringList files = unloadedFiles(folder);
    // The floor replaces each institution's rows by the same rows of another
    // level file, in one transaction.
    const double replace = seconds([&] {
        Raw raw(r.levelFile(r.levels[1]));
        raw.exec(QStringLiteral("attach '%1' as a").arg(r.levelFile(r.levels[0])));
        raw.exec(QStringLiteral("begin"));
        for (qint64 u : r.units) {
            raw.exec(QStringLiteral("delete from data where hospital=%1 and year=%2").arg(u).arg(r.year));
            raw.exec(QStringLiteral("insert into data select * from a.data where hospital=%1 and year=%2")
                         .arg(u)
                         .arg(r.year));
        }
        raw.exec(QStringLiteral("commit"));
    });
    const double load = seconds([&] {
        const adm::GroupLoadResult g = adm::loadUnitFiles(files, QString(), false);
        if (g.loaded != files.size())
            std::fprintf(stderr, "group load: %d of %d files loaded\n", g.loaded, int(files.size()));
    });
    char what[80];
    std::snprintf(what, sizeof what, "group load of %d files / DELETE + INSERT", int(files.size()));
    ratio(what, load, replace, 1.5);
}

void indicatorTypes(region::Region &r) {
    const WorkContext work{ReportMode::Types, ValueTable::Data, false, 0, r.includeList()};
    // The set reads tables (1000) and (2000) of forms Ф1-Ф5.
    QList<qint64> read;
    for (int f : {0, 1, 2, 3, 4})
        for (const QVariant &v : db::column(db::connection(db::kMain),
                                            QStringLiteral("select ident from tables where form=? and "
                                                           "tablen in ('(1000)', '(2000)')"),
                                            {r.forms[f]}))
            read.append(v.toLongLong());
    const double floor = seconds([&] {
        Raw raw(r.levelFile(0));
        raw.read(QStringLiteral("select \"column\", \"row\", data from data where year=%1 and \"table\" in (%2) "
                                "and hospital in (%3)").arg(r.year).arg(idList(read), work.includeList));
    });
    const double eval = seconds([&] { indicators::EvaluateSet(work, r.indicatorSet); });
    ratio("indicator evaluation, \"Types\" / SELECT", eval, floor, 2);
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FakeDialogs dialogs;
    g_dialogs = &dialogs;
    {
        region::Region r;
        if (qEnvironmentVariableIsSet("BENCH_KEEP")) std::printf("region kept in %s\n", qPrintable(r.config));
        // BENCH_ONLY=summation (or recalculation, indicators, transfer) runs one.
        const QString only = qEnvironmentVariable("BENCH_ONLY");
        const auto wanted = [&](const char *name) { return only.isEmpty() || only == QLatin1String(name); };
        if (wanted("recalculation")) recalculation(r);
        if (wanted("indicators")) indicatorTypes(r);
        if (wanted("transfer")) groupTransfer(r);
        if (wanted("summation")) summation(r);
    }
    return g_missed == 0 ? 0 : 1;
}
