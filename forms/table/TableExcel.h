#pragma once
// TForm4: the choice of an open workbook for a table sheet.
// The open table of the table window as a spreadsheet sheet, header and
// values, and its values read back from such a sheet. The sheet keeps the
// table in structure numbering shifted by one row and one column: a value
// stored at (column, row) sits in sheet cell (row, column), the caption in
// cell (1, 1).
#include "engine/TableShape.h"
#include "engine/WorkModes.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <optional>

class QAction;
class QListWidget;
class QPushButton;
class TVTable;

namespace office {
class ExcelSheet;
class ExcelWorkbook;
} // namespace office

namespace tableexcel {

// What the sheet is made from.
struct SheetSource {
    qint64 tableIdent = 0;
    QString formName;        // "Ф30"
    QString tableNumber;     // "(1000)"
    QString caption;         // the table window's caption
    bool floatValues = false;
    ValueTable valueTable = ValueTable::Data;
    qint64 institution = 0;
    int year = 0;
};

// Form name followed by the table number, at most 20 characters.
QString SheetName(const QString &formName, const QString &tableNumber);
// Writes the table to the sheet (name, caption, widths, heights, titles,
// values, grid lines, frozen panes). Throws office::Error (a sheet name
// already in the workbook, overlapping title spans) or db::Error.
void WriteTableSheet(office::ExcelSheet &sheet, const SheetSource &source);

// "В существующий файл": the sheet added to the workbook at path, its
// other sheets kept; the workbook is written aside and renamed over the old
// one, so a failure leaves the file as it was. Only .xlsx and .xlsm books
// are written back. Throws office::Error (a sheet of that name already in
// the book, an unreadable or old binary book) or db::Error.
void AddSheetToWorkbook(const QString &path, const SheetSource &source);

// A value read from a sheet: stored coordinates.
struct SheetValue {
    int column = 0;
    int row = 0;
    double value = 0;
};
// The values of the sheet named like the table (letter case ignored) over
// the data area, zero and empty cells left out; nothing when no sheet has the
// name. The sheet must have the table's layout: the numbering row and column
// (the last header row and column) as the output writes them, and nothing in
// the row below and the column right of the value area. Every cell is
// checked first: a text that is no number, a logical value or a number past
// the range of a double throws office::Error naming the cell, so that nothing
// is stored from a bad sheet.
std::optional<QList<SheetValue>> ReadTableSheet(office::ExcelWorkbook &book, const QString &sheetName,
                                                const TableShape &shape);
// Replaces the stored values of the institution's table and year by values,
// in one transaction. Throws db::Error (nothing changed then).
void StoreTableValues(ValueTable valueTable, qint64 institution, int year, qint64 tableIdent,
                      const QList<SheetValue> &values);

} // namespace tableexcel

// Choice of one of the open workbooks.
class TForm4 : public QDialog {
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);
    // The workbooks offered, by file name; the first is chosen.
    void setBooks(const QStringList &names);
    // The row of the chosen workbook, -1 when none.
    int chosenBook() const;

    // What tests reach of the widgets.
    QListWidget *bookList() const { return m_ui.books; }

private:
    struct Widgets {
        QListWidget *books = nullptr;
        QPushButton *ok = nullptr;       // "OK"
        QPushButton *cancel = nullptr;   // "Отмена"
    };
    Widgets m_ui;
};

// "В Excel": "В открытую книгу", "В новую книгу" or "В существующий файл".
enum class SheetTarget { OpenBook, NewBook, File };
void exportTableToExcel(TVTable &table, SheetTarget target);
// "Подгрузить из Excel".
void loadTableFromExcel(TVTable &table);
// Connects the Excel commands of every new table window (once).
void installTableExcelTableExtension();
