// Spreadsheet output of forms.
#include "engine/CatalogGate.h"
#include "core/ProgressWindow.h"
#include "core/SampleConfig.h"
#include "support/Files.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "forms/output/ExcelOutput.h"
#include "test_excel_fixture.h"
#include "forms/output/ShortNames.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Paths.h"
#include "platform/office/ExcelWorkbook.h"
#include "support/CancellingProgress.h"
#include "support/WindowTestBase.h"

#include <QDir>
#include <QFileInfo>
#include "forms/shared/TransferFiles.h"

#include <QSet>
#include <functional>
#include <gtest/gtest.h>

namespace ids = sample::ids;
using office::ExcelSheet;
using office::ExcelWorkbook;


TEST_F(ExcelOutputTest, TableSheetCarriesTitlesValuesAndGrid) {
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &sheet = book.activeSheet();
    excelout::BuildExcelSheet(sheet, {ids::TableF30Staff, "(1000) - Штаты"}, ids::NorthHospital, "Северная ЦРБ",
                              ValueTable::Data);
    // Saved and read back, as the user gets it.
    const QString file = fx.root() + "table.xlsx";
    book.saveAs(file);
    ExcelWorkbook back = ExcelWorkbook::open(file);
    ExcelSheet &s = back.sheet(1);

    EXPECT_EQ(s.text(1, 1), "Северная ЦРБ - (1000) - Штаты");
    // Widths 180, 30, 60 of structure columns 1, 2, 4; heights as stored.
    EXPECT_DOUBLE_EQ(s.columnWidth(2), 34);
    EXPECT_DOUBLE_EQ(s.columnWidth(3), 5);
    EXPECT_DOUBLE_EQ(s.columnWidth(5), 11);
    EXPECT_DOUBLE_EQ(s.rowHeight(3), 45);

    // Titles one row and one column down, spans merged, colons given back.
    EXPECT_EQ(s.text(2, 5), "Число должностей: в целом по организации");
    EXPECT_EQ(s.mergeAt(2, 6), (office::RangeRef{2, 5, 2, 6}));
    EXPECT_EQ(s.mergeAt(3, 3), (office::RangeRef{2, 3, 3, 3}));
    EXPECT_FALSE(s.mergeAt(3, 5));                   // a single cell is not merged
    EXPECT_EQ(s.format(2, 5).numberFormat, "@");      // a title like "1.5" stays text
    EXPECT_EQ(s.format(2, 3).rotation, 90);           // "№ строки"
    EXPECT_EQ(s.format(3, 8).rotation, 90);           // "из них женщин"
    EXPECT_EQ(s.format(3, 8).vAlign, office::VAlign::Bottom);
    EXPECT_EQ(s.format(3, 7).rotation, 0);

    // Values at their stored row and column: СТР1 ГР4 is stored (5, 5).
    EXPECT_EQ(s.value(5, 5).toDouble(), 50);
    EXPECT_EQ(s.value(5, 6).toDouble(), 48);
    EXPECT_EQ(s.value(6, 5).toDouble(), 20);

    // Thin grid from (2, 2) to the end of the used range.
    const office::RangeRef used = s.usedRange();
    EXPECT_EQ(used.lastRow, 9);
    EXPECT_EQ(used.lastColumn, 8);
    EXPECT_EQ(s.format(9, 8).bottom, office::LineStyle::Continuous);
    EXPECT_EQ(s.format(1, 1).top, office::LineStyle::None);
}

TEST_F(ExcelOutputTest, TitleFormatCharactersAndIndents) {
    const QSqlDatabase main = db::connection(db::kMain);
    db::exec(main, "update titles set tchars='TR02', fontitalic=1 where \"table\"=? and \"column\"=3 and \"row\"=1",
             {ids::TableF30Staff});
    db::exec(main, "update titles set tchars='JJ0x' where \"table\"=? and \"column\"=4 and \"row\"=2",
             {ids::TableF30Staff});
    db::exec(main, "update titles set tchars='C' where \"table\"=? and \"column\"=5 and \"row\"=2",
             {ids::TableF30Staff});
    ExcelWorkbook book = ExcelWorkbook::create();
    excelout::BuildExcelSheet(book.activeSheet(), {ids::TableF30Staff, "(1000)"}, ids::NorthHospital, "x", ValueTable::Data);
    ExcelSheet &s = book.activeSheet();
    EXPECT_EQ(s.format(2, 4).hAlign, office::HAlign::Right);
    EXPECT_EQ(s.format(2, 4).indent, 2);
    EXPECT_TRUE(s.format(2, 4).italic);
    EXPECT_EQ(s.format(3, 5).vAlign, office::VAlign::Justify);
    EXPECT_EQ(s.format(3, 6).hAlign, office::HAlign::General);   // a code of one letter
}

TEST_F(ExcelOutputTest, FormWorkbookHasOneSheetPerTableInOrder) {
    QStringList labels;
    ExcelWorkbook book = excelout::ExportFormToExcel(ids::NorthHospital, f30(), "Северная ЦРБ", ValueTable::Data,
                                                     [&](const QString &t) { labels << t; });
    EXPECT_EQ(sheetNames(book), (QStringList{"(1000)", "(2000)", "Лист1"}));
    EXPECT_EQ(labels, (QStringList{"Северная ЦРБ - (1000)", "Северная ЦРБ - (2000)"}));
    EXPECT_EQ(book.sheet(2).value(4, 5).toDouble(), 5000);   // СТР1 ГР4 = 100 * b
}

TEST_F(ExcelOutputTest, FormPerMemberWritesOneFileEach) {
    const QString folder = fx.root() + "out";
    const QStringList files = excelout::exportFormPerMember(folder, f30(), "5,6,x,,9999,8,", MemberKind::Institutions);
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(QFileInfo(files[2]).fileName(), "Ф30 - ФАП Лесной.xlsx");
    ExcelWorkbook b = ExcelWorkbook::open(files[1]);
    EXPECT_EQ(b.sheet(1).text(1, 1), "Северная поликлиника - Ф30 - (1000) - Штаты");
    // A name with a slash still gives a file in the folder.
    const qint64 id = addInstitution("ФАП п/о Лесной");
    const QStringList odd = excelout::exportFormPerMember(folder, f30(), QString::number(id), MemberKind::Institutions);
    ASSERT_EQ(odd.size(), 1);
    EXPECT_EQ(QFileInfo(odd[0]).absolutePath(), QDir(folder).absolutePath());
    EXPECT_TRUE(excelout::exportFormPerMember(folder, f30(), "", MemberKind::Institutions).isEmpty());
}

namespace {
// Two members equal but for letter case and two of long official names, output per member: a book each, every name
// within the file name's limit with its temporary suffixes.
void expectABookEach(const QString &folder, const excelout::FormNode &form, const std::function<qint64(const QString &)> &add) {
    const QString official = QStringLiteral("Государственное бюджетное учреждение здравоохранения ").repeated(3);
    const QList<qint64> members = {add("ФАП Ёлкино"), add("фап ёлкино"), add(official + "№1"), add(official + "№2")};
    QStringList list;
    for (const qint64 id : members) list.append(QString::number(id));
    const QStringList files = excelout::exportFormPerMember(folder, form, list.join(','), MemberKind::Institutions);
    ASSERT_EQ(files.size(), 4);
    QSet<QString> distinct;
    for (const QString &f : files) {
        EXPECT_TRUE(QFileInfo::exists(f)) << f.toStdString();
        EXPECT_LE(QFileInfo(f).fileName().toUtf8().size(), transfer::kMaxUnitFileNameBytes) << f.toStdString();
        distinct.insert(QFileInfo(f).fileName().toUpper());
    }
    EXPECT_EQ(distinct.size(), 4);
}
} // namespace

// Members of equal names (letter case aside) and of official names past a file name's length each get a book of their
// own, whose name fits with the suffixes it is written under.
TEST_F(ExcelOutputTest, FormPerMemberGivesEqualAndLongNamesABookEach) {
    const QString folder = fx.root() + "long";
    expectABookEach(folder, f30(), [&](const QString &n) { return addInstitution(n); });
}

// A form of the longest name the catalogue takes, with members of official names: the form's name gives way too.
TEST_F(ExcelOutputTest, FormPerMemberOfALongFormNameGivesEveryMemberABook) {
    QString form = QStringLiteral("Ф");
    while (gate::formNameFault(form + QStringLiteral("ж")).isEmpty()) form += QStringLiteral("ж");
    db::exec(db::connection(db::kMain), "update forms set formname=? where id=?", {form, ids::FormF30});
    fx.reloadCaches();
    const QString folder = fx.root() + "longform";
    expectABookEach(folder, excelout::FormNode{form + " - Сведения", f30().tables},
                    [&](const QString &n) { return addInstitution(n); });
}

TEST_F(ExcelOutputTest, FormPerMemberReplacesOnlyWhatItMayAndCan) {
    const QString folder = fx.root() + "replace";
    QDir().mkpath(folder);
    const QString kept = folder + "/Ф30 - ФАП Лесной.xlsx";
    ASSERT_TRUE(cp1251::writeFile(kept, "прежний"));
    QStringList asked;
    const auto answer = [&](bool yes) { return [&asked, yes](const QStringList &e) { asked = e; return yes; }; };
    EXPECT_THROW(excelout::exportFormPerMember(folder, f30(), "5,6,8", MemberKind::Institutions, {}, noProgress(), answer(false)),
                 Cancelled);
    EXPECT_EQ(asked, QStringList{"Ф30 - ФАП Лесной.xlsx"});
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QFileInfo(kept).fileName()});
    ASSERT_EQ(excelout::exportFormPerMember(folder, f30(), "5,6,8", MemberKind::Institutions, {}, noProgress(), answer(true)).size(), 3);
    EXPECT_EQ(ExcelWorkbook::open(kept).sheet(1).text(1, 1), "ФАП Лесной - Ф30 - (1000) - Штаты");

    // A book whose place cannot be taken (a folder of that name) is named; what stands there stays.
    QFile::remove(kept);
    ASSERT_TRUE(QDir().mkpath(kept + "/внутри"));
    try {
        excelout::exportFormPerMember(folder, f30(), "8", MemberKind::Institutions, {}, noProgress(), answer(true));
        ADD_FAILURE() << "no error";
    } catch (const AppError &e) {
        EXPECT_EQ(e.message(), "Не удалось записать файл " + QDir::toNativeSeparators(kept) +
                                   ": под этим именем находится папка");
    }
    EXPECT_TRUE(QDir(kept + "/внутри").exists());
}

TEST_F(ExcelOutputTest, FormPerMemberCancelledHalfwayLeavesTheFolderAsBefore) {
    const QString folder = fx.root() + "cancel";
    QDir().mkpath(folder);
    const QString kept = folder + "/Ф30 - Северная ЦРБ.xlsx";
    {
        QFile f(kept);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("прежний");
    }
    CancellingProgress cancelling(1);
    EXPECT_THROW(excelout::exportFormPerMember(folder, f30(), "5,6,8", MemberKind::Institutions, {}, cancelling), Cancelled);
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QFileInfo(kept).fileName()});
    EXPECT_EQ(fileBytes(kept), QByteArray("прежний"));
}

TEST_F(ExcelOutputTest, TablePerMemberNamesSheetsShortOrAsked) {
    const QString thirty = QString(30, QChar(u'Б'));
    const QString longer = QString(31, QChar(u'Д'));
    const qint64 a = addInstitution(thirty), b = addInstitution(longer);
    QStringList asked;
    ExcelWorkbook book = excelout::exportTablePerMember(
        {ids::TableF30Visits, "(2000) - Посещения"}, "Ф30",
        QStringLiteral("5,%1,%2,5,").arg(a).arg(b), MemberKind::Institutions, [&](const QString &n) {
            asked << n;
            return QStringLiteral("Короткое");
        });
    EXPECT_EQ(asked, QStringList{longer});
    // Newest sheet first; a repeated id is one member.
    ASSERT_EQ(book.sheetCount(), 4);
    EXPECT_EQ(book.sheet(1).name(), "Короткое");
    EXPECT_EQ(book.sheet(2).name(), thirty);
    EXPECT_EQ(book.sheet(3).name(), "Северная ЦРБ");
    // Institutions' values are read from "Data".
    EXPECT_EQ(book.sheet(3).value(4, 5).toDouble(), 5000);
}

TEST_F(ExcelOutputTest, MembersOfOneNameGetAWorkbookAndASheetEach) {
    // ФАП Лесной (8) and a second institution of the same name in other letter case; an unrelated name stays plain.
    const qint64 twin = addInstitution("фап лесной");
    db::exec(db::connection(db::kData), "insert into data values (?, 0.1, 2024, ?, 5, 4)", {twin, ids::TableF30Visits});
    const QString folder = fx.root() + "twins";
    const QString list = QStringLiteral("8,%1,5").arg(twin);
    const QStringList files = excelout::exportFormPerMember(folder, f30(), list, MemberKind::Institutions);
    QStringList names;
    for (const QString &f : files) names << QFileInfo(f).fileName();
    EXPECT_EQ(names, (QStringList{"Ф30 - ФАП Лесной #8.xlsx", QStringLiteral("Ф30 - фап лесной #%1.xlsx").arg(twin),
                                  "Ф30 - Северная ЦРБ.xlsx"}));
    ASSERT_EQ(files.size(), 3);
    EXPECT_EQ(ExcelWorkbook::open(files[1]).sheet(2).value(4, 5).toDouble(), 0.1);
    // Names that differ only where a file name cannot follow them.
    const qint64 a = addInstitution("ФАП А/Б"), b = addInstitution("ФАП А:Б");
    const QStringList odd = excelout::exportFormPerMember(folder, f30(), QStringLiteral("%1,%2").arg(a).arg(b),
                                                          MemberKind::Institutions);
    ASSERT_EQ(odd.size(), 2);
    EXPECT_NE(QFileInfo(odd[0]).fileName().toUpper(), QFileInfo(odd[1]).fileName().toUpper());

    ExcelWorkbook book = excelout::exportTablePerMember({ids::TableF30Visits, "(2000) - Посещения"}, "Ф30", list,
                                                        MemberKind::Institutions, {});
    const QStringList sheets = sheetNames(book);
    EXPECT_TRUE(sheets.contains("ФАП Лесной #8")) << sheets.join('|').toStdString();
    EXPECT_TRUE(sheets.contains(QStringLiteral("фап лесной #%1").arg(twin))) << sheets.join('|').toStdString();
}

TEST_F(ExcelOutputTest, TerrainModeNamesReportsAndReadsTheirValues) {
    ExcelWorkbook book = excelout::exportTablePerMember({ids::TableF30Visits, "(2000) - Посещения"}, "Ф30",
                                                        QString::number(ids::ReportRegion), MemberKind::Reports, {});
    ASSERT_EQ(book.sheetCount(), 2);
    EXPECT_EQ(book.sheet(1).name(), "Свод по области");
    EXPECT_EQ(book.sheet(1).value(4, 5).toDouble(), 1000.0 * (5 + 6 + 7 + 9 + 10 + 11 + 13 + 15));
}
