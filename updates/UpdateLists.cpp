#include "updates/UpdateLists.h"

#include "engine/NumberFormat.h"
#include "platform/Codepage.h"
#include "platform/Http.h"
#include "updates/UpdateSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>

#include <cmath>

namespace {

// A scalar member as text: a string as it is, a number as the program
// writes numbers (2.1, not the 2.1000000000000001 of its binary value), true
// or false; empty for null, objects, arrays and a missing member.
QString scalarText(const QJsonValue &v) {
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isDouble())
        return num::general(v.toDouble());
    return {};
}

QString member(const QJsonObject &o, const char *key) { return scalarText(o.value(QLatin1String(key))); }

// A whole number (as a number or as the text of one); 0 otherwise, also
// for a number no qint64 holds.
qint64 wholeNumber(const QJsonValue &v) {
    if (v.isDouble()) {
        const double d = v.toDouble();
        return std::fabs(d) < 9.2e18 && d == std::trunc(d) ? qint64(d) : 0;
    }
    bool ok = false;
    const qint64 n = v.toString().toLongLong(&ok);
    return ok ? n : 0;
}

// The text elements of an array member (others skipped).
QStringList texts(const QJsonValue &v) {
    QStringList out;
    for (const QJsonValue &e : v.toArray())
        if (e.isString())
            out << e.toString();
    return out;
}

// The JSON object of a document; false, with the reason, when the text is
// not one.
bool parseObject(const QString &json, QJsonObject &object, QString &reason) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        reason = QStringLiteral("текст поврежден или неполон (ошибка в позиции %1)").arg(error.offset);
        return false;
    }
    if (!doc.isObject()) {
        reason = QStringLiteral("текст не является объектом JSON");
        return false;
    }
    object = doc.object();
    return true;
}

} // namespace

bool ReadJsonFile(const QString &fileName, QString &text) {
    QFile f(fileName);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    QByteArray bytes = f.readAll();
    // JSON may come as UTF-8 (its own encoding) or code page 1251; any other
    // encoding would give names that match nothing.
    if (const QString foreign = cp1251::foreignEncoding(bytes);
        !foreign.isEmpty() && foreign != QStringLiteral("UTF-8")) {
        LogError(fileName + QStringLiteral(": ") + cp1251::encodingMessage(foreign));
        return false;
    }
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString decoded = utf8(bytes);
    if (utf8.hasError())
        decoded = cp1251::decode(bytes);
    decoded.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    decoded.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (decoded.endsWith(QLatin1Char('\n')))
        decoded.chop(1);
    text = decoded.split(QLatin1Char('\n')).join(QStringLiteral("\r\n"));
    return true;
}

QString UpdatesListUrl(const QString &baseUrl, int year) {
    QString url = baseUrl;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QString::number(year) + QStringLiteral("/updates_list.json");
}

bool DownloadUpdatesList(const QString &baseUrl, int year, const QString &localFile,
                         const DownloadProgressEvent &progress, QString *why) {
    const QString url = UpdatesListUrl(baseUrl, year);
    LogInfo(QStringLiteral("Загрузка списка обновлений: ") + url);
    try {
        HttpOptions options;
        options.deadlineMs = 120 * 1000;   // a small file
        options.maxBytes = kMaxUpdatesListBytes;
        options.progress = progress;
        HttpGetToFile(url, localFile, options);
        LogInfo(QStringLiteral("Список обновлений загружен: ") + localFile);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при загрузке списка обновлений: ") + winutil::errorText(e));
        if (why)
            *why = QStringLiteral("Не удалось загрузить список обновлений: ") + winutil::errorText(e);
    }
    return false;
}

bool DownloadUpdateArchive(const QString &url, const QString &localFile, const DownloadProgressEvent &progress,
                           QString *why) {
    LogInfo(QStringLiteral("Начата загрузка обновления: ") + url);
    try {
        HttpOptions options;
        options.progress = progress;
        options.maxBytes = kMaxArchiveBytes;
        HttpGetToFile(url, localFile, options);
        LogInfo(QStringLiteral("Загрузка завершена: ") + localFile);
        return true;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при загрузке обновления: ") + winutil::errorText(e));
        if (why)
            *why = QStringLiteral("Не удалось загрузить архив обновления: ") + winutil::errorText(e);
    }
    return false;
}

bool ParseUpdatesList(const QString &json, TUpdatesList &list, QString *why) {
    QString scratch;
    QString &reason = why ? *why : scratch;
    QJsonObject object;
    if (!parseObject(json, object, reason))
        return false;
    const QJsonValue updates = object.value(QStringLiteral("updates"));
    if (!updates.isArray()) {
        reason = QStringLiteral("поле \"updates\" не является списком обновлений");
        return false;
    }
    const QJsonArray items = updates.toArray();
    QList<UpdateEntry> entries;
    for (qsizetype i = 0; i < items.size(); ++i) {
        const QJsonValue item = items[i];
        UpdateEntry u;
        if (item.isString()) {
            u.id = item.toString();   // an id only
        } else if (item.isObject()) {
            const QJsonObject e = item.toObject();
            u.id = member(e, "id");
            u.version = member(e, "version");
            u.releaseDate = member(e, "releaseDate");
            u.description = member(e, "description");
            u.forms = texts(e.value(QStringLiteral("forms")));
            u.size = wholeNumber(e.value(QStringLiteral("size")));
            u.downloadUrl = member(e, "downloadUrl");
            u.checksum = member(e, "checksum");
        } else {
            reason = QStringLiteral("элемент %1 поля \"updates\" не является ни строкой, ни объектом").arg(i + 1);
            return false;
        }
        entries.append(u);
    }
    list.year = member(object, "year");
    list.lastUpdate = member(object, "lastUpdate");
    list.items += entries;
    return true;
}

bool LoadUpdatesListFile(TUpdatesList &list, const QString &fileName) {
    QString text;
    if (!QFileInfo::exists(fileName) || !ReadJsonFile(fileName, text))
        return false;
    // A list cut short (a chunked reply whose connection broke reads as
    // complete on the wire) must not read as "no updates".
    QString why;
    if (!ParseUpdatesList(text, list, &why)) {
        LogError(QStringLiteral("Список обновлений не принят: ") + why);
        return false;
    }
    return true;
}

bool FetchUpdatesList(TUpdatesList &list, const QString &baseUrl, int year, const QString &tempFolder,
                      const DownloadProgressEvent &progress, QString *why) {
    try {
        ForceDirectoryPath(tempFolder);
        const QString file = IncludeTrailingPathSlash(tempFolder) + QStringLiteral("updates_list_")
                             + QString::number(QDateTime::currentMSecsSinceEpoch()) + QStringLiteral(".json");
        if (!DownloadUpdatesList(baseUrl, year, file, progress, why))
            return false;
        const bool ok = LoadUpdatesListFile(list, file);
        QFile::remove(file);
        if (!ok && why)
            *why = QStringLiteral("Список обновлений на сервере поврежден или получен не полностью.");
        return ok;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Ошибка при загрузке списка обновлений: ") + winutil::errorText(e));
        return false;
    }
}

std::unique_ptr<TUpdatesList> CheckForUpdatesList(const QString &baseUrl, int year, const QString &tempFolder,
                                                  const QStringList *installedIds,
                                                  const DownloadProgressEvent &progress, QString *why) {
    try {
        auto list = std::make_unique<TUpdatesList>();
        if (!FetchUpdatesList(*list, baseUrl, year, tempFolder, progress, why))
            return nullptr;
        if (installedIds) {
            QList<UpdateEntry> kept;
            for (const UpdateEntry &u : list->items)
                if (!installedIds->contains(u.id, Qt::CaseInsensitive))
                    kept.append(u);
            list->items = kept;
        }
        LogInfo(QStringLiteral("Найдено обновлений: ") + QString::number(list->items.size()));
        return list;
    } catch (const std::exception &e) {
        LogError(QStringLiteral("Исключение при проверке обновлений: ") + winutil::errorText(e));
        return nullptr;
    }
}

bool LoadManifestFromFile(TUpdateManifest &m, const QString &fileName, QString *why) {
    QString text;
    if (!QFileInfo::exists(fileName) || !ReadJsonFile(fileName, text)) {
        if (why)
            *why = QStringLiteral("Манифест пакета обновления не читается: ") + fileName;
        return false;
    }
    return ParseManifestJson(m, text, why);
}

bool ParseManifestJson(TUpdateManifest &m, const QString &json, QString *why) {
    // Only a whole manifest with its forms: one cut short, or whose forms
    // cannot all be read, would install a part of the update as if it were
    // all of it, or nothing as if it were something.
    QString reason;
    const auto refuse = [&] {
        LogError(QStringLiteral("Манифест не принят: ") + reason);
        if (why)
            *why = QStringLiteral("Манифест пакета обновления не принят: ") + reason + QLatin1Char('.');
        return false;
    };
    QJsonObject object;
    if (!parseObject(json, object, reason))
        return refuse();
    const QJsonValue forms = object.value(QStringLiteral("forms"));
    if (!forms.isArray()) {
        reason = QStringLiteral("поле \"forms\" не является списком форм");
        return refuse();
    }
    const QJsonArray items = forms.toArray();
    if (items.isEmpty()) {
        reason = QStringLiteral("список форм (поле \"forms\") пуст");
        return refuse();
    }
    TUpdateManifest read;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!items[i].isObject()) {
            reason = QStringLiteral("элемент %1 поля \"forms\" не является объектом").arg(i + 1);
            return refuse();
        }
        const QJsonObject e = items[i].toObject();
        // A text member; a member of another kind is refused by its name.
        const auto field = [&](const char *key, QString &out) {
            const QJsonValue v = e.value(QLatin1String(key));
            if (!v.isUndefined() && !v.isString()) {
                reason = QStringLiteral("поле \"%1\" формы %2 не является строкой").arg(QLatin1String(key)).arg(i + 1);
                return false;
            }
            out = v.toString();
            return true;
        };
        FormUpdateEntry f;
        if (!field("formName", f.formName) || !field("formFile", f.formFile) || !field("formVersion", f.formVersion)
            || !field("controlsFile", f.controlsFile) || !field("controlsVersion", f.controlsVersion))
            return refuse();
        if (f.formName.trimmed().isEmpty()) {
            reason = QStringLiteral("у формы %1 нет имени (поле \"formName\")").arg(i + 1);
            return refuse();
        }
        const QJsonValue prints = e.value(QStringLiteral("printFiles"));
        if (!prints.isUndefined()) {
            f.printFiles = texts(prints);
            if (!prints.isArray() || f.printFiles.size() != prints.toArray().size()) {
                reason = QStringLiteral("поле \"printFiles\" формы %1 не является списком строк").arg(i + 1);
                return refuse();
            }
        }
        read.forms.append(f);
    }
    // Read, not installed.
    for (const QJsonValue &g : object.value(QStringLiteral("globalControls")).toArray()) {
        const QJsonObject e = g.toObject();
        if (g.isObject())
            read.globalControls.append({member(e, "file"), member(e, "version"), member(e, "updateStrategy")});
    }
    read.version = member(object, "version");
    read.releaseDate = member(object, "releaseDate");
    read.year = member(object, "year");
    read.description = member(object, "description");
    read.minAppVersion = member(object, "minAppVersion");
    read.archiveChecksum = member(object, "archiveChecksum");
    const QJsonValue size = object.value(QStringLiteral("archiveSize"));
    read.archiveSize = size.isDouble() ? wholeNumber(size) : 0;
    m = read;
    return true;
}

bool ValidateManifest(const TUpdateManifest &m) { return !m.version.isEmpty() && !m.year.isEmpty(); }
