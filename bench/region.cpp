// Region-scale work against its SQLite floor, both measured in the same run
// on the same rows of the region of bench/region (BENCH_INSTITUTIONS
// institutions, 1,000 by default; rows in table order, values in value cells
// only). Each line "ratio R (goal <= G)" compares the job as the user starts
// it, through its window (offscreen), with the least SQLite work the same
// result needs; each side is the best of BENCH_REPEAT runs (3 by default),
// both sides' times printed:
//   "Пересчитать отчет", group recalculation   full scan + insert of the rows written   goal 1.5
//   summation of two levels                     read both + write and index the result   goal 1.3
//   group load through the territory window     DELETE + INSERT of the same rows         goal 1.3
//   group unload through the territory window   SELECT + the same bytes, a sync a file   goal 2
//   indicators, "Types"                         one SELECT of the rows                   goal 2
#include "bench/region/Region.h"
#include "support/TestWork.h"
#include "support/FakeDialogs.h"

#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/AdmForm.h"
#include "forms/AdmFormLogic.h"
#include "forms/FormList.h"
#include "forms/FormListLogic.h"
#include "forms/TransferFiles.h"
#include "platform/Database.h"
#include "reports/GroupRecalc.h"
#include "reports/IndicatorEval.h"
#include "reports/Summation.h"
#include "reports/SummationLogic.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTimer>
#include <QTreeWidget>
#include <sqlite3.h>

#include <cstdio>
#include <algorithm>
#include <functional>
#include <unistd.h>

namespace {

int g_missed = 0;
FakeDialogs *g_dialogs = nullptr;

double seconds(const std::function<void()> &work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e9;
}

int repeats() {
    const int n = qEnvironmentVariableIntValue("BENCH_REPEAT");
    return n > 0 ? n : 3;
}

// The longest time the event loop of the window's thread went without
// running a timer, over the runs of best() since the last report.
double g_longestPause = 0;

// The best of several runs: the machine's noise only ever adds time. A
// timer firing every few milliseconds measures the pauses in event
// processing of a window's runs (a window that paints runs it).
double best(const std::function<void()> &work, bool window = false, const std::function<void()> &prepare = {}) {
    double out = 0;
    QElapsedTimer since;
    QTimer beat;
    beat.setInterval(5);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        g_longestPause = std::max(g_longestPause, double(since.nsecsElapsed()) / 1e9);
        since.restart();
    });
    for (int i = 0; i < repeats(); ++i) {
        if (prepare) prepare();   // the user's choices in the window, not timed
        since.start();
        if (window) beat.start();
        const double t = seconds(work);
        if (window) g_longestPause = std::max(g_longestPause, double(since.nsecsElapsed()) / 1e9);
        beat.stop();
        if (i == 0 || t < out) out = t;
    }
    return out;
}

// The longest pause of the job's window runs, against 0.1 s.
void pauses(const char *what) {
    char line[96];
    std::snprintf(line, sizeof line, "%s: longest event pause", what);
    std::printf("%-46s %8.3f s  goal     0.10 s  ratio %.2f (goal <= 1)\n", line, g_longestPause, g_longestPause / 0.1);
    std::fflush(stdout);
    if (g_longestPause > 0.1) ++g_missed;
    g_longestPause = 0;
}

void ratio(const char *what, double measured, double floor, double goal) {
    const double r = measured / floor;
    std::printf("%-46s %8.2f s  floor %8.2f s  ratio %.2f (goal <= %g)\n", what, measured, floor, r, goal);
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

// The floor of a recalculation of the report: one full scan of the values
// (every row is read, as the job reads the rows of its institutions) and
// the report's rows written again as the job stores them.
double recalculationFloor(region::Region &r, qint64 report) {
    return best([&] {
        Raw raw(r.levelFile(0));
        raw.read(QStringLiteral("select hospital, \"table\", \"column\", \"row\", data from data where year=%1")
                     .arg(r.year));
        raw.exec(QStringLiteral("create temp table kept as select * from repdata where hospital=%1").arg(report));
        raw.exec(QStringLiteral("begin; delete from repdata where hospital=%1; "
                                "insert into repdata select * from temp.kept; commit")
                     .arg(report));
    });
}

void recalculation(region::Region &r) {
    testWork().mode = ReportMode::Svod;
    testWork().includeList = r.includeList();
    testWork().institution = r.reports[0];
    testWork().table = ValueTable::RepData;
    TFormList w(testWork());
    w.setWindowTitle(QStringLiteral("Свод по области"));
    w.offerRecalculation(true);
    w.Start(-1);
    w.show();
    // As in the program, the progress window has been painted before (the
    // first painting of the process loads its fonts).
    Progress().show();
    QApplication::processEvents();
    Progress().hide();
    const double window = best([&] {
        g_dialogs->answers.push_back(true);   // "Персчитать ...?"
        w.N10Click();
    }, true);
    pauses("\"Пересчитать отчет\"");
    const double floor = recalculationFloor(r, r.reports[0]);
    ratio("\"Пересчитать отчет\" (window) / scan + insert", window, floor, 1.5);

    TForm7 group;
    group.FormShow();
    group.show();
    const double groupRun = best([&] {
        for (int i = 0; i < group.CheckListBox1->count(); ++i)
            group.CheckListBox1->item(i)->setCheckState(
                group.CheckListBox1->item(i)->data(Qt::UserRole).toLongLong() == r.reports[0] ? Qt::Checked
                                                                                              : Qt::Unchecked);
        group.BitBtn1Click();
    }, true);
    pauses("group recalculation");
    ratio("group recalculation (window) / scan + insert", groupRun, recalculationFloor(r, r.reports[0]), 1.5);
    testWork() = WorkContext{};
}

void summation(region::Region &r) {
    const QString scratch = r.yearFolder() + QStringLiteral("floor.mdb");
    // Read both levels, write the result and index it.
    const double floor = best([&] {
        QFile::remove(scratch);
        Raw raw(scratch);
        QStringList indexes;
        for (const QString &st : schema::valuesTableStatements()) {
            if (st.startsWith(QLatin1String("create index"))) indexes.append(st);
            else raw.exec(st);
        }
        raw.exec(QStringLiteral("attach '%1' as a").arg(r.levelFile(r.levels[0])));
        raw.exec(QStringLiteral("begin; insert into data select * from a.data; commit"));
        for (const QString &st : indexes) raw.exec(st);
        Raw other(r.levelFile(r.levels[1]));
        other.read(QStringLiteral("select hospital, data, year, \"table\", \"column\", \"row\" from data"));
    });
    QFile::remove(scratch);
    TFMerge w;
    w.FormCreate();
    w.show();
    const double run = best([&] { w.BitBtn1Click(); }, true, [&] {
        w.FormCreate();
        for (int i = 0; i < w.CheckListBox1->count(); ++i) w.CheckListBox1->item(i)->setCheckState(Qt::Checked);
        w.ListBox1->setCurrentRow(0);   // "Годовой"
        g_dialogs->answers.push_back(true);   // the level's values are replaced
        g_dialogs->modals.push_back([](QDialog *d) {
            static_cast<TSFRF *>(d)->choose(0);
            return int(QDialog::Accepted);
        });
    });
    pauses("summation");
    ratio("summation of two levels (window) / read + write", run, floor, 1.3);
}

QStringList unloadedFiles(const QString &folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.orw")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files.append(it.next());
    files.sort();
    return files;
}

void groupTransfer(region::Region &r) {
    testWork().mode = ReportMode::Input;
    testWork().table = ValueTable::Data;
    TAdmForm w(TAdmForm::Mode::Input, testWork());
    w.FormActivate();
    w.show();
    w.TreeView1->setCurrentItem(w.TreeView1->topLevelItem(0));   // the territory
    const QString folder = shared().yearFolder() + QStringLiteral("data/");   // where the window unloads
    const double unload = best([&] { w.N13Click(); }, true);
    pauses("group unload");
    const QStringList files = unloadedFiles(folder);
    // The same bytes written again, a sync after each file, after one
    // SELECT of every row.
    QList<QByteArray> bytes;
    for (const QString &f : files) {
        QFile in(f);
        in.open(QIODevice::ReadOnly);
        bytes.append(in.readAll());
    }
    const QString copies = r.yearFolder() + QStringLiteral("floor-files/");
    QDir().mkpath(copies);
    const double unloadFloor = best([&] {
        Raw raw(r.levelFile(0));
        raw.read(QStringLiteral("select hospital, data, year, \"table\", \"column\", \"row\" from data"));
        for (int i = 0; i < bytes.size(); ++i) {
            QFile out(copies + QString::number(i) + QStringLiteral(".orw"));
            out.open(QIODevice::WriteOnly);
            out.write(bytes[i]);
            out.flush();
            ::fsync(out.handle());
        }
    });
    QDir(copies).removeRecursively();
    char what[96];
    std::snprintf(what, sizeof what, "group unload of %d files (window) / SELECT + write", int(files.size()));
    ratio(what, unload, unloadFloor, 2);

    // The floor replaces each institution's rows by the same rows of another
    // level file, in one transaction.
    const double replace = best([&] {
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
    const double load = best([&] {
        g_dialogs->fileLists.push_back(files);
        g_dialogs->messages.clear();
        w.N7Click();
        if (!g_dialogs->sawMessage(QStringLiteral("Подгрузка информации закончена")))
            std::fprintf(stderr, "group load: %s\n", qPrintable(g_dialogs->messages.join(QLatin1Char('|'))));
    }, true);
    pauses("group load");
    std::snprintf(what, sizeof what, "group load of %d files (window) / DELETE + INSERT", int(files.size()));
    ratio(what, load, replace, 1.3);
    testWork() = WorkContext{};
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
