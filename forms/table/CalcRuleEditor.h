#pragma once
// TNTChar: the calculation rule of a cell, row or column of a table.
// Calculation rules of the open table (table `conditions`): the rule of one
// cell, of a whole row or of a whole column, edited in TNTChar from the
// table window's "Настройка" menu. Rule coordinates are grid positions from
// 0, with -1 standing for "the whole row" or "the whole column".
#include "forms/table/TableGrid.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <memory>
#include <optional>

class QAction;
class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QCheckBox;
class QTextEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TabcCheckBox;
class TFormulaHighlighter;
class TVTable;

namespace calcrule {

enum class RuleKind { Cell, Row, Column };

struct RulePlace {
    RuleKind kind = RuleKind::Cell;
    int row = 0;      // grid row
    int column = 0;   // grid column
    int storedRow() const { return kind == RuleKind::Column ? -1 : row; }
    int storedColumn() const { return kind == RuleKind::Row ? -1 : column; }
};

// The editable fields of one rule.
struct RuleFields {
    bool sum = false;            // "Сумма" (true) or "Счетчик"
    QString formula;
    QString condition;
    QString koeff = QStringLiteral("1");
    bool country = false;        // rural institutions only
    bool midle = false;          // average
    QString types;               // "*" or ids joined by ","
};

// The rule stored at the place; nothing when there is none.
std::optional<RuleFields> ReadCalcRule(qint64 tid, const RulePlace &place);
// Stores the rule of the place: updates the one stored there, or inserts a
// new one (lft and rght empty, types without a trailing comma) when there is
// none, also when it was deleted or stored by another window while the dialog
// was open (one rule per place, never two). Throws db::Error, nothing stored,
// for fields it refuses and for a table that is gone.
void SaveCalcRule(qint64 tid, const RulePlace &place, const RuleFields &fields);
// Why SaveCalcRule would refuse the fields (a divisor that is no number, a
// character code page 1251 cannot hold), naming the field; empty when it
// would store them. The editor asks before it closes, so what was typed stays.
enum class RuleField { None, Formula, Condition, Divisor };
QString fieldsProblem(const RuleFields &fields, RuleField *where = nullptr);
void DeleteCalcRule(qint64 tid, const RulePlace &place);

// The rule reached by F8 in a cell rule: the formula, condition, divisor,
// flags and types of the outer line rule crossing the cell, combined with the
// counter/sum choice, condition and formula ("*" standing for the outer
// formula) of the inner one; rural when either line rule is.
RuleFields InheritLineRules(qint64 tid, int scan, int row, int column);

// scan of the table (0 when the table is unknown).
int TableScan(qint64 tid);

// "Правила для ячейки (Row: 2 Col: 0)" and the like.
QString RuleCaption(const RulePlace &place);
// Texts of the titles of band whose span covers number, each followed by ":".
QString CoveringTitles(const QList<GridTitle> &titles, GridTitle::Band band, int number);
// Which rows and columns the rule belongs to: the row titles of the row, a
// line feed, the column titles of the column (only one part for a line rule).
QString DescribeRulePlace(const QList<GridTitle> &titles, const RulePlace &place, int fixcols, int fixrows);

// The kind the item opens: the first line item (outerItem) opens the outer
// line rule, rows for scan 0 and columns otherwise; the second the other.
RuleKind LineRuleKind(int scan, bool outerItem);

} // namespace calcrule

// The dialog of one calculation rule.
class TNTChar : public QDialog {
    Q_OBJECT
public:
    // What the dialog is opened for: the table, its scan, the rule's place
    // and the rule's fields as stored.
    struct Opening {
        qint64 tableIdent = 0;
        int scan = 0;
        calcrule::RulePlace place;
        bool outerKind = false;   // opened by the first line item
        bool cellRule = false;    // F8 only then
        calcrule::RuleFields fields;
    };
    // Made with the fields in and the type tree built, the rule's types
    // marked (a database failure is thrown); the outer line rule's dialog
    // without counter, sum, average and divisor.
    explicit TNTChar(QWidget *parent = nullptr);
    TNTChar(QWidget *parent, const Opening &opening);
    ~TNTChar() override;

    // The fields as the user left them (types text as rebuilt by OK).
    calcrule::RuleFields fields() const;
    QString typesText() const { return m_types; }

    // Shows the types text in the tree and refreshes the flags.
    void Sets();

    // The table's caption and the rows and columns of the rule, above the types.
    void setPlaceText(const QString &text);
    // "Удалить" is shown only for a rule that is stored.
    void setDeletable(bool on);

    // What tests reach of the widgets.
    QTreeWidget *typeTree() const { return m_ui.types; }
    QCheckBox *allTypesBox() const;                                   // "Выбрать всех"
    QRadioButton *sumButton() const { return m_ui.sum; }              // "Сумма"
    QLineEdit *formulaEdit() const { return m_ui.formula; }           // "Формула"
    QLineEdit *divisorEdit() const { return m_ui.divisor; }           // "Коэффициент"
    QPlainTextEdit *conditionEdit() const { return m_ui.condition; }  // "Условие"
    QTextEdit *explanationView() const { return m_ui.explanation; }   // the explanation of the reference at the caret
    QPushButton *okButton() const { return m_ui.ok; }                 // "Ok"
    QPushButton *deleteButton() const { return m_ui.remove; }         // "Удалить"

    static constexpr int kDeleteResult = 3;

public slots:
    void acceptRule();                      // "Ok": closes unless a field is refused or no type is chosen
    void kindChosen();                      // "Счетчик" or "Сумма"
    void chooseAllTypes();                  // "Выбрать всех"
    void switchType(QTreeWidgetItem *node); // a double click on a type marks or unmarks its branch
    void InheritLineRules();                // F8 in a cell rule
    void divisorChanged();                  // "Коэффициент" typed: anything but a number other than 0 becomes 1

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    const Opening m_opening;
    // Puts the rule's fields in (types text included) without marking the types.
    void setFields(const calcrule::RuleFields &fields);
    // Builds the type tree and marks the chosen types.
    void showTypes();
    void fillTypes(QTreeWidgetItem *parent, qint64 parentId, int depth);
    QString m_types;
    bool m_filling = false;
    // Explains the reference at the caret of the formula or the condition,
    // whichever has the caret, in the explanation view and one previous-year pane.
    void explainAtCaret(QWidget *field);
    std::unique_ptr<TFormulaHighlighter> m_light;

    struct Widgets {
        QLabel *place = nullptr;            // the table and the rule's rows and columns
        TabcCheckBox *allTypes = nullptr;   // "Выбрать всех"
        QTreeWidget *types = nullptr;
        QGroupBox *ruleGroup = nullptr;
        QGroupBox *kindGroup = nullptr;
        QRadioButton *counter = nullptr;    // "Счетчик"
        QRadioButton *sum = nullptr;        // "Сумма"
        QLabel *formulaLabel = nullptr;
        QLineEdit *formula = nullptr;       // "Формула"
        QCheckBox *average = nullptr;       // "Среднее"
        QCheckBox *rural = nullptr;         // "Сельская местность"
        QLabel *divisorLabel = nullptr;
        QLineEdit *divisor = nullptr;       // "Коэффициент"
        QPlainTextEdit *condition = nullptr;   // "Условие"
        QGroupBox *buttonGroup = nullptr;
        QPushButton *ok = nullptr;          // "Ok"
        QPushButton *remove = nullptr;      // "Удалить" (result kDeleteResult)
        QPushButton *cancel = nullptr;      // "Отказ"
        QListWidget *typeChecks = nullptr;  // hidden
        QTextEdit *explanation = nullptr;
    };
    Widgets m_ui;
};

// The "Настройка" commands of the table window: the rule of the current
// line in the scan direction (outer), across it (inner) or of the cell.
enum class RuleCommand { OuterLine, InnerLine, Cell };
void openCalcRule(TVTable &table, RuleCommand command);
// Connects the "Настройка" commands of every new table window (once).
void installCalcRuleTableExtension();
