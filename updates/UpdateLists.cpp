#include "updates/UpdateLists.h"

#include "platform/Codepage.h"
#include "platform/Http.h"
#include "updates/UpdateSupport.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QStringDecoder>

namespace {

bool isBlank(QChar c) {
    return c == QLatin1Char('\t') || c == QLatin1Char('\n') || c == QLatin1Char('\r') || c == QLatin1Char(' ');
}

bool isAsciiDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Index of the closing quote of a string opened at `open`, stepping over the
// character after each backslash; -1 when none.
int stringEnd(const QString &s, int open) {
    for (int i = open + 1; i < s.size(); ++i) {
        if (s[i] == QLatin1Char('\\') && i + 1 < s.size())
            ++i;
        else if (s[i] == QLatin1Char('"'))
            return i;
    }
    return -1;
}

// Index of the "}" closing the object opened at `open` (strings skipped); -1.
int objectEnd(const QString &s, int open) {
    int depth = 0;
    for (int i = open; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == QLatin1Char('"')) {
            i = stringEnd(s, i);
            if (i < 0)
                return -1;
        } else if (c == QLatin1Char('{') || c == QLatin1Char('[')) {
            ++depth;
        } else if (c == QLatin1Char('}') || c == QLatin1Char(']')) {
            if (--depth == 0)
                return c == QLatin1Char('}') ? i : -1;
        }
    }
    return -1;
}

// Bounds of the array after the key: [open, close) positions; false when none.
bool arrayBounds(const QString &json, const QString &key, int &open, int &close) {
    const int k = json.indexOf(QLatin1Char('"') + key + QLatin1Char('"'));
    if (k < 0)
        return false;
    open = json.indexOf(QLatin1Char('['), k);
    if (open < 0)
        return false;
    int depth = 1;
    bool inString = false;
    for (int i = open + 1; i < json.size(); ++i) {
        const QChar c = json[i];
        // An escaped quote inside a string does not end it.
        if (inString && c == QLatin1Char('\\') && i + 1 < json.size())
            ++i;
        else if (c == QLatin1Char('"'))
            inString = !inString;
        else if (!inString && c == QLatin1Char('['))
            ++depth;
        else if (!inString && c == QLatin1Char(']') && --depth == 0) {
            close = i;
            return true;
        }
    }
    return false;
}

QString value(const QString &json, const char *key) {
    return JsonUnescape(JsonGetValue(json, QString::fromLatin1(key)));
}

QStringList unescapedStrings(const QString &json, const char *key) {
    QStringList out;
    for (const QString &s : JsonGetStringArray(json, QString::fromLatin1(key)))
        out << JsonUnescape(s);
    return out;
}

qint64 toInt64(const QString &text) {
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    return ok ? v : 0;
}

} // namespace

QString JsonGetValue(const QString &json, const QString &key) {
    const int k = json.indexOf(QLatin1Char('"') + key + QLatin1Char('"'));
    if (k < 0)
        return {};
    const int colon = json.indexOf(QLatin1Char(':'), k);
    if (colon < 0)
        return {};
    int i = colon + 1;
    while (i < json.size() && isBlank(json[i]))
        ++i;
    if (i >= json.size())
        return {};
    const QChar c = json[i];
    if (c == QLatin1Char('"')) {
        const int end = stringEnd(json, i);
        return end < 0 ? QString() : json.mid(i + 1, end - i - 1);
    }
    if (c != QLatin1Char('-') && !isAsciiDigit(c)) {
        if (json.mid(i, 4) == QLatin1String("true"))
            return QStringLiteral("true");
        if (json.mid(i, 5) == QLatin1String("false"))
            return QStringLiteral("false");
        return {};
    }
    int j = i;
    while (j < json.size() && (json[j] == QLatin1Char('-') || json[j] == QLatin1Char('.') || isAsciiDigit(json[j])))
        ++j;
    return json.mid(i, j - i);
}

QList<JsonElement> JsonGetElements(const QString &json, const QString &key) {
    QList<JsonElement> out;
    int open = 0, close = 0;
    if (!arrayBounds(json, key, open, close))
        return out;
    int i = open + 1;
    while (i < close) {
        while (i < close && (isBlank(json[i]) || json[i] == QLatin1Char(',')))
            ++i;
        if (i >= close)
            break;
        if (json[i] == QLatin1Char('"')) {
            const int end = stringEnd(json, i);
            if (end < 0 || end >= close)
                break;
            out.append({false, json.mid(i + 1, end - i - 1)});
            i = end + 1;
        } else if (json[i] == QLatin1Char('{')) {
            const int end = objectEnd(json, i);
            if (end < 0 || end >= close)
                break;
            out.append({true, json.mid(i, end - i + 1)});
            i = end + 1;
        } else {
            break;
        }
    }
    return out;
}

QStringList JsonGetStringArray(const QString &json, const QString &key) {
    QStringList out;
    for (const JsonElement &e : JsonGetElements(json, key)) {
        if (e.isObject)
            break;
        out << e.text;
    }
    return out;
}

QString JsonUnescape(const QString &raw) {
    if (!raw.contains(QLatin1Char('\\')))
        return raw;
    QString out;
    out.reserve(raw.size());
    for (int i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (c != QLatin1Char('\\') || i + 1 >= raw.size()) {
            out += c;
            continue;
        }
        const QChar n = raw[++i];
        switch (n.unicode()) {
        case 'b': out += QChar(8); break;
        case 'f': out += QChar(12); break;
        case 'n': out += QChar(10); break;
        case 'r': out += QChar(13); break;
        case 't': out += QChar(9); break;
        case 'u': {
            bool ok = false;
            const ushort u = raw.mid(i + 1, 4).toUShort(&ok, 16);
            if (ok && i + 4 < raw.size()) {
                out += QChar(u);
                i += 4;
            } else {
                out += n;
            }
            break;
        }
        default: out += n;   // \" \\ \/ and anything else
        }
    }
    return out;
}

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
        LogError(QStringLiteral("Исключение при загрузке списка обновлений: ") + QString::fromUtf8(e.what()));
        if (why)
            *why = QStringLiteral("Не удалось загрузить список обновлений: ") + QString::fromUtf8(e.what());
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
        LogError(QStringLiteral("Исключение при загрузке обновления: ") + QString::fromUtf8(e.what()));
        if (why)
            *why = QStringLiteral("Не удалось загрузить архив обновления: ") + QString::fromUtf8(e.what());
    }
    return false;
}

bool ParseUpdatesList(const QString &json, TUpdatesList &list) {
    list.year = JsonGetValue(json, QStringLiteral("year"));
    list.lastUpdate = JsonGetValue(json, QStringLiteral("lastUpdate"));
    for (const JsonElement &e : JsonGetElements(json, QStringLiteral("updates"))) {
        UpdateEntry u;
        if (!e.isObject) {
            u.id = JsonUnescape(e.text);
        } else {
            u.id = value(e.text, "id");
            u.version = value(e.text, "version");
            u.releaseDate = value(e.text, "releaseDate");
            u.description = value(e.text, "description");
            u.forms = unescapedStrings(e.text, "forms");
            u.size = toInt64(JsonGetValue(e.text, QStringLiteral("size")));
            u.downloadUrl = value(e.text, "downloadUrl");
            u.checksum = value(e.text, "checksum");
        }
        list.items.append(u);
    }
    return true;
}

bool LoadUpdatesListFile(TUpdatesList &list, const QString &fileName) {
    QString text;
    if (!QFileInfo::exists(fileName) || !ReadJsonFile(fileName, text))
        return false;
    // A list cut short (a chunked reply whose connection broke reads as
    // complete on the wire) must not read as "no updates".
    QJsonParseError error;
    QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError) {
        LogError(QStringLiteral("Список обновлений повреждён или получен не полностью: ") + error.errorString());
        return false;
    }
    return ParseUpdatesList(text, list);
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
        LogError(QStringLiteral("Ошибка при загрузке списка обновлений: ") + QString::fromUtf8(e.what()));
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
        LogError(QStringLiteral("Исключение при проверке обновлений: ") + QString::fromUtf8(e.what()));
        return nullptr;
    }
}

bool LoadManifestFromFile(TUpdateManifest &m, const QString &fileName) {
    QString text;
    if (!QFileInfo::exists(fileName) || !ReadJsonFile(fileName, text))
        return false;
    return ParseManifestJson(m, text);
}

bool ParseManifestJson(TUpdateManifest &m, const QString &json) {
    // Only a whole manifest with its forms array: one cut short would install
    // a part of the update as if it were all of it.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(json.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value(QStringLiteral("forms")).isArray()) {
        LogError(QStringLiteral("Манифест поврежден, неполон или не содержит списка форм"));
        return false;
    }
    try {
        // Top-level keys are read from the top-level object, in any order, so
        // a key of a form object never stands in for a missing top-level one.
        const QJsonObject object = doc.object();
        const auto top = [&](const char *key) -> QString {
            const QJsonValue v = object.value(QLatin1String(key));
            if (v.isString())
                return v.toString();
            if (v.isBool())
                return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
            if (v.isDouble())
                return QString::number(v.toDouble(), 'g', 17);
            return {};   // null, objects and arrays
        };
        m.version = top("version");
        m.releaseDate = top("releaseDate");
        m.year = top("year");
        m.description = top("description");
        m.minAppVersion = top("minAppVersion");
        m.archiveChecksum = top("archiveChecksum");
        m.archiveSize = toInt64(top("archiveSize"));
        for (const JsonElement &e : JsonGetElements(json, QStringLiteral("forms"))) {
            FormUpdateEntry f;
            if (e.isObject) {
                f.formName = value(e.text, "formName");
                f.formFile = value(e.text, "formFile");
                f.formVersion = value(e.text, "formVersion");
                f.controlsFile = value(e.text, "controlsFile");
                f.controlsVersion = value(e.text, "controlsVersion");
                f.printFiles = unescapedStrings(e.text, "printFiles");
            } else {
                f.formName = JsonUnescape(e.text);
            }
            m.forms.append(f);
        }
        for (const JsonElement &e : JsonGetElements(json, QStringLiteral("globalControls"))) {
            if (!e.isObject)
                continue;
            m.globalControls.append({value(e.text, "file"), value(e.text, "version"), value(e.text, "updateStrategy")});
        }
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool ValidateManifest(const TUpdateManifest &m) { return !m.version.isEmpty() && !m.year.isEmpty(); }
