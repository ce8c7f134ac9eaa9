#pragma once
// TAdmForm: the territory window; TUntChar, TSFLF: its unit and file dialogs.
// The territory window: the tree of administrative units and institutions in
// input mode (open an institution's forms, load and unload transfer files)
// or in structure mode (add, insert, correct, delete, move, order), the unit
// dialog with its served population and the form choice of group loads.
#include "core/TreeMarking.h"
#include "engine/WorkContext.h"
#include "forms/shared/AdmFormLogic.h"

#include <QDialog>
#include <QTreeWidget>
#include <optional>

class StringList;

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QWidget;

// The tree of the territory window: a drop moves the node (MoveTreeNode) and
// stores its new parent (adm::moveUnit).
class TAdmTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TAdmTree(QWidget *parent = nullptr);
    // Where a drop at pos lands and on which node.
    TreeDropPlace dropPlaceAt(const QPoint &pos, QTreeWidgetItem **target) const;
    // Performs the drop of the current node at pos (also for tests).
    bool dropCurrentAt(const QPoint &pos);
protected:
    void dropEvent(QDropEvent *event) override;
};

class TAdmForm : public QDialog {
    Q_OBJECT
public:
    enum class Mode { Input, Structure };
    TAdmForm(Mode mode, const WorkContext &work, QWidget *parent = nullptr);

    // Ids of the leaves under the selected node, joined by ",".
    QString SelectedLeafIds() const;
    Mode mode() const { return m_mode; }

    // What tests and benchmarks reach of the widgets.
    TAdmTree *tree() const { return m_ui.tree; }
    QAction *orderingAction() const { return m_ui.ordering; }              // "Структура"
    QAction *databaseReportAction() const { return m_ui.reportDatabase; }  // "Справка" / "По базе"
    QAction *filesReportAction() const { return m_ui.reportFiles; }        // "Справка" / "По входным файлам"
    QLabel *chosenFormsLabel() const { return m_ui.chosenForms; }          // "Все" or the chosen forms
    QGroupBox *progressBox() const { return m_ui.progress; }

public slots:
    // The commands, by the caption the user sees.
    void updateCommands();        // the current node changed
    void addUnit();               // "Добавить"
    void insertUnit();            // "Вставить"
    void removeUnit();            // "Удалить"
    void editUnit();              // "Корректировать"
    void toggleOrdering();        // "Структура"
    void loadGroup();             // "Подгрузить" / "Группу"
    void loadInstitution();       // "Подгрузить" / "Одно учреждение"
    void chooseLoadForms();       // "Подгрузить" / "Выбор форм"
    void unloadGroup();           // "Выгрузить" / "Группу"
    void unloadInstitution();     // "Выгрузить" / "Одно учреждение"
    void openForms();             // "Формы"
    void openSummary();           // "Свод"
    void openNetworkForms();      // "Ф47"
    void reportByDatabase();      // "Справка" / "По базе"
    void reportByFiles();         // "Справка" / "По входным файлам"
    void editShortNames();        // "Короткие названия"

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Builds the tree from the administration cache (the first showing does it).
    void FormActivate();
    void buildMenu();
    void buildPanels();
    void showCommandsOfMode();
    void addUnitUnder(qint64 parentId, QTreeWidgetItem *parentNode, const QString &caption);
    bool clearChosenOnly() const;
    QString dataFolder() const;
    void showPresenceList(const StringList &lines);
    Mode m_mode;
    WorkContext m_work;   // handed on to the forms trees it opens
    bool m_built = false;

    struct Widgets {
        TAdmTree *tree = nullptr;
        QMenuBar *menu = nullptr;
        // Structure editing: "Добавить", "Вставить", "Удалить", "Корректировать"
        QAction *add = nullptr, *insert = nullptr, *remove = nullptr, *edit = nullptr;
        QMenu *unloadMenu = nullptr;                                 // "Выгрузить"
        QAction *unloadGroup = nullptr, *unloadOne = nullptr;        // "Группу", "Одно учреждение"
        QMenu *loadMenu = nullptr;                                   // "Подгрузить"
        QAction *loadGroup = nullptr, *loadOne = nullptr;            // "Группу", "Одно учреждение"
        QAction *chooseForms = nullptr;                              // "Выбор форм"
        QMenu *reportMenu = nullptr;                                 // "Справка"
        QAction *reportDatabase = nullptr, *reportFiles = nullptr;   // "По базе", "По входным файлам"
        QAction *ordering = nullptr;                                 // "Структура" (F11)
        QAction *forms = nullptr, *summary = nullptr, *network = nullptr;   // "Формы", "Свод", "Ф47"
        QAction *shortNames = nullptr;                               // "Короткие названия" (F9)
        QAction *exit = nullptr;                                     // "Выход"
        // The forms of group loads: "Выбранные формы" <chosen>, "Очищать" ЛПУ / Выбранные формы.
        QWidget *choicePanel = nullptr;
        QLabel *chosenCaption = nullptr, *chosenForms = nullptr, *clearCaption = nullptr;
        QComboBox *clearWhat = nullptr;
        // The progress of loads, unloads and reports: a name, files (or nodes), rows.
        QGroupBox *progress = nullptr;
        QLabel *progressName = nullptr;
        QProgressBar *filesGauge = nullptr, *rowsGauge = nullptr;
    };
    Widgets m_ui;
};

// The unit dialog: name, type, rural flag and served population.
class TUntChar : public QDialog {
    Q_OBJECT
public:
    explicit TUntChar(QWidget *parent = nullptr);
    // Fills the type list (text, id) and selects the type (none for -1).
    void setTypes(const QList<QPair<QString, qint64>> &types);
    void setUnit(const adm::UnitInfo &unit);
    adm::UnitInfo unit() const;
    void setPopulation(const std::optional<adm::Population> &p);
    adm::Population population() const;
    // The population is to be saved: an edit was changed or it was counted or restored.
    bool populationTouched() const;
    // Context for "Подсчитать" and "Восстановить": the unit, the year and the
    // units under it; with some, "Подсчитать" is shown.
    void setPopulationSource(qint64 unitId, int year, const QList<qint64> &childIds = {});

    // What tests reach of the widgets.
    QLineEdit *nameEdit() const { return m_ui.name; }   // "Наименование подразделения"
    QComboBox *typeBox() const { return m_ui.type; }    // "Тип"
    // "Всего", "Взрослые", "Подростки", "Дети".
    QList<QLineEdit *> populationEdits() const { return {m_ui.total, m_ui.adults, m_ui.teens, m_ui.children}; }

public slots:
    void countPopulation();     // "Подсчитать"
    void restorePopulation();   // "Восстановить"
    void accept() override;     // "OK": closes unless a field is refused

private:
    qint64 m_unitId = 0;
    QList<qint64> m_childIds;
    int m_year = 0;
    bool m_counted = false;

    struct Widgets {
        QLineEdit *name = nullptr;      // "Наименование подразделения"
        QComboBox *type = nullptr;      // "Тип"
        QCheckBox *rural = nullptr;     // "Сельская местность"
        // "Численность населения": "Всего", "Взрослые", "Подростки", "Дети"
        QLineEdit *total = nullptr, *adults = nullptr, *teens = nullptr, *children = nullptr;
        QPushButton *ok = nullptr, *cancel = nullptr;         // "OK", "Отказ"
        QPushButton *count = nullptr, *restore = nullptr;     // "Подсчитать", "Восстановить"
    };
    Widgets m_ui;
};

// The form choice of group loads.
class TSFLF : public QDialog {
    Q_OBJECT
public:
    // chosen: the forms chosen so far, names joined by "," ("" = all).
    explicit TSFLF(const QString &chosen, QWidget *parent = nullptr);
    // Fills the list from the forms of the open year, ticked by the forms
    // chosen so far, and returns the new choice on OK, nothing on "Отмена".
    std::optional<QString> choose();

    // What tests and benchmarks reach of the widgets.
    QListWidget *list() const { return m_ui.list; }

private:
    QString m_chosen;

    struct Widgets {
        QListWidget *list = nullptr;
        QCheckBox *all = nullptr;                         // "Выбрать все"
        QPushButton *ok = nullptr, *cancel = nullptr;     // "OK", "Отказ"
    };
    Widgets m_ui;
};

// Main-window commands.
void openAdmFormForInput(QWidget *parent, const WorkContext &work);
void openAdmFormForStructure(QWidget *parent, const WorkContext &work);
