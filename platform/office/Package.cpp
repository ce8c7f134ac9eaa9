#include "platform/office/Package.h"

#include "platform/Codepage.h"
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

// The reason of a failed zip_open in Russian, after ": " (empty when none fits).
QString zipMessage(zip_error_t *err) {
    switch (zip_error_code_zip(err)) {
    case ZIP_ER_NOENT: return QStringLiteral(": файл не найден");
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
        return QStringLiteral(": файл не открывается (") + cp1251::systemReason(zip_error_code_system(err))
               + QLatin1Char(')');
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS: return QStringLiteral(": файл поврежден или имеет другой формат");
    case ZIP_ER_MEMORY: return QStringLiteral(": недостаточно памяти");
    default: return {};
    }
}

} // namespace

Package Package::read(const QString &path, qint64 maxUnpacked) {
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
                    QStringLiteral(" не является документом Office Open XML (.docx/.xlsx)") + why);
    }
    auto fail = [&](const QString &message) {
        zip_discard(z);
        throw Error(message);
    };
    auto tooLarge = [&](const QString &name) {
        fail(QStringLiteral("Файл %1 не прочитан: он распаковывается в слишком большой объем (больше %2 МБ, "
                            "часть %3).")
                 .arg(path)
                 .arg(maxUnpacked / (1024 * 1024))
                 .arg(name));
    };
    Package p;
    qint64 total = 0;
    const zip_int64_t n = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < n; ++i) {
        zip_stat_t st;
        if (zip_stat_index(z, zip_uint64_t(i), 0, &st) != 0) continue;
        const QString name = QString::fromUtf8(st.name);
        if (name.endsWith(u'/')) continue;  // folder entry
        // The declared size only refuses: the bytes themselves are counted.
        if ((st.valid & ZIP_STAT_SIZE) && st.size > zip_uint64_t(maxUnpacked - total)) tooLarge(name);
        zip_file_t *f = zip_fopen_index(z, zip_uint64_t(i), 0);
        if (!f) fail(QStringLiteral("Не удалось прочитать файл ") + path + QStringLiteral(": файл поврежден"));
        QByteArray data;
        char buf[65536];
        zip_int64_t got = 0;
        bool over = false;
        while ((got = zip_fread(f, buf, sizeof buf)) > 0) {
            total += got;
            if (total > maxUnpacked) {
                over = true;
                break;
            }
            data.append(buf, qsizetype(got));
        }
        zip_fclose(f);
        if (over) tooLarge(name);
        if (got < 0 || ((st.valid & ZIP_STAT_SIZE) && zip_uint64_t(data.size()) != st.size))
            fail(QStringLiteral("Файл ") + path + QStringLiteral(" поврежден (часть ") + name + QStringLiteral(")"));
        p.parts_.emplace_back(name, data);
    }
    zip_discard(z);
    return p;
}

void Package::write(const QString &path) const {
    // The archive is made in memory and written through the checked file
    // writer: to a temporary file in the target folder, renamed over the old
    // file only when complete. A failure leaves the old file as it was.
    const QString failed = QStringLiteral("Не удалось собрать документ ") + path;
    zip_error_t err;
    zip_error_init(&err);
    zip_source_t *buffer = zip_source_buffer_create(nullptr, 0, 0, &err);
    if (!buffer) {
        zip_error_fini(&err);
        throw Error(failed);
    }
    zip_source_keep(buffer);   // kept past zip_close, to read the archive from
    zip_t *z = zip_open_from_source(buffer, ZIP_TRUNCATE, &err);
    zip_error_fini(&err);
    if (!z) {
        zip_source_free(buffer);
        throw Error(failed);
    }
    auto fail = [&](const QString &what) {
        zip_discard(z);
        zip_source_free(buffer);
        throw Error(failed + QStringLiteral(" (часть ") + what + QLatin1Char(')'));
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
    if (zip_close(z) != 0) {
        zip_discard(z);
        zip_source_free(buffer);
        throw Error(failed);
    }
    QByteArray bytes;
    zip_stat_t st;
    bool read = zip_source_stat(buffer, &st) == 0 && zip_source_open(buffer) == 0;
    if (read) {
        bytes.resize(qsizetype(st.size));
        read = zip_source_read(buffer, bytes.data(), st.size) == zip_int64_t(st.size);
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    if (!read) throw Error(failed);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QString why;
    if (!cp1251::writeFile(path, bytes, &why))
        throw Error(QStringLiteral("Не удалось записать файл ") + path + QStringLiteral(": ") + why);
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
