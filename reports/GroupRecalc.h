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
    // Made with every report listed (a database failure is thrown).
    explicit TForm7(QWidget *parent = nullptr);

    // What tests reach of the widgets.
    QListWidget *reportList() const { return m_ui.reports; }   // "Выберите отчеты"
    // The report being recalculated, or the last one.
    QString reportCaption() const;

public slots:
    void recalculateChecked();   // "Пересчитать отчеты"

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Fills the list with every report in list order.
    void FormShow();

    struct Widgets {
        QLabel *prompt = nullptr;    // "Выберите отчеты"
        QListWidget *reports = nullptr;
        QLabel *report = nullptr;    // the report being recalculated
        QLabel *table = nullptr;     // the table being recalculated, or what went wrong
        QProgressBar *progress = nullptr;
        QPushButton *recalculate = nullptr;   // "Пересчитать отчеты"
        QPushButton *exit = nullptr;          // "Выход"
    };
    Widgets m_ui;
};

// Opens the window over the given parent, modally, and frees it.
void openGroupRecalc(QWidget *parent);
