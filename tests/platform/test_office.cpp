#include "support/Files.h"
#include "support/FakeDialogs.h"
#include "platform/Paths.h"
#include "platform/office/Convert.h"
#include "platform/Codepage.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Package.h"
#include "platform/office/Show.h"
#include "platform/office/WordDocument.h"
#include "test_office_template.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace office;

namespace {

// A document as another writer would make it: a 3-column grid whose first row has a cell over two columns and whose
// first column is merged over rows 2-3; cells carry their own character formatting.
const char *kTemplateDocument =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body>
<w:p><w:r><w:t>Заголовок формы</w:t></w:r></w:p>
<w:tbl><w:tblPr><w:tblW w:w="0" w:type="auto"/></w:tblPr><w:tblGrid><w:gridCol w:w="2000"/><w:gridCol w:w="2000"/><w:gridCol w:w="2000"/></w:tblGrid>
<w:tr><w:tc><w:tcPr><w:gridSpan w:val="2"/></w:tcPr><w:p><w:r><w:t>Показатель</w:t></w:r></w:p></w:tc><w:tc><w:p><w:r><w:t xml:space="preserve"> </w:t></w:r></w:p></w:tc></w:tr>
<w:tr><w:tc><w:tcPr><w:vMerge w:val="restart"/></w:tcPr><w:p><w:r><w:t>Строки</w:t></w:r></w:p></w:tc><w:tc><w:p><w:pPr><w:jc w:val="right"/><w:rPr><w:b/><w:sz w:val="18"/></w:rPr></w:pPr></w:p></w:tc><w:tc><w:p/></w:tc></w:tr>
<w:tr><w:tc><w:tcPr><w:vMerge/></w:tcPr><w:p/></w:tc><w:tc><w:p><w:r><w:rPr><w:i/></w:rPr><w:t>старое</w:t></w:r></w:p></w:tc><w:tc><w:p/></w:tc></w:tr>
</w:tbl><w:p/>
<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1134" w:right="850" w:bottom="1134" w:left="1701" w:header="708" w:footer="708" w:gutter="0"/></w:sectPr></w:body></w:document>)";

QString writeTemplate(const QString &path) { return writeDocxTemplate(path, kTemplateDocument); }

bool hasConverter() { return !converterPath().isEmpty(); }

} // namespace

// --- Word --------------------------------------------------------------------------

TEST(WordDocument, BlankDocumentWithTextAndTableReadsBack) {
    QTemporaryDir dir;
    WordDocument doc = WordDocument::createBlank();
    doc.insertBefore(QStringLiteral("Протокол печати Ф1\n\r"));
    doc.insertAfter(QStringLiteral("Учреждение - ЦРБ\n\r"));
    WordTable t = doc.addTable(1, 2);
    t.setCellText(1, 1, QStringLiteral("Форма в целом"));
    t.setCellText(1, 2, QStringLiteral("4294967295"));
    EXPECT_EQ(t.addRow(), 2);
    t.setCellText(2, 1, QStringLiteral("(1000) & <кавычки \"\">"));
    t.setCellText(2, 2, QStringLiteral("12.5"));
    const QString file = dir.filePath("a.docx");
    doc.saveAs(file);

    WordDocument back = WordDocument::open(file);
    EXPECT_EQ(back.paragraphs().mid(0, 2),
              QStringList({QStringLiteral("Протокол печати Ф1"), QStringLiteral("Учреждение - ЦРБ")}));
    ASSERT_EQ(back.tableCount(), 1);
    WordTable b = back.table(1);
    EXPECT_EQ(b.rowCount(), 2);
    EXPECT_EQ(b.columnCount(), 2);
    EXPECT_EQ(b.cellText(1, 2), QStringLiteral("4294967295"));
    EXPECT_EQ(b.cellText(2, 1), QStringLiteral("(1000) & <кавычки \"\">"));
    // Word's range text carries the end-of-cell mark; dropping two characters gives the value.
    EXPECT_EQ(b.cellRangeText(2, 2).chopped(2), QStringLiteral("12.5"));
    EXPECT_THROW(back.table(2), Error);
    EXPECT_THROW(b.cellText(3, 1), Error);
}

TEST(WordDocument, TemplateFilledKeepsLayoutAndFormatting) {
    QTemporaryDir dir;
    const QString tpl = writeTemplate(dir.filePath("form.dotx"));
    WordDocument doc = WordDocument::fromTemplate(tpl);
    EXPECT_TRUE(doc.path().isEmpty());
    WordTable t = doc.table(1);
    // Word numbering: row 2, cell 2 is the second cell; the empty cell takes
    // its paragraph-mark formatting for the new text.
    t.setCellText(2, 2, QStringLiteral("12.5"));
    t.setCellText(3, 2, QStringLiteral("3"));
    const QString out = dir.filePath("filled.docx");
    doc.saveAs(out);

    WordDocument back = WordDocument::open(out);
    WordTable b = back.table(1);
    EXPECT_EQ(b.cellText(2, 2), QStringLiteral("12.5"));
    EXPECT_EQ(b.cellText(3, 2), QStringLiteral("3"));
    EXPECT_EQ(b.cellText(1, 2), QStringLiteral(" "));   // a lone blank survives
    EXPECT_EQ(back.paragraphs().first(), QStringLiteral("Заголовок формы"));
    // The template became an ordinary document.
    const QByteArray types = Package::read(out).part("[Content_Types].xml");
    EXPECT_TRUE(types.contains("wordprocessingml.document.main+xml"));
    EXPECT_FALSE(types.contains("template.main"));
}

TEST(WordDocument, MergedCellsNumberingAndGrid) {
    QTemporaryDir dir;
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("t.docx")));
    WordTable t = doc.table(1);
    EXPECT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.columnCount(), 3);
    // Row 1 has two cells: the merged one counts once.
    EXPECT_EQ(t.cellCount(1), 2);
    EXPECT_TRUE(t.hasCell(1, 2));
    EXPECT_FALSE(t.hasCell(1, 3));
    EXPECT_EQ(t.cellText(1, 2), QStringLiteral(" "));
    // The lower part of a vertical merge is missing but keeps its number.
    EXPECT_FALSE(t.hasCell(3, 1));
    EXPECT_THROW(t.cellText(3, 1), Error);
    EXPECT_EQ(t.cellText(3, 2), QStringLiteral("старое"));
    // Grid columns, not Word's: the second cell of row 1 stands in column 3.
    const QList<GridCell> g = t.gridCells();
    ASSERT_EQ(g.size(), 7);
    EXPECT_EQ(g[1].column, 3);
    EXPECT_EQ(g[2].rowSpan, 2);
}

TEST(WordDocument, SectionsHeadersPageSetupAndProtection) {
    QTemporaryDir dir;
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("t.docx")));
    WordSection added = doc.addSectionNewPage();
    ASSERT_EQ(doc.sectionCount(), 2);
    for (int i = 1; i <= doc.sectionCount(); ++i) {
        WordSection s = doc.section(i);
        s.setHeaderText(HeaderKind::Primary, QStringLiteral("Ф1 ЦРБ 2024 01.02.2024"));
        s.setHeaderAlignment(HeaderKind::Primary, ParaAlign::Left);
        s.setHeaderFontSize(HeaderKind::Primary, 10);
        s.addPageNumbers(HeaderKind::Primary, ParaAlign::Right, true);
        s.setHeaderText(HeaderKind::FirstPage, QStringLiteral("Ф1 ЦРБ 2024 01.02.2024"));
        s.setHeaderText(HeaderKind::EvenPages, QStringLiteral("Ф1 ЦРБ 2024 01.02.2024"));
        s.setHeaderDistance(15);
    }
    added.setNormalStyle();
    added.setOrientation(Orientation::Portrait);
    added.insertBefore(QStringLiteral("Протокол печати Ф1\n\r"));
    added.insertAfter(QStringLiteral("Внимание!\n\r"));
    added.insertAfter(QStringLiteral("Учреждение - ЦРБ\n\r"));
    WordTable p = doc.addTable(1, 2);
    p.setCellText(1, 1, QStringLiteral("Форма в целом"));
    p.setCellText(1, 2, QStringLiteral("3000000000"));
    doc.protectReadOnly(QStringLiteral("Kwertyuiopa"));
    const QString out = dir.filePath("Report/copy.docx");
    doc.saveAs(out);

    WordDocument back = WordDocument::open(out);
    ASSERT_EQ(back.sectionCount(), 2);
    EXPECT_EQ(back.section(1).headerText(HeaderKind::Primary), QStringLiteral("Ф1 ЦРБ 2024 01.02.2024"));
    EXPECT_EQ(back.section(2).headerText(HeaderKind::EvenPages), QStringLiteral("Ф1 ЦРБ 2024 01.02.2024"));
    EXPECT_DOUBLE_EQ(back.section(2).headerDistance(), 15);
    EXPECT_EQ(back.section(2).orientation(), Orientation::Portrait);
    // The first section keeps the template; the protocol is in the second.
    EXPECT_EQ(back.section(1).paragraphs().first(), QStringLiteral("Заголовок формы"));
    EXPECT_EQ(back.section(2).paragraphs().mid(0, 3),
              QStringList({QStringLiteral("Протокол печати Ф1"), QStringLiteral("Внимание!"),
                           QStringLiteral("Учреждение - ЦРБ")}));
    // The protocol is the last table; its checksum reads back unchanged.
    EXPECT_EQ(back.table(back.tableCount()).cellRangeText(1, 2).chopped(2), QStringLiteral("3000000000"));
    EXPECT_TRUE(back.isProtected());
    EXPECT_TRUE(back.checkProtectionPassword(QStringLiteral("Kwertyuiopa")));
    EXPECT_FALSE(back.checkProtectionPassword(QStringLiteral("kwertyuiopa")));
    // Each section got headers of its own (no part shared between sections).
    const Package pkg = Package::read(out);
    EXPECT_EQ(pkg.names().filter(QStringLiteral("word/header")).size(), 6);
}

TEST(WordDocument, ProtectionKeyFollowsTheWordProcessorsAlgorithm) {
    EXPECT_EQ(protectionKeyText(QStringLiteral("Example")), QStringLiteral("7EEDCE64"));
    EXPECT_EQ(protectionKeyText(QString()), QString());
    // Only the first fifteen characters count.
    EXPECT_EQ(protectionKeyText(QStringLiteral("123456789012345")),
              protectionKeyText(QStringLiteral("1234567890123456789")));
}

TEST(WordDocument, TabTextBecomesAutoformattedTable) {
    QTemporaryDir dir;
    const QStringList lines = {QStringLiteral("Ф1 2024"), QStringLiteral("Контроли - форма 1"),
                               QStringLiteral("Левая\tЗнак\tПравая"), QStringLiteral("A1\t=\tB1"),
                               QStringLiteral("A2")};
    WordDocument doc = buildTabTextDocument(lines, 2, true);
    doc.saveAs(dir.filePath("list.docx"));
    WordDocument back = WordDocument::open(dir.filePath("list.docx"));
    EXPECT_EQ(back.paragraphs().mid(0, 2), lines.mid(0, 2));
    ASSERT_EQ(back.tableCount(), 1);
    WordTable t = back.table(1);
    EXPECT_EQ(t.rowCount(), 3);
    EXPECT_EQ(t.columnCount(), 3);
    EXPECT_EQ(t.cellText(2, 3), QStringLiteral("B1"));
    EXPECT_EQ(t.cellText(3, 1), QStringLiteral("A2"));
    EXPECT_EQ(t.cellText(3, 2), QString());
}

TEST(WordDocument, BadFilesGiveRussianMessages) {
    QTemporaryDir dir;
    try {
        WordDocument::open(dir.filePath("нет.docx"));
        FAIL();
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().startsWith(QStringLiteral("Файл не найден")));
    }
    // A legacy binary file without a converter asks for .docx.
    const QFile legacy(dir.filePath("old.doc"));
    ASSERT_TRUE(cp1251::writeFile(legacy.fileName(), QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(504, '\0')));
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", dir.path().toLocal8Bit());   // no converter to be found
    try {
        WordDocument::fromTemplate(legacy.fileName());
        ADD_FAILURE() << "a legacy file was accepted without a converter";
    } catch (const Error &e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("(.docx)")));
    }
    EXPECT_THROW(ExcelWorkbook::open(legacy.fileName()), Error);
    // A template saved anew as .docx beside the old file is found; a file the
    // user chose is read as chosen, never replaced by one beside it.
    writeTemplate(dir.filePath("old.docx"));
    EXPECT_EQ(WordDocument::fromTemplate(legacy.fileName()).tableCount(), 1);
    EXPECT_THROW(WordDocument::open(legacy.fileName()), Error);
    QFile::copy(legacy.fileName(), dir.filePath("book.xls"));
    ExcelWorkbook::create().saveAs(dir.filePath("book.xlsx"));
    EXPECT_THROW(ExcelWorkbook::open(dir.filePath("book.xls")), Error);
    EXPECT_THROW(WordDocument::open(dir.filePath("missing.doc")), Error);
    qputenv("PATH", savedPath);
}

// --- Excel -------------------------------------------------------------------------

TEST(ExcelWorkbook, CellsFormatsMergesAndSizesReadBack) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    ASSERT_EQ(book.sheetCount(), 1);
    ExcelSheet &s = book.activeSheet();
    s.setName(QStringLiteral("Ф1(1000)"));
    s.setValue(1, 1, QStringLiteral("Таблица 1000 - ЦРБ"));
    s.setColumnWidth(2, 12);
    s.setRowHeight(2, 30.5);
    s.cell(2, 2).setNumberFormat("@").setWrapText(true).setValue(QStringLiteral("Показатель"));
    s.range(2, 3, 2, 5).merge().setFontName("Times New Roman").setFontSize(9).setBold(true).setItalic(true)
        .setHorizontalAlignment(HAlign::Center).setVerticalAlignment(VAlign::Top);
    s.setValue(2, 3, QStringLiteral("Графы"));
    s.cell(3, 2).setOrientation(90).setIndentLevel(2);
    s.cell(4, 4).setNumberFormat("0.00").setValue(1234.5678);
    s.cell(4, 5).setNumberFormat("0.000").setValue(0.1 + 0.2);
    s.setValue(4, 3, 3);
    s.range(2, 2, 4, 5).setAllBorders();
    s.freezePanes(4, 3);
    EXPECT_EQ(s.usedRange(), (RangeRef{1, 1, 4, 5}));
    const QString file = dir.filePath("book.xlsx");
    book.saveAs(file);

    ExcelWorkbook back = ExcelWorkbook::open(file);
    ExcelSheet &b = back.sheet(1);
    EXPECT_EQ(b.name(), QStringLiteral("Ф1(1000)"));
    EXPECT_EQ(b.text(1, 1), QStringLiteral("Таблица 1000 - ЦРБ"));
    EXPECT_EQ(b.text(4, 3), QStringLiteral("3"));
    // Full precision survives the file.
    EXPECT_EQ(b.value(4, 5).toDouble(), 0.1 + 0.2);
    EXPECT_DOUBLE_EQ(b.value(4, 4).toDouble(), 1234.5678);
    EXPECT_DOUBLE_EQ(b.columnWidth(2), 12);
    EXPECT_DOUBLE_EQ(b.columnWidth(3), 0);
    EXPECT_DOUBLE_EQ(b.rowHeight(2), 30.5);
    EXPECT_EQ(b.merges(), QList<RangeRef>({RangeRef{2, 3, 2, 5}}));
    EXPECT_EQ(b.format(2, 2).numberFormat, QStringLiteral("@"));
    EXPECT_TRUE(b.format(2, 2).wrap);
    const CellFormat m = b.format(2, 4);
    EXPECT_EQ(m.fontName, QStringLiteral("Times New Roman"));
    EXPECT_TRUE(m.bold && m.italic && m.hAlign == HAlign::Center && m.vAlign == VAlign::Top);
    EXPECT_EQ(b.format(3, 2).rotation, 90);
    // Grid borders: inside lines too, nothing outside the range.
    EXPECT_EQ(b.format(3, 3).right, LineStyle::Continuous);
    EXPECT_EQ(b.format(1, 1).bottom, LineStyle::None);
    EXPECT_EQ(b.frozenAt(), (CellRef{4, 3}));
}

TEST(ExcelWorkbook, SheetNamingRules) {
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &first = book.sheet(1);
    EXPECT_EQ(first.name(), QStringLiteral("Лист1"));
    ExcelSheet &second = book.addSheetAfter(first);
    EXPECT_EQ(second.name(), QStringLiteral("Лист2"));
    EXPECT_TRUE(first.trySetName(QString(31, u'Ж')));
    EXPECT_FALSE(first.trySetName(QString(32, u'Ж')));
    for (const QString bad : {QStringLiteral("a[b"), QStringLiteral("a]b"), QStringLiteral("a:b"),
                              QStringLiteral("a*b"), QStringLiteral("a?b"), QStringLiteral("a/b"),
                              QStringLiteral("a\\b"), QStringLiteral("'ab"), QStringLiteral(""), QStringLiteral("   ")})
        EXPECT_FALSE(second.trySetName(bad)) << bad.toStdString();
    EXPECT_EQ(second.name(), QStringLiteral("Лист2"));   // a refused name leaves the old one
    // Unique regardless of case, Cyrillic included.
    first.setName(QStringLiteral("Больница №1"));
    EXPECT_FALSE(second.trySetName(QStringLiteral("БОЛЬНИЦА №1")));
    EXPECT_THROW(second.setName(QStringLiteral("больница №1")), Error);
    EXPECT_TRUE(first.trySetName(QStringLiteral("БОЛЬНИЦА №1")));  // its own name in other case
    EXPECT_EQ(book.findSheet(QStringLiteral("больница №1")), &first);
}

TEST(ExcelWorkbook, MovedWorkbookKeepsItsSheets) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    book.addSheetAfter(book.sheet(1)).setName("C");
    ExcelWorkbook moved = std::move(book);
    EXPECT_FALSE(moved.sheet(1).trySetName("C"));   // the sheets know their new owner
    moved.saveAs(dir.filePath("moved.xlsx"));
    ExcelWorkbook back = ExcelWorkbook::open(dir.filePath("moved.xlsx"));
    ASSERT_EQ(back.sheetCount(), 2);
    EXPECT_EQ(back.activeSheet().name(), QStringLiteral("C"));
}

TEST(ExcelWorkbook, OverlappingMergeRefused) {
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &s = book.sheet(1);
    s.range(2, 2, 3, 4).merge();
    EXPECT_THROW(s.range(3, 4, 5, 5).merge(), Error);
    EXPECT_THROW(s.range(1, 1, 2, 2).merge(), Error);
    s.range(2, 2, 3, 4).merge();             // the same merge again is no error
    s.range(4, 2, 4, 4).merge();             // touching is fine
    s.cell(9, 9).merge();                    // one cell is not merged
    EXPECT_EQ(s.merges().size(), 2);
    EXPECT_EQ(s.mergeAt(3, 3), (RangeRef{2, 2, 3, 4}));
    EXPECT_FALSE(s.mergeAt(9, 9).has_value());
    EXPECT_THROW(s.setValue(0, 1, 1), Error);
}

TEST(ExcelWorkbook, CellNames) {
    EXPECT_EQ(cellName(1, 1), QStringLiteral("A1"));
    EXPECT_EQ(cellName(10, 26), QStringLiteral("Z10"));
    EXPECT_EQ(cellName(3, 27), QStringLiteral("AA3"));
    EXPECT_EQ(cellName(1, 16384), QStringLiteral("XFD1"));
    EXPECT_EQ(parseCellName("$AB$12"), (CellRef{12, 28}));
    EXPECT_EQ(parseCellName("12"), CellRef());
    EXPECT_EQ(parseCellName("A0"), CellRef());
}

TEST(ExcelWorkbook, ControlCharactersAndLongTextsAreStoredSafely) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &s = book.sheet(1);
    s.setValue(1, 1, QStringLiteral("Итого\x03 графа\x01"));
    s.setValue(2, 1, QString(40000, u'я'));
    s.setValue(3, 1, QStringLiteral("  отступ"));
    book.saveAs(dir.filePath("c.xlsx"));
    ExcelWorkbook back = ExcelWorkbook::open(dir.filePath("c.xlsx"));
    EXPECT_EQ(back.sheet(1).text(1, 1), QStringLiteral("Итого графа"));
    EXPECT_EQ(back.sheet(1).text(2, 1).size(), 32767);
    EXPECT_EQ(back.sheet(1).text(3, 1), QStringLiteral("  отступ"));
}

// --- showing and converting -----------------------------------------------------------

TEST(OfficeShow, SavesUnderAFreeNameAndOpensThroughTheSeam) {
    QTemporaryDir dir;
    FakeDialogs fake;
    WordDocument doc = WordDocument::createBlank();
    const QString a = show(doc, QStringLiteral("Ф1: ЦРБ/2024"), dir.path());
    const QString b = show(doc, QStringLiteral("Ф1: ЦРБ/2024"), dir.path());
    EXPECT_EQ(QFileInfo(a).fileName(), QStringLiteral("Ф1_ ЦРБ_2024.docx"));
    EXPECT_EQ(QFileInfo(b).fileName(), QStringLiteral("Ф1_ ЦРБ_2024 (2).docx"));
    ExcelWorkbook book = ExcelWorkbook::create();
    const QString c = show(book, QString(), dir.path());
    EXPECT_TRUE(QFileInfo::exists(c));
    EXPECT_EQ(fake.opened, QStringList({a, b, c}));
    EXPECT_TRUE(shownWorkbooks().contains(c));
    QFile::remove(c);
    EXPECT_FALSE(shownWorkbooks().contains(c));
    // An empty name and an absurdly long one still give a usable file name.
    EXPECT_EQ(QFileInfo(freeFileName(dir.path(), QStringLiteral("  "), "docx")).fileName(), QStringLiteral("Документ.docx"));
    // A long name (an institution's official one) in Cyrillic: the document is saved, under a name whose bytes with
    // the writer's temporary suffix fit a file name, and a second one beside it.
    for (int i = 0; i < 2; ++i) {
        const QString saved = show(doc, QStringLiteral("Ф30 ") + QString(300, u'ф'), dir.path());
        EXPECT_TRUE(QFileInfo::exists(saved)) << saved.toStdString();
        EXPECT_LE(QFileInfo(saved).fileName().toUtf8().size() + 7, 255) << saved.toStdString();
    }
}

TEST(OfficeConvert, ProducedFilesOpenInTheOfficeSuite) {
    if (!hasConverter()) GTEST_SKIP() << "soffice is not installed";
    QTemporaryDir dir;
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("t.docx")));
    doc.addSectionNewPage().setHeaderText(HeaderKind::Primary, QStringLiteral("Колонтитул"));
    doc.table(1).setCellText(2, 2, QStringLiteral("12.5"));
    doc.protectReadOnly(QStringLiteral("Kwertyuiopa"));
    doc.saveAs(dir.filePath("doc.docx"));
    ExcelWorkbook book = ExcelWorkbook::create();
    book.sheet(1).range(1, 1, 2, 3).merge().setValue(QStringLiteral("Шапка"));
    book.sheet(1).setColumnWidth(2, 20);
    book.sheet(1).cell(3, 2).setNumberFormat("0.00").setValue(2.5);
    book.sheet(1).freezePanes(3, 2);
    book.saveAs(dir.filePath("book.xlsx"));
    EXPECT_TRUE(QFileInfo::exists(convertFile(dir.filePath("doc.docx"), "pdf", dir.filePath("pdf"))));
    EXPECT_TRUE(QFileInfo::exists(convertFile(dir.filePath("book.xlsx"), "pdf", dir.filePath("pdf"))));

    // Files saved by the office suite read back.
    const QString xlsx = convertFile(dir.filePath("book.xlsx"), "xlsx", dir.filePath("resaved"));
    ExcelWorkbook back = ExcelWorkbook::open(xlsx);
    EXPECT_EQ(back.sheet(1).text(1, 1), QStringLiteral("Шапка"));
    EXPECT_DOUBLE_EQ(back.sheet(1).value(3, 2).toDouble(), 2.5);
    EXPECT_EQ(back.sheet(1).merges(), QList<RangeRef>({RangeRef{1, 1, 2, 3}}));
    EXPECT_NEAR(back.sheet(1).columnWidth(2), 20, 0.3);
    const QString docx = convertFile(dir.filePath("doc.docx"), "docx", dir.filePath("resaved"));
    WordDocument wback = WordDocument::open(docx);
    WordTable t = wback.table(1);
    EXPECT_EQ(t.cellText(2, 2), QStringLiteral("12.5"));
    EXPECT_EQ(t.gridCells().first().colSpan, 2);
    EXPECT_EQ(t.gridCell(2, 1)->rowSpan, 2);

    // A legacy .doc is converted on the way in.
    const QString doc97 = convertFile(dir.filePath("doc.docx"), "doc", dir.filePath("legacy"));
    WordDocument fromLegacy = WordDocument::fromTemplate(doc97);
    EXPECT_EQ(fromLegacy.table(1).cellText(2, 2), QStringLiteral("12.5"));
    // Converted once while unchanged; a changed file is converted again.
    const QString first = openXmlVersion(doc97, "docx");
    EXPECT_EQ(openXmlVersion(doc97, "docx"), first);
    QFile f(doc97);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime);
    f.close();
    EXPECT_NE(openXmlVersion(doc97, "docx"), first);
}

// --- files of other writers and less common paths ----------------------------------------

TEST(ExcelWorkbook, ReadsCellKindsOfOtherWriters) {
    QTemporaryDir dir;
    Package p;
    p.setPart("[Content_Types].xml",
              R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/></Types>)");
    p.setPart("_rels/.rels",
              R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="r1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="/xl/book.xml"/></Relationships>)");
    p.setPart("xl/book.xml",
              R"(<?xml version="1.0"?><x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><x:sheets><x:sheet name="Данные &amp; итоги" sheetId="7" r:id="s1"/></x:sheets></x:workbook>)");
    p.setPart("xl/_rels/book.xml.rels",
              R"(<?xml version="1.0"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="s1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="sheets/one.xml"/><Relationship Id="s2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="strings.xml"/></Relationships>)");
    p.setPart("xl/strings.xml",
              R"(<?xml version="1.0"?><sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><si><r><t>Бо</t></r><r><t xml:space="preserve">льница </t></r><rPh><t>x</t></rPh></si><si><t xml:space="preserve"> </t></si></sst>)");
    p.setPart("xl/sheets/one.xml",
              R"(<?xml version="1.0"?><x:worksheet xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><x:sheetData>
<x:row><x:c t="s"><x:v>0</x:v></x:c><x:c t="inlineStr"><x:is><x:t>строка</x:t></x:is></x:c><x:c><x:f>1+1</x:f><x:v>2</x:v></x:c></x:row>
<x:row r="3"><x:c r="B3" t="str"><x:f>A1</x:f><x:v>Больница </x:v></x:c><x:c r="D3" t="b"><x:v>1</x:v></x:c><x:c r="E3" t="s"><x:v>1</x:v></x:c><x:c r="F3"/><x:c r="G3"><x:v>1e400</x:v></x:c></x:row>
</x:sheetData><x:mergeCells><x:mergeCell ref="A5:C6"/></x:mergeCells></x:worksheet>)");
    p.write(dir.filePath("other.xlsx"));

    ExcelWorkbook book = ExcelWorkbook::open(dir.filePath("other.xlsx"));
    ASSERT_EQ(book.sheetCount(), 1);
    ExcelSheet &s = book.sheet(1);
    EXPECT_EQ(s.name(), QStringLiteral("Данные & итоги"));
    EXPECT_EQ(s.text(1, 1), QStringLiteral("Больница "));   // phonetic runs left out
    EXPECT_EQ(s.text(1, 2), QStringLiteral("строка"));
    EXPECT_EQ(s.value(1, 3).toDouble(), 2.0);                 // a formula gives its value
    EXPECT_EQ(s.text(3, 2), QStringLiteral("Больница "));
    EXPECT_EQ(s.value(3, 4), QVariant(true));               // TRUE stays a logical value, not 1
    EXPECT_EQ(s.text(3, 5), QStringLiteral(" "));
    EXPECT_FALSE(s.hasValue(3, 6));
    EXPECT_EQ(s.value(3, 7), QVariant(QStringLiteral("1e400")));   // past a double: kept as written
    EXPECT_EQ(s.merges(), QList<RangeRef>({RangeRef{5, 1, 6, 3}}));
    EXPECT_EQ(s.usedRange(), (RangeRef{1, 1, 6, 7}));

    // Saving keeps the formulas with their values; a value written over one replaces it.
    s.setValue(3, 2, QStringLiteral("текст"));
    book.saveAs(dir.filePath("again.xlsx"));
    ExcelWorkbook again = ExcelWorkbook::open(dir.filePath("again.xlsx"));
    EXPECT_EQ(again.sheet(1).value(1, 3).toDouble(), 2.0);
    EXPECT_EQ(again.sheet(1).text(3, 2), QStringLiteral("текст"));
    EXPECT_EQ(again.sheet(1).value(3, 4), QVariant(true));
}

TEST(ExcelWorkbook, WidthsValuesAndPanesEdgeCases) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &s = book.sheet(1);
    const double widths[] = {1, 8.43, 10, 12, 57.5, 255};
    for (int i = 0; i < 6; ++i) s.setColumnWidth(i + 1, widths[i]);
    EXPECT_THROW(s.setColumnWidth(7, 256), Error);
    EXPECT_THROW(s.setRowHeight(1, -1), Error);
    s.setValue(1, 1, 5);
    s.setValue(1, 1, QVariant());            // cleared again
    s.setValue(2, 2, QString());             // an empty text is no value
    s.setValue(3, 3, -0.000001234);
    s.setValue(4, 4, 1e20);
    s.cell(6, 6).setBold(true);              // formatting alone counts as used
    s.freezePanes(2, 1);                     // rows only
    EXPECT_EQ(s.usedRange(), (RangeRef{3, 3, 6, 6}));
    book.saveAs(dir.filePath("w.xlsx"));
    ExcelWorkbook back = ExcelWorkbook::open(dir.filePath("w.xlsx"));
    ExcelSheet &b = back.sheet(1);
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(b.columnWidth(i + 1), widths[i], 0.01) << i;
    EXPECT_FALSE(b.hasValue(1, 1));
    EXPECT_FALSE(b.hasValue(2, 2));
    EXPECT_EQ(b.value(3, 3).toDouble(), -0.000001234);
    EXPECT_EQ(b.value(4, 4).toDouble(), 1e20);
    EXPECT_TRUE(b.format(6, 6).bold);
    EXPECT_EQ(b.frozenAt(), (CellRef{2, 1}));
    EXPECT_EQ(b.usedRange(), (RangeRef{3, 3, 6, 6}));
}

TEST(WordDocument, SharedTemplateHeaderChangedForOneSectionOnly) {
    QTemporaryDir dir;
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("t.docx")));
    doc.section(1).setHeaderText(HeaderKind::Primary, QStringLiteral("общий"));
    // The new section starts with the same header part as the first one.
    WordSection second = doc.addSectionNewPage();
    doc.saveAs(dir.filePath("a.docx"));
    WordDocument reopened = WordDocument::open(dir.filePath("a.docx"));
    EXPECT_EQ(reopened.section(2).headerText(HeaderKind::Primary), QStringLiteral("общий"));
    reopened.section(2).setHeaderText(HeaderKind::Primary, QStringLiteral("второй"));
    reopened.saveAs(dir.filePath("b.docx"));
    WordDocument back = WordDocument::open(dir.filePath("b.docx"));
    EXPECT_EQ(back.section(1).headerText(HeaderKind::Primary), QStringLiteral("общий"));
    EXPECT_EQ(back.section(2).headerText(HeaderKind::Primary), QStringLiteral("второй"));
    Q_UNUSED(second);
}

TEST(WordDocument, TextAfterANonFinalSectionKeepsTheBreakAtItsEnd) {
    WordDocument doc = WordDocument::createBlank();
    doc.insertAfter(QStringLiteral("первый"));
    doc.addSectionNewPage();
    doc.insertAfter(QStringLiteral("второй"));
    WordSection first = doc.section(1);
    first.insertAfter(QStringLiteral(" конец\rещё абзац"));
    first.insertBefore(QStringLiteral("начало\r"));
    EXPECT_EQ(doc.sectionCount(), 2);
    EXPECT_EQ(doc.section(1).paragraphs(),
              QStringList({QStringLiteral("начало"), QStringLiteral("первый конец"), QStringLiteral("ещё абзац")}));
    EXPECT_EQ(doc.section(2).paragraphs(), QStringList({QStringLiteral("второй")}));
    // Paragraphs that held the break turn into a table: the break stays behind it.
    doc.textToTable(1, 2);
    EXPECT_EQ(doc.sectionCount(), 2);
    EXPECT_EQ(doc.table(1).cellText(2, 1), QStringLiteral("ещё абзац"));
    EXPECT_EQ(doc.section(2).paragraphs(), QStringList({QStringLiteral("второй")}));
}

TEST(OfficeShow, AFolderThatCannotBeWrittenIsNamedAndAnotherMayBeChosen) {
    QTemporaryDir dir;
    FakeDialogs fake;
    // A file stands where the folder should be.
    ASSERT_TRUE(cp1251::writeFile(dir.filePath("занято"), "x"));
    const QString blocked = dir.filePath("занято/documents");
    WordDocument doc = WordDocument::createBlank();
    fake.answers = {true};
    fake.files = {dir.filePath("другая")};
    QDir().mkpath(dir.filePath("другая"));
    const QString file = show(doc, QStringLiteral("Список"), blocked);
    ASSERT_EQ(fake.questions.size(), 1);
    EXPECT_TRUE(fake.questions[0].contains(QDir::toNativeSeparators(blocked + "/"))) << fake.questions[0].toStdString();
    EXPECT_TRUE(fake.questions[0].contains("Выбрать другую папку?"));
    EXPECT_FALSE(fake.questions[0].contains(QRegularExpression("[A-Za-z]{4,} ")));
    EXPECT_EQ(file, dir.filePath("другая/Список.docx"));
    EXPECT_EQ(fake.opened, QStringList{file});
    // Declined: the caller gets the error, nothing is opened.
    fake.answers = {false};
    EXPECT_THROW(show(doc, QStringLiteral("Список"), blocked), office::Error);
    EXPECT_EQ(fake.opened.size(), 1);
}

TEST(OfficeShow, DocumentsGoToTheYearFolderOfTheOpenConfiguration) {
    QTemporaryDir dir;
    FakeDialogs fake;
    // The program hands in the open year's folder (app/main.cpp).
    setYearFolderSource([&] { return paths::withSlash(dir.path()) + QStringLiteral("2024/"); });
    EXPECT_EQ(documentsFolder(), paths::withSlash(dir.path()) + QStringLiteral("2024/documents/"));
    WordDocument doc = WordDocument::createBlank();
    const QString file = show(doc, QStringLiteral("Список"));
    EXPECT_EQ(file, paths::withSlash(dir.path()) + QStringLiteral("2024/documents/Список.docx"));
    EXPECT_TRUE(QFileInfo::exists(file));
    setYearFolderSource({});
}

TEST(OfficePackage, PartNamesAndDamagedFiles) {
    QTemporaryDir dir;
    WordDocument::createBlank().saveAs(dir.filePath("ok.docx"));
    const QByteArray whole = fileBytes(dir.filePath("ok.docx"));
    const QFile cut(dir.filePath("cut.docx"));
    ASSERT_TRUE(cp1251::writeFile(cut.fileName(), whole.left(whole.size() / 2)));
    EXPECT_THROW(WordDocument::open(cut.fileName()), Error);
    EXPECT_THROW(ExcelWorkbook::open(cut.fileName()), Error);
    // A Word file is no workbook, and the other way round.
    EXPECT_THROW(ExcelWorkbook::open(dir.filePath("ok.docx")), Error);
    ExcelWorkbook::create().saveAs(dir.filePath("b.xlsx"));
    EXPECT_THROW(WordDocument::open(dir.filePath("b.xlsx")), Error);
}

TEST(WordDocument, CellTextsRowsAndParagraphFormats) {
    QTemporaryDir dir;
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("t.docx")));
    WordTable t = doc.table(1);
    t.setCellText(2, 3, QStringLiteral("первый\rвторой\tграфа\vстрока\x07"));
    EXPECT_EQ(t.cellText(2, 3), QStringLiteral("первый\rвторой\tграфа\x0bстрока"));
    // A row added under a vertical merge is an ordinary row of full cells.
    EXPECT_EQ(t.addRow(), 4);
    EXPECT_TRUE(t.hasCell(4, 1));
    EXPECT_EQ(t.cellText(4, 2), QString());
    EXPECT_EQ(t.gridCell(2, 1)->rowSpan, 2);
    t.setStyle(QStringLiteral("TableGrid"));
    doc.addParagraph(QStringLiteral("Итого"), {true, false, ParaAlign::Center, 14});
    doc.section(1).setOrientation(Orientation::Landscape);
    doc.saveAs(dir.filePath("f.docx"));

    WordDocument back = WordDocument::open(dir.filePath("f.docx"));
    EXPECT_EQ(back.table(1).rowCount(), 4);
    EXPECT_EQ(back.table(1).cellText(2, 3), QStringLiteral("первый\rвторой\tграфа\x0bстрока"));
    EXPECT_EQ(back.paragraphs().last(), QStringLiteral("Итого"));
    EXPECT_EQ(back.section(1).orientation(), Orientation::Landscape);
    // Text put before a document that starts with a table becomes paragraphs ahead of it.
    WordDocument onlyTable = WordDocument::createBlank();
    onlyTable.insertTableBefore(0, 1, 1).setCellText(1, 1, QStringLiteral("x"));
    onlyTable.insertBefore(QStringLiteral("шапка"));
    EXPECT_EQ(onlyTable.text().split(u'\r').mid(0, 2), QStringList({QStringLiteral("шапка"), QStringLiteral("x")}));
}

TEST(ExcelWorkbook, FormatDetailsAndNamesWithMarkup) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &first = book.sheet(1);
    ExcelSheet &before = book.addSheetBefore(first);
    before.setName(QStringLiteral("<Сводка> & \"итог\""));
    before.cell(1, 1).setOrientation(-45).setValue(QStringLiteral("вниз"));
    before.cell(2, 1).setIndentLevel(3);                 // indent needs a side: left
    before.cell(3, 1).setBorder(BorderIndex::EdgeBottom, LineStyle::Double);
    before.cell(4, 1).setNumberFormat(QStringLiteral("#,##0.00\" руб.\"")).setValue(1234.5);
    book.saveAs(dir.filePath("f.xlsx"));
    ExcelWorkbook back = ExcelWorkbook::open(dir.filePath("f.xlsx"));
    ExcelSheet &s = back.sheet(1);
    EXPECT_EQ(s.name(), QStringLiteral("<Сводка> & \"итог\""));
    EXPECT_EQ(back.sheet(2).name(), QStringLiteral("Лист1"));
    EXPECT_EQ(s.format(1, 1).rotation, -45);
    EXPECT_EQ(s.format(2, 1).indent, 3);
    EXPECT_EQ(s.format(2, 1).hAlign, HAlign::Left);
    EXPECT_EQ(s.format(3, 1).bottom, LineStyle::Double);
    EXPECT_EQ(s.format(3, 1).top, LineStyle::None);
    EXPECT_EQ(s.format(4, 1).numberFormat, QStringLiteral("#,##0.00\" руб.\""));
}

// The archive library's English texts do not reach the user: a damaged file
// and a folder that cannot be written are told in Russian, the path once.
TEST(Package, ArchiveFailuresAreToldInRussian) {
    QTemporaryDir dir;
    const QString damaged = dir.filePath("отчет.docx");
    ASSERT_TRUE(cp1251::writeFile(damaged, QByteArray(3000, 'Z')));
    const QString notAFolder = dir.filePath("файл");
    ASSERT_TRUE(cp1251::writeFile(notAFolder, {}));
    const struct {
        QString path;
        std::function<void()> run;
        QString said;
    } cases[] = {
        {damaged, [&] { Package::read(damaged); }, QStringLiteral("поврежден")},
        {notAFolder + "/новый.docx", [&] { Package().write(notAFolder + "/новый.docx"); }, QStringLiteral("Не удалось")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        try {
            c.run();
            ADD_FAILURE() << "no error";
        } catch (const office::Error &e) {
            QString rest = e.message();
            EXPECT_TRUE(rest.contains(c.said)) << rest.toStdString();
            EXPECT_EQ(rest.count(c.path), 1) << rest.toStdString();
            rest.remove(c.path);
            rest.remove(QStringLiteral("Office Open XML (.docx/.xlsx)"));
            EXPECT_FALSE(rest.contains(QRegularExpression("[A-Za-z]"))) << rest.toStdString();
        }
    }
}

// A long list becomes a document in time proportional to its length
// (10,000 lines took close to a minute when each line looked for the end).
TEST(WordDocument, LongTabTextListIsBuiltInLinearTime) {
    auto build = [](int n) {
        QStringList lines{QStringLiteral("Заголовок"), QStringLiteral("Учреждение\tЗначение")};
        for (int i = 0; i < n; ++i) lines << QStringLiteral("ЦРБ №%1\t%2.10").arg(i).arg(i);
        QElapsedTimer t;
        t.start();
        WordDocument doc = buildTabTextDocument(lines, 1);
        EXPECT_EQ(doc.table(1).rowCount(), n + 1);
        EXPECT_EQ(doc.table(1).cellText(n + 1, 1), QStringLiteral("ЦРБ №%1").arg(n - 1));
        return t.elapsed();
    };
    const qint64 small = std::max<qint64>(build(2000), 1);
    const qint64 large = build(20000);
    EXPECT_LT(large, 30 * small + 200) << small << " ms for 2000 lines, " << large << " ms for 20000";
    EXPECT_LT(large, 10000);
}

namespace {

quint16 le16(const QByteArray &b, qsizetype at) { return quint16(uchar(b[at]) | uchar(b[at + 1]) << 8); }
quint32 le32(const QByteArray &b, qsizetype at) { return quint32(le16(b, at)) | quint32(le16(b, at + 2)) << 16; }
void put32(QByteArray &b, qsizetype at, quint32 v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char(v >> (8 * i));
}
QByteArray bytes64(quint64 v) {
    QByteArray b(8, '\0');
    for (int i = 0; i < 8; ++i) b[i] = char(v >> (8 * i));
    return b;
}

// The archive with the size one entry declares unpacked changed in its
// central directory, as a hostile file would have it: in place up to 4 GB,
// else as a zip64 field (the header then says 0xFFFFFFFF).
QByteArray declareSize(QByteArray zip, const QByteArray &entry, quint64 size) {
    const qsizetype end = zip.lastIndexOf("PK\x05\x06");
    qsizetype at = qsizetype(le32(zip, end + 16));
    while (zip.mid(at, 4) == "PK\x01\x02") {
        const int nameLength = le16(zip, at + 28), extraLength = le16(zip, at + 30), commentLength = le16(zip, at + 32);
        if (zip.mid(at + 46, nameLength) == entry) {
            if (size < 0xFFFFFFFFu) {
                put32(zip, at + 24, quint32(size));
            } else {
                put32(zip, at + 24, 0xFFFFFFFFu);
                const QByteArray field = QByteArray("\x01\x00\x08\x00", 4) + bytes64(size);
                zip.insert(at + 46 + nameLength + extraLength, field);
                zip[at + 30] = char(extraLength + field.size());
                zip[at + 31] = char((extraLength + field.size()) >> 8);
                const qsizetype newEnd = zip.lastIndexOf("PK\x05\x06");
                put32(zip, newEnd + 12, le32(zip, newEnd + 12) + quint32(field.size()));
            }
            return zip;
        }
        at += 46 + nameLength + extraLength + commentLength;
    }
    ADD_FAILURE() << "no entry " << entry.toStdString();
    return zip;
}

} // namespace

// A package is read against a limit on what it unpacks to: a small file that
// declares a huge part is refused before anything is allocated for it, by
// every path that opens one (loading a table from a workbook, the Word
// import, print templates), in Russian, with the file and the part named.
TEST(Package, DeclaredOrUnpackedSizeOverTheLimitIsRefusedByEveryReader) {
    QTemporaryDir dir;
    const QString book = dir.filePath("книга.xlsx");
    ExcelWorkbook b = ExcelWorkbook::create();
    b.sheet(1).setValue(1, 1, QStringLiteral("Ф30"));
    b.saveAs(book);
    const QString doc = dir.filePath("шаблон.docx");
    WordDocument::createBlank().saveAs(doc);
    ASSERT_LT(QFileInfo(book).size(), 8000);

    const struct {
        QString name;
        QString file;
        QByteArray entry;
        quint64 declared;
        std::function<void(const QString &)> open;
    } cases[] = {
        {"workbook declaring 1 GB", book, "xl/worksheets/sheet1.xml", 1ull << 30,
         [](const QString &f) { ExcelWorkbook::open(f); }},
        {"workbook, zip64 entry declaring 16 TiB", book, "xl/worksheets/sheet1.xml", 1ull << 44,
         [](const QString &f) { ExcelWorkbook::open(f); }},
        {"document declaring 1 GB", doc, "word/document.xml", 1ull << 30,
         [](const QString &f) { WordDocument::open(f); }},
        {"template, zip64 entry declaring 16 TiB", doc, "word/document.xml", 1ull << 44,
         [](const QString &f) { WordDocument::fromTemplate(f); }},
        {"package declaring just over the limit", doc, "[Content_Types].xml", quint64(kMaxUnpackedBytes) + 1,
         [](const QString &f) { Package::read(f); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const QString hostile = dir.filePath("чужой." + QFileInfo(c.file).suffix());
        ASSERT_TRUE(cp1251::writeFile(hostile, declareSize(fileBytes(c.file), c.entry, c.declared)));
        try {
            c.open(hostile);
            ADD_FAILURE() << "opened";
        } catch (const office::Error &e) {
            QString rest = e.message();
            EXPECT_TRUE(rest.contains("256 МБ")) << rest.toStdString();
            EXPECT_EQ(rest.count(hostile), 1) << rest.toStdString();
            EXPECT_EQ(rest.count(QString::fromLatin1(c.entry)), 1) << rest.toStdString();
            rest.remove(hostile).remove(QString::fromLatin1(c.entry));
            EXPECT_FALSE(rest.contains(QRegularExpression("[A-Za-z]"))) << rest.toStdString();
        }
    }
    // Legitimate files of the limit's order are read: the limit is on the sum,
    // and the bytes are counted, not the declarations trusted.
    Package big;
    big.setPart("a.bin", QByteArray(3 << 20, 'a'));
    big.setPart("b.bin", QByteArray(3 << 20, 'b'));
    big.write(dir.filePath("big.zip"));
    EXPECT_EQ(Package::read(dir.filePath("big.zip"), 6 << 20).part("b.bin").size(), 3 << 20);
    EXPECT_THROW(Package::read(dir.filePath("big.zip"), (6 << 20) - 1), office::Error);
    // A part that declares less than it holds is refused as damaged or as too large, never read past the limit.
    const QByteArray lying = declareSize(fileBytes(dir.filePath("big.zip")), "a.bin", 100);
    ASSERT_TRUE(cp1251::writeFile(dir.filePath("lying.zip"), lying));
    EXPECT_THROW(Package::read(dir.filePath("lying.zip"), 1 << 20), office::Error);
    EXPECT_THROW(Package::read(dir.filePath("lying.zip")), office::Error);
}

