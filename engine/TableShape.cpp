#include "engine/TableShape.h"

#include "engine/NumberFormat.h"
#include "engine/TableLimits.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QVariant>

TableShape ShapeOfTableRecord(const QSqlQuery &q) {
    TableShape t;
    t.ident = q.value(QStringLiteral("ident")).toLongLong();
    t.colcount = q.value(QStringLiteral("colcount")).toInt();
    t.rowcount = q.value(QStringLiteral("rowcount")).toInt();
    t.fixcols = q.value(QStringLiteral("fixcols")).toInt();
    t.fixrows = q.value(QStringLiteral("fixrows")).toInt();
    t.floatValues = db::storedYes(q.value(QStringLiteral("floattype")));
    t.scan = q.value(QStringLiteral("scan")).toInt();
    return t;
}

std::optional<TableShape> FindTableShape(const QSqlDatabase &mainDb, qint64 ident) {
    QSqlQuery q = db::exec(
        mainDb, QStringLiteral("select ident, colcount, rowcount, fixcols, fixrows, floattype, scan from tables where ident=?"),
        {ident});
    if (!q.next()) return std::nullopt;
    return ShapeOfTableRecord(q);
}

TableShape ReadTableShape(const QSqlDatabase &mainDb, qint64 ident) {
    const std::optional<TableShape> shape = FindTableShape(mainDb, ident);
    if (!shape) throw db::Error(QStringLiteral("Таблица не определена!"));
    return *shape;
}

// ---- the shape check ------------------------------------------------------------

namespace shapecheck {

namespace {
bool sizeFits(double v) { return v >= 0 && v <= limits::kMaxLineSize; }   // NaN fails both
QString sizeFault(const QString &what, double v) {
    return QStringLiteral("%1 %2 недопустима (от 0 до %3)").arg(what, num::general(v)).arg(limits::kMaxLineSize);
}
} // namespace

QString countsFault(const TableShape &s) {
    if (!limits::tableSizeFits(s.colcount, s.rowcount))
        return QStringLiteral("размер таблицы %1 x %2 недопустим (граф от 0 до %3, строк от 0 до %4)")
            .arg(s.colcount)
            .arg(s.rowcount)
            .arg(limits::kMaxTableColumns)
            .arg(limits::kMaxTableRows);
    if (s.fixcols < 0 || s.fixcols > s.colcount)
        return QStringLiteral("число граф заголовка %1 должно быть от 0 до числа граф таблицы %2")
            .arg(s.fixcols)
            .arg(s.colcount);
    if (s.fixrows < 0 || s.fixrows > s.rowcount)
        return QStringLiteral("число строк заголовка %1 должно быть от 0 до числа строк таблицы %2")
            .arg(s.fixrows)
            .arg(s.rowcount);
    if (s.scan != 0 && s.scan != 1)
        return QStringLiteral("порядок формирования %1 недопустим (0 - по строкам, 1 - по графам)").arg(s.scan);
    return QString();
}

QString rowFault(const TableShape &s, long long row, double height) {
    if (row < 1 || row > s.rowcount)
        return QStringLiteral("строка %1 вне таблицы (строк %2)").arg(row).arg(s.rowcount);
    if (!sizeFits(height)) return sizeFault(QStringLiteral("Высота"), height);
    return QString();
}

QString columnFault(const TableShape &s, long long column, double width) {
    if (column < 1 || column > s.colcount)
        return QStringLiteral("графа %1 вне таблицы (граф %2)").arg(column).arg(s.colcount);
    if (!sizeFits(width)) return sizeFault(QStringLiteral("Ширина"), width);
    return QString();
}

bool layoutCodeValid(const QString &t) {
    if (t.size() < 3 || !QStringLiteral("TCB").contains(t[0]) || !QStringLiteral("LCR").contains(t[1]) ||
        !QStringLiteral("01").contains(t[2]))
        return false;
    for (int i = 3; i < t.size(); ++i)
        if (t[i] < QLatin1Char('0') || t[i] > QLatin1Char('9')) return false;
    return t.size() <= 6;
}

QString titleFault(const TableShape &s, const TitleCell &t) {
    auto inColumns = [&](long long c) { return c >= 1 && c <= s.colcount; };
    auto inRows = [&](long long r) { return r >= 1 && r <= s.rowcount; };
    if (!inColumns(t.column) || !inRows(t.row))
        return QStringLiteral("заголовок (графа %1, строка %2) вне таблицы (граф %3, строк %4)")
            .arg(t.column)
            .arg(t.row)
            .arg(s.colcount)
            .arg(s.rowcount);
    if (!inColumns(t.sc) || !inColumns(t.ec) || !inRows(t.sr) || !inRows(t.er) || t.sc > t.ec || t.sr > t.er ||
        t.column < t.sc || t.column > t.ec || t.row < t.sr || t.row > t.er)
        return QStringLiteral("объединение заголовка (графы %1-%2, строки %3-%4) не лежит в таблице или не "
                              "содержит его ячейку (графа %5, строка %6)")
            .arg(t.sc)
            .arg(t.ec)
            .arg(t.sr)
            .arg(t.er)
            .arg(t.column)
            .arg(t.row);
    if (t.fontname.trimmed().isEmpty()) return QStringLiteral("не указан шрифт заголовка");
    if (t.fontsize < 1 || t.fontsize > limits::kMaxFontSize)
        return QStringLiteral("размер шрифта %1 недопустим (от 1 до %2)").arg(t.fontsize).arg(limits::kMaxFontSize);
    if (!layoutCodeValid(t.tchars))
        return QStringLiteral("код расположения текста \"%1\" недопустим (например CC00: вертикаль T/C/B, "
                              "горизонталь L/C/R, поворот 0/1, сдвиг)")
            .arg(t.tchars);
    return QString();
}

} // namespace shapecheck
