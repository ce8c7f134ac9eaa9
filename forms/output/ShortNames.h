#pragma once
// TForm5, TForm6: short names of institutions for sheet names.
// Short names of institutions for sheet names: ShortNames.txt beside the
// program, code page 1251, one line per institution, full name, TAB, short
// name. A short name becomes a worksheet name: the sheet made for it mends
// what a sheet name cannot hold (office::fittedSheetName); the prompt TForm6
// takes only names a sheet holds (see problem()). The editor TForm5 keeps the
// file; TForm6 asks for one missing short name.
#include <QDialog>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace shortnames {

using Row = QPair<QString, QString>;   // full name, short name

QString filePath();                    // program folder + "ShortNames.txt"
bool exists();
// Lines of the file; throws db::Error when it cannot be read.
QStringList load();
// Excel's rule for worksheet names, as told to the user.
inline const QString kSheetNameRule =
    QStringLiteral("Имя листа Excel не длиннее 31 символа и не содержит символов [ ] : * ? / \\");
// Why a short name can never be a worksheet name (the name and Excel's
// rule), or empty when it can; an empty short name is fine.
QString problem(const QString &shortName);
// Longest short name the editor writes.
constexpr int kShortNameLength = 30;
// Writes one line per row: full name, TAB, short name cut to its first
// kShortNameLength characters (an empty row as a lone TAB); a Tab typed into
// either becomes a blank. A short name a sheet cannot hold as it is ("[",
// ":", "/" ...) is written as typed: the sheet made for it mends it
// (office::fittedSheetName). Throws db::Error, and writes nothing, when the
// file cannot be written.
void save(const QList<Row> &rows);

// The text before the first TAB and the text after it; a line without a TAB
// has an empty full name and is all short name.
Row splitLine(const QString &line);
// The short name of the first line whose full name equals fullName
// (letter case counts); empty when none.
QString LookupShortName(const QString &fullName, const QStringList &list);
// Whether some line carries the full name.
bool hasLine(const QString &fullName, const QStringList &list);

// Institutions (medicaltype <> -1) by name: each with its short name from list.
QList<Row> institutionRows(const QStringList &list);

// The short name of fullName; when the list has none, TForm6 asks for one
// (not written to the file) and a reminder follows.
QString GetShortName(const QString &fullName, const QStringList &list, QWidget *parent = nullptr);

} // namespace shortnames

// The short-name list editor.
class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget *parent = nullptr);
    QList<shortnames::Row> rows() const;
    void setRows(const QList<shortnames::Row> &rows);

    // What tests reach of the widgets: full names and short names.
    QTableWidget *grid() const { return m_ui.grid; }

public slots:
    void saveList();              // "OK": writes the file and closes
    void refreshInstitutions();   // "Обновить список ЛПУ"

private:
    // Fills the grid from the list file, or from the institutions without one.
    void FormCreate();
    struct Widgets {
        QTableWidget *grid = nullptr;
        QPushButton *ok = nullptr;        // "OK"
        QPushButton *cancel = nullptr;    // "Отмена"
        QPushButton *refresh = nullptr;   // "Обновить список ЛПУ"
    };
    Widgets m_ui;
};

// The prompt for one missing short name.
class TForm6 : public QDialog {
    Q_OBJECT
public:
    explicit TForm6(QWidget *parent = nullptr);
    // The institution and why it is asked about, in bold above the field.
    void setInstitutionText(const QString &text);
    QString shortName() const;

    // What tests reach of the widgets.
    QLabel *institutionLabel() const { return m_ui.institution; }
    QLabel *hintLabel() const { return m_ui.hint; }
    QLineEdit *shortNameEdit() const { return m_ui.shortName; }
    QPushButton *okButton() const { return m_ui.ok; }   // "OK"

public slots:
    // A short name typed: "OK" shows only for a name that can be a sheet
    // name; otherwise the hint tells Excel's rule.
    void shortNameChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct Widgets {
        QLabel *institution = nullptr, *hint = nullptr;
        QLineEdit *shortName = nullptr;
        QPushButton *ok = nullptr;
    };
    Widgets m_ui;
};

// "Короткие названия": the editor shown modally.
void openShortNamesEditor(QWidget *parent);
