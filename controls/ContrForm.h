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

    // Components other windows and the tests use.
    QGroupBox *RadioGroup1 = nullptr;   // class
    QButtonGroup *RadioGroup1Buttons = nullptr;
    QGroupBox *RadioGroup3 = nullptr;   // filter
    QButtonGroup *RadioGroup3Buttons = nullptr;
    QGroupBox *RadioGroup2 = nullptr;   // relation
    QButtonGroup *RadioGroup2Buttons = nullptr;
    QGroupBox *RadioGroup4 = nullptr;   // where to replace
    QButtonGroup *RadioGroup4Buttons = nullptr;
    QCheckBox *CheckBox1 = nullptr, *CheckBox2 = nullptr;
    QComboBox *ComboBox1 = nullptr, *ComboBox2 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr, *Memo2 = nullptr, *Memo3 = nullptr;
    QLineEdit *Edit4 = nullptr, *Edit1 = nullptr, *Edit2 = nullptr;
    QTextEdit *RichEdit1 = nullptr;
    QPushButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr;
    QPushButton *Button5 = nullptr, *Button6 = nullptr, *Button7 = nullptr, *Button8 = nullptr;
    QPushButton *Button9 = nullptr, *Button10 = nullptr, *Button11 = nullptr, *Button12 = nullptr;
    QPushButton *Button13 = nullptr;
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr, *BitBtn3 = nullptr;
    QTimer *TimerLeft = nullptr, *TimerRight = nullptr;

    // Editor state.
    qint64 EditorFormId = -1;
    QString EditorFormName;
    QString EditorTable;
    bool TableLocked = false;
    QList<int> PreviousYearFlags;   // 1: the line's rule differs from last year

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
    void ComboBox1Click();
    void ComboBox2Click();
    void RadioGroup1Click();
    void RadioGroup3Click();
    void ListBox1Click();
    void GetControlsList();
    void Button1Click();   // save
    void Button2Click();   // expression builder
    void Button3Click();   // copy
    void Button4Click();   // paste
    void Button5Click();   // add
    void Button6Click();   // delete
    void Button7Click();   // print
    void Button8Click();   // clear the list
    void Button9Click();   // export the list
    void Button10Click();  // export the form's rules
    void Button11Click();  // delete the form's rules
    void Button12Click();  // search discrepancies with last year
    void Button13Click();  // replace in the selected rules
    void BitBtn1Click();   // export all rules
    void BitBtn2Click();   // load a rule file
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
    WorkContext m_work;
    void buildUi();
    void fillForms();
    void clearEditors();
    void setRelation(int index);
    void showRule(qint64 key);
    void exportLines(const QString &title, const QString &proposedName, const std::function<QStringList()> &lines);
    void Edit1Enter(QPlainTextEdit *memo);
    void Edit3Enter();
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
};

// The main window's "Контроли": the editor, shown modally and freed.
void openControlsEditor(QWidget *parent, const WorkContext &work);
// The table window's cell controls: the editor locked to the window's form and
// table, listing the rules that touch the current cell.
void openCellControls(TVTable &table, const QList<CellRule> &rules);
// Installs openCellControls as the table window's cell-controls opener
// (idempotent).
void installControlsTableExtension();
