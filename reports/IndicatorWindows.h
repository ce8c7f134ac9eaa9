#pragma once
// TMISetup, TMIForms, TShowStat: indicator sets, their editor and their view.
// Indicator windows: the set tree TMISetup (editing and viewing modes), the
// set editor TMIForms and the indicator view TShowStat.
//
// Openers:
//  - openIndicatorSetup(parent): the main window's "Методика расчета
//    показателей" (editing mode: "Добавить", "Удалить", "Состав",
//    "Выгрузить", "Загрузить" and the rename field shown).
//  - openIndicatorTreeForViewing(parent, caption, work): the set tree in viewing
//    mode ("Показатели" only) for the institution-types list and the report
//    list, computing for the caller's work context (types list: value table
//    Data, include list the institutions of the marked types, caption the
//    type's name; report list:
//    caption = report name + " - \"дерево\" показателей"). The view's caption
//    is the part of this caption before its first " -".
// Both show the window through execModal and reload the tree cache
// (caches::GetTree) when it closes.
#include "reports/IndicatorEval.h"

#include "widgets/FixedCellsGrid.h"

#include <QDialog>
#include <QHash>
#include <memory>

class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TFormulaHighlighter;

class TMISetup : public QDialog {
    Q_OBJECT
public:
    explicit TMISetup(const WorkContext &work, QWidget *parent = nullptr);
    ~TMISetup() override;
    const WorkContext &work() const { return m_work; }

    // Editing mode (items of the main window's command) or viewing mode.
    void setEditingMode();
    void setViewingMode();
    QTreeWidgetItem *findNode(qint64 ident) const;
    // The set last selected in the tree (0 before any selection): the one
    // "Состав", "Показатели" and "Проверить таблицу" work on.
    qint64 currentTerm() const { return m_term; }

    // What tests reach of the widgets.
    QTreeWidget *tree() const { return m_ui.tree; }
    QLineEdit *nameEdit() const { return m_ui.name; }   // the set's name, with "Сохранить"

public slots:
    // The commands, by the caption the user sees.
    void addSetAtLevel();     // "Добавить" - "На текущий уровень"
    void addSubset();         // "Добавить" - "Подуровень"
    void deleteSet();         // "Удалить"
    void editSetMembers();    // "Состав"
    void showIndicators();    // "Показатели"
    void exportSetFiles();    // "Выгрузить"
    void importSetFiles();    // "Загрузить"
    void listTablesWithDifferences();   // "Проверить расхождения" - "Вывести таблицы с расхождениями"
    void checkTableDifferences();       // "Проверить расхождения" - "Проверить таблицу"
    void exitSetup();         // "Выход"
    void saveSetName();       // "Сохранить"
    // Double click or Enter on a set: "Показатели" in viewing mode, "Состав" in editing mode.
    void openCurrentSet();
    void takeCurrentSet();    // the tree's current set changed
    void showSaveOnEdit();    // the name was typed

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Fills the tree from the cache (the first showing does it).
    void FormActivate();
    WorkContext m_work;   // what the shown sets are computed for
    qint64 m_term = 0;
    void addSet(bool below);
    QTreeWidgetItem *requireNode();
    void buildIndicatorTree(QTreeWidgetItem *node, qint64 ident);
    bool m_filled = false;
    bool m_settingName = false;

    struct Widgets {
        QMenuBar *menuBar = nullptr;
        QAction *addMenu = nullptr, *addAtLevel = nullptr, *addSublevel = nullptr;   // "Добавить"
        QAction *remove = nullptr, *members = nullptr, *indicators = nullptr;        // "Удалить", "Состав", "Показатели"
        QAction *exportSets = nullptr, *importSets = nullptr;                        // "Выгрузить", "Загрузить"
        // "Проверить расхождения" (administrator mode)
        QAction *checkMenu = nullptr, *listDiffering = nullptr, *checkTable = nullptr;
        QAction *exit = nullptr;
        QTreeWidget *tree = nullptr;
        QLineEdit *name = nullptr;
        QPushButton *saveName = nullptr;   // "Сохранить"
    };
    Widgets m_ui;
};

class TMIForms : public QDialog {
    Q_OBJECT
public:
    // Where the edit field took its text from: a grid cell or an identifier.
    enum class EditTarget { None, Grid, List };

    // The editor of one set.
    explicit TMIForms(qint64 term, QWidget *parent = nullptr);
    ~TMIForms() override;

    qint64 term() const { return m_term; }
    bool isMarked(int column, int row) const;

    // What tests and the cell painter reach of the widgets.
    TFixedCellsGrid *grid() const { return m_ui.grid; }
    QPlainTextEdit *formulaEdit() const { return m_ui.formula; }   // the current cell's text
    QTextEdit *decipherView() const { return m_ui.decipher; }
    QPushButton *okButton() const { return m_ui.ok; }              // "Ok"
    QLineEdit *findEdit() const { return m_ui.find; }              // "Найти:"
    QLineEdit *replaceWithEdit() const { return m_ui.replaceWith; }   // "Заменить на:"
    QButtonGroup *scopeButtons() const { return m_ui.scopes; }     // "т", "г", "с", "все"
    QPushButton *replaceButton() const { return m_ui.replace; }    // "Заменить"
    QMenu *rowMenu() const { return m_ui.rowMenu; }                // "Добавить" - "Строку"
    QAction *sizesCommand() const { return m_ui.sizesOn; }         // "Размеры" - "Включить"

public slots:
    // The commands, by the caption the user sees.
    void applyFormula();         // "Ok"
    void insertRowBefore();      // "Добавить" - "Строку" - "Перед текущей"
    void appendRow();            // "Добавить" - "Строку" - "В конец"
    void insertColumnBefore();   // "Добавить" - "Графу" - "Перед текущей"
    void appendColumn();         // "Добавить" - "Графу" - "В конец"
    void addIdentifier();        // "Добавить" - "Идентификатор"
    void deleteRow();            // "Удалить" - "Строку"
    void deleteColumn();         // "Удалить" - "Графу"
    void deleteIdentifier();     // "Удалить" - "Идентификатор"
    void switchSizes();          // "Размеры" - "Включить" / "Выключить"
    void saveSizes();            // "Размеры" - "Сохранить"
    void setStandardSizes();     // "Размеры" - "Установить стандартные"
    void exitEditor();           // "Выход"
    void replaceInFormulas();    // "Заменить"
    void selectCell(int row, int column);   // a grid cell chosen
    void takeIdentifier();       // an identifier of the list chosen
    void RefreshDecipher();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormActivate();   // loads the set (the first showing does it)
    void addMenus();
    void addCommandPanel();
    QString cellText(int column, int row) const;
    void setCellText(int column, int row, const QString &text);
    void reloadFormulaCells();
    void updateMark(int column, int row);
    void keepCurrentCell(int row, int column);
    qint64 m_term = 0;
    EditTarget m_editTarget = EditTarget::None;
    bool m_loaded = false;
    bool m_keepingCurrent = false;
    std::unique_ptr<TFormulaHighlighter> m_highlighter;
    std::unique_ptr<TFormulaHighlighter> m_computer;
    QHash<QString, bool> m_referenceMarks;   // reference -> differs from the previous year

    struct Widgets {
        QLabel *caption = nullptr;
        TFixedCellsGrid *grid = nullptr;
        QListWidget *identifiers = nullptr;
        QPlainTextEdit *formula = nullptr;
        QTextEdit *decipher = nullptr;
        // Below the formula: "Ok", "Найти:", "Заменить на:", the scope, "Заменить".
        QWidget *commands = nullptr;
        QPushButton *ok = nullptr;
        QLineEdit *find = nullptr, *replaceWith = nullptr;
        QGroupBox *scopeBox = nullptr;
        QButtonGroup *scopes = nullptr;
        QPushButton *replace = nullptr;
        QMenuBar *menuBar = nullptr;
        // "Добавить"
        QMenu *rowMenu = nullptr;
        QAction *rowBefore = nullptr, *rowAtEnd = nullptr, *columnBefore = nullptr, *columnAtEnd = nullptr;
        QAction *addIdentifier = nullptr;
        // "Удалить"
        QAction *deleteRow = nullptr, *deleteColumn = nullptr, *deleteIdentifier = nullptr;
        // "Размеры"
        QAction *sizesOn = nullptr, *saveSizes = nullptr, *standardSizes = nullptr;
        QAction *exit = nullptr;
    };
    Widgets m_ui;
};

class TShowStat : public QDialog {
    Q_OBJECT
public:
    // The view of one set, computed for the work context.
    TShowStat(const WorkContext &work, qint64 term, QWidget *parent = nullptr);

    bool gridPending() const { return m_gridPending; }
    const indicators::EvaluatedSet &set() const { return m_set; }
    // The grid's texts, rows of cells.
    QList<QStringList> gridRows() const;
    // The heading over the grid: the shown set's name.
    void setHeading(const QString &text);

    QString heading() const;
    // The lines of the last breakdown ("Разрезать").
    const QStringList &breakdownLines() const { return m_breakdownLines; }
    TFixedCellsGrid *grid() const { return m_ui.grid; }

public slots:
    // The commands, by the caption the user sees.
    void breakdown(bool wholeRow);   // "Разрезать" - "Ячейку" / "Строку"
    void printToWord();              // "Печать" - "В Word"
    void printToExcel();             // "Печать" - "В Excel"
    void exitView();                 // "Выход"

protected:
    void showEvent(QShowEvent *event) override;

private:
    // Builds and computes the grid (the first showing does it; every showing
    // ends a breakdown).
    void FormActivate();
    WorkContext m_work;
    qint64 m_term = 0;
    indicators::EvaluatedSet m_set;
    bool m_gridPending = true;
    QStringList m_breakdownLines;

    struct Widgets {
        QLabel *heading = nullptr;
        TFixedCellsGrid *grid = nullptr;
        QLabel *unit = nullptr;   // the unit the breakdown is at
        QMenuBar *menuBar = nullptr;
        QAction *toWord = nullptr, *toExcel = nullptr;                // "Печать"
        QAction *breakdownCell = nullptr, *breakdownRow = nullptr;   // "Разрезать"
        QAction *exit = nullptr;
    };
    Widgets m_ui;
};

// The printed outputs of the view: document lines (caption, heading, then
// rows with cells joined by TAB, CR and LF removed) and the sheet cells.
QStringList IndicatorDocumentLines(const QString &caption, const QString &heading, const QList<QStringList> &rows);

void openIndicatorSetup(QWidget *parent, const WorkContext &work);
void openIndicatorTreeForViewing(QWidget *parent, const QString &caption, const WorkContext &work);
