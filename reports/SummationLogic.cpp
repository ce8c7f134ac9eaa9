#include "reports/SummationLogic.h"

#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/ValueMatrix.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <limits>
#include <map>
#include <memory>

namespace merge {

QList<Level> subReportLevels() {
    QList<Level> out;
    QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, name from subreps order by id"));
    while (q.next()) out.append(Level{q.value(0).toLongLong(), q.value(1).toString()});
    return out;
}

QString levelFile(qint64 levelId) {
    return shared().yearFolder() + QStringLiteral("data") + QString::number(levelId) + QStringLiteral(".mdb");
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
    m_entries.clear();
    if (!QFileInfo::exists(path)) return;
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw db::Error(QStringLiteral("Не удалось прочитать файл %1: %2").arg(QDir::toNativeSeparators(path), error));
    for (const QString &line : lines) addLine(line);
}

void ExclList::addLine(const QString &rawLine) {
    const QString line = text::upper(rawLine);
    if (line.trimmed().isEmpty()) return;
    QString rest = line;
    const QString form = cutField(rest).trimmed();
    const QString table = cutField(rest).trimmed();
    const QString column = cutField(rest);
    const QString rowsField = rest;
    if (form.isEmpty()) return;

    QString sql = QStringLiteral("select ident from tables where form in "
                                 "(select id from forms where upper(formname)=?)");
    QVariantList params{form};
    if (!table.isEmpty()) {
        sql += QStringLiteral(" and tablen=?");
        params.append(table);
    }
    bool anyColumn = false, anyRow = false;
    const QSet<int> cols = numbers(column, &anyColumn);
    const QSet<int> rows = numbers(rowsField, &anyRow);
    for (const QVariant &v : db::column(db::connection(db::kMain), sql, params)) {
        Entry &e = m_entries[v.toLongLong()];
        // A position is non-summable when its column or its row is listed;
        // a line naming neither covers the whole table.
        if (!anyColumn && !anyRow) e.whole = true;
        e.columns.unite(cols);
        e.rows.unite(rows);
    }
}

bool ExclList::summable(qint64 ident, int storedColumn, int storedRow, int fixrows) const {
    const auto it = m_entries.constFind(ident);
    if (it == m_entries.constEnd()) return true;
    const Entry &e = it.value();
    if (e.whole) return false;
    if (e.columns.contains(storedColumn - 1)) return false;
    if (e.rows.contains(storedRow - 1 - fixrows)) return false;
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

// The source levels attached to the receiver's connection as src0, src1, ...
// for the time of the run.
struct Attached {
    QSqlDatabase d;
    QStringList aliases;
    Attached(const QSqlDatabase &db, const QList<qint64> &levels) : d(db) {
        for (int i = 0; i < levels.size(); ++i) {
            const QString alias = QStringLiteral("src%1").arg(i);
            db::attach(d, levelFile(levels[i]), alias);
            aliases.append(alias);
            if (db::scalar(d, QStringLiteral("select count(*) from %1.sqlite_master where type='table' and "
                                             "lower(name)='data'").arg(alias)).toInt() == 0)
                throw db::Error(QStringLiteral("В файле %1 нет таблицы значений. Суммирование не выполнено.")
                                    .arg(QDir::toNativeSeparators(levelFile(levels[i]))));
        }
    }
    ~Attached() {
        for (const QString &a : aliases) {
            try {
                db::detach(d, a);
            } catch (const db::Error &) {
            }
        }
    }
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

// The institutions in run order, for the statements of a share of them.
void fillUnits(const QSqlDatabase &d, const QList<qint64> &institutions) {
    db::exec(d, QStringLiteral("create temp table merge_units (n integer primary key, id integer)"));
    QSqlQuery unit(d);
    unit.prepare(QStringLiteral("insert into temp.merge_units (n, id) values (?, ?)"));
    for (int i = 0; i < institutions.size(); ++i) {
        unit.bindValue(0, i);
        unit.bindValue(1, institutions[i]);
        if (!unit.exec()) throw db::Error(unit.lastError().text());
    }
}

void dropUnits(const QSqlDatabase &d) { db::exec(d, QStringLiteral("drop table if exists temp.merge_units")); }

} // namespace

bool receiverHoldsValues(const Request &request) {
    checkLevels(request);
    const QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    db::ScopedConnection receiver(levelFile(request.receiver), db::OpenMode::ReadOnly, QStringLiteral("mergechk"));
    if (!db::tableExists(receiver.db(), QStringLiteral("data"))) return false;
    return db::scalar(receiver.db(),
                      QStringLiteral("select exists (select 1 from data where year=? and hospital in (%1))")
                          .arg(db::inList(institutions)),
                      {request.year})
               .toInt() > 0;
}

Result run(const Request &request, const ExclList &excl, ProgressSink &progress) {
    checkLevels(request);
    const SharedState &st = shared();
    Result result;
    const QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    QHash<qint64, QString> names;
    {
        QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, unit from administration"));
        while (q.next()) names.insert(q.value(0).toLongLong(), q.value(1).toString());
    }
    // Catalogue: ident -> its first entry.
    QHash<qint64, const TableShape *> catalogue;
    for (const CachedTable &t : st.Caches.tables)
        if (!catalogue.contains(t.shape.ident)) catalogue.insert(t.shape.ident, &t.shape);

    Receiver receiver(request.receiver);
    const QSqlDatabase d = receiver.d;
    const Attached attached(d, request.sources);
    const db::BulkWork bulk(d);

    progress.setMax(int(institutions.size()));
    progress.setPosition(0);
    ProgressPacer pacer(progress);
    // Long statements keep the window painting and stop on "Отмена".
    bool stopped = false;
    const db::StatementPoll poll(d, [&] {
        try {
            pacer.tick();
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

    // A share of the institutions per statement: the receiver's values of
    // the share are deleted with one statement, each source is read with one
    // statement and added up cell by cell, the sums written at once.
    const QString deleteSql = QStringLiteral("delete from data where year=? and hospital in "
                                             "(select id from temp.merge_units where n between ? and ?)");
    try {
        db::transaction(d, [&] {
            fillUnits(d, institutions);
            // Replacing the whole level: its indexes are dropped for the run
            // and built again at its end, which costs less than keeping them
            // up to date row by row.
            QStringList indexes;
            if (request.institutions.isEmpty()) {
                // When the run replaces every row of the level, the rows go
                // at once (a file-wide delete, not one row at a time).
                const bool everyRow =
                    db::scalar(d,
                               QStringLiteral("select not exists (select 1 from data where year is not ? or hospital "
                                              "is null or hospital not in (select id from temp.merge_units))"),
                               {request.year})
                        .toInt() != 0;
                if (everyRow) guardedStep([&] { db::exec(d, QStringLiteral("delete from data")); });
                for (const QVariant &v : db::column(d, QStringLiteral("select sql from main.sqlite_master where "
                                                                      "type='index' and lower(tbl_name)='data' "
                                                                      "and sql is not null")))
                    indexes.append(v.toString());
                for (const QVariant &v : db::column(d, QStringLiteral("select name from main.sqlite_master where "
                                                                      "type='index' and lower(tbl_name)='data' "
                                                                      "and sql is not null")))
                    db::exec(d, QStringLiteral("drop index main.%1").arg(db::quoteId(v.toString())));
                if (!everyRow) guardedStep([&] {
                    db::exec(d, QStringLiteral("delete from data where year=? and hospital in "
                                               "(select id from temp.merge_units)"),
                             {request.year});
                });
            }
            db::ValueRowInsert insert(d, QStringLiteral("data"));
            const int chunk = std::max(1, int(institutions.size()) / kChunks);
            for (int lo = 0; lo < institutions.size(); lo += chunk) {
                const int hi = std::min(int(institutions.size()), lo + chunk) - 1;
                progress.setDetailText(names.value(institutions[lo]));
                const QVariantList params{request.year, lo, hi};
                if (indexes.isEmpty()) guardedStep([&] { db::exec(d, deleteSql, params); });
                // Sums by table and institution: written in that order, the
                // rows go to the end of the index by table, not all over it.
                std::map<std::pair<qint64, qint64>, ValueMatrix> sums;
                for (int i = 0; i < request.sources.size(); ++i) {
                    const bool fixed = request.sources[i] == request.fixedSource;
                    guardedStep([&] {
                        for (int u = lo; u <= hi; ++u) {
                            const qint64 h = institutions[u];
                            qint64 lastTable = std::numeric_limits<qint64>::min();
                            ValueMatrix *lastSums = nullptr;
                            int lastFixrows = 0;
                            db::readInstitutionRows(
                                d, attached.aliases[i] + QStringLiteral(".data"), h, request.year,
                                QStringLiteral("\"table\", \"column\", \"row\", data"), 4, [&](const double *f) {
                                    pacer.tick();
                                    const qint64 t = qint64(f[0]);
                                    // Rows come table by table: the last table's
                                    // entry and sums serve the rows after it.
                                    if (t != lastTable) {
                                        lastTable = t;
                                        lastSums = nullptr;
                                        const auto cat = catalogue.constFind(t);
                                        if (cat == catalogue.constEnd()) return;   // no longer in the catalogue
                                        const TableShape &a = *cat.value();
                                        lastFixrows = a.fixrows;
                                        auto it = sums.find({t, h});
                                        if (it == sums.end()) {
                                            it = sums.emplace(std::make_pair(t, h), ValueMatrix()).first;
                                            it->second.create(a.fixcols + 1, a.colcount + 1, a.fixrows + 1, a.rowcount + 1);
                                        }
                                        lastSums = &it->second;
                                    }
                                    if (!lastSums) return;
                                    const int c = int(f[1]), r = int(f[2]);
                                    if (!fixed && !excl.summable(t, c, r, lastFixrows)) return;
                                    if (!lastSums->contains(c, r)) {   // the table has no such cell (any more)
                                        ++result.outside;
                                        return;
                                    }
                                    lastSums->add(c, r, f[3]);
                                });
                        }
                    });
                }
                for (const auto &[key, m] : sums) {
                    for (int c = m.lowColumn(); c <= m.highColumn(); ++c)
                        for (int r = m.lowRow(); r <= m.highRow(); ++r) {
                            const double v = m.at(c, r);
                            if (v == 0) continue;
                            insert.add(key.second, num::stored(v), request.year, key.first, c, r);
                            ++result.cells;
                        }
                    pacer.tick();
                }
                pacer.report(hi + 1);
            }
            for (const QString &sql : indexes) guardedStep([&] { db::exec(d, sql); });
            result.institutions = int(institutions.size());
            dropUnits(d);
        });
    } catch (...) {
        try {
            dropUnits(d);
        } catch (const db::Error &) {
        }
        throw;
    }
    return result;
}

} // namespace merge
