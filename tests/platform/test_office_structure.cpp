// The files we write must open in the word processor and the spreadsheet
// program without a repair prompt. Both check the order of child elements
// against their schemas, the counts of the style tables and the package's
// content types and relationships much more strictly than our own reader or
// the office suite used in other tests. These tests build documents with
// every feature of the layer and check those rules on the written parts.
#include "core/ListWindow.h"
#include "platform/office/ExcelWorkbook.h"
#include "platform/office/Package.h"
#include "platform/office/WordDocument.h"
#include "test_office_template.h"

#include <QDomDocument>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace office;

namespace {

// ---- generic checks ----------------------------------------------------------

// Children of each listed element in schema order. Children of these
// elements that the list does not name are errors as well.
using OrderTable = QHash<QString, QStringList>;

struct Checker {
    QString part;
    QStringList errors;

    void fail(const QDomElement &e, const QString &what) {
        errors.append(part + QStringLiteral(": <") + e.tagName() + QStringLiteral(">: ") + what);
    }

    // Every element named in the table has its children in schema order;
    // those not in `repeatable` appear at most once.
    void checkOrder(const QDomElement &root, const OrderTable &orders, const QSet<QString> &repeatable) {
        for (QDomElement e = root; !e.isNull();) {
            const auto it = orders.constFind(e.tagName());
            if (it != orders.constEnd()) {
                int last = -1;
                QSet<QString> seen;
                for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
                    const int idx = it->indexOf(c.tagName());
                    if (idx < 0) {
                        fail(e, QStringLiteral("unexpected child ") + c.tagName());
                        continue;
                    }
                    if (idx < last) fail(e, c.tagName() + QStringLiteral(" out of order"));
                    if (seen.contains(c.tagName()) && !repeatable.contains(c.tagName()))
                        fail(e, c.tagName() + QStringLiteral(" twice"));
                    seen.insert(c.tagName());
                    last = qMax(last, idx);
                }
            }
            // Depth-first walk over the whole tree.
            if (!e.firstChildElement().isNull()) {
                e = e.firstChildElement();
                continue;
            }
            while (!e.isNull() && e != root && e.nextSiblingElement().isNull()) e = e.parentNode().toElement();
            if (e.isNull() || e == root) break;
            e = e.nextSiblingElement();
        }
    }
};

QList<QDomElement> all(const QDomElement &root, const QString &tag) {
    QList<QDomElement> out;
    const QDomNodeList list = root.elementsByTagName(tag);
    for (int i = 0; i < list.size(); ++i) out.append(list.at(i).toElement());
    return out;
}

QList<QDomElement> kids(const QDomElement &e, const QString &tag = QString()) {
    QList<QDomElement> out;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        if (tag.isEmpty() || c.tagName() == tag) out.append(c);
    return out;
}

QDomDocument parse(const Package &pkg, const QString &part) {
    QDomDocument d;
    EXPECT_TRUE(pkg.has(part)) << part.toStdString();
    EXPECT_TRUE(bool(d.setContent(pkg.part(part)))) << part.toStdString();
    return d;
}

// Every part has a content type; every relationship target exists; the
// content types come first in the zip.
void checkPackage(const Package &pkg, Checker &ck) {
    ck.part = QStringLiteral("[Content_Types].xml");
    if (pkg.names().value(0) != ck.part) ck.errors.append(QStringLiteral("[Content_Types].xml is not the first entry"));
    const QDomDocument types = parse(pkg, ck.part);
    QSet<QString> overrides, defaults;
    for (const QDomElement &o : kids(types.documentElement(), "Override"))
        overrides.insert(o.attribute("PartName").mid(1));
    for (const QDomElement &d : kids(types.documentElement(), "Default"))
        defaults.insert(d.attribute("Extension").toLower());
    for (const QString &name : pkg.names()) {
        if (name == ck.part) continue;
        const QString ext = name.section(u'.', -1).toLower();
        if (!overrides.contains(name) && !defaults.contains(ext))
            ck.errors.append(name + QStringLiteral(": no content type"));
    }
    for (const QString &o : overrides)
        if (!pkg.has(o)) ck.errors.append(o + QStringLiteral(": content type of a missing part"));
    for (const QString &rels : pkg.names()) {
        if (!rels.endsWith(QLatin1String(".rels"))) continue;
        // "word/_rels/document.xml.rels" belongs to "word/document.xml".
        QString owner = rels;
        owner.remove(QStringLiteral("_rels/"));
        owner.chop(5);
        const QDomDocument d = parse(pkg, rels);
        QSet<QString> ids;
        for (const QDomElement &r : kids(d.documentElement(), "Relationship")) {
            if (ids.contains(r.attribute("Id"))) ck.errors.append(rels + QStringLiteral(": Id used twice"));
            ids.insert(r.attribute("Id"));
            if (r.attribute("TargetMode") == QLatin1String("External")) continue;
            const QString target = resolveTarget(owner, r.attribute("Target"));
            if (!pkg.has(target)) ck.errors.append(rels + QStringLiteral(": missing target ") + target);
        }
    }
}

// ---- spreadsheet -----------------------------------------------------------------

const OrderTable kXlsxOrders = {
    {"worksheet",
     {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols", "sheetData", "sheetCalcPr", "sheetProtection",
      "protectedRanges", "scenarios", "autoFilter", "sortState", "dataConsolidate", "customSheetViews",
      "mergeCells", "phoneticPr", "conditionalFormatting", "dataValidations", "hyperlinks", "printOptions",
      "pageMargins", "pageSetup", "headerFooter", "rowBreaks", "colBreaks", "customProperties", "cellWatches",
      "ignoredErrors", "smartTags", "drawing", "legacyDrawing", "legacyDrawingHF", "picture", "oleObjects",
      "controls", "webPublishItems", "tableParts", "extLst"}},
    {"sheetViews", {"sheetView", "extLst"}},
    {"sheetView", {"pane", "selection", "pivotSelection", "extLst"}},
    {"cols", {"col"}},
    {"sheetData", {"row"}},
    {"row", {"c", "extLst"}},
    {"c", {"f", "v", "is", "extLst"}},
    {"mergeCells", {"mergeCell"}},
    {"styleSheet",
     {"numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs", "cellStyles", "dxfs", "tableStyles",
      "colors", "extLst"}},
    {"border", {"start", "left", "end", "right", "top", "bottom", "diagonal", "vertical", "horizontal"}},
    {"xf", {"alignment", "protection", "extLst"}},
    {"workbook",
     {"fileVersion", "fileSharing", "workbookPr", "workbookProtection", "bookViews", "sheets", "functionGroups",
      "externalReferences", "definedNames", "calcPr", "oleSize", "customWorkbookViews", "pivotCaches",
      "smartTagPr", "smartTagTypes", "webPublishing", "fileRecoveryPr", "webPublishObjects", "extLst"}},
    {"sst", {"si", "extLst"}},
    {"si", {"t", "r", "rPh", "phoneticPr"}},
};
const QSet<QString> kXlsxRepeatable = {"sheetView", "selection", "col", "row", "c", "mergeCell", "si",
                                       "conditionalFormatting", "numFmt", "font", "fill", "border", "xf",
                                       "cellStyle", "sheet", "r", "rPh", "workbookView"};

int countAttr(const QDomElement &e) { return e.attribute("count").toInt(); }

QStringList checkWorkbookFile(const QString &path) {
    const Package pkg = Package::read(path);
    Checker ck;
    checkPackage(pkg, ck);

    ck.part = QStringLiteral("xl/styles.xml");
    const QDomElement styles = parse(pkg, ck.part).documentElement();
    ck.checkOrder(styles, kXlsxOrders, kXlsxRepeatable);
    QHash<QString, int> sizes;
    for (const char *list : {"numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs", "cellStyles"}) {
        const QDomElement e = styles.firstChildElement(QLatin1String(list));
        if (e.isNull()) continue;
        sizes[QLatin1String(list)] = int(kids(e).size());
        if (countAttr(e) != int(kids(e).size())) ck.fail(e, QStringLiteral("count differs from its children"));
    }
    if (sizes.value("fonts") < 1 || sizes.value("fills") < 2 || sizes.value("borders") < 1 ||
        sizes.value("cellXfs") < 1 || sizes.value("cellStyleXfs") < 1)
        ck.errors.append(QStringLiteral("styles.xml: a required table is missing or too short"));
    QSet<int> customFormats;
    for (const QDomElement &f : kids(styles.firstChildElement("numFmts"), "numFmt")) {
        const int id = f.attribute("numFmtId").toInt();
        if (id < 164 || customFormats.contains(id)) ck.fail(f, QStringLiteral("bad custom format id"));
        customFormats.insert(id);
    }
    for (const QDomElement &xf : kids(styles.firstChildElement("cellXfs"), "xf")) {
        const int fmt = xf.attribute("numFmtId").toInt();
        if (fmt >= 164 && !customFormats.contains(fmt)) ck.fail(xf, QStringLiteral("undefined number format"));
        if (xf.attribute("fontId").toInt() >= sizes.value("fonts")) ck.fail(xf, QStringLiteral("font out of range"));
        if (xf.attribute("fillId").toInt() >= sizes.value("fills")) ck.fail(xf, QStringLiteral("fill out of range"));
        if (xf.attribute("borderId").toInt() >= sizes.value("borders"))
            ck.fail(xf, QStringLiteral("border out of range"));
        if (xf.attribute("xfId").toInt() >= sizes.value("cellStyleXfs"))
            ck.fail(xf, QStringLiteral("cell style out of range"));
        const QDomElement a = xf.firstChildElement("alignment");
        if (!a.isNull()) {
            const int rot = a.attribute("textRotation", "0").toInt();
            if (rot < 0 || (rot > 180 && rot != 255)) ck.fail(a, QStringLiteral("bad text rotation"));
        }
    }

    int strings = 0;
    if (pkg.has(QStringLiteral("xl/sharedStrings.xml"))) {
        ck.part = QStringLiteral("xl/sharedStrings.xml");
        const QDomElement sst = parse(pkg, ck.part).documentElement();
        ck.checkOrder(sst, kXlsxOrders, kXlsxRepeatable);
        strings = int(kids(sst, "si").size());
        if (sst.attribute("uniqueCount").toInt() != strings) ck.fail(sst, QStringLiteral("uniqueCount differs"));
    }

    ck.part = QStringLiteral("xl/workbook.xml");
    const QDomElement wb = parse(pkg, ck.part).documentElement();
    ck.checkOrder(wb, kXlsxOrders, kXlsxRepeatable);
    const QList<QDomElement> sheets = kids(wb.firstChildElement("sheets"), "sheet");
    if (sheets.isEmpty()) ck.fail(wb, QStringLiteral("no sheets"));
    QSet<QString> names;
    static const QRegularExpression badName(QStringLiteral("[\\[\\]:*?/\\\\]"));
    for (const QDomElement &s : sheets) {
        const QString n = s.attribute("name");
        if (n.isEmpty() || n.size() > 31 || n.contains(badName) || n.startsWith(u'\'') || n.endsWith(u'\'') ||
            names.contains(n.toLower()))
            ck.fail(s, QStringLiteral("bad sheet name ") + n);
        names.insert(n.toLower());
    }
    const int activeTab = wb.firstChildElement("bookViews").firstChildElement("workbookView").attribute("activeTab", "0").toInt();
    if (activeTab < 0 || activeTab >= sheets.size()) ck.fail(wb, QStringLiteral("active tab out of range"));

    for (const QString &name : pkg.names()) {
        if (!name.startsWith(QLatin1String("xl/worksheets/")) || !name.endsWith(QLatin1String(".xml"))) continue;
        ck.part = name;
        const QDomElement ws = parse(pkg, name).documentElement();
        ck.checkOrder(ws, kXlsxOrders, kXlsxRepeatable);
        if (ws.firstChildElement("sheetData").isNull()) ck.fail(ws, QStringLiteral("no sheetData"));
        int lastRow = 0;
        for (const QDomElement &row : kids(ws.firstChildElement("sheetData"), "row")) {
            const int r = row.attribute("r").toInt();
            if (r <= lastRow || r > 1048576) ck.fail(row, QStringLiteral("row %1 out of order").arg(r));
            lastRow = r;
            int lastCol = 0;
            for (const QDomElement &c : kids(row, "c")) {
                const CellRef ref = parseCellName(c.attribute("r"));
                if (ref.row != r || ref.column <= lastCol || ref.column > 16384)
                    ck.fail(c, QStringLiteral("cell ") + c.attribute("r") + QStringLiteral(" out of place"));
                lastCol = ref.column;
                if (c.attribute("s", "0").toInt() >= sizes.value("cellXfs"))
                    ck.fail(c, QStringLiteral("style out of range"));
                const QString t = c.attribute("t", "n");
                const QDomElement v = c.firstChildElement("v");
                if (t == QLatin1String("s") && (v.isNull() || v.text().toInt() >= strings || v.text().toInt() < 0))
                    ck.fail(c, QStringLiteral("shared string out of range"));
                bool number = true;
                if (t == QLatin1String("n") && !v.isNull()) v.text().toDouble(&number);
                if (!number) ck.fail(c, QStringLiteral("number cell without a number"));
            }
        }
        int lastMax = 0;
        for (const QDomElement &col : kids(ws.firstChildElement("cols"), "col")) {
            const int mn = col.attribute("min").toInt(), mx = col.attribute("max").toInt();
            if (mn <= lastMax || mx < mn || col.attribute("width").toDouble() > 256)
                ck.fail(col, QStringLiteral("columns overlap or out of range"));
            lastMax = mx;
        }
        const QDomElement merges = ws.firstChildElement("mergeCells");
        if (!merges.isNull() && countAttr(merges) != int(kids(merges).size()))
            ck.fail(merges, QStringLiteral("count differs from its children"));
        QList<QPair<CellRef, CellRef>> areas;
        for (const QDomElement &m : kids(merges, "mergeCell")) {
            const QStringList ends = m.attribute("ref").split(u':');
            const CellRef a = parseCellName(ends.value(0)), b = parseCellName(ends.value(1));
            if (ends.size() != 2 || a.row <= 0 || b.row < a.row || b.column < a.column || a == b)
                ck.fail(m, QStringLiteral("bad merge ") + m.attribute("ref"));
            for (const auto &[p, q] : areas)
                if (a.row <= q.row && p.row <= b.row && a.column <= q.column && p.column <= b.column)
                    ck.fail(m, QStringLiteral("merges overlap"));
            areas.append({a, b});
        }
        const QDomElement pane = ws.firstChildElement("sheetViews").firstChildElement("sheetView").firstChildElement("pane");
        if (!pane.isNull()) {
            const CellRef top = parseCellName(pane.attribute("topLeftCell"));
            if (top.row != pane.attribute("ySplit", "0").toInt() + 1 ||
                top.column != pane.attribute("xSplit", "0").toInt() + 1)
                ck.fail(pane, QStringLiteral("top left cell does not match the split"));
            const QString active = pane.attribute("activePane");
            for (const QDomElement &sel : kids(pane.parentNode().toElement(), "selection"))
                if (sel.attribute("pane") != active) ck.fail(sel, QStringLiteral("selection of another pane"));
        }
    }
    return ck.errors;
}

// ---- word processor -----------------------------------------------------------

const QStringList kRPr = {
    "w:rStyle", "w:rFonts", "w:b", "w:bCs", "w:i", "w:iCs", "w:caps", "w:smallCaps", "w:strike", "w:dstrike",
    "w:outline", "w:shadow", "w:emboss", "w:imprint", "w:noProof", "w:snapToGrid", "w:vanish", "w:webHidden",
    "w:color", "w:spacing", "w:w", "w:kern", "w:position", "w:sz", "w:szCs", "w:highlight", "w:u", "w:effect",
    "w:bdr", "w:shd", "w:fitText", "w:vertAlign", "w:rtl", "w:cs", "w:em", "w:lang", "w:eastAsianLayout",
    "w:specVanish", "w:oMath"};
const QStringList kPPr = {
    "w:pStyle", "w:keepNext", "w:keepLines", "w:pageBreakBefore", "w:framePr", "w:widowControl", "w:numPr",
    "w:suppressLineNumbers", "w:pBdr", "w:shd", "w:tabs", "w:suppressAutoHyphens", "w:kinsoku", "w:wordWrap",
    "w:overflowPunct", "w:topLinePunct", "w:autoSpaceDE", "w:autoSpaceDN", "w:bidi", "w:adjustRightInd",
    "w:snapToGrid", "w:spacing", "w:ind", "w:contextualSpacing", "w:mirrorIndents", "w:suppressOverlap", "w:jc",
    "w:textDirection", "w:textAlignment", "w:textboxTightWrap", "w:outlineLvl", "w:divId", "w:cnfStyle", "w:rPr",
    "w:sectPr", "w:pPrChange"};

const OrderTable kDocxOrders = {
    {"w:rPr", kRPr},
    {"w:pPr", kPPr},
    {"w:sectPr",
     {"w:headerReference", "w:footerReference", "w:footnotePr", "w:endnotePr", "w:type", "w:pgSz", "w:pgMar",
      "w:paperSrc", "w:pgBorders", "w:lnNumType", "w:pgNumType", "w:cols", "w:formProt", "w:vAlign",
      "w:noEndnote", "w:titlePg", "w:textDirection", "w:bidi", "w:rtlGutter", "w:docGrid", "w:printerSettings",
      "w:sectPrChange"}},
    {"w:tblPr",
     {"w:tblStyle", "w:tblpPr", "w:tblOverlap", "w:bidiVisual", "w:tblStyleRowBandSize", "w:tblStyleColBandSize",
      "w:tblW", "w:jc", "w:tblCellSpacing", "w:tblInd", "w:tblBorders", "w:shd", "w:tblLayout", "w:tblCellMar",
      "w:tblLook", "w:tblCaption", "w:tblDescription", "w:tblPrChange"}},
    {"w:tblBorders", {"w:top", "w:left", "w:start", "w:bottom", "w:right", "w:end", "w:insideH", "w:insideV"}},
    {"w:tcPr",
     {"w:cnfStyle", "w:tcW", "w:gridSpan", "w:hMerge", "w:vMerge", "w:tcBorders", "w:shd", "w:noWrap", "w:tcMar",
      "w:textDirection", "w:tcFitText", "w:vAlign", "w:hideMark", "w:headers", "w:cellIns", "w:cellDel",
      "w:cellMerge", "w:tcPrChange"}},
    {"w:tcBorders",
     {"w:top", "w:left", "w:start", "w:bottom", "w:right", "w:end", "w:insideH", "w:insideV", "w:tl2br",
      "w:tr2bl"}},
    {"w:tbl", {"w:bookmarkStart", "w:bookmarkEnd", "w:tblPr", "w:tblGrid", "w:tr"}},
    {"w:tblGrid", {"w:gridCol", "w:tblGridChange"}},
    {"w:tr", {"w:tblPrEx", "w:trPr", "w:tc", "w:bookmarkStart", "w:bookmarkEnd", "w:sdt"}},
    {"w:style",
     {"w:name", "w:aliases", "w:basedOn", "w:next", "w:link", "w:autoRedefine", "w:hidden", "w:uiPriority",
      "w:semiHidden", "w:unhideWhenUsed", "w:qFormat", "w:locked", "w:personal", "w:personalCompose",
      "w:personalReply", "w:rsid", "w:pPr", "w:rPr", "w:tblPr", "w:trPr", "w:tcPr", "w:tblStylePr"}},
    {"w:styles", {"w:docDefaults", "w:latentStyles", "w:style"}},
    {"w:docDefaults", {"w:rPrDefault", "w:pPrDefault"}},
    {"w:settings",
     {"w:writeProtection", "w:view", "w:zoom", "w:removePersonalInformation", "w:removeDateAndTime",
      "w:doNotDisplayPageBoundaries", "w:displayBackgroundShape", "w:printPostScriptOverText",
      "w:printFractionalCharacterWidth", "w:printFormsData", "w:embedTrueTypeFonts", "w:embedSystemFonts",
      "w:saveSubsetFonts", "w:saveFormsData", "w:mirrorMargins", "w:alignBordersAndEdges",
      "w:bordersDoNotSurroundHeader", "w:bordersDoNotSurroundFooter", "w:gutterAtTop", "w:hideSpellingErrors",
      "w:hideGrammaticalErrors", "w:activeWritingStyle", "w:proofState", "w:formsDesign", "w:attachedTemplate",
      "w:linkStyles", "w:stylePaneFormatFilter", "w:stylePaneSortMethod", "w:documentType", "w:mailMerge",
      "w:revisionView", "w:trackRevisions", "w:doNotTrackMoves", "w:doNotTrackFormatting",
      "w:documentProtection", "w:autoFormatOverride", "w:styleLockTheme", "w:styleLockQFSet",
      "w:defaultTabStop", "w:autoHyphenation", "w:consecutiveHyphenLimit", "w:hyphenationZone",
      "w:doNotHyphenateCaps", "w:showEnvelope", "w:summaryLength", "w:clickAndTypeStyle",
      "w:defaultTableStyle", "w:evenAndOddHeaders", "w:bookFoldRevPrinting", "w:bookFoldPrinting",
      "w:bookFoldPrintingSheets", "w:drawingGridHorizontalSpacing", "w:drawingGridVerticalSpacing",
      "w:displayHorizontalDrawingGridEvery", "w:displayVerticalDrawingGridEvery",
      "w:doNotUseMarginsForDrawingGridOrigin", "w:drawingGridHorizontalOrigin", "w:drawingGridVerticalOrigin",
      "w:doNotShadeFormData", "w:noPunctuationKerning", "w:characterSpacingControl", "w:printTwoOnOne",
      "w:strictFirstAndLastChars", "w:noLineBreaksAfter", "w:noLineBreaksBefore", "w:savePreviewPicture",
      "w:doNotValidateAgainstSchema", "w:saveInvalidXml", "w:ignoreMixedContent", "w:alwaysShowPlaceholderText",
      "w:doNotDemarcateInvalidXml", "w:saveXmlDataOnly", "w:useXSLTWhenSaving", "w:saveThroughXslt",
      "w:showXMLTags", "w:alwaysMergeEmptyNamespace", "w:updateFields", "w:hdrShapeDefaults", "w:footnotePr",
      "w:endnotePr", "w:compat", "w:docVars", "w:rsids", "m:mathPr", "w:attachedSchema", "w:themeFontLang",
      "w:clrSchemeMapping", "w:doNotIncludeSubdocsInStats", "w:doNotAutoCompressPictures", "w:forceUpgrade",
      "w:captions", "w:readModeInkLockDown", "w:smartTagType", "sl:schemaLibrary", "o:shapedefaults",
      "w:doNotEmbedSmartTags", "w:decimalSymbol", "w:listSeparator"}},
};
const QSet<QString> kDocxRepeatable = {"w:headerReference", "w:footerReference", "w:gridCol", "w:tr", "w:tc",
                                       "w:t", "w:tab", "w:br", "w:cr", "w:fldChar", "w:instrText", "w:style",
                                       "w:activeWritingStyle", "w:smartTagType", "w:bookmarkStart",
                                       "w:bookmarkEnd", "w:noBreakHyphen", "w:softHyphen", "w:sym",
                                       "w:lastRenderedPageBreak", "w:drawing", "w:pict", "w:delText", "w:ptab"};

// Structure rules beyond the order of property elements.
void checkBodyContent(const QDomElement &container, Checker &ck) {
    for (const QDomElement &p : all(container, "w:p")) {
        const QList<QDomElement> c = kids(p);
        for (int i = 1; i < c.size(); ++i)
            if (c[i].tagName() == QLatin1String("w:pPr")) ck.fail(p, QStringLiteral("pPr is not the first child"));
    }
    for (const QDomElement &r : all(container, "w:r")) {
        const QList<QDomElement> c = kids(r);
        for (int i = 1; i < c.size(); ++i)
            if (c[i].tagName() == QLatin1String("w:rPr")) ck.fail(r, QStringLiteral("rPr is not the first child"));
    }
    for (const QDomElement &tc : all(container, "w:tc")) {
        const QList<QDomElement> c = kids(tc);
        if (c.isEmpty() || c.last().tagName() != QLatin1String("w:p"))
            ck.fail(tc, QStringLiteral("a cell must end with a paragraph"));
        for (int i = 1; i < c.size(); ++i)
            if (c[i].tagName() == QLatin1String("w:tcPr")) ck.fail(tc, QStringLiteral("tcPr is not the first child"));
    }
    for (const QDomElement &tbl : all(container, "w:tbl")) {
        const int gridCols = int(kids(tbl.firstChildElement("w:tblGrid"), "w:gridCol").size());
        if (tbl.firstChildElement("w:tblPr").isNull() || gridCols == 0 || kids(tbl, "w:tr").isEmpty())
            ck.fail(tbl, QStringLiteral("table without properties, grid or rows"));
        for (const QDomElement &tr : kids(tbl, "w:tr")) {
            const QList<QDomElement> cells = kids(tr, "w:tc");
            if (cells.isEmpty()) ck.fail(tr, QStringLiteral("row without cells"));
            int span = 0;
            for (const QDomElement &tc : cells)
                span += qMax(1, tc.firstChildElement("w:tcPr").firstChildElement("w:gridSpan").attribute("w:val", "1").toInt());
            const QDomElement trPr = tr.firstChildElement("w:trPr");
            span += trPr.firstChildElement("w:gridBefore").attribute("w:val", "0").toInt();
            span += trPr.firstChildElement("w:gridAfter").attribute("w:val", "0").toInt();
            if (span != gridCols) ck.fail(tr, QStringLiteral("cells span %1 of %2 grid columns").arg(span).arg(gridCols));
        }
    }
}

QStringList checkDocumentFile(const QString &path) {
    const Package pkg = Package::read(path);
    Checker ck;
    checkPackage(pkg, ck);
    for (const QString &name : pkg.names()) {
        if (!name.startsWith(QLatin1String("word/")) || !name.endsWith(QLatin1String(".xml"))) continue;
        ck.part = name;
        const QDomElement root = parse(pkg, name).documentElement();
        ck.checkOrder(root, kDocxOrders, kDocxRepeatable);
        if (root.tagName() == QLatin1String("w:document")) {
            const QDomElement body = root.firstChildElement("w:body");
            const QList<QDomElement> blocks = kids(body);
            if (blocks.isEmpty() || blocks.last().tagName() != QLatin1String("w:sectPr"))
                ck.fail(body, QStringLiteral("the body must end with sectPr"));
            if (kids(body, "w:sectPr").size() != 1) ck.fail(body, QStringLiteral("more than one final sectPr"));
            checkBodyContent(body, ck);
            // Header references point at header parts of this package.
            for (const QDomElement &ref : all(body, "w:headerReference"))
                if (ref.attribute("r:id").isEmpty()) ck.fail(ref, QStringLiteral("no relationship"));
        } else if (root.tagName() == QLatin1String("w:hdr") || root.tagName() == QLatin1String("w:ftr")) {
            if (kids(root, "w:p").isEmpty() && kids(root, "w:tbl").isEmpty())
                ck.fail(root, QStringLiteral("an empty header"));
            checkBodyContent(root, ck);
        }
    }
    // Every header reference names a relationship of the document.
    const QDomDocument rels = parse(pkg, QStringLiteral("word/_rels/document.xml.rels"));
    QSet<QString> ids;
    for (const QDomElement &r : kids(rels.documentElement(), "Relationship")) ids.insert(r.attribute("Id"));
    const QDomDocument doc = parse(pkg, QStringLiteral("word/document.xml"));
    for (const QDomElement &ref : all(doc.documentElement(), "w:headerReference"))
        if (!ids.contains(ref.attribute("r:id")))
            ck.errors.append(QStringLiteral("header reference to a missing relationship ") + ref.attribute("r:id"));
    return ck.errors;
}

QString joined(const QStringList &errors) { return errors.join(QLatin1Char('\n')); }

#define EXPECT_CLEAN(check)                                                                                    \
    do {                                                                                                       \
        const QStringList errors_ = (check);                                                                   \
        EXPECT_TRUE(errors_.isEmpty()) << joined(errors_).toStdString();                                       \
    } while (false)

// A template as another writer makes one: merged cells, formatted empty cells.
const char *kTemplate =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body>
<w:p><w:pPr><w:jc w:val="center"/><w:rPr><w:b/></w:rPr></w:pPr><w:r><w:rPr><w:b/></w:rPr><w:t>Форма 12</w:t></w:r></w:p>
<w:tbl><w:tblPr><w:tblW w:w="0" w:type="auto"/></w:tblPr><w:tblGrid><w:gridCol w:w="2000"/><w:gridCol w:w="2000"/><w:gridCol w:w="2000"/></w:tblGrid>
<w:tr><w:tc><w:tcPr><w:gridSpan w:val="2"/></w:tcPr><w:p><w:r><w:t>Показатель</w:t></w:r></w:p></w:tc><w:tc><w:p/></w:tc></w:tr>
<w:tr><w:tc><w:tcPr><w:vMerge w:val="restart"/></w:tcPr><w:p><w:r><w:t>Строки</w:t></w:r></w:p></w:tc><w:tc><w:p><w:pPr><w:jc w:val="right"/><w:rPr><w:b/><w:sz w:val="18"/></w:rPr></w:pPr></w:p></w:tc><w:tc><w:p/></w:tc></w:tr>
<w:tr><w:tc><w:tcPr><w:vMerge/></w:tcPr><w:p/></w:tc><w:tc><w:p/></w:tc><w:tc><w:p/></w:tc></w:tr>
</w:tbl><w:p/>
<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1134" w:right="850" w:bottom="1134" w:left="1701" w:header="708" w:footer="708" w:gutter="0"/></w:sectPr></w:body></w:document>)";

QString writeTemplate(const QString &path) { return writeDocxTemplate(path, kTemplate); }

} // namespace

// The checker itself must see the faults it is there for.
TEST(OfficeStructure, CheckerFindsMisplacedAndRepeatedElements) {
    QDomDocument d;
    ASSERT_TRUE(bool(d.setContent(QByteArray(
        "<worksheet><sheetData/><dimension ref=\"A1\"/><cols/><cols/><bogus/></worksheet>"))));
    Checker ck;
    ck.checkOrder(d.documentElement(), kXlsxOrders, kXlsxRepeatable);
    // dimension and both cols out of order, cols twice, an unknown element
    EXPECT_EQ(ck.errors.size(), 5) << joined(ck.errors).toStdString();

    QDomDocument w;
    ASSERT_TRUE(bool(w.setContent(QByteArray("<w:p xmlns:w=\"x\"><w:pPr><w:rPr><w:sz/><w:b/></w:rPr><w:jc/></w:pPr></w:p>"),
                                  false)));
    Checker ck2;
    ck2.checkOrder(w.documentElement(), kDocxOrders, kDocxRepeatable);
    EXPECT_EQ(ck2.errors.size(), 2) << joined(ck2.errors).toStdString();   // b after sz; jc after rPr
}

TEST(OfficeStructure, WorkbooksFollowTheSpreadsheetSchema) {
    QTemporaryDir dir;
    ExcelWorkbook book = ExcelWorkbook::create();
    ExcelSheet &first = book.activeSheet();
    first.setName(QStringLiteral("Ф12 (1000)"));
    first.cell(1, 1).setValue(QStringLiteral("Заголовок")).setBold(true).setFontSize(14);
    first.range(2, 1, 3, 4).merge().setHorizontalAlignment(HAlign::Center).setVerticalAlignment(VAlign::Center)
        .setWrapText(true).setAllBorders();
    first.cell(2, 1).setValue(QStringLiteral("  с пробелами\nи переводом строки"));
    first.cell(4, 2).setValue(12.5).setNumberFormat(QStringLiteral("0.00"));
    first.cell(4, 3).setValue(7).setNumberFormat(QStringLiteral("# ##0\" чел.\""));
    first.cell(4, 4).setValue(QStringLiteral("001")).setNumberFormat(QStringLiteral("@"));
    first.cell(5, 1).setValue(QStringLiteral("Повёрнуто")).setOrientation(90);
    first.cell(5, 2).setValue(QStringLiteral("Вниз")).setOrientation(-90);
    first.cell(5, 3).setValue(QStringLiteral("Отступ")).setIndentLevel(2).setItalic(true);
    first.cell(6, 6).setBorder(BorderIndex::EdgeBottom, LineStyle::Double);
    first.setColumnWidth(1, 30);
    first.setColumnWidth(3, 255);
    first.setRowHeight(5, 80);
    first.setRowHeight(9, 20);      // a row with a height and no cells
    first.freezePanes(5, 2);

    ExcelSheet &second = book.addSheetAfter(first);
    second.cell(1, 1).setValue(QStringLiteral("Заголовок"));   // a string shared with the first sheet
    second.freezePanes(3, 1);
    ExcelSheet &third = book.addSheetBefore(first);
    third.freezePanes(1, 4);
    book.activate(second);
    const QString path = dir.filePath("rich.xlsx");
    book.saveAs(path);
    EXPECT_CLEAN(checkWorkbookFile(path));

    // An empty workbook and one reopened and saved again.
    ExcelWorkbook empty = ExcelWorkbook::create();
    empty.saveAs(dir.filePath("empty.xlsx"));
    EXPECT_CLEAN(checkWorkbookFile(dir.filePath("empty.xlsx")));
    ExcelWorkbook again = ExcelWorkbook::open(path);
    again.sheet(1).cell(10, 10).setValue(QStringLiteral("ещё"));
    again.saveAs(dir.filePath("again.xlsx"));
    EXPECT_CLEAN(checkWorkbookFile(dir.filePath("again.xlsx")));
}

TEST(OfficeStructure, DocumentsFollowTheWordProcessingSchema) {
    QTemporaryDir dir;
    // A template filled, with sections, headers, page numbers, added and
    // converted tables, formatted paragraphs and protection.
    WordDocument doc = WordDocument::fromTemplate(writeTemplate(dir.filePath("form.dotx")));
    WordTable t = doc.table(1);
    t.setCellText(2, 2, QStringLiteral("12.50"));
    t.setCellText(3, 2, QStringLiteral("3"));
    t.addRow();
    t.setRowBold(1, true);
    doc.formatParagraph(0, ParagraphFormat{true, true, ParaAlign::Right, 9});
    WordSection added = doc.addSectionNewPage();
    for (int i = 1; i <= doc.sectionCount(); ++i) {
        WordSection s = doc.section(i);
        s.setHeaderText(HeaderKind::Primary, QStringLiteral("Ф12 ЦРБ 2024"));
        s.setHeaderAlignment(HeaderKind::Primary, ParaAlign::Left);
        s.setHeaderFontSize(HeaderKind::Primary, 10);
        s.addPageNumbers(HeaderKind::Primary, ParaAlign::Right, true);
        s.setHeaderText(HeaderKind::FirstPage, QStringLiteral("первая"));
        s.setHeaderText(HeaderKind::EvenPages, QStringLiteral("чётная"));
        s.setHeaderDistance(15);
    }
    added.setOrientation(Orientation::Landscape);
    added.setNormalStyle();
    added.insertBefore(QStringLiteral("Протокол печати\r"));
    added.insertAfter(QStringLiteral("Внимание!\r"));
    doc.addParagraph(QStringLiteral("Итого\tвсего"), ParagraphFormat{true, false, ParaAlign::Center, 12});
    WordTable p = doc.addTable(2, 3);
    p.setCellText(1, 1, QStringLiteral("Форма в целом"));
    p.autoFormat(true);
    doc.insertTableBefore(0, 1, 2);
    doc.addParagraph(QStringLiteral("a\tb\tc"));
    doc.addParagraph(QStringLiteral("1\t2"));
    doc.textToTable(int(doc.paragraphs().size()) - 2, int(doc.paragraphs().size()) - 1).autoFormat();
    doc.protectReadOnly(QStringLiteral("Kwertyuiopa"));
    const QString path = dir.filePath("filled.docx");
    doc.saveAs(path);
    EXPECT_CLEAN(checkDocumentFile(path));

    // Opened and saved again, a blank document, and the list window's print.
    WordDocument::open(path).saveAs(dir.filePath("again.docx"));
    EXPECT_CLEAN(checkDocumentFile(dir.filePath("again.docx")));
    WordDocument::createBlank().saveAs(dir.filePath("blank.docx"));
    EXPECT_CLEAN(checkDocumentFile(dir.filePath("blank.docx")));
}

TEST(OfficeStructure, ListWindowPrintsFollowTheSchemas) {
    QTemporaryDir dir;
    ListContents c;
    c.caption = QStringLiteral("2024 - Основная - Годовой");
    c.heading = QStringLiteral("Ошибки - Ф12 - (1000)");
    c.columns = QStringList{QStringLiteral("Правило"), QStringLiteral("Цикл")};
    c.rows = {{QStringLiteral("Ф12Т(1000)СТР1ГР3 = 1.00 > 0.00"), QStringLiteral("12.5")},
              {QStringLiteral("без цикла")}};   // a short row
    BuildListDocument(c).saveAs(dir.filePath("list.docx"));
    BuildListWorkbook(c).saveAs(dir.filePath("list.xlsx"));
    EXPECT_CLEAN(checkDocumentFile(dir.filePath("list.docx")));
    EXPECT_CLEAN(checkWorkbookFile(dir.filePath("list.xlsx")));

    // Without columns and rows the printed table has one empty header cell.
    ListContents bare;
    bare.caption = QStringLiteral("Список");
    BuildListDocument(bare).saveAs(dir.filePath("bare.docx"));
    EXPECT_CLEAN(checkDocumentFile(dir.filePath("bare.docx")));
}
