#include "forms/ImportDocLogic.h"

#include "core/TextUtil.h"

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

void computeSpans(DocStructure &s) {
    for (int r = 1; r <= s.rows; ++r)
        for (int c = 1; c <= s.cols; ++c) {
            DocCell &cell = s.at(r, c);
            if (!cell.filled) continue;
            cell.endRow = s.rows;
            for (int below = r + 1; below <= s.rows; ++below)
                if (s.at(below, c).filled) {
                    cell.endRow = below - 1;
                    break;
                }
            cell.endColumn = s.cols;
            for (int right = c + 1; right <= s.cols; ++right)
                if (s.at(r, right).filled) {
                    cell.endColumn = right - 1;
                    break;
                }
        }
}

DocStructure ExtractDocTableStructure(const QString &path, int n) {
    if (!QFileInfo::exists(path)) throw Error(QStringLiteral("Файл не найден: ") + path);
    try {
        const QString docx = office::openXmlVersion(path, QStringLiteral("docx"));
        const office::WordDocument doc = office::WordDocument::open(docx);
        if (doc.tableCount() < n) throw Error(QStringLiteral("В документе нет таблицы с номером %1").arg(n));
        const office::WordTable table = doc.table(n);
        DocStructure s;
        s.resize(table.rowCount(), table.columnCount());
        for (const office::GridCell &g : table.gridCells()) {
            if (g.row < 1 || g.row > s.rows || g.column < 1 || g.column > s.cols) continue;
            DocCell &cell = s.at(g.row, g.column);
            QString text = g.text;
            text.remove(QLatin1Char('\r'));
            text.remove(QChar(7));
            cell.filled = true;
            cell.text = text.trimmed();
            cell.startColumn = cell.endColumn = g.column;
            cell.startRow = cell.endRow = g.row;
        }
        computeSpans(s);
        return s;
    } catch (const office::Error &e) {
        throw Error(QStringLiteral("Ошибка при извлечении структуры таблицы: ") + e.message());
    } catch (const Error &) {
        throw;
    } catch (const std::exception &e) {
        throw Error(QStringLiteral("Ошибка при извлечении структуры таблицы: ") + QString::fromLocal8Bit(e.what()));
    }
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

TitleAttributes FormatTitleAttributes(int /*row*/, int column, const QString &text) {
    TitleAttributes a;
    a.fontname = QStringLiteral("Arial");
    a.fontsize = text.size() > 20 ? 9 : 10;
    a.tchars = column == 1 ? QStringLiteral("TL00") : QStringLiteral("CC00");
    return a;
}

QString describeStructure(const DocStructure &s) {
    QString out = QStringLiteral("Структура таблицы:\r\n");
    int count = 0;
    for (int r = 1; r <= s.rows; ++r)
        for (int c = 1; c <= s.cols; ++c) {
            const DocCell &cell = s.at(r, c);
            if (!cell.filled || cell.text.trimmed().isEmpty()) continue;
            ++count;
            out += QStringLiteral("Строка %1(%2), Столбец %3(%4): \"%5\"\r\n")
                       .arg(r)
                       .arg(cell.startRow)
                       .arg(c)
                       .arg(cell.startColumn)
                       .arg(cell.text);
        }
    out += QStringLiteral("\r\nРазмер таблицы: %1 строк, %2 столбцов\r\nНайдено заголовков: %3")
               .arg(s.rows)
               .arg(s.cols)
               .arg(count);
    return out;
}

void UpdateTableStructure(qint64 ident, const DocStructure &s, int fixcols, int fixrows) {
    try {
        const QSqlDatabase d = db::connection(db::kMain);
        if (!db::scalar(d, QStringLiteral("select ident from tables where ident=?"), {ident}).isValid())
            throw Error(QStringLiteral("Таблица %1 не найдена!").arg(ident));
        db::transaction(d, [&] {
            db::exec(d, QStringLiteral("update tables set colcount=?, rowcount=?, fixcols=?, fixrows=? where ident=?"),
                     {s.cols, s.rows, fixcols, fixrows, ident});
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
                              a.fontsize, a.bold, a.italic, a.tchars, text::encodeColon(cell.text)});
                }
        });
    } catch (const db::Error &e) {
        throw Error(QStringLiteral("Ошибка при обновлении структуры таблицы: ") + e.message());
    }
}

} // namespace importdoc
