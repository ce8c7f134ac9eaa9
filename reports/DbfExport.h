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

    // What tests reach of the widgets.
    QListWidget *sectionList() const { return m_ui.sections; }     // item data: r3 as 1 or 0
    QComboBox *choiceBox() const { return m_ui.choice; }           // reports or institutions; item data: id
    QComboBox *territoryBox() const { return m_ui.territories; }
    QRadioButton *institutionsButton() const { return m_ui.institutions; }   // "ЛПУ"

    // The commands, by the caption the user sees.
    void exportChosen();       // "Выгрузить отчет"
    void markAllSections();    // "Отметить все"
    void clearAllSections();   // "Очистить все"
    void takeChosen();         // a report or institution chosen
    void switchKind();         // "Тип выгрузки" chosen

protected:
    void keyPressEvent(QKeyEvent *event) override;   // FormKeyPress: Esc closes

private:
    void FormCreate(const QString &linksFile);
    int radioIndex() const;

    std::unique_ptr<db::ScopedConnection> m_links;
    QString m_yearText;
    struct Widgets {
        QListWidget *sections = nullptr;
        QComboBox *territories = nullptr;
        QGroupBox *kindBox = nullptr;           // "Тип выгрузки"
        QRadioButton *summaries = nullptr;      // "Своды"
        QRadioButton *institutions = nullptr;   // "ЛПУ"
        QLabel *choicePrompt = nullptr;         // over the choice
        QComboBox *choice = nullptr;
        QPushButton *exportReport = nullptr, *markAll = nullptr, *clearAll = nullptr;
        QProgressBar *progress = nullptr;
    };
    Widgets m_ui;
};

// Main-window command "Выгрузка в формате МЗ РФ": shows the window modally;
// a missing code-mapping database is reported instead.
void openDbfExport(QWidget *parent);
