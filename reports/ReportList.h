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
    explicit TRepList(const WorkContext &work, QWidget *parent = nullptr);

    // Fills the list (only Form 47 reports in network mode) and selects
    // the first row.
    void FormCreate();

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

    TRepListView *ListView1 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QAction *N2 = nullptr;    // Входящие учреждения
    QAction *N7 = nullptr;    // Просмотр
    QAction *N12 = nullptr;   // Групповой пересчет
    QAction *N1 = nullptr;    // Подгрузить
    QAction *N3 = nullptr;    // Выгрузить
    QAction *N11 = nullptr;   // Входящие отчеты
    QAction *N9 = nullptr;    // Показатели
    QAction *N10 = nullptr;   // Разрезы
    QAction *N13 = nullptr;   // Население
    QMenu *N6 = nullptr;      // Отчет
    QAction *N4 = nullptr;    // Добавить
    QAction *N5 = nullptr;    // Корректировать
    QAction *N8 = nullptr;    // Удалить
    QAction *N14 = nullptr;   // Сохранить сортировку
    QAction *N15 = nullptr;   // Выход

public slots:
    void N2Click();
    void Button7Click();      // Просмотр, Разрезы
    void N12Click();
    void N1Click();
    void N3Click();
    void N11Click();
    void N9Click();
    void N13Click();
    void N4Click();
    void N5Click();
    void N8Click();
    void N14Click();
    void ListView1KeyF7();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    WorkContext m_work;   // the main window's command; handed on to the forms trees it opens
    QTreeWidgetItem *addRow(qint64 id, const QString &name, bool net);
    // Runs a command on the current report; with no report nothing happens.
    template <typename F>
    void onCurrent(F &&work);
};

// Main-window commands, opened with the work context of the command.
void openReportListSvod(QWidget *parent, const WorkContext &work);      // caption + " сводных отчетов"
void openReportListNet(QWidget *parent, const WorkContext &work);       // caption + " Ф47"
void openReportListTerrain(QWidget *parent, const WorkContext &work);   // indicators by territory
void openReportListSingle(QWidget *parent, const WorkContext &work);    // indicators by institution
