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

    int ruleClass() const;       // 0, 1, 2
    int filter() const;          // 0, 1, 2
    void setRuleClass(int k);
    void setFilter(int f);

    void LoadForms();
    void LoadTables();
    void LoadFormCodeMap();   // the form codes of Links.mdb at LinksPath
    // Leaves the lists as they were when the run stops on "Отмена" (Cancelled).
    bool CompareControlSets(ProgressSink &progress = noProgress());
    void FillResultLists();

    // What tests reach of the widgets.
    QComboBox *formBox() const { return m_ui.forms; }       // "Форма:"
    QComboBox *tableBox() const { return m_ui.tables; }     // "Таблица:"
    QListWidget *projectList() const { return m_ui.projectList; }     // "Контроли проекта"
    QListWidget *externalList() const { return m_ui.externalList; }   // "Контроли выгрузки минздрава"
    QCheckBox *onlyDifferingBox() const { return m_ui.onlyDiffering; }   // "Выводить только отличающиеся"
    QPushButton *importButton() const { return m_ui.importRules; }       // "Импорт контролей"
    // The summary of the last comparison.
    QString summaryText() const;
    // The code-mapping database the importer reads.
    const QString &linksPath() const { return LinksPath; }

    // The commands, by the caption the user sees.
    void enableFormAndTable();   // "Тип контроля" chosen
    void chooseFilter();         // "Фильтр" chosen
    void loadTablesOfForm();     // a form chosen in "Форма:"
    void importRules();          // "Импорт контролей"
    void compareRules();         // "Сопоставить"
    void describeAllRules();     // "Проставить описания для всех контролей"
    void exportRules();          // "Выгрузить контроли"
    void switchOnlyDiffering();  // "Выводить только отличающиеся"

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    NameValueList FormCodeMap;
    bool DebugTrace = false;
    std::unique_ptr<TControlMatchImporter> Importer;
    QStringList ProjectLines;
    QStringList ExternalLines;
    QString LinksPath;

    void FormCreate();
    qint64 chosenFormId() const;
    QString chosenTableText() const;

    struct Widgets {
        QGroupBox *ruleClassBox = nullptr;   // "Тип контроля"
        QButtonGroup *ruleClasses = nullptr;
        QGroupBox *filterBox = nullptr;      // "Фильтр"
        QButtonGroup *filters = nullptr;
        QLabel *formCaption = nullptr, *tableCaption = nullptr;
        QComboBox *forms = nullptr;          // item data = forms.id
        QComboBox *tables = nullptr;         // tables of the chosen form
        QPushButton *importRules = nullptr, *compare = nullptr, *describeAll = nullptr, *exportRules = nullptr;
        QCheckBox *onlyDiffering = nullptr;
        QGroupBox *results = nullptr;        // "Результаты сопоставления"
        QPlainTextEdit *summary = nullptr;
        QListWidget *projectList = nullptr, *externalList = nullptr;
    };
    Widgets m_ui;
};

// The main window's administrator command "Сопоставление контролей".
void openControlMatch(QWidget *parent);
