#pragma once
// TRepList: the list of summary reports.
// The list of summary reports ("Формирование и просмотр"): reports are added,
// renamed, deleted and ordered here, and every command on one report starts
// from here: its institutions, member reports and population, its forms tree,
// the transfer files of its values and the group recalculation.
#include "engine/WorkContext.h"

#include <QDialog>
#include <QTreeWidget>

class QAction;
class QMenu;
class QMenuBar;

// The list view: rows are dragged within it; a drop reorders the rows.
class TRepListView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TRepListView(QWidget *parent = nullptr);
    // Moves the current row before the row at pos (viewport coordinates), or
    // to the end when no row lies there.
    void dropCurrentAt(const QPoint &pos);
    // Width of the first column for a list of that width: 45 pixels and a
    // vertical scroll bar less.
    static int firstColumnWidth(int listWidth, int scrollBarWidth);
signals:
    void rowMoved();
protected:
    void dropEvent(QDropEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
private:
    void fitFirstColumn();
};

class TRepList : public QDialog {
    Q_OBJECT
public:
    // Made with its list filled (a database failure is thrown).
    explicit TRepList(const WorkContext &work, QWidget *parent = nullptr);

    // Sizes the window to its shown menu items.
    void fitToMenu();

    // The current report: id and name; 0 and empty when the list is empty.
    qint64 currentId() const;
    QString currentName() const;
    bool currentNet() const;

    // The list as the way to indicators: member institutions, loading,
    // unloading, the report menu, viewing and deleting are hidden;
    // indicators, breakdowns and population are shown, and member reports
    // when composite.
    void setIndicatorMode(bool composite);

    // What tests reach of the widgets.
    TRepListView *list() const { return m_ui.list; }
    QMenuBar *menuBar() const { return m_ui.menuBar; }
    QAction *includesCommand() const { return m_ui.includes; }            // "Входящие учреждения"
    QAction *viewCommand() const { return m_ui.view; }                    // "Просмотр"
    QAction *groupRecalcCommand() const { return m_ui.groupRecalc; }      // "Групповой пересчет"
    QAction *memberReportsCommand() const { return m_ui.memberReports; }  // "Входящие отчеты"
    QAction *indicatorsCommand() const { return m_ui.indicators; }        // "Показатели"
    QAction *breakdownsCommand() const { return m_ui.breakdowns; }        // "Разрезы"
    QAction *populationCommand() const { return m_ui.population; }        // "Население"
    QAction *saveOrderCommand() const { return m_ui.saveOrder; }          // "Сохранить сортировку"

public slots:
    // The commands, by the caption the user sees.
    void editIncludedInstitutions();   // "Входящие учреждения"
    void openFormsTree();              // "Просмотр", "Разрезы"
    void openGroupRecalculation();     // "Групповой пересчет"
    void loadReportFile();             // "Подгрузить"
    void unloadReportFile();           // "Выгрузить"
    void editMemberReports();          // "Входящие отчеты"
    void showIndicators();             // "Показатели"
    void editPopulation();             // "Население"
    void addReport();                  // "Отчет" - "Добавить"
    void renameReport();               // "Отчет" - "Корректировать"
    void deleteReport();               // "Отчет" - "Удалить"
    void saveOrder();                  // "Сохранить сортировку"
    void switchNetMark();              // F7 on the list: the "Ф47" mark

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Fills the list (only Form 47 reports in network mode) and selects
    // the first row.
    void FormCreate();
    WorkContext m_work;   // the main window's command; handed on to the forms trees it opens
    QTreeWidgetItem *addRow(qint64 id, const QString &name, bool net);
    // Runs a command on the current report; with no report nothing happens.
    template <typename F>
    void onCurrent(F &&work);

    struct Widgets {
        TRepListView *list = nullptr;
        QMenuBar *menuBar = nullptr;
        QAction *includes = nullptr, *view = nullptr, *groupRecalc = nullptr, *load = nullptr, *unload = nullptr;
        QAction *memberReports = nullptr, *indicators = nullptr, *breakdowns = nullptr, *population = nullptr;
        // "Отчет": "Добавить", "Корректировать", "Удалить"
        QMenu *reportMenu = nullptr;
        QAction *add = nullptr, *rename = nullptr, *remove = nullptr;
        QAction *saveOrder = nullptr, *exit = nullptr;
    };
    Widgets m_ui;
};

// Main-window commands, opened with the work context of the command.
void openReportListSvod(QWidget *parent, const WorkContext &work);      // caption + " сводных отчетов"
void openReportListNet(QWidget *parent, const WorkContext &work);       // caption + " Ф47"
void openReportListTerrain(QWidget *parent, const WorkContext &work);   // indicators by territory
void openReportListSingle(QWidget *parent, const WorkContext &work);    // indicators by institution
