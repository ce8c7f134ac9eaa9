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

    QLabel *Label1 = nullptr;
    QGroupBox *RadioGroup1 = nullptr;
    QButtonGroup *Buttons = nullptr;
    QPushButton *BitBtn1 = nullptr;   // OK
    QPushButton *BitBtn2 = nullptr;   // Отказ
};

// Paints a progress image: the done part from the left, the text centred.
void DrawProgressImage(QLabel *image, int total, int remaining, const QString &text);

class TFMerge : public QDialog {
    Q_OBJECT
public:
    explicit TFMerge(QWidget *parent = nullptr);
    // Lists the levels and builds the institution tree.
    void FormCreate();

    // Institutions marked for selective summation, in marking order.
    const QList<qint64> &selection() const { return m_selection; }
    // "-id-id-" text of the selection (empty when none).
    QString selectionText() const;

    bool selectFinRep();
    qint64 finRepId() const { return m_finRep; }
    // Reads the non-summable positions file anew (for every run).
    void GetExclList();
    const merge::ExclList &exclList() const { return m_excl; }

    QLabel *Label1 = nullptr;
    QListWidget *CheckListBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QListWidget *ListBox1 = nullptr;
    QCheckBox *CheckBox1 = nullptr;
    QLabel *Label3 = nullptr;
    QTreeWidget *TreeView1 = nullptr;
    QPushButton *BitBtn1 = nullptr;   // Суммировать
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;

public slots:
    void CheckListBox1ClickCheck();
    void CheckBox1Click();
    void TreeView1DblClick();
    void BitBtn1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CheckMergeBranch(QTreeWidgetItem *node);
    void UncheckMergeBranch(QTreeWidgetItem *node);
    QList<qint64> m_selection;
    qint64 m_finRep = -1;
    merge::ExclList m_excl;
};

// Main-window command "Суммирование подотчетов".
void openSubReportSummation(QWidget *parent);
