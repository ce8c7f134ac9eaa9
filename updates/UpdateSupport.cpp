#include "updates/UpdateSupport.h"

#include "engine/Schema.h"
#include "platform/Errors.h"
#include "platform/Codepage.h"
#include "platform/Database.h"
#include "platform/Dialogs.h"
#include "platform/Paths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>

#include <cerrno>

#include <zip.h>

#include <memory>

// ---- bookkeeping tables ---------------------------------------------------

namespace {

// Database files whose tables were ensured in this process.
QSet<QString> &ensuredFiles() {
    static QSet<QString> s;
    return s;
}

const char *const kTables[] = {"updates", "update_forms", "update_global_controls", "installed_form_versions"};

void upsertVersion(const QSqlDatabase &db, const QString &formName, const QString &column, const QString &version) {
    if (!DatabaseReady(db))
        return;
    EnsureUpdateTables(db);
    const QVariant now = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    db::updateOrInsert(db,
                       QStringLiteral("UPDATE installed_form_versions SET %1=?, last_update_date=? WHERE form_name=?")
                           .arg(column),
                       {version, now, formName},
                       QStringLiteral("INSERT INTO installed_form_versions (form_name, %1, last_update_date) "
                                      "VALUES (?, ?, ?)").arg(column),
                       {formName, version, now});
}

} // namespace

bool DatabaseReady(const QSqlDatabase &db) { return db.isValid() && db.isOpen(); }

QString DatabaseFolder(const QSqlDatabase &db) {
    QString name = db.databaseName();
    name.remove(QLatin1Char('"'));
    if (name.isEmpty())
        return {};
    return IncludeTrailingPathSlash(QFileInfo(name).absolutePath());
}

bool UpdateTableExists(const QSqlDatabase &db, const QString &table) {
    return DatabaseReady(db) && db::tableExists(db, table);
}

void CreateMissingUpdateTables(const QSqlDatabase &db) {
    if (!DatabaseReady(db))
        return;
    try {
        const QStringList create = schema::updateBookkeepingStatements();
        for (int i = 0; i < 4; ++i)
            if (!UpdateTableExists(db, QString::fromLatin1(kTables[i])))
                db::exec(db, create.value(i));
        ensuredFiles().insert(db.databaseName());
    } catch (const std::exception &e) {
        showError(QStringLiteral("Ошибка при создании таблиц для системы обновлений: ") + winutil::errorText(e));
    }
}

void EnsureUpdateTables(const QSqlDatabase &db) {
    if (DatabaseReady(db) && ensuredFiles().contains(db.databaseName()))
        return;
    CreateMissingUpdateTables(db);
}

void RecordInstalledUpdate(const QSqlDatabase &db, const InstalledUpdateRecord &r) {
    if (!DatabaseReady(db))
        return;
    EnsureUpdateTables(db);
    db::exec(db,
             QStringLiteral("INSERT INTO updates (update_id, version, year, install_date, status, description, "
                            "archive_checksum, archive_size) VALUES (?, ?, ?, ?, ?, ?, ?, ?)"),
             {r.updateId, r.version, r.year, r.installDate.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
              r.status, r.description, r.archiveChecksum, r.archiveSize});
}

void SetInstalledFormVersion(const QSqlDatabase &db, const QString &formName, const QString &version) {
    upsertVersion(db, formName, QStringLiteral("form_version"), version);
}

void SetInstalledControlsVersion(const QSqlDatabase &db, const QString &formName, const QString &version) {
    upsertVersion(db, formName, QStringLiteral("controls_version"), version);
}

// ---- update log -----------------------------------------------------------

namespace {

struct Logger {
    bool open = false;
    QString fileName;
    ~Logger() { open = false; }
};

Logger &logger() {
    static Logger l;
    return l;
}

void writeLine(LogLevel level, const QString &text) {
    Logger &l = logger();
    if (!l.open)
        return;
    // A log line that cannot be written is dropped whole, never left cut.
    cp1251::appendLines(l.fileName, {FormatLogLine(level, text)});
}

} // namespace

void InitUpdateLogger(const QString &folder) {
    Logger &l = logger();
    if (l.open)
        return;
    const QString logFolder = IncludeTrailingPathSlash(folder) + QStringLiteral("logs");
    ForceDirectoryPath(logFolder);
    const QDate d = QDate::currentDate();
    l.fileName = QStringLiteral("%1/update_%2_%3_%4.log")
                     .arg(logFolder)
                     .arg(d.year())
                     .arg(d.month(), 2, 10, QLatin1Char('0'))
                     .arg(d.day(), 2, 10, QLatin1Char('0'));
    if (!cp1251::appendLines(l.fileName, {}))
        return;
    l.open = true;
    LogInfo(QStringLiteral("Логгер инициализирован"));
}

void CloseUpdateLogger() {
    logger().open = false;
    logger().fileName.clear();
}

QString UpdateLogFileName() { return logger().open ? logger().fileName : QString(); }

QString FormatLogLine(LogLevel level, const QString &text) {
    static const char *const words[] = {"INFO", "WARNING", "ERROR"};
    return QStringLiteral("[%1] %2: %3")
        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             QString::fromLatin1(words[int(level)]), text);
}

void LogInfo(const QString &text) { writeLine(LogLevel::Info, text); }
void LogWarning(const QString &text) { writeLine(LogLevel::Warning, text); }
void LogError(const QString &text) { writeLine(LogLevel::Error, text); }

// ---- hashing --------------------------------------------------------------

QString FileSha256Hex(const QString &fileName) {
    QFile f(fileName);
    if (!f.exists() || !f.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash h(QCryptographicHash::Sha256);
    if (!h.addData(&f))
        return {};
    return QString::fromLatin1(h.result().toHex()).toLower();
}

bool VerifyArchiveChecksum(const QString &fileName, const QString &expected) {
    if (!QFileInfo::exists(fileName) || expected.isEmpty())
        return false;
    return FileSha256Hex(fileName).toLower() == expected.toLower();
}

// ---- zip ------------------------------------------------------------------

namespace {

struct ZipCloser {
    void operator()(zip_t *z) const { if (z) zip_discard(z); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

// An entry name that stays inside the destination folder.
bool safeEntryName(const QString &name) {
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))
        || name.contains(QLatin1Char(':')))
        return false;
    const QStringList parts = QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')).split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral(".."));
}

// Code page 866, the OEM code page under which the Windows shell names the
// entries of the archives it packs: bytes 0x80-0xFF.
QString fromCp866(const QByteArray &bytes) {
    static const QString high = QStringLiteral(
        "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмноп"
        "░▒▓│┤╡╢╖╕╣║╗╝╜╛┐└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀"
        "рстуфхцчшщъыьэюяЁёЄєЇїЎў°∙·√№¤■\u00A0");
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const uchar u = uchar(c);
        out += u < 0x80 ? QChar(u) : high[u - 0x80];
    }
    return out;
}

// The name of an entry: UTF-8 when the entry's language flag says so (libzip
// then gives the same bytes in the strict and the raw reading), code page
// 866 otherwise. Empty when the archive holds no name.
QString entryName(zip_t *z, zip_uint64_t index) {
    const char *raw = zip_get_name(z, index, ZIP_FL_ENC_RAW);
    const char *strict = zip_get_name(z, index, ZIP_FL_ENC_STRICT);
    if (!raw || !strict)
        return {};
    const QByteArray rawBytes(raw);
    if (rawBytes == QByteArray(strict))   // flagged UTF-8, or plain ASCII
        return QString::fromUtf8(rawBytes);
    // Without the flag: archivers on Linux and macOS write UTF-8 all the
    // same, which a cp866 name of Cyrillic letters almost never is.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(rawBytes);
    return utf8.hasError() ? fromCp866(rawBytes) : decoded;
}

// The "extended timestamp" extra field: flags (bit 0: modification time
// follows), then the time in seconds since 1970, UTC. Archivers write it
// beside the entry's DOS time, which is local time in steps of 2 seconds;
// with it the templates of both kinds keep the order of their dates.
constexpr zip_uint16_t kTimestampField = 0x5455;

void setEntryTime(zip_t *z, zip_uint64_t index, qint64 seconds) {
    const quint32 t = quint32(seconds);
    const zip_uint8_t data[5] = {1, zip_uint8_t(t), zip_uint8_t(t >> 8), zip_uint8_t(t >> 16), zip_uint8_t(t >> 24)};
    zip_file_set_mtime(z, index, time_t(seconds), 0);
    zip_file_extra_field_set(z, index, kTimestampField, ZIP_EXTRA_FIELD_NEW, data, sizeof data,
                             ZIP_FL_LOCAL | ZIP_FL_CENTRAL);
}

// The entry's modification time: the extended timestamp when the archive
// has one, else its DOS time; invalid when it has neither.
QDateTime entryTime(zip_t *z, zip_uint64_t index) {
    for (const zip_flags_t where : {ZIP_FL_CENTRAL, ZIP_FL_LOCAL}) {
        zip_uint16_t length = 0;
        const zip_uint8_t *d = zip_file_extra_field_get_by_id(z, index, kTimestampField, 0, &length, where);
        if (d && length >= 5 && (d[0] & 1))
            return QDateTime::fromSecsSinceEpoch(qint64(quint32(d[1]) | quint32(d[2]) << 8 | quint32(d[3]) << 16
                                                        | quint32(d[4]) << 24));
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(z, index, 0, &st) == 0 && (st.valid & ZIP_STAT_MTIME) && st.mtime > 0)
        return QDateTime::fromSecsSinceEpoch(qint64(st.mtime));
    return {};
}

} // namespace

bool ExtractZipArchive(const QString &zipFile, const QString &destFolder, const ZipEntryFilter &wanted,
                       qint64 maxTotal, QString *why) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    const QString damaged = QStringLiteral("Архив обновления поврежден: ") + zipFile;
    if (!QFileInfo::exists(zipFile)) {
        reason = QStringLiteral("Архив обновления не найден: ") + zipFile;
        return false;
    }
    ForceDirectoryPath(destFolder);
    int err = 0;
    ZipPtr z(zip_open(QFile::encodeName(zipFile).constData(), ZIP_RDONLY, &err));
    if (!z) {
        reason = damaged;
        return false;
    }
    const QString dest = IncludeTrailingPathSlash(destFolder);
    const zip_int64_t n = zip_get_num_entries(z.get(), 0);
    // Every name is checked before anything is written, so an archive with
    // one entry leaving the folder leaves nothing behind.
    QStringList names;
    for (zip_int64_t i = 0; i < n; ++i) {
        const QString name = entryName(z.get(), zip_uint64_t(i));
        if (!safeEntryName(name)) {
            reason = QStringLiteral("Архив обновления содержит недопустимое имя файла: ") + name;
            return false;
        }
        names << name;
    }
    const QString tooLarge = QStringLiteral("Архив обновления распаковывается в слишком большой объем (больше %1 МБ).")
                                 .arg(maxTotal / (1024 * 1024));
    qint64 total = 0;
    for (zip_int64_t i = 0; i < n; ++i) {
        const QString name = QString(names[int(i)]).replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (wanted && !wanted(name))
            continue;
        const QString target = dest + name;
        if (name.endsWith(QLatin1Char('/'))) {
            ForceDirectoryPath(target);
            continue;
        }
        ForceDirectoryPath(QFileInfo(target).absolutePath());
        zip_file_t *zf = zip_fopen_index(z.get(), zip_uint64_t(i), 0);
        if (!zf) {
            reason = damaged;
            return false;
        }
        QFile out(target);
        errno = 0;
        bool ok = out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
        bool over = false;
        char buf[65536];
        zip_int64_t got = 0;
        // The sizes the archive declares are not trusted: the bytes are counted.
        while (ok && (got = zip_fread(zf, buf, sizeof buf)) > 0) {
            total += got;
            if (maxTotal > 0 && total > maxTotal) {
                over = true;
                break;
            }
            ok = out.write(buf, got) == got;
        }
        // The file keeps the date it had when it was packed.
        if (const QDateTime t = entryTime(z.get(), zip_uint64_t(i)); ok && got == 0 && t.isValid())
            ok = out.setFileTime(t, QFileDevice::FileModificationTime);
        const int writeErr = errno;
        out.close();
        ok = ok && out.error() == QFileDevice::NoError;
        zip_fclose(zf);
        if (over) {
            reason = tooLarge;
            return false;
        }
        if (!ok) {
            reason = QStringLiteral("Не удалось записать файл ") + target + QStringLiteral(": ")
                     + cp1251::systemReason(writeErr);
            return false;
        }
        if (got < 0) {
            reason = damaged;
            return false;
        }
    }
    return true;
}

bool CreateZipArchive(const QString &sourceFolder, const QString &zipFile) {
    const QDir src(sourceFolder);
    if (sourceFolder.isEmpty() || !src.exists())
        return false;
    ForceDirectoryPath(QFileInfo(zipFile).absolutePath());
    if (!QFileInfo::exists(zipFile)) {
        // The empty archive: end-of-central-directory record only.
        QFile f(zipFile);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        QByteArray eocd("PK\x05\x06", 4);
        eocd.append(18, '\0');
        if (f.write(eocd) != eocd.size() || !f.flush())
            return false;
    }
    int err = 0;
    ZipPtr z(zip_open(QFile::encodeName(zipFile).constData(), 0, &err));
    if (!z)
        return false;
    const QString zipAbs = QFileInfo(zipFile).absoluteFilePath();
    QStringList files;
    QDirIterator it(src.absolutePath(), QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (it.fileInfo().absoluteFilePath() != zipAbs)
            files << it.fileInfo().absoluteFilePath();
    }
    files.sort();
    bool added = false;
    for (const QString &path : files) {
        const QString rel = src.relativeFilePath(path);
        const QByteArray name = rel.toUtf8();
        if (QFileInfo(path).isDir()) {
            if (zip_dir_add(z.get(), name.constData(), ZIP_FL_ENC_UTF_8) < 0
                && zip_name_locate(z.get(), (name + '/').constData(), 0) < 0)
                return false;
            added = true;
            continue;
        }
        zip_source_t *s = zip_source_file(z.get(), QFile::encodeName(path).constData(), 0, -1);
        if (!s)
            return false;
        const zip_int64_t index = zip_file_add(z.get(), name.constData(), s, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(s);
            return false;
        }
        setEntryTime(z.get(), zip_uint64_t(index), QFileInfo(path).lastModified().toSecsSinceEpoch());
        added = true;
    }
    if (!added)
        return true;   // the archive stays as it was (the empty one for a new file)
    zip_t *raw = z.release();
    if (zip_close(raw) < 0) {
        zip_discard(raw);
        return false;
    }
    return true;
}

// ---- paths ----------------------------------------------------------------

void ForceDirectoryPath(const QString &folder) {
    if (!folder.isEmpty())
        paths::makePath(folder);
}

QString IncludeTrailingPathSlash(const QString &path) {
    if (path.isEmpty() || path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\')))
        return path;
    return path + QLatin1Char('/');
}
