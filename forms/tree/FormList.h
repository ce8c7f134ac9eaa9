#pragma once
// TFormList: the forms tree of one institution or report.
// The forms tree: the work window of one institution, one territorial summary,
// one summary report or one network report. Top-level nodes are forms (text
// "ФОРМА - decipher", id under kNodeIdRole), their children the tables
// ("(1000) - name", table ident). The opener passes the work context
// (institution, members, modes, value table), sets the caption and the
// visible items, calls Start and shows the window through execModal; the
// window hands its context on to the table windows it opens.
#include "engine/WorkContext.h"
#include "forms/output/ExcelOutput.h"
#include "forms/shared/FormListLogic.h"
#include "forms/table/FormNavigator.h"

#include <optional>
#include <QDialog>
#include <QElapsedTimer>

class QAction;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace winutil {
struct GroupLoadReport;
}

class TFormList : public QDialog, public FormNavigator {
    Q_OBJECT
public:
    // unitName: the name the printed documents and spreadsheets carry, as
    // the opener shows it (the territory window: its selected node); empty:
    // the stored name of the institution or report.
    explicit TFormList(const WorkContext &work, QWidget *parent = nullptr, const QString &unitName = QString());
    ~TFormList() override;
    const WorkContext &work() const { return m_work; }
    QString unitName() const;

    // Fills the tree with the forms of an institution type (-1: every form of
    // the current kind). False, leaving the tree empty, when there is none.
    bool Start(qint64 medicalType);

    // FormNavigator
    std::optional<TableWindowParams> nextTable(bool forward) override;
    QString currentFormText() const override;
    QString currentTableText() const override;

    // The form node of the selection (the node itself or a table's parent).
    QTreeWidgetItem *selectedFormNode() const;
    // Id and name ("ФОРМА") of that form; 0 and "" when nothing is selected.
    qint64 selectedFormId() const;
    QString selectedFormName() const;
    bool isTableNode(const QTreeWidgetItem *node) const;

    // Offers "Пересчитать форму" and, when report is true, "Пересчитать отчет".
    void offerRecalculation(bool report);
    // Hides "Очистить".
    void hideClearing();
    // Windows over many institutions (types, territory sums) have no single
    // target: loading a form, clearing and the group table load are hidden.
    void hideSingleTargetCommands();
    bool singleTarget() const;

    // What tests and benchmarks reach of the widgets.
    QTreeWidget *tree() const { return m_ui.tree; }
    QAction *loadFormCommand() const { return m_ui.loadForm; }               // "Подгрузить форму"
    QAction *groupLoadCommand() const { return m_ui.groupLoad; }             // "Групповая подгрузка таблицы"
    QMenu *clearingMenu() const { return m_ui.clearMenu; }                   // "Очистить"
    QAction *excelTableCommand() const { return m_ui.excelTablePerMember; }  // "Таблица по входящим ЛПУ/сводам"

public slots:
    // The commands, by the caption the user sees.
    void updateCommands();        // the current node changed
    void openTable();             // "Таблица" (Enter, a double click on a table)
    void controlTables();         // "Контроль" / "Межтабличный"
    void controlForms();          // "Контроль" / "Межформенный"
    void controlAll();            // "Контроль" / "Сплошной"
    void showControlErrors();     // "Ошибки"
    void recalculateSelectedForm();   // "Пересчитать форму"
    void showRecalcNotes(const QStringList &notes);
    void recalculateReport();     // "Пересчитать отчет"
    void loadForm();              // "Подгрузить форму"
    void clearInstitution();      // "Очистить" / "ЛПУ"
    void clearForm();             // "Очистить" / "Форму"
    void clearTable();            // "Очистить" / "Таблицу"
    void loadTableForGroup();     // "Групповая подгрузка таблицы"
    void exportFormulas();        // "Формулы расчёта" / "Экспорт формул расчёта" (F2)
    void importFormulas();        // "Формулы расчёта" / "Импорт формул расчёта" (F3)
    // "Печать формы": "Черновая", "Отладочная", "Для отчета", "Протокол".
    void printRough();
    void printDebug();
    void printForReport();
    void printProtocol();
    // "Вывод в Excel": the form, the form per included member, the table per member.
    void excelForm();             // "Вся форма по тек. ЛПУ/своду"
    void excelFormPerMember();    // "Вся форма по входящим ЛПУ/сводам"
    void excelTablePerMember();   // "Таблица по входящим ЛПУ/сводам"

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    bool m_singleTarget = true;
    WorkContext m_work;   // this window's own copy, handed on to its table windows
    QString m_unitName;
    // Shows the step under way; the window is painted and its events run at
    // most every few hundredths of a second, as the progress window does.
    void setLabel(const QString &text);
    QElapsedTimer m_sinceLabelPainted;
    void finishControls(bool found, const QString &foundMessage);
    // The forms recalculated with the progress window shown (ends before the
    // closing message); false when nothing was recalculated (a warning was shown).
    // Nothing when the recalculation was refused (a warning was shown);
    // otherwise the note on members that were not found, for the closing message.
    QString membersNoted(const QString &done) const;
    std::optional<QString> recalculate(const QList<formlist::FormEntry> &forms, const QString &status,
                                       bool roundResult = false);
    QString yearText() const;
    excelout::FormNode formNodeOf(const QTreeWidgetItem *form) const;
    // The table of a table node, as the table window opens it.
    TableWindowParams tableOfNode(const QTreeWidgetItem *node) const;
    QList<formlist::FormEntry> m_forms;
    StringList m_controlErrors;   // of the last control run, for "Ошибки контроля"
    QString m_baseCaption;
    bool m_captionDone = false;

    void buildMenu();
    struct Widgets {
        QLabel *status = nullptr;                 // the step under way
        QProgressBar *gauge = nullptr;
        QTreeWidget *tree = nullptr;              // forms and their tables
        QMenuBar *menu = nullptr;
        QAction *table = nullptr;                 // "Таблица"
        QMenu *controlMenu = nullptr;             // "Контроль"
        // "Межтабличный", "Межформенный", "Сплошной"
        QAction *controlTables = nullptr, *controlForms = nullptr, *controlAll = nullptr;
        QMenu *printMenu = nullptr;               // "Печать формы"
        // "Черновая", "Отладочная", "Для отчета", "Протокол"
        QAction *printRough = nullptr, *printDebug = nullptr, *printForReport = nullptr, *printProtocol = nullptr;
        QMenu *excelMenu = nullptr;               // "Вывод в Excel"
        QAction *excelForm = nullptr, *excelFormPerMember = nullptr, *excelTablePerMember = nullptr;
        QMenu *macroMenu = nullptr;               // "Макрос" (hidden)
        QAction *macroRun = nullptr;              // "Выполнять": only its own check mark
        QAction *errors = nullptr;                // "Ошибки"
        QAction *loadForm = nullptr;              // "Подгрузить форму"
        QAction *recalcReport = nullptr;          // "Пересчитать отчет"
        QAction *recalcForm = nullptr;            // "Пересчитать форму"
        QMenu *clearMenu = nullptr;               // "Очистить"
        // "ЛПУ", "Форму", "Таблицу"
        QAction *clearInstitution = nullptr, *clearForm = nullptr, *clearTable = nullptr;
        QAction *groupLoad = nullptr;             // "Групповая подгрузка таблицы"
        QMenu *formulaMenu = nullptr;             // "Формулы расчёта"
        QAction *exportFormulas = nullptr, *importFormulas = nullptr;   // "Экспорт ...", "Импорт ..."
        QAction *exit = nullptr;                  // "Выход"
    };
    Widgets m_ui;
};

// Openers used by the territory, institution-type and report windows. Each
// creates the window, prepares it, shows it modally and frees it.
// The territory window's openers pass the selected node's text as the
// window's unit name (documents are named after it).
// An institution: its type's forms.
void openFormsTreeForInstitution(QWidget *parent, const WorkContext &work, qint64 institutionId, const QString &caption);
// A territorial unit summed over its institutions (nothing when none).
void openFormsTreeForSummary(QWidget *parent, const WorkContext &work, qint64 unitId, const QString &caption,
                             const QString &includeList);
// The network forms of a territorial unit (nothing when it has no institutions).
void openFormsTreeForNetwork(QWidget *parent, const WorkContext &work, qint64 unitId, const QString &caption, const QString &includeList);
// Every form over the institutions of the include list (institution types).
void openFormsTreeForTypes(QWidget *parent, const WorkContext &work, const QString &caption);
// A summary report: its values in "Repdata"; "Пересчитать отчет" outside network mode.
void openFormsTreeForReport(QWidget *parent, const WorkContext &work, qint64 reportId, const QString &caption,
                            const QString &includeList, MemberKind members = MemberKind::Institutions);

// Tells what a group load of this window or of the territory window found,
// part by part, through the dialog seam (winutil::groupLoadReport).
void showGroupLoadReport(QWidget *parent, const winutil::GroupLoadReport &report);
