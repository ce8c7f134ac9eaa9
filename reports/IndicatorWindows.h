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
    // Fills the tree from the cache once.
    void FormActivate();
    QTreeWidgetItem *findNode(qint64 ident) const;
    // The set last selected in the tree (0 before any selection): the one
    // "Состав", "Показатели" and "Проверить таблицу" work on.
    qint64 currentTerm() const { return m_term; }

    QMenuBar *MainMenu1 = nullptr;
    QAction *N1 = nullptr;    // Добавить
    QAction *N5 = nullptr;    // На текущий уровень
    QAction *N6 = nullptr;    // Подуровень
    QAction *N2 = nullptr;    // Удалить
    QAction *N3 = nullptr;    // Состав
    QAction *N8 = nullptr;    // Показатели
    QAction *N9 = nullptr;    // Выгрузить
    QAction *N10 = nullptr;   // Загрузить
    QAction *N7 = nullptr;    // Проверить расхождения (administrator)
    QAction *N11 = nullptr;   // Вывести таблицы с расхождениями
    QAction *N12 = nullptr;   // Проверить таблицу
    QAction *N4 = nullptr;    // Выход
    QTreeWidget *TreeView1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QPushButton *Button1 = nullptr;

public slots:
    void N5Click();
    void N6Click();
    void N2Click();
    void N3Click();
    void N8Click();
    void N9Click();
    void N10Click();
    void N11Click();
    void N12Click();
    void N4Click();
    void Button1Click();
    void TreeView1DblClick();
    void TreeView1Change();
    void Edit1Change();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    WorkContext m_work;   // what the shown sets are computed for
    qint64 m_term = 0;
    void addSet(bool below);
    QTreeWidgetItem *requireNode();
    void buildIndicatorTree(QTreeWidgetItem *node, qint64 ident);
    bool m_filled = false;
    bool m_settingName = false;
};

class TMIForms : public QDialog {
    Q_OBJECT
public:
    // Where the edit field took its text from: a grid cell or an identifier.
    enum class EditTarget { None, Grid, List };

    // The editor of one set.
    explicit TMIForms(qint64 term, QWidget *parent = nullptr);
    ~TMIForms() override;

    void FormActivate();   // loads the set once
    qint64 term() const { return m_term; }
    bool isMarked(int column, int row) const;

    QLabel *Label1 = nullptr;
    TFixedCellsGrid *StringGrid1 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QTextEdit *RichEdit1 = nullptr;
    QWidget *Panel1 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit4 = nullptr;
    QPushButton *BitBtn3 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QButtonGroup *RadioButtons = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QMenu *RowMenu = nullptr;   // Добавить > Строку
    QAction *N10 = nullptr, *N2 = nullptr, *N16 = nullptr, *N3 = nullptr, *N4 = nullptr;
    QAction *N6 = nullptr, *N7 = nullptr, *N8 = nullptr;
    QAction *N14 = nullptr, *N15 = nullptr, *N9 = nullptr, *N12 = nullptr;

public slots:
    void BitBtn1Click();
    void N10Click();
    void N2Click();
    void N16Click();
    void N3Click();
    void N4Click();
    void N6Click();
    void N7Click();
    void N8Click();
    void N14Click();
    void N15Click();
    void N9Click();
    void N12Click();
    void BitBtn3Click();
    void StringGrid1SelectCell(int row, int column);
    void ListBox1Click();
    void RefreshDecipher();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
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
};

class TShowStat : public QDialog {
    Q_OBJECT
public:
    // The view of one set, computed for the work context.
    TShowStat(const WorkContext &work, qint64 term, QWidget *parent = nullptr);

    void FormActivate();   // builds and computes the grid once
    bool gridPending() const { return m_gridPending; }
    const indicators::EvaluatedSet &set() const { return m_set; }
    // The grid's texts, rows of cells.
    QList<QStringList> gridRows() const;
    // The heading over the grid: the shown set's name.
    void setHeading(const QString &text);

    QLabel *Label1 = nullptr;
    TFixedCellsGrid *StringGrid1 = nullptr;
    QLabel *Label2 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QAction *Word1 = nullptr, *Excel1 = nullptr, *N4 = nullptr, *N5 = nullptr, *N3 = nullptr;
    QStringList SplitLines;

public slots:
    void N2Click(bool wholeRow);
    void N1Click();        // В Word
    void Excel1Click();
    void N3Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    WorkContext m_work;
    qint64 m_term = 0;
    indicators::EvaluatedSet m_set;
    bool m_gridPending = true;
};

// The printed outputs of the view: document lines (caption, heading, then
// rows with cells joined by TAB, CR and LF removed) and the sheet cells.
QStringList IndicatorDocumentLines(const QString &caption, const QString &heading, const QList<QStringList> &rows);

void openIndicatorSetup(QWidget *parent, const WorkContext &work);
void openIndicatorTreeForViewing(QWidget *parent, const QString &caption, const WorkContext &work);
