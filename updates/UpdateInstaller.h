#pragma once
// Installation of an unpacked update into the main database and the year
// folder, and its rollback from the update's backup folder.
//
// Unpacked folder: update_manifest.json at the top, one sub-folder per form
// (named as the form) with its structure file, its control file and
// "Forms/" with the print files.
// Backup folder: forms_backup/<form>.frs, controls_backup/controls_<form>.orv,
// print_files_backup/<form>/<form>.doc|.txt.
//
// Everything an installation changes in the database happens in one
// transaction; the print files are staged beside their folder and put in
// place only after the commit. A form entry whose parts cannot be read
// (structure line, rule file, print file) or that touches another form fails
// the whole update: it is installed completely or not at all.
#include "engine/ControlFileLines.h"
#include "platform/office/Package.h"

#include <QSet>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

enum InstallResult { InstallAll = 0, InstallNone = 1, InstallSome = 2 };

// Runs inside the installation's transaction after every entry was
// installed; a throw undoes the whole installation.
using InstallCommitHook = std::function<void()>;

// What an installation did beyond its result.
struct InstallReport {
    bool committed = false;    // the database holds the update
    QStringList notReplaced;   // print files left as they were after the commit, with the reason
    QString reason;            // why nothing was installed, for the user
};

// 0 everything installed (also with no entries); 1 nothing changed (a
// missing, unreadable or invalid manifest, or an entry that cannot be
// installed); 2 the database holds the update but some print files could
// not be replaced (named in the report). Backups throw db::Error.
int InstallUpdateComponents(const QSqlDatabase &db, const QString &unpackedFolder, const QString &manifestFile,
                            const QString &updateId, int year, const QString &backupFolder,
                            const InstallCommitHook &beforeCommit = {}, InstallReport *report = nullptr);

// Unpacks an update package: its manifest, then only the files the manifest
// names, at most office::kMaxUnpackedBytes in all (the limit of every
// archive the program opens). False with the reason for the user.
inline constexpr qint64 kMaxManifestBytes = 4 * 1024 * 1024;
bool ExtractUpdatePackage(const QString &archive, const QString &unpackedFolder, QString *why = nullptr);

// Puts in place the print files of an installation stopped between its
// commit and their moves (a kill, a power cut), and clears what an
// uncommitted one left. Returns the files that could not be put in place.
QStringList FinishInterruptedInstall(const QSqlDatabase &db);

// The form line of a structure file: name#decipher#Да|Нет. Empty when the
// line would not be written back exactly so (a "#" inside a text).
struct FormHeaderLine {
    QString name, decipher;
    bool net = false;
};
std::optional<FormHeaderLine> ParseFormHeaderLine(const QString &line);

qint64 ReadFormIdByName(const QSqlDatabase &db, const QString &formName);   // -1 when none
// With an expected name, a form line naming another form is refused.
bool InstallFormHeader(const QSqlDatabase &db, const QString &structureFile, const QString &expectedName = {});
// A form already in the database (formId 0 or more) gets its form line; a
// new one is installed whole: its tables with their rows, columns and titles.
bool InstallFormStructure(const QSqlDatabase &db, const QString &formName, const QString &structureFile, qint64 formId);
void DeleteFormControls(const QSqlDatabase &db, const QString &formName, qint64 formId);
// False, inserting nothing, when the file is missing or holds a line that is
// not seven quoted fields or that names a form not in the database.
bool InsertControlLines(const QSqlDatabase &db, const QString &controlFile);
bool InstallFormControls(const QSqlDatabase &db, const QString &formName, const QString &controlFile, qint64 formId);
// Copies the print files named by the items (only their file names count)
// from the source folder into the destination. With a form name, only that
// form's ".doc", ".docx" and ".txt" are taken (letter case ignored), named
// after targetName when it is given, with their modification times. False
// when a copy fails. (The installer copies into its staging folder and logs
// each file when it is put in place.)
bool CopyPrintFiles(const QString &sourceFolder, const QString &destFolder, const QStringList &items,
                    const QString &formName = {}, const QString &targetName = {});
// A name usable as one file or folder name (no separators, no "..").
bool IsSafeFileName(const QString &name);

// Restores forms, rules, installed versions and print files (removing the
// print files the update added) all together: the database in one
// transaction (the hook runs inside it), the print files swapped in just
// before its commit, with a plan beside them that the next start finishes or
// undoes (FinishInterruptedRollback). The whole rule set of each form whose
// rules the update replaced (its own rules and those between forms naming
// it) becomes the backup's again, each rule under its key, also rules the
// check refuses today (named in uncheckedRules); the user's edits of that
// set since the install go with the update. False, changing nothing, when a
// part cannot be put back; why gets the reason for the user.
bool RollbackUpdateFromBackup(const QSqlDatabase &db, const QString &backupFolder, const QString &updateId,
                              const InstallCommitHook &beforeCommit = {}, QString *why = nullptr,
                              QStringList *uncheckedRules = nullptr);
// Finishes the print files of a rollback stopped by a kill: kept when its
// transaction committed (the update is no longer recorded as installed),
// put back as they were when not.
QStringList FinishInterruptedRollback(const QSqlDatabase &db);
// Both of the above, at the opening of a year and by each update manager;
// never throws (a failure is logged and tried again next time).
void FinishInterruptedUpdates(const QSqlDatabase &db);
// For the tests of a kill: called at each step of a rollback.
void SetRollbackStepObserver(const std::function<void(const char *step)> &observer);

// The forms an installed update changed, as its backup lists them.
QStringList UpdateFormsOfBackup(const QString &backupFolder);
// What an installed update changed: its forms, the forms whose rules it
// replaced, and the rules it took out or put in (by key; those between
// forms with their texts).
struct UpdateTouched {
    QStringList forms;
    QStringList ruleForms;
    QSet<qint64> ruleKeys;
    QList<std::pair<qint64, ctlfile::ControlLine>> betweenForms;
};
UpdateTouched TouchedByUpdate(const QSqlDatabase &db, const QString &backupFolder);
// The first thing both changed ("Форму Ф30", "Контроль между формами ..."),
// names compared by the catalogue's comparison; empty when none.
QString SharedChange(const UpdateTouched &earlier, const UpdateTouched &later);
// Puts back the form line of a backup.
bool RestoreFormFromBackup(const QSqlDatabase &db, const QString &formName, const QString &structureFile,
                           qint64 formId);
// Replaces the form's whole rule set by the backup's rules.
bool RestoreControlsFromBackup(const QSqlDatabase &db, const QString &formName, const QString &controlFile,
                               qint64 formId);
