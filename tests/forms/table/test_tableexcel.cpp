// A table written to a spreadsheet and read back; a bad sheet changes nothing.
#include "engine/SharedState.h"
#include "forms/output/ExcelOutput.h"
#include "forms/table/TableExcel.h"
#include "forms/table/TableGrid.h"
#include "forms/table/TableWindow.h"
#include "platform/Database.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Package.h"
#include "platform/office/Show.h"
#include "support/Files.h"
#include "support/TableWindowSetup.h"
#include "support/WindowTestBase.h"

#include <QListWidget>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace tableexcel;

namespace {

using Cells = QMap<QPair<int, int>, double>;   // (column, row) -> value

struct TableExcelTest : SampleTest {
    void SetUp() override {
        SampleTest::SetUp();
        installTableExcelTableExtension();
        table = aimTableWindow(sample::ids::SouthHospital, sample::ids::FormF30, QStringLiteral("Ф30"), QStringLiteral("(1000)"),
                       sample::ids::TableF30Staff);
    }

    SheetSource source() {
        return {sample::ids::TableF30Staff, "Ф30", "(1000)", "Штаты", false, ValueTable::Data, sample::ids::SouthHospital, fx.year()};
    }

    Cells stored(qint64 hospital = sample::ids::SouthHospital, qint64 table = sample::ids::TableF30Staff) {
        Cells out;
        QSqlQuery q = db::exec(db::kData, "select \"column\", \"row\", data from data where hospital=? and "
                                          "\"table\"=? and year=?", {hospital, table, fx.year()});
        while (q.next()) out[{q.value(0).toInt(), q.value(1).toInt()}] = q.value(2).toDouble();
        return out;
    }

    // The table written to a file of the test folder.
    QString writtenFile(const QString &name) {
        office::ExcelWorkbook book = office::ExcelWorkbook::create();
        WriteTableSheet(book.addSheet(), source());
        const QString path = fx.root() + name;
        book.saveAs(path);
        return path;
    }

    std::unique_ptr<TVTable> show() { return showTableWindow(table); }
    TableWindowParams table;
};

} // namespace

TEST_F(TableExcelTest, SheetHoldsHeaderSizesAndValues) {
    office::ExcelWorkbook book = office::ExcelWorkbook::open(writtenFile("out.xlsx"));
    office::ExcelSheet *sheet = book.findSheet("Ф30(1000)");
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->columnWidth(5), 11);   // 60 points
    EXPECT_EQ(sheet->rowHeight(3), 45);
    // The title over structure columns 4..5 of row 1 is merged over (2,5)..(2,6).
    const auto merge = sheet->mergeAt(2, 5);
    ASSERT_TRUE(merge);
    EXPECT_EQ(*merge, (office::RangeRef{2, 5, 2, 6}));
    EXPECT_EQ(sheet->text(2, 5), "Число должностей: в целом по организации");
    EXPECT_EQ(sheet->format(2, 5).numberFormat, "@");
    EXPECT_EQ(sheet->text(2, 3), "№ строки");
    EXPECT_EQ(sheet->format(2, 3).rotation, 90);
    // Values at their stored coordinates: СТР1ГР4 of institution 9 is stored (5, 5).
    EXPECT_EQ(sheet->value(5, 5).toDouble(), 90);
    EXPECT_EQ(sheet->format(5, 5).numberFormat, "0");
    EXPECT_EQ(sheet->value(5, 8).toDouble(), 43);
    EXPECT_EQ(sheet->frozenAt(), (office::CellRef{5, 5}));
}

TEST_F(TableExcelTest, SheetNamesAndWidths) {
    EXPECT_EQ(SheetName("Ф30/1", "(1000)"), "Ф30_1(1000)");
    // 58.875 points lie half-way between widths 10 and 11: the even one, in
    // the table window's sheet and in the output of many institutions alike.
    EXPECT_EQ(excelout::SheetColumnWidth(58.875), 10);
    EXPECT_EQ(excelout::SheetColumnWidth(64.125), 12);
    EXPECT_EQ(excelout::SheetColumnWidth(69), 12);
    // The same table twice into one workbook: the name is taken.
    office::ExcelWorkbook book = office::ExcelWorkbook::create();
    WriteTableSheet(book.addSheet(), source());
    EXPECT_THROW(WriteTableSheet(book.addSheet(), source()), office::Error);
}

TEST_F(TableExcelTest, InputRoundTripKeepsEveryValue) {
    // A stored value binary holds inexactly comes back the same (in a table of decimals).
    db::exec(db::kMain, "update tables set floattype=1 where ident=?", {sample::ids::TableF30Staff});
    db::exec(db::kData, "update data set data=? where hospital=? and \"table\"=? and \"column\"=5 and \"row\"=5",
             {10.1, sample::ids::SouthHospital, sample::ids::TableF30Staff});
    const Cells before = stored();
    ASSERT_EQ((before[{5, 5}]), 10.1);
    const QString path = writtenFile("round.xlsx");
    // Another institution's values are replaced by the sheet's; none are lost.
    office::ExcelWorkbook book = office::ExcelWorkbook::open(path);
    const auto values = ReadTableSheet(book, "ф30(1000)", ReadTableShape(db::connection(db::kMain), sample::ids::TableF30Staff));
    ASSERT_TRUE(values);
    StoreTableValues(ValueTable::Data, sample::ids::NorthHospital, fx.year(), sample::ids::TableF30Staff, *values);
    EXPECT_EQ(stored(sample::ids::NorthHospital), before);
    EXPECT_EQ(stored(), before);
    EXPECT_FALSE(ReadTableSheet(book, "Ф30(2000)", ReadTableShape(db::connection(db::kMain), sample::ids::TableF30Visits)));
}

TEST_F(TableExcelTest, StoredValuesFollowTheOneWriter) {
    const qint64 north = sample::ids::NorthHospital, table = sample::ids::TableF30Staff;
    StoreTableValues(ValueTable::Data, north, fx.year(), table, {{5, 5, 0.1 + 0.2}, {6, 5, 0}, {7, 5, 10.1}});
    EXPECT_EQ(stored(north), (Cells{{{5, 5}, 0.3}, {{7, 5}, 10.1}}));
    db::exec(db::kData, "create trigger refuse before insert on data begin select raise(abort, 'disk full'); end");
    EXPECT_THROW(StoreTableValues(ValueTable::Data, north, fx.year(), table, {{5, 5, 1}}), db::Error);
    EXPECT_EQ(stored(north), (Cells{{{5, 5}, 0.3}, {{7, 5}, 10.1}}));
}

TEST_F(TableExcelTest, LoadFromTheTableWindow) {
    const Cells before = stored();
    const Cells other = stored(sample::ids::SouthHospital, sample::ids::TableF30Visits);
    office::ExcelWorkbook book = office::ExcelWorkbook::open(writtenFile("edit.xlsx"));
    office::ExcelSheet &sheet = *book.findSheet("Ф30(1000)");
    sheet.setValue(5, 5, QStringLiteral(" 12 "));   // a number typed as text
    sheet.setValue(6, 5, QVariant());                 // emptied: no stored value
    sheet.setValue(1, 1, QStringLiteral("ignored"));
    book.saveAs(fx.root() + "edited.xlsx");

    auto w = show();
    dialogs.files.push_back(fx.root() + "edited.xlsx");
    w->commandAction(TVTable::Command::LoadFromExcel)->trigger();
    Cells expected = before;
    expected[{5, 5}] = 12;
    expected.remove({5, 6});
    EXPECT_EQ(stored(), expected);
    EXPECT_EQ(stored(sample::ids::SouthHospital, sample::ids::TableF30Visits), other);
    EXPECT_EQ(w->cellDisplayText(0, 0), "12");   // shown anew
    // The load says how many cells it stored.
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("сохранено значений: %1.").arg(expected.size())))
        << dialogs.messages[0].toStdString();
}

TEST_F(TableExcelTest, BadSheetChangesNothing) {
    const Cells before = stored();
    // The sheet written for the table is changed one way per case; the value area is (5,5)..(9,8),
    // the numbering row is sheet row 4 and the numbering column sheet column 4.
    struct Case {
        const char *what;
        std::function<void(office::ExcelSheet &)> change;
        QStringList says;
    };
    const Case cases[] = {
        {"text", [](office::ExcelSheet &s) { s.setValue(9, 8, QStringLiteral("много")); }, {"H9", "много"}},
        {"logical", [](office::ExcelSheet &s) { s.setValue(5, 6, QStringLiteral("@TRUE@")); }, {"F5", "ИСТИНА"}},
        {"overflow", [](office::ExcelSheet &s) { s.setValue(6, 5, QStringLiteral("1e400")); }, {"E6", "1e400"}},
        {"numbering row", [](office::ExcelSheet &s) { s.setValue(4, 6, QStringLiteral("другая")); },
         {"F4", "строению"}},
        {"numbering column", [](office::ExcelSheet &s) { s.setValue(7, 4, QStringLiteral("другая")); },
         {"D7", "строению"}},
        {"a larger table below", [](office::ExcelSheet &s) { s.setValue(10, 6, 0.1); }, {"F10", "строению"}},
        {"a larger table right", [](office::ExcelSheet &s) { s.setValue(5, 9, 10.1); }, {"I5", "строению"}},
        {"past fifteen digits", [](office::ExcelSheet &s) { s.setValue(6, 5, -1e15); }, {"E6", "пределов"}},
        // A whole-number table takes whole numbers, as typing does.
        {"fraction in a whole-number table", [](office::ExcelSheet &s) { s.setValue(6, 5, 123.5); },
         {"E6", "123.5 не целое"}},
        {"fraction as text in a whole-number table", [](office::ExcelSheet &s) { s.setValue(6, 5, QStringLiteral("12,5")); },
         {"E6", "12.5 не целое"}},
        {"rounds to fifteen digits past them", [](office::ExcelSheet &s) { s.setValue(6, 5, -999999999999999.9); },
         {"E6", "пределов"}},
        {"merge over values", [](office::ExcelSheet &s) { s.range(6, 5, 6, 6).merge(); }, {"E6:F6", "объединены"}},
        {"formula without its result", [](office::ExcelSheet &s) { s.setValue(7, 6, QStringLiteral("@FORMULA@")); },
         {"F7", "формула"}},
        {"empty value area", [](office::ExcelSheet &s) {
             for (int r = 5; r <= 9; ++r)
                 for (int c = 5; c <= 8; ++c) s.setValue(r, c, QVariant());
         },
         {"нет значений таблицы. Данные не изменены."}},
    };
    auto w = show();
    for (const Case &c : cases) {
        office::ExcelWorkbook book = office::ExcelWorkbook::open(writtenFile("bad.xlsx"));
        c.change(*book.findSheet("Ф30(1000)"));
        book.saveAs(fx.root() + "bad2.xlsx");
        // The writer turns logical values into numbers: a TRUE of another writer is put in by hand.
        office::Package p = office::Package::read(fx.root() + "bad2.xlsx");
        const QString part = QStringLiteral("xl/worksheets/sheet1.xml");
        QByteArray xml = p.part(part);
        xml.replace("t=\"inlineStr\"><is><t>@TRUE@</t></is>", "t=\"b\"><v>1</v>");
        // A formula saved without its result, as a program that does not calculate writes it.
        xml.replace("t=\"inlineStr\"><is><t>@FORMULA@</t></is>", "><f>E5+1</f>");
        p.setPart(part, xml);
        p.write(fx.root() + "bad2.xlsx");
        dialogs.messages.clear();
        dialogs.files.push_back(fx.root() + "bad2.xlsx");
        w->commandAction(TVTable::Command::LoadFromExcel)->trigger();
        ASSERT_EQ(dialogs.messages.size(), 1) << c.what;
        for (const QString &s : c.says)
            EXPECT_TRUE(dialogs.messages[0].contains(s)) << c.what << ": " << dialogs.messages[0].toStdString();
        EXPECT_EQ(stored(), before) << c.what;
    }

    // A workbook without the table's sheet says so; a file that is no workbook too.
    office::ExcelWorkbook empty = office::ExcelWorkbook::create();
    empty.saveAs(fx.root() + "empty.xlsx");
    dialogs.messages.clear();
    dialogs.files.push_back(fx.root() + "empty.xlsx");
    w->commandAction(TVTable::Command::LoadFromExcel)->trigger();
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].contains(QStringLiteral("нет листа \"Ф30(1000)\""))) << dialogs.messages[0].toStdString();
    QFile junk(fx.root() + "junk.xlsx");
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("not a workbook");
    junk.close();
    dialogs.files.push_back(fx.root() + "junk.xlsx");
    w->commandAction(TVTable::Command::LoadFromExcel)->trigger();
    EXPECT_EQ(dialogs.messages.size(), 2);
    EXPECT_EQ(stored(), before);
}

TEST_F(TableExcelTest, OutputCommandsOfTheTableWindow) {
    auto w = show();
    w->commandAction(TVTable::Command::ExcelToNewBook)->trigger();
    ASSERT_EQ(dialogs.opened.size(), 1);
    EXPECT_TRUE(dialogs.sawMessage("Вывод таблицы завершен. Ждите открытия Excel..."));
    {
        office::ExcelWorkbook made = office::ExcelWorkbook::open(dialogs.opened[0]);
        ASSERT_NE(made.findSheet("Ф30(1000)"), nullptr);
        EXPECT_EQ(made.findSheet("Ф30(1000)")->text(1, 1), w->windowTitle());
    }

    // Into an open workbook: chosen from the list, the sheet is added there.
    table.tableNumber = QStringLiteral("(2000)");
    auto second = show();
    dialogs.modals.push_back([&](QDialog *d) {
        auto *choice = static_cast<TForm4 *>(d);
        const auto found = choice->bookList()->findItems(QFileInfo(dialogs.opened[0]).fileName(), Qt::MatchExactly);
        if (!found.isEmpty()) choice->bookList()->setCurrentItem(found[0]);
        return int(QDialog::Accepted);
    });
    second->commandAction(TVTable::Command::ExcelToOpenBook)->trigger();
    ASSERT_EQ(dialogs.opened.size(), 2);
    EXPECT_EQ(dialogs.opened[1], dialogs.opened[0]);
    EXPECT_NE(office::ExcelWorkbook::open(dialogs.opened[0]).findSheet("Ф30(2000)"), nullptr);

    // Into an existing file: the sheet goes into the workbook the user chose,
    // whose own sheets stay, and that workbook is the one opened.
    const QString user = writtenFile("user книга.xlsx");
    {
        office::ExcelWorkbook before = office::ExcelWorkbook::open(user);
        before.findSheet("Ф30(1000)")->setValue(3, 3, 0.1);
        before.saveAs(user);
    }
    dialogs.files.push_back(user);
    second->commandAction(TVTable::Command::ExcelToFile)->trigger();
    ASSERT_EQ(dialogs.opened.size(), 3);
    EXPECT_EQ(dialogs.opened[2], user);
    {
        office::ExcelWorkbook after = office::ExcelWorkbook::open(user);
        EXPECT_NE(after.findSheet("Ф30(2000)"), nullptr);
        ASSERT_NE(after.findSheet("Ф30(1000)"), nullptr);
        EXPECT_EQ(after.findSheet("Ф30(1000)")->value(3, 3).toDouble(), 0.1);
    }

    // The same table again: its sheet name is taken; the book stays as it was
    // and nothing is opened.
    const QByteArray withSheet = fileBytes(user);
    dialogs.files.push_back(user);
    second->commandAction(TVTable::Command::ExcelToFile)->trigger();
    EXPECT_EQ(dialogs.opened.size(), 3);
    EXPECT_EQ(fileBytes(user), withSheet);

    // An old binary book cannot be written back: refused, left untouched.
    const QString old = fx.root() + "старая.xls";
    {
        QFile f(old);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray("\xD0\xCF\x11\xE0 binary"));
    }
    dialogs.files.push_back(old);
    second->commandAction(TVTable::Command::ExcelToFile)->trigger();
    EXPECT_EQ(dialogs.opened.size(), 3);
    EXPECT_EQ(fileBytes(old), QByteArray("\xD0\xCF\x11\xE0 binary"));
    EXPECT_TRUE(dialogs.sawMessage("Лист добавляется только в книгу .xlsx"));
}
