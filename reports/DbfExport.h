#pragma once
// TUnf: export of a report's or institution's values into a DBF table.
// Window "Выгрузка в формате ГВЦ": exports the values of one summary report or
// one institution for the ticked sections into a DBF table in the ministry
// layout (logic in reports/DbfExportLogic.h).
#include "platform/Database.h"

#include <QDialog>
#include <memory>

class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;

class TUnf : public QDialog {
    Q_OBJECT
public:
    // Opens the code-mapping database at linksFile (by default where the
    // program looks for it) and fills the lists. Throws db::Error when the
    // database is missing or unreadable.
    explicit TUnf(QWidget *parent = nullptr, const QString &linksFile = QString());
    ~TUnf() override;

    // The year text the export takes its year and year code from (the main
    // window's year; shared().Year by default).
    void setYearText(const QString &text) { m_yearText = text; }

    QListWidget *CheckListBox1 = nullptr;   // sections; item data: r3 as 1 or 0
    QComboBox *ComboBox3 = nullptr;         // territories
    QGroupBox *RadioGroup1 = nullptr;       // "Тип выгрузки"
    QRadioButton *RadioSvod = nullptr;      // "Своды"
    QRadioButton *RadioLpu = nullptr;       // "ЛПУ"
    QLabel *Label1 = nullptr;               // prompt above ComboBox2
    QComboBox *ComboBox2 = nullptr;         // reports or institutions; item data: id
    QPushButton *Button1 = nullptr;         // "Выгрузить отчет"
    QPushButton *Button2 = nullptr;         // "Отметить все"
    QPushButton *Button3 = nullptr;         // "Очистить все"
    QProgressBar *Gauge1 = nullptr;

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void ComboBox2Change();
    void RadioGroup1Click();

protected:
    void keyPressEvent(QKeyEvent *event) override;   // FormKeyPress: Esc closes

private:
    void FormCreate(const QString &linksFile);
    int radioIndex() const;

    std::unique_ptr<db::ScopedConnection> m_links;
    QString m_yearText;
};

// Main-window command "Выгрузка в формате МЗ РФ": shows the window modally;
// a missing code-mapping database is reported instead.
void openDbfExport(QWidget *parent);
