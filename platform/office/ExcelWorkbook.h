#pragma once
// Excel workbooks as .xlsx files. The classes follow the spreadsheet object
// model the output code was written against (workbook, sheets, cells,
// ranges, formats, merges, widths, borders, frozen panes) and write or read
// the file itself: nothing is started, nothing is shown. office::show
// (Show.h) saves a workbook and hands it to the desktop.
//
// Rows and columns are 1-based. Alignment, border and line-style values
// carry the spreadsheet program's own constants, so code written against
// them reads the same (HAlign::Left == -4131, BorderIndex::EdgeLeft == 7,
// LineStyle::Continuous == 1).
#include "platform/office/OfficeError.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace office {

enum class HAlign { General = 1, Left = -4131, Center = -4108, Right = -4152, Justify = -4130 };
enum class VAlign { Top = -4160, Center = -4108, Bottom = -4107, Justify = -4130 };
enum class BorderIndex { EdgeLeft = 7, EdgeTop = 8, EdgeBottom = 9, EdgeRight = 10, InsideVertical = 11,
                         InsideHorizontal = 12 };
enum class LineStyle { None = -4142, Continuous = 1, Medium = 2, Thick = 3, Dash = -4115, Dot = -4118,
                       Double = -4119 };

struct CellFormat {
    QString numberFormat = QStringLiteral("General");
    QString fontName = QStringLiteral("Arial");
    double fontSize = 10;
    bool bold = false;
    bool italic = false;
    HAlign hAlign = HAlign::General;
    VAlign vAlign = VAlign::Bottom;
    bool wrap = false;
    int rotation = 0;   // degrees, 0..90 (counter-clockwise) or 255 (stacked)
    int indent = 0;
    LineStyle left = LineStyle::None, top = LineStyle::None, right = LineStyle::None, bottom = LineStyle::None;
    bool operator==(const CellFormat &) const = default;
};

struct CellRef {
    int row = 0;
    int column = 0;
    bool operator==(const CellRef &) const = default;
};

struct RangeRef {
    int firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
    bool isEmpty() const { return firstRow <= 0 || firstColumn <= 0; }
    bool contains(int row, int column) const {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
    bool intersects(const RangeRef &o) const {
        return firstRow <= o.lastRow && o.firstRow <= lastRow && firstColumn <= o.lastColumn &&
               o.firstColumn <= lastColumn;
    }
    bool operator==(const RangeRef &) const = default;
};

// "A1"-style names: column 1 -> "A", 28 -> "AB"; (2, 3) -> "C2".
QString columnName(int column);
QString cellName(int row, int column);
// "C2" -> {2, 3}; {0, 0} when the text is no cell name.
CellRef parseCellName(const QString &name);

class ExcelWorkbook;
class ExcelSheet;

// A rectangle of one sheet; its setters apply to every cell of it (a
// merged range included). Cheap to copy.
class ExcelRange {
public:
    ExcelRange(ExcelSheet *sheet, const RangeRef &ref) : sheet_(sheet), ref_(ref) {}
    const RangeRef &ref() const { return ref_; }

    ExcelRange &setValue(const QVariant &value);          // every cell
    ExcelRange &setNumberFormat(const QString &format);   // "@", "0", "0.00", ...
    ExcelRange &setWrapText(bool wrap);
    ExcelRange &setFontName(const QString &name);
    ExcelRange &setFontSize(double points);
    ExcelRange &setBold(bool bold);
    ExcelRange &setItalic(bool italic);
    ExcelRange &setHorizontalAlignment(HAlign a);
    ExcelRange &setVerticalAlignment(VAlign a);
    ExcelRange &setOrientation(int degrees);              // 90: turned a quarter turn
    ExcelRange &setIndentLevel(int level);
    // Borders(index).LineStyle = style.
    ExcelRange &setBorder(BorderIndex index, LineStyle style);
    // All six border indices at once (the thin grid of a table).
    ExcelRange &setAllBorders(LineStyle style = LineStyle::Continuous);
    // MergeCells = true. A single cell is left alone; a range overlapping an
    // existing merge is refused with office::Error.
    ExcelRange &merge();

private:
    template <class F> ExcelRange &apply(F f);
    ExcelSheet *sheet_;
    RangeRef ref_;
};

// The name as a sheet can hold it: each of [ ] : * ? / \ becomes '_', an
// apostrophe at either end too, and the name is cut to 31 characters (a
// surrogate pair is kept whole); an empty name stays empty. Every writer
// that names a sheet after a name users give mends it here.
QString fittedSheetName(const QString &name);

class ExcelSheet {
public:
    QString name() const { return name_; }
    // Name = text. Refused with office::Error (Russian message) when the
    // name breaks the rules (empty, more than 31 characters, one of
    // [ ] : * ? / \, an apostrophe at either end) or another sheet of the
    // workbook has it (case-insensitively).
    void setName(const QString &name);
    // The same, answering false instead of throwing; the name stays.
    bool trySetName(const QString &name);

    // Cells(row, column).Value: empty QVariant, double or QString.
    void setValue(int row, int column, const QVariant &value);
    QVariant value(int row, int column) const;
    // The value as text: numbers in the shortest form (12.5, 3).
    QString text(int row, int column) const;
    bool hasValue(int row, int column) const;
    // True when an opened file gave the cell a formula (shared ones included);
    // its value is then the result the file stored, empty when none was.
    bool isFormula(int row, int column) const;

    // Formatting of one cell (the default when the cell has none).
    CellFormat format(int row, int column) const;

    ExcelRange cell(int row, int column) { return ExcelRange(this, {row, column, row, column}); }
    ExcelRange range(int firstRow, int firstColumn, int lastRow, int lastColumn);
    ExcelRange range(const RangeRef &r) { return range(r.firstRow, r.firstColumn, r.lastRow, r.lastColumn); }

    // Columns(i).ColumnWidth in characters of the standard font; 0 = default.
    void setColumnWidth(int column, double characters);
    double columnWidth(int column) const;
    // Rows(i).RowHeight in points; 0 = default.
    void setRowHeight(int row, double points);
    double rowHeight(int row) const;

    QList<RangeRef> merges() const { return merges_; }
    // The merge that contains the cell, if any.
    std::optional<RangeRef> mergeAt(int row, int column) const;

    // Select cell (row, column) and FreezePanes: rows above and columns to
    // the left stay in place. (1, 1) removes the freeze.
    void freezePanes(int row, int column);
    CellRef frozenAt() const { return frozen_; }   // {1, 1} when none

    // UsedRange: the smallest rectangle holding every cell with a value or
    // formatting (merges included); empty when the sheet is empty.
    RangeRef usedRange() const;

    ExcelWorkbook &workbook() const { return *book_; }

private:
    friend class ExcelWorkbook;
    friend class ExcelRange;
    friend struct XlsxWriter;
    friend struct XlsxReader;
    struct Cell {
        QVariant value;
        std::optional<CellFormat> format;
        QString formula;   // kept from an opened file; dropped when the value is set
        bool formulaCell = false;   // the opened file gave it a formula
        int fileStyle = -1; // style index in the opened file while the format is unchanged
    };
    ExcelSheet(ExcelWorkbook *book, const QString &name) : book_(book), name_(name) {}
    Cell &cellData(int row, int column);
    static void checkCell(int row, int column);

    ExcelWorkbook *book_;
    QString name_;
    std::map<std::pair<int, int>, Cell> cells_;   // (row, column)
    std::map<int, double> widths_;                // column -> characters
    std::map<int, double> heights_;               // row -> points
    QList<RangeRef> merges_;
    CellRef frozen_{1, 1};
    // Where the sheet came from in an opened file: its part, its entry in the
    // workbook's sheet list and its name there; changed_ once anything of it
    // is set after opening.
    QString filePart_;
    int fileEntry_ = -1;
    QString fileName_;
    bool changed_ = false;
};

class ExcelWorkbook {
public:
    // Workbooks.Add: one empty sheet "Лист1".
    static ExcelWorkbook create();
    // Workbooks.Open(path): .xlsx (and .xls through the converter). Reads
    // values, number formats, fonts, alignments, borders, merges, widths,
    // heights and frozen panes. Throws office::Error.
    // saveAs of an opened workbook writes every part of the file back as it
    // was (styles with their fills, comments, drawings, shared strings,
    // other sheets), adds the new sheets and their styles, and rewrites only
    // the sheets changed after opening (their cells keep their styles; what
    // else the layer does not model in those sheets is not kept).
    static ExcelWorkbook open(const QString &path);

    ExcelWorkbook(ExcelWorkbook &&) noexcept;
    ExcelWorkbook &operator=(ExcelWorkbook &&) noexcept;
    ~ExcelWorkbook();

    // Where the workbook was opened from or last saved to; empty when new.
    QString path() const { return path_; }
    // Name as the spreadsheet program shows it: the file name, or "Книга1".
    QString name() const;

    int sheetCount() const { return int(sheets_.size()); }
    ExcelSheet &sheet(int index);                        // 1-based; throws when missing
    ExcelSheet *findSheet(const QString &name);          // case-insensitive; nullptr when none
    int indexOf(const ExcelSheet &sheet) const;          // 1-based
    ExcelSheet &activeSheet();
    void activate(ExcelSheet &sheet);

    // Sheets.Add(): a new sheet before the active one, which it becomes.
    ExcelSheet &addSheet();
    // Sheets.Add(Before) / Sheets.Add(, After): the new sheet becomes active.
    ExcelSheet &addSheetBefore(ExcelSheet &before);
    ExcelSheet &addSheetAfter(ExcelSheet &after);

    // True when name may be given to sheet (rules of ExcelSheet::setName);
    // otherwise false with the reason in *why.
    bool isValidSheetName(const QString &name, const ExcelSheet *sheet, QString *why = nullptr) const;

    // SaveAs(path) as .xlsx. Throws office::Error.
    void saveAs(const QString &path);

private:
    friend struct XlsxReader;
    friend struct XlsxWriter;
    struct FileSource;
    ExcelWorkbook() = default;
    ExcelSheet &insertSheet(int position);
    QString nextSheetName() const;

    std::vector<std::unique_ptr<ExcelSheet>> sheets_;
    int active_ = 0;   // 0-based
    QString path_;
    std::shared_ptr<FileSource> source_;   // the opened file; null for a new workbook
};

} // namespace office
