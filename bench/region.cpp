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
//   control run "Сплошной" of the region report the rows of the tables it checks         goal 2
//   indicators, "Types", through their window   the rows of the tables they read         goal 2
// Each window's runs also print the longest pause in event processing (the
// best of the repetitions, goal 0.1 s), the peak memory of the process
// against the same job on a region of a tenth of the size built first in the
// same run (goal 1.5), and "Отмена" pressed at points along the job: the time
// until the window answers, its progress window painted with "Отмена..."
// (goal 0.5 s), the time until the job has returned, its rollback done, the
// longest pause meanwhile, and whether the data is as it was before.
#include "bench/region/Region.h"
#include "support/TestWork.h"
#include "support/FakeDialogs.h"

#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/Schema.h"
#include "engine/SharedState.h"
#include "core/TreeMarking.h"
#include "forms/territory/AdmForm.h"
#include "forms/shared/AdmFormLogic.h"
#include "forms/tree/FormList.h"
#include "forms/shared/FormListLogic.h"
#include "forms/shared/TransferFiles.h"
#include "reports/IndicatorWindows.h"
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
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <sqlite3.h>

#include <cstdio>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <malloc.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

int g_missed = 0;
FakeDialogs *g_dialogs = nullptr;
// The pass over a region of a tenth of the size: the windows' memory only,
// one run each, nothing printed.
bool g_small = false;

double seconds(const std::function<void()> &work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e9;
}

int repeats() {
    if (g_small) return 1;
    const int n = qEnvironmentVariableIntValue("BENCH_REPEAT");
    return n > 0 ? n : 3;
}

// The resident memory of the process, in bytes.
double residentBytes() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toDouble() * double(sysconf(_SC_PAGESIZE)) : 0;
}

// The highest resident memory while it lives, sampled every few
// milliseconds on a thread of its own (the job's threads count too).
class MemoryPeak {
public:
    MemoryPeak() {
        malloc_trim(0);   // what earlier work freed is not counted
        m_peak = residentBytes();
        m_thread = std::thread([this] {
            while (!m_stop) {
                const double now = residentBytes();
                if (now > m_peak) m_peak = now;
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ~MemoryPeak() {
        m_stop = true;
        m_thread.join();
    }
    double peak() const { return m_peak; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<double> m_peak{0};
    std::thread m_thread;
};

// The longest time the event loop of the window's thread went without
// running a timer: the longest of each run, the best of the runs since the
// last report (a pause the job makes comes back in every run, the
// machine's noise only now and then). And the highest memory of those runs.
double g_longestPause = -1;
double g_peakMemory = 0;
std::map<std::string, double> g_smallMemory;   // of the tenth, by job

// Measures the pauses of the window's thread while a job runs.
class PauseWatch {
public:
    PauseWatch() {
        m_beat.setInterval(5);
        QObject::connect(&m_beat, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, double(m_since.nsecsElapsed()) / 1e9);
            m_since.restart();
        });
        m_since.start();
        m_beat.start();
    }
    double longest() {
        m_longest = std::max(m_longest, double(m_since.nsecsElapsed()) / 1e9);
        return m_longest;
    }

private:
    QTimer m_beat;
    QElapsedTimer m_since;
    double m_longest = 0;
};

// The best of several runs: the machine's noise only ever adds time. A
// window's runs (a window that paints runs it) measure their pauses in
// event processing and the memory of the process.
double best(const std::function<void()> &work, bool window = false, const std::function<void()> &prepare = {},
            int times = 0) {
    double out = 0;
    for (int i = 0; i < (times > 0 ? times : repeats()); ++i) {
        if (prepare) prepare();   // the user's choices in the window, not timed
        std::optional<MemoryPeak> memory;
        std::optional<PauseWatch> pauses;
        if (window) {
            memory.emplace();
            pauses.emplace();
        }
        const double t = seconds(work);
        if (window) {
            const double longest = pauses->longest();
            g_longestPause = g_longestPause < 0 ? longest : std::min(g_longestPause, longest);
            g_peakMemory = std::max(g_peakMemory, memory->peak());
        }
        if (i == 0 || t < out) out = t;
    }
    return out;
}

// The longest pause of the job's window runs, against 0.1 s; its memory
// against the same job on the tenth of the region.
void pauses(const char *what) {
    if (g_small) {
        g_smallMemory[what] = g_peakMemory;
    } else {
        char line[96];
        std::snprintf(line, sizeof line, "%s: longest event pause", what);
        std::printf("%-46s %8.3f s  goal     0.10 s  ratio %.2f (goal <= 1)\n", line, g_longestPause,
                    g_longestPause / 0.1);
        if (g_longestPause > 0.1) ++g_missed;
        if (const auto small = g_smallMemory.find(what); small != g_smallMemory.end() && small->second > 0) {
            std::snprintf(line, sizeof line, "%s: memory / at a tenth", what);
            const double r = g_peakMemory / small->second;
            std::printf("%-46s %6.0f MB  tenth %6.0f MB  ratio %.2f (goal <= 1.5)\n", line, g_peakMemory / 1e6,
                        small->second / 1e6, r);
            if (r > 1.5) ++g_missed;
        }
        std::fflush(stdout);
    }
    g_longestPause = -1;
    g_peakMemory = 0;
}

void ratio(const char *what, double measured, double floor, double goal) {
    const double r = measured / floor;
    std::printf("%-46s %8.3f s  floor %8.3f s  ratio %.2f (goal <= %g)\n", what, measured, floor, r, goal);
    std::fflush(stdout);
    if (r > goal) ++g_missed;
}

// "Отмена" pressed at each of the given points of a job (fractions of its
// usual time): the time from the press until the job has returned and the
// longest pause in event processing, against 0.5 s and 0.1 s, and the data
// (state()) as marked before each run. mark() changes the data so that any
// part of the job that took effect would show; restore() puts it back.
// finished tells a job that ended before the press took (its closing message).
struct CancelCase {
    const char *what;
    double usual = 0;
    QList<double> at;
    std::function<void()> prepare;
    std::function<void()> work;
    std::function<void()> mark;
    std::function<QByteArray()> state;
    QString finished;
};

// The first paint of the progress window's text once it says "Отмена...".
class CancelPaint : public QObject {
public:
    explicit CancelPaint(QLabel *label) : m_label(label) { label->installEventFilter(this); }
    ~CancelPaint() override { m_label->removeEventFilter(this); }
    void arm(QElapsedTimer *sincePress) { m_sincePress = sincePress, m_seconds = -1; }
    double seconds() const { return m_seconds; }
    bool eventFilter(QObject *o, QEvent *e) override {
        if (o == m_label && e->type() == QEvent::Paint && m_seconds < 0 && m_sincePress &&
            m_sincePress->isValid() && m_label->text() == QStringLiteral("Отмена..."))
            m_seconds = double(m_sincePress->nsecsElapsed()) / 1e9;
        return false;
    }

private:
    QLabel *m_label;
    QElapsedTimer *m_sincePress = nullptr;
    double m_seconds = -1;
};

void cancels(const CancelCase &c) {
    if (g_small) return;
    double slowest = 0, longestPause = 0, slowestAnswer = 0;
    int stopped = 0, changed = 0, late = 0;
    for (const double at : c.at) {
        if (c.prepare) c.prepare();
        c.mark();
        const QByteArray before = c.state();
        g_dialogs->messages.clear();
        QElapsedTimer sincePress;
        CancelPaint painted(Progress().detailLabel());
        painted.arm(&sincePress);
        QTimer press;
        press.setSingleShot(false);
        QObject::connect(&press, &QTimer::timeout, [&] {
            if (!Progress().isVisible()) return;   // the job has not shown its window yet
            press.stop();
            Progress().cancelButton()->click();
            sincePress.start();
        });
        press.start(int(c.usual * at * 1000));
        // After the first wait, every hundredth of a second.
        QObject::connect(&press, &QTimer::timeout, [&] { press.setInterval(10); });
        PauseWatch watch;
        c.work();
        press.stop();
        const double pause = watch.longest();
        if (!sincePress.isValid() || g_dialogs->sawMessage(c.finished)) {
            ++late;
            continue;
        }
        ++stopped;
        if (qEnvironmentVariableIsSet("BENCH_VERBOSE"))
            std::fprintf(stderr, "%s at %.2f: answered in %.3f s, longest pause %.3f s\n", c.what, at,
                         double(sincePress.nsecsElapsed()) / 1e9, pause);
        slowest = std::max(slowest, double(sincePress.nsecsElapsed()) / 1e9);
        longestPause = std::max(longestPause, pause);
        // The press itself waits for the event loop: at most the longest pause.
        // A job that ended before its window painted the cancel answered by ending.
        const double toEnd = double(sincePress.nsecsElapsed()) / 1e9;
        slowestAnswer = std::max(slowestAnswer, (painted.seconds() < 0 ? toEnd : std::min(painted.seconds(), toEnd)) + pause);
        if (c.state() != before) {
            ++changed;
            std::fprintf(stderr, "%s at %.2f: data changed; said: %s\n", c.what, at,
                         qPrintable(g_dialogs->messages.join(QLatin1Char('|'))));
        }
    }
    char line[96];
    std::snprintf(line, sizeof line, "%s: \"Отмена\" answered", c.what);
    std::printf("%-46s %8.3f s  goal     0.50 s  ratio %.2f (goal <= 1)  stopped %d of %d, data %s\n", line,
                slowestAnswer, slowestAnswer / 0.5, stopped, int(c.at.size()), changed ? "CHANGED" : "as before");
    std::snprintf(line, sizeof line, "%s: \"Отмена\" to the job's end", c.what);
    std::printf("%-46s %8.3f s  (the window paints meanwhile)\n", line, slowest);
    std::snprintf(line, sizeof line, "%s: \"Отмена\" longest event pause", c.what);
    std::printf("%-46s %8.3f s  goal     0.10 s  ratio %.2f (goal <= 1)\n", line, longestPause, longestPause / 0.1);
    if (late) std::printf("%s: %d run(s) ended before \"Отмена\" took\n", c.what, late);
    std::fflush(stdout);
    if (slowestAnswer > 0.5 || longestPause > 0.1 || changed || stopped == 0) ++g_missed;
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

// A fingerprint of every row of a values table of a level file: a changed,
// added or lost row changes it.
QByteArray fingerprint(const QString &file, const QString &table) {
    Raw raw(file);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(raw.h,
                       QStringLiteral("select count(*), total(data), total(data*(\"row\"+61*\"column\")), "
                                      "total(data*hospital), total(data*\"table\") from %1").arg(table)
                           .toUtf8().constData(),
                       -1, &st, nullptr);
    QByteArray out;
    if (sqlite3_step(st) == SQLITE_ROW)
        for (int c = 0; c < 5; ++c) out += QByteArray::number(sqlite3_column_double(st, c), 'g', 17) + ' ';
    sqlite3_finalize(st);
    return out;
}

// Changes one row in 97 of a values table, each institution's among them.
void markRows(const QString &file, const QString &table) {
    Raw raw(file);
    raw.exec(QStringLiteral("update %1 set data=data+1 where rowid % 97 = 0").arg(table));
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

// The tables of forms Ф1-Ф20 whose number is tablen.
QList<qint64> tablesNumbered(const QString &tablen) {
    QList<qint64> out;
    for (const QVariant &v : db::column(db::connection(db::kMain),
                                        QStringLiteral("select ident from tables where tablen=?"), {tablen}))
        out.append(v.toLongLong());
    return out;
}

// The fastest way to read rows of the given tables of some owners: through
// the index by table in one statement or one a table, or one scan of the
// whole table filtered; once() times each way once and gives the fastest.
class ReadFloor {
public:
    ReadFloor(const QString &file, const QString &valueTable, int year, const QList<qint64> &tables,
              const QString &owners)
        : m_raw(file), m_tables(tables), m_owners(owners),
          m_fields(QStringLiteral("select \"column\", \"row\", data from %1 where year=%2 and ").arg(valueTable).arg(year)) {}
    double once() {
        const double byIndex = seconds([&] {
            m_raw.read(m_fields + QStringLiteral("\"table\" in (%1) and hospital in (%2)").arg(idList(m_tables), m_owners));
        });
        const double byScan = seconds([&] {
            m_raw.read(m_fields + QStringLiteral("+\"table\" in (%1) and +hospital in (%2)").arg(idList(m_tables), m_owners));
        });
        const double byTable = seconds([&] {
            for (qint64 t : m_tables)
                m_raw.read(m_fields + QStringLiteral("\"table\"=%1 and hospital in (%2)").arg(t).arg(m_owners));
        });
        return std::min({byIndex, byScan, byTable});
    }

private:
    Raw m_raw;   // one connection, open already and warm as the program's is
    QList<qint64> m_tables;
    QString m_owners, m_fields;
};

double readFloor(const QString &file, const QString &valueTable, int year, const QList<qint64> &tables,
                 const QString &owners) {
    ReadFloor floor(file, valueTable, year, tables, owners);
    double out = 0;
    for (int i = 0; i < repeats(); ++i) out = i ? std::min(out, floor.once()) : floor.once();
    return out;
}

// The control run of the whole report over its summed values. It lasts a
// hundredth of a second: many rounds, the run and its floor in turn, so that
// the load of the machine at any moment weighs on both sides alike.
void controlRun(region::Region &r, TFormList &w) {
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));
    const auto run = [&] { w.controlAll(); };
    if (g_small) {
        best(run, true);
        pauses("\"Сплошной\" control run");
        return;
    }
    ReadFloor floor(r.levelFile(0), QStringLiteral("repdata"), r.year, tablesNumbered(QStringLiteral("(1000)")),
                    QString::number(r.reports[0]));
    double control = 0, read = 0;
    for (int i = 0, rounds = std::max(15, 5 * repeats()); i < rounds; ++i) {
        const double c = best(run, true, {}, 1), f = floor.once();
        control = i ? std::min(control, c) : c;
        read = i ? std::min(read, f) : f;
    }
    pauses("\"Сплошной\" control run");
    ratio("\"Сплошной\" of the report (window) / read", control, read, 2);
}

// controlOnly: the report summed once, untimed, for its control run alone.
void recalculation(region::Region &r, bool controlOnly = false) {
    WorkContext work;
    work.mode = ReportMode::Svod;
    work.includeList = r.includeList();
    work.institution = r.reports[0];
    work.table = ValueTable::RepData;
    TFormList w(work);
    w.setWindowTitle(QStringLiteral("Свод по области"));
    w.offerRecalculation(true);
    w.Start(-1);
    w.show();
    // As in the program, the progress window has been painted before (the
    // first painting of the process loads its fonts).
    Progress().show();
    QApplication::processEvents();
    Progress().hide();
    const auto recalculate = [&] {
        g_dialogs->answers.push_back(true);   // "Персчитать ...?"
        w.recalculateReport();
    };
    if (controlOnly) {
        recalculate();   // the report's values for the control run
        controlRun(r, w);
        return;
    }
    const double window = best(recalculate, true);
    pauses("\"Пересчитать отчет\"");
    if (!g_small) {
        const double floor = recalculationFloor(r, r.reports[0]);
        ratio("\"Пересчитать отчет\" (window) / scan + insert", window, floor, 1.5);
        cancels({"\"Пересчитать отчет\"", window, {0.4, 0.9}, {}, recalculate,
                 [&] { markRows(r.levelFile(0), QStringLiteral("repdata")); },
                 [&] { return fingerprint(r.levelFile(0), QStringLiteral("repdata")); },
                 QStringLiteral("Пересчет отчета закончен")});
        recalculate();   // the report's values again
    }

    controlRun(r, w);

    TForm7 group;
    group.show();
    const double groupRun = best([&] {
        for (int i = 0; i < group.reportList()->count(); ++i)
            group.reportList()->item(i)->setCheckState(
                group.reportList()->item(i)->data(Qt::UserRole).toLongLong() == r.reports[0] ? Qt::Checked
                                                                                              : Qt::Unchecked);
        group.recalculateChecked();
    }, true);
    pauses("group recalculation");
    if (!g_small)
        ratio("group recalculation (window) / scan + insert", groupRun, recalculationFloor(r, r.reports[0]), 1.5);
}

void summation(region::Region &r) {
    const QString scratch = r.yearFolder() + QStringLiteral("floor.mdb");
    // Read both levels, write the result and index it.
    const double floor = g_small ? 0 : best([&] {
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
    w.show();
    const auto prepare = [&] {
        for (int i = 0; i < w.sourceList()->count(); ++i) w.sourceList()->item(i)->setCheckState(Qt::Checked);
        w.receiverList()->setCurrentRow(0);   // "Годовой"
        g_dialogs->answers.push_back(true);   // the level's values are replaced
        g_dialogs->modals.push_back([](QDialog *d) {
            static_cast<TSFRF *>(d)->choose(0);
            return int(QDialog::Accepted);
        });
    };
    const double run = best([&] { w.summate(); }, true, prepare);
    pauses("summation");
    if (g_small) return;
    ratio("summation of two levels (window) / read + write", run, floor, 1.3);
    // Early (emptying the receiver), halfway, and at the end (the indexes
    // built again, the commit).
    cancels({"summation", run, {0.03, 0.5, 0.93}, prepare, [&] { w.summate(); },
             [&] { markRows(r.levelFile(0), QStringLiteral("data")); },
             [&] { return fingerprint(r.levelFile(0), QStringLiteral("data")); },
             QStringLiteral("Суммирование завершено!")});
}

QStringList unloadedFiles(const QString &folder) {
    QStringList files;
    QDirIterator it(folder, {QStringLiteral("*.orw")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) files.append(it.next());
    files.sort();
    return files;
}

// Names, sizes and times of the files of a folder, and the first file's bytes.
QByteArray folderState(const QString &folder) {
    QByteArray out;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    QStringList names;
    while (it.hasNext()) names.append(it.next());
    names.sort();
    for (const QString &n : names) {
        const QFileInfo f(n);
        out += n.toUtf8() + ' ' + QByteArray::number(f.size()) + ' ' +
               QByteArray::number(f.lastModified().toMSecsSinceEpoch()) + '\n';
    }
    if (!names.isEmpty()) {
        QFile first(names.first());
        first.open(QIODevice::ReadOnly);
        out += first.readAll();
    }
    return out;
}

void groupTransfer(region::Region &r) {
    WorkContext work;
    work.mode = ReportMode::Input;
    work.table = ValueTable::Data;
    TAdmForm w(TAdmForm::Mode::Input, work);
    w.show();
    w.tree()->setCurrentItem(w.tree()->topLevelItem(0));   // the territory
    const QString folder = shared().yearFolder() + QStringLiteral("data/");   // where the window unloads
    const double unload = best([&] { w.unloadGroup(); }, true);
    pauses("group unload");
    const QStringList files = unloadedFiles(folder);
    char what[96];
    if (!g_small) {
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
        std::snprintf(what, sizeof what, "group unload of %d files (window) / SELECT + write", int(files.size()));
        ratio(what, unload, unloadFloor, 2);
        // The older files marked: the first one's last line goes.
        cancels({"group unload", unload, {0.5, 0.9}, {}, [&] { w.unloadGroup(); },
                 [&] {
                     QFile f(files.first());
                     f.open(QIODevice::ReadWrite);
                     const QByteArray all = f.readAll();
                     f.resize(all.lastIndexOf("\r\n", all.size() - 3) + 2);
                 },
                 [&] { return folderState(folder); }, QStringLiteral("Выгрузка закончена")});
        w.unloadGroup();   // the files again
    }

    const auto load = [&] {
        g_dialogs->fileLists.push_back(files);
        g_dialogs->messages.clear();
        w.loadGroup();
    };
    const auto loadOnce = [&] {
        return best([&] {
            load();
            if (!g_dialogs->sawMessage(QStringLiteral("Подгрузка информации закончена")))
                std::fprintf(stderr, "group load: %s\n", qPrintable(g_dialogs->messages.join(QLatin1Char('|'))));
        }, true, {}, 1);
    };
    if (g_small) {
        loadOnce();
        pauses("group load");
        return;
    }
    // The floor replaces each institution's rows by the same rows of another
    // level file, in one transaction.
    const auto replaceOnce = [&] {
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
    };
    // A load lasts half a minute and rewrites most of the level's file: the load
    // and its floor in turn, so that a slower spell of the disk weighs on
    // both sides alike.
    double loaded = 0, replace = 0;
    for (int i = 0; i < repeats(); ++i) {
        const double l = loadOnce(), f = seconds(replaceOnce);
        loaded = i ? std::min(loaded, l) : l;
        replace = i ? std::min(replace, f) : f;
    }
    pauses("group load");
    std::snprintf(what, sizeof what, "group load of %d files (window) / DELETE + INSERT", int(files.size()));
    ratio(what, loaded, replace, 1.3);
    cancels({"group load", loaded, {0.5, 0.97}, {}, load, [&] { markRows(r.levelFile(0), QStringLiteral("data")); },
             [&] { return fingerprint(r.levelFile(0), QStringLiteral("data")); },
             QStringLiteral("Подгрузка информации закончена")});
    load();   // the values again
}

// The indicator set computed for every institution of the types, through
// its window, against reading the rows it reads.
void indicatorTypes(region::Region &r) {
    const WorkContext work{ReportMode::Types, ValueTable::Data, false, 0, r.includeList()};
    const double eval = best([&] {
        TShowStat w(work, r.indicatorSet);
        w.show();   // computes the set
    }, true);
    pauses("indicators, \"Types\"");
    if (g_small) return;
    // The set reads tables (1000) and (2000) of forms Ф1-Ф5.
    QList<qint64> read;
    for (int f : {0, 1, 2, 3, 4})
        for (const QVariant &v : db::column(db::connection(db::kMain),
                                            QStringLiteral("select ident from tables where form=? and "
                                                           "tablen in ('(1000)', '(2000)')"),
                                            {r.forms[f]}))
            read.append(v.toLongLong());
    ratio("indicators, \"Types\" (window) / read", eval,
          readFloor(r.levelFile(0), QStringLiteral("data"), r.year, read, work.includeList), 2);
}

// Every job on the region.
void jobs(region::Region &r) {
    // BENCH_ONLY=summation (or recalculation, control, indicators, transfer)
    // runs one.
    const QString only = qEnvironmentVariable("BENCH_ONLY");
    const auto wanted = [&](const char *name) { return only.isEmpty() || only == QLatin1String(name); };
    if (wanted("recalculation")) recalculation(r);
    if (only == QLatin1String("control")) recalculation(r, true);
    if (wanted("indicators")) indicatorTypes(r);
    if (wanted("transfer")) groupTransfer(r);
    if (wanted("summation")) summation(r);
}

} // namespace

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    FakeDialogs dialogs;
    g_dialogs = &dialogs;
    // The memory of each window's job on a tenth of the region first. The
    // jobs run twice and the second round counts: what the process keeps
    // once it has run a job (the pool's threads and their memory, fonts,
    // caches) is then on both sides, as it is for the region's run, which
    // follows the tenth's.
    {
        g_small = true;
        region::Region tenth(std::max(40, region::Region::fromEnvironment() / 10));
        jobs(tenth);
        jobs(tenth);
        g_small = false;
    }
    region::Region r;
    if (qEnvironmentVariableIsSet("BENCH_KEEP")) std::printf("region kept in %s\n", qPrintable(r.config));
    jobs(r);
    return g_missed == 0 ? 0 : 1;
}
