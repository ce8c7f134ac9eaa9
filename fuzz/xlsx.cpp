// Workbooks (platform/office/ExcelWorkbook), given as their parts
// (fuzz/Fuzz.h), as "Загрузить из Excel" reads them (forms/table/TableExcel:
// the sheet of a table read into its cells and stored).
// Oracles: a workbook opened and saved opens again with the same sheets,
// values, formats, merges, widths and heights; the sheet of a table gives
// only cells inside the table; failures are Russian messages.
#include "fuzz/Fuzz.h"

#include "core/SampleConfig.h"
#include "engine/CellNumbering.h"
#include "engine/TableShape.h"
#include "forms/table/TableExcel.h"
#include "platform/Database.h"
#include "platform/office/ExcelWorkbook.h"

#include <QMap>
#include <QSqlQuery>

namespace {

// Sheets whose used range is larger are compared by their corners only.
constexpr qint64 kMaxCompared = 20000;

QString sheetText(office::ExcelSheet &s) {
    QStringList out{s.name()};
    const office::RangeRef used = s.usedRange();
    out << QStringLiteral("%1:%2-%3:%4").arg(used.firstRow).arg(used.firstColumn).arg(used.lastRow).arg(used.lastColumn);
    if (used.isEmpty()) return out.join(u'\n');
    const qint64 cells = qint64(used.lastRow - used.firstRow + 1) * (used.lastColumn - used.firstColumn + 1);
    auto cell = [&](int r, int c) {
        const office::CellFormat f = s.format(r, c);
        out << QStringLiteral("%1,%2 %3 [%4|%5|%6|%7|%8|%9|%10|%11|%12]")
                   .arg(r).arg(c).arg(s.text(r, c), f.numberFormat, f.fontName)
                   .arg(f.fontSize).arg(f.bold).arg(int(f.hAlign)).arg(f.wrap).arg(f.rotation)
                   .arg(int(f.left) * 7 + int(f.bottom));
    };
    if (cells <= kMaxCompared) {
        for (int r = used.firstRow; r <= used.lastRow; ++r)
            for (int c = used.firstColumn; c <= used.lastColumn; ++c) cell(r, c);
        for (int r = used.firstRow; r <= used.lastRow; ++r) out << QString::number(s.rowHeight(r));
        for (int c = used.firstColumn; c <= used.lastColumn; ++c) out << QString::number(s.columnWidth(c));
    } else {
        cell(used.firstRow, used.firstColumn);
        cell(used.lastRow, used.lastColumn);
    }
    for (const office::RangeRef &m : s.merges())
        out << QStringLiteral("merge %1:%2-%3:%4").arg(m.firstRow).arg(m.firstColumn).arg(m.lastRow).arg(m.lastColumn);
    const office::CellRef frozen = s.frozenAt();
    out << QStringLiteral("frozen %1:%2").arg(frozen.row).arg(frozen.column);
    return out.join(u'\n');
}

QStringList bookText(office::ExcelWorkbook &book) {
    QStringList out;
    for (int i = 1; i <= book.sheetCount(); ++i) out << sheetText(book.sheet(i));
    return out;
}

// Every stored value of the sample but those of the north hospital's table.
QString otherValues(qint64 ident) {
    QStringList out;
    QSqlQuery q = db::exec(db::connection(db::kData),
                           QStringLiteral("select hospital, year, \"table\", \"column\", \"row\", data from data "
                                          "where not (hospital=? and \"table\"=?) order by 1, 2, 3, 4, 5"),
                           {sample::ids::NorthHospital, ident});
    while (q.next())
        for (int i = 0; i < 6; ++i) out << q.value(i).toString();
    return out.join(u',');
}

} // namespace

void fuzz::input(const QByteArray &input) {
    fuzz::sample();
    const QString path = fuzz::writePackage(input, QStringLiteral("input.xlsx"));
    if (path.isEmpty()) return;
    std::optional<office::ExcelWorkbook> book;
    if (!fuzz::answers("opening a workbook", [&] { book.emplace(office::ExcelWorkbook::open(path)); })) return;

    // The sheets of the sample's tables, as the table window loads them.
    for (const qint64 ident : {sample::ids::TableF30Staff, sample::ids::TableF14Patients}) {
        const TableShape shape = ReadTableShape(db::connection(db::kMain), ident);
        for (const QString &name : {tableexcel::SheetName(QStringLiteral("Ф30"), QStringLiteral("(1000)")),
                                    tableexcel::SheetName(QStringLiteral("Ф14"), QStringLiteral("(1000)"))})
            fuzz::answers("the sheet of a table", [&] {
                const auto values = tableexcel::ReadTableSheet(*book, name, shape);
                if (!values) return;
                QMap<QPair<int, int>, double> cellsOfSheet;
                for (const tableexcel::SheetValue &v : *values) {
                    fuzz::check(v.column >= cells::storedColumnOfGrid(0, shape.fixcols) && v.column <= shape.colcount + 1 &&
                                    v.row >= cells::storedRowOfGrid(0, shape.fixrows) && v.row <= shape.rowcount + 1,
                                "a sheet gives only cells inside its table",
                                QStringLiteral("%1 %2").arg(v.column).arg(v.row));
                    fuzz::check(!cellsOfSheet.contains({v.column, v.row}), "a sheet gives each cell once");
                    cellsOfSheet.insert({v.column, v.row}, v.value);
                }
                // Stored, the table holds the sheet's values and nothing else changes.
                const QString others = otherValues(ident);
                fuzz::rolledBack("storing the sheet of a table", [&] {
                    tableexcel::StoreTableValues(ValueTable::Data, sample::ids::NorthHospital, fuzz::sample().year,
                                                 ident, *values);
                    fuzz::check(otherValues(ident) == others, "storing a sheet changes no other table");
                    QSqlQuery q = db::exec(db::connection(db::kData),
                                           QStringLiteral("select \"column\", \"row\", data from data where hospital=? "
                                                          "and year=? and \"table\"=?"),
                                           {sample::ids::NorthHospital, fuzz::sample().year, ident});
                    int stored = 0;
                    while (q.next()) {
                        ++stored;
                        const QPair<int, int> at{q.value(0).toInt(), q.value(1).toInt()};
                        fuzz::check(cellsOfSheet.contains(at) && fuzz::sameValue(cellsOfSheet[at], q.value(2).toDouble()),
                                    "a stored sheet holds the sheet's values");
                    }
                    int nonZero = 0;
                    for (double v : cellsOfSheet) nonZero += v != 0;
                    fuzz::check(stored == nonZero, "every value of the sheet is stored");
                });
            });
    }

    const QStringList first = bookText(*book);
    const QString saved = fuzz::scratch() + QStringLiteral("saved.xlsx");
    if (!fuzz::answers("saving a workbook opened", [&] { book->saveAs(saved); })) return;
    std::optional<office::ExcelWorkbook> back;
    fuzz::check(fuzz::answers("opening a workbook saved", [&] { back.emplace(office::ExcelWorkbook::open(saved)); }),
                "a workbook saved opens again");
    const QStringList again = bookText(*back);
    fuzz::check(again == first, "a workbook saved opens with what it held",
                first.join(u'\n').left(2000) + QStringLiteral("\n  again:\n") + again.join(u'\n').left(2000));
    return;
}
