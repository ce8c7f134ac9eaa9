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
    bool orderingMode() const;
    void setOrderingMode(bool on);

    // What tests reach of the widgets.
    TMTTree *typeTree() const { return m_ui.types; }        // "Типы медицинских учреждений"
    QListWidget *formList() const { return m_ui.forms; }     // "Отчетные формы"

public slots:
    void showTypeForms();    // a type chosen: its forms are ticked
    void saveTypeForms();    // "Сохранить"
    void saveTypeOrder();    // "Сохранить порядок"
    void renameType(QTreeWidgetItem *item, int column);   // a type renamed in the tree

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Lists the forms and builds the type tree (the first showing does it).
    void FormActivate();
    bool m_filled = false;
    bool m_loading = false;

    struct Widgets {
        QLabel *typesCaption = nullptr, *formsCaption = nullptr;
        TMTTree *types = nullptr;
        QListWidget *forms = nullptr;
        QPushButton *save = nullptr;        // "Сохранить"
        QPushButton *saveOrder = nullptr;   // "Сохранить порядок"
        QPushButton *exit = nullptr;        // "Выход"
    };
    Widgets m_ui;
};

class TMTList : public QDialog {
    Q_OBJECT
public:
    explicit TMTList(const WorkContext &work, QWidget *parent = nullptr);
    // The include list := the institutions of the marked leaf types (kept by
    // the window's context and handed to the forms and indicator trees). False, with
    // a message and the list unchanged, when nothing is marked.
    bool GetUnitList();

    // What tests reach of the widgets.
    QTreeWidget *typeTree() const { return m_ui.types; }

public slots:
    void showIndicators();                     // "Показатели"
    void openBreakdowns();                     // "Разрезы"
    void switchType(QTreeWidgetItem *item);    // a double click on a type marks or unmarks its branch

private:
    WorkContext m_work;   // handed on to the forms tree it opens

    struct Widgets {
        QTreeWidget *types = nullptr;
        QMenuBar *menuBar = nullptr;
        QAction *indicators = nullptr;   // "Показатели"
        QAction *breakdowns = nullptr;   // "Разрезы"
        QAction *exit = nullptr;         // "Выход"
    };
    Widgets m_ui;
};

// Main-window commands.
void openMedTypesEditor(QWidget *parent);   // TMTFs
void openMedTypesList(QWidget *parent, const WorkContext &work);   // TMTList

// Opens the indicator tree over the institutions of the marked types, in
// viewing mode (the indicator windows install it). Without one,
// "Показатели" of TMTList does nothing.
using IndicatorTreeOpener = std::function<void(QWidget *parent, const QString &caption, const WorkContext &work)>;
void setIndicatorTreeOpener(const IndicatorTreeOpener &opener);
