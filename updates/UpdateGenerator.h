#pragma once
// TUpdateGeneratorForm: publishing updates of forms and rules.
// The publisher's side of the update service: exports chosen forms of the
// main database (structure, rules, print files) into a work folder, writes
// the manifest and packs everything into one update package.
#include <QDialog>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

struct FormPackageOptions {
    QString formName;
    bool includeStructure = false;
    bool includeControls = false;
    bool includePrintFiles = false;
    QString formVersion;
    QString controlsVersion;
    bool docxTemplate = false;   // the package holds the form's template as .docx (set by the generator)
};

using PackageProgressEvent = std::function<void(int position, int maximum, const QString &text)>;

// Path of the archive <output>/update_package_<year>_v<version>.zip, or
// empty on failure (logged; why gets the reason). options[i] belongs to
// formNames[i]; names beyond the options count with every flag off. A name
// not in the database, or one that cannot name a file, makes no package;
// nor do options that choose no part of any form. The work folder
// (<output>/temp_<n>) is removed afterwards. The print files are the form's
// templates (.doc, .docx) and cell mapping, with their modification times.
QString GenerateUpdatePackage(const QSqlDatabase &db, const QStringList &formNames,
                              const QList<FormPackageOptions> &options, const PackageProgressEvent &progress,
                              const QString &updateStrategy, const QString &globalVersion,
                              const QString &outputFolder, const QString &description, int year,
                              const QString &version, QString *why = nullptr);

// The manifest text (CR LF lines, no line end after the last "}").
QString BuildManifestJson(const QString &version, int year, const QString &description,
                          const QString &updateStrategy, const QString &globalVersion,
                          const QList<FormPackageOptions> &options, const QStringList &formNames);
// Writes the text with a final CR LF; throws db::Error when it cannot.
void SaveManifestJson(const QString &text, const QString &fileName);
void CopyPackagePrintFiles(const QString &formName, const QString &sourceFolder, const QString &destFolder);

class TUpdateGeneratorForm : public QDialog {
    Q_OBJECT
public:
    // Packs forms of that database (the main database); year: the one first
    // offered, or below 1 for the year of the settings file.
    TUpdateGeneratorForm(const QSqlDatabase &database, int year, QWidget *parent = nullptr);

    // Lists the forms of the database (run when the window is first shown).
    void LoadForms();
    void UpdateControls();
    // The commands, by the caption the user sees.
    void takeTickedForms();   // a form ticked or unticked
    void generatePackage();   // "Сгенерировать пакет"
    void closeGenerator();    // "Закрыть"
    void ReportProgress(int position, int maximum, const QString &text);

    QString lastPackage() const { return m_lastPackage; }
    // What tests reach of the widgets.
    QListWidget *formList() const { return m_ui.forms; }           // "Выберите формы:"
    QLineEdit *descriptionEdit() const { return m_ui.description; }   // "Описание:"
    QComboBox *yearBox() const { return m_ui.year; }               // "Год:"

protected:
    void showEvent(QShowEvent *event) override;

private:
    const QSqlDatabase Database;
    const int Year;

    void FormCreate();
    void FormShow();
    bool m_shown = false;
    QString m_lastPackage;
    struct Widgets {
        QLabel *formsCaption = nullptr;   // "Выберите формы:"
        QListWidget *forms = nullptr;
        // "Компоненты формы"
        QGroupBox *formParts = nullptr;
        QCheckBox *structure = nullptr, *rules = nullptr, *printFiles = nullptr;
        QLineEdit *formVersion = nullptr, *rulesVersion = nullptr;
        // "Общие контроли"
        QGroupBox *commonRules = nullptr;
        QCheckBox *includeCommon = nullptr;
        QLineEdit *commonVersion = nullptr;
        QComboBox *strategy = nullptr;
        QLineEdit *version = nullptr, *description = nullptr;
        QComboBox *year = nullptr;
        QPushButton *generate = nullptr, *close = nullptr;
        QProgressBar *progress = nullptr;
        QPlainTextEdit *log = nullptr;
    };
    Widgets m_ui;
};

// Main-window command (administrator mode).
void openUpdateGenerator(QWidget *parent);
