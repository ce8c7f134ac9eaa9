#pragma once
// Word documents as .docx files. The classes follow the object model the
// printing code was written against (documents, tables, cells, rows,
// sections, headers, page setup, protection), but work on the file itself:
// nothing is started, nothing is shown. office::show (Show.h) saves a
// document and hands it to the desktop.
//
// Numbering is 1-based everywhere, as in Word. Texts use "\r" (or "\n", or
// the pairs "\r\n" and "\n\r") as paragraph breaks and "\t" as a tab.
//
// A table's cells are addressed two ways:
//  * cell(row, column) - Word's numbering: column is the position of the
//    cell among the cells of that row, a cell merged across columns counts
//    once, and the lower parts of a cell merged down the rows are missing
//    (hasCell() is false, cellText() throws) while keeping their numbers;
//  * gridCells() - the table's grid: every cell at the grid column where it
//    starts, with its row and column spans; merged-over positions are absent.
#include "platform/office/OfficeError.h"

#include <QDomElement>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace office {

struct WordDocumentData;
struct HeaderModel;

enum class ParaAlign { Left = 0, Center = 1, Right = 2, Justify = 3 };
enum class Orientation { Portrait = 0, Landscape = 1 };
// Headers.Item(1..3).
enum class HeaderKind { Primary = 1, FirstPage = 2, EvenPages = 3 };

struct ParagraphFormat {
    bool bold = false;
    bool italic = false;
    ParaAlign align = ParaAlign::Left;
    double fontSize = 0;  // points; 0 keeps the style's size
};

// One cell of the table grid.
struct GridCell {
    int row = 0;         // 1-based table row where the cell starts
    int column = 0;      // 1-based grid column where the cell starts
    int rowSpan = 1;
    int colSpan = 1;
    int wordColumn = 0;  // the cell's number in Word's numbering of its row
    QString text;        // paragraphs joined by "\r", no end-of-cell mark
};

class WordTable {
public:
    WordTable() = default;
    bool isNull() const { return tbl_.isNull(); }

    int rowCount() const;      // Rows.Count
    int columnCount() const;   // Columns.Count: the grid's columns

    // Word's numbering (see the top of this file).
    int cellCount(int row) const;                  // cells of a row, missing ones included
    bool hasCell(int row, int column) const;
    QString cellText(int row, int column) const;   // throws when there is no such cell
    // Cell(r, c).Range.Text as Word reports it: the text + "\r\x07".
    QString cellRangeText(int row, int column) const;
    // Cell(r, c).Range.Text = text: replaces the cell's text keeping the
    // formatting of its first paragraph and run (or paragraph mark), so a
    // template's cell fonts and alignment stay. Numbers are formatted by
    // the caller (engine/NumberFormat.h). Throws when there is no such cell.
    void setCellText(int row, int column, const QString &text);

    // Rows.Add: appends a row shaped like the last one, cells empty.
    // Returns the new row count.
    int addRow();

    // Grid view with spans, row-major.
    QList<GridCell> gridCells() const;
    // The cell starting at a grid position, if any.
    std::optional<GridCell> gridCell(int row, int column) const;

    // Table formatting: a style from the document's styles.xml by its id.
    void setStyle(const QString &styleId);
    // TableAutoformat: single borders all round and inside, first row bold
    // and repeated on every page; autoFit sizes the columns to their text.
    void autoFormat(bool autoFit = false);
    // Bold (or not) for every run of one row.
    void setRowBold(int row, bool bold);

private:
    friend class WordDocument;
    WordTable(WordDocumentData *d, QDomElement tbl) : d_(d), tbl_(tbl) {}
    QList<QDomElement> rows() const;
    QDomElement wordCell(int row, int column, bool mustExist) const;
    WordDocumentData *d_ = nullptr;
    QDomElement tbl_;
};

class WordSection {
public:
    WordSection() = default;
    bool isNull() const { return sectPr_.isNull(); }

    // Headers.Item(kind): text (replacing the header), its alignment and
    // font size, and a right/left/centre PAGE number (PageNumbers.Add).
    void setHeaderText(HeaderKind kind, const QString &text);
    void setHeaderAlignment(HeaderKind kind, ParaAlign align);
    void setHeaderFontSize(HeaderKind kind, double points);
    void addPageNumbers(HeaderKind kind, ParaAlign align = ParaAlign::Right, bool firstPage = true);
    QString headerText(HeaderKind kind) const;   // as set or read from the file; "" when none

    // PageSetup.
    void setHeaderDistance(double points);
    double headerDistance() const;               // points
    void setOrientation(Orientation o);
    Orientation orientation() const;

    // Range.InsertBefore / InsertAfter of the section's range.
    void insertBefore(const QString &text);
    void insertAfter(const QString &text);
    // Range.Style = Normal: drops paragraph styles in the section.
    void setNormalStyle();
    // Texts of the section's body paragraphs (tables left out).
    QStringList paragraphs() const;

private:
    friend class WordDocument;
    WordSection(WordDocumentData *d, QDomElement sectPr) : d_(d), sectPr_(sectPr) {}
    void updateHeader(HeaderKind kind, const std::function<void(HeaderModel &)> &change);
    WordDocumentData *d_ = nullptr;
    QDomElement sectPr_;
};

class WordDocument {
public:
    // Documents.Add(): an empty A4 portrait document.
    static WordDocument createBlank();
    // Documents.Add(template): a new, unnamed document with the template's
    // content. Accepts .docx/.dotx (and .doc/.dot through the converter).
    static WordDocument fromTemplate(const QString &path);
    // Documents.Open(path).
    static WordDocument open(const QString &path);

    WordDocument(WordDocument &&) noexcept;
    WordDocument &operator=(WordDocument &&) noexcept;
    ~WordDocument();

    // Where the document was opened from or last saved to; empty when new.
    QString path() const;

    // Tables.Count / Tables.Item(n) (top-level tables in document order).
    int tableCount() const;
    WordTable table(int n) const;          // throws office::Error when missing
    // Tables.Add(Range(End - 1, End), rows, cols): a new table with borders
    // at the end of the document.
    WordTable addTable(int rows, int cols);
    // Tables.Add at the start of a top-level paragraph (0-based index into
    // paragraphs()): the new table goes right before that paragraph.
    WordTable insertTableBefore(int paragraphIndex, int rows, int cols);

    // Range.InsertBefore / InsertAfter of the whole document.
    void insertBefore(const QString &text);
    void insertAfter(const QString &text);
    // A new paragraph at the end with its own formatting.
    void addParagraph(const QString &text, const ParagraphFormat &format = {});
    // Texts of the body's top-level paragraphs (tables left out).
    QStringList paragraphs() const;
    // Formats a top-level paragraph (0-based index into paragraphs()).
    void formatParagraph(int index, const ParagraphFormat &format);
    // The whole text: paragraphs joined by "\r", table cells by "\t".
    QString text() const;

    // TextToTable: the top-level paragraphs from..to (0-based, inclusive)
    // become a table, split into cells at tabs. Returns the table.
    WordTable textToTable(int fromParagraph, int toParagraph);

    // Sections.Count / Sections.Item(i) / Sections.Add(Range(End - 1, End), 2).
    int sectionCount() const;
    WordSection section(int i) const;      // throws office::Error when missing
    WordSection addSectionNewPage();

    // Protect(3, , password): reading only, enforced, password stored hashed.
    void protectReadOnly(const QString &password);
    bool isProtected() const;
    // True when password matches the stored protection hash.
    bool checkProtectionPassword(const QString &password) const;

    // SaveAs(path) as .docx. Throws office::Error.
    void saveAs(const QString &path);

private:
    WordDocument();
    explicit WordDocument(std::unique_ptr<WordDocumentData> d);
    std::unique_ptr<WordDocumentData> d_;
};

// The print-by-macro sequence (new document, insert lines, text to table by
// tabs, table autoformat) in one call: every line becomes a paragraph; the
// lines from tableFrom (0-based) to the end become a table split at tabs
// and autoformatted. Lines have CR and LF already removed by the caller.
WordDocument buildTabTextDocument(const QStringList &lines, int tableFrom, bool autoFit = false);

// The word processor's protection key of a password: the old 32-bit key as
// eight hexadecimal digits, bytes in reverse order ("Example" -> "7EEDCE64").
// The stored hash is taken over this text.
QString protectionKeyText(const QString &password);

} // namespace office
