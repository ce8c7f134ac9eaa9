#include "platform/office/WordDocument.h"

#include "platform/office/Convert.h"
#include "platform/office/Package.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtEndian>
#include <QSet>
#include <algorithm>
#include <cstring>

namespace office {

// The document is kept as the XML of its parts; elements are handled by
// their qualified names ("w:p"), the prefixes Word and other writers use.
namespace {

const QString kNsW = QStringLiteral("http://schemas.openxmlformats.org/wordprocessingml/2006/main");
const QString kNsR = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kNsPkgRel = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
const QString kRelHeader = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/header");
const QString kRelSettings =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/settings");
const QString kRelStyles = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles");
const QString kCtDocument =
    QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml");
const QString kCtHeader = QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.header+xml");
const QString kCtSettings =
    QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml");

// Schema order of the children of the property elements we change; Word
// refuses files whose property elements are out of order.
const QStringList kPPrOrder = {
    "w:pStyle", "w:keepNext", "w:keepLines", "w:pageBreakBefore", "w:framePr", "w:widowControl", "w:numPr",
    "w:suppressLineNumbers", "w:pBdr", "w:shd", "w:tabs", "w:suppressAutoHyphens", "w:kinsoku", "w:wordWrap",
    "w:overflowPunct", "w:topLinePunct", "w:autoSpaceDE", "w:autoSpaceDN", "w:bidi", "w:adjustRightInd",
    "w:snapToGrid", "w:spacing", "w:ind", "w:contextualSpacing", "w:mirrorIndents", "w:suppressOverlap", "w:jc",
    "w:textDirection", "w:textAlignment", "w:textboxTightWrap", "w:outlineLvl", "w:divId", "w:cnfStyle", "w:rPr",
    "w:sectPr", "w:pPrChange"};
const QStringList kRPrOrder = {
    "w:rStyle", "w:rFonts", "w:b", "w:bCs", "w:i", "w:iCs", "w:caps", "w:smallCaps", "w:strike", "w:dstrike",
    "w:outline", "w:shadow", "w:emboss", "w:imprint", "w:noProof", "w:snapToGrid", "w:vanish", "w:webHidden",
    "w:color", "w:spacing", "w:w", "w:kern", "w:position", "w:sz", "w:szCs", "w:highlight", "w:u", "w:effect",
    "w:bdr", "w:shd", "w:fitText", "w:vertAlign", "w:rtl", "w:cs", "w:em", "w:lang", "w:eastAsianLayout",
    "w:specVanish", "w:oMath"};
const QStringList kSectPrOrder = {
    "w:headerReference", "w:footerReference", "w:footnotePr", "w:endnotePr", "w:type", "w:pgSz", "w:pgMar",
    "w:paperSrc", "w:pgBorders", "w:lnNumType", "w:pgNumType", "w:cols", "w:formProt", "w:vAlign",
    "w:noEndnote", "w:titlePg", "w:textDirection", "w:bidi", "w:rtlGutter", "w:docGrid", "w:printerSettings",
    "w:sectPrChange"};
const QStringList kTblPrOrder = {
    "w:tblStyle", "w:tblpPr", "w:tblOverlap", "w:bidiVisual", "w:tblStyleRowBandSize", "w:tblStyleColBandSize",
    "w:tblW", "w:jc", "w:tblCellSpacing", "w:tblInd", "w:tblBorders", "w:shd", "w:tblLayout", "w:tblCellMar",
    "w:tblLook", "w:tblCaption", "w:tblDescription", "w:tblPrChange"};
const QStringList kTrPrOrder = {
    "w:cnfStyle", "w:divId", "w:gridBefore", "w:gridAfter", "w:wBefore", "w:wAfter", "w:cantSplit",
    "w:trHeight", "w:tblHeader", "w:tblCellSpacing", "w:jc", "w:hidden", "w:ins", "w:del", "w:trPrChange"};
const QStringList kTcPrOrder = {
    "w:cnfStyle", "w:tcW", "w:gridSpan", "w:hMerge", "w:vMerge", "w:tcBorders", "w:shd", "w:noWrap",
    "w:tcMar", "w:textDirection", "w:tcFitText", "w:vAlign", "w:hideMark", "w:headers", "w:cellIns",
    "w:cellDel", "w:cellMerge", "w:tcPrChange"};
const QStringList kSettingsOrder = {
    "w:writeProtection", "w:view", "w:zoom", "w:removePersonalInformation", "w:removeDateAndTime",
    "w:doNotDisplayPageBoundaries", "w:displayBackgroundShape", "w:printPostScriptOverText",
    "w:printFractionalCharacterWidth", "w:printFormsData", "w:embedTrueTypeFonts", "w:embedSystemFonts",
    "w:saveSubsetFonts", "w:saveFormsData", "w:mirrorMargins", "w:alignBordersAndEdges",
    "w:bordersDoNotSurroundHeader", "w:bordersDoNotSurroundFooter", "w:gutterAtTop", "w:hideSpellingErrors",
    "w:hideGrammaticalErrors", "w:activeWritingStyle", "w:proofState", "w:formsDesign", "w:attachedTemplate",
    "w:linkStyles", "w:stylePaneFormatFilter", "w:stylePaneSortMethod", "w:documentType", "w:mailMerge",
    "w:revisionView", "w:trackRevisions", "w:doNotTrackMoves", "w:doNotTrackFormatting",
    "w:documentProtection", "w:autoFormatOverride", "w:styleLockTheme", "w:styleLockQFSet",
    "w:defaultTabStop"};

// Inserts node into parent at its place in the schema order; names the
// order does not know are treated as coming after all known ones.
void insertOrdered(QDomElement parent, const QDomElement &node, const QStringList &order) {
    const int idx = order.indexOf(node.tagName());
    for (QDomElement c = parent.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        int ci = order.indexOf(c.tagName());
        if (ci < 0) ci = int(order.size());
        if (ci > idx) {
            parent.insertBefore(node, c);
            return;
        }
    }
    parent.appendChild(node);
}

QDomElement ensureChild(QDomElement parent, const QString &name, const QStringList &order) {
    QDomElement e = parent.firstChildElement(name);
    if (!e.isNull()) return e;
    e = parent.ownerDocument().createElement(name);
    insertOrdered(parent, e, order);
    return e;
}

QDomElement ensureFirstChild(QDomElement parent, const QString &name) {
    QDomElement e = parent.firstChildElement(name);
    if (!e.isNull()) return e;
    e = parent.ownerDocument().createElement(name);
    parent.insertBefore(e, parent.firstChild());
    return e;
}

void removeChildren(QDomElement parent, const QString &name) {
    QDomElement c = parent.firstChildElement(name);
    while (!c.isNull()) {
        QDomElement next = c.nextSiblingElement(name);
        parent.removeChild(c);
        c = next;
    }
}

int intAttr(const QDomElement &e, const QString &name, int fallback) {
    if (e.isNull() || !e.hasAttribute(name)) return fallback;
    bool ok = false;
    const int v = e.attribute(name).toInt(&ok);
    return ok ? v : fallback;
}

QStringList splitParagraphs(const QString &text) {
    static const QRegularExpression re(QStringLiteral("\\r\\n|\\n\\r|\\r|\\n"));
    return text.split(re);
}

// --- text of runs and paragraphs ---------------------------------------

void collectText(const QDomElement &e, QString &out) {
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        const QString n = c.tagName();
        if (n == QLatin1String("w:pPr") || n == QLatin1String("w:rPr")) continue;
        if (n == QLatin1String("w:t")) out += c.text();
        else if (n == QLatin1String("w:tab") && e.tagName() == QLatin1String("w:r")) out += u'\t';
        else if (n == QLatin1String("w:br") || n == QLatin1String("w:cr")) out += QChar(11);
        else if (n == QLatin1String("w:noBreakHyphen")) out += u'-';
        else if (n == QLatin1String("w:tbl") || n == QLatin1String("w:drawing") || n == QLatin1String("w:pict") ||
                 n == QLatin1String("w:object") || n == QLatin1String("mc:AlternateContent"))
            continue;   // nested tables and text boxes are not part of the paragraph's text
        else collectText(c, out);
    }
}

QString paraText(const QDomElement &p) {
    QString s;
    collectText(p, s);
    return s;
}

bool hasObjects(const QDomElement &p) {
    for (const char *tag : {"w:drawing", "w:pict", "w:object", "w:fldChar", "w:fldSimple"})
        if (!p.elementsByTagName(QLatin1String(tag)).isEmpty()) return true;
    return false;
}

// Children holding content, looking through content controls and custom XML.
QList<QDomElement> contentChildren(const QDomElement &parent, const QString &want1, const QString &want2 = {}) {
    QList<QDomElement> out;
    for (QDomElement c = parent.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        const QString n = c.tagName();
        if (n == want1 || (!want2.isEmpty() && n == want2)) out.append(c);
        else if (n == QLatin1String("w:sdt")) out += contentChildren(c.firstChildElement("w:sdtContent"), want1, want2);
        else if (n == QLatin1String("w:customXml")) out += contentChildren(c, want1, want2);
    }
    return out;
}

// --- creating content ----------------------------------------------------

QDomElement cleanRPr(const QDomElement &rPr) {
    if (rPr.isNull()) return {};
    QDomElement c = rPr.cloneNode(true).toElement();
    for (const char *tag : {"w:ins", "w:del", "w:rPrChange", "w:moveFrom", "w:moveTo"})
        removeChildren(c, QLatin1String(tag));
    return c;
}

QDomElement cleanPPr(const QDomElement &pPr) {
    if (pPr.isNull()) return {};
    QDomElement c = pPr.cloneNode(true).toElement();
    removeChildren(c, "w:sectPr");
    removeChildren(c, "w:pPrChange");
    QDomElement r = c.firstChildElement("w:rPr");
    if (!r.isNull()) {
        for (const char *tag : {"w:ins", "w:del", "w:rPrChange", "w:moveFrom", "w:moveTo"})
            removeChildren(r, QLatin1String(tag));
    }
    return c;
}

// Character formatting a new run of the paragraph takes: the first (or
// last) run's, else the paragraph mark's.
QDomElement runFormatOf(const QDomElement &p, bool last) {
    const QDomNodeList runs = p.elementsByTagName("w:r");
    if (!runs.isEmpty()) {
        const QDomElement r = runs.at(last ? runs.size() - 1 : 0).toElement();
        const QDomElement rPr = r.firstChildElement("w:rPr");
        if (!rPr.isNull()) return cleanRPr(rPr);
    }
    return cleanRPr(p.firstChildElement("w:pPr").firstChildElement("w:rPr"));
}

QDomElement makeRun(QDomDocument &doc, const QString &text, const QDomElement &rPr) {
    QDomElement r = doc.createElement("w:r");
    if (!rPr.isNull()) r.appendChild(rPr.cloneNode(true));
    QString chunk;
    auto flush = [&] {
        if (chunk.isEmpty()) return;
        QDomElement t = doc.createElement("w:t");
        t.setAttribute("xml:space", "preserve");
        t.appendChild(doc.createTextNode(chunk));
        r.appendChild(t);
        chunk.clear();
    };
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\t') {
            flush();
            r.appendChild(doc.createElement("w:tab"));
        } else if (u == u'\n' || u == u'\r' || u == 11) {
            flush();
            r.appendChild(doc.createElement("w:br"));
        } else if (u >= 0x20 && u != 0xFFFE && u != 0xFFFF) {
            chunk += c;
        }
    }
    flush();
    return r;
}

QDomElement makeParagraph(QDomDocument &doc, const QString &text, const QDomElement &pPr, const QDomElement &rPr) {
    QDomElement p = doc.createElement("w:p");
    if (!pPr.isNull()) p.appendChild(pPr.cloneNode(true));
    if (!text.isEmpty()) p.appendChild(makeRun(doc, text, rPr));
    return p;
}

void prependText(QDomDocument &doc, QDomElement p, const QString &text) {
    if (text.isEmpty()) return;
    const QDomElement r = makeRun(doc, text, runFormatOf(p, false));
    const QDomElement pPr = p.firstChildElement("w:pPr");
    if (pPr.isNull()) p.insertBefore(r, p.firstChild());
    else p.insertAfter(r, pPr);
}

void appendText(QDomDocument &doc, QDomElement p, const QString &text) {
    if (text.isEmpty()) return;
    p.appendChild(makeRun(doc, text, runFormatOf(p, true)));
}

void setBold(QDomElement rPr, bool on) {
    removeChildren(rPr, "w:b");
    removeChildren(rPr, "w:bCs");
    if (on) {
        insertOrdered(rPr, rPr.ownerDocument().createElement("w:b"), kRPrOrder);
        insertOrdered(rPr, rPr.ownerDocument().createElement("w:bCs"), kRPrOrder);
    }
}

QString jcValue(ParaAlign a) {
    switch (a) {
    case ParaAlign::Center: return QStringLiteral("center");
    case ParaAlign::Right: return QStringLiteral("right");
    case ParaAlign::Justify: return QStringLiteral("both");
    case ParaAlign::Left: break;
    }
    return QStringLiteral("left");
}

// --- password hashing of document protection -------------------------------

const quint16 kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                  0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
const quint16 kEncryptionMatrix[15][7] = {
    {0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09}, {0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF},
    {0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0}, {0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40},
    {0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5}, {0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A},
    {0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9}, {0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0},
    {0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC}, {0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10},
    {0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168}, {0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C},
    {0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD}, {0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC},
    {0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4}};

// The word processor first reduces the password to its old 32-bit key and
// hashes the key's hexadecimal text (bytes in reverse order).
QString legacyKeyText(const QString &password) {
    QByteArray bytes;
    for (QChar c : password.left(15)) {
        const quint16 u = c.unicode();
        bytes.append(char((u & 0xFF) ? (u & 0xFF) : (u >> 8)));
    }
    if (bytes.isEmpty()) return {};
    const int len = int(bytes.size());
    quint16 high = kInitialCode[len - 1];
    for (int i = 0; i < len; ++i) {
        const int row = 15 - len + i;
        for (int bit = 0; bit < 7; ++bit)
            if (uchar(bytes[i]) & (1 << bit)) high ^= kEncryptionMatrix[row][bit];
    }
    auto rot = [](quint16 v) { return quint16(((v >> 14) & 1) | ((v << 1) & 0x7FFF)); };
    quint16 low = 0;
    for (int i = len - 1; i >= 0; --i) low = quint16(rot(low) ^ uchar(bytes[i]));
    low = quint16(rot(low) ^ quint16(len) ^ 0xCE4B);
    const quint32 key = (quint32(high) << 16) | low;
    return QStringLiteral("%1%2%3%4")
        .arg(key & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((key >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((key >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
        .arg((key >> 24) & 0xFF, 2, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace

QString protectionKeyText(const QString &password) { return legacyKeyText(password); }

namespace {

QByteArray protectionHash(const QString &password, const QByteArray &salt, int spinCount,
                          QCryptographicHash::Algorithm alg) {
    const QString key = legacyKeyText(password);
    QByteArray data = salt;
    for (QChar c : key) {
        data.append(char(c.unicode() & 0xFF));
        data.append(char(c.unicode() >> 8));
    }
    QByteArray h = QCryptographicHash::hash(data, alg);
    for (int i = 0; i < spinCount; ++i) {
        char it[4];
        qToLittleEndian<quint32>(quint32(i), it);
        h = QCryptographicHash::hash(h + QByteArray(it, 4), alg);
    }
    return h;
}

QCryptographicHash::Algorithm algorithmBySid(int sid) {
    switch (sid) {
    case 4: return QCryptographicHash::Sha1;
    case 12: return QCryptographicHash::Sha256;
    case 13: return QCryptographicHash::Sha384;
    default: return QCryptographicHash::Sha512;
    }
}

QCryptographicHash::Algorithm algorithmByName(const QString &name) {
    const QString n = name.toUpper();
    if (n == QLatin1String("SHA-1")) return QCryptographicHash::Sha1;
    if (n == QLatin1String("SHA-256")) return QCryptographicHash::Sha256;
    if (n == QLatin1String("SHA-384")) return QCryptographicHash::Sha384;
    return QCryptographicHash::Sha512;
}

// --- the blank document ------------------------------------------------------

const char *kBlankContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"><Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/><Default Extension="xml" ContentType="application/xml"/><Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/><Override PartName="/word/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.styles+xml"/><Override PartName="/word/settings.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.settings+xml"/></Types>)";

const char *kBlankRootRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/></Relationships>)";

const char *kBlankDocRels =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/><Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/settings" Target="settings.xml"/></Relationships>)";

const char *kBlankDocument =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><w:body><w:p/><w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1134" w:right="850" w:bottom="1134" w:left="1701" w:header="708" w:footer="708" w:gutter="0"/><w:cols w:space="708"/><w:docGrid w:linePitch="360"/></w:sectPr></w:body></w:document>)";

const char *kBlankStyles =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:styles xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii="Times New Roman" w:hAnsi="Times New Roman" w:eastAsia="Times New Roman" w:cs="Times New Roman"/><w:sz w:val="24"/><w:szCs w:val="24"/><w:lang w:val="ru-RU" w:eastAsia="ru-RU" w:bidi="ar-SA"/></w:rPr></w:rPrDefault><w:pPrDefault/></w:docDefaults><w:style w:type="paragraph" w:default="1" w:styleId="Normal"><w:name w:val="Normal"/><w:qFormat/></w:style><w:style w:type="character" w:default="1" w:styleId="DefaultParagraphFont"><w:name w:val="Default Paragraph Font"/><w:uiPriority w:val="1"/><w:semiHidden/><w:unhideWhenUsed/></w:style><w:style w:type="table" w:default="1" w:styleId="TableNormal"><w:name w:val="Normal Table"/><w:uiPriority w:val="99"/><w:semiHidden/><w:unhideWhenUsed/><w:tblPr><w:tblInd w:w="0" w:type="dxa"/><w:tblCellMar><w:top w:w="0" w:type="dxa"/><w:left w:w="108" w:type="dxa"/><w:bottom w:w="0" w:type="dxa"/><w:right w:w="108" w:type="dxa"/></w:tblCellMar></w:tblPr></w:style><w:style w:type="numbering" w:default="1" w:styleId="NoList"><w:name w:val="No List"/><w:uiPriority w:val="99"/><w:semiHidden/><w:unhideWhenUsed/></w:style><w:style w:type="paragraph" w:styleId="Header"><w:name w:val="header"/><w:basedOn w:val="Normal"/><w:pPr><w:tabs><w:tab w:val="center" w:pos="4677"/><w:tab w:val="right" w:pos="9355"/></w:tabs></w:pPr></w:style></w:styles>)";

const char *kBlankSettings =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:settings xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:zoom w:percent="100"/><w:defaultTabStop w:val="708"/><w:characterSpacingControl w:val="doNotCompress"/><w:compat><w:compatSetting w:name="compatibilityMode" w:uri="http://schemas.microsoft.com/office/word" w:val="15"/></w:compat></w:settings>)";

} // namespace

// --- shared data ---------------------------------------------------------------

struct HeaderModel {
    QString text;
    ParaAlign align = ParaAlign::Left;
    double fontSize = 0;
    bool pageNumbers = false;
    ParaAlign pageNumberAlign = ParaAlign::Right;
};

struct WordDocumentData {
    Package pkg;
    QString path;
    QString mainPart;
    QDomDocument doc;
    QDomDocument types;
    QDomDocument rels;
    QString settingsPart;
    QDomDocument settings;
    QHash<QString, HeaderModel> ownHeaders;  // header parts this session writes

    QDomElement body() const { return doc.documentElement().firstChildElement("w:body"); }

    // Top-level paragraphs and tables in order.
    QList<QDomElement> blocks() const { return contentChildren(body(), "w:p", "w:tbl"); }

    QDomElement finalSectPr() {
        QDomElement b = body();
        QDomElement s = b.lastChildElement("w:sectPr");
        if (s.isNull()) {
            s = doc.createElement("w:sectPr");
            b.appendChild(s);
            QDomElement sz = doc.createElement("w:pgSz");
            sz.setAttribute("w:w", "11906");
            sz.setAttribute("w:h", "16838");
            insertOrdered(s, sz, kSectPrOrder);
        }
        return s;
    }

    // Section property elements in order, the final one last.
    QList<QDomElement> sectPrs() {
        QList<QDomElement> out;
        for (const QDomElement &b : blocks()) {
            if (b.tagName() != QLatin1String("w:p")) continue;
            const QDomElement s = b.firstChildElement("w:pPr").firstChildElement("w:sectPr");
            if (!s.isNull()) out.append(s);
        }
        out.append(finalSectPr());
        return out;
    }

    // The blocks of the section ending with sectPr.
    QList<QDomElement> sectionBlocks(const QDomElement &sectPr) {
        QList<QDomElement> current;
        for (const QDomElement &b : blocks()) {
            current.append(b);
            if (b.tagName() != QLatin1String("w:p")) continue;
            const QDomElement s = b.firstChildElement("w:pPr").firstChildElement("w:sectPr");
            if (s.isNull()) continue;
            if (s == sectPr) return current;
            current.clear();
        }
        return current;
    }

    // Makes sure the body has at least one paragraph.
    void ensureParagraph() {
        if (!blocks().isEmpty()) return;
        body().insertBefore(doc.createElement("w:p"), finalSectPr());
    }

    QString newRelId() {
        QSet<QString> used;
        for (QDomElement r = rels.documentElement().firstChildElement(); !r.isNull(); r = r.nextSiblingElement())
            used.insert(r.attribute("Id"));
        for (int i = int(used.size()) + 1;; ++i) {
            const QString id = QStringLiteral("rId") + QString::number(i);
            if (!used.contains(id)) return id;
        }
    }

    QString addRelationship(const QString &type, const QString &target) {
        const QString id = newRelId();
        QDomElement r = rels.createElement("Relationship");
        r.setAttribute("Id", id);
        r.setAttribute("Type", type);
        r.setAttribute("Target", target);
        rels.documentElement().appendChild(r);
        return id;
    }

    QString relTarget(const QString &id) const {
        for (QDomElement r = rels.documentElement().firstChildElement(); !r.isNull(); r = r.nextSiblingElement())
            if (r.attribute("Id") == id) return resolveTarget(mainPart, r.attribute("Target"));
        return {};
    }

    void setOverride(const QString &part, const QString &contentType) {
        const QString name = u'/' + part;
        QDomElement root = types.documentElement();
        for (QDomElement o = root.firstChildElement("Override"); !o.isNull(); o = o.nextSiblingElement("Override"))
            if (o.attribute("PartName").compare(name, Qt::CaseInsensitive) == 0) {
                o.setAttribute("ContentType", contentType);
                return;
            }
        QDomElement o = types.createElement("Override");
        o.setAttribute("PartName", name);
        o.setAttribute("ContentType", contentType);
        root.appendChild(o);
    }

    QDomElement settingsRoot() {
        if (settings.isNull()) {
            settingsPart = resolveTarget(mainPart, QStringLiteral("settings.xml"));
            if (pkg.has(settingsPart)) settingsPart = resolveTarget(mainPart, QStringLiteral("settings2.xml"));
            settings = parseXml(kBlankSettings, settingsPart, false);
            addRelationship(kRelSettings, QFileInfo(settingsPart).fileName());
            setOverride(settingsPart, kCtSettings);
        }
        return settings.documentElement();
    }

    QString newHeaderPart() {
        for (int i = 1;; ++i) {
            const QString name = resolveTarget(mainPart, QStringLiteral("header%1.xml").arg(i));
            if (!pkg.has(name) && !ownHeaders.contains(name)) return name;
        }
    }

    QByteArray headerXml(const HeaderModel &m) const {
        QString x = QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
                                   "\n<w:hdr xmlns:w=\"%1\" xmlns:r=\"%2\">")
                        .arg(kNsW, kNsR);
        const QString sz = m.fontSize > 0 ? QStringLiteral("<w:sz w:val=\"%1\"/><w:szCs w:val=\"%1\"/>")
                                                .arg(qRound(m.fontSize * 2))
                                          : QString();
        const QString rPr = sz.isEmpty() ? QString() : QStringLiteral("<w:rPr>") + sz + QStringLiteral("</w:rPr>");
        const QStringList paras = splitParagraphs(m.text);
        for (const QString &p : paras) {
            x += QStringLiteral("<w:p><w:pPr><w:jc w:val=\"%1\"/>%2</w:pPr>").arg(jcValue(m.align), rPr);
            if (!p.isEmpty())
                x += QStringLiteral("<w:r>%1<w:t xml:space=\"preserve\">%2</w:t></w:r>")
                         .arg(rPr, xmlSafe(p).toHtmlEscaped());
            x += QStringLiteral("</w:p>");
        }
        if (m.pageNumbers) {
            x += QStringLiteral("<w:p><w:pPr><w:jc w:val=\"%1\"/>%2</w:pPr>").arg(jcValue(m.pageNumberAlign), rPr);
            x += QStringLiteral("<w:r>%1<w:fldChar w:fldCharType=\"begin\"/></w:r>"
                                "<w:r>%1<w:instrText xml:space=\"preserve\"> PAGE </w:instrText></w:r>"
                                "<w:r>%1<w:fldChar w:fldCharType=\"separate\"/></w:r>"
                                "<w:r>%1<w:t>1</w:t></w:r><w:r>%1<w:fldChar w:fldCharType=\"end\"/></w:r></w:p>")
                     .arg(rPr);
        }
        x += QStringLiteral("</w:hdr>");
        return x.toUtf8();
    }

    QDomElement defaultTableRow(int cols, int cellWidth) {
        QDomElement tr = doc.createElement("w:tr");
        for (int c = 0; c < cols; ++c) {
            QDomElement tc = doc.createElement("w:tc");
            QDomElement tcPr = doc.createElement("w:tcPr");
            QDomElement w = doc.createElement("w:tcW");
            w.setAttribute("w:w", QString::number(cellWidth));
            w.setAttribute("w:type", "dxa");
            tcPr.appendChild(w);
            tc.appendChild(tcPr);
            tc.appendChild(doc.createElement("w:p"));
            tr.appendChild(tc);
        }
        return tr;
    }

    int textWidth() {
        const QDomElement s = finalSectPr();
        const int w = intAttr(s.firstChildElement("w:pgSz"), "w:w", 11906);
        const QDomElement m = s.firstChildElement("w:pgMar");
        const int width = w - intAttr(m, "w:left", 1701) - intAttr(m, "w:right", 850);
        return width > 1000 ? width : 9355;
    }

    QDomElement newTable(int rows, int cols) {
        if (rows < 1 || cols < 1)
            throw Error(QStringLiteral("Неверный размер таблицы: %1 x %2").arg(rows).arg(cols));
        const int cellWidth = textWidth() / cols;
        QDomElement tbl = doc.createElement("w:tbl");
        QDomElement tblPr = doc.createElement("w:tblPr");
        QDomElement tblW = doc.createElement("w:tblW");
        tblW.setAttribute("w:w", "0");
        tblW.setAttribute("w:type", "auto");
        tblPr.appendChild(tblW);
        tbl.appendChild(tblPr);
        setTableBorders(tblPr);
        QDomElement look = doc.createElement("w:tblLook");
        look.setAttribute("w:val", "04A0");
        insertOrdered(tblPr, look, kTblPrOrder);
        QDomElement grid = doc.createElement("w:tblGrid");
        for (int c = 0; c < cols; ++c) {
            QDomElement g = doc.createElement("w:gridCol");
            g.setAttribute("w:w", QString::number(cellWidth));
            grid.appendChild(g);
        }
        tbl.appendChild(grid);
        for (int r = 0; r < rows; ++r) tbl.appendChild(defaultTableRow(cols, cellWidth));
        return tbl;
    }

    void setTableBorders(QDomElement tblPr) {
        removeChildren(tblPr, "w:tblBorders");
        QDomElement b = doc.createElement("w:tblBorders");
        for (const char *edge : {"w:top", "w:left", "w:bottom", "w:right", "w:insideH", "w:insideV"}) {
            QDomElement e = doc.createElement(QLatin1String(edge));
            e.setAttribute("w:val", "single");
            e.setAttribute("w:sz", "4");
            e.setAttribute("w:space", "0");
            e.setAttribute("w:color", "auto");
            b.appendChild(e);
        }
        insertOrdered(tblPr, b, kTblPrOrder);
    }

    // Places a table at the end: in place of a trailing empty paragraph, or
    // after the last block with a new empty paragraph behind it.
    void placeTableAtEnd(const QDomElement &tbl) {
        ensureParagraph();
        const QList<QDomElement> bl = blocks();
        QDomElement last = bl.last();
        const bool emptyPara = last.tagName() == QLatin1String("w:p") && paraText(last).isEmpty() &&
                               !hasObjects(last) &&
                               last.firstChildElement("w:pPr").firstChildElement("w:sectPr").isNull();
        if (emptyPara) {
            last.parentNode().insertBefore(tbl, last);
        } else {
            last.parentNode().insertAfter(tbl, last);
            tbl.parentNode().insertAfter(doc.createElement("w:p"), tbl);
        }
    }

    // Range.InsertBefore / InsertAfter on a range of blocks.
    void insertBeforeBlock(QDomElement first, const QString &text) {
        const QStringList segs = splitParagraphs(text);
        const bool isPara = first.tagName() == QLatin1String("w:p");
        const QDomElement pPr = isPara ? cleanPPr(first.firstChildElement("w:pPr")) : QDomElement();
        const QDomElement rPr = isPara ? runFormatOf(first, false) : QDomElement();
        QDomNode parent = first.parentNode();
        const int newCount = isPara ? int(segs.size()) - 1 : int(segs.size()) - (segs.last().isEmpty() ? 1 : 0);
        for (int i = 0; i < newCount; ++i) parent.insertBefore(makeParagraph(doc, segs[i], pPr, rPr), first);
        if (isPara) prependText(doc, first, segs.last());
    }

    void insertAfterBlock(QDomElement last, const QString &text) {
        const QStringList segs = splitParagraphs(text);
        const bool isPara = last.tagName() == QLatin1String("w:p");
        QDomElement pPr = isPara ? cleanPPr(last.firstChildElement("w:pPr")) : QDomElement();
        const QDomElement rPr = isPara ? runFormatOf(last, true) : QDomElement();
        int from = 0;
        if (isPara) {
            appendText(doc, last, segs.first());
            from = 1;
        }
        QDomNode parent = last.parentNode();
        QDomElement after = last;
        for (int i = from; i < segs.size(); ++i) {
            QDomElement p = makeParagraph(doc, segs[i], pPr, rPr);
            parent.insertAfter(p, after);
            after = p;
        }
        // A section break stays at the end of the inserted text.
        if (isPara && after != last) {
            QDomElement sect = last.firstChildElement("w:pPr").firstChildElement("w:sectPr");
            if (!sect.isNull()) {
                last.firstChildElement("w:pPr").removeChild(sect);
                QDomElement p = ensureFirstChild(after, "w:pPr");
                insertOrdered(p, sect, kPPrOrder);
            }
        }
    }

    int headerRefCount(const QString &rid) const {
        int n = 0;
        const QDomNodeList refs = doc.elementsByTagName("w:headerReference");
        for (int i = 0; i < refs.size(); ++i)
            if (refs.at(i).toElement().attribute("r:id") == rid) ++n;
        return n;
    }

    void ensureRelNamespace() {
        QDomElement root = doc.documentElement();
        if (!root.hasAttribute("xmlns:r")) root.setAttribute("xmlns:r", kNsR);
    }

    void load(const QString &file) {
        pkg = Package::read(file);
        if (!pkg.has(QStringLiteral("[Content_Types].xml")))
            throw Error(QStringLiteral("Файл ") + file + QStringLiteral(" не является документом Word (.docx)."));
        types = parseXml(pkg.part(QStringLiteral("[Content_Types].xml")), "[Content_Types].xml", false);
        const QDomDocument rootRels = parseXml(pkg.part(QStringLiteral("_rels/.rels")), "_rels/.rels", false);
        for (QDomElement r = rootRels.documentElement().firstChildElement(); !r.isNull(); r = r.nextSiblingElement())
            if (r.attribute("Type").endsWith(QLatin1String("/officeDocument")))
                mainPart = resolveTarget(QString(), r.attribute("Target"));
        if (mainPart.isEmpty() || !pkg.has(mainPart))
            throw Error(QStringLiteral("Файл ") + file + QStringLiteral(" не является документом Word (.docx)."));
        doc = parseXml(pkg.part(mainPart), mainPart, false);
        if (doc.documentElement().tagName() != QLatin1String("w:document") || body().isNull())
            throw Error(QStringLiteral("Файл ") + file + QStringLiteral(" не является документом Word (.docx)."));
        const QString relsName = relsPartFor(mainPart);
        rels = pkg.has(relsName) ? parseXml(pkg.part(relsName), relsName, false)
                                 : parseXml(QByteArray("<Relationships xmlns=\"") + kNsPkgRel.toUtf8() + "\"/>",
                                            relsName, false);
        for (QDomElement r = rels.documentElement().firstChildElement(); !r.isNull(); r = r.nextSiblingElement())
            if (r.attribute("Type") == kRelSettings) {
                settingsPart = resolveTarget(mainPart, r.attribute("Target"));
                if (pkg.has(settingsPart)) settings = parseXml(pkg.part(settingsPart), settingsPart, false);
            }
        ensureRelNamespace();
    }
};

// --- WordTable -------------------------------------------------------------------

namespace {

constexpr int kMaxGridSpan = 1000000;
constexpr int kMaxGridColumn = 1 << 30;

struct RawCell {
    QDomElement tc;
    int row = 0;
    int gridCol = 0;
    int span = 1;
    int wordCol = 0;
    bool continued = false;  // lower part of a vertical merge
};

QList<QList<RawCell>> rawCells(const QList<QDomElement> &rows) {
    QList<QList<RawCell>> out;
    for (int r = 0; r < rows.size(); ++r) {
        QList<RawCell> line;
        const QDomElement trPr = rows[r].firstChildElement("w:trPr");
        int col = 1 + std::clamp(intAttr(trPr.firstChildElement("w:gridBefore"), "w:val", 0), 0, kMaxGridSpan);
        int wordCol = 0;
        for (const QDomElement &tc : contentChildren(rows[r], "w:tc")) {
            RawCell c;
            c.tc = tc;
            c.row = r + 1;
            c.gridCol = col;
            c.wordCol = ++wordCol;
            const QDomElement tcPr = tc.firstChildElement("w:tcPr");
            // An absurd span from a damaged or hostile file is bounded, so
            // the grid arithmetic stays in range; callers refuse such tables.
            c.span = std::clamp(intAttr(tcPr.firstChildElement("w:gridSpan"), "w:val", 1), 1, kMaxGridSpan);
            const QDomElement vm = tcPr.firstChildElement("w:vMerge");
            c.continued = !vm.isNull() && vm.attribute("w:val") != QLatin1String("restart");
            col = std::min(col + c.span, kMaxGridColumn);
            // The older horizontal merge: a cell that continues the one before
            // it widens that one, as gridSpan would, and is no cell of its own.
            const QDomElement hm = tcPr.firstChildElement("w:hMerge");
            if (!hm.isNull() && hm.attribute("w:val") != QLatin1String("restart") && !line.isEmpty()) {
                line.last().span = std::min(line.last().span + c.span, kMaxGridSpan);
                --wordCol;
                continue;
            }
            line.append(c);
        }
        out.append(line);
    }
    return out;
}

// The paragraphs of a cell in document order; a table nested in the cell
// gives the non-blank paragraphs of its cells, row by row, in its place.
void cellParagraphs(const QDomElement &tc, QStringList &paras, int depth) {
    for (const QDomElement &e : contentChildren(tc, "w:p", "w:tbl")) {
        if (e.tagName() == QLatin1String("w:p")) {
            const QString text = paraText(e);
            if (depth == 0 || !text.trimmed().isEmpty()) paras.append(text);
        } else if (depth < 16) {   // a damaged file cannot nest without end
            for (const QDomElement &tr : contentChildren(e, "w:tr"))
                for (const QDomElement &inner : contentChildren(tr, "w:tc")) cellParagraphs(inner, paras, depth + 1);
        }
    }
}

QString cellTextOf(const QDomElement &tc) {
    QStringList paras;
    cellParagraphs(tc, paras, 0);
    return paras.join(u'\r');
}

void setCellTextOf(QDomElement tc, const QString &text) {
    QDomDocument doc = tc.ownerDocument();
    const QList<QDomElement> paras = contentChildren(tc, "w:p");
    QDomElement pPr, rPr;
    if (!paras.isEmpty()) {
        pPr = cleanPPr(paras.first().firstChildElement("w:pPr"));
        rPr = runFormatOf(paras.first(), false);
    }
    // Everything but the cell properties goes.
    QDomNode n = tc.firstChild();
    while (!n.isNull()) {
        QDomNode next = n.nextSibling();
        if (!(n.isElement() && n.toElement().tagName() == QLatin1String("w:tcPr"))) tc.removeChild(n);
        n = next;
    }
    for (const QString &seg : splitParagraphs(text)) {
        QString s = seg;
        s.remove(QChar(7));
        tc.appendChild(makeParagraph(doc, s, pPr, rPr));
    }
}

} // namespace

QList<QDomElement> WordTable::rows() const { return contentChildren(tbl_, "w:tr"); }

int WordTable::rowCount() const { return int(rows().size()); }

int WordTable::columnCount() const {
    const int grid = int(contentChildren(tbl_.firstChildElement("w:tblGrid"), "w:gridCol").size());
    int widest = 0;
    const QList<QDomElement> rs = rows();
    const auto raw = rawCells(rs);
    for (int r = 0; r < raw.size(); ++r) {
        int end = raw[r].isEmpty() ? 0 : raw[r].last().gridCol + raw[r].last().span - 1;
        end += std::clamp(intAttr(rs[r].firstChildElement("w:trPr").firstChildElement("w:gridAfter"), "w:val", 0), 0,
                          kMaxGridSpan);
        widest = std::max(widest, end);
    }
    return std::max(grid, widest);
}

int WordTable::cellCount(int row) const {
    const QList<QDomElement> rs = rows();
    if (row < 1 || row > rs.size()) return 0;
    return int(contentChildren(rs[row - 1], "w:tc").size());
}

QDomElement WordTable::wordCell(int row, int column, bool mustExist) const {
    const QList<QDomElement> rs = rows();
    if (row >= 1 && row <= rs.size()) {
        const QList<QDomElement> cells = contentChildren(rs[row - 1], "w:tc");
        if (column >= 1 && column <= cells.size()) {
            const QDomElement tc = cells[column - 1];
            const QDomElement vm = tc.firstChildElement("w:tcPr").firstChildElement("w:vMerge");
            if (vm.isNull() || vm.attribute("w:val") == QLatin1String("restart")) return tc;
        }
    }
    if (mustExist)
        throw Error(QStringLiteral("В таблице нет ячейки (строка %1, столбец %2)").arg(row).arg(column));
    return {};
}

bool WordTable::hasCell(int row, int column) const { return !wordCell(row, column, false).isNull(); }

QString WordTable::cellText(int row, int column) const { return cellTextOf(wordCell(row, column, true)); }

QString WordTable::cellRangeText(int row, int column) const {
    return cellText(row, column) + QStringLiteral("\r\x07");
}

void WordTable::setCellText(int row, int column, const QString &text) {
    setCellTextOf(wordCell(row, column, true), text);
}

int WordTable::addRow() {
    const QList<QDomElement> rs = rows();
    if (rs.isEmpty()) throw Error(QStringLiteral("В таблице нет строк"));
    QDomElement last = rs.last();
    QDomElement row = last.cloneNode(true).toElement();
    removeChildren(row.firstChildElement("w:trPr"), "w:tblHeader");
    for (QDomElement tc : contentChildren(row, "w:tc")) {
        removeChildren(tc.firstChildElement("w:tcPr"), "w:vMerge");
        setCellTextOf(tc, QString());
    }
    last.parentNode().insertAfter(row, last);
    return rowCount();
}

QList<GridCell> WordTable::gridCells() const {
    const auto raw = rawCells(rows());
    QList<GridCell> out;
    for (int r = 0; r < raw.size(); ++r) {
        for (const RawCell &c : raw[r]) {
            if (c.continued) continue;
            GridCell g;
            g.row = c.row;
            g.column = c.gridCol;
            g.colSpan = c.span;
            g.wordColumn = c.wordCol;
            g.text = cellTextOf(c.tc);
            // The merge goes on while the rows below continue it at this column.
            for (int below = r + 1; below < raw.size(); ++below) {
                const auto it = std::find_if(raw[below].begin(), raw[below].end(),
                                             [&](const RawCell &b) { return b.gridCol == c.gridCol; });
                if (it == raw[below].end() || !it->continued) break;
                ++g.rowSpan;
            }
            out.append(g);
        }
    }
    return out;
}

std::optional<GridCell> WordTable::gridCell(int row, int column) const {
    for (const GridCell &g : gridCells())
        if (g.row == row && g.column == column) return g;
    return std::nullopt;
}

void WordTable::setStyle(const QString &styleId) {
    QDomElement tblPr = ensureFirstChild(tbl_, "w:tblPr");
    QDomElement st = ensureChild(tblPr, "w:tblStyle", kTblPrOrder);
    st.setAttribute("w:val", styleId);
}

void WordTable::autoFormat(bool autoFit) {
    QDomElement tblPr = ensureFirstChild(tbl_, "w:tblPr");
    d_->setTableBorders(tblPr);
    const QList<QDomElement> rs = rows();
    if (rs.isEmpty()) return;
    QDomElement trPr = ensureFirstChild(rs.first(), "w:trPr");
    ensureChild(trPr, "w:tblHeader", kTrPrOrder);
    setRowBold(1, true);
    if (autoFit) {
        QDomElement layout = ensureChild(tblPr, "w:tblLayout", kTblPrOrder);
        layout.setAttribute("w:type", "autofit");
        QDomElement w = ensureChild(tblPr, "w:tblW", kTblPrOrder);
        w.setAttribute("w:w", "0");
        w.setAttribute("w:type", "auto");
        for (const QDomElement &tr : rs)
            for (const QDomElement &tc : contentChildren(tr, "w:tc")) {
                QDomElement tcW = ensureChild(ensureFirstChild(tc, "w:tcPr"), "w:tcW", kTcPrOrder);
                tcW.setAttribute("w:w", "0");
                tcW.setAttribute("w:type", "auto");
            }
    }
}

void WordTable::setRowBold(int row, bool bold) {
    const QList<QDomElement> rs = rows();
    if (row < 1 || row > rs.size()) throw Error(QStringLiteral("В таблице нет строки %1").arg(row));
    QDomDocument doc = tbl_.ownerDocument();
    const QDomNodeList runs = rs[row - 1].elementsByTagName("w:r");
    for (int i = 0; i < runs.size(); ++i) setBold(ensureFirstChild(runs.at(i).toElement(), "w:rPr"), bold);
    const QDomNodeList paras = rs[row - 1].elementsByTagName("w:p");
    for (int i = 0; i < paras.size(); ++i) {
        QDomElement pPr = ensureFirstChild(paras.at(i).toElement(), "w:pPr");
        setBold(ensureChild(pPr, "w:rPr", kPPrOrder), bold);
    }
}

// --- WordSection -------------------------------------------------------------------

void WordSection::updateHeader(HeaderKind kind, const std::function<void(HeaderModel &)> &change) {
    static const char *types[] = {"", "default", "first", "even"};
    const QString type = QLatin1String(types[int(kind)]);
    QDomElement ref;
    for (QDomElement r = sectPr_.firstChildElement("w:headerReference"); !r.isNull();
         r = r.nextSiblingElement("w:headerReference"))
        if (r.attribute("w:type", "default") == type) ref = r;
    QString part;
    if (!ref.isNull()) {
        const QString target = d_->relTarget(ref.attribute("r:id"));
        if (d_->ownHeaders.contains(target) && d_->headerRefCount(ref.attribute("r:id")) == 1) part = target;
    }
    if (part.isEmpty()) {
        HeaderModel m;
        if (!ref.isNull()) {
            m.text = headerText(kind);
            sectPr_.removeChild(ref);
        }
        part = d_->newHeaderPart();
        d_->ownHeaders.insert(part, m);
        d_->setOverride(part, kCtHeader);
        const QString rid = d_->addRelationship(kRelHeader, QFileInfo(part).fileName());
        QDomElement nr = d_->doc.createElement("w:headerReference");
        nr.setAttribute("w:type", type);
        nr.setAttribute("r:id", rid);
        insertOrdered(sectPr_, nr, kSectPrOrder);
    }
    change(d_->ownHeaders[part]);
}

void WordSection::setHeaderText(HeaderKind kind, const QString &text) {
    updateHeader(kind, [&](HeaderModel &m) { m.text = text; });
}

void WordSection::setHeaderAlignment(HeaderKind kind, ParaAlign align) {
    updateHeader(kind, [&](HeaderModel &m) { m.align = align; });
}

void WordSection::setHeaderFontSize(HeaderKind kind, double points) {
    updateHeader(kind, [&](HeaderModel &m) { m.fontSize = points; });
}

void WordSection::addPageNumbers(HeaderKind kind, ParaAlign align, bool firstPage) {
    Q_UNUSED(firstPage);  // the first page shows the primary header unless a first-page header is enabled
    updateHeader(kind, [&](HeaderModel &m) {
        m.pageNumbers = true;
        m.pageNumberAlign = align;
    });
}

QString WordSection::headerText(HeaderKind kind) const {
    static const char *types[] = {"", "default", "first", "even"};
    const QString type = QLatin1String(types[int(kind)]);
    for (QDomElement r = sectPr_.firstChildElement("w:headerReference"); !r.isNull();
         r = r.nextSiblingElement("w:headerReference")) {
        if (r.attribute("w:type", "default") != type) continue;
        const QString part = d_->relTarget(r.attribute("r:id"));
        if (d_->ownHeaders.contains(part)) return d_->ownHeaders.value(part).text;
        if (!d_->pkg.has(part)) return {};
        const QDomDocument h = parseXml(d_->pkg.part(part), part, false);
        QStringList paras;
        for (const QDomElement &p : contentChildren(h.documentElement(), "w:p")) {
            // The page-number paragraph is not part of the header's text.
            const QDomNodeList instr = p.elementsByTagName("w:instrText");
            if (instr.size() == 1 && instr.at(0).toElement().text().trimmed() == QLatin1String("PAGE")) continue;
            paras.append(paraText(p));
        }
        return paras.join(u'\r');
    }
    return {};
}

void WordSection::setHeaderDistance(double points) {
    QDomElement m = ensureChild(sectPr_, "w:pgMar", kSectPrOrder);
    for (const char *a : {"w:top", "w:right", "w:bottom", "w:left", "w:footer", "w:gutter"})
        if (!m.hasAttribute(QLatin1String(a)))
            m.setAttribute(QLatin1String(a), QLatin1String(strcmp(a, "w:gutter") == 0 ? "0" : "1134"));
    m.setAttribute("w:header", QString::number(qRound(points * 20)));
}

double WordSection::headerDistance() const {
    return intAttr(sectPr_.firstChildElement("w:pgMar"), "w:header", 708) / 20.0;
}

void WordSection::setOrientation(Orientation o) {
    QDomElement sz = ensureChild(sectPr_, "w:pgSz", kSectPrOrder);
    int w = intAttr(sz, "w:w", 11906), h = intAttr(sz, "w:h", 16838);
    if ((o == Orientation::Landscape) != (w > h)) std::swap(w, h);
    sz.setAttribute("w:w", QString::number(w));
    sz.setAttribute("w:h", QString::number(h));
    if (o == Orientation::Landscape) sz.setAttribute("w:orient", "landscape");
    else sz.removeAttribute("w:orient");
}

Orientation WordSection::orientation() const {
    const QDomElement sz = sectPr_.firstChildElement("w:pgSz");
    if (sz.attribute("w:orient") == QLatin1String("landscape")) return Orientation::Landscape;
    return intAttr(sz, "w:w", 11906) > intAttr(sz, "w:h", 16838) ? Orientation::Landscape : Orientation::Portrait;
}

void WordSection::insertBefore(const QString &text) {
    d_->ensureParagraph();
    const QList<QDomElement> bl = d_->sectionBlocks(sectPr_);
    if (bl.isEmpty()) {
        QDomElement p = d_->doc.createElement("w:p");
        d_->body().insertBefore(p, d_->finalSectPr());
        d_->insertBeforeBlock(p, text);
        return;
    }
    d_->insertBeforeBlock(bl.first(), text);
}

void WordSection::insertAfter(const QString &text) {
    d_->ensureParagraph();
    QList<QDomElement> bl = d_->sectionBlocks(sectPr_);
    if (bl.isEmpty()) {
        QDomElement p = d_->doc.createElement("w:p");
        d_->body().insertBefore(p, d_->finalSectPr());
        bl.append(p);
    }
    d_->insertAfterBlock(bl.last(), text);
}

void WordSection::setNormalStyle() {
    for (const QDomElement &b : d_->sectionBlocks(sectPr_)) {
        if (b.tagName() == QLatin1String("w:p")) {
            removeChildren(b.firstChildElement("w:pPr"), "w:pStyle");
        } else {
            const QDomNodeList ps = b.elementsByTagName("w:pStyle");
            for (int i = ps.size() - 1; i >= 0; --i) ps.at(i).parentNode().removeChild(ps.at(i));
        }
    }
}

QStringList WordSection::paragraphs() const {
    QStringList out;
    for (const QDomElement &b : d_->sectionBlocks(sectPr_))
        if (b.tagName() == QLatin1String("w:p")) out.append(paraText(b));
    return out;
}

// --- WordDocument ------------------------------------------------------------------

WordDocument::WordDocument() : d_(std::make_unique<WordDocumentData>()) {}
WordDocument::WordDocument(std::unique_ptr<WordDocumentData> d) : d_(std::move(d)) {}
WordDocument::WordDocument(WordDocument &&) noexcept = default;
WordDocument &WordDocument::operator=(WordDocument &&) noexcept = default;
WordDocument::~WordDocument() = default;

WordDocument WordDocument::createBlank() {
    auto d = std::make_unique<WordDocumentData>();
    d->pkg.setPart("[Content_Types].xml", kBlankContentTypes);
    d->pkg.setPart("_rels/.rels", kBlankRootRels);
    d->pkg.setPart("word/_rels/document.xml.rels", kBlankDocRels);
    d->pkg.setPart("word/document.xml", kBlankDocument);
    d->pkg.setPart("word/styles.xml", kBlankStyles);
    d->pkg.setPart("word/settings.xml", kBlankSettings);
    d->mainPart = QStringLiteral("word/document.xml");
    d->types = parseXml(kBlankContentTypes, "[Content_Types].xml", false);
    d->rels = parseXml(kBlankDocRels, "word/_rels/document.xml.rels", false);
    d->doc = parseXml(kBlankDocument, d->mainPart, false);
    d->settingsPart = QStringLiteral("word/settings.xml");
    d->settings = parseXml(kBlankSettings, d->settingsPart, false);
    return WordDocument(std::move(d));
}

WordDocument WordDocument::fromTemplate(const QString &path) {
    // The configuration names its templates ".doc"; one saved anew as ".docx" beside it is the template.
    const QString file = openXmlVersion(path, QStringLiteral("docx"), Neighbour::SavedAnew);
    auto d = std::make_unique<WordDocumentData>();
    d->load(file);
    // A template (.dotx) becomes an ordinary document.
    d->setOverride(d->mainPart, kCtDocument);
    return WordDocument(std::move(d));
}

WordDocument WordDocument::open(const QString &path) {
    const QString file = openXmlVersion(path, QStringLiteral("docx"));
    auto d = std::make_unique<WordDocumentData>();
    d->load(file);
    d->path = path;
    return WordDocument(std::move(d));
}

QString WordDocument::path() const { return d_->path; }

int WordDocument::tableCount() const {
    int n = 0;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:tbl")) ++n;
    return n;
}

WordTable WordDocument::table(int n) const {
    int i = 0;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:tbl") && ++i == n) return WordTable(d_.get(), b);
    throw Error(QStringLiteral("В документе нет таблицы с номером ") + QString::number(n));
}

WordTable WordDocument::addTable(int rows, int cols) {
    QDomElement tbl = d_->newTable(rows, cols);
    d_->placeTableAtEnd(tbl);
    return WordTable(d_.get(), tbl);
}

WordTable WordDocument::insertTableBefore(int paragraphIndex, int rows, int cols) {
    QList<QDomElement> paras;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:p")) paras.append(b);
    if (paragraphIndex < 0 || paragraphIndex >= paras.size())
        throw Error(QStringLiteral("В документе нет абзаца с номером ") + QString::number(paragraphIndex + 1));
    QDomElement tbl = d_->newTable(rows, cols);
    paras[paragraphIndex].parentNode().insertBefore(tbl, paras[paragraphIndex]);
    return WordTable(d_.get(), tbl);
}

void WordDocument::insertBefore(const QString &text) {
    d_->ensureParagraph();
    d_->insertBeforeBlock(d_->blocks().first(), text);
}

void WordDocument::insertAfter(const QString &text) {
    d_->ensureParagraph();
    d_->insertAfterBlock(d_->blocks().last(), text);
}

void WordDocument::addParagraph(const QString &text, const ParagraphFormat &format) {
    QDomElement p = d_->doc.createElement("w:p");
    d_->body().insertBefore(p, d_->finalSectPr());
    if (!text.isEmpty()) p.appendChild(makeRun(d_->doc, text, QDomElement()));
    const int index = int(paragraphs().size()) - 1;
    formatParagraph(index, format);
}

QStringList WordDocument::paragraphs() const {
    QStringList out;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:p")) out.append(paraText(b));
    return out;
}

void WordDocument::formatParagraph(int index, const ParagraphFormat &format) {
    QList<QDomElement> paras;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:p")) paras.append(b);
    if (index < 0 || index >= paras.size())
        throw Error(QStringLiteral("В документе нет абзаца с номером ") + QString::number(index + 1));
    QDomElement p = paras[index];
    QDomElement pPr = ensureFirstChild(p, "w:pPr");
    QDomElement jc = ensureChild(pPr, "w:jc", kPPrOrder);
    jc.setAttribute("w:val", jcValue(format.align));
    QList<QDomElement> rPrs;
    rPrs.append(ensureChild(pPr, "w:rPr", kPPrOrder));
    const QDomNodeList runs = p.elementsByTagName("w:r");
    for (int i = 0; i < runs.size(); ++i) rPrs.append(ensureFirstChild(runs.at(i).toElement(), "w:rPr"));
    for (QDomElement &rPr : rPrs) {
        setBold(rPr, format.bold);
        removeChildren(rPr, "w:i");
        if (format.italic) insertOrdered(rPr, d_->doc.createElement("w:i"), kRPrOrder);
        if (format.fontSize > 0) {
            for (const char *tag : {"w:sz", "w:szCs"}) {
                QDomElement sz = ensureChild(rPr, QLatin1String(tag), kRPrOrder);
                sz.setAttribute("w:val", QString::number(qRound(format.fontSize * 2)));
            }
        }
    }
}

QString WordDocument::text() const {
    QStringList parts;
    for (const QDomElement &b : d_->blocks()) {
        if (b.tagName() == QLatin1String("w:p")) {
            parts.append(paraText(b));
        } else {
            for (const QDomElement &tr : contentChildren(b, "w:tr")) {
                QStringList cells;
                for (const QDomElement &tc : contentChildren(tr, "w:tc")) cells.append(cellTextOf(tc));
                parts.append(cells.join(u'\t'));
            }
        }
    }
    return parts.join(u'\r');
}

WordTable WordDocument::textToTable(int fromParagraph, int toParagraph) {
    QList<QDomElement> paras;
    for (const QDomElement &b : d_->blocks())
        if (b.tagName() == QLatin1String("w:p")) paras.append(b);
    if (fromParagraph < 0 || toParagraph >= paras.size() || fromParagraph > toParagraph)
        throw Error(QStringLiteral("Неверный диапазон абзацев для таблицы"));
    QList<QStringList> lines;
    int cols = 1;
    for (int i = fromParagraph; i <= toParagraph; ++i) {
        lines.append(paraText(paras[i]).split(u'\t'));
        cols = std::max(cols, int(lines.last().size()));
    }
    QDomElement tbl = d_->newTable(int(lines.size()), cols);
    WordTable t(d_.get(), tbl);
    QDomElement first = paras[fromParagraph];
    first.parentNode().insertBefore(tbl, first);
    // Row by row along the table, not cell by cell from its top: a long
    // list takes time in proportion to its length.
    const QList<QDomElement> tableRows = contentChildren(tbl, "w:tr");
    for (int r = 0; r < lines.size() && r < tableRows.size(); ++r) {
        const QList<QDomElement> cells = contentChildren(tableRows[r], "w:tc");
        for (int c = 0; c < lines[r].size() && c < cells.size(); ++c) setCellTextOf(cells[c], lines[r][c]);
    }
    // The paragraphs are replaced; a section break among them stays behind
    // the table on an empty paragraph.
    QDomElement keepSect;
    for (int i = fromParagraph; i <= toParagraph; ++i) {
        const QDomElement s = paras[i].firstChildElement("w:pPr").firstChildElement("w:sectPr");
        if (!s.isNull()) keepSect = s;
        paras[i].parentNode().removeChild(paras[i]);
    }
    QDomElement next = tbl.nextSiblingElement();
    if (!keepSect.isNull() || next.isNull() || next.tagName() != QLatin1String("w:p")) {
        QDomElement p = d_->doc.createElement("w:p");
        tbl.parentNode().insertAfter(p, tbl);
        if (!keepSect.isNull()) ensureFirstChild(p, "w:pPr").appendChild(keepSect);
    }
    return t;
}

int WordDocument::sectionCount() const { return int(d_->sectPrs().size()); }

WordSection WordDocument::section(int i) const {
    const QList<QDomElement> s = d_->sectPrs();
    if (i < 1 || i > s.size()) throw Error(QStringLiteral("В документе нет раздела с номером ") + QString::number(i));
    return WordSection(d_.get(), s[i - 1]);
}

WordSection WordDocument::addSectionNewPage() {
    d_->ensureParagraph();
    QDomElement finalSect = d_->finalSectPr();
    QDomElement ended = finalSect.cloneNode(true).toElement();
    removeChildren(ended, "w:sectPrChange");
    QDomElement last = d_->blocks().last();
    const bool usable = last.tagName() == QLatin1String("w:p") &&
                        last.firstChildElement("w:pPr").firstChildElement("w:sectPr").isNull();
    if (!usable) {
        QDomElement p = d_->doc.createElement("w:p");
        d_->body().insertBefore(p, finalSect);
        last = p;
    }
    insertOrdered(ensureFirstChild(last, "w:pPr"), ended, kPPrOrder);
    d_->body().insertBefore(d_->doc.createElement("w:p"), finalSect);
    QDomElement type = ensureChild(finalSect, "w:type", kSectPrOrder);
    type.setAttribute("w:val", "nextPage");
    return WordSection(d_.get(), finalSect);
}

void WordDocument::protectReadOnly(const QString &password) {
    QDomElement root = d_->settingsRoot();
    removeChildren(root, "w:documentProtection");
    QDomElement p = d_->settings.createElement("w:documentProtection");
    p.setAttribute("w:edit", "readOnly");
    p.setAttribute("w:enforcement", "1");
    if (!password.isEmpty()) {
        QByteArray salt(16, 0);
        for (char &c : salt) c = char(QRandomGenerator::system()->generate() & 0xFF);
        const int spin = 100000;
        const QByteArray hash = protectionHash(password, salt, spin, QCryptographicHash::Sha512);
        p.setAttribute("w:cryptProviderType", "rsaAES");
        p.setAttribute("w:cryptAlgorithmClass", "hash");
        p.setAttribute("w:cryptAlgorithmType", "typeAny");
        p.setAttribute("w:cryptAlgorithmSid", "14");
        p.setAttribute("w:cryptSpinCount", QString::number(spin));
        p.setAttribute("w:hash", QString::fromLatin1(hash.toBase64()));
        p.setAttribute("w:salt", QString::fromLatin1(salt.toBase64()));
    }
    insertOrdered(root, p, kSettingsOrder);
}

bool WordDocument::isProtected() const {
    if (d_->settings.isNull()) return false;
    const QDomElement p = d_->settings.documentElement().firstChildElement("w:documentProtection");
    if (p.isNull()) return false;
    const QString e = p.attribute("w:enforcement");
    return e == QLatin1String("1") || e == QLatin1String("true") || e == QLatin1String("on");
}

bool WordDocument::checkProtectionPassword(const QString &password) const {
    if (d_->settings.isNull()) return false;
    const QDomElement p = d_->settings.documentElement().firstChildElement("w:documentProtection");
    if (p.isNull()) return false;
    QByteArray salt, hash;
    int spin = 0;
    QCryptographicHash::Algorithm alg;
    if (p.hasAttribute("w:hashValue")) {
        salt = QByteArray::fromBase64(p.attribute("w:saltValue").toLatin1());
        hash = QByteArray::fromBase64(p.attribute("w:hashValue").toLatin1());
        spin = intAttr(p, "w:spinCount", 0);
        alg = algorithmByName(p.attribute("w:algorithmName"));
    } else {
        salt = QByteArray::fromBase64(p.attribute("w:salt").toLatin1());
        hash = QByteArray::fromBase64(p.attribute("w:hash").toLatin1());
        spin = intAttr(p, "w:cryptSpinCount", 0);
        alg = algorithmBySid(intAttr(p, "w:cryptAlgorithmSid", 14));
    }
    if (hash.isEmpty()) return password.isEmpty();
    return protectionHash(password, salt, spin, alg) == hash;
}

void WordDocument::saveAs(const QString &path) {
    for (auto it = d_->ownHeaders.cbegin(); it != d_->ownHeaders.cend(); ++it)
        d_->pkg.setPart(it.key(), d_->headerXml(it.value()));
    d_->pkg.setPart(d_->mainPart, toXml(d_->doc));
    d_->pkg.setPart(relsPartFor(d_->mainPart), toXml(d_->rels));
    d_->pkg.setPart(QStringLiteral("[Content_Types].xml"), toXml(d_->types));
    if (!d_->settings.isNull()) d_->pkg.setPart(d_->settingsPart, toXml(d_->settings));
    d_->pkg.write(path);
    d_->path = path;
}

WordDocument buildTabTextDocument(const QStringList &lines, int tableFrom, bool autoFit) {
    WordDocument doc = WordDocument::createBlank();
    // The blank document's empty paragraph takes the first line; the lines
    // go in at once (one by one, each would look for the end again).
    if (!lines.isEmpty()) doc.insertAfter(lines.join(u'\r'));
    if (tableFrom >= 0 && tableFrom < lines.size()) {
        WordTable t = doc.textToTable(tableFrom, int(lines.size()) - 1);
        t.autoFormat(autoFit);
    }
    return doc;
}

} // namespace office
