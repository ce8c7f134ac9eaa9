#include "platform/office/Package.h"

#include "platform/office/OfficeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <zip.h>

#include <cerrno>

namespace office {

namespace {

// Whitespace-only text nodes are dropped by QDomDocument; inside text
// elements they matter, so they travel through the parser as private-use
// characters and are put back afterwards.
constexpr char16_t kSpaceMark = 0xE020;
constexpr char16_t kTabMark = 0xE009;
constexpr char16_t kLfMark = 0xE00A;
constexpr char16_t kCrMark = 0xE00D;

QString protectSpaces(const QString &xml) {
    static const QRegularExpression re(
        QStringLiteral("(<(?:\\w+:)?(?:t|instrText|delText)(?:\\s[^>]*)?>)([ \\t\\r\\n]+)(</)"));
    if (!xml.contains(re)) return xml;
    QString out;
    out.reserve(xml.size());
    qsizetype last = 0;
    auto it = re.globalMatch(xml);
    while (it.hasNext()) {
        const auto m = it.next();
        out += QStringView(xml).mid(last, m.capturedStart(2) - last);
        for (QChar c : m.captured(2)) {
            switch (c.unicode()) {
            case u' ': out += QChar(kSpaceMark); break;
            case u'\t': out += QChar(kTabMark); break;
            case u'\n': out += QChar(kLfMark); break;
            default: out += QChar(kCrMark); break;
            }
        }
        last = m.capturedEnd(2);
    }
    out += QStringView(xml).mid(last);
    return out;
}

void restoreSpaces(QDomNode node) {
    for (QDomNode n = node.firstChild(); !n.isNull(); n = n.nextSibling()) {
        if (n.isText()) {
            QString v = n.nodeValue();
            bool changed = false;
            for (QChar &c : v) {
                switch (c.unicode()) {
                case kSpaceMark: c = u' '; changed = true; break;
                case kTabMark: c = u'\t'; changed = true; break;
                case kLfMark: c = u'\n'; changed = true; break;
                case kCrMark: c = u'\r'; changed = true; break;
                default: break;
                }
            }
            if (changed) n.setNodeValue(v);
        } else if (n.isElement()) {
            restoreSpaces(n);
        }
    }
}

// Why the archive library failed, in Russian (its own texts are English).
QString systemReason(int e) {
    switch (e) {
    case ENOSPC:
    case EFBIG: return QStringLiteral("на диске нет места (или файл достиг предельного размера)");
    case EACCES:
    case EPERM: return QStringLiteral("нет прав доступа к файлу или папке");
    case EROFS: return QStringLiteral("диск или папка защищены от записи");
    case ENOENT: return QStringLiteral("файл или папка не найдены");
    case EBUSY: return QStringLiteral("файл занят другой программой");
    default: return QStringLiteral("ошибка чтения или записи файла (код %1)").arg(e);
    }
}

QString zipMessage(zip_error_t *err) {
    const int sys = zip_error_code_system(err);
    switch (zip_error_code_zip(err)) {
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_ZLIB: return QStringLiteral("файл поврежден или не является архивом");
    case ZIP_ER_NOENT: return QStringLiteral("файл не найден");
    case ZIP_ER_EXISTS: return QStringLiteral("файл уже существует");
    case ZIP_ER_MEMORY: return QStringLiteral("недостаточно памяти");
    case ZIP_ER_RDONLY: return QStringLiteral("файл открыт только для чтения");
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_WRITE:
    case ZIP_ER_SEEK:
    case ZIP_ER_CLOSE:
    case ZIP_ER_RENAME:
    case ZIP_ER_REMOVE:
    case ZIP_ER_TMPOPEN: return sys ? systemReason(sys) : QStringLiteral("ошибка чтения или записи файла");
    default: return QStringLiteral("ошибка архива (код %1)").arg(zip_error_code_zip(err));
    }
}

QString zipMessage(zip_t *z) { return zipMessage(zip_get_error(z)); }

} // namespace

Package Package::read(const QString &path) {
    if (!QFileInfo::exists(path))
        throw Error(QStringLiteral("Файл не найден: ") + path);
    int code = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    if (!z) {
        zip_error_t err;
        zip_error_init_with_code(&err, code);
        const QString why = zipMessage(&err);
        zip_error_fini(&err);
        throw Error(QStringLiteral("Файл ") + path +
                    QStringLiteral(" не является документом Office Open XML (.docx/.xlsx): ") + why);
    }
    Package p;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0) continue;
        const QString name = QString::fromUtf8(st.name);
        if (name.endsWith(u'/')) continue;  // folder entry
        zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
        if (!f) {
            const QString why = zipMessage(z);
            zip_discard(z);
            throw Error(QStringLiteral("Не удалось прочитать файл ") + path + QStringLiteral(": ") + why);
        }
        QByteArray data;
        data.resize(qsizetype(st.size));
        zip_int64_t got = 0;
        while (got < zip_int64_t(st.size)) {
            const zip_int64_t r = zip_fread(f, data.data() + got, st.size - zip_uint64_t(got));
            if (r <= 0) break;
            got += r;
        }
        zip_fclose(f);
        if (got != zip_int64_t(st.size)) {
            zip_discard(z);
            throw Error(QStringLiteral("Файл ") + path + QStringLiteral(" поврежден (часть ") + name +
                        QStringLiteral(")"));
        }
        p.parts_.emplace_back(name, data);
    }
    zip_discard(z);
    return p;
}

void Package::write(const QString &path) const {
    const QFileInfo info(path);
    QDir().mkpath(info.absolutePath());
    int code = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!z) {
        zip_error_t err;
        zip_error_init_with_code(&err, code);
        const QString why = zipMessage(&err);
        zip_error_fini(&err);
        throw Error(QStringLiteral("Не удалось создать файл ") + path + QStringLiteral(": ") + why);
    }
    auto fail = [&](const QString &what) {
        const QString why = zipMessage(z);
        zip_discard(z);
        QFile::remove(path);
        throw Error(QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(" (") + what +
                    QStringLiteral("): ") + why);
    };
    std::vector<const std::pair<QString, QByteArray> *> order;
    for (const auto &pp : parts_)
        if (pp.first == QLatin1String("[Content_Types].xml")) order.insert(order.begin(), &pp);
        else order.push_back(&pp);
    for (const auto *pp : order) {
        zip_source_t *src = zip_source_buffer(z, pp->second.constData(), zip_uint64_t(pp->second.size()), 0);
        if (!src) fail(pp->first);
        const zip_int64_t idx = zip_file_add(z, pp->first.toUtf8().constData(), src, ZIP_FL_ENC_UTF_8);
        if (idx < 0) {
            zip_source_free(src);
            fail(pp->first);
        }
        zip_set_file_compression(z, zip_uint64_t(idx), ZIP_CM_DEFLATE, 6);
    }
    if (zip_close(z) != 0) fail(QStringLiteral("zip"));
}

bool Package::has(const QString &name) const {
    for (const auto &p : parts_)
        if (p.first == name) return true;
    return false;
}

QByteArray Package::part(const QString &name) const {
    for (const auto &p : parts_)
        if (p.first == name) return p.second;
    // Part names are case-insensitive in the packaging rules.
    for (const auto &p : parts_)
        if (p.first.compare(name, Qt::CaseInsensitive) == 0) return p.second;
    return {};
}

void Package::setPart(const QString &name, const QByteArray &data) {
    for (auto &p : parts_)
        if (p.first == name) {
            p.second = data;
            return;
        }
    parts_.emplace_back(name, data);
}

void Package::removePart(const QString &name) {
    std::erase_if(parts_, [&](const auto &p) { return p.first == name; });
}

QStringList Package::names() const {
    QStringList l;
    for (const auto &p : parts_) l.append(p.first);
    return l;
}

QDomDocument parseXml(const QByteArray &data, const QString &partName, bool namespaces) {
    QDomDocument doc;
    const QString text = protectSpaces(QString::fromUtf8(data));
    QString msg;
    int line = 0, col = 0;
    if (!doc.setContent(text, namespaces, &msg, &line, &col))
        throw Error(QStringLiteral("Ошибка в части ") + partName + QStringLiteral(" документа (строка ") +
                    QString::number(line) + QStringLiteral("): ") + msg);
    restoreSpaces(doc);
    return doc;
}

QByteArray toXml(const QDomDocument &doc) {
    QByteArray out = doc.toByteArray(-1);
    // The declaration is written the way office programs write it.
    if (out.startsWith("<?xml")) {
        const qsizetype end = out.indexOf("?>");
        if (end > 0) out.remove(0, end + 2);
        while (out.startsWith('\n') || out.startsWith('\r')) out.remove(0, 1);
    }
    out.prepend("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n");
    return out;
}

QString resolveTarget(const QString &ownerPart, const QString &target) {
    QString t = target;
    t.replace(u'\\', u'/');
    if (t.startsWith(u'/')) return QDir::cleanPath(t.mid(1));
    const int slash = ownerPart.lastIndexOf(u'/');
    const QString base = slash < 0 ? QString() : ownerPart.left(slash + 1);
    QString r = QDir::cleanPath(base + t);
    if (r.startsWith(QLatin1String("./"))) r = r.mid(2);
    return r;
}

QString relsPartFor(const QString &part) {
    const int slash = part.lastIndexOf(u'/');
    const QString dir = slash < 0 ? QString() : part.left(slash + 1);
    return dir + QStringLiteral("_rels/") + part.mid(slash + 1) + QStringLiteral(".rels");
}

QString xmlSafe(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 && u != u'\t' && u != u'\n' && u != u'\r') continue;
        if (u == 0xFFFE || u == 0xFFFF) continue;
        out += c;
    }
    return out;
}

FileKind sniffFile(const QString &path) {
    QFile f(path);
    if (!f.exists()) return FileKind::Missing;
    if (!f.open(QIODevice::ReadOnly)) return FileKind::Other;
    const QByteArray head = f.read(8);
    if (head.startsWith("PK\x03\x04")) return FileKind::OpenXml;
    if (head == QByteArray::fromHex("D0CF11E0A1B11AE1")) return FileKind::LegacyBinary;
    return FileKind::Other;
}

} // namespace office
