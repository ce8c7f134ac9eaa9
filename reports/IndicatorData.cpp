#include "reports/IndicatorData.h"

#include "core/FormulaHighlighter.h"
#include "engine/TableLimits.h"
#include "engine/TextUtil.h"
#include "platform/Codepage.h"
#include "platform/Database.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QSqlQuery>
#include <QSqlRecord>
#include <algorithm>

namespace indicators {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QSqlQuery run(const QString &sql, const QVariantList &params = {}) { return db::exec(mainDb(), sql, params); }

// A set deleted behind the window (by another window or another copy of
// the program) takes no titles, formulas, identifiers or sizes: they would be
// stored under no set and never shown.
void requireSet(const QSqlDatabase &d, qint64 term) {
    db::requireRow(d, QStringLiteral("select 1 from tree where ident=?"), {term},
                   QStringLiteral("Набор показателей удален в другом окне. Изменение не сохранено: закройте окно "
                                  "состава набора."));
}

} // namespace

// ---- Set tree -----------------------------------------------------------------

qint64 AddSet(const QString &name, qint64 parent) {
    const QSqlDatabase d = mainDb();
    if (parent != 0)
        db::requireRow(d, QStringLiteral("select 1 from tree where ident=?"), {parent},
                       QStringLiteral("Набор показателей, в который добавляется новый, удален в другом окне. Набор не "
                                      "добавлен."));
    db::exec(d, QStringLiteral("insert into tree (part,depend) values (?,?)"), {text::entry(name), parent});
    return db::lastInsertId(d);
}

QString RenameSet(qint64 ident, const QString &name) {
    const QString stored = text::entry(name);
    db::execRow(mainDb(), QStringLiteral("update tree set part=? where ident=?"), {stored, ident},
                QStringLiteral("Набор показателей удален в другом окне. Наименование не сохранено."));
    return stored;
}

QList<SetNode> ChildSets(qint64 ident) {
    QList<SetNode> out;
    QSqlQuery q = run(QStringLiteral("select ident, part from tree where depend=? order by ident"), {ident});
    while (q.next()) out.append({q.value(0).toLongLong(), q.value(1).toString()});
    std::stable_sort(out.begin(), out.end(), [](const SetNode &a, const SetNode &b) { return text::nameLess(a.name, b.name); });
    return out;
}

QList<qint64> DeleteSetTree(qint64 ident) {
    QList<qint64> order;
    QSet<qint64> seen;
    std::function<void(qint64)> collect = [&](qint64 id) {
        if (seen.contains(id)) return;   // a loop of depend values must not run forever
        seen.insert(id);
        for (const SetNode &c : ChildSets(id)) collect(c.ident);
        order.append(id);
    };
    collect(ident);
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        for (qint64 id : order) {
            db::exec(d, QStringLiteral("delete from col_titles where term=?"), {id});
            db::exec(d, QStringLiteral("delete from row_titles where term=?"), {id});
            db::exec(d, QStringLiteral("delete from formulas where term=?"), {id});
            db::exec(d, QStringLiteral("delete from tree where ident=?"), {id});
        }
    });
    return order;
}

// ---- Editing one set -----------------------------------------------------------------

QString PrepareEditText(const QString &text, bool formulaCell) {
    QString t = text.isEmpty() ? QStringLiteral(" ") : text;
    if (t != QLatin1String(" ") && formulaCell) t.remove(QLatin1Char(' '));
    if (t.isEmpty()) t = QStringLiteral(" ");
    return t;
}

void StoreGridCell(qint64 term, int column, int row, const QString &text, int width, int height) {
    // A Tab typed into a cell would split the lines of the set file.
    const QString stored = text::encodeColon(text::entry(text, text::Field::MultiLine));
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        if (column == 0 || row == 0) {
            // The corner's text is kept in both title records.
            if (row == 0)
                db::updateOrInsert(d, QStringLiteral("update col_titles set title=? where term=? and \"column\"=?"),
                            {stored, term, column}, QStringLiteral("insert into col_titles values (?,?,?,?)"),
                            {term, column, stored, width});
            if (column == 0)
                db::updateOrInsert(d, QStringLiteral("update row_titles set title=? where term=? and \"row\"=?"),
                            {stored, term, row}, QStringLiteral("insert into row_titles values (?,?,?,?)"),
                            {term, row, stored, height});
        } else {
            db::updateOrInsert(d, QStringLiteral("update formulas set formula=? where term=? and \"column\"=? and \"row\"=?"),
                        {stored, term, column, row}, QStringLiteral("insert into formulas values (?,?,?,?)"),
                        {term, row, column, stored});
        }
    });
}

void StoreIdentifier(qint64 term, int number, const QString &text) {
    db::execRow(mainDb(), QStringLiteral("update formulas set formula=? where term=? and \"column\"=-1 and \"row\"=?"),
                {text::entry(text), term, number},
                QStringLiteral("Идентификатор удален в другом окне. Изменение не сохранено."));
}

void AppendRow(qint64 term, int row, int height) {
    requireSet(mainDb(), term);
    run(QStringLiteral("insert into row_titles values (?,?,?,?)"), {term, row, kNewRow, height});
}

void AppendColumn(qint64 term, int column, int width) {
    requireSet(mainDb(), term);
    run(QStringLiteral("insert into col_titles values (?,?,?,?)"), {term, column, kNewColumn, width});
}

void InsertRowBefore(qint64 term, int row) {
    if (row <= 0) return;
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        db::exec(d, QStringLiteral("update row_titles set \"row\"=\"row\"+1 where term=? and \"row\">=?"), {term, row});
        db::exec(d, QStringLiteral("update formulas set \"row\"=\"row\"+1 where term=? and \"row\">=? and \"column\">-1"),
                 {term, row});
    });
}

void InsertColumnBefore(qint64 term, int column) {
    if (column <= 0) return;
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        db::exec(d, QStringLiteral("update col_titles set \"column\"=\"column\"+1 where term=? and \"column\">=?"),
                 {term, column});
        db::exec(d, QStringLiteral("update formulas set \"column\"=\"column\"+1 where term=? and \"column\">=?"),
                 {term, column});
    });
}

void DeleteRow(qint64 term, int row) {
    if (row <= 0) throw IndicatorError(QStringLiteral("Нельзя удалить заголовки столбцов!"));
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        db::exec(d, QStringLiteral("delete from row_titles where term=? and \"row\"=?"), {term, row});
        db::exec(d, QStringLiteral("delete from formulas where term=? and \"row\"=? and \"column\">-1"), {term, row});
        db::exec(d, QStringLiteral("update row_titles set \"row\"=\"row\"-1 where term=? and \"row\">?"), {term, row});
        db::exec(d, QStringLiteral("update formulas set \"row\"=\"row\"-1 where term=? and \"row\">? and \"column\">-1"),
                 {term, row});
    });
}

void DeleteColumn(qint64 term, int column) {
    if (column <= 0) throw IndicatorError(QStringLiteral("Нельзя удалить заголовки строк!"));
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        db::exec(d, QStringLiteral("delete from col_titles where term=? and \"column\"=?"), {term, column});
        db::exec(d, QStringLiteral("delete from formulas where term=? and \"column\"=?"), {term, column});
        db::exec(d, QStringLiteral("update col_titles set \"column\"=\"column\"-1 where term=? and \"column\">?"),
                 {term, column});
        db::exec(d, QStringLiteral("update formulas set \"column\"=\"column\"-1 where term=? and \"column\">?"),
                 {term, column});
    });
}

int AddIdentifier(qint64 term, const QString &text) {
    requireSet(mainDb(), term);
    const QVariant v =
        db::scalar(mainDb(), QStringLiteral("select max(\"row\")+1 from formulas where term=? and \"column\"=-1"), {term});
    const int number = v.isNull() ? 0 : v.toInt();
    run(QStringLiteral("insert into formulas values (?,?,-1,?)"), {term, number, text::entry(text)});
    return number;
}

void DeleteIdentifier(qint64 term, int number) {
    run(QStringLiteral("delete from formulas where term=? and \"column\"=-1 and \"row\"=?"), {term, number});
}

void SaveSizes(qint64 term, const QString &cornerText, const QList<int> &widths, const QList<int> &heights) {
    const QString corner =
        cornerText.isEmpty() ? QStringLiteral(" ") : text::encodeColon(text::entry(cornerText, text::Field::MultiLine));
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        const int w0 = widths.value(0, kStandardWidth), h0 = heights.value(0, kStandardHeight);
        db::updateOrInsert(d, QStringLiteral("update col_titles set width=? where term=? and \"column\"=0"), {w0, term},
                           QStringLiteral("insert into col_titles values (?,0,?,?)"), {term, corner, w0});
        // A line without a title record keeps no size: its record is made
        // when its title is first stored.
        for (int c = 1; c < widths.size(); ++c)
            db::exec(d, QStringLiteral("update col_titles set width=? where term=? and \"column\"=?"),
                     {widths[c], term, c});
        db::updateOrInsert(d, QStringLiteral("update row_titles set height=? where term=? and \"row\"=0"), {h0, term},
                           QStringLiteral("insert into row_titles values (?,0,?,?)"), {term, corner, h0});
        for (int r = 1; r < heights.size(); ++r)
            db::exec(d, QStringLiteral("update row_titles set height=? where term=? and \"row\"=?"),
                     {heights[r], term, r});
    });
}

void SetStandardSizes(qint64 term) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireSet(d, term);
        db::exec(d, QStringLiteral("update col_titles set width=64 where term=?"), {term});
        db::exec(d, QStringLiteral("update row_titles set height=20 where term=?"), {term});
    });
}

QString ReplaceAll(const QString &text, const QString &search, const QString &replacement) {
    if (search.isEmpty()) return text;
    QString s = text;
    if (replacement.contains(search)) return s.replace(search, replacement);
    // A shorter replacement shortens the text each round, so the restarts
    // end. A longer one can rebuild an occurrence across the joins every
    // round and grow the text without end: its rounds are bounded by the
    // original length and the text by a size no formula reaches.
    const bool shrinks = replacement.size() < search.size();
    const qsizetype rounds = text.size() + 1;
    constexpr qsizetype kMaxSize = 1 << 16;
    for (qsizetype round = 0; s.contains(search); ++round) {
        if (!shrinks && (round >= rounds || s.size() > kMaxSize)) break;
        s.replace(search, replacement);
    }
    return s;
}

int ReplaceInFormulas(qint64 term, const QString &search, const QString &replacement, int scope, int currentColumn,
                      int currentRow, int lastColumn, int lastRow) {
    if (search.isEmpty()) throw IndicatorError(QStringLiteral("Введите строку для поиска!"));
    // The replacement goes into the set files: refused before anything changes.
    text::entry(replacement, text::Field::MultiLine, QStringLiteral("Заменить на"));
    int r1 = 1, r2 = lastRow, c1 = 1, c2 = lastColumn;
    if (scope == 1) {
        if (currentColumn < 1 || currentColumn > lastColumn)
            throw IndicatorError(QStringLiteral("Выберите графу для замены!"));
        c1 = c2 = currentColumn;
    } else if (scope == 2) {
        if (currentRow < 1 || currentRow > lastRow) throw IndicatorError(QStringLiteral("Выберите строку для замены!"));
        r1 = r2 = currentRow;
    }
    QSqlQuery q;
    if (scope == 3) {
        q = run(QStringLiteral("select term, \"row\", \"column\", formula from formulas where \"column\">-1"));
    } else {
        if (r1 > r2 || c1 > c2) throw IndicatorError(QStringLiteral("Некорректный диапазон для замены!"));
        q = run(QStringLiteral("select term, \"row\", \"column\", formula from formulas where term=? and \"row\">=? "
                               "and \"row\"<=? and \"column\">=? and \"column\"<=? and \"column\">-1"),
                {term, r1, r2, c1, c2});
    }
    struct Change {
        qint64 term;
        int row, column;
        QString formula;
    };
    QList<Change> changes;
    while (q.next()) {
        const QString old = q.value(3).toString();
        const QString now = text::entry(ReplaceAll(old, search, replacement), text::Field::MultiLine);
        if (now != old) changes.append({q.value(0).toLongLong(), q.value(1).toInt(), q.value(2).toInt(), now});
    }
    q.finish();
    const QSqlDatabase d = mainDb();
    int changed = 0;   // a formula deleted since it was read is not counted
    db::transaction(d, [&] {
        for (const Change &c : changes) {
            const QSqlQuery u = db::exec(
                d, QStringLiteral("update formulas set formula=? where term=? and \"row\"=? and \"column\"=?"),
                {c.formula, c.term, c.row, c.column});
            if (u.numRowsAffected() > 0) ++changed;
        }
    });
    return changed;
}

// ---- Loading a set ------------------------------------------------------------------

SetTable LoadSet(qint64 term) {
    SetTable t;
    struct Rec {
        int index;
        QString text;
        int size;
    };
    QList<Rec> rows, cols;
    QSqlQuery q = run(QStringLiteral("select \"row\", title, height from row_titles where term=?"), {term});
    while (q.next()) rows.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()});
    q = run(QStringLiteral("select \"column\", title, width from col_titles where term=?"), {term});
    while (q.next()) cols.append({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt()});
    struct F {
        int row, column;
        QString text;
    };
    QList<F> cells;
    q = run(QStringLiteral("select \"row\", \"column\", formula from formulas where term=? and \"column\">-1"), {term});
    while (q.next()) cells.append({q.value(0).toInt(), q.value(1).toInt(), q.value(2).toString()});
    q = run(QStringLiteral("select \"row\", formula from formulas where term=? and \"column\"=-1 order by \"row\""),
            {term});
    while (q.next()) {
        t.identifierNumbers.append(q.value(0).toInt());
        t.identifiers.append(q.value(1).toString());
    }
    for (const Rec &r : rows) t.rowCount = qMax(t.rowCount, r.index + 1);
    for (const Rec &c : cols) t.columnCount = qMax(t.columnCount, c.index + 1);
    for (const F &f : cells) {
        t.rowCount = qMax(t.rowCount, f.row + 1);
        t.columnCount = qMax(t.columnCount, f.column + 1);
    }
    // Title column and row included: a grid past the limits would not fit in memory.
    if (!limits::tableSizeFits(qMax(0, t.columnCount - 1), qMax(0, t.rowCount - 1)))
        throw IndicatorError(QStringLiteral("Набор показателей слишком велик: %1 граф и %2 строк "
                                            "(не более %3 граф и %4 строк). Набор не открыт.")
                                 .arg(t.columnCount - 1).arg(t.rowCount - 1)
                                 .arg(limits::kMaxTableColumns).arg(limits::kMaxTableRows));
    t.widths = QList<int>(t.columnCount, kStandardWidth);
    t.heights = QList<int>(t.rowCount, kStandardHeight);
    t.cells = QList<QStringList>(t.columnCount, QStringList(t.rowCount));
    for (const Rec &r : rows) {
        if (r.index < 0) continue;
        t.heights[r.index] = r.size > 0 ? r.size : kStandardHeight;
        t.cells[0][r.index] = text::decodeColon(r.text);
    }
    for (const Rec &c : cols) {
        if (c.index < 0) continue;
        t.widths[c.index] = c.size > 0 ? c.size : kStandardWidth;
        t.cells[c.index][0] = text::decodeColon(c.text);
    }
    for (const F &f : cells) {
        if (f.row < 0 || f.column < 0) continue;
        t.cells[f.column][f.row] = text::decodeColon(f.text);
    }
    return t;
}

// ---- Set files --------------------------------------------------------------------

namespace {

const QString kTree = QStringLiteral("[Tree]");
const QString kColumns = QStringLiteral("[Columns]");
const QString kRows = QStringLiteral("[Rows]");
const QString kFormulas = QStringLiteral("[Formulas]");
const QChar kTab = QLatin1Char('\t');

// One field of a set file line; a Tab kept from older versions becomes a blank.
QString field(const QString &s) { return text::encodeLineBreaks(text::tabsToBlanks(s)); }

struct FileWriter {
    ChildrenFn children;
    QStringList tree, columns, rows, formulas;
    int depth = 0;

    void saveTerm(qint64 ident) {
        ++depth;
        const QString k = QString::number(tree.size()) + QLatin1Char(',');
        QSqlQuery q = run(QStringLiteral("select \"column\", title, width from col_titles where term=?"), {ident});
        while (q.next())
            columns << k + q.value(0).toString() + kTab + field(q.value(1).toString()) + kTab +
                           q.value(2).toString();
        q = run(QStringLiteral("select \"row\", title, height from row_titles where term=?"), {ident});
        while (q.next())
            rows << k + q.value(0).toString() + kTab + field(q.value(1).toString()) + kTab +
                        q.value(2).toString();
        q = run(QStringLiteral("select \"column\", \"row\", formula from formulas where term=?"), {ident});
        while (q.next())
            formulas << k + q.value(0).toString() + kTab + q.value(1).toString() + kTab +
                            field(q.value(2).toString());
        q.finish();
        for (const SetNode &c : children(ident)) {
            tree << QString::number(depth) + QLatin1Char(',') + field(c.name);
            saveTerm(c.ident);
        }
        --depth;
    }
};

[[noreturn]] void badLine(int lineNo, const QString &why) {
    throw IndicatorError(QStringLiteral("Неверный формат файла показателей (строка %1): %2").arg(lineNo).arg(why));
}

int toInt(const QString &s, int lineNo, const QString &what) {
    bool ok = false;
    const int v = s.trimmed().toInt(&ok);
    if (!ok) badLine(lineNo, what + QStringLiteral(" не является целым числом"));
    return v;
}

// A grid of a set larger than any table is refused before anything is made of it.
void checkIndex(int value, int low, int high, int lineNo, const QString &what) {
    if (value < low || value > high)
        badLine(lineNo, QStringLiteral("%1 %2 вне пределов %3..%4").arg(what).arg(value).arg(low).arg(high));
}

} // namespace

QStringList SetFileLines(qint64 top, const ChildrenFn &children) {
    FileWriter w;
    w.children = children ? children : ChildrenFn(&ChildSets);
    w.saveTerm(top);
    QStringList out;
    out << kTree << w.tree << kColumns << w.columns << kRows << w.rows << kFormulas << w.formulas;
    return out;
}

void SaveSetFile(const QString &path, qint64 top, const ChildrenFn &children) {
    const QStringList lines = SetFileLines(top, children);
    QString error;
    if (!cp1251::writeLines(path, lines, &error))
        throw IndicatorError(QStringLiteral("Не удалось записать файл %1: %2").arg(path, error));
}

QList<LoadedSet> LoadSetFileLines(const QStringList &lines, qint64 selected) {
    // Everything is checked before the first statement runs.
    struct TreeLine {
        int level;
        QString name;
    };
    struct DataLine {
        int section;   // 1 columns, 2 rows, 3 formulas
        int k, a, b;
        QString text;
    };
    QList<TreeLine> tree;
    QList<DataLine> data;
    int section = 0;
    int lineNo = 1;
    if (lines.isEmpty() || lines.first() != kTree) badLine(1, QStringLiteral("нет заголовка [Tree]"));
    for (int i = 1; i < lines.size(); ++i) {
        lineNo = i + 1;
        const QString &line = lines[i];
        if (section == 0 && line == kColumns) { section = 1; continue; }
        if (section == 1 && line == kRows) { section = 2; continue; }
        if (section == 2 && line == kFormulas) { section = 3; continue; }
        if (section == 3 && line.isEmpty() && i == lines.size() - 1) break;
        const int comma = line.indexOf(QLatin1Char(','));
        if (comma < 0) badLine(lineNo, QStringLiteral("нет запятой после номера"));
        const int first = toInt(line.left(comma), lineNo, QStringLiteral("номер"));
        const QString rest = line.mid(comma + 1);
        if (section == 0) {
            const int prev = tree.isEmpty() ? 0 : tree.last().level;
            if (first < 1 || first > prev + 1) badLine(lineNo, QStringLiteral("неверный уровень набора"));
            tree.append({first, text::decodeLineBreaks(rest)});
            continue;
        }
        if (first < 0 || first > tree.size()) badLine(lineNo, QStringLiteral("нет набора с номером %1").arg(first));
        const int t1 = rest.indexOf(kTab);
        const int t2 = t1 < 0 ? -1 : rest.indexOf(kTab, t1 + 1);
        if (t2 < 0) badLine(lineNo, QStringLiteral("не хватает полей"));
        DataLine dl{section, first, toInt(rest.left(t1), lineNo, QStringLiteral("номер графы или строки")), 0, {}};
        const QString middle = rest.mid(t1 + 1, t2 - t1 - 1);
        const QString last = rest.mid(t2 + 1);
        if (section == 3) {
            dl.b = toInt(middle, lineNo, QStringLiteral("номер строки"));
            dl.text = text::decodeLineBreaks(last);
            // Identifiers are kept with column -1 and their number as the row.
            checkIndex(dl.a, dl.a == -1 ? -1 : 0, limits::kMaxTableColumns, lineNo, QStringLiteral("номер графы"));
            checkIndex(dl.b, 0, limits::kMaxTableRows, lineNo, QStringLiteral("номер строки"));
        } else {
            dl.text = text::decodeLineBreaks(middle);
            dl.b = toInt(last, lineNo, QStringLiteral("размер"));
            if (section == 1) checkIndex(dl.a, 0, limits::kMaxTableColumns, lineNo, QStringLiteral("номер графы"));
            else checkIndex(dl.a, 0, limits::kMaxTableRows, lineNo, QStringLiteral("номер строки"));
        }
        data.append(dl);
    }

    QList<LoadedSet> made;
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        QList<qint64> stack{selected};   // stack[level] = key of the current set at that level
        for (const TreeLine &t : tree) {
            stack.resize(t.level);
            const qint64 parent = stack.last();
            db::exec(d, QStringLiteral("insert into tree (part,depend) values (?,?)"), {text::entry(t.name), parent});
            const qint64 id = db::lastInsertId(d);
            made.append({id, t.name, parent});
            stack.append(id);
        }
        for (const DataLine &l : data) {
            const qint64 term = l.k == 0 ? selected : made[l.k - 1].ident;
            if (l.section == 1)
                db::exec(d, QStringLiteral("insert into col_titles values (?,?,?,?)"),
                         {term, l.a, text::entry(l.text, text::Field::MultiLine), l.b});
            else if (l.section == 2)
                db::exec(d, QStringLiteral("insert into row_titles values (?,?,?,?)"),
                         {term, l.a, text::entry(l.text, text::Field::MultiLine), l.b});
            else
                db::exec(d, QStringLiteral("insert into formulas values (?,?,?,?)"),
                         {term, l.b, l.a, text::entry(l.text, text::Field::MultiLine)});
        }
    });
    return made;
}

QList<LoadedSet> LoadSetFile(const QString &path, qint64 selected) {
    QStringList lines;
    QString error;
    if (!cp1251::readLines(path, lines, &error))
        throw IndicatorError(QStringLiteral("Не удалось прочитать файл %1: %2").arg(path, error));
    return LoadSetFileLines(lines, selected);
}

// ---- Previous-year check ---------------------------------------------------------

QStringList SetFormulas(qint64 term) {
    QStringList out;
    QSqlQuery q = run(QStringLiteral("select formula from formulas where term=?"), {term});
    while (q.next()) {
        const QString f = q.value(0).toString();
        if (!f.trimmed().isEmpty()) out << f;
    }
    return out;
}

QStringList ReferenceSet(const QStringList &formulas) {
    TFormulaHighlighter h(nullptr, nullptr);
    QMap<QString, QString> byKey;   // upper-cased -> first spelling
    for (const QString &f : formulas)
        for (const QString &r : h.ExtractReferences(text::decodeColon(f))) {
            const QString key = text::upper(r);
            if (!byKey.contains(key)) byKey.insert(key, r);
        }
    return byKey.values();
}

CompareFn PreviousYearComparison() {
    auto h = std::make_shared<TFormulaHighlighter>(nullptr, nullptr);
    return [h](const QString &reference, bool &differs) {
        QString current, previous;
        bool same = true;
        const bool made = h->CompareWithPreviousYear(reference, current, previous, same);
        differs = made && !same;
        return made;
    };
}

QStringList FindDiscrepancies(const QStringList &references, const CompareFn &compare, bool firstOnly) {
    QStringList out;
    for (const QString &r : references) {
        bool differs = false;
        if (compare(r, differs) && differs) {
            out << r;
            if (firstOnly) break;
        }
    }
    return out;
}

QList<TreeRow> ReadTreeRows() {
    QList<TreeRow> out;
    QSqlQuery q = run(QStringLiteral("select ident, part, depend from tree order by ident"));
    while (q.next()) out.append({q.value(0).toLongLong(), q.value(1).toString(), q.value(2).toLongLong()});
    return out;
}

QString BuildTreePath(qint64 ident, const QList<TreeRow> &rows) {
    QHash<qint64, int> index;
    for (int i = 0; i < rows.size(); ++i)
        if (!index.contains(rows[i].ident)) index.insert(rows[i].ident, i);
    QStringList names;
    QSet<qint64> seen;
    qint64 key = ident;
    while (key > 0 && index.contains(key) && !seen.contains(key)) {
        seen.insert(key);
        const TreeRow &r = rows[index.value(key)];
        names.prepend(r.name);
        key = r.parent;
    }
    return names.join(QStringLiteral(" -> "));
}

} // namespace indicators
