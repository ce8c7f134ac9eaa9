#include "platform/office/ExcelWorkbook.h"

#include "platform/office/Convert.h"
#include "platform/office/Package.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QXmlStreamWriter>
#include <algorithm>
#include <cmath>

namespace office {

namespace {

const QString kNsMain = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QString kNsR = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kNsPkgRel = QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
const QString kRelBase = QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships/");

constexpr int kMaxRows = 1048576;
constexpr int kMaxColumns = 16384;
constexpr int kMaxCellText = 32767;
// Maximum digit width of the standard font (Arial 10) in pixels; column
// widths in the file are characters plus padding of this font.
constexpr double kDigitWidth = 7.0;
constexpr double kDefaultRowHeight = 12.75;

double widthToFile(double chars) {
    return std::trunc((chars * kDigitWidth + 5.0) / kDigitWidth * 256.0) / 256.0;
}

double widthFromFile(double stored) {
    const double chars = (stored * kDigitWidth - 5.0) / kDigitWidth;
    return chars <= 0 ? 0 : std::round(chars * 100.0) / 100.0;
}

QString numberText(double v) {
    if (v == std::trunc(v) && std::fabs(v) < 1e15) return QString::number(qint64(v));
    return QString::number(v, 'g', 17);
}

const std::map<int, QString> &builtinFormats() {
    static const std::map<int, QString> m = {
        {0, "General"},     {1, "0"},          {2, "0.00"},     {3, "#,##0"},     {4, "#,##0.00"},
        {9, "0%"},          {10, "0.00%"},     {11, "0.00E+00"}, {12, "# ?/?"},   {13, "# \?\?/\?\?"},
        {14, "DD.MM.YYYY"}, {20, "h:mm"},      {21, "h:mm:ss"}, {22, "DD.MM.YYYY h:mm"},
        {37, "#,##0 ;(#,##0)"}, {38, "#,##0 ;[Red](#,##0)"}, {39, "#,##0.00;(#,##0.00)"},
        {40, "#,##0.00;[Red](#,##0.00)"}, {45, "mm:ss"}, {46, "[h]:mm:ss"}, {47, "mmss.0"},
        {48, "##0.0E+0"},   {49, "@"}};
    return m;
}

QString hAlignName(HAlign a) {
    switch (a) {
    case HAlign::Left: return QStringLiteral("left");
    case HAlign::Center: return QStringLiteral("center");
    case HAlign::Right: return QStringLiteral("right");
    case HAlign::Justify: return QStringLiteral("justify");
    case HAlign::General: break;
    }
    return {};
}

HAlign hAlignFrom(const QString &s) {
    if (s == QLatin1String("left")) return HAlign::Left;
    if (s == QLatin1String("center") || s == QLatin1String("centerContinuous")) return HAlign::Center;
    if (s == QLatin1String("right")) return HAlign::Right;
    if (s == QLatin1String("justify") || s == QLatin1String("distributed")) return HAlign::Justify;
    return HAlign::General;
}

QString vAlignName(VAlign a) {
    switch (a) {
    case VAlign::Top: return QStringLiteral("top");
    case VAlign::Center: return QStringLiteral("center");
    case VAlign::Justify: return QStringLiteral("justify");
    case VAlign::Bottom: break;
    }
    return {};
}

VAlign vAlignFrom(const QString &s) {
    if (s == QLatin1String("top")) return VAlign::Top;
    if (s == QLatin1String("center")) return VAlign::Center;
    if (s == QLatin1String("justify") || s == QLatin1String("distributed")) return VAlign::Justify;
    return VAlign::Bottom;
}

QString lineName(LineStyle s) {
    switch (s) {
    case LineStyle::Continuous: return QStringLiteral("thin");
    case LineStyle::Medium: return QStringLiteral("medium");
    case LineStyle::Thick: return QStringLiteral("thick");
    case LineStyle::Dash: return QStringLiteral("dashed");
    case LineStyle::Dot: return QStringLiteral("dotted");
    case LineStyle::Double: return QStringLiteral("double");
    case LineStyle::None: break;
    }
    return {};
}

LineStyle lineFrom(const QString &s) {
    if (s.isEmpty() || s == QLatin1String("none")) return LineStyle::None;
    if (s == QLatin1String("medium") || s.startsWith(QLatin1String("medium"))) return LineStyle::Medium;
    if (s == QLatin1String("thick")) return LineStyle::Thick;
    if (s == QLatin1String("dashed") || s == QLatin1String("dashDot") || s == QLatin1String("dashDotDot"))
        return LineStyle::Dash;
    if (s == QLatin1String("dotted")) return LineStyle::Dot;
    if (s == QLatin1String("double")) return LineStyle::Double;
    return LineStyle::Continuous;
}

bool boolAttr(const QDomElement &e, const QString &name, bool absent) {
    if (!e.hasAttribute(name)) return absent;
    const QString v = e.attribute(name);
    return v == QLatin1String("1") || v == QLatin1String("true") || v == QLatin1String("on");
}

// A child element by local name (files use prefixes or not).
QDomElement child(const QDomElement &e, const QString &local) {
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        if (c.localName() == local) return c;
    return {};
}

QList<QDomElement> children(const QDomElement &e, const QString &local) {
    QList<QDomElement> out;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        if (c.localName() == local) out.append(c);
    return out;
}

QString allText(const QDomElement &e) {
    QString s;
    for (QDomElement c = e.firstChildElement(); !c.isNull(); c = c.nextSiblingElement()) {
        if (c.localName() == QLatin1String("t")) s += c.text();
        else if (c.localName() == QLatin1String("r")) s += allText(c);
    }
    return s;
}

RangeRef parseRange(const QString &ref) {
    const QStringList parts = ref.split(u':');
    const CellRef a = parseCellName(parts.value(0));
    const CellRef b = parts.size() > 1 ? parseCellName(parts.value(1)) : a;
    if (a.row <= 0 || b.row <= 0) return {};
    return {std::min(a.row, b.row), std::min(a.column, b.column), std::max(a.row, b.row),
            std::max(a.column, b.column)};
}

QString rangeName(const RangeRef &r) {
    if (r.firstRow == r.lastRow && r.firstColumn == r.lastColumn) return cellName(r.firstRow, r.firstColumn);
    return cellName(r.firstRow, r.firstColumn) + u':' + cellName(r.lastRow, r.lastColumn);
}

} // namespace

// --- names ---------------------------------------------------------------------------

QString columnName(int column) {
    QString s;
    while (column > 0) {
        const int m = (column - 1) % 26;
        s.prepend(QChar(u'A' + m));
        column = (column - 1) / 26;
    }
    return s;
}

QString cellName(int row, int column) { return columnName(column) + QString::number(row); }

CellRef parseCellName(const QString &name) {
    int i = 0, col = 0;
    const QString n = name.trimmed().remove(u'$');
    while (i < n.size() && n[i].isLetter() && n[i].unicode() < 128) {
        col = col * 26 + (n[i].toUpper().unicode() - u'A' + 1);
        ++i;
        if (col > kMaxColumns) return {};
    }
    bool ok = false;
    const int row = n.mid(i).toInt(&ok);
    if (i == 0 || !ok || row < 1 || row > kMaxRows) return {};
    return {row, col};
}

// --- ranges --------------------------------------------------------------------------

template <class F> ExcelRange &ExcelRange::apply(F f) {
    for (int r = ref_.firstRow; r <= ref_.lastRow; ++r)
        for (int c = ref_.firstColumn; c <= ref_.lastColumn; ++c) {
            auto &cell = sheet_->cellData(r, c);
            if (!cell.format) cell.format = CellFormat();
            f(*cell.format);
            cell.fileStyle = -1;
        }
    return *this;
}

ExcelRange &ExcelRange::setValue(const QVariant &value) {
    for (int r = ref_.firstRow; r <= ref_.lastRow; ++r)
        for (int c = ref_.firstColumn; c <= ref_.lastColumn; ++c) sheet_->setValue(r, c, value);
    return *this;
}

ExcelRange &ExcelRange::setNumberFormat(const QString &format) {
    return apply([&](CellFormat &f) { f.numberFormat = format.isEmpty() ? QStringLiteral("General") : format; });
}
ExcelRange &ExcelRange::setWrapText(bool wrap) { return apply([&](CellFormat &f) { f.wrap = wrap; }); }
ExcelRange &ExcelRange::setFontName(const QString &name) {
    return apply([&](CellFormat &f) {
        if (!name.trimmed().isEmpty()) f.fontName = name.trimmed();
    });
}
ExcelRange &ExcelRange::setFontSize(double points) {
    return apply([&](CellFormat &f) {
        if (points >= 1 && points <= 409) f.fontSize = points;
    });
}
ExcelRange &ExcelRange::setBold(bool bold) { return apply([&](CellFormat &f) { f.bold = bold; }); }
ExcelRange &ExcelRange::setItalic(bool italic) { return apply([&](CellFormat &f) { f.italic = italic; }); }
ExcelRange &ExcelRange::setHorizontalAlignment(HAlign a) { return apply([&](CellFormat &f) { f.hAlign = a; }); }
ExcelRange &ExcelRange::setVerticalAlignment(VAlign a) { return apply([&](CellFormat &f) { f.vAlign = a; }); }
ExcelRange &ExcelRange::setOrientation(int degrees) {
    return apply([&](CellFormat &f) { f.rotation = std::clamp(degrees, -90, 90); });
}
ExcelRange &ExcelRange::setIndentLevel(int level) {
    return apply([&](CellFormat &f) { f.indent = std::clamp(level, 0, 15); });
}

ExcelRange &ExcelRange::setBorder(BorderIndex index, LineStyle style) {
    const RangeRef &g = ref_;
    for (int r = g.firstRow; r <= g.lastRow; ++r)
        for (int c = g.firstColumn; c <= g.lastColumn; ++c) {
            auto &cell = sheet_->cellData(r, c);
            if (!cell.format) cell.format = CellFormat();
            cell.fileStyle = -1;
            CellFormat &f = *cell.format;
            switch (index) {
            case BorderIndex::EdgeLeft: if (c == g.firstColumn) f.left = style; break;
            case BorderIndex::EdgeRight: if (c == g.lastColumn) f.right = style; break;
            case BorderIndex::EdgeTop: if (r == g.firstRow) f.top = style; break;
            case BorderIndex::EdgeBottom: if (r == g.lastRow) f.bottom = style; break;
            case BorderIndex::InsideVertical:
                if (c > g.firstColumn) f.left = style;
                if (c < g.lastColumn) f.right = style;
                break;
            case BorderIndex::InsideHorizontal:
                if (r > g.firstRow) f.top = style;
                if (r < g.lastRow) f.bottom = style;
                break;
            }
        }
    return *this;
}

ExcelRange &ExcelRange::setAllBorders(LineStyle style) {
    for (BorderIndex i : {BorderIndex::EdgeLeft, BorderIndex::EdgeTop, BorderIndex::EdgeBottom,
                          BorderIndex::EdgeRight, BorderIndex::InsideVertical, BorderIndex::InsideHorizontal})
        setBorder(i, style);
    return *this;
}

ExcelRange &ExcelRange::merge() {
    if (ref_.firstRow == ref_.lastRow && ref_.firstColumn == ref_.lastColumn) return *this;
    for (const RangeRef &m : sheet_->merges_) {
        if (m == ref_) return *this;
        if (m.intersects(ref_))
            throw Error(QStringLiteral("Нельзя объединить ячейки ") + rangeName(ref_) +
                        QStringLiteral(": диапазон пересекается с объединенными ячейками ") + rangeName(m));
    }
    sheet_->merges_.append(ref_);
    sheet_->changed_ = true;
    return *this;
}

// --- sheets ----------------------------------------------------------------------------

void ExcelSheet::checkCell(int row, int column) {
    if (row < 1 || row > kMaxRows || column < 1 || column > kMaxColumns)
        throw Error(QStringLiteral("Неверный адрес ячейки листа: строка %1, столбец %2").arg(row).arg(column));
}

ExcelSheet::Cell &ExcelSheet::cellData(int row, int column) {
    checkCell(row, column);
    changed_ = true;
    return cells_[{row, column}];
}

void ExcelSheet::setName(const QString &name) {
    QString why;
    if (!book_->isValidSheetName(name, this, &why)) throw Error(why);
    name_ = name;
}

bool ExcelSheet::trySetName(const QString &name) {
    if (!book_->isValidSheetName(name, this)) return false;
    name_ = name;
    return true;
}

void ExcelSheet::setValue(int row, int column, const QVariant &value) {
    checkCell(row, column);
    changed_ = true;
    QVariant v;
    if (value.isValid() && !value.isNull()) {
        switch (value.typeId()) {
        case QMetaType::Double: case QMetaType::Float: case QMetaType::Int: case QMetaType::UInt:
        case QMetaType::LongLong: case QMetaType::ULongLong: case QMetaType::Long: case QMetaType::ULong:
        case QMetaType::Short: case QMetaType::UShort: {
            const double d = value.toDouble();
            v = std::isfinite(d) ? QVariant(d) : QVariant(QString());
            break;
        }
        case QMetaType::Bool:
            v = QVariant(value.toBool() ? 1.0 : 0.0);
            break;
        default: {
            QString s = xmlSafe(value.toString());
            if (s.size() > kMaxCellText) s.truncate(kMaxCellText);
            if (!s.isEmpty()) v = QVariant(s);
        }
        }
    }
    if (!v.isValid()) {
        auto it = cells_.find({row, column});
        if (it == cells_.end()) return;
        it->second.value = QVariant();
        it->second.formula.clear();
        it->second.formulaCell = false;
        if (!it->second.format) cells_.erase(it);
        return;
    }
    Cell &cell = cells_[{row, column}];
    cell.value = v;
    cell.formula.clear();
    cell.formulaCell = false;
}

QVariant ExcelSheet::value(int row, int column) const {
    const auto it = cells_.find({row, column});
    return it == cells_.end() ? QVariant() : it->second.value;
}

QString ExcelSheet::text(int row, int column) const {
    const QVariant v = value(row, column);
    if (!v.isValid()) return {};
    if (v.typeId() == QMetaType::Double) {
        const double d = v.toDouble();
        return QString::number(d, 'g', 15);
    }
    return v.toString();
}

bool ExcelSheet::hasValue(int row, int column) const { return value(row, column).isValid(); }

bool ExcelSheet::isFormula(int row, int column) const {
    const auto it = cells_.find({row, column});
    return it != cells_.end() && it->second.formulaCell;
}

CellFormat ExcelSheet::format(int row, int column) const {
    const auto it = cells_.find({row, column});
    if (it == cells_.end() || !it->second.format) return CellFormat();
    return *it->second.format;
}

ExcelRange ExcelSheet::range(int firstRow, int firstColumn, int lastRow, int lastColumn) {
    checkCell(firstRow, firstColumn);
    checkCell(lastRow, lastColumn);
    return ExcelRange(this, {std::min(firstRow, lastRow), std::min(firstColumn, lastColumn),
                             std::max(firstRow, lastRow), std::max(firstColumn, lastColumn)});
}

void ExcelSheet::setColumnWidth(int column, double characters) {
    checkCell(1, column);
    if (characters < 0 || characters > 255)
        throw Error(QStringLiteral("Неверная ширина столбца %1: %2").arg(column).arg(characters));
    changed_ = true;
    if (characters == 0) widths_.erase(column);
    else widths_[column] = characters;
}

double ExcelSheet::columnWidth(int column) const {
    const auto it = widths_.find(column);
    return it == widths_.end() ? 0 : it->second;
}

void ExcelSheet::setRowHeight(int row, double points) {
    checkCell(row, 1);
    if (points < 0 || points > 409)
        throw Error(QStringLiteral("Неверная высота строки %1: %2").arg(row).arg(points));
    changed_ = true;
    if (points == 0) heights_.erase(row);
    else heights_[row] = points;
}

double ExcelSheet::rowHeight(int row) const {
    const auto it = heights_.find(row);
    return it == heights_.end() ? 0 : it->second;
}

std::optional<RangeRef> ExcelSheet::mergeAt(int row, int column) const {
    for (const RangeRef &m : merges_)
        if (m.contains(row, column)) return m;
    return std::nullopt;
}

void ExcelSheet::freezePanes(int row, int column) {
    checkCell(row, column);
    frozen_ = {row, column};
    changed_ = true;
}

RangeRef ExcelSheet::usedRange() const {
    RangeRef r;
    auto take = [&](int row, int col) {
        if (r.isEmpty()) {
            r = {row, col, row, col};
            return;
        }
        r.firstRow = std::min(r.firstRow, row);
        r.lastRow = std::max(r.lastRow, row);
        r.firstColumn = std::min(r.firstColumn, col);
        r.lastColumn = std::max(r.lastColumn, col);
    };
    for (const auto &[pos, cell] : cells_)
        if (cell.value.isValid() || (cell.format && !(*cell.format == CellFormat())))
            take(pos.first, pos.second);
    for (const RangeRef &m : merges_) {
        take(m.firstRow, m.firstColumn);
        take(m.lastRow, m.lastColumn);
    }
    return r;
}

// --- workbook ---------------------------------------------------------------------------

ExcelWorkbook::ExcelWorkbook(ExcelWorkbook &&o) noexcept
    : sheets_(std::move(o.sheets_)), active_(o.active_), path_(std::move(o.path_)), source_(std::move(o.source_)) {
    for (auto &s : sheets_) s->book_ = this;
}

ExcelWorkbook &ExcelWorkbook::operator=(ExcelWorkbook &&o) noexcept {
    sheets_ = std::move(o.sheets_);
    active_ = o.active_;
    path_ = std::move(o.path_);
    source_ = std::move(o.source_);
    for (auto &s : sheets_) s->book_ = this;
    return *this;
}

ExcelWorkbook::~ExcelWorkbook() = default;

ExcelWorkbook ExcelWorkbook::create() {
    ExcelWorkbook b;
    b.insertSheet(0);
    return b;
}

QString ExcelWorkbook::name() const {
    return path_.isEmpty() ? QStringLiteral("Книга1") : QFileInfo(path_).fileName();
}

ExcelSheet &ExcelWorkbook::sheet(int index) {
    if (index < 1 || index > int(sheets_.size()))
        throw Error(QStringLiteral("В книге нет листа с номером ") + QString::number(index));
    return *sheets_[size_t(index - 1)];
}

ExcelSheet *ExcelWorkbook::findSheet(const QString &name) {
    for (auto &s : sheets_)
        if (s->name_.compare(name, Qt::CaseInsensitive) == 0) return s.get();
    return nullptr;
}

int ExcelWorkbook::indexOf(const ExcelSheet &sheet) const {
    for (size_t i = 0; i < sheets_.size(); ++i)
        if (sheets_[i].get() == &sheet) return int(i) + 1;
    return 0;
}

ExcelSheet &ExcelWorkbook::activeSheet() { return *sheets_[size_t(active_)]; }

void ExcelWorkbook::activate(ExcelSheet &sheet) {
    const int i = indexOf(sheet);
    if (i > 0) active_ = i - 1;
}

QString ExcelWorkbook::nextSheetName() const {
    for (int n = int(sheets_.size()) + 1;; ++n) {
        const QString name = QStringLiteral("Лист") + QString::number(n);
        bool used = false;
        for (const auto &s : sheets_) used = used || s->name_.compare(name, Qt::CaseInsensitive) == 0;
        if (!used) return name;
    }
}

ExcelSheet &ExcelWorkbook::insertSheet(int position) {
    std::unique_ptr<ExcelSheet> s(new ExcelSheet(this, nextSheetName()));
    ExcelSheet *raw = s.get();
    sheets_.insert(sheets_.begin() + position, std::move(s));
    active_ = position;
    return *raw;
}

ExcelSheet &ExcelWorkbook::addSheet() { return insertSheet(sheets_.empty() ? 0 : active_); }

ExcelSheet &ExcelWorkbook::addSheetBefore(ExcelSheet &before) {
    const int i = indexOf(before);
    if (i == 0) throw Error(QStringLiteral("Лист не принадлежит книге"));
    return insertSheet(i - 1);
}

ExcelSheet &ExcelWorkbook::addSheetAfter(ExcelSheet &after) {
    const int i = indexOf(after);
    if (i == 0) throw Error(QStringLiteral("Лист не принадлежит книге"));
    return insertSheet(i);
}

QString fittedSheetName(const QString &name) {
    QString r = name;
    for (QChar &c : r)
        if (QStringLiteral("[]:*?/\\").contains(c)) c = u'_';
    if (r.size() > 31) r.truncate(r.at(30).isHighSurrogate() ? 30 : 31);
    if (r.startsWith(u'\'')) r[0] = u'_';
    if (r.endsWith(u'\'')) r[r.size() - 1] = u'_';
    return r;
}

bool ExcelWorkbook::isValidSheetName(const QString &name, const ExcelSheet *sheet, QString *why) const {
    auto fail = [&](const QString &reason) {
        if (why)
            *why = QStringLiteral("Недопустимое имя листа \"") + name + QStringLiteral("\": ") + reason;
        return false;
    };
    if (name.trimmed().isEmpty()) return fail(QStringLiteral("имя не может быть пустым."));
    if (name.size() > 31) return fail(QStringLiteral("имя длиннее 31 символа."));
    for (QChar c : name)
        if (QStringLiteral("[]:*?/\\").contains(c))
            return fail(QStringLiteral("имя не может содержать символы [ ] : * ? / \\."));
    if (name.startsWith(u'\'') || name.endsWith(u'\''))
        return fail(QStringLiteral("имя не может начинаться или заканчиваться апострофом."));
    for (const auto &s : sheets_)
        if (s.get() != sheet && s->name_.compare(name, Qt::CaseInsensitive) == 0)
            return fail(QStringLiteral("лист с таким именем уже есть в книге."));
    return true;
}

// --- the opened file ----------------------------------------------------------------------

// An opened workbook's file as it was read, for writing back what the
// layer does not model. Texts of XML parts are edited in place so that
// everything around the edit stays byte for byte.
struct ExcelWorkbook::FileSource {
    Package pkg;
    QString workbookPart, stylesPart;
    QString prefix;        // of the spreadsheet elements in the workbook part ("" or "x:")
    QStringList entries;   // the <sheet .../> elements of the workbook part, in order
    int fonts = 0, borders = 0, xfs = 0, nextNumFmt = 164;
};

namespace {

// A start tag whose attribute values may hold '>' ('(?:[^>"']|"[^"]*"|'[^']*')*').
const QString kAttrs = QStringLiteral("(?:[^>\"']|\"[^\"]*\"|'[^']*')*");

QRegularExpression elementRe(const QString &prefix, const QString &local, bool empty) {
    return QRegularExpression(QStringLiteral("<") + QRegularExpression::escape(prefix) + local +
                              QStringLiteral("(?=[\\s/>])") + kAttrs + (empty ? QStringLiteral("/>") : QStringLiteral(">")));
}

// The <prefix:sheet/> entries inside <sheets>; nothing when there is no list.
QStringList sheetEntries(const QString &xml, const QString &prefix, qsizetype *inner = nullptr,
                         qsizetype *innerEnd = nullptr) {
    const auto open = elementRe(prefix, QStringLiteral("sheets"), false).match(xml);
    if (!open.hasMatch() || open.captured().endsWith(QLatin1String("/>"))) return {};
    const qsizetype close = xml.indexOf(QStringLiteral("</") + prefix + QStringLiteral("sheets>"), open.capturedEnd());
    if (close < 0) return {};
    if (inner) *inner = open.capturedEnd();
    if (innerEnd) *innerEnd = close;
    QStringList out;
    auto it = elementRe(prefix, QStringLiteral("sheet"), true).globalMatch(xml.mid(open.capturedEnd(), close - open.capturedEnd()));
    while (it.hasNext()) out.append(it.next().captured());
    return out;
}

// Sets attribute name of the first start tag matched by re in text (adding it when missing).
void setAttribute(QString &text, const QRegularExpression &re, const QString &name, const QString &value) {
    const auto m = re.match(text);
    if (!m.hasMatch()) return;
    QString tag = m.captured();
    const QRegularExpression attr(QStringLiteral("(\\s") + name + QStringLiteral(")=(\"[^\"]*\"|'[^']*')"));
    const QString quoted = QLatin1Char('"') + value + QLatin1Char('"');
    if (tag.contains(attr)) tag.replace(attr, QStringLiteral("\\1=") + quoted);
    else tag.insert(tag.endsWith(QLatin1String("/>")) ? tag.size() - 2 : tag.size() - 1,
                    QLatin1Char(' ') + name + QLatin1Char('=') + quoted);
    text.replace(m.capturedStart(), m.capturedLength(), tag);
}

// Puts fragment at the end of the <prefix:local> list of text and adds added to its count;
// false when the list is missing.
bool appendToList(QString &text, const QString &prefix, const QString &local, const QString &fragment, int added) {
    const QRegularExpression re = elementRe(prefix, local, false);
    const auto m = re.match(text);
    if (!m.hasMatch() || m.captured().endsWith(QLatin1String("/>"))) return false;
    const QString close = QStringLiteral("</") + prefix + local + QLatin1Char('>');
    const qsizetype end = text.indexOf(close, m.capturedEnd());
    if (end < 0) return false;
    text.insert(end, fragment);
    const QRegularExpression count(QStringLiteral("\\scount=\"(\\d+)\""));
    const auto c = count.match(m.captured());
    if (c.hasMatch()) setAttribute(text, re, QStringLiteral("count"), QString::number(c.captured(1).toInt() + added));
    return true;
}

// Gives every element of a fragment written without prefix the prefix of the file.
QString withPrefix(const QString &fragment, const QString &prefix) {
    if (prefix.isEmpty()) return fragment;
    QString out = fragment;
    out.replace(QRegularExpression(QStringLiteral("<(/?)(?=[A-Za-z])")), QStringLiteral("<\\1") + prefix);
    return out;
}

QString prefixOfRoot(const QString &xml) {
    static const QRegularExpression root(QStringLiteral("<(?![?!])(\\w+:)?\\w+"));
    return root.match(xml).captured(1);
}

} // namespace

// --- writing -----------------------------------------------------------------------------

struct XlsxWriter {
    ExcelWorkbook &book;
    std::vector<ExcelSheet *> sheets;
    QStringList strings;
    QHash<QString, int> stringIndex;
    QStringList fonts, borders, xfs;
    QHash<QString, int> fontIndex, borderIndex, xfIndex;
    std::map<QString, int> customFormats;   // code -> id
    bool hasFormulas = false;
    // Adding to an opened file: strings inline, new styles after the file's own.
    bool merging = false;
    int fontBase = 0, borderBase = 0, xfBase = 0, firstNumFmt = 164;

    static void startDoc(QXmlStreamWriter &w) {
        w.setAutoFormatting(false);
        w.writeStartDocument(QStringLiteral("1.0"), true);
    }

    int stringId(const QString &s) {
        auto it = stringIndex.find(s);
        if (it != stringIndex.end()) return *it;
        const int id = int(strings.size());
        strings.append(s);
        stringIndex.insert(s, id);
        return id;
    }

    int formatId(const QString &code) {
        for (const auto &[id, c] : builtinFormats())
            if (c == code && (id <= 4 || id == 9 || id == 10 || id == 11 || id == 49)) return id;
        auto it = customFormats.find(code);
        if (it != customFormats.end()) return it->second;
        const int id = firstNumFmt + int(customFormats.size());
        customFormats[code] = id;
        return id;
    }

    static int intern(QStringList &list, QHash<QString, int> &index, const QString &xml) {
        auto it = index.find(xml);
        if (it != index.end()) return *it;
        const int id = int(list.size());
        list.append(xml);
        index.insert(xml, id);
        return id;
    }

    static QString esc(const QString &s) { return s.toHtmlEscaped(); }

    int styleId(const CellFormat &f) {
        if (merging && f == CellFormat()) return 0;
        QString font = QStringLiteral("<font>");
        if (f.bold) font += QStringLiteral("<b/>");
        if (f.italic) font += QStringLiteral("<i/>");
        font += QStringLiteral("<sz val=\"%1\"/><name val=\"%2\"/><family val=\"2\"/><charset val=\"204\"/></font>")
                    .arg(QString::number(f.fontSize, 'g', 6), esc(f.fontName));
        const int fontId = fontBase + intern(fonts, fontIndex, font);
        QString border = QStringLiteral("<border>");
        auto edge = [&](const char *tag, LineStyle s) {
            const QString n = lineName(s);
            if (n.isEmpty()) border += QStringLiteral("<%1/>").arg(QLatin1String(tag));
            else border += QStringLiteral("<%1 style=\"%2\"><color indexed=\"64\"/></%1>").arg(QLatin1String(tag), n);
        };
        edge("left", f.left);
        edge("right", f.right);
        edge("top", f.top);
        edge("bottom", f.bottom);
        edge("diagonal", LineStyle::None);
        border += QStringLiteral("</border>");
        const int borderId = borderBase + intern(borders, borderIndex, border);
        const int numFmt = formatId(f.numberFormat);
        QString align;
        HAlign h = f.hAlign;
        if (f.indent > 0 && h == HAlign::General) h = HAlign::Left;  // indent needs a side
        if (!hAlignName(h).isEmpty()) align += QStringLiteral(" horizontal=\"%1\"").arg(hAlignName(h));
        if (!vAlignName(f.vAlign).isEmpty()) align += QStringLiteral(" vertical=\"%1\"").arg(vAlignName(f.vAlign));
        if (f.rotation != 0) {
            // The file stores downward turns as 91..180.
            const int rot = f.rotation < 0 ? 90 - f.rotation : f.rotation;
            align += QStringLiteral(" textRotation=\"%1\"").arg(rot);
        }
        if (f.wrap) align += QStringLiteral(" wrapText=\"1\"");
        if (f.indent > 0) align += QStringLiteral(" indent=\"%1\"").arg(f.indent);
        QString xf = QStringLiteral("<xf numFmtId=\"%1\" fontId=\"%2\" fillId=\"0\" borderId=\"%3\" xfId=\"0\"")
                         .arg(numFmt).arg(fontId).arg(borderId);
        if (numFmt != 0) xf += QStringLiteral(" applyNumberFormat=\"1\"");
        if (fontId != 0) xf += QStringLiteral(" applyFont=\"1\"");
        if (borderId != 0) xf += QStringLiteral(" applyBorder=\"1\"");
        if (!align.isEmpty())
            xf += QStringLiteral(" applyAlignment=\"1\"><alignment") + align + QStringLiteral("/></xf>");
        else
            xf += QStringLiteral("/>");
        return xfBase + intern(xfs, xfIndex, xf);
    }

    QByteArray sheetXml(ExcelSheet &s, bool selected) {
        QByteArray out;
        QXmlStreamWriter w(&out);
        startDoc(w);
        w.writeStartElement(QStringLiteral("worksheet"));
        w.writeDefaultNamespace(kNsMain);
        w.writeNamespace(kNsR, QStringLiteral("r"));
        const RangeRef used = s.usedRange();
        w.writeEmptyElement(QStringLiteral("dimension"));
        w.writeAttribute(QStringLiteral("ref"), used.isEmpty() ? QStringLiteral("A1") : rangeName(used));
        w.writeStartElement(QStringLiteral("sheetViews"));
        w.writeStartElement(QStringLiteral("sheetView"));
        if (selected) w.writeAttribute(QStringLiteral("tabSelected"), QStringLiteral("1"));
        w.writeAttribute(QStringLiteral("workbookViewId"), QStringLiteral("0"));
        const CellRef fz = s.frozenAt();
        if (fz.row > 1 || fz.column > 1) {
            const QString pane = fz.row > 1 && fz.column > 1 ? QStringLiteral("bottomRight")
                                 : fz.row > 1               ? QStringLiteral("bottomLeft")
                                                            : QStringLiteral("topRight");
            w.writeEmptyElement(QStringLiteral("pane"));
            if (fz.column > 1) w.writeAttribute(QStringLiteral("xSplit"), QString::number(fz.column - 1));
            if (fz.row > 1) w.writeAttribute(QStringLiteral("ySplit"), QString::number(fz.row - 1));
            w.writeAttribute(QStringLiteral("topLeftCell"), cellName(fz.row, fz.column));
            w.writeAttribute(QStringLiteral("activePane"), pane);
            w.writeAttribute(QStringLiteral("state"), QStringLiteral("frozen"));
            w.writeEmptyElement(QStringLiteral("selection"));
            w.writeAttribute(QStringLiteral("pane"), pane);
            w.writeAttribute(QStringLiteral("activeCell"), cellName(fz.row, fz.column));
            w.writeAttribute(QStringLiteral("sqref"), cellName(fz.row, fz.column));
        }
        w.writeEndElement();
        w.writeEndElement();
        w.writeEmptyElement(QStringLiteral("sheetFormatPr"));
        w.writeAttribute(QStringLiteral("defaultRowHeight"), QString::number(kDefaultRowHeight));
        if (!s.widths_.empty()) {
            w.writeStartElement(QStringLiteral("cols"));
            for (const auto &[col, chars] : s.widths_) {
                w.writeEmptyElement(QStringLiteral("col"));
                w.writeAttribute(QStringLiteral("min"), QString::number(col));
                w.writeAttribute(QStringLiteral("max"), QString::number(col));
                w.writeAttribute(QStringLiteral("width"), QString::number(widthToFile(chars), 'g', 12));
                w.writeAttribute(QStringLiteral("customWidth"), QStringLiteral("1"));
            }
            w.writeEndElement();
        }
        w.writeStartElement(QStringLiteral("sheetData"));
        // Rows with cells or own heights, in order.
        std::map<int, bool> rows;
        for (const auto &[pos, cell] : s.cells_) rows[pos.first] = true;
        for (const auto &[row, h] : s.heights_) rows[row] = true;
        auto cellIt = s.cells_.begin();
        for (const auto &[row, unused] : rows) {
            w.writeStartElement(QStringLiteral("row"));
            w.writeAttribute(QStringLiteral("r"), QString::number(row));
            const double h = s.rowHeight(row);
            if (h > 0) {
                w.writeAttribute(QStringLiteral("ht"), QString::number(h, 'g', 12));
                w.writeAttribute(QStringLiteral("customHeight"), QStringLiteral("1"));
            }
            while (cellIt != s.cells_.end() && cellIt->first.first < row) ++cellIt;
            for (; cellIt != s.cells_.end() && cellIt->first.first == row; ++cellIt) {
                const auto &cell = cellIt->second;
                const int style = merging && cell.fileStyle >= 0 ? cell.fileStyle
                                  : cell.format                   ? styleId(*cell.format)
                                                                  : 0;
                if (!cell.value.isValid() && style == 0 && cell.formula.isEmpty()) continue;
                w.writeStartElement(QStringLiteral("c"));
                w.writeAttribute(QStringLiteral("r"), cellName(row, cellIt->first.second));
                if (style != 0) w.writeAttribute(QStringLiteral("s"), QString::number(style));
                if (!cell.formula.isEmpty()) {
                    hasFormulas = true;
                    const bool isText = cell.value.isValid() && cell.value.typeId() != QMetaType::Double;
                    if (isText) w.writeAttribute(QStringLiteral("t"), QStringLiteral("str"));
                    w.writeTextElement(QStringLiteral("f"), cell.formula);
                    if (cell.value.isValid())
                        w.writeTextElement(QStringLiteral("v"), isText ? cell.value.toString()
                                                                       : numberText(cell.value.toDouble()));
                } else if (cell.value.typeId() == QMetaType::Double) {
                    w.writeTextElement(QStringLiteral("v"), numberText(cell.value.toDouble()));
                } else if (cell.value.typeId() == QMetaType::Bool) {
                    w.writeAttribute(QStringLiteral("t"), QStringLiteral("b"));
                    w.writeTextElement(QStringLiteral("v"), cell.value.toBool() ? QStringLiteral("1") : QStringLiteral("0"));
                } else if (cell.value.isValid() && merging) {
                    // The file's shared strings stay as they are.
                    w.writeAttribute(QStringLiteral("t"), QStringLiteral("inlineStr"));
                    w.writeStartElement(QStringLiteral("is"));
                    w.writeStartElement(QStringLiteral("t"));
                    const QString text = cell.value.toString();
                    if (text != text.trimmed() || text.contains(u'\n'))
                        w.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
                    w.writeCharacters(text);
                    w.writeEndElement();
                    w.writeEndElement();
                } else if (cell.value.isValid()) {
                    w.writeAttribute(QStringLiteral("t"), QStringLiteral("s"));
                    w.writeTextElement(QStringLiteral("v"), QString::number(stringId(cell.value.toString())));
                }
                w.writeEndElement();
            }
            w.writeEndElement();
        }
        w.writeEndElement();  // sheetData
        if (!s.merges_.isEmpty()) {
            w.writeStartElement(QStringLiteral("mergeCells"));
            w.writeAttribute(QStringLiteral("count"), QString::number(s.merges_.size()));
            for (const RangeRef &m : s.merges_) {
                w.writeEmptyElement(QStringLiteral("mergeCell"));
                w.writeAttribute(QStringLiteral("ref"), rangeName(m));
            }
            w.writeEndElement();
        }
        w.writeEmptyElement(QStringLiteral("pageMargins"));
        w.writeAttribute(QStringLiteral("left"), QStringLiteral("0.7"));
        w.writeAttribute(QStringLiteral("right"), QStringLiteral("0.7"));
        w.writeAttribute(QStringLiteral("top"), QStringLiteral("0.75"));
        w.writeAttribute(QStringLiteral("bottom"), QStringLiteral("0.75"));
        w.writeAttribute(QStringLiteral("header"), QStringLiteral("0.3"));
        w.writeAttribute(QStringLiteral("footer"), QStringLiteral("0.3"));
        w.writeEndElement();
        w.writeEndDocument();
        return out;
    }

    QByteArray stylesXml() {
        QString x = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                                   "<styleSheet xmlns=\"%1\">").arg(kNsMain);
        if (!customFormats.empty()) {
            x += QStringLiteral("<numFmts count=\"%1\">").arg(customFormats.size());
            for (const auto &[code, id] : customFormats)
                x += QStringLiteral("<numFmt numFmtId=\"%1\" formatCode=\"%2\"/>").arg(id).arg(esc(code));
            x += QStringLiteral("</numFmts>");
        }
        x += QStringLiteral("<fonts count=\"%1\">").arg(fonts.size()) + fonts.join(QString()) +
             QStringLiteral("</fonts>");
        x += QStringLiteral("<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
                            "<fill><patternFill patternType=\"gray125\"/></fill></fills>");
        x += QStringLiteral("<borders count=\"%1\">").arg(borders.size()) + borders.join(QString()) +
             QStringLiteral("</borders>");
        x += QStringLiteral("<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
                            "borderId=\"0\"/></cellStyleXfs>");
        x += QStringLiteral("<cellXfs count=\"%1\">").arg(xfs.size()) + xfs.join(QString()) +
             QStringLiteral("</cellXfs>");
        x += QStringLiteral("<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/>"
                            "</cellStyles><dxfs count=\"0\"/><tableStyles count=\"0\"/></styleSheet>");
        return x.toUtf8();
    }

    QByteArray sharedStringsXml() {
        QByteArray out;
        QXmlStreamWriter w(&out);
        startDoc(w);
        w.writeStartElement(QStringLiteral("sst"));
        w.writeDefaultNamespace(kNsMain);
        w.writeAttribute(QStringLiteral("count"), QString::number(strings.size()));
        w.writeAttribute(QStringLiteral("uniqueCount"), QString::number(strings.size()));
        for (const QString &s : strings) {
            w.writeStartElement(QStringLiteral("si"));
            w.writeStartElement(QStringLiteral("t"));
            if (s != s.trimmed() || s.contains(u'\n'))
                w.writeAttribute(QStringLiteral("xml:space"), QStringLiteral("preserve"));
            w.writeCharacters(s);
            w.writeEndElement();
            w.writeEndElement();
        }
        w.writeEndElement();
        w.writeEndDocument();
        return out;
    }


    // Saves an opened workbook: the file's parts are written back as they
    // were; new sheets are added with their relationships, content types
    // and styles, sheets changed after opening are rewritten, and the sheet
    // list, the active tab and sheet-local names follow the new order.
    void writeMerged(const QString &path) {
        ExcelWorkbook::FileSource &src = *book.source_;
        Package pkg = src.pkg;
        merging = true;
        fontBase = src.fonts;
        borderBase = src.borders;
        xfBase = src.xfs;
        firstNumFmt = src.nextNumFmt;

        const QString wbRelsPart = relsPartFor(src.workbookPart);
        const int slash = int(src.workbookPart.lastIndexOf(u'/'));
        const QString wbFolder = src.workbookPart.left(slash + 1);
        QString wb = QString::fromUtf8(pkg.part(src.workbookPart));
        QString rels = QString::fromUtf8(pkg.part(wbRelsPart));
        QString types = QString::fromUtf8(pkg.part(QStringLiteral("[Content_Types].xml")));
        qsizetype inner = 0, innerEnd = 0;
        if (sheetEntries(wb, src.prefix, &inner, &innerEnd).size() != src.entries.size())
            throw Error(QStringLiteral("Список листов книги изменился после ее открытия"));

        // Entries the model does not hold (chart sheets) stay before the sheet that followed them.
        const int nEntries = int(src.entries.size()), nSheets = int(sheets.size());
        std::vector<int> sheetOfEntry(size_t(nEntries), -1);
        for (int i = 0; i < nSheets; ++i)
            if (sheets[size_t(i)]->fileEntry_ >= 0) sheetOfEntry[size_t(sheets[size_t(i)]->fileEntry_)] = i;
        std::vector<int> anchor(size_t(nEntries), -1);
        for (int k = nEntries - 1, next = -1; k >= 0; --k) {
            if (sheetOfEntry[size_t(k)] >= 0) next = sheetOfEntry[size_t(k)];
            else anchor[size_t(k)] = next;
        }
        int maxSheetId = 0;
        static const QRegularExpression sheetIdRe(QStringLiteral("\\ssheetId=\"(\\d+)\""));
        for (const QString &e : src.entries) maxSheetId = std::max(maxSheetId, sheetIdRe.match(e).captured(1).toInt());
        QString newRels, newTypes;
        auto freeRelId = [&] {
            for (int n = 1;; ++n) {
                const QString id = QStringLiteral("rId%1").arg(n);
                const QString attr = QStringLiteral("Id=\"") + id + u'"';
                if (!rels.contains(attr) && !newRels.contains(attr)) return id;
            }
        };
        auto freePart = [&] {
            for (int n = 1;; ++n) {
                const QString part = wbFolder + QStringLiteral("worksheets/sheet%1.xml").arg(n);
                if (!pkg.has(part)) return part;
            }
        };

        QStringList out;
        std::vector<int> newIndexOfEntry(size_t(nEntries), -1);
        auto emitLeftovers = [&](int sheet) {
            for (int k = 0; k < nEntries; ++k)
                if (sheetOfEntry[size_t(k)] < 0 && anchor[size_t(k)] == sheet) {
                    newIndexOfEntry[size_t(k)] = int(out.size());
                    out.append(src.entries[k]);
                }
        };
        int activeOut = 0;
        std::vector<int> newEntryOfSheet(size_t(nSheets), -1);
        for (int i = 0; i < nSheets; ++i) {
            ExcelSheet &s = *sheets[size_t(i)];
            const bool active = i == book.active_;
            emitLeftovers(i);
            if (active) activeOut = int(out.size());
            newEntryOfSheet[size_t(i)] = int(out.size());
            if (s.filePart_.isEmpty()) {
                s.filePart_ = freePart();
                const QString relId = freeRelId();
                newRels += QStringLiteral("<Relationship Id=\"%1\" Type=\"%2worksheet\" Target=\"%3\"/>")
                               .arg(relId, kRelBase, s.filePart_.mid(wbFolder.size()));
                newTypes += QStringLiteral("<Override PartName=\"/%1\" ContentType=\"application/"
                                           "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>")
                                .arg(s.filePart_);
                // The relationship prefix is declared on the entry unless the workbook binds it.
                const QString rns = QStringLiteral(" xmlns:r=\"%1\"").arg(kNsR);
                out.append(withPrefix(QStringLiteral("<sheet%1 name=\"%2\" sheetId=\"%3\" r:id=\"%4\"/>")
                                          .arg(wb.left(inner).contains(rns) ? QString() : rns, esc(s.name_))
                                          .arg(++maxSheetId)
                                          .arg(relId),
                                      src.prefix));
                pkg.setPart(s.filePart_, sheetXml(s, active));
                continue;
            }
            newIndexOfEntry[size_t(s.fileEntry_)] = int(out.size());
            QString entry = src.entries[s.fileEntry_];
            if (s.name_ != s.fileName_)
                setAttribute(entry, elementRe(src.prefix, QStringLiteral("sheet"), true), QStringLiteral("name"),
                             esc(s.name_));
            out.append(entry);
            if (s.changed_) {
                pkg.setPart(s.filePart_, sheetXml(s, active));
            } else if (!active) {
                // Only the active sheet is selected; two selected sheets would be edited together.
                QString xml = QString::fromUtf8(pkg.part(s.filePart_));
                static const QRegularExpression selected(QStringLiteral("\\stabSelected=\"(?:1|true)\""));
                if (xml.contains(selected)) pkg.setPart(s.filePart_, xml.remove(selected).toUtf8());
            }
        }
        emitLeftovers(-1);

        // The workbook part: sheet list, active tab, sheet-local names.
        QString list;
        for (const QString &e : out) list += e;
        wb.replace(inner, innerEnd - inner, list);
        setAttribute(wb, elementRe(src.prefix, QStringLiteral("workbookView"), true), QStringLiteral("activeTab"),
                     QString::number(activeOut));
        if (!elementRe(src.prefix, QStringLiteral("workbookView"), true).match(wb).hasMatch())
            setAttribute(wb, elementRe(src.prefix, QStringLiteral("workbookView"), false), QStringLiteral("activeTab"),
                         QString::number(activeOut));
        static const QRegularExpression localId(QStringLiteral("(\\slocalSheetId=\")(\\d+)\""));
        QString remapped;
        qsizetype last = 0;
        for (auto it = localId.globalMatch(wb); it.hasNext();) {
            const auto m = it.next();
            const int old = m.captured(2).toInt();
            const int now = old >= 0 && old < nEntries && newIndexOfEntry[size_t(old)] >= 0 ? newIndexOfEntry[size_t(old)] : old;
            remapped += QStringView(wb).mid(last, m.capturedStart(2) - last);
            remapped += QString::number(now);
            last = m.capturedEnd(2);
        }
        remapped += QStringView(wb).mid(last);
        if (hasFormulas) {
            // Values written over cells others refer to: the spreadsheet recalculates on opening.
            const QRegularExpression calc = elementRe(src.prefix, QStringLiteral("calcPr"), true);
            if (calc.match(remapped).hasMatch()) {
                setAttribute(remapped, calc, QStringLiteral("fullCalcOnLoad"), QStringLiteral("1"));
            } else {
                qsizetype at = -1;
                for (const char *after : {"sheets", "externalReferences", "definedNames"}) {
                    const qsizetype end = remapped.indexOf(QStringLiteral("</") + src.prefix + QLatin1String(after) +
                                                           QLatin1Char('>'));
                    if (end >= 0) at = std::max(at, remapped.indexOf(u'>', end) + 1);
                }
                if (at > 0)
                    remapped.insert(at, withPrefix(QStringLiteral("<calcPr fullCalcOnLoad=\"1\"/>"), src.prefix));
            }
        }
        pkg.setPart(src.workbookPart, remapped.toUtf8());

        if (!newRels.isEmpty()) {
            QString r = QString::fromUtf8(src.pkg.part(wbRelsPart));
            const qsizetype end = r.lastIndexOf(QStringLiteral("</"));
            if (end < 0) throw Error(QStringLiteral("Связи книги повреждены: ") + wbRelsPart);
            r.insert(end, withPrefix(newRels, prefixOfRoot(r)));
            pkg.setPart(wbRelsPart, r.toUtf8());
            const qsizetype tend = types.lastIndexOf(QStringLiteral("</"));
            if (tend < 0) throw Error(QStringLiteral("Список типов частей книги поврежден"));
            types.insert(tend, withPrefix(newTypes, prefixOfRoot(types)));
            pkg.setPart(QStringLiteral("[Content_Types].xml"), types.toUtf8());
        }

        // New styles after the file's own.
        if (!fonts.isEmpty() || !borders.isEmpty() || !xfs.isEmpty() || !customFormats.empty()) {
            if (src.stylesPart.isEmpty()) throw Error(QStringLiteral("В книге нет части стилей"));
            QString st = QString::fromUtf8(pkg.part(src.stylesPart));
            const QString p = prefixOfRoot(st);
            if (!customFormats.empty()) {
                QString formats;
                for (const auto &[code, id] : customFormats)
                    formats += QStringLiteral("<numFmt numFmtId=\"%1\" formatCode=\"%2\"/>").arg(id).arg(esc(code));
                if (!appendToList(st, p, QStringLiteral("numFmts"), withPrefix(formats, p), int(customFormats.size()))) {
                    const auto root = elementRe(p, QStringLiteral("styleSheet"), false).match(st);
                    if (!root.hasMatch()) throw Error(QStringLiteral("Часть стилей книги повреждена"));
                    st.insert(root.capturedEnd(), withPrefix(QStringLiteral("<numFmts count=\"%1\">%2</numFmts>")
                                                                 .arg(customFormats.size())
                                                                 .arg(formats),
                                                             p));
                }
            }
            if (!appendToList(st, p, QStringLiteral("fonts"), withPrefix(fonts.join(QString()), p), int(fonts.size())) ||
                !appendToList(st, p, QStringLiteral("borders"), withPrefix(borders.join(QString()), p),
                              int(borders.size())) ||
                !appendToList(st, p, QStringLiteral("cellXfs"), withPrefix(xfs.join(QString()), p), int(xfs.size())))
                throw Error(QStringLiteral("Часть стилей книги не содержит списков шрифтов, границ или форматов"));
            pkg.setPart(src.stylesPart, st.toUtf8());
        }

        pkg.write(path);

        // The file written is now the one the workbook came from.
        src.pkg = std::move(pkg);
        src.entries = out;
        src.fonts += int(fonts.size());
        src.borders += int(borders.size());
        src.xfs += int(xfs.size());
        src.nextNumFmt += int(customFormats.size());
        for (int i = 0; i < nSheets; ++i) {
            ExcelSheet &s = *sheets[size_t(i)];
            s.fileEntry_ = newEntryOfSheet[size_t(i)];
            s.fileName_ = s.name_;
            s.changed_ = false;
        }
    }

    void write(const QString &path) {
        // The default format is style 0.
        styleId(CellFormat());
        Package pkg;
        QString types = QStringLiteral(
            "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
            "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
            "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
            "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
            "<Override PartName=\"/xl/workbook.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
            "<Override PartName=\"/xl/styles.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
            "<Override PartName=\"/xl/sharedStrings.xml\" "
            "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>");
        QString wbRels = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                                        "<Relationships xmlns=\"%1\">").arg(kNsPkgRel);
        QString wbSheets;
        const int active = book.indexOf(book.activeSheet());
        for (int i = 1; i <= int(sheets.size()); ++i) {
            ExcelSheet &s = *sheets[size_t(i - 1)];
            const QString part = QStringLiteral("xl/worksheets/sheet%1.xml").arg(i);
            pkg.setPart(part, sheetXml(s, i == active));
            types += QStringLiteral("<Override PartName=\"/%1\" ContentType=\"application/"
                                    "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>").arg(part);
            wbRels += QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2worksheet\" Target=\"worksheets/sheet%1.xml\"/>")
                          .arg(i).arg(kRelBase);
            wbSheets += QStringLiteral("<sheet name=\"%1\" sheetId=\"%2\" r:id=\"rId%2\"/>").arg(esc(s.name())).arg(i);
        }
        const int n = int(sheets.size());
        wbRels += QStringLiteral("<Relationship Id=\"rId%1\" Type=\"%2styles\" Target=\"styles.xml\"/>"
                                 "<Relationship Id=\"rId%3\" Type=\"%2sharedStrings\" Target=\"sharedStrings.xml\"/>"
                                 "</Relationships>").arg(n + 1).arg(kRelBase).arg(n + 2);
        types += QStringLiteral("</Types>");
        const QString workbook =
            QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                           "<workbook xmlns=\"%1\" xmlns:r=\"%2\"><bookViews><workbookView activeTab=\"%3\"/>"
                           "</bookViews><sheets>%4</sheets><calcPr calcId=\"191029\"%5/></workbook>")
                .arg(kNsMain, kNsR).arg(active - 1).arg(wbSheets)
                .arg(hasFormulas ? QStringLiteral(" fullCalcOnLoad=\"1\"") : QString());
        pkg.setPart(QStringLiteral("[Content_Types].xml"), types.toUtf8());
        pkg.setPart(QStringLiteral("_rels/.rels"),
                    QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                                   "<Relationships xmlns=\"%1\"><Relationship Id=\"rId1\" "
                                   "Type=\"%2officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>")
                        .arg(kNsPkgRel, kRelBase).toUtf8());
        pkg.setPart(QStringLiteral("xl/workbook.xml"), workbook.toUtf8());
        pkg.setPart(QStringLiteral("xl/_rels/workbook.xml.rels"), wbRels.toUtf8());
        pkg.setPart(QStringLiteral("xl/styles.xml"), stylesXml());
        pkg.setPart(QStringLiteral("xl/sharedStrings.xml"), sharedStringsXml());
        pkg.write(path);
    }
};

void ExcelWorkbook::saveAs(const QString &path) {
    XlsxWriter w{*this, {}, {}, {}, {}, {}, {}, {}, {}, {}, {}, false};
    for (auto &s : sheets_) w.sheets.push_back(s.get());
    if (source_) w.writeMerged(path);
    else w.write(path);
    path_ = path;
}

// --- reading -------------------------------------------------------------------------------

struct XlsxReader {
    Package pkg;
    QStringList strings;
    std::vector<CellFormat> xfs;
    int fontCount = 0, borderCount = 0, nextNumFmt = 164;

    QDomDocument xml(const QString &part) {
        if (!pkg.has(part)) throw Error(QStringLiteral("В книге нет части ") + part);
        return parseXml(pkg.part(part), part, true);
    }

    std::map<QString, QString> rels(const QString &owner) {
        std::map<QString, QString> out;
        const QString name = relsPartFor(owner);
        if (!pkg.has(name)) return out;
        const QDomDocument d = xml(name);
        for (const QDomElement &r : children(d.documentElement(), "Relationship"))
            out[r.attribute("Id")] = r.attribute("TargetMode") == QLatin1String("External")
                                         ? QString()
                                         : resolveTarget(owner, r.attribute("Target"));
        return out;
    }

    QString relByType(const QString &owner, const QString &typeTail) {
        const QString name = relsPartFor(owner);
        if (!pkg.has(name)) return {};
        const QDomDocument d = xml(name);
        for (const QDomElement &r : children(d.documentElement(), "Relationship"))
            if (r.attribute("Type").endsWith(typeTail)) return resolveTarget(owner, r.attribute("Target"));
        return {};
    }

    void readStrings(const QString &part) {
        if (part.isEmpty() || !pkg.has(part)) return;
        const QDomDocument d = xml(part);
        for (const QDomElement &si : children(d.documentElement(), "si")) strings.append(allText(si));
    }

    void readStyles(const QString &part) {
        if (part.isEmpty() || !pkg.has(part)) return;
        const QDomDocument d = xml(part);
        const QDomElement root = d.documentElement();
        std::map<int, QString> formats = builtinFormats();
        for (const QDomElement &f : children(child(root, "numFmts"), "numFmt")) {
            formats[f.attribute("numFmtId").toInt()] = f.attribute("formatCode");
            nextNumFmt = std::max(nextNumFmt, f.attribute("numFmtId").toInt() + 1);
        }
        struct Font { QString name; double size; bool bold, italic; };
        std::vector<Font> fonts;
        for (const QDomElement &f : children(child(root, "fonts"), "font")) {
            Font ft{QStringLiteral("Arial"), 10, false, false};
            const QDomElement name = child(f, "name");
            if (!name.isNull()) ft.name = name.attribute("val");
            const QDomElement sz = child(f, "sz");
            if (!sz.isNull()) ft.size = sz.attribute("val").toDouble();
            const QDomElement b = child(f, "b"), i = child(f, "i");
            ft.bold = !b.isNull() && boolAttr(b, "val", true);
            ft.italic = !i.isNull() && boolAttr(i, "val", true);
            fonts.push_back(ft);
        }
        struct Border { LineStyle l, r, t, b; };
        std::vector<Border> borders;
        for (const QDomElement &b : children(child(root, "borders"), "border")) {
            auto side = [&](const char *a, const char *b2) {
                QDomElement e = child(b, QLatin1String(a));
                if (e.isNull()) e = child(b, QLatin1String(b2));
                return lineFrom(e.attribute("style"));
            };
            borders.push_back({side("left", "start"), side("right", "end"), side("top", "top"),
                               side("bottom", "bottom")});
        }
        for (const QDomElement &x : children(child(root, "cellXfs"), "xf")) {
            CellFormat f;
            const auto fmt = formats.find(x.attribute("numFmtId").toInt());
            if (fmt != formats.end()) f.numberFormat = fmt->second;
            const size_t fontId = size_t(x.attribute("fontId").toInt());
            if (fontId < fonts.size()) {
                f.fontName = fonts[fontId].name;
                f.fontSize = fonts[fontId].size;
                f.bold = fonts[fontId].bold;
                f.italic = fonts[fontId].italic;
            }
            const size_t borderId = size_t(x.attribute("borderId").toInt());
            if (borderId < borders.size()) {
                f.left = borders[borderId].l;
                f.right = borders[borderId].r;
                f.top = borders[borderId].t;
                f.bottom = borders[borderId].b;
            }
            const QDomElement a = child(x, "alignment");
            if (!a.isNull()) {
                f.hAlign = hAlignFrom(a.attribute("horizontal"));
                f.vAlign = vAlignFrom(a.attribute("vertical"));
                f.wrap = boolAttr(a, "wrapText", false);
                const int rot = a.attribute("textRotation").toInt();
                f.rotation = rot > 90 && rot <= 180 ? 90 - rot : rot;
                f.indent = a.attribute("indent").toInt();
            }
            xfs.push_back(f);
        }
        fontCount = int(fonts.size());
        borderCount = int(borders.size());
    }

    void readSheet(ExcelSheet &s, const QString &part) {
        const QDomDocument d = xml(part);
        const QDomElement root = d.documentElement();
        const QDomElement view = child(child(root, "sheetViews"), "sheetView");
        const QDomElement pane = child(view, "pane");
        if (!pane.isNull() && pane.attribute("state").startsWith(QLatin1String("frozen"))) {
            const int x = int(pane.attribute("xSplit").toDouble());
            const int y = int(pane.attribute("ySplit").toDouble());
            s.frozen_ = {y + 1, x + 1};
        }
        for (const QDomElement &c : children(child(root, "cols"), "col")) {
            if (!boolAttr(c, "customWidth", false) && !boolAttr(c, "bestFit", false)) continue;
            const int min = c.attribute("min").toInt(), max = c.attribute("max").toInt();
            if (min < 1 || max < min || max - min > 1000 || max > kMaxColumns) continue;
            const double chars = widthFromFile(c.attribute("width").toDouble());
            for (int i = min; i <= max; ++i)
                if (chars > 0) s.widths_[i] = chars;
        }
        int rowNo = 0;
        for (const QDomElement &row : children(child(root, "sheetData"), "row")) {
            rowNo = row.hasAttribute("r") ? row.attribute("r").toInt() : rowNo + 1;
            if (rowNo < 1 || rowNo > kMaxRows) continue;
            if (row.hasAttribute("ht") && boolAttr(row, "customHeight", false))
                s.heights_[rowNo] = row.attribute("ht").toDouble();
            int colNo = 0;
            for (const QDomElement &c : children(row, "c")) {
                const CellRef ref = c.hasAttribute("r") ? parseCellName(c.attribute("r")) : CellRef{rowNo, colNo + 1};
                if (ref.row <= 0) continue;
                colNo = ref.column;
                const QString type = c.attribute("t", QStringLiteral("n"));
                const QDomElement v = child(c, "v");
                QVariant value;
                if (type == QLatin1String("s")) {
                    const int i = v.text().toInt();
                    if (!v.isNull() && i >= 0 && i < strings.size()) value = strings[i];
                } else if (type == QLatin1String("inlineStr")) {
                    value = allText(child(c, "is"));
                } else if (type == QLatin1String("str") || type == QLatin1String("e")) {
                    if (!v.isNull()) value = v.text();
                } else if (type == QLatin1String("b")) {
                    if (!v.isNull()) value = v.text().trimmed() == QLatin1String("1");
                } else if (!v.isNull()) {
                    // A number that does not fit a double stays text: the reader tells it, never drops it.
                    bool ok = false;
                    const double dv = v.text().trimmed().toDouble(&ok);
                    if (ok && std::isfinite(dv)) value = dv;
                    else value = v.text().trimmed();
                }
                auto &cell = s.cells_[{ref.row, ref.column}];
                if (value.isValid() && !(value.typeId() == QMetaType::QString && value.toString().isEmpty()))
                    cell.value = value;
                const QDomElement f = child(c, "f");
                cell.formulaCell = !f.isNull();
                if (!f.isNull() && !f.text().trimmed().isEmpty() &&
                    (!f.hasAttribute("t") || f.attribute("t") == QLatin1String("normal")))
                    cell.formula = f.text();
                const size_t st = size_t(c.attribute("s").toInt());
                if (st > 0 && st < xfs.size()) {
                    cell.format = xfs[st];
                    cell.fileStyle = int(st);
                }
                if (!cell.value.isValid() && !cell.format && cell.formula.isEmpty() && !cell.formulaCell)
                    s.cells_.erase({ref.row, ref.column});
            }
        }
        for (const QDomElement &m : children(child(root, "mergeCells"), "mergeCell")) {
            const RangeRef r = parseRange(m.attribute("ref"));
            if (!r.isEmpty()) s.merges_.append(r);
        }
    }

    ExcelWorkbook read(const QString &path) {
        pkg = Package::read(path);
        const QString wbPart = relByType(QString(), QStringLiteral("/officeDocument"));
        if (wbPart.isEmpty() || !pkg.has(wbPart))
            throw Error(QStringLiteral("Файл ") + path + QStringLiteral(" не является книгой Excel (.xlsx)."));
        readStrings(relByType(wbPart, QStringLiteral("/sharedStrings")));
        const QString stylesPart = relByType(wbPart, QStringLiteral("/styles"));
        readStyles(stylesPart);
        const auto wbRels = rels(wbPart);
        const QDomDocument wb = xml(wbPart);
        ExcelWorkbook book;
        const QList<QDomElement> entries = children(child(wb.documentElement(), "sheets"), "sheet");
        for (int k = 0; k < entries.size(); ++k) {
            const QDomElement &sh = entries[k];
            const QString rid = sh.attributeNS(kNsR, "id");
            const auto it = wbRels.find(rid);
            if (it == wbRels.end() || !pkg.has(it->second)) continue;  // chart sheets and the like
            const QDomDocument probe = xml(it->second);
            if (probe.documentElement().localName() != QLatin1String("worksheet")) continue;
            ExcelSheet &s = book.insertSheet(int(book.sheets_.size()));
            s.name_ = sh.attribute("name");
            readSheet(s, it->second);
            s.filePart_ = it->second;
            s.fileEntry_ = k;
            s.fileName_ = s.name_;
        }
        if (book.sheets_.empty())
            throw Error(QStringLiteral("В книге ") + path + QStringLiteral(" нет листов."));
        const int active = child(child(wb.documentElement(), "bookViews"), "workbookView").attribute("activeTab").toInt();
        book.active_ = std::clamp(active, 0, int(book.sheets_.size()) - 1);
        book.path_ = path;
        keepSource(book, wbPart, stylesPart, entries.size());
        return book;
    }

    // Keeps the file for writing it back; a sheet list the text edits cannot
    // find as parsed leaves the workbook to be written from the model alone.
    void keepSource(ExcelWorkbook &book, const QString &wbPart, const QString &stylesPart, qsizetype entryCount) {
        auto src = std::make_shared<ExcelWorkbook::FileSource>();
        const QString text = QString::fromUtf8(pkg.part(wbPart));
        src->prefix = prefixOfRoot(text);
        src->entries = sheetEntries(text, src->prefix);
        if (src->entries.size() != entryCount) return;
        src->workbookPart = wbPart;
        src->stylesPart = stylesPart;
        src->fonts = fontCount;
        src->borders = borderCount;
        src->xfs = int(xfs.size());
        src->nextNumFmt = nextNumFmt;
        src->pkg = std::move(pkg);
        book.source_ = std::move(src);
    }
};

ExcelWorkbook ExcelWorkbook::open(const QString &path) {
    const QString file = openXmlVersion(path, QStringLiteral("xlsx"));
    XlsxReader r;
    ExcelWorkbook b = r.read(file);
    b.path_ = path;
    return b;
}

} // namespace office
