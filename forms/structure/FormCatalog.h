#pragma once
// TFormL, TFTabs, TFChar: the catalogue of report forms and their tables.
// The report-form catalogue (TFormL), the tables of one form (TFTabs) and the
// dialog of one form's name, description and network flag (TFChar).
#include "forms/structure/FormCatalogLogic.h"

#include <QDialog>
#include <QPointer>
#include <QTreeWidget>

class QAction;
class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QRadioButton;
class TImportDocForm;

// The catalogue list: a row dropped on another row moves before it.
class TFormLView : public QTreeWidget {
    Q_OBJECT
public:
    explicit TFormLView(QWidget *parent = nullptr);
    // Inserts a copy of dragged at target's position, deletes dragged and
    // selects the copy. False (nothing changes) without a target row.
    bool dropRowOn(QTreeWidgetItem *dragged, QTreeWidgetItem *target);
signals:
    void rowMoved();
protected:
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};

class TFChar : public QDialog {
    Q_OBJECT
public:
    // formId: the form being edited, 0 for a new one (its name is checked
    // against the other forms of the catalogue).
    explicit TFChar(QWidget *parent = nullptr, qint64 formId = 0);

    // The form's name, description and network flag, shown for editing.
    void setForm(const catalog::FormRow &form);
    // The fields as typed, with id.
    catalog::FormRow form(qint64 id) const;

    // What tests reach of the widgets.
    QLineEdit *nameEdit() const { return m_ui.name; }                 // "Форма"
    QLineEdit *descriptionEdit() const { return m_ui.description; }   // "Содержание"
    QCheckBox *netBox() const { return m_ui.net; }                    // "Сетевая"
    QPushButton *okButton() const { return m_ui.ok; }                 // "OK"

public slots:
    void acceptForm();   // "OK": closes unless a field is refused

private:
    qint64 m_formId = 0;
    struct Widgets {
        QLineEdit *name = nullptr, *description = nullptr;
        QCheckBox *net = nullptr;
        QPushButton *ok = nullptr, *cancel = nullptr;
    };
    Widgets m_ui;
};

class TFTabs : public QDialog {
    Q_OBJECT
public:
    explicit TFTabs(qint64 formId, QWidget *parent = nullptr);
    ~TFTabs() override;

    // "Формирование по...": Строкам (0) or Графам (1).
    int radioIndex() const;
    void setRadioIndex(int index);
    // Hides the choice "Формирование по..." (a form that is no network form).
    void hideScanChoice();

    // What tests reach of the widgets.
    QTreeWidget *list() const { return m_ui.list; }
    QLineEdit *numberEdit() const { return m_ui.number; }             // "Номер"
    QLineEdit *descriptionEdit() const { return m_ui.description; }   // "Содержание"
    QCheckBox *floatBox() const { return m_ui.floatValues; }          // "Нецелые значения"

public slots:
    void editTable();     // "Корректировать"
    void deleteTable();   // "Удалить"
    void acceptTable();   // "OK" of the editing group
    void cancelEdit();    // "Отказ" of the editing group

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Lists the form's tables (the first showing does it).
    void FormActivate();
    void changed();
    void focusChanged(QWidget *old, QWidget *now);
    bool save();
    qint64 m_formId;
    bool m_filled = false;
    bool m_loading = false;
    bool m_leaving = false;

    struct Widgets {
        QMenuBar *menuBar = nullptr;
        // "Добавить" (hidden), "Корректировать", "Удалить", "Выход"
        QAction *add = nullptr, *edit = nullptr, *remove = nullptr, *exit = nullptr;
        QTreeWidget *list = nullptr;
        QGroupBox *editGroup = nullptr;
        QLineEdit *number = nullptr, *description = nullptr;
        QCheckBox *floatValues = nullptr;
        QGroupBox *scanGroup = nullptr;   // "Формирование по..."
        QRadioButton *byRows = nullptr, *byColumns = nullptr;
        QButtonGroup *scanButtons = nullptr;
        QPushButton *ok = nullptr, *cancel = nullptr;
    };
    Widgets m_ui;
};

class TFormL : public QDialog {
    Q_OBJECT
public:
    explicit TFormL(QWidget *parent = nullptr);
    bool isFilled() const { return m_filled; }

    // What tests reach of the widgets.
    TFormLView *list() const { return m_ui.list; }

public slots:
    // The commands, by the caption the user sees.
    void addForm();         // "Добавить"
    void editForm();        // "Корректировать"
    void deleteForm();      // "Удалить"
    void openTables();      // "Таблицы"
    void saveOrder();       // "Сохранить сортировку"
    void exportForm();      // "Экспорт"
    void importForm();      // "Импорт"
    void importFromDoc();   // "Импортировать из doc"

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // Fills the list (the first showing does it) and selects the first row.
    void FormActivate();
    QTreeWidgetItem *addItem(const catalog::FormRow &f);
    void setItem(QTreeWidgetItem *item, const catalog::FormRow &f);
    void layoutList();
    QPointer<TImportDocForm> m_import;
    bool m_filled = false;

    struct Widgets {
        QMenuBar *menuBar = nullptr;
        QAction *exportForm = nullptr;   // "Экспорт"
        QAction *importForm = nullptr;   // "Импорт"
        QAction *add = nullptr;          // "Добавить"
        QAction *edit = nullptr;         // "Корректировать"
        QAction *remove = nullptr;       // "Удалить"
        QAction *tables = nullptr;       // "Таблицы"
        QAction *saveOrder = nullptr;    // "Сохранить сортировку"
        QAction *importDoc = nullptr;    // "Импортировать из doc"
        QAction *exit = nullptr;         // "Выход"
        TFormLView *list = nullptr;
    };
    Widgets m_ui;
};

// The main window's "Отчетные формы": a new catalogue shown modally.
void openFormCatalog(QWidget *parent);
