#pragma once
// TUpdateForm: finding and installing updates of a reporting year.
// The update client: TUpdateManager checks the update server for updates of
// a reporting year not installed yet, installs one (download, checksum,
// unpack, install, record) and rolls one back; TUpdateForm is the window
// "Обновления форм и контролей". Every step goes to the update log.
#include "updates/UpdateLists.h"
#include "updates/UpdateSupport.h"

#include <QDialog>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// Used when the settings name no update server.
inline const QString kDefaultUpdateServerUrl = QStringLiteral("http://updates.kelvana.ru/api/v1/updates/");

class TUpdateManager {
public:
    TUpdateManager(const QSqlDatabase &database, int year, const QString &serverUrl, const QString &tempDir);

    // The updates of the year not installed yet (all of them with true).
    std::unique_ptr<TUpdatesList> CheckForUpdates(bool includeInstalled = false);
    bool InstallUpdate(const QString &updateId, const QString &archiveUrl, const QString &checksum);
    // The entry's version, description and archive size go into the record.
    bool InstallUpdate(const UpdateEntry &entry);
    bool RollbackUpdate(const QString &updateId);

    // Set by the constructor, never changed.
    const QSqlDatabase Database;
    const int Year;
    const QString ServerUrl;
    const QString TempDir;
    // Download progress of the list and the archives; returning false cancels (may be empty).
    DownloadProgressEvent Progress;
    // For the user, after InstallUpdate or RollbackUpdate: why it failed, or
    // a warning about an install that succeeded (empty when there is none).
    QString Message;

    QString archivePath(const QString &updateId) const;
    QString unpackedFolder(const QString &updateId) const;
    // An update's backup belongs to the configuration it changed: it lies in
    // the year folder beside that configuration's database, as
    // Backup/<update id>. Empty without a database.
    QString backupFolder(const QString &updateId) const;
};

QStringList GetInstalledUpdateIds(const TUpdateManager &manager);
// The updates installed for the manager's year, as recorded.
QList<InstalledUpdateRecord> GetInstalledUpdates(const TUpdateManager &manager);

// The update server address of a settings file: "Настройки"/UpdateServerURL,
// the default when the file, the key or the value is missing.
QString ReadUpdateServerUrl(const QString &settingsFile);

class TUpdateForm : public QDialog {
    Q_OBJECT
public:
    // The updates of the year in that database (the main database): listed
    // when the window is first shown.
    TUpdateForm(const QSqlDatabase &database, int year, QWidget *parent = nullptr);
    ~TUpdateForm() override;

    void RefreshUpdates();
    void UpdateButtons();
    // The commands, by the caption the user sees.
    void checkForUpdates();       // "Проверить обновления"
    void installSelected();       // "Установить"
    void rollBackSelected();      // "Откатить"
    void closeWindow();           // "Закрыть"
    void showSelectedDetails();   // an update of the list chosen

    // What tests reach of the widgets.
    QTreeWidget *updateList() const { return m_ui.updates; }
    QString detailsText() const;   // the chosen update's details
    QPushButton *refreshButton() const { return m_ui.refresh; }
    QPushButton *installButton() const { return m_ui.install; }
    QPushButton *rollbackButton() const { return m_ui.rollback; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    const QSqlDatabase Database;
    const int Year;
    // Read when the window is first shown.
    QString ServerUrl;
    QString TempDir;

    void FormCreate();
    void FormShow();
    const UpdateEntry *selectedEntry() const;
    QList<UpdateEntry> m_rows;   // the entry of each list row (available and installed)
    bool m_shown = false;
    struct Widgets {
        QTreeWidget *updates = nullptr;
        QLabel *aboveDetails = nullptr;
        QPlainTextEdit *details = nullptr;
        QLabel *belowDetails = nullptr;
        QProgressBar *progress = nullptr;
        QPushButton *refresh = nullptr, *install = nullptr, *rollback = nullptr, *close = nullptr;
    };
    Widgets m_ui;
};

// Main-window commands: the updates window, the update check (both offered
// disabled by the main window) and the package generator (administrator mode).
void openUpdateWindow(QWidget *parent);
void checkForUpdatesCommand(QWidget *parent);
