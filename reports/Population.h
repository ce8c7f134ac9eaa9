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
    TPopform(qint64 reportId, const QString &reportName, QWidget *parent = nullptr);

    // Fills the edits from the stored record (empty when there is none).
    void FormShow();
    bool recordExists() const { return m_exists; }

    QLineEdit *MaskEdit1 = nullptr;   // Всего
    QLineEdit *MaskEdit2 = nullptr;   // Взрослые
    QLineEdit *MaskEdit3 = nullptr;   // Подростки
    QLineEdit *MaskEdit4 = nullptr;   // Дети
    QPushButton *Button1 = nullptr;   // Подсчитать по учреждениям
    QPushButton *Button2 = nullptr;   // Восстановить
    QPushButton *Button3 = nullptr;   // Подсчитать по вход. отчетам (not shown)
    QPushButton *BitBtn1 = nullptr;   // OK

public slots:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    // Stores the four counts; a bad count keeps the window open with a message.
    void BitBtn1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    // Puts counted values into the edits (refused when one has more than 7 digits).
    void showCounts(const reports::Population &p);
    qint64 m_id;
    bool m_exists = false;
};

// Command of the report list: shows the dialog modally; true when stored.
bool editReportPopulation(QWidget *parent, qint64 reportId, const QString &reportName);
