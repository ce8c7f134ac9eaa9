#include "forms/table/TableExcel.h"
#include "forms/output/ExcelOutput.h"
#include "engine/CellNumbering.h"

#include <algorithm>
#include <cmath>
#include "forms/shared/TransferFiles.h"

#include "engine/Lookups.h"
#include "engine/NumberFormat.h"
#include "engine/SharedState.h"
#include "engine/TextUtil.h"
#include "engine/TableValues.h"
#include "forms/shared/FormListCommon.h"
#include "platform/Errors.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Show.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVBoxLayout>
#include <cmath>

namespace tableexcel {

namespace {

office::VAlign verticalOf(QChar c) {
    switch (c.toUpper().unicode()) {
    case 'T': return office::VAlign::Top;
    case 'C': return office::VAlign::Center;
    case 'J': return office::VAlign::Justify;
    default: return office::VAlign::Bottom;
    }
}

std::optional<office::HAlign> horizontalOf(QChar c) {
    switch (c.toUpper().unicode()) {
    case 'L': return office::HAlign::Left;
    case 'C': return office::HAlign::Center;
    case 'R': return office::HAlign::Right;
    case 'J': return office::HAlign::Justify;
    default: return std::nullopt;
    }
}

// Same text, or the same number when both are numbers ("3" typed over the title "3").
bool sameCellText(const QString &sheet, const QString &title) {
    if (sheet == title) return true;
    double a = 0, b = 0;
    return num::parse(sheet, a) && num::parse(title, b) && a == b;
}

// Why the sheet is not laid out as the table, or empty when it is.
QString layoutMismatch(const office::ExcelSheet &sheet, const TableShape &shape) {
    // Titles of the numbering row (last header row) and column (last header column).
    QMap<QPair<int, int>, QString> numbering;   // (row, column) of the sheet -> text
    QSqlQuery q = db::exec(db::kMain,
                           QStringLiteral("select \"column\", \"row\", txt from titles where \"table\"=? and "
                                          "((\"row\"=? and \"column\">?) or (\"column\"=? and \"row\">?))"),
                           {shape.ident, shape.fixrows, shape.fixcols, shape.fixcols, shape.fixrows});
    while (q.next())
        numbering.insert({cells::storedOfStruct(q.value(1).toInt()), cells::storedOfStruct(q.value(0).toInt())},
                         text::decodeColon(q.value(2).toString()).trimmed());
    auto check = [&](int row, int column) -> QString {
        const auto merge = sheet.mergeAt(row, column);
        if (merge && (merge->firstRow != row || merge->firstColumn != column)) return {};
        const QString want = numbering.value({row, column});
        const QString have = sheet.text(row, column).trimmed();
        if (sameCellText(have, want)) return {};
        return QStringLiteral("в ячейке %1 стоит \"%2\", а в таблице \"%3\"")
            .arg(office::cellName(row, column), have, want);
    };
    // The numbering row and column are the last header ones, in the sheet's (stored) numbering.
    const int numberingRow = cells::storedOfStruct(shape.fixrows);
    const int numberingColumn = cells::storedOfStruct(shape.fixcols);
    if (shape.fixrows >= 1)
        for (int c = cells::storedColumnOfGrid(0, shape.fixcols); c <= cells::storedOfStruct(shape.colcount); ++c)
            if (const QString why = check(numberingRow, c); !why.isEmpty()) return why;
    if (shape.fixcols >= 1)
        for (int r = cells::storedRowOfGrid(0, shape.fixrows); r <= cells::storedOfStruct(shape.rowcount); ++r)
            if (const QString why = check(r, numberingColumn); !why.isEmpty()) return why;
    // A sheet of a larger table goes on below or to the right of this one.
    auto filled = [&](int row, int column) {
        return sheet.hasValue(row, column) && !sheet.text(row, column).trimmed().isEmpty();
    };
    for (int r = 2; r <= shape.rowcount + 2; ++r)
        if (filled(r, shape.colcount + 2))
            return QStringLiteral("ячейка %1 справа от таблицы заполнена").arg(office::cellName(r, shape.colcount + 2));
    for (int c = 2; c <= shape.colcount + 1; ++c)
        if (filled(shape.rowcount + 2, c))
            return QStringLiteral("ячейка %1 под таблицей заполнена").arg(office::cellName(shape.rowcount + 2, c));
    return {};
}

} // namespace

QString SheetName(const QString &formName, const QString &tableNumber) {
    return office::fittedSheetName((formName + tableNumber).left(20));
}

void WriteTableSheet(office::ExcelSheet &sheet, const SheetSource &src) {
    const TableShape shape = ReadTableShape(db::connection(db::kMain), src.tableIdent);
    sheet.setName(SheetName(src.formName, src.tableNumber));
    sheet.setValue(1, 1, src.caption);

    QSqlQuery q = db::exec(db::kMain, QStringLiteral("select \"column\", width from \"columns\" where \"table\"=?"),
                           {src.tableIdent});
    while (q.next()) {
        const int c = q.value(0).toInt();
        if (c >= 0) sheet.setColumnWidth(c + 1, std::max(0, excelout::SheetColumnWidth(q.value(1).toDouble())));
    }
    q = db::exec(db::kMain, QStringLiteral("select \"row\", height from \"rows\" where \"table\"=?"), {src.tableIdent});
    while (q.next()) {
        const int r = q.value(0).toInt();
        if (r >= 0) sheet.setRowHeight(r + 1, std::max(0.0, q.value(1).toDouble()));
    }

    q = db::exec(db::kMain,
                 QStringLiteral("select \"column\", \"row\", union_sc, union_sr, union_ec, union_er, fontname, "
                                "fontsize, fontbold, fontitalic, tchars, txt from titles where \"table\"=? "
                                "order by \"column\", \"row\""),
                 {src.tableIdent});
    while (q.next()) {
        const int column = q.value(0).toInt(), row = q.value(1).toInt();
        if (column < 0 || row < 0) continue;
        const int sc = q.value(2).toInt(), sr = q.value(3).toInt();
        const int ec = q.value(4).toInt(), er = q.value(5).toInt();
        office::ExcelRange cell = sheet.cell(row + 1, column + 1);
        cell.setNumberFormat(QStringLiteral("@")).setWrapText(true).setValue(text::decodeColon(q.value(11).toString()));
        office::ExcelRange target = cell;
        if ((sc != ec || sr != er) && er >= row && ec >= column) {
            target = sheet.range(row + 1, column + 1, er + 1, ec + 1);
            target.merge();
            target.setNumberFormat(QStringLiteral("@")).setWrapText(true);
        }
        const QString font = q.value(6).toString();
        if (!font.isEmpty()) target.setFontName(font);
        if (q.value(7).toDouble() > 0) target.setFontSize(q.value(7).toDouble());
        target.setBold(db::storedYes(q.value(8)));
        target.setItalic(db::storedYes(q.value(9)));
        const QString tchars = q.value(10).toString();
        if (tchars.size() >= 1) target.setVerticalAlignment(verticalOf(tchars[0]));
        if (tchars.size() >= 2)
            if (const auto h = horizontalOf(tchars[1])) target.setHorizontalAlignment(*h);
        if (tchars.size() >= 3 && tchars[2] == u'1') target.setOrientation(90);
        if (tchars.size() >= 4 && tchars[3].isDigit()) target.setIndentLevel(tchars[3].digitValue());
    }

    const QString format = src.floatValues ? QStringLiteral("0.00") : QStringLiteral("0");
    q = db::exec(db::kData,
                 QStringLiteral("select \"column\", \"row\", data from %1 where hospital=? and \"table\"=? and year=?")
                     .arg(ValueTableName(src.valueTable)),
                 {src.institution, src.tableIdent, src.year});
    while (q.next()) {
        const int column = q.value(0).toInt(), row = q.value(1).toInt();
        if (column < 1 || row < 1) continue;
        sheet.cell(row, column).setNumberFormat(format).setValue(q.value(2).toDouble());
    }

    if (shape.rowcount >= 1 && shape.colcount >= 1)
        sheet.range(2, 2, shape.rowcount + 1, shape.colcount + 1).setAllBorders(office::LineStyle::Continuous);
    sheet.freezePanes(cells::storedRowOfGrid(0, shape.fixrows), cells::storedColumnOfGrid(0, shape.fixcols));
}

std::optional<QList<SheetValue>> ReadTableSheet(office::ExcelWorkbook &book, const QString &sheetName,
                                                const TableShape &shape) {
    office::ExcelSheet *sheet = nullptr;
    for (int i = 1; i <= book.sheetCount() && !sheet; ++i)
        if (text::sameName(book.sheet(i).name(), sheetName)) sheet = &book.sheet(i);
    if (!sheet) return std::nullopt;
    if (const QString why = layoutMismatch(*sheet, shape); !why.isEmpty())
        throw office::Error(QStringLiteral("Лист \"%1\" не совпадает с таблицей по строению: %2. "
                                           "Возможно, он сделан для другой таблицы или до изменения ее строения. "
                                           "Таблица не загружена.")
                                .arg(sheet->name(), why));

    // A merge over value cells hides every value but the first: refused.
    const office::RangeRef area{cells::storedRowOfGrid(0, shape.fixrows), cells::storedColumnOfGrid(0, shape.fixcols),
                                shape.rowcount + 1, shape.colcount + 1};
    for (const office::RangeRef &m : sheet->merges()) {
        if (!m.intersects(area)) continue;
        const int rows = std::min(m.lastRow, area.lastRow) - std::max(m.firstRow, area.firstRow) + 1;
        const int columns = std::min(m.lastColumn, area.lastColumn) - std::max(m.firstColumn, area.firstColumn) + 1;
        if (rows * columns > 1)
            throw office::Error(QStringLiteral("Лист \"%1\": ячейки %2:%3 объединены, а в них лежат значения "
                                               "таблицы. Снимите объединение и загрузите снова. Таблица не загружена.")
                                    .arg(sheet->name(), office::cellName(m.firstRow, m.firstColumn),
                                         office::cellName(m.lastRow, m.lastColumn)));
    }
    QList<SheetValue> values;
    for (int r = cells::storedRowOfGrid(0, shape.fixrows); r <= cells::storedOfStruct(shape.rowcount); ++r) {
        for (int c = cells::storedColumnOfGrid(0, shape.fixcols); c <= cells::storedOfStruct(shape.colcount); ++c) {
            const QVariant v = sheet->value(r, c);
            double value = 0;
            if ((!v.isValid() || v.isNull()) && sheet->isFormula(r, c))
                throw office::Error(QStringLiteral("Лист \"%1\", ячейка %2: формула без вычисленного значения "
                                                   "(книга сохранена без пересчета). Откройте книгу в Excel, "
                                                   "сохраните ее и загрузите снова. Таблица не загружена.")
                                        .arg(sheet->name(), office::cellName(r, c)));
            if (!v.isValid() || v.isNull()) continue;
            if (v.typeId() == QMetaType::Bool)
                throw office::Error(QStringLiteral("Лист \"%1\", ячейка %2: логическое значение %3 не является числом. "
                                                   "Таблица не загружена.")
                                        .arg(sheet->name(), office::cellName(r, c),
                                             v.toBool() ? QStringLiteral("ИСТИНА") : QStringLiteral("ЛОЖЬ")));
            if (v.typeId() == QMetaType::Double || v.typeId() == QMetaType::Int || v.typeId() == QMetaType::LongLong) {
                value = v.toDouble();
            } else {
                const QString t = v.toString().trimmed();
                if (t.isEmpty()) continue;
                if (!num::parse(t, value))
                    throw office::Error(QStringLiteral("Лист \"%1\", ячейка %2: \"%3\" не является числом. "
                                                       "Таблица не загружена.")
                                            .arg(sheet->name(), office::cellName(r, c), text::shownField(t)));
            }
            if (!num::isStorableValue(value))
                throw office::Error(QStringLiteral("Лист \"%1\", ячейка %2: число \"%3\" вне допустимых пределов "
                                                   "(допустимы числа по модулю меньше 1000000000000000). "
                                                   "Таблица не загружена.")
                                        .arg(sheet->name(), office::cellName(r, c),
                                             text::shownField(v.toString())));
            // A whole-number table takes whole numbers only, as typing does:
            // 123.5 is refused, never stored and shown as 124.
            if (!shape.floatValues && num::stored(value) != std::trunc(num::stored(value)))
                throw office::Error(QStringLiteral("Лист \"%1\", ячейка %2: число %3 не целое, а в таблице только целые "
                                                   "числа. Таблица не загружена.")
                                        .arg(sheet->name(), office::cellName(r, c), num::general(value)));
            if (value != 0) values.append({c, r, value});
        }
    }
    return values;
}

void StoreTableValues(ValueTable valueTable, qint64 institution, int year, qint64 tableIdent,
                      const QList<SheetValue> &values) {
    const QSqlDatabase d = db::connection(db::kData);
    db::transaction(d, [&] {
        TableValueWriter writer(d, valueTable, institution, year, tableIdent);
        for (const SheetValue &v : values) writer.write(v.column, v.row, v.value);
    });
}

void AddSheetToWorkbook(const QString &path, const SheetSource &source) {
    // Only a workbook of the format written here can be written back
    // without losing what it holds; an old binary book is read only.
    const QString ext = QFileInfo(path).suffix().toLower();
    if (ext != QLatin1String("xlsx") && ext != QLatin1String("xlsm"))
        throw office::Error(QStringLiteral("Лист добавляется только в книгу .xlsx или .xlsm; книга %1 не изменена. "
                                           "Сохраните ее в формате .xlsx и повторите вывод.")
                                .arg(QDir::toNativeSeparators(path)));
    office::ExcelWorkbook book = office::ExcelWorkbook::open(path);
    WriteTableSheet(book.addSheet(), source);
    book.saveAs(path);
}

} // namespace tableexcel

using namespace tableexcel;

TForm4::TForm4(QWidget *parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("Выьерите книгу Excel"));
    resize(360, 280);
    auto *top = new QVBoxLayout(this);
    m_ui.books = new QListWidget(this);
    top->addWidget(m_ui.books, 1);
    auto *buttons = new QHBoxLayout;
    m_ui.ok = new QPushButton(QStringLiteral("OK"), this);
    m_ui.cancel = new QPushButton(QStringLiteral("Отмена"), this);
    m_ui.ok->setDefault(true);
    buttons->addStretch(1);
    buttons->addWidget(m_ui.ok);
    buttons->addWidget(m_ui.cancel);
    top->addLayout(buttons);
    connect(m_ui.ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui.cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_ui.books, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
}

void TForm4::setBooks(const QStringList &names) {
    m_ui.books->clear();
    m_ui.books->addItems(names);
    m_ui.books->setCurrentRow(0);
}

int TForm4::chosenBook() const { return m_ui.books->currentRow(); }

namespace {

SheetSource sourceOf(const TVTable &table) {
    const SharedState &s = shared();
    SheetSource src;
    src.tableIdent = table.params().tableIdent;
    src.formName = table.params().formName;
    src.tableNumber = table.params().tableNumber;
    src.caption = table.windowTitle();
    src.floatValues = table.showsDecimals();
    src.valueTable = table.work().table;
    src.institution = table.work().institution;
    src.year = s.Year;
    return src;
}

const QString kExcelFilter = QStringLiteral("Книги Excel (*.xls *.xlsx *.xlsm)");

} // namespace

void exportTableToExcel(TVTable &table, SheetTarget target) {
    winutil::guarded(&table, [&] {
        if (!table.PutData()) return;
        const SheetSource src = sourceOf(table);
        const QString done = QStringLiteral("Вывод таблицы завершен. Ждите открытия Excel...");
        if (target == SheetTarget::OpenBook) {
            const QStringList open = office::shownWorkbooks();
            if (!open.isEmpty()) {
                TForm4 choice(&table);
                QStringList names;
                for (const QString &path : open) names << QFileInfo(path).fileName();
                choice.setBooks(names);
                if (execModal(&choice) != QDialog::Accepted) return;
                const int index = choice.chosenBook();
                if (index < 0 || index >= open.size()) return;
                const QString path = open[index];
                office::ExcelWorkbook book = office::ExcelWorkbook::open(path);
                WriteTableSheet(book.addSheet(), src);
                book.saveAs(path);
                showMessage(done, &table);
                office::showFile(path);
                return;
            }
        }
        if (target == SheetTarget::File) {
            const QString file = dialogs().openFile(&table, QStringLiteral("Открыть"), office::documentsFolder(), kExcelFilter);
            if (file.isEmpty()) return;
            AddSheetToWorkbook(file, src);
            showMessage(done, &table);
            office::showFile(file);
            return;
        }
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        WriteTableSheet(book.addSheet(), src);
        const QString file = office::saveShown(book, SheetName(src.formName, src.tableNumber));
        showMessage(done, &table);
        office::showFile(file);
    });
    table.focusGrid();
}

void loadTableFromExcel(TVTable &table) {
    winutil::guarded(&table, [&] {
        if (table.isTemplateView() || table.isSumView()) {
            showMessage(QStringLiteral("Значения из Excel загружаются только в таблицу учреждения или свода."),
                        &table);
            return;
        }
        const QString file = dialogs().openFile(&table, QStringLiteral("Открыть"), office::documentsFolder(), kExcelFilter);
        if (file.isEmpty()) return;
        const SharedState &s = shared();
        const TableWindowParams &t = table.params();
        const TableShape shape = ReadTableShape(db::connection(db::kMain), t.tableIdent);
        office::ExcelWorkbook book = office::ExcelWorkbook::open(file);
        const QString sheetName = SheetName(t.formName, t.tableNumber);
        const auto values = ReadTableSheet(book, sheetName, shape);
        if (!values) {
            showMessage(QStringLiteral("В книге %1 нет листа \"%2\". Таблица не загружена.")
                            .arg(QDir::toNativeSeparators(file), sheetName),
                        &table);
            return;
        }
        const ValueTable valueTable = table.work().table;
        transfer::requireTarget(valueTable, table.work().institution);
        // An empty value area is no data, as for transfer files: nothing is changed.
        if (values->isEmpty()) {
            showMessage(QStringLiteral("На листе \"%1\" книги %2 нет значений таблицы. Данные не изменены.")
                            .arg(sheetName, QDir::toNativeSeparators(file)),
                        &table);
            return;
        }
        StoreTableValues(valueTable, table.work().institution, s.Year, t.tableIdent, *values);
        table.TableShow();
        showMessage(QStringLiteral("Таблица %1Т%2 загружена из %3: сохранено значений: %4.")
                        .arg(t.formName, t.tableNumber, QDir::toNativeSeparators(file))
                        .arg(values->size()),
                    &table);
    });
}

void installTableExcelTableExtension() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    registerTableWindowExtension([](TVTable &w) {
        using C = TVTable::Command;
        w.connectCommand(C::ExcelToOpenBook, [&w] { exportTableToExcel(w, SheetTarget::OpenBook); });
        w.connectCommand(C::ExcelToNewBook, [&w] { exportTableToExcel(w, SheetTarget::NewBook); });
        w.connectCommand(C::ExcelToFile, [&w] { exportTableToExcel(w, SheetTarget::File); });
        w.connectCommand(C::LoadFromExcel, [&w] { loadTableFromExcel(w); });
    });
}
