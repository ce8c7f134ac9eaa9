#pragma once
// Editing the structure of one table in place: inserting and deleting data
// rows and columns, and changing one header title (text, font, layout code,
// the height of its row and the width of its column).
//
// Every operation runs in one transaction over the main database with the
// values files of the year attached, so that `tables`, `titles`, `rows`,
// `columns`, `conditions` and the stored values in `data`/`repdata` change
// together or not at all. Failures throw db::Error with a Russian message.
#include "engine/TableShape.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <optional>

namespace structedit {

// A title's span in structure numbering.
struct TitleSpan {
    int startColumn = 0;
    int startRow = 0;
    int endColumn = 0;
    int endRow = 0;
    bool operator==(const TitleSpan &o) const = default;
};

// "R2C4:R3C5" -> start column 4, start row 2, end column 5, end row 3; a key
// without ":" gives start = end.
TitleSpan ParseTitleRangeKey(const QString &key);

// Span of the header cell (column, row) inserted with a new data row: it
// joins a merged title that the new row falls inside (start row < row <= end
// row, start column <= column <= end column; the end row grows by one), and
// stands alone otherwise. keys are the span keys of the table before the
// insert; the last matching key wins.
TitleSpan SpanForInsertedRow(const QStringList &keys, int column, int row);
// The same for a header cell (row, column) inserted with a new data column.
TitleSpan SpanForInsertedColumn(const QStringList &keys, int row, int column);

// Sizes of new rows and columns in points: 18 and 48 at 96 pixels per inch.
int defaultRowHeight(int density);
int defaultColumnWidth(int density);

// The values files of the year folder whose values follow the structure:
// data0.mdb and data<id>.mdb of every sub-report level that exists on disk,
// plus extraFile (the open values file) when given and not among them.
QStringList yearValuesFiles(const QSqlDatabase &mainDb, const QString &yearFolder,
                            const QString &extraFile = QString());

enum class Place { Before, After };

// Each edit below takes the table's shape as the window read it (seen, when
// given): when the stored rows or columns changed since (another window
// inserted or deleted one), the window's numbers no longer name the lines
// and titles the user saw, and the edit is refused (db::Error saying so),
// nothing written.

// Inserts a data row before or after grid row gridRow (0 = first data row):
// the row count, the titles below move down, new header cells (one blank,
// "Arial Cyr" 10, "CC00") join the merged titles the row falls inside, a size
// record of the given height, calculation rules and stored values below move
// down by one.
// Returns the structure number of the new row.
int insertDataRow(const QSqlDatabase &mainDb, qint64 ident, int gridRow, Place place, int height,
                  const QStringList &valueFiles, const TableShape *seen = nullptr);
// The same for a data column before or after grid column gridColumn.
int insertDataColumn(const QSqlDatabase &mainDb, qint64 ident, int gridColumn, Place place, int width,
                     const QStringList &valueFiles, const TableShape *seen = nullptr);

// Deletes data row gridRow: its titles, size record, calculation rules and
// stored values; everything below moves up. A merged title that starts on
// the row and reaches below it keeps its text and loses one row; one that
// ends on it loses one row. Throws db::Error ("Нельзя удалить последнюю
// строку данных") when the table has a single data row. Returns the
// structure number the row had.
int deleteDataRow(const QSqlDatabase &mainDb, qint64 ident, int gridRow, const QStringList &valueFiles,
                  const TableShape *seen = nullptr);
// The same for data column gridColumn ("Нельзя удалить последний столбец данных").
int deleteDataColumn(const QSqlDatabase &mainDb, qint64 ident, int gridColumn, const QStringList &valueFiles,
                     const TableShape *seen = nullptr);

// Control rules, calculated-cell rules and indicator formulas whose
// references name rows (rows = true) or columns of the table at or after
// structure line `line`. Their numbers are not changed by an insert or a
// delete, so after one they may point at other cells than meant; the user
// corrects them from this list. One TAB-separated line per rule or formula
// (where it is, its text) under referringRulesHeader(). A reference without
// form or table belongs to the rule's own (a control rule's form and table,
// a calculated cell's table); "*" of a calculated line rule stands for each
// crossing line rule's formula. A calculated cell's references are read as
// the engine reads them: each takes the form and table it does not name from
// the reference before it (condition first, then formula). With a year
// folder, the lines of the form's print mapping file (forms/<form>.txt) whose
// block of the table reaches the line are listed too. A list or line that
// cannot be read counts as naming the line.
QStringList rulesReferringFrom(const QSqlDatabase &mainDb, qint64 ident, bool rows, int line,
                               const QString &yearFolder = QString());
QString referringRulesHeader();

// Brings the entry of the tables cache (shared().Caches) of the table
// up to date with its row and column counts. False when the table is not in
// the cache. Throws db::Error when the table cannot be read.
bool refreshTablesCache(const QSqlDatabase &mainDb, qint64 ident);

// ---- Title editing ----------------------------------------------------------

// A title's line height is 1.275 times its font size in points.
constexpr double kLineFactor = 1.275;
// Row height in points for lines of text in the font size, rounded to 0.01.
double titleRowHeight(int fontSize, int lines);
// Lines of text a row height holds (rounded).
int titleLineCount(double height, int fontSize);

// Layout code from the editor's choices: vertical 0..2 = T/C/B, horizontal
// 0..2 = L/C/R, rotated, indent 0..9.
QString makeTitleCode(int vertical, int horizontal, bool rotated, int indent);
// The choices of a layout code (missing positions: centre, centre, flat, 0).
struct TitleCodeChoice {
    int vertical = 1, horizontal = 1;
    bool rotated = false;
    int indent = 0;
};
TitleCodeChoice parseTitleCodeChoice(const QString &tchars);

// Size records of a title's row and column.
struct TitleSizes {
    bool hasHeight = false;
    double height = 0;
    bool hasWidth = false;
    double width = 0;
};
TitleSizes readTitleSizes(const QSqlDatabase &mainDb, qint64 ident, int column, int row);

struct TitleContent {
    QString fontName;
    int fontSize = 10;
    bool bold = false, italic = false;
    QString tchars;     // four characters
    QString text;       // with ":" (stored as byte 3)
};

// A column width as typed in the title editor ("75,5" or "75.5"); an empty
// text is no width. Throws db::Error before anything is written for a text
// that is no number ("... не является числом"), a width not above 0 ("...
// ширина должна быть положительным числом") and one outside 1 up to the
// widest column the table window draws.
std::optional<double> parseTitleWidth(const QString &widthText);

// Writes the title at (column, row): its record; the height of its row when
// lines > 0; the width of its column when widthText is not empty. A width
// that is no number is refused before anything is written. A missing size
// record is created. A title deleted behind the window is refused ("Заголовок
// таблицы не найден"), as is a table whose shape is no longer seen.
void saveTitle(const QSqlDatabase &mainDb, qint64 ident, int column, int row, const TitleContent &content, int lines,
               const QString &widthText, const TableShape *seen = nullptr);

} // namespace structedit
