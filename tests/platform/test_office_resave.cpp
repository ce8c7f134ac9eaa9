// Adding a sheet to a workbook made by another program and saving it over the same file ("В открытую книгу") keeps
// everything the layer does not model: styles with fills, comments and their drawing, other sheets, shared strings,
// document properties.
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Package.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace office;

namespace {

const char *const kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char *const kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A small workbook as a spreadsheet program writes it: two sheets (the first one selected, with a filled cell and a
// comment), a print area on the second, shared strings, a theme-less style sheet with a solid fill.
Package madeElsewhere() {
    Package p;
    const QString main = kMain, rel = kRel;
    p.setPart("[Content_Types].xml", R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Default Extension="vml" ContentType="application/vnd.openxmlformats-officedocument.vmlDrawing"/><Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/><Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/><Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/><Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/><Override PartName="/xl/comments1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.comments+xml"/><Override PartName="/docProps/app.xml" ContentType="application/vnd.openxmlformats-officedocument.extended-properties+xml"/></Types>)");
    p.setPart("_rels/.rels", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%1/officeDocument" Target="xl/workbook.xml"/><Relationship Id="rId2" Type="%1/extended-properties" Target="docProps/app.xml"/></Relationships>)").arg(rel).toUtf8());
    p.setPart("docProps/app.xml", R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Properties xmlns="http://schemas.openxmlformats.org/officeDocument/2006/extended-properties"><Application>Другая программа</Application></Properties>)");
    p.setPart("xl/workbook.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="%1" xmlns:r="%2"><fileVersion appName="xl"/><workbookPr defaultThemeVersion="164011"/><bookViews><workbookView xWindow="0" yWindow="0" windowWidth="28800" windowHeight="12300" activeTab="0"/></bookViews><sheets><sheet name="Данные &quot;1&quot;" sheetId="1" r:id="rId1"/><sheet name="Итоги" sheetId="4" r:id="rId2"/></sheets><definedNames><definedName name="_xlnm.Print_Area" localSheetId="1">Итоги!$A$1:$B$2</definedName></definedNames><calcPr calcId="191029"/></workbook>)").arg(main, rel).toUtf8());
    p.setPart("xl/_rels/workbook.xml.rels", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%1/worksheet" Target="worksheets/sheet1.xml"/><Relationship Id="rId2" Type="%1/worksheet" Target="worksheets/sheet2.xml"/><Relationship Id="rId3" Type="%1/styles" Target="styles.xml"/><Relationship Id="rId4" Type="%1/sharedStrings" Target="sharedStrings.xml"/></Relationships>)").arg(rel).toUtf8());
    p.setPart("xl/styles.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="%1"><numFmts count="1"><numFmt numFmtId="170" formatCode="0.000"/></numFmts><fonts count="1"><font><sz val="11"/><color theme="1"/><name val="Calibri"/><family val="2"/><charset val="204"/><scheme val="minor"/></font></fonts><fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill><fill><patternFill patternType="solid"><fgColor rgb="FFFFFF00"/><bgColor indexed="64"/></patternFill></fill></fills><borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders><cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs><cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="170" fontId="0" fillId="2" borderId="0" xfId="0" applyNumberFormat="1" applyFill="1"/></cellXfs><cellStyles count="1"><cellStyle name="Обычный" xfId="0" builtinId="0"/></cellStyles><dxfs count="0"/></styleSheet>)").arg(main).toUtf8());
    p.setPart("xl/sharedStrings.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="%1" count="1" uniqueCount="1"><si><t>Желтая ячейка</t></si></sst>)").arg(main).toUtf8());
    p.setPart("xl/worksheets/sheet1.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="%1" xmlns:r="%2"><dimension ref="A1:B2"/><sheetViews><sheetView tabSelected="1" workbookViewId="0"/></sheetViews><sheetFormatPr defaultRowHeight="15"/><sheetData><row r="1"><c r="A1" s="1" t="s"><v>0</v></c></row><row r="2"><c r="B2" s="1"><v>10.1</v></c></row></sheetData><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/><legacyDrawing r:id="rId2"/></worksheet>)").arg(main, rel).toUtf8());
    p.setPart("xl/worksheets/_rels/sheet1.xml.rels", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="%1/comments" Target="../comments1.xml"/><Relationship Id="rId2" Type="%1/vmlDrawing" Target="../drawings/vmlDrawing1.vml"/></Relationships>)").arg(rel).toUtf8());
    p.setPart("xl/comments1.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<comments xmlns="%1"><authors><author>Автор</author></authors><commentList><comment ref="A1" authorId="0"><text><t>Проверить #=	значение</t></text></comment></commentList></comments>)").arg(main).toUtf8());
    p.setPart("xl/drawings/vmlDrawing1.vml", "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\"><v:shape id=\"_x0000_s1025\"/></xml>");
    p.setPart("xl/worksheets/sheet2.xml", QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="%1"><sheetPr><tabColor rgb="FF00B050"/></sheetPr><sheetData><row r="1"><c r="A1"><v>0.1</v></c></row></sheetData><conditionalFormatting sqref="A1"><cfRule type="cellIs" dxfId="0" priority="1" operator="greaterThan"><formula>0</formula></cfRule></conditionalFormatting></worksheet>)").arg(main).toUtf8());
    return p;
}

} // namespace

TEST(ExcelWorkbook, AddingASheetToAnOpenedWorkbookKeepsEverythingElse) {
    QTemporaryDir dir;
    const QString file = dir.filePath("чужая книга.xlsx");
    const Package original = madeElsewhere();
    original.write(file);

    // What "В открытую книгу" does: open, add a sheet (before the active one), save over the same file; then once more.
    for (const QString &name : {QStringLiteral("Ф30 (1000)"), QStringLiteral("Ф30 (2000)")}) {
        ExcelWorkbook book = ExcelWorkbook::open(file);
        ExcelSheet &sheet = book.addSheet();
        sheet.setName(name);
        sheet.setValue(1, 1, QStringLiteral("Свод \"Северный\" #1"));
        sheet.setValue(2, 2, 10.1);
        sheet.range(2, 2, 2, 3).setBold(true).setNumberFormat(QStringLiteral("0.0")).setAllBorders();
        book.saveAs(file);
    }

    const Package saved = Package::read(file);
    // Parts nothing was added to are written back byte for byte; the
    // sheet that was selected before only loses its selection mark.
    const QStringList edited = {"[Content_Types].xml", "xl/workbook.xml", "xl/_rels/workbook.xml.rels",
                                "xl/styles.xml", "xl/worksheets/sheet1.xml"};
    for (const QString &part : original.names()) {
        SCOPED_TRACE(part.toStdString());
        ASSERT_TRUE(saved.has(part));
        if (!edited.contains(part)) EXPECT_EQ(saved.part(part), original.part(part));
    }
    EXPECT_EQ(saved.part("xl/worksheets/sheet1.xml"),
              original.part("xl/worksheets/sheet1.xml").replace(" tabSelected=\"1\"", ""));
    // The file's own styles stay where its cells point; new ones follow.
    const QByteArray styles = saved.part("xl/styles.xml");
    const QByteArray before = original.part("xl/styles.xml");
    const qsizetype xfsEnd = before.indexOf("</cellXfs>");
    EXPECT_TRUE(styles.contains(before.mid(before.indexOf("<fills"), before.indexOf("</fills>") - before.indexOf("<fills"))));
    EXPECT_TRUE(styles.contains(before.mid(before.indexOf("<cellXfs") + 17, xfsEnd - before.indexOf("<cellXfs") - 17)));

    // Read back: the new sheets first (each went before the active one), the
    // file's own sheets with their values, formats and fills.
    ExcelWorkbook back = ExcelWorkbook::open(file);
    QStringList names;
    for (int i = 1; i <= back.sheetCount(); ++i) names << back.sheet(i).name();
    EXPECT_EQ(names, (QStringList{"Ф30 (2000)", "Ф30 (1000)", "Данные \"1\"", "Итоги"}));
    EXPECT_EQ(back.activeSheet().name(), QStringLiteral("Ф30 (2000)"));
    for (int i : {1, 2}) {
        ExcelSheet &s = back.sheet(i);
        EXPECT_EQ(s.text(1, 1), QStringLiteral("Свод \"Северный\" #1"));
        EXPECT_EQ(s.value(2, 2).toDouble(), 10.1);
        EXPECT_TRUE(s.format(2, 3).bold);
        EXPECT_EQ(s.format(2, 2).numberFormat, QStringLiteral("0.0"));
        EXPECT_EQ(s.format(2, 3).right, LineStyle::Continuous);
    }
    EXPECT_EQ(back.sheet(3).text(1, 1), QStringLiteral("Желтая ячейка"));
    EXPECT_EQ(back.sheet(3).value(2, 2).toDouble(), 10.1);
    EXPECT_EQ(back.sheet(3).format(2, 2).numberFormat, QStringLiteral("0.000"));
    EXPECT_EQ(back.sheet(3).format(2, 2).fontName, QStringLiteral("Calibri"));
    EXPECT_EQ(back.sheet(4).value(1, 1).toDouble(), 0.1);
}

// A sheet of the file changed after opening is written anew, its cells keeping the file's styles (the fill among them).
TEST(ExcelWorkbook, ChangedSheetOfAnOpenedWorkbookKeepsItsCellStyles) {
    QTemporaryDir dir;
    const QString file = dir.filePath("book.xlsx");
    madeElsewhere().write(file);
    ExcelWorkbook book = ExcelWorkbook::open(file);
    book.sheet(1).setValue(3, 1, 0.1);
    book.sheet(1).setName(QStringLiteral("Новое имя"));
    book.saveAs(file);
    const Package saved = Package::read(file);
    const QByteArray sheet = saved.part("xl/worksheets/sheet1.xml");
    EXPECT_EQ(saved.part("xl/styles.xml"), madeElsewhere().part("xl/styles.xml"));
    ExcelWorkbook back = ExcelWorkbook::open(file);
    EXPECT_EQ(back.sheet(1).value(3, 1).toDouble(), 0.1);
    EXPECT_EQ(back.sheet(1).text(1, 1), QStringLiteral("Желтая ячейка"));
}
