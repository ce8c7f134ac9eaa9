#pragma once
// TVTable: data entry of one table of a report form.
// The data-entry window of one table of a report form for one institution or
// report. The caller passes the table (TableWindowParams) and its work
// context (institution, modes, value table, members), sets the captions
// (setCaptions) and shows the window modally.
//
// With institution 0 (outside network mode and the "Types" mode) the
// window is the template view: values are not shown or typed, and a double
// click marks a cell; the marked cells become a reference text over the grid.
#include "engine/RuleEngine.h"
#include "forms/table/ControlHighlight.h"
#include "forms/table/TableEdit.h"
#include "forms/table/TableWindowParams.h"

#include <QDialog>
#include <QHash>
#include <QList>
#include <QSet>

#include <functional>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QSqlDatabase;
class FormNavigator;
class TableGrid;
struct GridTitle;

class TVTable : public QDialog {
    Q_OBJECT
public:
    // tables: the opener's tables to step through ("Пред. таблица", "След.
    // таблица"); without it stepping does nothing.
    TVTable(const TableWindowParams &params, const WorkContext &work, QWidget *parent = nullptr,
            FormNavigator *tables = nullptr);
    ~TVTable() override;

    // The table shown now (stepping moves it to another table).
    const TableWindowParams &params() const { return m_params; }
    // The institution, modes and members the window works on.
    const WorkContext &work() const { return m_work; }

    // Loads and lays out the open table; false when it could not be shown
    // (the message was given and the window is closing).
    bool TableShow();
    // Saves the current cell; false when the save failed (the message was
    // given and the typed text is kept).
    bool PutData();
    // Paints the header titles of structure column and row.
    void HighLight(int column, int row, const QColor &color);

    // Text typed into the current cell and its text on entering it.
    QString CellEditText() const { return m_edit.editText; }
    QString CellSavedText() const { return m_edit.savedText; }
    // Why the last typed key was refused, as the window shows it over the
    // grid; empty when nothing was refused.
    QString typingHint() const;
    // The display text of a grid cell's value.
    QString cellDisplayText(int column, int row) const;
    double cellValue(int column, int row) const;
    bool isTemplateView() const;
    // Sums over the institutions of chosen types ("Types" mode) or of a
    // territorial unit ("Свод" of the territory window): read only.
    bool isSumView() const;
    // Error mark colour of a grid cell (0 when not marked).
    int cellMark(int column, int row) const { return m_marks.value(MakeCellKey(row, column), 0); }
    bool templateMarked(int column, int row) const { return m_templateMarks.contains(MakeCellKey(row, column)); }
    int currentErrorIndex() const { return CurrentErrorIndex; }
    const ControlCountList &controlCounts() const { return ControlCounts; }
    const FormulaFlagList &formulaCellFlags() const { return FormulaCellFlags; }
    int fixCols() const { return fixcols; }
    int fixRows() const { return fixrows; }
    bool isLoaded() const { return m_loaded; }
    // The values shown, [stored column, stored row].
    const ValueMatrix &values() const { return m_table.matrix(); }
    // The errors of the last control run ("Контроль").
    const StringList &controlErrors() const { return m_controlErrors; }

    // What other windows need of the table window.
    // The captions over the grid: the form's name and the table's name.
    void setCaptions(const QString &form, const QString &table);
    QString formCaption() const;
    QString tableCaption() const;
    // The reference text of the cells marked in the template view.
    QString markedReference() const;
    // Whether values are shown with decimals ("Нецелые" - "Да").
    bool showsDecimals() const;
    // The current cell and the size of the drawn grid, headers included.
    int currentRow() const;
    int currentColumn() const;
    int gridRowCount() const;
    int gridColumnCount() const;
    const QList<GridTitle> &gridTitles() const;
    void focusGrid();
    // Shows or hides the breakdown menu ("Разрезать").
    void setBreakdownVisible(bool visible);
    // The table as an expression builder of the control-rule editor: the
    // grouping menu is shown; table stepping, the table's controls and
    // clearing are hidden.
    void useAsExpressionBuilder();
    // Commands other windows connect; each does nothing until connected.
    enum class Command {
        BreakdownCell, BreakdownRow, BreakdownColumn,
        RuleOuterLine, RuleInnerLine, RuleCell,
        ExcelToOpenBook, ExcelToNewBook, ExcelToFile, LoadFromExcel,
    };
    // Runs handler on the command and enables it.
    void connectCommand(Command command, const std::function<void()> &handler);

    // What tests and the windows around it reach of the widgets.
    TableGrid *grid() const { return m_ui.grid; }
    // The text of the current position ("Строка 1, Графа 5").
    QString positionText() const;
    // Whether formula cells are highlighted ("Подсветка" - "Формулы").
    bool highlightsFormulas() const { return ShowFormulaCells; }
    QAction *previousCommand() const { return m_ui.previous; }   // "Пред. таблица"
    QAction *nextCommand() const { return m_ui.next; }           // "След. таблица"
    QAction *controlCommand() const { return m_ui.control; }     // "Контроль"
    QAction *exitCommand() const { return m_ui.exit; }           // "Выход"
    QAction *clearCommand() const { return m_ui.clear; }         // "Очистить"
    QAction *errorsMenu() const { return m_ui.errorsMenu; }      // "Ошибки"
    QAction *correctionCommand() const { return m_ui.correction; }   // "Ошибки" - "Корректировка"
    QAction *groupingMenu() const { return m_ui.groupMenu; }     // "Группировать"
    QAction *groupByColumnsCommand() const { return m_ui.byColumns; }   // "Группировать" - "По столбцам"
    QAction *loadTableMenu() const { return m_ui.loadMenu; }     // "Подгрузить таблицу"
    QAction *loadFromFileCommand() const { return m_ui.loadFromFile; }   // "Подгрузить из файла передачи"
    QAction *decimalsYesCommand() const { return m_ui.decimalsYes; }     // "Нецелые" - "Да"
    QAction *decimalsNoCommand() const { return m_ui.decimalsNo; }       // "Нецелые" - "Нет"
    QAction *highlightControlsCommand() const { return m_ui.highlightControls; }   // "Подсветка" - "Контроли"
    // The action of a command other windows connect (connectCommand).
    QAction *commandAction(Command command) const;

public slots:
    // The commands of the menu, by the caption the user sees.
    void showPreviousTable();   // "Пред. таблица" ("Пред. ошибка" in correction mode)
    void showNextTable();       // "След. таблица" ("След. ошибка" in correction mode)
    void controlTable();        // "Контроль"
    void exitTable();           // "Выход"
    void clearTable();          // "Очистить"
    void switchCorrectionMode();   // "Ошибки" - "Корректировка"
    void showErrorList();       // "Ошибки" - "Список"
    void groupByColumns();      // "Группировать" - "По столбцам"
    void groupByRows();         // "Группировать" - "По строкам"
    void recalculateTable();    // "Пересчитать таблицу"
    void loadTableFromFile();   // "Подгрузить таблицу" - "Подгрузить из файла передачи"
    void showDecimals();        // "Нецелые" - "Да"
    void hideDecimals();        // "Нецелые" - "Нет"
    void checksumColumn();      // "Контрольная сумма" - "по графе"
    void checksumRow();         // "Контрольная сумма" - "по строке"
    void highlightFormulas();   // "Подсветка" - "Формулы"
    void highlightControls();   // "Подсветка" - "Контроли"
    void insertRowBefore();     // "Добавить" - "Строку" - "данных" - "перед текущей"
    void insertRowAfter();      // "Добавить" - "Строку" - "данных" - "после текущей"
    void insertColumnBefore();  // "Добавить" - "Графу" - "данных" - "перед текущей"
    void insertColumnAfter();   // "Добавить" - "Графу" - "данных" - "после текущей"
    void deleteRow();           // "Удалить" - "Строку"
    void deleteColumn();        // "Удалить" - "Столбец"
    // Edits the title with the index in grid()->titles() (double click on a title).
    void editTitle(int titleIndex);
    // Double click on a cell: marks it in the template view, or opens the
    // control rules of the cell in control highlighting.
    void markOrOpenCell();
    // The reference text of the marked cells, over the grid.
    void BuildMarkedReferenceText();
    void ClearCellMarks();
    void ShowControlError();

protected:
    void showEvent(QShowEvent *event) override;
    void reject() override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // The column and row sizes and the titles of the definition, the values
    // and the current cell as they are.
    void applyLayout(struct TableDefinition &def);
    void buildMenu();
    void addStepAndControlItems();
    void addRuleMenus();
    void addValueMenus();
    void addStructureMenus();
    void connectMenuSlots();
    void FormActivate();
    void drawCell(QPainter &p, const QRect &rect, int column, int row);
    bool selectGridCell(int column, int row);
    bool handleKey(QKeyEvent *event);
    void setPositionLabel();
    // The reason a typed key was refused, over the grid (empty clears it
    // when it shows one).
    void showTypingHint(const QString &hint);
    void resetCurrentText();
    void reformatCurrentText();
    void readValues();
    void setFloat(bool on);
    void closeLater();
    void stepTable(bool forward);
    void stepError(bool forward);
    void endCorrectionMode();
    void loadControlHighlight();
    tableedit::CellTarget target() const;
    // Runs one structure change over the main database and the year's
    // values files, brings the tables cache up to date and shows the table
    // again from its first cell.
    // change returns the structure number of the inserted or deleted line.
    void showRulesReferringFrom(bool rows, int line);
    void changeStructure(bool rows, const std::function<int(const QSqlDatabase &, const QStringList &)> &change);
    // The table's rows and columns as the window shows them; a structure
    // edit is refused when the stored ones changed since.
    TableShape shownShape() const;

    // The window's widgets, named by what they show or do.
    struct Widgets {
        QMenuBar *menuBar = nullptr;
        QLabel *reference = nullptr;      // reference or error text
        QLabel *tableCaption = nullptr;
        QLabel *formCaption = nullptr;
        QLabel *position = nullptr;
        QProgressBar *progress = nullptr;
        TableGrid *grid = nullptr;

        QAction *previous = nullptr, *next = nullptr, *control = nullptr, *exit = nullptr, *clear = nullptr;
        QAction *highlightMenu = nullptr, *highlightFormulas = nullptr, *highlightControls = nullptr;
        QAction *errorsMenu = nullptr, *errorList = nullptr, *correction = nullptr;
        QAction *groupMenu = nullptr, *byColumns = nullptr, *byRows = nullptr;
        QAction *breakdownMenu = nullptr, *breakdownCell = nullptr, *breakdownRow = nullptr, *breakdownColumn = nullptr;
        QAction *recalculate = nullptr;
        QAction *setupMenu = nullptr, *setupOuterLine = nullptr, *setupInnerLine = nullptr, *setupCell = nullptr;
        QAction *loadMenu = nullptr, *loadFromFile = nullptr, *loadFromExcel = nullptr;
        QAction *decimalsMenu = nullptr, *decimalsYes = nullptr, *decimalsNo = nullptr;
        QAction *excelMenu = nullptr, *excelToOpenBook = nullptr, *excelToNewBook = nullptr, *excelToFile = nullptr;
        QAction *checksumMenu = nullptr, *checksumColumn = nullptr, *checksumRow = nullptr;
        // "Добавить": rows and columns of data before or after the current
        // one; the header items stay hidden.
        QAction *addMenu = nullptr, *rowTitles = nullptr, *columnTitles = nullptr;
        QAction *rowBefore = nullptr, *rowAfter = nullptr, *columnBefore = nullptr, *columnAfter = nullptr;
        QAction *deleteMenu = nullptr, *deleteRow = nullptr, *deleteColumn = nullptr;
    };
    Widgets m_ui;
    bool ShowFormulaCells = false;
    bool ShowControlCells = false;
    TableWindowParams m_params;
    WorkContext m_work;
    FormNavigator *m_tables = nullptr;
    tableedit::CellEditor m_edit;
    int colcount = 0, rowcount = 0, fixcols = 0, fixrows = 0, scan = 0;
    bool FloatTable = false, FloatDisplay = false;
    bool TableLoading = false, ShowPending = true, m_loaded = false, m_closing = false;
    QString m_typingHint;   // the hint shown, empty when none
    QChar m_typingHintSeparator = u',';
    int CurrentErrorIndex = 0;
    ControlCountList ControlCounts;
    FormulaFlagList FormulaCellFlags;
    QHash<QString, int> m_marks;          // error marks: cell key -> colour value
    QSet<QString> m_templateMarks;        // template view marks
    RuleRun m_table{RuleRunContext{}};    // holds the values shown
    StringList m_controlErrors;
};

// Windows that add commands to the table window (breakdown, calculation
// rules, Excel, structure editing) register an extension; every new table
// window runs each one at the end of its construction, where the extension
// connects its commands (connectCommand).
using TableWindowExtension = std::function<void(TVTable &)>;
// Returns an id for unregistering.
int registerTableWindowExtension(const TableWindowExtension &extension);

// Shows the control rules that touch the current cell (the control-rule
// editor installs it). Without one, the double-click in control highlighting
// does nothing.
using CellControlsOpener = std::function<void(TVTable &, const QList<CellRule> &)>;
void setCellControlsOpener(const CellControlsOpener &opener);
