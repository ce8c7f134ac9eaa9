#include "forms/structure/ImportDocLogic.h"

#include "engine/CatalogGate.h"
#include "engine/TableLimits.h"
#include "engine/TableShape.h"
#include "engine/TextUtil.h"

#include "platform/Database.h"
#include "platform/office/Convert.h"
#include "platform/office/WordDocument.h"

#include <QFileInfo>
#include <algorithm>

namespace importdoc {

void DocStructure::resize(int rowCount, int colCount) {
    QList<DocCell> next(qMax(0, rowCount) * qMax(0, colCount));
    for (int r = 1; r <= qMin(rows, rowCount); ++r)
        for (int c = 1; c <= qMin(cols, colCount); ++c) next[(r - 1) * colCount + (c - 1)] = at(r, c);
    rows = rowCount;
    cols = colCount;
    cells = next;
}

namespace {

// A cell's text as a title: paragraphs and manual line breaks (byte 11, as
// Word gives w:br and w:cr) on lines of their own (as a title typed in the
// title editor), a Tab as a blank, end-of-cell bytes removed, trimmed.
QString titleText(const QString &cellText) {
    QString text = cellText;
    text.replace(QChar(11), QLatin1Char('\r'));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    QStringList paragraphs = text.split(QLatin1Char('\r'));
    for (QString &p : paragraphs) {
        p.remove(QChar(7));
        p = p.trimmed();
    }
    return paragraphs.join(QLatin1Char('\n')).trimmed();
}

QString sizeFault(int rows, int cols) {
    if (limits::tableSizeFits(cols, rows)) return QString();
    return QStringLiteral("Таблица документа слишком велика: %1 строк, %2 столбцов (допускается не более %3 строк и "
                          "%4 столбцов)")
        .arg(rows)
        .arg(cols)
        .arg(limits::kMaxTableRows)
        .arg(limits::kMaxTableColumns);
}

} // namespace

DocStructure ExtractDocTableStructure(const QString &path, int n) {
    if (!QFileInfo::exists(path)) throw Error(QStringLiteral("Файл не найден: ") + path);
    try {
        const QString docx = office::openXmlVersion(path, QStringLiteral("docx"));
        const office::WordDocument doc = office::WordDocument::open(docx);
        if (doc.tableCount() < n) throw Error(QStringLiteral("В документе нет таблицы с номером %1").arg(n));
        const office::WordTable table = doc.table(n);
        const QList<office::GridCell> grid = table.gridCells();
        // A cell reaching beyond the largest table is named before the grid
        // is allocated.
        for (const office::GridCell &g : grid)
            if (qint64(g.column) + g.colSpan - 1 > limits::kMaxTableColumns ||
                qint64(g.row) + g.rowSpan - 1 > limits::kMaxTableRows)
                throw Error(QStringLiteral("Ячейка таблицы документа (строка %1, столбец %2) выходит за пределы "
                                           "допустимого размера таблицы (%3 строк, %4 столбцов)")
                                .arg(g.row)
                                .arg(g.wordColumn)
                                .arg(limits::kMaxTableRows)
                                .arg(limits::kMaxTableColumns));
        const QString tooLarge = sizeFault(table.rowCount(), table.columnCount());
        if (!tooLarge.isEmpty()) throw Error(tooLarge);
        DocStructure s;
        s.resize(table.rowCount(), table.columnCount());
        // Each cell with the span the document gives it: positions inside a
        // merged cell stay empty.
        for (const office::GridCell &g : grid) {
            if (g.row < 1 || g.row > s.rows || g.column < 1 || g.column > s.cols) continue;
            DocCell &cell = s.at(g.row, g.column);
            cell.filled = true;
            cell.text = titleText(g.text);
            cell.startColumn = g.column;
            cell.startRow = g.row;
            cell.endColumn = std::min(s.cols, g.column + std::max(1, g.colSpan) - 1);
            cell.endRow = std::min(s.rows, g.row + std::max(1, g.rowSpan) - 1);
        }
        return s;
    } catch (const office::Error &e) {
        throw Error(QStringLiteral("Ошибка при извлечении структуры таблицы: ") + e.message());
    } catch (const Error &) {
        throw;
    } catch (const std::exception &e) {
        throw Error(QStringLiteral("Ошибка при извлечении структуры таблицы: ") + winutil::errorText(e));
    }
}

QString structureFault(const DocStructure &s, int fixcols, int fixrows) {
    const QString tooLarge = sizeFault(s.rows, s.cols);
    if (!tooLarge.isEmpty()) return tooLarge;
    if (fixcols > s.cols)
        return QStringLiteral("Фиксированных столбцов (%1) больше, чем столбцов в таблице (%2)").arg(fixcols).arg(s.cols);
    if (fixrows > s.rows)
        return QStringLiteral("Фиксированных строк (%1) больше, чем строк в таблице (%2)").arg(fixrows).arg(s.rows);
    // The one shape check every writer of a table's sizes passes, and each
    // title the import would write.
    TableShape shape;
    shape.colcount = s.cols;
    shape.rowcount = s.rows;
    shape.fixcols = fixcols;
    shape.fixrows = fixrows;
    if (const QString f = shapecheck::countsFault(shape); !f.isEmpty()) return f;
    for (int r = 1; r <= s.rows; ++r)
        for (int c = 1; c <= s.cols; ++c) {
            const DocCell &cell = s.at(r, c);
            if (!cell.filled || cell.startRow != r || cell.startColumn != c || cell.text.trimmed().isEmpty()) continue;
            const TitleAttributes a = FormatTitleAttributes(r, c, cell.text);
            const shapecheck::TitleCell title{c, r, cell.startColumn, cell.startRow, cell.endColumn, cell.endRow,
                                              a.fontname, a.fontsize, a.tchars};
            if (const QString f = shapecheck::titleFault(shape, title); !f.isEmpty())
                return QStringLiteral("Ячейка документа (строка %1, столбец %2): %3").arg(r).arg(c).arg(f);
        }
    return QString();
}

bool joinRight(DocStructure &s1, const DocStructure &s2, int fixcols) {
    if (s2.rows != s1.rows) return false;
    const int skip = std::clamp(fixcols, 0, s2.cols);
    const int cols1 = s1.cols;
    const int shift = cols1 - skip;
    s1.resize(s1.rows, cols1 + s2.cols - skip);
    for (int r = 1; r <= s1.rows; ++r)
        for (int c = cols1 + 1; c <= s1.cols; ++c) {
            DocCell cell = s2.at(r, c - cols1 + skip);
            if (cell.filled) {
                cell.startColumn += shift;
                cell.endColumn += shift;
            }
            s1.at(r, c) = cell;
        }
    return true;
}

namespace {
QString cellField(int row, int column) { return QStringLiteral("Ячейка строки %1, графы %2").arg(row).arg(column); }
} // namespace

TitleAttributes FormatTitleAttributes(int /*row*/, int column, const QString &text) {
    TitleAttributes a;
    a.fontname = QStringLiteral("Arial");
    a.fontsize = text.size() > 20 ? 9 : 10;
    a.tchars = column == 1 ? QStringLiteral("TL00") : QStringLiteral("CC00");
    return a;
}

void UpdateTableStructure(qint64 ident, const DocStructure &s, int fixcols, int fixrows) {
    const QString fault = structureFault(s, fixcols, fixrows);
    if (!fault.isEmpty()) throw Error(fault);
    // Titles go into structure files in code page 1251: a cell with "м²" or "≥" is refused before anything changes.
    for (int r = 1; r <= s.rows; ++r)
        for (int c = 1; c <= s.cols; ++c)
            if (const QString why = text::entryProblem(s.at(r, c).text, cellField(r, c)); !why.isEmpty())
                throw Error(why + QStringLiteral(". Структура таблицы не изменена."));
    try {
        const QSqlDatabase d = db::connection(db::kMain);
        if (!db::scalar(d, QStringLiteral("select ident from tables where ident=?"), {ident}).isValid())
            throw Error(QStringLiteral("Таблица %1 не найдена!").arg(ident));
        db::transaction(d, [&] {
            gate::setTableSizes(d, ident, s.cols, s.rows, fixcols, fixrows);
            db::exec(d, QStringLiteral("delete from \"columns\" where \"table\"=?"), {ident});
            db::exec(d, QStringLiteral("delete from \"rows\" where \"table\"=?"), {ident});
            db::exec(d, QStringLiteral("delete from titles where \"table\"=?"), {ident});
            for (int i = 1; i <= s.cols; ++i)
                db::exec(d, QStringLiteral("insert into \"columns\" (\"table\", \"column\", width) values (?,?,100)"),
                         {ident, i});
            for (int i = 1; i <= s.rows; ++i)
                db::exec(d, QStringLiteral("insert into \"rows\" (\"table\", \"row\", height) values (?,?,20)"),
                         {ident, i});
            for (int r = 1; r <= s.rows; ++r)
                for (int c = 1; c <= s.cols; ++c) {
                    const DocCell &cell = s.at(r, c);
                    if (!cell.filled || cell.startRow != r || cell.startColumn != c) continue;
                    if (cell.text.trimmed().isEmpty()) continue;
                    const TitleAttributes a = FormatTitleAttributes(r, c, cell.text);
                    // Titles keep a colon as byte 3, as every other title does:
                    // the structure file leaves plain colons out.
                    db::exec(d,
                             QStringLiteral("insert into titles (\"table\", \"column\", \"row\", union_sc, union_sr, "
                                            "union_ec, union_er, fontname, fontsize, fontbold, fontitalic, tchars, "
                                            "txt) values (?,?,?,?,?,?,?,?,?,?,?,?,?)"),
                             {ident, c, r, cell.startColumn, cell.startRow, cell.endColumn, cell.endRow, a.fontname,
                              a.fontsize, a.bold, a.italic, a.tchars,
                              text::encodeColon(text::entry(cell.text, text::Field::MultiLine, cellField(r, c)))});
                }
        });
    } catch (const db::Error &e) {
        throw Error(QStringLiteral("Ошибка при обновлении структуры таблицы: ") + e.message());
    }
}

} // namespace importdoc
