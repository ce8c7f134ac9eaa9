#pragma once
// TMTFs, TMTList: institution types and their report forms.
// Institution types: TMTFs renames and orders the types and assigns report
// forms to them; TMTList marks types or groups and opens the forms tree over
// all institutions of the marked types.
#include <functional>
#include "engine/WorkContext.h"
#include "forms/territory/MedTypesLogic.h"

#include <QDialog>
#include <QTreeWidget>

class QLabel;
class QListWidget;
class QMenuBar;
class QPushButton;
class QAction;

// The type tree of TMTFs: drops move a type before a sibling in ordering mode.
class TMTTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TMTTree(QWidget *parent = nullptr);
protected:
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

class TMTFs : public QDialog {
    Q_OBJECT
public:
    explicit TMTFs(QWidget *parent = nullptr);
    void FormActivate();
    bool orderingMode() const;
    void setOrderingMode(bool on);

    QLabel *Label1 = nullptr, *Label2 = nullptr;
    TMTTree *TreeView1 = nullptr;
    QListWidget *CheckListBox1 = nullptr;
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr, *BitBtn3 = nullptr;

public slots:
    void TreeView1Click();
    void BitBtn1Click();   // Сохранить
    void BitBtn3Click();   // Сохранить порядок
    void TreeView1Edited(QTreeWidgetItem *item, int column);

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    bool m_filled = false;
    bool m_loading = false;
};

class TMTList : public QDialog {
    Q_OBJECT
public:
    explicit TMTList(const WorkContext &work, QWidget *parent = nullptr);
    // The include list := the institutions of the marked leaf types (kept by
    // the window's context and handed to the forms and indicator trees). False, with
    // a message and the list unchanged, when nothing is marked.
    bool GetUnitList();
    void N1Click();

    QTreeWidget *TreeView1 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QAction *N1 = nullptr;   // Показатели
    QAction *N2 = nullptr;   // Разрезы
    QAction *N3 = nullptr;   // Выход

public slots:
    void TreeView1DblClick(QTreeWidgetItem *item);
    void N2Click();

private:
    WorkContext m_work;   // handed on to the forms tree it opens
};

// Main-window commands.
void openMedTypesEditor(QWidget *parent);   // TMTFs
void openMedTypesList(QWidget *parent, const WorkContext &work);   // TMTList

// Opens the indicator tree over the institutions of the marked types, in
// viewing mode (the indicator windows install it). Without one,
// "Показатели" of TMTList does nothing.
using IndicatorTreeOpener = std::function<void(QWidget *parent, const QString &caption, const WorkContext &work)>;
void setIndicatorTreeOpener(const IndicatorTreeOpener &opener);
