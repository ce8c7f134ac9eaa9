#pragma once
// TContrls: editing of control rules.
// The control-rule editor "Формирование контролей": lists the rules of the
// chosen class, form and table, edits, checks, saves (and uploads), deletes,
// copies and replaces them, exports, loads and prints rule files, deciphers
// the reference under the caret of the edited sides and compares rules with
// the previous reporting year.
#include "controls/ControlRules.h"
#include "engine/WorkContext.h"

#include <QDialog>
#include <QList>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QTimer;
class QVBoxLayout;
class TFormulaHighlighter;
class TVTable;
struct CellRule;

class TContrls : public QDialog {
    Q_OBJECT
public:
    // work: the context of the window that opens the editor; the expression
    // builder starts from it.
    explicit TContrls(QWidget *parent = nullptr, const WorkContext &work = {});
    ~TContrls() override;

    // What other windows and the tests reach of the widgets.
    QGroupBox *classBox() const { return m_ui.classBox; }                   // "Вид контроля"
    QButtonGroup *classButtons() const { return m_ui.classes; }
    QButtonGroup *relationButtons() const { return m_ui.relations; }        // "Условие"
    QButtonGroup *replaceScopeButtons() const { return m_ui.replaceScopes; }   // "<= Замена в выделенных "
    QCheckBox *lockTableBox() const { return m_ui.lockTable; }              // "Зафиксировать"
    QCheckBox *lastYearBox() const { return m_ui.lastYearCheck; }   // "Проверять список на изменения с прошлым годом"
    QComboBox *formBox() const { return m_ui.forms; }                       // "Форма:"
    QComboBox *tableBox() const { return m_ui.tables; }                     // "Таблица:"
    QListWidget *ruleList() const { return m_ui.rules; }
    QPlainTextEdit *leftEdit() const { return m_ui.left; }                  // "Левая часть:"
    QPlainTextEdit *rightEdit() const { return m_ui.right; }                // "Правая часть:"
    QPlainTextEdit *cycleEdit() const { return m_ui.cycle; }                // "Цикл:"
    QLineEdit *commentEdit() const { return m_ui.comment; }                 // "Комментарий:"
    QLineEdit *findEdit() const { return m_ui.find; }                       // what to replace
    QLineEdit *replaceWithEdit() const { return m_ui.replaceWith; }         // "меняем на:"
    QTextEdit *decipherView() const { return m_ui.decipher; }
    QPushButton *exportAllButton() const { return m_ui.exportAll; }         // "Выгрузить"
    QTimer *leftTimer() const { return m_ui.leftTimer; }                    // the left side's decipher

    // One flag per line of the rules list: 1 when its rule differs from last year.
    const QList<int> &previousYearFlags() const { return PreviousYearFlags; }
    bool differsFromLastYear(int row) const {
        return row >= 0 && row < PreviousYearFlags.size() && PreviousYearFlags[row] == 1;
    }
    // Leave the editor without a chosen table, or without a chosen form, as a
    // form without tables or an empty catalogue leaves it (scope() tells the choice).
    void clearChosenTable() { EditorTable.clear(); }
    void clearChosenForm() {
        EditorFormId = -1;
        EditorFormName.clear();
    }

    int ruleClass() const;
    int ruleFilter() const;
    int relationIndex() const;      // -1 when none is chosen
    qint64 itemKey(int row) const;
    QList<int> selectedRows() const;
    QPlainTextEdit *rememberedMemo() const { return m_memo; }
    // The editor's current scope (class, filter, form, table).
    controls::RuleScope scope() const;
    // Fills the rules list with the given rules (the table window's cell view).
    void setRules(const QList<CellRule> &rules);
    // Shows the intra-table rules of one table of a form.
    void chooseTable(qint64 formId, const QString &tableNumber);

public slots:
    // The commands, by the caption the user sees.
    void takeChosenForm();        // a form chosen in "Форма:"
    void takeChosenTable();       // a table chosen in "Таблица:"
    void takeRuleClass();         // "Вид контроля" chosen
    void takeFilter();            // "Отбор" chosen
    void showCurrentRule();       // a rule of the list chosen
    void GetControlsList();
    void saveRule();              // "Сохранить"
    void buildExpression();       // "Сформировать"
    void copyRule();              // "Копировать"
    void pasteRule();             // "Вставить"
    void addRule();               // "Добавить"
    void deleteRules();           // "Удалить"
    void printList();             // "Печать"
    void clearList();             // "Очистить список"
    void exportList();            // "Выгрузить список"
    void exportFormRules();       // "Выгрузить ВСЕ контроли по форме"
    void deleteFormRules();       // "Удалить ВСЕ контроли по форме"
    void findTablesWithDifferences();   // "Поиск всех таблиц с расхождениями"
    void replaceInSelected();     // "Заменить"
    void exportAllRules();        // "Выгрузить"
    void loadRuleFile();          // "Загрузить"
    void SetTableLocked(bool locked);
    void HideDecipher();
    void ShowSideDecipher(QPlainTextEdit *memo, int side);
    void LeftTimerTick();
    void RightTimerTick();

    // The side expanded with the editor's class, cycle, table and form.
    QString ExpandEditorSide(const QString &text) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Editor state.
    qint64 EditorFormId = -1;
    QString EditorFormName;
    QString EditorTable;
    bool TableLocked = false;
    QList<int> PreviousYearFlags;   // 1: the line's rule differs from last year

    WorkContext m_work;
    void buildUi();
    void addChoiceRow(QVBoxLayout *top);
    void addRuleEditor(QVBoxLayout *top);
    void addReplaceRow(QVBoxLayout *top);
    void addFileRow(QVBoxLayout *top);
    void connectCommands();
    void fillForms();
    void clearEditors();
    void setRelation(int index);
    void showRule(qint64 key);
    void exportLines(const QString &title, const QString &proposedName, const std::function<QStringList()> &lines);
    // The focus entered a side (the builder inserts there), or left the sides.
    void enterSide(QPlainTextEdit *memo);
    void leaveSides();
    bool choose(QComboBox *box, int index);

    // One explanation view and previous-year pane for the side with the caret.
    std::unique_ptr<TFormulaHighlighter> Highlighter;
    QPlainTextEdit *m_memo = nullptr;     // the memo that last received the focus
    struct CopyBuffer {
        QString lft, rght, cycl, commnt;
        int relation = -1;
    } m_copy;
    bool m_filling = false;               // combo boxes being filled: no click handlers
    QLabel *m_formLabel = nullptr, *m_tableLabel = nullptr;   // name the form and table while locked
    struct Widgets {
        QGroupBox *classBox = nullptr;          // "Вид контроля"
        QButtonGroup *classes = nullptr;
        QGroupBox *filterBox = nullptr;         // "Отбор"
        QButtonGroup *filters = nullptr;
        QGroupBox *relationBox = nullptr;       // "Условие"
        QButtonGroup *relations = nullptr;
        QGroupBox *replaceScopeBox = nullptr;   // where to replace
        QButtonGroup *replaceScopes = nullptr;
        QCheckBox *lockTable = nullptr, *lastYearCheck = nullptr;
        QComboBox *forms = nullptr, *tables = nullptr;
        QListWidget *rules = nullptr;
        QPlainTextEdit *left = nullptr, *right = nullptr, *cycle = nullptr;
        QLineEdit *comment = nullptr, *find = nullptr, *replaceWith = nullptr;
        QTextEdit *decipher = nullptr;
        // Below the rule: "Добавить", "Сохранить", "Удалить", "Сформировать", "Копировать", "Вставить".
        QPushButton *add = nullptr, *save = nullptr, *remove = nullptr, *build = nullptr, *copy = nullptr, *paste = nullptr;
        QPushButton *findDiffering = nullptr, *replace = nullptr;
        // Files, printing and bulk deletion.
        QPushButton *exportAll = nullptr, *exportList = nullptr, *exportForm = nullptr, *deleteForm = nullptr;
        QPushButton *clearList = nullptr, *print = nullptr, *load = nullptr, *exit = nullptr;
        QTimer *leftTimer = nullptr, *rightTimer = nullptr;
    };
    Widgets m_ui;
};

// The main window's "Контроли": the editor, shown modally and freed.
void openControlsEditor(QWidget *parent, const WorkContext &work);
// The table window's cell controls: the editor locked to the window's form and
// table, listing the rules that touch the current cell.
void openCellControls(TVTable &table, const QList<CellRule> &rules);
// Installs openCellControls as the table window's cell-controls opener
// (idempotent).
void installControlsTableExtension();
