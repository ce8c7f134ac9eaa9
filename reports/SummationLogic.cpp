#include "reports/SummationLogic.h"

#include "core/NumberFormat.h"
#include "core/SharedState.h"
#include "core/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
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

// Statements per run: each sums a share of the institutions, and the gauge
// moves between them.
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

// Temporary tables the statements join: the institutions in run order, the
// cells of each catalogue table and the non-summable positions.
void fillRunTables(const QSqlDatabase &d, const QList<qint64> &institutions, const ExclList &excl) {
    const SharedState &s = shared();
    for (const char *sql : {"create temp table merge_units (n integer primary key, id integer)",
                            "create temp table merge_cells (ident integer primary key, lowc integer, "
                            "highc integer, lowr integer, highr integer)",
                            "create temp table merge_whole (ident integer primary key)",
                            "create temp table merge_xcol (ident integer, c integer, primary key (ident, c))",
                            "create temp table merge_xrow (ident integer, r integer, primary key (ident, r))"})
        db::exec(d, QString::fromLatin1(sql));
    QSqlQuery unit(d);
    unit.prepare(QStringLiteral("insert into temp.merge_units (n, id) values (?, ?)"));
    for (int i = 0; i < institutions.size(); ++i) {
        unit.bindValue(0, i);
        unit.bindValue(1, institutions[i]);
        if (!unit.exec()) throw db::Error(unit.lastError().text());
    }
    QSet<qint64> seen;
    for (const auto &a : s.TablesArray) {
        const qint64 ident = a[1];
        if (seen.contains(ident)) continue;   // the first entry of an ident counts
        seen.insert(ident);
        // Stored cells: columns fixcols+1 .. colcount+1, rows fixrows+1 .. rowcount+1.
        db::exec(d, QStringLiteral("insert into temp.merge_cells values (?, ?, ?, ?, ?)"),
                 {ident, a[4] + 1, a[2] + 1, a[5] + 1, a[3] + 1});
        if (!excl.contains(ident)) continue;
        const ExclList::Entry e = excl.entry(ident);
        if (e.whole) db::exec(d, QStringLiteral("insert into temp.merge_whole values (?)"), {ident});
        for (int c : e.columns)
            db::exec(d, QStringLiteral("insert or ignore into temp.merge_xcol values (?, ?)"), {ident, c + 1});
        for (int r : e.rows)
            db::exec(d, QStringLiteral("insert or ignore into temp.merge_xrow values (?, ?)"),
                     {ident, r + 1 + a[5]});
    }
}

void dropRunTables(const QSqlDatabase &d) {
    for (const char *t : {"merge_units", "merge_cells", "merge_whole", "merge_xcol", "merge_xrow"})
        db::exec(d, QStringLiteral("drop table if exists temp.%1").arg(QLatin1String(t)));
}

// Rows of one source for the institutions n between ?1 and ?2 and year ?3
// that take part: of a catalogue table, and summable unless the source fills
// the non-summable positions. `inside` picks the rows inside their table's
// cells, or those outside.
QString sourceRows(const QString &alias, bool fixed, bool inside) {
    QString sql = QStringLiteral("select s.hospital h, s.\"table\" t, s.\"column\" c, s.\"row\" r, s.data v "
                                 "from %1.data s join temp.merge_units u on u.id=s.hospital "
                                 "join temp.merge_cells k on k.ident=s.\"table\" "
                                 "where u.n between ?1 and ?2 and s.year=?3 and ")
                      .arg(alias);
    sql += inside ? QStringLiteral("s.\"column\" between k.lowc and k.highc and s.\"row\" between k.lowr and k.highr")
                  : QStringLiteral("not (s.\"column\" between k.lowc and k.highc and "
                                   "s.\"row\" between k.lowr and k.highr)");
    if (!fixed)
        sql += QStringLiteral(" and not exists (select 1 from temp.merge_whole w where w.ident=s.\"table\")"
                              " and not exists (select 1 from temp.merge_xcol x where x.ident=s.\"table\" "
                              "and x.c=s.\"column\")"
                              " and not exists (select 1 from temp.merge_xrow x where x.ident=s.\"table\" "
                              "and x.r=s.\"row\")");
    return sql;
}

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
    Result result;
    const QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    QHash<qint64, QString> names;
    {
        QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, unit from administration"));
        while (q.next()) names.insert(q.value(0).toLongLong(), q.value(1).toString());
    }

    Receiver receiver(request.receiver);
    const QSqlDatabase d = receiver.d;
    db::registerRounding(d);
    const Attached attached(d, request.sources);

    QStringList inside, outside;
    for (int i = 0; i < request.sources.size(); ++i) {
        const bool fixed = request.sources[i] == request.fixedSource;
        inside.append(sourceRows(attached.aliases[i], fixed, true));
        outside.append(sourceRows(attached.aliases[i], fixed, false));
    }
    // One value per cell: the sum over the sources, rounded as sums are
    // stored unless a single source gave it; zero sums are not stored.
    const QString insertSql =
        QStringLiteral("insert into data (hospital, data, year, \"table\", \"column\", \"row\") "
                       "select h, case when count(*)=1 then sum(v) else round15(sum(v)) end, ?3, t, c, r from (") +
        inside.join(QStringLiteral(" union all ")) +
        QStringLiteral(") group by h, t, c, r having sum(v)<>0");
    const QString outsideSql =
        QStringLiteral("select count(*) from (") + outside.join(QStringLiteral(" union all ")) + QLatin1Char(')');
    const QString deleteSql = QStringLiteral("delete from data where year=?3 and hospital in "
                                             "(select id from temp.merge_units where n between ?1 and ?2)");

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
    // The statements name the chunk's bounds and the year as ?1, ?2, ?3:
    // numbers, put in as text.
    const auto exec = [&](QString sql, const QList<int> &params) {
        for (int i = params.size(); i >= 1; --i)
            sql.replace(QStringLiteral("?%1").arg(i), QString::number(params[i - 1]));
        try {
            return db::exec(d, sql);
        } catch (const db::Error &) {
            if (stopped) throw Cancelled();
            throw;
        }
    };

    try {
        db::transaction(d, [&] {
            fillRunTables(d, institutions, excl);
            const int chunk = std::max(1, int(institutions.size()) / kChunks);
            for (int lo = 0; lo < institutions.size(); lo += chunk) {
                const int hi = std::min(int(institutions.size()), lo + chunk) - 1;
                progress.setDetailText(names.value(institutions[lo]));
                const QList<int> params{lo, hi, request.year};
                exec(deleteSql, params);
                QSqlQuery ins = exec(insertSql, params);
                result.cells += ins.numRowsAffected();
                QSqlQuery out = exec(outsideSql, params);
                if (out.next()) result.outside += out.value(0).toInt();
                pacer.report(hi + 1);
            }
            result.institutions = int(institutions.size());
            dropRunTables(d);
        });
    } catch (...) {
        try {
            dropRunTables(d);
        } catch (const db::Error &) {
        }
        throw;
    }
    return result;
}

} // namespace merge
