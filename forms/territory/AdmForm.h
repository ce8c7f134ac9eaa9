#pragma once
// TAdmForm: the territory window; TUntChar, TSFLF: its unit and file dialogs.
// The territory window: the tree of administrative units and institutions in
// input mode (open an institution's forms, load and unload transfer files)
// or in structure mode (add, insert, correct, delete, move, order), the unit
// dialog with its served population and the form choice of group loads.
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

// The tree of the territory window: drops are done by adm::moveNode.
class TAdmTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TAdmTree(QWidget *parent = nullptr);
    // Where a drop at pos lands and on which node.
    adm::DropPlace dropPlaceAt(const QPoint &pos, QTreeWidgetItem **target) const;
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

    // Builds the tree from the administration cache (once per showing).
    void FormActivate();
    // Ids of the leaves under the selected node, joined by ",".
    QString SelectedLeafIds() const;
    Mode mode() const { return m_mode; }

    TAdmTree *TreeView1 = nullptr;
    QMenuBar *MainMenu1 = nullptr;
    QAction *N1 = nullptr, *N2 = nullptr, *N3 = nullptr, *N4 = nullptr;
    QMenu *N8 = nullptr;                     // Выгрузить
    QAction *N13 = nullptr, *N14 = nullptr;
    QMenu *N11 = nullptr;                    // Подгрузить
    QAction *N7 = nullptr, *N12 = nullptr, *N19 = nullptr;
    QMenu *N15 = nullptr;                    // Справка
    QAction *N16 = nullptr, *N17 = nullptr;
    QAction *N6 = nullptr;                   // Структура
    QAction *N9 = nullptr, *N10 = nullptr, *N471 = nullptr;
    QAction *N20 = nullptr;                  // Короткие названия
    QAction *N5 = nullptr;                   // Выход
    QWidget *Panel1 = nullptr;
    QLabel *Label2 = nullptr, *Label3 = nullptr, *Label4 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QProgressBar *Gauge1 = nullptr, *Gauge2 = nullptr;
    QLabel *Label1 = nullptr;

public slots:
    void TreeView1Change();
    void N1Click();    // Добавить
    void N2Click();    // Вставить
    void N3Click();    // Удалить
    void N4Click();    // Корректировать
    void N6Click();    // Структура
    void N7Click();    // Подгрузить группу
    void N9Click();    // Формы
    void N10Click();   // Свод
    void N12Click();   // Подгрузить одно учреждение
    void N13Click();   // Выгрузить группу
    void N14Click();   // Выгрузить одно учреждение
    void N19Click();   // Выбор форм
    void N471Click();  // Ф47
    void N16Click();   // Справка по базе
    void N17Click();   // Справка по входным файлам
    void N20Click();   // Короткие названия

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void addUnitUnder(qint64 parentId, QTreeWidgetItem *parentNode, const QString &caption);
    bool clearChosenOnly() const;
    QString dataFolder() const;
    void showPresenceList(const StringList &lines);
    Mode m_mode;
    WorkContext m_work;   // handed on to the forms trees it opens
    bool m_built = false;
    // Forms of the group loads, as the form choice gives them ("" = all).
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

    // Context for "Подсчитать" and "Восстановить".
    qint64 UnitId = 0;
    QList<qint64> ChildUnitIds;
    int Year = 0;

    QLineEdit *Edit1 = nullptr;
    QComboBox *ComboBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QLineEdit *MaskEdit1 = nullptr, *MaskEdit2 = nullptr, *MaskEdit3 = nullptr, *MaskEdit4 = nullptr;
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr, *Button1 = nullptr, *Button2 = nullptr;

public slots:
    void Button1Click();   // Подсчитать
    void Button2Click();   // Восстановить
    void accept() override;

private:
    bool m_counted = false;
};

// The form choice of group loads.
class TSFLF : public QDialog {
    Q_OBJECT
public:
    // chosen: the forms chosen so far, names joined by "," ("" = all).
    explicit TSFLF(const QString &chosen, QWidget *parent = nullptr);
    QListWidget *CheckListBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;
    // Fills the list from the forms of the open year, ticked by the forms
    // chosen so far, and returns the new choice on OK, nothing on "Отмена".
    std::optional<QString> choose();
private:
    QString m_chosen;
};

// Main-window commands.
void openAdmFormForInput(QWidget *parent, const WorkContext &work);
void openAdmFormForStructure(QWidget *parent, const WorkContext &work);
