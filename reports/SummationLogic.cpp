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
#include <memory>
#include <vector>

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

struct Source {
    qint64 id;
    std::unique_ptr<db::ScopedConnection> connection;
    QSqlDatabase d;
};

QString sameFile(const QString &a) { return QFileInfo(a).canonicalFilePath(); }

} // namespace

Result run(const Request &request, const ExclList &excl, const Step &step, const TableStep &tableStep) {
    const SharedState &s = shared();
    Result result;
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

    // Catalogue: ident -> its first entry.
    QHash<qint64, int> catalogue;
    for (int i = 0; i < s.TablesArray.size(); ++i)
        if (!catalogue.contains(s.TablesArray[i][1])) catalogue.insert(s.TablesArray[i][1], i);

    std::vector<Source> sources;
    for (qint64 id : request.sources) {
        Source src{id, std::make_unique<db::ScopedConnection>(levelFile(id), db::OpenMode::ReadOnly,
                                                              QStringLiteral("mergesrc")),
                   QSqlDatabase()};
        src.d = src.connection->db();
        if (!db::tableExists(src.d, QStringLiteral("data")))
            throw db::Error(QStringLiteral("В файле %1 нет таблицы значений. Суммирование не выполнено.")
                                .arg(QDir::toNativeSeparators(levelFile(id))));
        sources.push_back(std::move(src));
    }
    // The receiver may be the open values database: then its own connection
    // writes, so that no second writer competes with it.
    std::unique_ptr<db::ScopedConnection> receiverConnection;
    QSqlDatabase receiver;
    const QString receiverFile = levelFile(request.receiver);
    if (db::isOpen(db::kData) && sameFile(db::fileOf(db::kData)) == sameFile(receiverFile)) {
        receiver = db::connection(db::kData);
    } else {
        receiverConnection = std::make_unique<db::ScopedConnection>(receiverFile, db::OpenMode::ReadWrite,
                                                                    QStringLiteral("mergedst"));
        receiver = receiverConnection->db();
    }

    const QList<qint64> institutions = request.institutions.isEmpty() ? allInstitutions() : request.institutions;
    QHash<qint64, QString> names;
    {
        QSqlQuery q = db::exec(db::connection(db::kMain), QStringLiteral("select id, unit from administration"));
        while (q.next()) names.insert(q.value(0).toLongLong(), q.value(1).toString());
    }

    db::transaction(receiver, [&] {
        QSqlQuery del(receiver);
        del.prepare(QStringLiteral("delete from data where hospital=? and year=?"));
        QSqlQuery ins(receiver);
        ins.prepare(QStringLiteral("insert into data (hospital, data, year, \"table\", \"column\", \"row\") "
                                   "values (?, ?, ?, ?, ?, ?)"));
        for (int i = 0; i < institutions.size(); ++i) {
            const qint64 h = institutions[i];
            if (step) step(i, int(institutions.size()), names.value(h));
            del.addBindValue(h);
            del.addBindValue(request.year);
            if (!del.exec())
                throw db::Error(QStringLiteral("Ошибка удаления значений: %1").arg(del.lastError().text()));

            QMap<qint64, ValueMatrix> sums;   // by table ident, in ident order
            for (const Source &src : sources) {
                const bool fixed = src.id == request.fixedSource;
                QSqlQuery q = db::exec(src.d,
                                       QStringLiteral("select \"table\", \"column\", \"row\", data from data "
                                                      "where hospital=? and year=?"),
                                       {h, request.year});
                while (q.next()) {
                    const qint64 t = q.value(0).toLongLong();
                    const auto cat = catalogue.constFind(t);
                    if (cat == catalogue.constEnd()) continue;   // no longer in the catalogue
                    const auto &a = s.TablesArray[cat.value()];
                    const int c = q.value(1).toInt(), r = q.value(2).toInt();
                    if (!fixed && !excl.summable(t, c, r, a[5])) continue;
                    auto it = sums.find(t);
                    if (it == sums.end()) {
                        it = sums.insert(t, ValueMatrix());
                        it->create(a[4] + 1, a[2] + 1, a[5] + 1, a[3] + 1);
                    }
                    if (!it->contains(c, r)) {   // the table has no such cell (any more)
                        ++result.outside;
                        continue;
                    }
                    it->add(c, r, q.value(3).toDouble());
                }
            }
            int tablesDone = 0;
            for (auto it = sums.cbegin(); it != sums.cend(); ++it) {
                if (tableStep) tableStep(tablesDone++, int(sums.size()));
                const ValueMatrix &m = it.value();
                for (int c = m.lowColumn(); c <= m.highColumn(); ++c)
                    for (int r = m.lowRow(); r <= m.highRow(); ++r) {
                        const double v = m.at(c, r);
                        if (v == 0) continue;
                        ins.addBindValue(h);
                        ins.addBindValue(num::general(v).toDouble());
                        ins.addBindValue(request.year);
                        ins.addBindValue(it.key());
                        ins.addBindValue(c);
                        ins.addBindValue(r);
                        if (!ins.exec())
                            throw db::Error(QStringLiteral("Ошибка записи значений: %1").arg(ins.lastError().text()));
                        ++result.cells;
                    }
            }
            ++result.institutions;
        }
    });
    return result;
}

} // namespace merge
