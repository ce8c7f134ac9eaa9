#pragma once
// TControlMatchForm: the program's control rules matched against the control book.
// The control matching window: the program's rules beside the rules imported
// from the control book, each marked as duplicated, of another sign or
// different; import of a control-book file, description fill, export of the
// imported rules of a form.
#include "controls/ZenkorImporter.h"
#include "engine/ProgressSink.h"

#include <QDialog>
#include <QStyledItemDelegate>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

// Background colour of a result line by its marker; invalid when unmarked.
QColor matchLineColour(const QString &line);
// The bold part of a result line: from its last "[" to the first "]" after
// it; start -1 when there is none.
struct BoldSpan {
    int start = -1;
    int length = 0;
};
BoldSpan matchLineBoldSpan(const QString &line);

// Draws the result lines of both lists.
class MatchLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

class TControlMatchForm : public QDialog {
    Q_OBJECT
public:
    explicit TControlMatchForm(QWidget *parent = nullptr);
    ~TControlMatchForm() override;

    // Fields.
    NameValueList FormCodeMap;
    bool DebugTrace = false;
    std::unique_ptr<TControlMatchImporter> Importer;
    QStringList ProjectLines;
    QStringList ExternalLines;
    QString LinksPath;

    // Components.
    QGroupBox *RadioGroup1 = nullptr;    // rule class
    QButtonGroup *RadioGroup1Buttons = nullptr;
    QGroupBox *RadioGroup3 = nullptr;    // filter
    QButtonGroup *RadioGroup3Buttons = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QComboBox *ComboBox1 = nullptr;      // forms, item data = forms.id
    QComboBox *ComboBox2 = nullptr;      // tables of the chosen form
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button4 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QListWidget *ListBox2 = nullptr;

    int ruleClass() const;       // 0, 1, 2
    int filter() const;          // 0, 1, 2
    void setRuleClass(int k);
    void setFilter(int f);

    void LoadForms();
    void LoadTables();
    void LoadFormCodeMap();
    // Leaves the lists as they were when the run stops on "Отмена" (Cancelled).
    bool CompareControlSets(ProgressSink &progress = noProgress());
    void FillResultLists();

    void RadioGroup1Click();
    void RadioGroup3Click();
    void ComboBox1Click();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void CheckBox1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void FormCreate();
    qint64 chosenFormId() const;
    QString chosenTableText() const;
};

// The main window's administrator command "Сопоставление контролей".
void openControlMatch(QWidget *parent);
