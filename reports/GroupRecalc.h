#pragma once
// TForm7: recalculation of summary reports.
// Group recalculation of summary reports: the stored values ("repdata") of a
// report are rebuilt, table by table of the catalogue, as the cell sums of its
// institutions' values ("data") of the year. Tables of the Form 47 forms are
// left as they are.
#include <QDialog>
#include <QList>
#include <QString>
#include <functional>

class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace grouprecalc {

struct ReportResult {
    bool noMembers = false;   // nothing done: the report's institutions resolve to none
    QList<qint64> unresolved; // ids of its include that name no institution (not summed)
    int tables = 0;           // tables recalculated
    int cells = 0;            // non-zero cells written
    int outside = 0;          // institutions' values outside their table's cells (left out)
};

// Called before each catalogue entry: entry index, entry count, entry text.
using Step = std::function<void(int index, int count, const QString &entry)>;

// Recalculates one report for the year in the current level's values
// database, in one transaction.
ReportResult recalcReport(qint64 reportId, int year, const Step &step = {});

} // namespace grouprecalc

class TForm7 : public QDialog {
    Q_OBJECT
public:
    explicit TForm7(QWidget *parent = nullptr);
    // Fills the list with every report in list order.
    void FormShow();

    QLabel *Label1 = nullptr;
    QListWidget *CheckListBox1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QProgressBar *G = nullptr;
    QPushButton *BitBtn1 = nullptr;   // Пересчитать отчеты
    QPushButton *BitBtn2 = nullptr;   // Выход

public slots:
    void BitBtn1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;
};

// Opens the window over the given parent, modally, and frees it.
void openGroupRecalc(QWidget *parent);
