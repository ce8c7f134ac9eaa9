#include "controls/ZenkorDescribe.h"
#include "engine/CellNumbering.h"

#include "controls/ZenkorImporter.h"
#include "engine/TableShape.h"
#include "engine/Lookups.h"
#include "engine/FormulaParser.h"
#include "engine/ProgressSink.h"
#include "core/ProgressWindow.h"
#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QCoreApplication>
#include <QSqlQuery>

namespace zenkor {

namespace {

// Each group of the line whose list is one whole number the map knows gets
// the map's number; a group inside another one's list is part of that list.
QString renumber(const QString &side, const NameValueList *map, notation::Line line) {
    if (!map) return side;
    struct Edit {
        qsizetype from, to;
        QString value;
    };
    QList<Edit> edits;
    qsizetype next = 0;
    for (const notation::Group &g : notation::FindGroups(notation::Upper(side), false)) {
        if (g.line != line || g.at < next) continue;
        if (g.close < 0) break;
        next = g.close + 1;
        QList<notation::NumberSpan> items;
        const QStringView list = QStringView(side).mid(g.open + 1, g.close - g.open - 1);
        if (!notation::ReadListItems(list, items, false) || items.size() != 1 ||
            items[0].first != items[0].second || items[0].first >= notation::kHugeBound)
            continue;
        const QString value = map->value(QString::number(items[0].first));
        if (!value.isEmpty()) edits.append({g.open + 1, g.close, value});
    }
    QString s = side;
    for (qsizetype i = edits.size() - 1; i >= 0; --i)
        s.replace(edits[i].from, edits[i].to - edits[i].from, edits[i].value);
    return s;
}

} // namespace

QString RenumberRowRefs(const QString &side, const NameValueList *map) {
    return renumber(side, map, notation::Line::Rows);
}

QString RenumberColumnRefs(const QString &side, const NameValueList *map) {
    return renumber(side, map, notation::Line::Columns);
}

} // namespace zenkor

namespace {

const QString kCandidates = QStringLiteral(
    " where (commnt is null or commnt = '')"
    " and ("
    "  (project_formid > 0 and project_tble is not null and project_tble <> '')"
    "  or (project_formid = 0 or project_formid is null) and (project_tble is null or project_tble = '')"
    "  or (project_formid > 0 and (project_tble is null or project_tble = ''))"
    ")");

QString describeSide(QString s, const ZenkorNumbering &n) {
    s = zenkor::RenumberRowRefs(s, &n.rows);
    s = zenkor::RenumberColumnRefs(s, &n.columns);
    s.replace(u'[', u'(');
    s.replace(u']', u')');
    s = s.toLower();
    s.replace(u',', u'+');
    s.replace(QStringLiteral(".."), QStringLiteral("+..+"));
    return s;
}

} // namespace

ZenkorNumbering TControlMatchImporter::LoadRowColNumbering(qint64 tableIdent) {
    ZenkorNumbering out;
    const QString ident = QString::number(tableIdent);
    const QString prefix = ident + u'_';
    if (!LoadedNumberingTables.contains(ident)) {
        const QSqlDatabase d = db::connection(Query.isEmpty() ? db::kMain : Query);
        const std::optional<TableShape> g = FindTableShape(d, tableIdent);
        if (!g) return out;
        const int fixcols = g->fixcols;
        const int fixrows = g->fixrows;
        // Entry: the cell's text when it is a whole number, else the position in the body.
        auto add = [&](NameValueList &map, NameValueList &cache, int position, const QString &raw) {
            const QString txt = text::decodeColon(raw).trimmed();
            if (txt.isEmpty()) return;
            bool whole = false;
            txt.toLongLong(&whole);
            const QString name = whole ? txt : QString::number(position);
            map.setValue(name, name);
            cache.setValue(prefix + name, name);
        };
        if (fixcols > 0) {
            QSqlQuery q = db::exec(d,
                                   QStringLiteral("select \"row\", txt from titles where \"table\"=? and \"column\"=? "
                                                  "and \"row\">=? order by \"row\""),
                                   {tableIdent, fixcols - 1, cells::structRowOfGrid(0, fixrows)});
            while (q.next())
                add(out.rows, RowNumberCache, cells::refRowOfStruct(q.value(0).toInt(), fixrows), q.value(1).toString());
        }
        if (fixrows > 0) {
            QSqlQuery q = db::exec(d,
                                   QStringLiteral("select \"column\", txt from titles where \"table\"=? and \"row\"=? "
                                                  "and \"column\">=? order by \"column\""),
                                   {tableIdent, fixrows, fixcols});
            while (q.next())
                add(out.columns, ColumnNumberCache, q.value(0).toInt() - fixcols + 1, q.value(1).toString());
        }
        LoadedNumberingTables << ident;
        out.loaded = true;
        return out;
    }
    for (int i = 0; i < RowNumberCache.count(); ++i)
        if (RowNumberCache.nameAt(i).startsWith(prefix))
            out.rows.setValue(RowNumberCache.nameAt(i).mid(prefix.size()), RowNumberCache.valueAt(i));
    for (int i = 0; i < ColumnNumberCache.count(); ++i)
        if (ColumnNumberCache.nameAt(i).startsWith(prefix))
            out.columns.setValue(ColumnNumberCache.nameAt(i).mid(prefix.size()), ColumnNumberCache.valueAt(i));
    out.loaded = true;
    return out;
}

bool TControlMatchImporter::FindProjectTable(const QString &lft, const QString &rght, qint64 &formId,
                                             QString &tableName) {
    tableName.clear();
    const bool formGiven = formId > 0;
    if (!formGiven) formId = 0;
    if (lft.isEmpty() && rght.isEmpty()) return false;
    const QSqlDatabase d = db::connection(Query.isEmpty() ? db::kMain : Query);
    for (const QString &side : {lft, rght}) {
        for (const QString &term : SplitFormulaTerms(side)) {
            const QString t = term.trimmed();
            if (t.isEmpty() || IsOperatorItem(t)) continue;
            const FormTableRef ref = ParseFormTableRef(t, 0);
            if (!formGiven && !ref.form.isEmpty()) formId = GetFormIdByName(ref.form);
            if (!ref.table.isEmpty()) {
                const QString &name = ref.number;
                if (formId > 0) {
                    const QVariant v = db::scalar(
                        d, QStringLiteral("select tablen from tables where form=? and "
                                          "(upper(trim(tablen))=upper(trim(?)) or upper(trim(tablen))=upper(trim(?)))"),
                        {formId, name, QStringLiteral("(") + name + QStringLiteral(")")});
                    if (v.isValid() && !v.isNull()) tableName = v.toString();
                }
            }
            if (formId > 0 && !tableName.isEmpty()) return true;
        }
    }
    return false;
}

QString TControlMatchImporter::BuildControlDescription(qint64 formId, const QString &tableName, const QString &lft,
                                                       const QString &rght, const QString &reltion,
                                                       const QString &cycl) {
    const qint64 ident = GetTableIdentByFormId(QString::number(formId), tableName);
    if (ident <= 0) return QString();
    ZenkorNumbering numbering;
    try {
        numbering = LoadRowColNumbering(ident);
    } catch (const std::exception &) {
        return QString();
    }
    if (!numbering.loaded) return QString();

    const QSqlDatabase d = db::connection(Query.isEmpty() ? db::kMain : Query);
    const QString key = QString::number(ident);
    if (!TableGeometryCache.contains(key)) {
        const std::optional<TableShape> g = FindTableShape(d, ident);
        if (!g) return QString();
        TableGeometryCache.setValue(key, QStringList{QString::number(g->fixcols), QString::number(g->fixrows),
                                                     QString::number(g->colcount), QString::number(g->rowcount)}
                                             .join(u','));
    }
    const QStringList geometry = TableGeometryCache.value(key).split(u',');
    const int fixcols = geometry.value(0).toInt();
    const int fixrows = geometry.value(1).toInt();

    const QString left = describeSide(lft, numbering);
    const QString right = describeSide(rght, numbering);

    const notation::Cycle cycle = notation::ReadCycle(cycl);
    QString kind, list;
    bool all = false;
    // The list as the rule check and the rule run read it.
    const QString cycleList = cycle.list();
    // "All" means exactly the body: rows 1..rowcount-fixrows, columns
    // fixcols+1..colcount in the rule notation, the list read as a whole.
    auto coversExactly = [](const QString &l, qint64 first, qint64 last) {
        QList<notation::NumberSpan> spans;
        if (first > last || !notation::ReadNumberSpans(l, spans) || spans.isEmpty()) return false;
        spans = notation::CanonicalSpans(spans);
        return spans.size() == 1 && spans.first() == notation::NumberSpan(first, last);
    };
    if (cycle.found && cycle.line == notation::Line::Rows) {
        kind = QStringLiteral("стр");
        list = cycleList;
        const int rowcount = geometry.value(3).toInt();
        all = coversExactly(list, 1, rowcount - fixrows);
        if (!all && !list.isEmpty()) {
            list.replace(u',', u'+');
            list.replace(QStringLiteral(".."), QStringLiteral("+..+"));
        }
    } else if (cycle.found) {
        kind = QStringLiteral("гр");
        list = cycleList;
        const int colcount = geometry.value(2).toInt();
        all = coversExactly(list, cells::refColumnOfGrid(0, fixcols), colcount);
    }

    QString description = left + u' ' + reltion + u' ' + right;
    if (kind == QStringLiteral("гр")) {
        if (all) description += QStringLiteral(" по всем графам");
        else if (!list.isEmpty()) description += QStringLiteral(" по гр[") + list + u']';
    } else if (kind == QStringLiteral("стр")) {
        if (all) description += QStringLiteral(" по всем строкам");
        else if (!list.isEmpty()) description += QStringLiteral(" по стр[") + list + u']';
    }
    return description;
}

int TControlMatchImporter::UpdateControlDescriptions(ProgressSink *progress) {
    if (Query.isEmpty()) return 0;
    QSqlDatabase d = db::connection(Query);
    {
        const int count = db::scalar(d, QStringLiteral("select count(*) as cnt from zenkor_controls") + kCandidates)
                              .toInt();
        if (count == 0) return 0;
        if (progress) {
            progress->setMax(count);
            progress->setPosition(0);
            progress->setStatusText(QStringLiteral("Обновление описаний контролей..."));
        }
        struct Row {
            qint64 id, formId;
            QString table, lft, rght, reltion, cycl;
        };
        QList<Row> rows;
        {
            QSqlQuery q = db::exec(d, QStringLiteral("select id, project_formid, project_tble, lft, rght, reltion, "
                                                     "cycl, commnt from zenkor_controls") +
                                          kCandidates + QStringLiteral(" order by id"));
            while (q.next())
                rows << Row{q.value(0).toLongLong(), q.value(1).toLongLong(), q.value(2).toString(),
                            q.value(3).toString(),   q.value(4).toString(),   q.value(5).toString(),
                            q.value(6).toString()};
        }
        int processed = 0, written = 0;
        // One transaction (a savepoint inside the import run's): "Отмена" or a
        // failed commit leaves the descriptions as they were.
        db::transaction(d, [&] {
            for (const Row &r : rows) {
                qint64 formId = r.formId;
                QString table = notation::StoredTableKey(r.table);
                bool passOver = false;
                if (table.isEmpty() && formId >= 0) {
                    QString found;
                    if (FindProjectTable(r.lft, r.rght, formId, found)) table = notation::StoredTableKey(found);
                    else passOver = true;
                }
                if (!passOver) {
                    if (progress)
                        progress->setDetailText(QStringLiteral("Обработка записи ") + QString::number(processed + 1) +
                                                QStringLiteral(" из ") + QString::number(count));
                    QString description;
                    if (formId > 0 && !table.isEmpty()) {
                        try {
                            description = BuildControlDescription(formId, table, r.lft, r.rght, r.reltion, r.cycl);
                        } catch (const std::exception &) {
                            description.clear();
                        }
                    }
                    if (!description.isEmpty()) {
                        try {
                            db::execRow(d, QStringLiteral("update zenkor_controls set commnt=? where id=?"),
                                        {text::entry(description), r.id},
                                        QStringLiteral("Импортированный контроль удален"));
                            ++written;
                        } catch (const AppError &) {
                        }
                    }
                }
                ++processed;
                if (progress) {
                    progress->setPosition(processed);
                    progress->checkCancelled();   // the transaction rolls back: descriptions stay as they were
                }
            }
        });
        return written;
    }
}
