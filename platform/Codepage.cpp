#include "platform/Codepage.h"

#include <QFile>
#include <QSaveFile>
#include <QHash>

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

bool readLines(const QString &path, QStringList &lines, QString *error) {
    lines.clear();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(path, f.errorString());
        return false;
    }
    const QByteArray all = f.readAll();
    qsizetype start = 0;
    const qsizetype n = all.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char c = all[i];
        if (c == '\r' || c == '\n') {
            lines.append(decode(all.mid(start, i - start)));
            if (c == '\r' && i + 1 < n && all[i + 1] == '\n') ++i;
            start = i + 1;
        }
    }
    if (start < n) lines.append(decode(all.mid(start)));
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

bool writeBytes(const QString &path, const QByteArray &data, QString *error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        if (error) *error = QStringLiteral("Не удалось создать файл %1: %2").arg(path, f.errorString());
        return false;
    }
    f.write(data);
    if (!f.commit()) {
        if (error) *error = QStringLiteral("Не удалось записать файл %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

bool writeLines(const QString &path, const QStringList &lines, QString *error) {
    return writeBytes(path, joinCrLf(lines), error);
}

bool appendLines(const QString &path, const QStringList &lines, QString *error) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error) *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(path, f.errorString());
        return false;
    }
    const QByteArray data = joinCrLf(lines);
    if (f.write(data) != data.size()) {
        if (error) *error = QStringLiteral("Не удалось записать файл %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace cp1251
