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
    QLineEdit *Edit1 = nullptr;   // Форма
    QLineEdit *Edit2 = nullptr;   // Содержание
    QCheckBox *CheckBox1 = nullptr;   // Сетевая
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;
public slots:
    void BitBtn1Click();
private:
    qint64 m_formId = 0;
};

class TFTabs : public QDialog {
    Q_OBJECT
public:
    explicit TFTabs(qint64 formId, QWidget *parent = nullptr);
    ~TFTabs() override;
    void FormActivate();

    QMenuBar *MainMenu1 = nullptr;
    QAction *N1 = nullptr, *N2 = nullptr, *N3 = nullptr, *N4 = nullptr;
    QTreeWidget *ListView1 = nullptr;
    QGroupBox *GroupBox1 = nullptr;
    QLineEdit *Edit1 = nullptr, *Edit2 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QRadioButton *RadioStrings = nullptr, *RadioColumns = nullptr;
    QButtonGroup *RadioButtons = nullptr;
    QPushButton *BitBtn1 = nullptr, *BitBtn2 = nullptr;

    int radioIndex() const;
    void setRadioIndex(int index);

public slots:
    void N2Click();   // Корректировать
    void N3Click();   // Удалить
    void BitBtn1Click();   // OK
    void BitBtn2Click();   // Отказ

protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void changed();
    void focusChanged(QWidget *old, QWidget *now);
    bool save();
    qint64 m_formId;
    bool m_filled = false;
    bool m_loading = false;
    bool m_leaving = false;
};

class TFormL : public QDialog {
    Q_OBJECT
public:
    explicit TFormL(QWidget *parent = nullptr);
    void FormActivate();

    QMenuBar *MainMenu1 = nullptr;
    QAction *N7 = nullptr;   // Экспорт
    QAction *N8 = nullptr;   // Импорт
    QAction *N1 = nullptr;   // Добавить
    QAction *N2 = nullptr;   // Корректировать
    QAction *N3 = nullptr;   // Удалить
    QAction *N5 = nullptr;   // Таблицы
    QAction *N6 = nullptr;   // Сохранить сортировку
    QAction *NImportDoc = nullptr;   // Импортировать из doc
    QAction *N4 = nullptr;   // Выход
    TFormLView *ListView1 = nullptr;

    bool FormLFirstShow = true;

public slots:
    void N1Click();
    void N2Click();
    void N3Click();
    void N5Click();
    void N6Click();
    void N7Click();
    void N8Click();
    void NImportDocClick();

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QTreeWidgetItem *addItem(const catalog::FormRow &f);
    void setItem(QTreeWidgetItem *item, const catalog::FormRow &f);
    void layoutList();
    QPointer<TImportDocForm> m_import;
};

// The main window's "Отчетные формы": a new catalogue shown modally.
void openFormCatalog(QWidget *parent);
