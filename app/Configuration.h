#pragma once
// The open configuration and reporting year: settings file, start-up,
// opening a configuration, stepping and creating years, attaching and
// copying configurations. Keeps the lists the main window shows
// (configurations, year folders, sub-report levels) and the shared globals
// (ConfigName, ConfigPath, Year, ...). Questions and dialogs go through the
// dialog seam, so every operation runs without a window in tests.
#include "app/SubReports.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QWidget;

namespace config {

inline const QString kSectionCurrent = QStringLiteral("Конфигурация");
inline const QString kSectionList = QStringLiteral("Конфигурации");

// Window caption for the open configuration and year.
QString windowCaption(const QString &configName, int year);
inline const QString kInitialCaption = QStringLiteral("Формирование и контроль медицинских статистических отчетных форм");

// Names in the configuration folder that are complete year folders (digits
// and dots only, holding the year's databases), in name order.
QStringList FillYearList(const QString &configPath);

// True when the year folder holds both databases of a year. A folder left
// without them (a run killed while making the year) is not a year.
bool YearComplete(const QString &yearFolder);
// The databases a year folder lacks (missing, empty or unreadable).
QStringList MissingYearFiles(const QString &yearFolder);
// For a year folder that exists but is incomplete: which file it lacks and
// the name it will be kept under when the year is made again; empty otherwise.
QString IncompleteYearText(const QString &yearFolder);

// A year the program keeps: four digits. A stored or typed year outside
// them is no year (it would become a folder "0" or "-1").
inline constexpr int kFirstYear = 1000, kLastYear = 9999;
bool isReportingYear(int year);

// Why a folder cannot be attached as a configuration (missing, or without a
// complete year: the message says what it must hold); empty when it can.
QString attachProblem(const QString &folder);

// Why a configuration cannot be registered under this name and folder (a
// Russian sentence naming the character at fault), or empty when it can.
QString registrationProblem(const QString &name, const QString &folder);

} // namespace config

class Configuration {
public:
    explicit Configuration(QWidget *dialogParent = nullptr) : m_parent(dialogParent) {}

    // Lists shown by the main window.
    const QStringList &configNames() const { return m_configNames; }   // DBList
    int configIndex() const { return m_configIndex; }                  // DBList item of the open configuration
    const QStringList &yearFolders() const { return m_yearFolders; }   // YearList
    SubReports &levels() { return m_levels; }                          // SRList
    const SubReports &levels() const { return m_levels; }

    // Start-up: settings file, configuration, year, connections, caches.
    // False when it stopped early; the year is then 0.
    bool startUp();

    // Opens configuration `index` of the list ("База данных"). False when it
    // stopped: cancelled year choice (silently) or an error already shown.
    // Throws db::Error, leaving the open configuration as it was, when the
    // configuration has no folder registered, its folder is missing or the
    // year's databases cannot be opened.
    bool openConfiguration(int index);

    // (Re)opens the current year of the open configuration: empties the work
    // state, opens both connections, reloads the caches and the level list;
    // writes Year. Throws db::Error.
    void SetYear();

    // Previous (-1) or next (+1) year, creating the year after a question.
    // False when nothing changed. Throws db::Error.
    bool stepYear(int delta);

    // Makes year folder `to` from year `from` of the open configuration.
    // On failure nothing of the new year is left and db::Error is thrown.
    void CreateYearDatabase(int from, int to);

    // Year choice dialog offering years (the complete year folders of the
    // open configuration when not given); nothing when cancelled. A text
    // that is no year is said and the choice shown again.
    std::optional<int> ChooseYear(const QString &caption, const std::optional<QStringList> &years = std::nullopt);

    // "Присоединение базы данных": registers a folder under a name. False
    // when cancelled; `attached` gets the name.
    bool attachDatabase(QString *attached = nullptr);
    // Copy of the open year into another folder, registered under a new
    // name. False when cancelled or failed (the user is told).
    bool copyYearToNewDatabase();
    // Copies the open year into folder target (with trailing '/') and
    // registers it as `name`. Throws db::Error; nothing is left on failure.
    void CopyConfiguration(const QString &target, const QString &name);

    // "Label2 - DBList - SRList:"
    QString applicationTitle() const;
    QString windowCaption() const;
    QString currentConfigName() const;

private:
    QString settingsPath() const;
    // After configuration `failed` could not be opened at start-up: another
    // one chosen by the user (or attached when there is no other); nothing
    // when cancelled.
    std::optional<int> chooseOtherConfiguration(const QList<int> &failed, const QString &reason);
    void reloadYearFolders();
    // Remembers a value of the open configuration in the settings file; a
    // settings file that cannot be written is reported once per session.
    void remember(const QString &key, int value);
    // Asks for a name and a folder in dlg until they can be registered;
    // false when cancelled or a taken name is not to be replaced.
    // needsYear: the folder must hold a complete year (attaching).
    bool askRegistration(class TGBP *dlg, QString &name, QString &folder, bool needsYear = false);
    // Builds year folder dst under a temporary name and moves it into place
    // only when build succeeded; nothing is left when it throws.
    void addName(const QString &name);
    // The folder registered under a configuration name (empty when none).
    QString folderOf(const QString &name) const;
    // A folder of the year left incomplete is kept aside: its new path is
    // returned (empty when there was none).
    static QString buildYearFolder(const QString &dst, const std::function<void(const QString &)> &build);

    QWidget *m_parent = nullptr;
    QStringList m_configNames;
    int m_configIndex = -1;
    QStringList m_yearFolders;
    SubReports m_levels;
    bool m_settingsWarned = false;
    // The year whose databases the last openConfiguration could not open
    // (0 when it failed otherwise or did not fail).
    int m_failedYear = 0;
    // Configurations attached while the settings file could not be read:
    // they are not written to it and last until the program ends.
    QMap<QString, QString> m_unsavedFolders;
};
