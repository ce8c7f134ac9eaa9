#include "platform/Codepage.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <QSaveFile>
#include <QHash>

#include <cerrno>

namespace cp1251 {
namespace {

// Unicode code points of bytes 0x80..0xFF in code page 1251 (0 = unmapped).
const char16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,
};

struct ReverseTable {
    QHash<char16_t, char> map;
    ReverseTable() {
        for (int i = 0; i < 64; ++i)
            if (kHigh[i]) map.insert(kHigh[i], char(0x80 + i));
        for (int i = 0; i < 64; ++i) map.insert(char16_t(0x0410 + i), char(0xC0 + i));
    }
};

char16_t highChar(unsigned char b) {
    if (b >= 0xC0) return char16_t(0x0410 + (b - 0xC0));
    return kHigh[b - 0x80];
}

} // namespace

QString decode(const QByteArray &bytes) {
    QString out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.append(QChar(b));
        } else {
            const char16_t u = highChar(b);
            out.append(u ? QChar(u) : QChar(0xFFFD));
        }
    }
    return out;
}

QByteArray encode(const QString &text) {
    static const ReverseTable rev;
    QByteArray out;
    out.reserve(text.size());
    for (QChar ch : text) {
        const char16_t u = ch.unicode();
        if (u < 0x80) {
            out.append(char(u));
        } else {
            auto it = rev.map.constFind(u);
            out.append(it != rev.map.constEnd() ? *it : '?');
        }
    }
    return out;
}

char32_t firstUnencodable(const QString &text) {
    static const ReverseTable rev;
    for (char32_t u : text.toUcs4())
        if (u >= 0x80 && (u > 0xFFFF || !rev.map.contains(char16_t(u)))) return u;
    return 0;
}

QString unencodable(const QString &text) {
    QString out;
    QString rest = text;
    while (const char32_t u = firstUnencodable(rest)) {
        const QString ch = QString::fromUcs4(&u, 1);
        out += ch;
        rest.remove(ch);
    }
    return out;
}

bool readsAsCyrillic(const QStringList &lines) {
    QByteArray bytes;
    for (const QString &l : lines) bytes += encode(l) + '\n';
    return !looksLikeUtf8(bytes);
}

QString decodeAnyText(const QByteArray &bytes) {
    if (!looksLikeUtf8(bytes)) return decode(bytes);
    QByteArrayView view(bytes);
    if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(view);
    return utf8.hasError() ? decode(bytes) : text;
}

static QString reason(int err, const QString &qtText);

bool readLines(const QString &path, QStringList &lines, QString *error, Encoding encoding) {
    lines.clear();
    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::ReadOnly)) {
        const QString why = errno == ENOENT ? QStringLiteral("файл не найден") : reason(errno, f.errorString());
        if (error) *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    }
    const QByteArray bytes = f.readAll();
    // Splitting happens on the text: CR and LF are single bytes in both encodings.
    const QString all = encoding == Encoding::Cp1251OrUtf8 ? decodeAnyText(bytes) : decode(bytes);
    qsizetype start = 0;
    const qsizetype n = all.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = all[i];
        if (c == u'\r' || c == u'\n') {
            lines.append(all.mid(start, i - start));
            if (c == u'\r' && i + 1 < n && all[i + 1] == u'\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines.append(all.mid(start));
    return true;
}

static QByteArray joinCrLf(const QStringList &lines) {
    static const ReverseTable rev;
    qsizetype total = 0;
    for (const QString &l : lines) total += l.size() + 2;
    QByteArray data(total, Qt::Uninitialized);
    char *out = data.data();
    for (const QString &l : lines) {
        for (QChar ch : l) {
            const char16_t u = ch.unicode();
            if (u < 0x80) {
                *out++ = char(u);
            } else if (u >= 0x0410 && u <= 0x044F) {   // А..я
                *out++ = char(0xC0 + (u - 0x0410));
            } else {
                const auto it = rev.map.constFind(u);
                *out++ = it != rev.map.constEnd() ? *it : '?';
            }
        }
        *out++ = '\r';
        *out++ = '\n';
    }
    return data;
}

// Reason of a failed file operation in Russian; Qt's own text for the rare rest.
static QString reason(int err, const QString &qtText) {
    switch (err) {
    case ENOSPC: return QStringLiteral("на диске нет места");
    case EDQUOT: return QStringLiteral("превышена дисковая квота");
    case EFBIG: return QStringLiteral("превышен допустимый размер файла");
    case EACCES:
    case EPERM: return QStringLiteral("нет доступа");
    case EROFS: return QStringLiteral("диск доступен только для чтения");
    case ENOENT:
    case ENOTDIR: return QStringLiteral("папка не найдена");
    case EISDIR: return QStringLiteral("под этим именем находится папка");
    case EIO: return QStringLiteral("ошибка ввода-вывода");
    default: return QStringLiteral("системная ошибка: ") + qtText;
    }
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error) {
    QSaveFile f(path);
    errno = 0;
    // Unbuffered: a write the disk refuses fails here, not in a later flush
    // whose result the commit may not look at.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error) *error = reason(errno, f.errorString());
        return false;
    }
    errno = 0;
    if (f.write(bytes) != bytes.size() || !f.flush() || f.error() != QFileDevice::NoError) {
        const QString why = reason(errno, f.errorString());
        f.cancelWriting();
        if (error) *error = why;
        return false;
    }
    if (!f.commit()) {
        if (error) *error = reason(errno, f.errorString());
        return false;
    }
    return true;
}

bool writeLines(const QString &path, const QStringList &lines, QString *error) {
    return writeFile(path, joinCrLf(lines), error);
}

bool appendLines(const QString &path, const QStringList &lines, QString *error) {
    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error) *error = reason(errno, f.errorString());
        return false;
    }
    const qint64 before = f.size();
    const QByteArray data = joinCrLf(lines);
    errno = 0;
    if (f.write(data) != data.size() || !f.flush()) {
        const QString why = reason(errno, f.errorString());
        f.resize(before);
        if (error) *error = why;
        return false;
    }
    return true;
}

bool looksLikeUtf8(const QByteArray &bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return true;
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (uchar(c) & 0x80) == 0; })) return false;
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString decoded = utf8.decode(bytes);   // decodes now, so that hasError() tells
    Q_UNUSED(decoded);
    return !utf8.hasError();
}

} // namespace cp1251
