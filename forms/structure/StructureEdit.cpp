#include "forms/structure/StructureEdit.h"

#include "engine/Caches.h"
#include "engine/CatalogGate.h"
#include "engine/CellNumbering.h"
#include "engine/Notation.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/WorkModes.h"
#include "engine/TableLimits.h"
#include "engine/TextUtil.h"
#include "forms/output/WordOutput.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QFileInfo>
#include <QSet>
#include <QSqlQuery>
#include <algorithm>
#include <cmath>
#include <limits>

namespace structedit {

namespace {

const QString kNewFont = QStringLiteral("Arial Cyr");
const QString kNewCode = QStringLiteral("CC00");

// Both numbers of one side of a key: "R<row>C<column>".
void parseKeyPart(const QString &part, int &column, int &row) {
    const int r = int(part.indexOf(u'R', 0, Qt::CaseInsensitive));
    const int c = int(part.indexOf(u'C', 0, Qt::CaseInsensitive));
    row = (r >= 0 && c > r) ? part.mid(r + 1, c - r - 1).toInt() : 0;
    column = c >= 0 ? part.mid(c + 1).toInt() : 0;
}

// Values files attached to the main connection for the length of one change.
class AttachedValues {
public:
    AttachedValues(const QSqlDatabase &mainDb, const QStringList &files) : m_db(mainDb) {
        int n = 0;
        try {
            for (const QString &file : files) {
                const QString alias = QStringLiteral("structvals%1").arg(n++);
                db::attach(m_db, file, alias);
                m_aliases.append(alias);
            }
        } catch (...) {
            detachAll();
            throw;
        }
    }
    ~AttachedValues() { detachAll(); }
    AttachedValues(const AttachedValues &) = delete;
    AttachedValues &operator=(const AttachedValues &) = delete;

    // Runs the statement (with %1 for the qualified value table) on every
    // value table of every attached file.
    void run(const QString &sqlWithTable, const QVariantList &params) const {
        for (const QString &alias : m_aliases) {
            for (const ValueTable valueTable : {ValueTable::Data, ValueTable::RepData}) {
                const QString table = ValueTableName(valueTable);
                const QVariant has = db::scalar(
                    m_db,
                    QStringLiteral("select count(*) from %1.sqlite_master where type='table' and lower(name)=?")
                        .arg(db::quoteId(alias)),
                    {table});
                if (has.toInt() == 0) continue;
                db::exec(m_db, sqlWithTable.arg(db::quoteId(alias) + u'.' + table), params);
            }
        }
    }

private:
    void detachAll() {
        for (const QString &alias : std::as_const(m_aliases)) {
            try {
                db::detach(m_db, alias);
            } catch (const db::Error &) {
                // The connection drops the attachment when it closes.
            }
        }
        m_aliases.clear();
    }
    QSqlDatabase m_db;
    QStringList m_aliases;
};

// Span keys of the titles that are drawn (corner, row and column headers).
QStringList titleKeys(const QSqlDatabase &d, const TableShape &t) {
    QStringList keys;
    QSqlQuery q = db::exec(d,
                           QStringLiteral("select union_sc, union_sr, union_ec, union_er from titles where \"table\"=? "
                                          "and (\"column\"<=? or \"row\"<=?) order by \"column\", \"row\""),
                           {t.ident, t.fixcols, t.fixrows});
    while (q.next())
        keys.append(cells::titleSpanKey(q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt()));
    return keys;
}

void insertNewTitle(const QSqlDatabase &d, qint64 ident, int column, int row, const TitleSpan &span) {
    db::exec(d,
             QStringLiteral("insert into titles (\"table\", \"column\", \"row\", union_sc, union_sr, union_ec, union_er, "
                            "fontname, fontsize, fontbold, fontitalic, tchars, txt) values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
             {ident, column, row, span.startColumn, span.startRow, span.endColumn, span.endRow, kNewFont, 10, false, false,
              kNewCode, QStringLiteral(" ")});
}

// The window numbers lines and titles by the shape it read: when the stored
// rows or columns changed since (another window inserted or deleted one), its
// numbers no longer name what the user saw, and nothing is written.
void requireSeenShape(const TableShape &stored, const TableShape *seen) {
    if (!seen) return;
    if (stored.colcount == seen->colcount && stored.rowcount == seen->rowcount && stored.fixcols == seen->fixcols &&
        stored.fixrows == seen->fixrows)
        return;
    throw db::Error(QStringLiteral("Структура таблицы изменена в другом окне: в ней теперь %1 граф и %2 строк, в окне "
                                   "показано %3 и %4. Изменение не сохранено: откройте таблицу заново.")
                        .arg(stored.colcount)
                        .arg(stored.rowcount)
                        .arg(seen->colcount)
                        .arg(seen->rowcount));
}

void checkGridIndex(int index, int count, bool row) {
    if (index < 0 || index >= count)
        throw db::Error(row ? QStringLiteral("Строка данных %1 не входит в таблицу (строк данных: %2)").arg(index + 1).arg(count)
                            : QStringLiteral("Графа данных %1 не входит в таблицу (граф данных: %2)").arg(index + 1).arg(count));
}

// Rows and columns share every statement; only the names differ.
struct Axis {
    bool rows;
    QString line() const { return rows ? QStringLiteral("\"row\"") : QStringLiteral("\"column\""); }
    QString count() const { return rows ? QStringLiteral("rowcount") : QStringLiteral("colcount"); }
    QString sizeTable() const { return rows ? QStringLiteral("\"rows\"") : QStringLiteral("\"columns\""); }
    QString start() const { return rows ? QStringLiteral("union_sr") : QStringLiteral("union_sc"); }
    QString end() const { return rows ? QStringLiteral("union_er") : QStringLiteral("union_ec"); }
    // The other coordinate of a title record (to find its neighbour).
    QString cross() const { return rows ? QStringLiteral("\"column\"") : QStringLiteral("\"row\""); }
};

int insertLine(const QSqlDatabase &d, qint64 ident, int gridIndex, Place place, int size, const QStringList &files,
               const Axis &a, const TableShape *seen) {
    const TableShape t = ReadTableShape(d, ident);
    requireSeenShape(t, seen);
    const int fix = a.rows ? t.fixrows : t.fixcols;
    const int crossFix = a.rows ? t.fixcols : t.fixrows;
    // A table without data lines takes its first one at grid line 0.
    const int lines = a.rows ? t.dataRows() : t.dataColumns();
    checkGridIndex(gridIndex, std::max(1, lines), a.rows);
    // One more line must leave a table the program still opens.
    if (!limits::tableSizeFits(t.colcount + (a.rows ? 0 : 1), t.rowcount + (a.rows ? 1 : 0)))
        throw db::Error(a.rows ? QStringLiteral("В таблице не может быть больше %1 строк").arg(limits::kMaxTableRows)
                               : QStringLiteral("В таблице не может быть больше %1 граф").arg(limits::kMaxTableColumns));
    // Structure number of the new line, and its grid number.
    const int s = gridIndex + fix + (place == Place::Before || lines <= 0 ? 1 : 2);
    const int newGrid = s - fix - 1;
    const QStringList keys = titleKeys(d, t);
    const QString L = a.line();

    AttachedValues values(d, files);
    db::transaction(d, [&] {
        gate::stepTableLines(d, ident, a.rows, 1);
        db::exec(d, QStringLiteral("update titles set %1=%1+1 where \"table\"=? and %1>=?").arg(L), {ident, s});
        db::exec(d, QStringLiteral("update titles set %1=%1+1 where \"table\"=? and %1>=?").arg(a.start()), {ident, s});
        db::exec(d, QStringLiteral("update titles set %1=%1+1 where \"table\"=? and %1>=?").arg(a.end()), {ident, s});
        for (int c = 1; c <= crossFix; ++c) {
            if (a.rows) insertNewTitle(d, ident, c, s, SpanForInsertedRow(keys, c, s));
            else insertNewTitle(d, ident, s, c, SpanForInsertedColumn(keys, c, s));
        }
        db::exec(d, QStringLiteral("update %1 set %2=%2+1 where \"table\"=? and %2>=?").arg(a.sizeTable(), L), {ident, s});
        db::exec(d, QStringLiteral("insert into %1 (\"table\", %2, %3) values (?,?,?)")
                        .arg(a.sizeTable(), L, a.rows ? QStringLiteral("height") : QStringLiteral("width")),
                 {ident, s, size});
        db::exec(d, QStringLiteral("update conditions set %1=%1+1 where tid=? and %1>=?").arg(L), {ident, newGrid});
        // Stored numbering is structure numbering + 1.
        values.run(QStringLiteral("update %1 set ") + L + u'=' + L + QStringLiteral("+1 where \"table\"=? and ") + L +
                       QStringLiteral(">=?"),
                   {ident, s + 1});
    });
    return s;
}

int deleteLine(const QSqlDatabase &d, qint64 ident, int gridIndex, const QStringList &files, const Axis &a,
               const TableShape *seen) {
    const TableShape t = ReadTableShape(d, ident);
    requireSeenShape(t, seen);
    const int fix = a.rows ? t.fixrows : t.fixcols;
    const int count = a.rows ? t.rowcount : t.colcount;
    if (fix + 1 >= count)
        throw db::Error(a.rows ? QStringLiteral("Нельзя удалить последнюю строку данных")
                               : QStringLiteral("Нельзя удалить последний столбец данных"));
    checkGridIndex(gridIndex, count - fix, a.rows);
    const int s = gridIndex + fix + 1;
    const QString L = a.line(), X = a.cross(), S = a.start(), E = a.end();

    AttachedValues values(d, files);
    db::transaction(d, [&] {
        // A merged title keeps its text while any of its lines remains: when
        // it starts on the line and an insert left a blank copy of it on the
        // next line, the copy goes and the title itself stays.
        db::exec(d,
                 QStringLiteral("delete from titles where \"table\"=? and %1=? and %2=? and exists (select 1 from "
                                "titles m where m.\"table\"=titles.\"table\" and m.%1=? and m.%3=titles.%3 and "
                                "m.union_sc=titles.union_sc and m.union_sr=titles.union_sr and m.union_ec=titles.union_ec "
                                "and m.union_er=titles.union_er and trim(coalesce(m.txt, ''))<>'')")
                     .arg(L, S, X),
                 {ident, s + 1, s, s});
        // The titles on the line go, except a merged title that starts on it
        // and reaches beyond when no record on the next line takes its place:
        // it keeps its text and starts on the next line.
        db::exec(d,
                 QStringLiteral("delete from titles where \"table\"=? and %1=? and not (%2=? and %3>? and not exists "
                                "(select 1 from titles n where n.\"table\"=titles.\"table\" and n.%4=titles.%4 and n.%1=?))")
                     .arg(L, S, E, X),
                 {ident, s, s, s, s + 1});
        // Spans that reach beyond the line, or end on it coming from before
        // it, lose one line; spans after it move up.
        db::exec(d, QStringLiteral("update titles set %1=%1-1 where \"table\"=? and (%1>? or (%1=? and %2<?))").arg(E, S),
                 {ident, s, s, s});
        db::exec(d, QStringLiteral("update titles set %1=%1-1 where \"table\"=? and %1>?").arg(S), {ident, s});
        db::exec(d, QStringLiteral("update titles set %1=%1-1 where \"table\"=? and %1>?").arg(L), {ident, s});
        db::exec(d, QStringLiteral("delete from %1 where \"table\"=? and %2=?").arg(a.sizeTable(), L), {ident, s});
        db::exec(d, QStringLiteral("update %1 set %2=%2-1 where \"table\"=? and %2>?").arg(a.sizeTable(), L), {ident, s});
        db::exec(d, QStringLiteral("delete from conditions where tid=? and %1=?").arg(L), {ident, gridIndex});
        db::exec(d, QStringLiteral("update conditions set %1=%1-1 where tid=? and %1>?").arg(L), {ident, gridIndex});
        gate::stepTableLines(d, ident, a.rows, -1);
        values.run(QStringLiteral("delete from %1 where \"table\"=? and ") + L + QStringLiteral("=?"), {ident, s + 1});
        values.run(QStringLiteral("update %1 set ") + L + u'=' + L + QStringLiteral("-1 where \"table\"=? and ") + L +
                       QStringLiteral(">?"),
                   {ident, s + 1});
    });
    return s;
}

// Writes one size record, creating it when it is missing.
void writeSize(const QSqlDatabase &d, const QString &table, const QString &line, const QString &field, qint64 ident,
               int number, double value) {
    db::updateOrInsert(d, QStringLiteral("update %1 set %2=? where \"table\"=? and %3=?").arg(table, field, line),
                       {value, ident, number},
                       QStringLiteral("insert into %1 (\"table\", %2, %3) values (?,?,?)").arg(table, line, field),
                       {ident, number, value});
}

} // namespace

TitleSpan ParseTitleRangeKey(const QString &key) {
    TitleSpan span;
    const int colon = int(key.indexOf(u':'));
    const QString start = colon >= 0 ? key.left(colon) : key;
    const QString end = colon >= 0 ? key.mid(colon + 1) : key;
    parseKeyPart(start, span.startColumn, span.startRow);
    parseKeyPart(end, span.endColumn, span.endRow);
    return span;
}

TitleSpan SpanForInsertedRow(const QStringList &keys, int column, int row) {
    TitleSpan span{column, row, column, row};
    for (const QString &key : keys) {
        const TitleSpan k = ParseTitleRangeKey(key);
        if (k.startRow < row && row <= k.endRow && k.startColumn <= column && column <= k.endColumn)
            span = TitleSpan{k.startColumn, k.startRow, k.endColumn, k.endRow + 1};
    }
    return span;
}

TitleSpan SpanForInsertedColumn(const QStringList &keys, int row, int column) {
    TitleSpan span{column, row, column, row};
    for (const QString &key : keys) {
        const TitleSpan k = ParseTitleRangeKey(key);
        if (k.startColumn < column && column <= k.endColumn && k.startRow <= row && row <= k.endRow)
            span = TitleSpan{k.startColumn, k.startRow, k.endColumn + 1, k.endRow};
    }
    return span;
}

int defaultRowHeight(int density) { return int(std::lround(1728.0 / (density > 0 ? density : 96))); }
int defaultColumnWidth(int density) { return int(std::lround(4608.0 / (density > 0 ? density : 96))); }

QStringList yearValuesFiles(const QSqlDatabase &mainDb, const QString &yearFolder, const QString &extraFile) {
    QStringList candidates{yearFolder + QStringLiteral("data0.mdb")};
    if (db::tableExists(mainDb, QStringLiteral("subreps"))) {
        for (const QVariant &id : db::column(mainDb, QStringLiteral("select id from subreps order by id")))
            if (id.toLongLong() > 0) candidates.append(yearFolder + QStringLiteral("data%1.mdb").arg(id.toLongLong()));
    }
    if (!extraFile.isEmpty()) candidates.append(extraFile);
    QStringList files;
    QSet<QString> seen;
    for (const QString &f : std::as_const(candidates)) {
        const QFileInfo info(f);
        if (!info.isFile()) continue;
        const QString canonical = info.canonicalFilePath();
        if (seen.contains(canonical)) continue;
        seen.insert(canonical);
        files.append(canonical);
    }
    return files;
}

int insertDataRow(const QSqlDatabase &d, qint64 ident, int gridRow, Place place, int height,
                  const QStringList &valueFiles, const TableShape *seen) {
    return insertLine(d, ident, gridRow, place, height, valueFiles, Axis{true}, seen);
}

int insertDataColumn(const QSqlDatabase &d, qint64 ident, int gridColumn, Place place, int width,
                     const QStringList &valueFiles, const TableShape *seen) {
    return insertLine(d, ident, gridColumn, place, width, valueFiles, Axis{false}, seen);
}

int deleteDataRow(const QSqlDatabase &d, qint64 ident, int gridRow, const QStringList &valueFiles,
                  const TableShape *seen) {
    return deleteLine(d, ident, gridRow, valueFiles, Axis{true}, seen);
}

int deleteDataColumn(const QSqlDatabase &d, qint64 ident, int gridColumn, const QStringList &valueFiles,
                     const TableShape *seen) {
    return deleteLine(d, ident, gridColumn, valueFiles, Axis{false}, seen);
}

namespace {

// The largest number of a list ("[1,3..5]" -> 5), read as the rule run reads
// it; a list that cannot be read gives INT_MAX, so that it is listed rather
// than missed.
int largestNumber(const QString &list) {
    QStringView inside;
    std::optional<notation::NumberItems> items;
    if (notation::ListOfPart(list, inside)) items = notation::ReadNumberItems(inside);
    if (!items) return std::numeric_limits<int>::max();
    qint64 largest = 0;
    for (const notation::NumberSpan &item : *items) largest = std::max({largest, item.first, item.second});
    return int(std::min<qint64>(largest, std::numeric_limits<int>::max()));
}

struct Target {
    QString form, table;   // upper-cased form name, table key
    bool rows;
    int from;              // smallest affected number in reference numbering
};

// True when a reference of the expression names a line of the target from
// target.from on. A cycle's list stands for the rows (columns) of every
// reference when it names them.
bool namesLinesFrom(const QString &expression, const QString &cycle, const QString &ownForm, const QString &ownTable,
                    const Target &t) {
    QString cycleList;
    for (const notation::LineReference &c : notation::ReadLineReferences(cycle)) {
        const QString &l = t.rows ? c.rows : c.columns;
        if (!l.isEmpty()) cycleList = l;
    }
    for (const notation::LineReference &r : notation::ReadLineReferences(expression)) {
        const QString form = r.form.isEmpty() ? text::upper(ownForm) : r.form;
        const QString table = r.table.isEmpty() ? ownTable.trimmed() : r.table;
        if (!text::sameName(form, t.form) || !text::sameName(table, t.table)) continue;
        const QString list = cycleList.isEmpty() ? (t.rows ? r.rows : r.columns) : cycleList;
        if (!list.isEmpty() && largestNumber(list) >= t.from) return true;
    }
    return false;
}

// The same for a calculated cell's condition and formula, read as the
// engine reads them: one run through their references, each taking the form
// and the table it does not name from the reference before it (the first
// from the rule's own table).
bool termsNameLinesFrom(const QStringList &expressions, const QString &ownForm, const QString &ownTable,
                        const Target &t) {
    QString form = text::upper(ownForm.trimmed()), table = ownTable.trimmed();
    bool names = false;
    for (const QString &expression : expressions)
        for (const notation::LineReference &r : notation::ReadLineReferences(expression)) {
            if (!r.form.isEmpty()) form = r.form;
            if (!r.table.isEmpty()) table = r.table;
            if (!text::sameName(form, t.form) || !text::sameName(table, t.table)) continue;
            const QString &list = t.rows ? r.rows : r.columns;
            if (!list.isEmpty() && largestNumber(list) >= t.from) names = true;
        }
    return names;
}

QString gridPlace(int row, int column, int fixcols) {
    if (column < 0) return QStringLiteral("СТР%1").arg(cells::refRowOfGrid(row));
    if (row < 0) return QStringLiteral("ГР%1").arg(cells::refColumnOfGrid(column, fixcols));
    return QStringLiteral("СТР%1ГР%2").arg(cells::refRowOfGrid(row)).arg(cells::refColumnOfGrid(column, fixcols));
}

} // namespace

QString referringRulesHeader() { return QStringLiteral("Где\tТекст"); }

QStringList rulesReferringFrom(const QSqlDatabase &d, qint64 ident, bool rows, int line, const QString &yearFolder) {
    const TableShape shape = ReadTableShape(d, ident);
    QSqlQuery own = db::exec(d,
                             QStringLiteral("select f.formname, t.tablen from tables t join forms f on f.id=t.form "
                                            "where t.ident=?"),
                             {ident});
    if (!own.next()) return {};
    // Reference numbering: data rows from 1 after the fixed rows, columns
    // as in the structure.
    const Target target{text::upper(own.value(0).toString().trimmed()), own.value(1).toString().trimmed(), rows,
                        rows ? cells::refRowOfStruct(line, shape.fixrows) : line};
    QStringList out;

    if (db::tableExists(d, QStringLiteral("int_control"))) {
        QSqlQuery q = db::exec(d,
                               QStringLiteral("select c.\"Код\", coalesce(f.formname, ''), coalesce(c.tble, ''), "
                                              "coalesce(c.lft, ''), coalesce(c.reltion, ''), coalesce(c.rght, ''), "
                                              "coalesce(c.cycl, '') from int_control c left join forms f on "
                                              "f.id=c.formid order by c.\"Код\""));
        while (q.next()) {
            const QString form = q.value(1).toString(), table = q.value(2).toString();
            const QString cycle = q.value(6).toString();
            if (!namesLinesFrom(q.value(3).toString(), cycle, form, table, target) &&
                !namesLinesFrom(q.value(5).toString(), cycle, form, table, target))
                continue;
            QString where = QStringLiteral("Контроль %1").arg(q.value(0).toLongLong());
            if (!form.isEmpty()) where += u' ' + form + (table.trimmed().isEmpty() ? QString() : u' ' + table);
            QString rule = q.value(3).toString() + u' ' + q.value(4).toString() + u' ' + q.value(5).toString();
            if (!cycle.trimmed().isEmpty()) rule += QStringLiteral(", цикл ") + cycle;
            out << where + u'\t' + rule;
        }
    }

    if (db::tableExists(d, QStringLiteral("conditions"))) {
        struct Rule {
            qint64 tid;
            int row, column;
            QString formula, condition, form, table;
            int fixcols;
        };
        QList<Rule> all;
        QSqlQuery q = db::exec(d,
                               QStringLiteral("select c.tid, c.\"row\", c.\"column\", coalesce(c.formula, ''), "
                                              "coalesce(c.condition, ''), coalesce(f.formname, ''), "
                                              "coalesce(t.tablen, ''), coalesce(t.fixcols, 0) from conditions c "
                                              "left join tables t on t.ident=c.tid left join forms f on f.id=t.form "
                                              "order by c.tid, c.\"row\", c.\"column\""));
        while (q.next())
            all.append(Rule{q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toString(),
                            q.value(4).toString(), q.value(5).toString(), q.value(6).toString(), q.value(7).toInt()});
        for (const Rule &r : std::as_const(all)) {
            QStringList formulas{r.formula};
            // "*" of a line rule stands for the formula of each crossing one.
            if (r.formula.contains(u'*') && (r.row < 0) != (r.column < 0)) {
                formulas.clear();
                for (const Rule &o : std::as_const(all))
                    if (o.tid == r.tid && (o.row < 0) != (o.column < 0) && (o.row < 0) != (r.row < 0))
                        formulas << QString(r.formula).replace(u'*', o.formula);
                if (formulas.isEmpty()) formulas << r.formula;
            }
            // The engine reads the condition first, then the formula.
            bool names = false;
            for (const QString &f : std::as_const(formulas))
                names = names || termsNameLinesFrom({r.condition, f}, r.form, r.table, target);
            if (!names) continue;
            QString rule = r.formula;
            if (!r.condition.trimmed().isEmpty())
                rule += (r.formula.trimmed().isEmpty() ? QStringLiteral("условие ") : QStringLiteral(", условие ")) +
                        r.condition;
            out << QStringLiteral("Расчет %1 %2 %3").arg(r.form, r.table, gridPlace(r.row, r.column, r.fixcols)) +
                       u'\t' + rule;
        }
    }

    // The print mapping file of the form maps rows and columns by number.
    const QString mapping = yearFolder.isEmpty() ? QString()
                                                 : yearFolder + QStringLiteral("forms/") + own.value(0).toString().trimmed() +
                                                       QStringLiteral(".txt");
    if (!mapping.isEmpty() && QFileInfo(mapping).isFile()) {
        const QString name = QFileInfo(mapping).fileName();
        QStringList lines;
        QString error;
        if (!cp1251::readLines(mapping, lines, &error))
            out << QStringLiteral("Печать %1").arg(name) + u'\t' + QStringLiteral("файл не прочитан: ") + error;
        for (int i = 0; i < lines.size(); ++i) {
            if (lines[i].trimmed().isEmpty()) continue;
            bool names = true;   // a line that cannot be read is listed rather than missed
            try {
                const wordout::MappingBlock b = wordout::parseMappingLine(lines[i]);
                names = text::sameName(b.key(), target.table) && (rows ? b.mer : b.mec) >= target.from;
            } catch (const db::Error &) {
            }
            if (names) out << QStringLiteral("Печать %1, строка %2").arg(name).arg(i + 1) + u'\t' + lines[i];
        }
    }

    if (db::tableExists(d, QStringLiteral("formulas"))) {
        const bool named = db::tableExists(d, QStringLiteral("tree"));
        QSqlQuery q = db::exec(d, named ? QStringLiteral("select coalesce(t.part, ''), f.\"row\", f.\"column\", "
                                                         "coalesce(f.formula, '') from formulas f left join tree t on "
                                                         "t.ident=f.term order by f.term, f.\"row\", f.\"column\"")
                                        : QStringLiteral("select f.term, f.\"row\", f.\"column\", coalesce(f.formula, "
                                                         "'') from formulas f order by f.term, f.\"row\", "
                                                         "f.\"column\""));
        while (q.next()) {
            const QString formula = text::decodeColon(q.value(3).toString());
            if (!namesLinesFrom(formula, QString(), QString(), QString(), target)) continue;
            out << QStringLiteral("Показатели \"%1\", строка %2, графа %3")
                           .arg(q.value(0).toString())
                           .arg(q.value(1).toInt())
                           .arg(q.value(2).toInt()) +
                       u'\t' + formula;
        }
    }
    return out;
}

bool refreshTablesCache(const QSqlDatabase &d, qint64 ident) {
    const std::optional<TableShape> shape = FindTableShape(d, ident);
    return shape && RefreshCachedShape(*shape);
}

double titleRowHeight(int fontSize, int lines) { return num::round2(fontSize * kLineFactor * lines); }

int titleLineCount(double height, int fontSize) {
    if (fontSize <= 0) return 0;
    return int(std::lround(height / (fontSize * kLineFactor)));
}

QString makeTitleCode(int vertical, int horizontal, bool rotated, int indent) {
    static const char v[] = "TCB", h[] = "LCR";
    QString code;
    code += QLatin1Char(v[std::clamp(vertical, 0, 2)]);
    code += QLatin1Char(h[std::clamp(horizontal, 0, 2)]);
    code += rotated ? u'1' : u'0';
    code += QString::number(std::clamp(indent, 0, 9));
    return code;
}

TitleCodeChoice parseTitleCodeChoice(const QString &tchars) {
    TitleCodeChoice c;
    const QString up = tchars.toUpper();
    if (up.size() > 0) c.vertical = up[0] == u'T' ? 0 : up[0] == u'B' ? 2 : 1;
    if (up.size() > 1) c.horizontal = up[1] == u'L' ? 0 : up[1] == u'R' ? 2 : 1;
    if (up.size() > 2) c.rotated = up[2] == u'1';
    if (up.size() > 3) c.indent = std::clamp(up.mid(3).toInt(), 0, 9);
    return c;
}

TitleSizes readTitleSizes(const QSqlDatabase &d, qint64 ident, int column, int row) {
    TitleSizes s;
    {
        QSqlQuery q = db::exec(d, QStringLiteral("select height from \"rows\" where \"table\"=? and \"row\"=?"), {ident, row});
        if (q.next()) {
            s.hasHeight = true;
            s.height = q.value(0).toDouble();
        }
    }
    QSqlQuery q = db::exec(d, QStringLiteral("select width from \"columns\" where \"table\"=? and \"column\"=?"),
                           {ident, column});
    if (q.next()) {
        s.hasWidth = true;
        s.width = q.value(0).toDouble();
    }
    return s;
}

std::optional<double> parseTitleWidth(const QString &widthText) {
    const QString w = widthText.trimmed();
    if (w.isEmpty()) return std::nullopt;
    QString norm = w;
    norm.replace(u',', u'.');
    double width = 0;
    if (!num::parse(norm, width) || !std::isfinite(width))
        throw db::Error(QStringLiteral("Ширина столбца \"%1\" не является числом").arg(w));
    if (width <= 0)
        throw db::Error(QStringLiteral("Ширина столбца \"%1\": ширина должна быть положительным числом").arg(w));
    // The table window draws no wider column; a narrower one is not seen.
    if (width < 1 || width > limits::kMaxLineSize)
        throw db::Error(QStringLiteral("Ширина столбца \"%1\" должна быть от 1 до %2").arg(w).arg(limits::kMaxLineSize));
    return width;
}

void saveTitle(const QSqlDatabase &d, qint64 ident, int column, int row, const TitleContent &c, int lines,
               const QString &widthText, const TableShape *seen) {
    const std::optional<double> width = parseTitleWidth(widthText);
    if (c.fontName.trimmed().isEmpty()) throw db::Error(QStringLiteral("Не указан шрифт заголовка"));
    if (c.fontSize < 1 || c.fontSize > limits::kMaxFontSize)
        throw db::Error(QStringLiteral("Размер шрифта %1 недопустим (от 1 до %2)").arg(c.fontSize).arg(limits::kMaxFontSize));
    if (lines > 0 && titleRowHeight(c.fontSize, lines) > limits::kMaxLineSize)
        throw db::Error(QStringLiteral("Строк текста %1 размером %2 не поместится в строку таблицы: ее высота не может "
                                       "быть больше %3")
                            .arg(lines)
                            .arg(c.fontSize)
                            .arg(limits::kMaxLineSize));
    if (!shapecheck::layoutCodeValid(c.tchars))
        throw db::Error(QStringLiteral("Код расположения текста \"%1\" недопустим").arg(c.tchars));
    db::transaction(d, [&] {
        if (seen) requireSeenShape(ReadTableShape(d, ident), seen);
        db::execRow(d,
                    QStringLiteral("update titles set fontname=?, fontsize=?, fontbold=?, fontitalic=?, tchars=?, "
                                   "txt=? where \"table\"=? and \"column\"=? and \"row\"=?"),
                    {c.fontName, c.fontSize, c.bold, c.italic, c.tchars,
                     text::encodeColon(text::entry(c.text, text::Field::MultiLine)), ident, column, row},
                    QStringLiteral("Заголовок таблицы не найден"));
        if (lines > 0)
            writeSize(d, QStringLiteral("\"rows\""), QStringLiteral("\"row\""), QStringLiteral("height"), ident, row,
                      titleRowHeight(c.fontSize, lines));
        if (width)
            writeSize(d, QStringLiteral("\"columns\""), QStringLiteral("\"column\""), QStringLiteral("width"), ident,
                      column, num::round2(*width));
    });
}

} // namespace structedit
