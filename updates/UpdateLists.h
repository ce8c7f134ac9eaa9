#pragma once
// What the update server offers (the updates list of a year) and what an
// update archive holds (its manifest), and the downloads of the list and of
// an archive. Both documents are read whole as JSON (QJsonDocument): a key
// counts only where it stands, never inside another object or a string.
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

// Reads a JSON text file: UTF-8 when it is valid UTF-8, else code page 1251;
// lines joined with CR LF. False when the file cannot be read.
bool ReadJsonFile(const QString &fileName, QString &text);

struct UpdateEntry {
    QString id;
    QString version;
    QString releaseDate;
    QString description;
    QStringList forms;
    qint64 size = 0;
    QString downloadUrl;
    QString checksum;
};

// Element of "updates": either a string (the id only) or an object with the
// keys id, version, releaseDate, description, forms (strings), size,
// downloadUrl, checksum.
class TUpdatesList {
public:
    QList<UpdateEntry> items;
    QString year;
    QString lastUpdate;
};

struct FormUpdateEntry {
    QString formName, formFile, formVersion, controlsFile, controlsVersion;
    QStringList printFiles;
};

struct GlobalControlsEntry {
    QString file, version, updateStrategy;
};

class TUpdateManifest {
public:
    QString version, releaseDate, year, description, minAppVersion, archiveChecksum;
    qint64 archiveSize = 0;
    QList<FormUpdateEntry> forms;
    QList<GlobalControlsEntry> globalControls;
};

// Bytes received and expected (-1 when unknown); false cancels the download.
using DownloadProgressEvent = std::function<bool(qint64 done, qint64 total)>;

// base + "/" (unless it ends in "/") + year + "/updates_list.json"
QString UpdatesListUrl(const QString &baseUrl, int year);
// The downloads; false with why set to the reason for the user. The list may
// be at most kMaxUpdatesListBytes long.
inline constexpr qint64 kMaxUpdatesListBytes = 4 * 1024 * 1024;
bool DownloadUpdatesList(const QString &baseUrl, int year, const QString &localFile,
                         const DownloadProgressEvent &progress = {}, QString *why = nullptr);
// An archive is at most kMaxArchiveBytes long (a package of forms, rules and
// their print files is a few megabytes); a longer one is refused while it
// arrives and leaves no file.
inline constexpr qint64 kMaxArchiveBytes = 128 * 1024 * 1024;
bool DownloadUpdateArchive(const QString &url, const QString &localFile, const DownloadProgressEvent &progress = {},
                           QString *why = nullptr);

// False, with why naming the field, for a text that is not a JSON object
// whose "updates" is a list of ids (strings) and objects.
bool ParseUpdatesList(const QString &json, TUpdatesList &list, QString *why = nullptr);
bool LoadUpdatesListFile(TUpdatesList &list, const QString &fileName);
bool FetchUpdatesList(TUpdatesList &list, const QString &baseUrl, int year, const QString &tempFolder,
                      const DownloadProgressEvent &progress = {}, QString *why = nullptr);
// The updates not among the installed ids (letter case ignored), or null.
std::unique_ptr<TUpdatesList> CheckForUpdatesList(const QString &baseUrl, int year, const QString &tempFolder,
                                                  const QStringList *installedIds,
                                                  const DownloadProgressEvent &progress = {},
                                                  QString *why = nullptr);
inline const QList<UpdateEntry> &GetUpdatesItems(const TUpdatesList &list) { return list.items; }

// False, with why (for the user) naming the field, for a manifest that is
// not a JSON object whose "forms" is a non-empty list of objects, each with
// a formName and with texts where texts belong ("printFiles" a list of them).
bool LoadManifestFromFile(TUpdateManifest &m, const QString &fileName, QString *why = nullptr);
bool ParseManifestJson(TUpdateManifest &m, const QString &json, QString *why = nullptr);
bool ValidateManifest(const TUpdateManifest &m);
