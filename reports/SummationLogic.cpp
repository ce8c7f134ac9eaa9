#include "reports/SummationLogic.h"

#include "engine/CatalogGate.h"
#include "engine/CellNumbering.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/TableValues.h"
#include "engine/ValueMatrix.h"
#include "engine/WorkModes.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace merge {

QList<Level> subReportLevels() {
    QList<Level> out;
    QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, name from subreps order by id"));
    while (q.next()) out.append(Level{q.value(0).toLongLong(), q.value(1).toString()});
    return out;
}

QString levelFile(qint64 levelId) {
    return shared().yearFolder() + QStringLiteral("data%1.mdb").arg(levelId);
}

QString nonSummableFile() { return paths::programFolder() + QStringLiteral("Несуммируемые позиции.txt"); }

// ---- Non-summable positions ------------------------------------------------

namespace {

// Cuts the text at its first comma: the part before goes out, the rest stays.
QString cutField(QString &rest) {
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma < 0) {
        const QString all = rest;
        rest.clear();
        return all;
    }
    const QString head = rest.left(comma);
    rest = rest.mid(comma + 1);
    return head;
}

QSet<int> numbers(const QString &field, bool *any) {
    QSet<int> out;
    *any = false;
    for (const QString &part : field.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString t = part.trimmed();
        if (t.isEmpty()) continue;
        *any = true;
        bool ok = false;
        const int v = t.toInt(&ok);
        if (ok) out.insert(v);
    }
    return out;
}

} // namespace

void ExclList::load(const QString &path) {
    clear();
    if (!QFileInfo::exists(path)) return;
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw db::Error(QStringLiteral("Не удалось прочитать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
    for (int i = 0; i < lines.size(); ++i)
        if (!addLine(lines[i]))
            m_unmatched << QStringLiteral("строка %1: %2").arg(i + 1).arg(text::shownField(lines[i]));
}

bool ExclList::addLine(const QString &rawLine) {
    const QString line = text::upper(rawLine);
    if (line.trimmed().isEmpty()) return true;
    QString rest = line;
    const QString form = cutField(rest).trimmed();
    const QString table = cutField(rest).trimmed();
    const QString column = cutField(rest);
    const QString rowsField = rest;
    if (form.isEmpty()) return false;

    const QSqlDatabase d = db::connection(db::kMain);
    const std::optional<gate::FoundForm> found = gate::findForm(d, form);
    if (!found) return false;
    QList<qint64> idents;
    QSqlQuery q = db::exec(d, QStringLiteral("select ident, tablen from tables where form=? order by ident"),
                           {found->id});
    while (q.next())
        if (table.isEmpty() || text::sameName(q.value(1).toString(), table)) idents << q.value(0).toLongLong();
    bool anyColumn = false, anyRow = false;
    const QSet<int> cols = numbers(column, &anyColumn);
    const QSet<int> rows = numbers(rowsField, &anyRow);
    // One axis of an entry as a further line changes it.
    const auto merge = [](bool &listed, QSet<int> &entry, bool any, const QSet<int> &field) {
        if (!any) {
            listed = false;
            entry.clear();
        } else if (listed) {
            entry.unite(field);
        }
    };
    for (qint64 ident : idents) {
        const auto it = m_entries.find(ident);
        if (it == m_entries.end()) {
            // A position is non-summable when its column or its row is listed;
            // a line naming neither covers the whole table.
            m_entries.insert(ident, Entry{anyColumn, anyRow, cols, rows});
            continue;
        }
        merge(it->columnsListed, it->columns, anyColumn, cols);
        merge(it->rowsListed, it->rows, anyRow, rows);
    }
    return !idents.isEmpty();
}

bool ExclList::summable(qint64 ident, int storedColumn, int storedRow, int fixrows) const {
    const auto it = m_entries.constFind(ident);
    if (it == m_entries.constEnd()) return true;
    const Entry &e = it.value();
    if (e.whole()) return false;
    if (e.columnsListed && e.columns.contains(cells::refColumnOfStored(storedColumn))) return false;
    if (e.rowsListed && e.rows.contains(cells::refRowOfStored(storedRow, fixrows))) return false;
    return true;
}

// ---- Run -------------------------------------------------------------------

QList<qint64> allInstitutions() {
    QList<qint64> out;
    for (const QVariant &v : db::column(db::connection(db::kMain),
                                        QStringLiteral("select id from administration where medicaltype<>-1 "
                                                       "order by ind, id")))
        out.append(v.toLongLong());
    return out;
}

namespace {

QString sameFile(const QString &a) { return QFileInfo(a).canonicalFilePath(); }

// Shares of the institutions per run: the gauge moves between them.
constexpr int kChunks = 40;
// Rows of the receiver written by one insert statement.
constexpr int kRowsPerInsert = 500;
// Threads of the sorts that build the receiver's indexes.
constexpr int kSorterThreads = 4;
// The page cache while they sort (negative: in kilobytes), the memory of each.
constexpr int kSorterCacheKb = -4096;

// The receiver's connection: the open values database when it is the
// receiver (so that no second writer competes with it), else its own.
struct Receiver {
    std::unique_ptr<db::ScopedConnection> own;
    QSqlDatabase d;
    explicit Receiver(qint64 level) {
        const QString file = levelFile(level);
        if (db::isOpen(db::kData) && sameFile(db::fileOf(db::kData)) == sameFile(file)) {
            d = db::connection(db::kData);
        } else {
            own = std::make_unique<db::ScopedConnection>(file, db::OpenMode::ReadWrite, QStringLiteral("mergedst"));
            d = own->db();
        }
    }
};

// The cells of a catalogue table: stored bounds and fixed rows.
struct TableCells {
    int lowColumn, highColumn, lowRow, highRow, fixrows;
};

// The values of one institution in one source level that go into the sums:
// its rows as read (a few per value, not a matrix per table, so that the
// institutions read ahead cost what their values do).
struct SourceRow {
    qint64 table;
    int column, row;
    double value;
};
struct SourceSums {
    std::vector<SourceRow> rows;
    int outside = 0;   // values outside their table's cells
    std::exception_ptr error;
};

// Reads the source levels ahead of the writer: a thread per level, each with
// its own read-only connection, adds up the rows of the institutions in run
// order while the receiver's connection writes the institutions before them.
class SourceReaders {
public:
    SourceReaders(const Request &request, const QList<qint64> &institutions, const ExclList &excl,
                  const QHash<qint64, TableCells> &cells)
        : m_request(request), m_institutions(institutions), m_excl(excl), m_cells(cells),
          m_queues(request.sources.size()) {
        for (qint64 level : request.sources) m_files.append(levelFile(level));
        try {
            for (int i = 0; i < request.sources.size(); ++i) m_threads.emplace_back([this, i] { read(i); });
        } catch (...) {
            stop();
            throw;
        }
    }
    ~SourceReaders() { stop(); }
    SourceReaders(const SourceReaders &) = delete;
    SourceReaders &operator=(const SourceReaders &) = delete;

    // The sums of the next institution in the source; wait() runs (outside
    // the lock) every few hundredths of a second while they are not ready.
    SourceSums take(int source, const std::function<void()> &wait) {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (m_queues[source].empty()) {
            m_changed.wait_for(lock, std::chrono::milliseconds(20));
            lock.unlock();
            wait();
            lock.lock();
        }
        SourceSums out = std::move(m_queues[source].front());
        m_queues[source].pop_front();
        lock.unlock();
        m_changed.notify_all();
        if (out.error) std::rethrow_exception(out.error);
        return out;
    }

private:
    static constexpr size_t kAhead = 8;   // institutions read ahead per level

    void read(int source) {
        try {
            // A level locked by another program is waited for only until the
            // run stops: "Отмена" does not wait out the busy timeout.
            const std::function<bool()> keepWaiting = [this] { return !m_stop; };
            const db::ScopedConnection c(m_files[source], db::OpenMode::ReadOnly, QStringLiteral("mergesrc"),
                                         keepWaiting);
            const db::BusyWait busy(c.db(), keepWaiting);
            if (!db::tableExists(c.db(), ValueTableName(ValueTable::Data)))
                throw db::Error(QStringLiteral("в файле %1 нет таблицы значений")
                                    .arg(QDir::toNativeSeparators(m_files[source])));
            const bool fixed = m_request.sources[source] == m_request.fixedSource;
            for (qint64 h : m_institutions) {
                SourceSums sums = readInstitution(c.db(), h, fixed);
                if (!put(source, std::move(sums))) return;
            }
        } catch (...) {
            SourceSums failed;
            failed.error = std::current_exception();
            put(source, std::move(failed));
        }
    }

    SourceSums readInstitution(const QSqlDatabase &d, qint64 h, bool fixed) const {
        SourceSums out;
        qint64 lastTable = std::numeric_limits<qint64>::min();
        const TableCells *lastCells = nullptr;
        int rows = 0;
        ReadInstitutionValues(d, ValueTable::Data, h, m_request.year,
                                QStringLiteral("\"table\", \"column\", \"row\", data"), 4, [&](const double *f) {
            if ((++rows & 4095) == 0 && m_stop) throw Cancelled();
            const qint64 t = qint64(f[0]);
            // Rows come table by table: the last table's cells serve the rows after it.
            if (t != lastTable) {
                lastTable = t;
                const auto cat = m_cells.constFind(t);
                lastCells = cat == m_cells.constEnd() ? nullptr : &*cat;   // nullptr: no longer in the catalogue
            }
            if (!lastCells) return;
            const int c = int(f[1]), r = int(f[2]);
            if (!fixed && !m_excl.summable(t, c, r, lastCells->fixrows)) return;
            if (c < lastCells->lowColumn || c > lastCells->highColumn || r < lastCells->lowRow ||
                r > lastCells->highRow) {   // the table has no such cell (any more)
                ++out.outside;
                return;
            }
            out.rows.push_back(SourceRow{t, c, r, f[3]});
        });
        return out;
    }

    void stop() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        for (std::thread &t : m_threads) t.join();
    }

    // False when the run stopped.
    bool put(int source, SourceSums &&sums) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stop || m_queues[source].size() < kAhead; });
        if (m_stop) return false;
        m_queues[source].push_back(std::move(sums));
        lock.unlock();
        m_changed.notify_all();
        return true;
    }

    const Request &m_request;
    const QList<qint64> &m_institutions;
    const ExclList &m_excl;
    const QHash<qint64, TableCells> &m_cells;
    QStringList m_files;   // of the levels, read before the threads start
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::deque<SourceSums>> m_queues;
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_threads;
};

void checkLevels(const Request &request) {
    if (request.sources.contains(request.receiver))
        throw db::Error(QStringLiteral("Уровень отчета не может быть источником и приемником суммирования "
                                       "одновременно."));
    // Every level file must be there before anything is changed.
    QList<qint64> levels = request.sources;
    levels.append(request.receiver);
    for (qint64 id : levels)
        if (!QFileInfo::exists(levelFile(id)))
            throw db::Error(QStringLiteral("Не найден файл данных уровня отчета: %1. Суммирование не выполнено.")
                                .arg(QDir::toNativeSeparators(levelFile(id))));
}

// The institutions of the run, for the statements that delete their rows.
void fillUnits(const QSqlDatabase &d, const QList<qint64> &institutions) {
    db::exec(d, QStringLiteral("create temp table merge_units (id integer primary key)"));
    QSqlQuery unit(d);
    unit.prepare(QStringLiteral("insert or ignore into temp.merge_units (id) values (?)"));
    for (qint64 id : institutions) {
        unit.bindValue(0, id);
        if (!unit.exec()) throw db::statementFailure(d, unit.lastQuery(), unit.lastError());
    }
}

void dropUnits(const QSqlDatabase &d) { db::exec(d, QStringLiteral("drop table if exists temp.merge_units")); }

void dropUnitsQuietly(const QSqlDatabase &d) {
    try {
        dropUnits(d);
    } catch (const db::Error &) {
    }
}

// While it lives, the sorts of the connection (index builds) run on a few
// threads, each sorting in memory as much as the page cache holds before it
// merges through a temporary file: the cache is made small, so that the
// sorts of a region's rows take no more memory than those of a district's.
// The connection's own settings come back at its end.
struct SorterThreads {
    QSqlDatabase d;
    int before;
    qint64 cacheBefore;
    explicit SorterThreads(const QSqlDatabase &db)
        : d(db), before(db::scalar(d, QStringLiteral("pragma threads")).toInt()),
          cacheBefore(db::scalar(d, QStringLiteral("pragma cache_size")).toLongLong()) {
        db::exec(d, QStringLiteral("pragma threads=%1").arg(kSorterThreads));
        db::exec(d, QStringLiteral("pragma cache_size=%1").arg(kSorterCacheKb));
    }
    ~SorterThreads() {
        QSqlQuery(QStringLiteral("pragma threads=%1").arg(before), d);
        QSqlQuery(QStringLiteral("pragma cache_size=%1").arg(cacheBefore), d);
    }
};

// The receiver's index on (hospital, year, ...), or an empty name.
QString hospitalIndex(const QSqlDatabase &d) {
    for (const QVariant &name : db::column(d, QStringLiteral("select name from main.sqlite_master where "
                                                             "type='index' and lower(tbl_name)=?"),
                                           {ValueTableName(ValueTable::Data)})) {
        QSqlQuery q = db::exec(d, QStringLiteral("pragma main.index_info(%1)").arg(db::quoteId(name.toString())));
        QStringList columns;
        while (q.next()) columns.append(q.value(2).toString().toLower());
        if (columns.size() >= 2 && columns[0] == QLatin1String("hospital") && columns[1] == QLatin1String("year"))
            return name.toString();
    }
    return {};
}

// The receiver's indexes of its values table but `keep`: names and the
// statements that build them.
QList<std::pair<QString, QString>> otherIndexes(const QSqlDatabase &d, const QString &keep) {
    QList<std::pair<QString, QString>> out;
    QSqlQuery q = db::exec(d, QStringLiteral("select name, sql from main.sqlite_master where type='index' and "
                                             "lower(tbl_name)=? and sql is not null"),
                           {ValueTableName(ValueTable::Data)});
    while (q.next())
        if (q.value(0).toString() != keep) out.append({q.value(0).toString(), q.value(1).toString()});
    return out;
}

// True when every row of the receiver is a row of the year of one of the
// run's institutions, so that the run replaces the whole table. Walks the
// distinct institutions through the (hospital, year) index, when there is
// one, a few look-ups each, instead of reading every row.
bool holdsOnlyReplacedRows(const QSqlDatabase &d, int year, const QSet<qint64> &units, bool indexed,
                           const std::function<void()> &keepPainting) {
    const QString table = ValueTableName(ValueTable::Data);
    if (!indexed)
        return db::scalar(d,
                          QStringLiteral("select not exists (select 1 from %1 where year is not ? or hospital "
                                         "is null or hospital not in (select id from temp.merge_units))")
                              .arg(table),
                          {year})
                   .toInt() != 0;
    if (db::scalar(d, QStringLiteral("select exists (select 1 from %1 where hospital is null)").arg(table))
            .toInt() != 0)
        return false;
    QVariant h = db::scalar(d, QStringLiteral("select min(hospital) from %1").arg(table));
    while (!h.isNull()) {
        keepPainting();   // a few look-ups per institution, too short to be polled
        if (h.typeId() != QMetaType::LongLong || !units.contains(h.toLongLong())) return false;
        QSqlQuery q = db::exec(d,
                               QStringLiteral("select (select min(year) from %1 where hospital=?), "
                                              "(select max(year) from %1 where hospital=?), "
                                              "exists (select 1 from %1 where hospital=? and year is null), "
                                              "(select min(hospital) from %1 where hospital>?)")
                                   .arg(table),
                               {h, h, h, h});
        if (!q.next()) return false;
        const QVariant low = q.value(0), high = q.value(1);
        if (low.typeId() != QMetaType::LongLong || high.typeId() != QMetaType::LongLong ||
            low.toLongLong() != year || high.toLongLong() != year || q.value(2).toInt() != 0)
            return false;
        h = q.value(3);
    }
    return true;
}

} // namespace

bool receiverHoldsValues(const Request &request) {
    checkLevels(request);
    const QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    db::ScopedConnection receiver(levelFile(request.receiver), db::OpenMode::ReadOnly, QStringLiteral("mergechk"));
    if (!db::tableExists(receiver.db(), ValueTableName(ValueTable::Data))) return false;
    return db::scalar(receiver.db(),
                      QStringLiteral("select exists (select 1 from %1 where year=? and hospital in (%2))")
                          .arg(ValueTableName(ValueTable::Data), db::inList(institutions)),
                      {request.year})
               .toInt() > 0;
}

QList<ListCount> listCounts(const QList<qint64> &ids) {
    QList<int> lengths;
    int total = 0;
    for (qint64 id : ids) {
        lengths.append(int(QString::number(id).size()));
        total += lengths.last();
    }
    total += std::max(0, int(ids.size()) - 1);   // the separators
    QList<ListCount> out;
    int left = total;
    for (int i = 0; i < lengths.size(); ++i) {
        left = std::max(0, left - lengths[i] - 1);
        out.append({total, left});
    }
    return out;
}

Result run(const Request &request, const ExclList &excl, ProgressSink &progress, const ImageProgress &images) {
    checkLevels(request);
    const SharedState &st = shared();
    Result result;
    QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    QHash<qint64, QString> names;
    {
        QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, unit from administration"));
        while (q.next()) names.insert(q.value(0).toLongLong(), q.value(1).toString());
    }
    // Catalogue: ident -> the cells of its first entry.
    QHash<qint64, TableCells> cells;
    for (const CachedTable &t : st.Caches.tables) {
        const TableShape &a = t.shape;
        if (!cells.contains(a.ident))
            cells.insert(a.ident, TableCells{::cells::storedOfStruct(a.fixcols), ::cells::storedOfStruct(a.colcount),
                                                ::cells::storedOfStruct(a.fixrows), ::cells::storedOfStruct(a.rowcount), a.fixrows});
    }

    Receiver receiver(request.receiver);
    const QSqlDatabase d = receiver.d;
    const db::BulkWork bulk(d);

    // Institutions in id order, each once: their rows go to the ends of the
    // receiver's indexes (by institution, by table and institution) instead
    // of all over them.
    std::sort(institutions.begin(), institutions.end());
    institutions.erase(std::unique(institutions.begin(), institutions.end()), institutions.end());
    const QSet<qint64> units(institutions.cbegin(), institutions.cend());

    progress.setMax(int(institutions.size()));
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    // Institutions written; the gauge shows them a few times a second while
    // a statement runs or the writer waits for the readers.
    int done = 0;
    QElapsedTimer paced;
    paced.start();
    const auto keepPainting = [&] {
        if (paced.elapsed() < 50) return;
        paced.restart();
        pacer.report(done);
    };
    // Long statements keep the window painting and stop on "Отмена".
    bool stopped = false;
    db::StatementPoll poll(d, [&] {
        try {
            keepPainting();
            return true;
        } catch (const Cancelled &) {
            stopped = true;
            return false;
        }
    });
    const auto guardedStep = [&](const std::function<void()> &work) {
        try {
            work();
        } catch (const db::Error &) {
            if (stopped) throw Cancelled();
            throw;
        }
    };

    try {
        db::transaction(d, [&] {
            fillUnits(d, institutions);
            // The receiver's rows of the run's institutions go first, with one
            // statement; the sums are written after them.
            // Emptying a table or dropping an index spends its time in one
            // step of its statement: they run aside while the window paints.
            QList<std::pair<QString, QString>> indexes;
            if (request.institutions.isEmpty()) {
                const QString keep = hospitalIndex(d);
                const bool everyRow = holdsOnlyReplacedRows(d, request.year, units, !keep.isEmpty(), keepPainting);
                // Most rows of the level are replaced: its indexes are dropped
                // for the run and built again at its end, which costs less than
                // keeping them up to date row by row; but for the index by
                // institution, to whose end the rows are written in its order.
                indexes = otherIndexes(d, keep);
                for (const auto &index : std::as_const(indexes))
                    guardedStep([&] {
                        poll.execAside(QStringLiteral("drop index main.%1").arg(db::quoteId(index.first)));
                    });
                // Every row of the level: emptied at once, not row by row.
                if (everyRow)
                    guardedStep([&] {
                        poll.execAside(QStringLiteral("delete from %1").arg(ValueTableName(ValueTable::Data)));
                    });
            }
            guardedStep([&] {
                db::exec(d, QStringLiteral("delete from %1 where year=? and hospital in "
                                           "(select id from temp.merge_units)")
                                .arg(ValueTableName(ValueTable::Data)),
                         {request.year});
            });
            ValueRowWriter insert(d, ValueTable::Data, 0, request.year, kRowsPerInsert);   // institutions by write
            SourceReaders readers(request, institutions, excl, cells);
            const int chunk = std::max(1, int(institutions.size()) / kChunks);
            const QList<ListCount> unitCounts = listCounts(institutions);
            for (int u = 0; u < institutions.size(); ++u) {
                const qint64 h = institutions[u];
                if (u % chunk == 0) progress.setDetailText(names.value(h));
                if (images.institution) images.institution(unitCounts[u], names.value(h));
                // Sums by table, written by table, column and row: the matrices
                // of one institution at a time.
                std::map<qint64, ValueMatrix> sums;
                for (int i = 0; i < request.sources.size(); ++i) {
                    const SourceSums part = readers.take(i, keepPainting);
                    result.outside += part.outside;
                    qint64 lastTable = std::numeric_limits<qint64>::min();
                    ValueMatrix *m = nullptr;
                    for (const SourceRow &row : part.rows) {
                        if (row.table != lastTable) {
                            lastTable = row.table;
                            auto [it, added] = sums.try_emplace(row.table);
                            m = &it->second;
                            if (added) {
                                const TableCells &a = cells[row.table];
                                m->create(a.lowColumn, a.highColumn, a.lowRow, a.highRow);
                            }
                        }
                        m->add(row.column, row.row, row.value);
                    }
                }
                QList<ListCount> tableCounts;
                if (images.table) {
                    QList<qint64> tables;
                    for (const auto &entry : sums) tables.append(entry.first);
                    tableCounts = listCounts(tables);
                }
                guardedStep([&] {
                    int ti = 0;
                    for (const auto &[t, m] : sums) {
                        if (images.table) images.table(tableCounts[ti++]);
                        for (int c = m.lowColumn(); c <= m.highColumn(); ++c)
                            for (int r = m.lowRow(); r <= m.highRow(); ++r)
                                if (insert.write(h, t, c, r, m.at(c, r))) ++result.cells;
                        pacer.tick();
                    }
                });
                done = u + 1;
                if (done % chunk == 0 || done == institutions.size()) pacer.report(done);
            }
            guardedStep([&] { insert.flush(); });
            if (!indexes.isEmpty()) {
                // The sorts that build the indexes again share out their work.
                const SorterThreads threads(d);
                for (const auto &index : std::as_const(indexes)) guardedStep([&] { poll.execAside(index.second); });
            }
            result.institutions = int(institutions.size());
            dropUnits(d);
        });
    } catch (const db::Error &e) {
        dropUnitsQuietly(d);
        // The transaction rolled back: the user learns why and that the
        // levels are as they were, not which statement failed.
        QString why = e.reason();
        while (why.endsWith(QLatin1Char('.'))) why.chop(1);
        throw db::Error(QStringLiteral("Суммирование не выполнено: %1. Данные уровней не изменены.").arg(why));
    } catch (...) {
        dropUnitsQuietly(d);
        throw;
    }
    return result;
}

} // namespace merge
