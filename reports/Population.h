#pragma once
// TPopform: the population of a summary report.
// Population of a summary report for the open year: four counts of at most
// seven digits, counted from the institutions' populations on request and
// stored on OK.
#include "reports/ReportLogic.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TPopform : public QDialog {
    Q_OBJECT
public:
    // Made with the stored counts in the edits (a database failure is thrown).
    TPopform(qint64 reportId, const QString &reportName, QWidget *parent = nullptr);

    bool recordExists() const { return m_exists; }

    // What tests reach of the widgets: the counts.
    QLineEdit *totalEdit() const { return m_ui.total; }           // "Всего"
    QLineEdit *adultsEdit() const { return m_ui.adults; }         // "Взрослые"
    QLineEdit *teenagersEdit() const { return m_ui.teenagers; }   // "Подростки"
    QLineEdit *childrenEdit() const { return m_ui.children; }     // "Дети"

public slots:
    void countFromInstitutions();    // "Подсчитать по учреждениям"
    void restoreStored();            // "Восстановить"
    void countFromMemberReports();   // "Подсчитать по вход. отчетам" (not shown)
    // "OK": stores the four counts; a bad count keeps the window open with a message.
    void storeCounts();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Fills the edits from the stored record (empty when there is none).
    void FormShow();
    // Puts counted values into the edits (refused when one has more than 7 digits).
    void showCounts(const reports::Population &p);
    qint64 m_id;
    bool m_exists = false;
    struct Widgets {
        QLineEdit *total = nullptr, *adults = nullptr, *teenagers = nullptr, *children = nullptr;
        QPushButton *countByInstitutions = nullptr;   // "Подсчитать по учреждениям"
        QPushButton *restore = nullptr;               // "Восстановить"
        QPushButton *countByReports = nullptr;        // "Подсчитать по вход. отчетам"
        QPushButton *ok = nullptr;
    };
    Widgets m_ui;
};

// Command of the report list: shows the dialog modally; true when stored.
bool editReportPopulation(QWidget *parent, qint64 reportId, const QString &reportName);
