#pragma once
// Services of the update client and the package generator: the bookkeeping
// tables in the main database, the daily update log, SHA-256 of a file, zip
// packing and unpacking, and small path helpers.
#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <functional>

// ---- bookkeeping tables ---------------------------------------------------

struct InstalledUpdateRecord {
    QString updateId;
    QString version;
    int year = 0;
    QDateTime installDate;
    QString status;
    QString description;
    QString archiveChecksum;
    qint64 archiveSize = 0;
};

// Creates the missing bookkeeping tables, once for each database file in the
// process. A failure is shown as a message and tried again next time.
void EnsureUpdateTables(const QSqlDatabase &db);
void CreateMissingUpdateTables(const QSqlDatabase &db);
bool UpdateTableExists(const QSqlDatabase &db, const QString &table);

// These throw db::Error; the update manager logs it.
void RecordInstalledUpdate(const QSqlDatabase &db, const InstalledUpdateRecord &r);
void SetInstalledFormVersion(const QSqlDatabase &db, const QString &formName, const QString &version);
void SetInstalledControlsVersion(const QSqlDatabase &db, const QString &formName, const QString &version);

// ---- update log -----------------------------------------------------------

enum class LogLevel { Info = 0, Warning = 1, Error = 2 };

// Opens <folder>/logs/update_YYYY_MM_DD.log (today's date) for appending,
// once until CloseUpdateLogger. Before that, log calls are dropped.
void InitUpdateLogger(const QString &folder);
void CloseUpdateLogger();
QString UpdateLogFileName();   // empty while closed
// "[yyyy-mm-dd hh:nn:ss] LEVEL: text"
QString FormatLogLine(LogLevel level, const QString &text);
void LogInfo(const QString &text);
void LogWarning(const QString &text);
void LogError(const QString &text);

// ---- hashing, zip, paths --------------------------------------------------

// 64 lower-case hex digits, empty when the file is missing or unreadable.
QString FileSha256Hex(const QString &fileName);
// False when the file is missing or the expected text is empty.
bool VerifyArchiveChecksum(const QString &fileName, const QString &expected);

// Unpacks the entries (folders kept) into the destination, only those the
// filter accepts when it is given (names with '/'); entries that would land
// outside it are refused. With a limit, unpacking stops once more bytes came
// out than that. True when everything was written; else why gets the reason.
using ZipEntryFilter = std::function<bool(const QString &name)>;
bool ExtractZipArchive(const QString &zipFile, const QString &destFolder, const ZipEntryFilter &wanted = {},
                       qint64 maxTotal = 0, QString *why = nullptr);
// Adds every file of the folder (relative paths, folders kept) to the
// archive, creating it when missing; an empty folder gives an empty archive.
bool CreateZipArchive(const QString &sourceFolder, const QString &zipFile);

void ForceDirectoryPath(const QString &folder);
// Empty stays empty; a path ending in '/' or '\' is kept; else '/' is added.
QString IncludeTrailingPathSlash(const QString &path);
// Folder of the main database file, ending in '/' (the year folder).
QString DatabaseFolder(const QSqlDatabase &db);
bool DatabaseReady(const QSqlDatabase &db);
