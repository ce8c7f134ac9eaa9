#pragma once
// TSFRF, TFMerge: summation of sub-report levels.
// Summation of sub-report levels ("Суммирование"): source levels are checked,
// one receiver chosen, optionally only the institutions marked in the tree;
// TSFRF asks which source fills the non-summable positions.
#include "reports/SummationLogic.h"

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class TSFRF : public QDialog {
    Q_OBJECT
public:
    explicit TSFRF(QWidget *parent = nullptr);
    void addLevel(const QString &name, qint64 id);
    // Id of the chosen level; -1 when none is chosen.
    qint64 chosenId() const;
    void choose(int index);

private:
    struct Widgets {
        QLabel *prompt = nullptr;                         // "Укажите отчет, данные которого ..."
        QGroupBox *levelBox = nullptr;                    // one radio button per checked level
        QButtonGroup *levels = nullptr;
        QPushButton *ok = nullptr, *cancel = nullptr;     // "OK", "Отказ"
    };
    Widgets m_ui;
};

// Paints a progress image: the done part from the left, the text centred.
void DrawProgressImage(QLabel *image, int total, int remaining, const QString &text);

class TFMerge : public QDialog {
    Q_OBJECT
public:
    // Made with the levels listed and the institution tree built (a
    // database failure is thrown).
    explicit TFMerge(QWidget *parent = nullptr);

    // Institutions marked for selective summation, in marking order.
    const QList<qint64> &selection() const { return m_selection; }
    // "-id-id-" text of the selection (empty when none).
    QString selectionText() const;

    bool selectFinRep();
    qint64 finRepId() const { return m_finRep; }
    // Reads the non-summable positions file anew (for every run).
    void GetExclList();
    const merge::ExclList &exclList() const { return m_excl; }

    // What tests and benchmarks reach of the widgets.
    QListWidget *sourceList() const { return m_ui.sources; }       // "Что суммировать"
    QListWidget *receiverList() const { return m_ui.receivers; }   // "Куда суммировать"
    QCheckBox *selectiveBox() const { return m_ui.selective; }     // "Выборочное суммирование"
    QTreeWidget *institutionTree() const { return m_ui.tree; }     // "Укажите учреждения для суммирования"

public slots:
    // The commands, by the caption the user sees.
    void listReceivers();         // a level of "Что суммировать" checked or unchecked
    void showSelection();         // "Выборочное суммирование"
    void toggleInstitution();     // a double click or Space on the institution tree
    void summate();               // "Суммировать"

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Lists the levels and builds the institution tree.
    void FormCreate();
    void CheckMergeBranch(QTreeWidgetItem *node);
    void UncheckMergeBranch(QTreeWidgetItem *node);
    QList<qint64> m_selection;
    qint64 m_finRep = -1;
    merge::ExclList m_excl;

    struct Widgets {
        QLabel *sourceCaption = nullptr;      // "Что суммировать"
        QListWidget *sources = nullptr;
        QLabel *receiverCaption = nullptr;    // "Куда суммировать"
        QListWidget *receivers = nullptr;
        QCheckBox *selective = nullptr;       // "Выборочное суммирование"
        QLabel *treeCaption = nullptr;        // "Укажите учреждения для суммирования"
        QTreeWidget *tree = nullptr;
        QPushButton *summate = nullptr;       // "Суммировать"
        // The progress: the institutions, the tables of the current one.
        QLabel *unitsImage = nullptr, *tablesImage = nullptr;
    };
    Widgets m_ui;
};

// Main-window command "Суммирование подотчетов".
void openSubReportSummation(QWidget *parent);
