#pragma once
// TForm1: a printable list that other windows fill.
// The list and print window: a heading over a multi-column list that other
// windows fill (control errors, institutions, breakdowns, ...), printable to
// a word-processor document or a spreadsheet. One shared instance, kept for
// the life of the program; shown modelessly or modally by its callers.
#include "engine/StringList.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>

namespace office {
class WordDocument;
class ExcelWorkbook;
} // namespace office

class QLabel;
class QMenuBar;
class QAction;
class QPlainTextEdit;
class QTreeWidget;

// What the window shows, as plain texts: the printed outputs are made from it.
struct ListContents {
    QString caption;
    QString heading;
    QStringList columns;          // column captions; empty when the list has none
    QList<QStringList> rows;      // first cell, then one cell per further column
};

// One cell of a spreadsheet made from a list: row and column from 1.
struct SheetCell {
    int row = 0;
    int column = 0;
    QString text;
    bool operator==(const SheetCell &o) const { return row == o.row && column == o.column && text == o.text; }
};

// The heading with its line breaks removed, cut after every " - " (each piece
// keeps its " - "; the rest after the last one is the final piece).
QStringList SplitHeadingPieces(const QString &heading);
// Columns of a TAB-separated header line; the empty line has no columns.
QStringList SplitHeaderLine(const QString &header);
// Cells of one TAB-separated line for a list of columnCount columns: the
// first piece, then one (possibly empty) piece per further column. Pieces
// beyond the columns are dropped; a list without columns still shows the
// first piece.
QStringList SplitListLine(const QString &line, int columnCount);
// The paragraphs of the printed document before its table: caption and heading.
QStringList DocumentParagraphs(const ListContents &c);
// The table of the printed document: the header line, then one line per row,
// cells joined by TAB.
QStringList DocumentTableLines(const ListContents &c);
// The spreadsheet cells: caption at (1,1), heading at (2,1), column captions
// in row 3 from column 2, row j (from 0) in row j + 4 from column 2.
QList<SheetCell> SheetCells(const ListContents &c);

// The lines of the saved text file: caption, heading, then the table lines.
QStringList ListTextLines(const ListContents &c);

// The printed document: caption and heading paragraphs, then the list as a
// formatted table (header line first).
office::WordDocument BuildListDocument(const ListContents &c);
// The spreadsheet of SheetCells; plain numbers are written as numbers.
office::ExcelWorkbook BuildListWorkbook(const ListContents &c);

class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);

    // Fills the list from TAB-separated lines under a TAB-separated header.
    void ShowTextList(const QStringList &lines, const QString &header);
    void setHeading(const QString &text);
    QString heading() const;
    ListContents contents() const;

    // What tests reach of the widgets.
    QTreeWidget *list() const { return m_ui.list; }
    QAction *printToWordCommand() const { return m_ui.printToWord; }     // "Печатать" - "В Word"
    QAction *printToExcelCommand() const { return m_ui.printToExcel; }   // "Печатать" - "В Excel"
    QAction *saveCommand() const { return m_ui.save; }                   // "Сохранить"

public slots:
    void printListToWord();    // "Печатать" - "В Word"
    void printListToExcel();   // "Печатать" - "В Excel"
    void saveList();           // "Сохранить": the list as a text file (code page 1251)
    void exitList();           // "Выход"

private:
    struct Widgets {
        QLabel *heading = nullptr;
        QTreeWidget *list = nullptr;
        QPlainTextEdit *text = nullptr;   // hidden
        QMenuBar *menuBar = nullptr;
        QAction *printToWord = nullptr, *printToExcel = nullptr;   // "Печатать"
        QAction *save = nullptr, *exit = nullptr;
    };
    Widgets m_ui;
};

// The shared list window, created on first use (without a parent) and kept
// until the application ends; its caption starts as the application's title.
TForm1 &Form1();
// Fills the shared window's list; the caller sets its caption and heading and shows it.
void ShowTextList(const QStringList &lines, const QString &header);
void ShowTextList(const StringList &lines, const QString &header);
