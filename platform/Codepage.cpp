#include "platform/Codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <QSaveFile>
#include <QHash>

#include <cerrno>
#include <cstring>

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

namespace {

// Share of each lower-case Russian letter in running text, per ten thousand.
int letterWeight(char16_t lower) {
    static const char16_t letters[] = u"оеаинтсрвлкмдпуяыьгзбчйхжшюцщэфъё";
    static const int weights[] = {1100, 850, 800, 740, 670, 630, 550, 470, 450, 440, 350, 320, 300, 280, 260, 200, 190,
                                  170,  170, 160, 160, 140, 120, 100, 90,  70,  60,  50,  40,  30,  30,  4,   10};
    for (int i = 0; letters[i]; ++i)
        if (letters[i] == lower) return weights[i];
    return 0;
}

char16_t lowerLetter(char16_t u) {
    if (u >= 0x0410 && u <= 0x042F) return char16_t(u + 0x20);
    if (u == 0x0401) return 0x0451;
    return u;
}

bool isRussianLetter(char16_t u) { return letterWeight(lowerLetter(u)) > 0; }
bool isUpper(char16_t u) { return (u >= 0x0410 && u <= 0x042F) || u == 0x0401; }

char16_t cp866Char(unsigned char b) {
    if (b >= 0x80 && b <= 0xAF) return char16_t(0x0410 + (b - 0x80));
    if (b >= 0xE0 && b <= 0xEF) return char16_t(0x0440 + (b - 0xE0));
    if (b == 0xF0) return 0x0401;
    if (b == 0xF1) return 0x0451;
    return 0;
}

char16_t koi8Char(unsigned char b) {
    static const char16_t order[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";
    if (b >= 0xC0 && b <= 0xDF) return order[b - 0xC0];
    if (b >= 0xE0) {
        const char16_t l = order[b - 0xE0];
        return l == 0x0451 ? 0x0401 : char16_t(l - 0x20);
    }
    if (b == 0xA3) return 0x0451;
    if (b == 0xB3) return 0x0401;
    return 0;
}

// Words of Russian text are written "слово", "Слово" or "СЛОВО": a lower-case
// letter followed by a capital is the mark of a text read in the wrong code
// page (a capitalised KOI8-R word reads "чУЕЗП" as code page 1251).
int oddWords(const QByteArray &bytes, char16_t (*letter)(unsigned char)) {
    int odd = 0;
    bool previousLower = false, counted = false;
    for (char c : bytes) {
        const char16_t u = static_cast<unsigned char>(c) >= 0x80 ? letter(static_cast<unsigned char>(c)) : 0;
        if (!u || !isRussianLetter(u)) {
            previousLower = counted = false;
            continue;
        }
        if (previousLower && isUpper(u) && !counted) {
            ++odd;
            counted = true;
        }
        previousLower = !isUpper(u);
    }
    return odd;
}

char16_t cp1251Char(unsigned char b) { return highChar(b); }

// The reference notation ("Ф30", "Т(1000)", "СТР1ГР4") puts a capital right
// before a digit or a bracket. A file whose every such letter reads as a
// small one in code page 1251 and as a capital in KOI8-R is KOI8-R, unless
// they are the small letters of the notation itself typed in 1251 ("ф30т(1000)стр1").
bool koi8Notation(const QByteArray &bytes) {
    static const QString typedSmall = QStringLiteral("фтрсг");
    int junctions = 0;
    bool otherThanTyped = false;
    for (qsizetype i = 0; i + 1 < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        const char next = bytes[i + 1];
        if (b < 0xC0 || !((next >= '0' && next <= '9') || next == '(' || next == '[')) continue;
        const char16_t as1251 = highChar(b), asKoi8 = koi8Char(b);
        if (isUpper(as1251) || !isUpper(asKoi8)) return false;
        ++junctions;
        if (!typedSmall.contains(QChar(as1251))) otherThanTyped = true;
    }
    return junctions >= 2 && otherThanTyped;
}

QString cyrillicCodePage(const QByteArray &bytes) {
    int high = 0, rare = 0, dosLetters = 0;
    static const QString common = QStringLiteral("«»№–—…\u00A0°±§");
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        if (b < 0x80) continue;
        ++high;
        const char16_t u = highChar(b);
        if (!isRussianLetter(u) && !common.contains(QChar(u))) ++rare;
        if (cp866Char(b)) ++dosLetters;
    }
    if (high < 4) return {};
    // DOS letters а..п and А..Я read as code page 1251 punctuation and
    // Serbian letters, which a Russian text hardly holds.
    if (rare * 10 >= high * 3 && dosLetters * 10 >= high * 9) return QStringLiteral("DOS (cp866)");
    // KOI8-R and 1251 both keep their letters in 0xC0..0xFF, in other orders.
    const int odd1251 = oddWords(bytes, cp1251Char);
    const int oddKoi8 = oddWords(bytes, koi8Char);
    if (odd1251 >= 2 && oddKoi8 * 4 < odd1251) return QStringLiteral("KOI8-R");
    if (koi8Notation(bytes)) return QStringLiteral("KOI8-R");
    // Words of four letters and more (abbreviations such as "СТР" or "Ф"
    // say nothing) are scored by the frequency of their letters.
    double as1251 = 0, asKoi8 = 0;
    int letters = 0;
    for (qsizetype i = 0; i < bytes.size();) {
        qsizetype j = i;
        while (j < bytes.size() && static_cast<unsigned char>(bytes[j]) >= 0xC0) ++j;
        if (j - i >= 4) {
            for (qsizetype k = i; k < j; ++k) {
                const unsigned char b = static_cast<unsigned char>(bytes[k]);
                as1251 += std::log(letterWeight(lowerLetter(highChar(b))));
                asKoi8 += std::log(letterWeight(lowerLetter(koi8Char(b))));
                ++letters;
            }
        }
        i = j + 1;
    }
    if (letters >= 16 && (asKoi8 - as1251) / letters > 0.4) return QStringLiteral("KOI8-R");
    // A short text: one word that reads "оБНОВЛЕНИЕ" in 1251 and none that
    // reads so in KOI8-R, its letters likelier in KOI8-R.
    if (letters >= 8 && odd1251 >= 1 && oddKoi8 == 0 && asKoi8 > as1251) return QStringLiteral("KOI8-R");
    return {};
}

} // namespace

QString foreignEncoding(const QByteArray &bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF")) return QStringLiteral("UTF-8");
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return QStringLiteral("UTF-16");
    // UTF-16 without its mark: the ASCII characters leave a NUL byte on one side.
    qsizetype nulEven = 0, nulOdd = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes[i] == '\0') ++((i % 2) ? nulOdd : nulEven);
    if (nulEven + nulOdd > 0 && std::max(nulEven, nulOdd) * 10 >= (nulEven + nulOdd) * 9)
        return QStringLiteral("UTF-16");
    if (looksLikeUtf8(bytes)) return QStringLiteral("UTF-8");
    return cyrillicCodePage(bytes);
}

QString encodingMessage(const QString &encoding) {
    return QStringLiteral("файл сохранён не в кодировке Windows-1251, а в кодировке ") + encoding +
           QStringLiteral(". Сохраните его в кодировке Windows-1251 и повторите.");
}

QString encodingProblem(const QByteArray &bytes) {
    const QString encoding = foreignEncoding(bytes);
    return encoding.isEmpty() ? QString() : encodingMessage(encoding);
}


bool readLines(const QString &path, QStringList &lines, QString *error, Encoding encoding) {
    lines.clear();
    QFile f(path);
    errno = 0;
    if (!f.open(QIODevice::ReadOnly)) {
        const QString why = errno == ENOENT ? QStringLiteral("файл не найден") : systemReason(errno);
        if (error) *error = QStringLiteral("Не удалось открыть файл %1: %2").arg(QDir::toNativeSeparators(path), why);
        return false;
    }
    const QByteArray bytes = f.readAll();
    QString all;
    QString foreign = foreignEncoding(bytes);
    if (encoding == Encoding::Cp1251OrUtf8 && foreign == QStringLiteral("UTF-8")) {
        QByteArrayView view(bytes);
        if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        all = utf8.decode(view);
        if (utf8.hasError()) foreign = QStringLiteral("UTF-8 с недопустимыми байтами");
        else foreign.clear();
    } else if (foreign.isEmpty()) {
        all = decode(bytes);
    }
    if (!foreign.isEmpty()) {
        if (error) *error = encodingMessage(foreign);
        return false;
    }
    // Splitting happens on the text: CR and LF are single bytes in both encodings.
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
QString systemReason(int err) {
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
    case ENAMETOOLONG: return QStringLiteral("имя файла слишком длинное");
    default:
        // The system's and Qt's own texts are English: the code is enough to look it up.
        return err ? QStringLiteral("ошибка работы с файлом (код системы %1)").arg(err)
                   : QStringLiteral("ошибка работы с файлом");
    }
}

bool writeFile(const QString &path, const QByteArray &bytes, QString *error) {
    // A folder of that name: Qt refuses it before the system says why.
    if (QFileInfo(path).isDir()) {
        if (error) *error = systemReason(EISDIR);
        return false;
    }
    QSaveFile f(path);
    errno = 0;
    // Unbuffered: a write the disk refuses fails here, not in a later flush
    // whose result the commit may not look at.
    if (!f.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (error) *error = systemReason(errno);
        return false;
    }
    errno = 0;
    if (f.write(bytes) != bytes.size() || !f.flush() || f.error() != QFileDevice::NoError) {
        const QString why = systemReason(errno);
        f.cancelWriting();
        if (error) *error = why;
        return false;
    }
    if (!f.commit()) {
        if (error) *error = systemReason(errno);
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
        if (error) *error = systemReason(errno);
        return false;
    }
    const qint64 before = f.size();
    const QByteArray data = joinCrLf(lines);
    errno = 0;
    if (f.write(data) != data.size() || !f.flush()) {
        const QString why = systemReason(errno);
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
