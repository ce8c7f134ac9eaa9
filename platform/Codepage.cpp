#include "platform/Codepage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <QSaveFile>
#include <QHash>
#include <QVarLengthArray>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <unordered_set>

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

namespace {

// Calls f with each code point of text in order: a surrogate pair as its one
// character, a lone surrogate as its own value (a text pasted from elsewhere
// can hold one), so that every character can be named as it stands. Stops
// when f returns false.
template <class F> void eachCodePoint(const QString &text, F f) {
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char32_t u = text[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && text[i + 1].isLowSurrogate())
            u = QChar::surrogateToUcs4(char16_t(u), text[++i].unicode());
        if (!f(u)) return;
    }
}

bool fits(char32_t u) {
    static const ReverseTable rev;
    return u < 0x80 || (u <= 0xFFFF && !QChar::isSurrogate(u) && rev.map.contains(char16_t(u)));
}

} // namespace

char32_t firstUnencodable(const QString &text) {
    char32_t first = 0;
    eachCodePoint(text, [&](char32_t u) {
        if (fits(u)) return true;
        first = u;
        return false;
    });
    return first;
}

QList<char32_t> unencodable(const QString &text) {
    QList<char32_t> out;
    eachCodePoint(text, [&](char32_t u) {
        if (!fits(u) && !out.contains(u)) out.append(u);
        return true;
    });
    return out;
}

namespace {

// The letters of Russian, numbered from 1 (0 is the end of a word).
int letterIndex(char16_t lower) {
    static const char16_t letters[] = u"абвгдежзийклмнопрстуфхцчшщъыьэюяё";
    for (int i = 0; letters[i]; ++i)
        if (letters[i] == lower) return i + 1;
    return 0;
}

// How often a letter follows another in Russian words: for each letter (and
// the start of a word, row 0) one hex digit per next letter (and the end of
// the word, column 0), the negative binary logarithm of its share, counted
// over general Russian texts of some 75,000 letters.
double pairCost(int from, int to) {
    static const char table[34][35] = {
        "e763747954e486343535459868eecd6e9e",
        "2c5466655845453e5564997659aeeca75a",
        "63aaba3bb5b34853b3a93b68bb543abb8a",
        "33d7d93db3d5585376565d8dba9a49dd79",
        "54aa955aa3a83942a3a94aa9a9aa8aaaaa",
        "42c69636a4c63c5376794ca888cc59c978",
        "2c756477686455377344cb79687eeeebeb",
        "837bb42b92b6b428bbbb7bbbbbbbbbbbb8",
        "4274c469c5c58343c7cc5ccccccc67c77c",
        "37556646465554587543c68666addcd74d",
        "1bb8b6abbba63b8bbb33bbbba8bbbbbbab",
        "32d7dd58a4dd4d62d4444db6ddddddaddd",
        "439bbc36b3c68a63cc9c6ccc8ccc73c537",
        "3396ac2cc4c987635aac5cccaccc5ccc58",
        "52dca53d82d8dd43dd7568b79ddd48d878",
        "3c435455574444585444c87a669eeece8c",
        "64cbbc3cc4c77c8272885cc9cccc8acc8c",
        "52d69a26d3d7d652d6565a7dd7dd57dd79",
        "4595a95ad4d4477348526b7898d874db49",
        "33c4dc3dd4d6975393596add9ddd63ddbc",
        "387663455c65557c4344c88c5a5cccc48c",
        "61aaaa6aa2aa8aa3a5a567aaaaaaaaaaaa",
        "2675a65aa7aa8752a37a7aaaa8aaaaaaaa",
        "4385aa3aa1aaaaa8aaaa4aaaaaaa4aaaaa",
        "72bbbb2bb2b5bb37bb639bbbb8bbb7bbb5",
        "73aaaa3aa1a47a56a5a65aa8a6aaaaaaa4",
        "8399991992999969999969999999969994",
        "8888880888888888888888888888888838",
        "2b55a64b7b2645bb5674bb4b67abbbbb9b",
        "1c8cac9c4cc5c74ccc55c8c6c6cccac79a",
        "9999999999942769959196999699979999",
        "1a5aaaaaa8a7a5aaaa84aaaa2a2aaaa5aa",
        "0bb5b7596b8ba66bb785bb88ab7bbbb77b",
        "3888658878866518837388588788888888",
    };
    static const double ln2 = std::log(2.0);
    const char c = table[from][to];
    return -ln2 * (c <= '9' ? c - '0' : c - 'a' + 10);
}

char16_t lowerLetter(char16_t u) {
    if (u >= 0x0410 && u <= 0x042F) return char16_t(u + 0x20);
    if (u == 0x0401) return 0x0451;
    return u;
}

bool isRussianLetter(char16_t u) { return letterIndex(lowerLetter(u)) > 0; }
bool isUpper(char16_t u) { return (u >= 0x0410 && u <= 0x042F) || u == 0x0401; }

// The code pages a Russian text may come in; each reads a byte 0x80..0xFF as one character.
enum class Page { Cp1251, Koi8, Cp866 };

char16_t cp866Char(unsigned char b) {
    if (b >= 0x80 && b <= 0xAF) return char16_t(0x0410 + (b - 0x80));
    if (b >= 0xE0 && b <= 0xEF) return char16_t(0x0440 + (b - 0xE0));
    switch (b) {
    case 0xF0: return 0x0401;
    case 0xF1: return 0x0451;
    case 0xF8: return 0x00B0;   // °
    case 0xFA: return 0x00B7;   // ·
    case 0xFC: return 0x2116;   // №
    case 0xFF: return 0x00A0;
    default: return 0x2500;     // box drawing and the rest: no Russian text has them
    }
}

char16_t koi8Char(unsigned char b) {
    static const char16_t order[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";
    if (b >= 0xC0 && b <= 0xDF) return order[b - 0xC0];
    if (b >= 0xE0) return char16_t(order[b - 0xE0] - 0x20);
    switch (b) {
    case 0xA3: return 0x0451;
    case 0xB3: return 0x0401;
    case 0x9A: return 0x00A0;
    case 0x9C: return 0x00B0;
    case 0x9E: return 0x00B7;
    case 0xBF: return 0x00A9;
    default: return 0x2500;
    }
}

char16_t pageChar(Page page, unsigned char b) {
    switch (page) {
    case Page::Cp1251: return highChar(b);
    case Page::Koi8: return koi8Char(b);
    case Page::Cp866: return cp866Char(b);
    }
    return 0;
}

// Signs a Russian text holds besides its letters.
bool isCommonSign(char16_t u) {
    static const QString common = QStringLiteral("«»„“”‘’–—…№°±§•·\u00A0\u00AD©®™€");
    return common.contains(QChar(u));
}

// How Russian the text reads in a code page: the log-likelihood of its
// bytes 0x80..0xFF as Russian text. Words count by their letter pairs and by
// their case pattern ("слово", "Слово", "СЛОВО" and "ЦРБ"; units such as
// "кВт" and "мВ" seldom; "йФПЗП", a capitalised KOI8-R word read as code
// page 1251, hardly ever), other signs by how common they are in Russian
// texts. KOI8-R keeps the letters in the range of 1251 with the case
// swapped, so a capitalised word of one reads as one small letter and
// capitals in the other; a word in small letters reads as capitals, and its
// letter pairs tell.
double russianScore(std::string_view bytes, Page page) {
    static const double kLower = std::log(0.5), kCapital = std::log(0.2), kUpper = std::log(0.3),
                        kMixed = std::log(0.01), kOddCase = std::log(1e-4), kSign = std::log(0.01),
                        kRare = std::log(1e-5), kAlone = std::log(1.0 / 33), kShort = std::log(0.4);
    // What each byte 0x80..0xFF is in the code page: a letter (its number, its case) or a sign (its cost).
    struct Byte { int letter; bool upper; double cost; };
    struct Table {
        Byte bytes[128];
        explicit Table(Page page) {
            for (int i = 0; i < 128; ++i) {
                const char16_t u = pageChar(page, static_cast<unsigned char>(0x80 + i));
                if (u && isRussianLetter(u)) bytes[i] = {letterIndex(lowerLetter(u)), isUpper(u), 0};
                else bytes[i] = {0, false, u && isCommonSign(u) ? kSign : kRare};
            }
        }
    };
    static const Table tables[] = {Table(Page::Cp1251), Table(Page::Koi8), Table(Page::Cp866)};
    const Table &table = tables[int(page)];

    double score = 0;
    // The word's case as runs: "слово" l, "СЛОВО" U, "Слово" Ul, "кВт" lUl.
    QVarLengthArray<std::pair<bool, int>, 8> runs;
    double pairs = 0;
    int previous = 0, letters = 0;
    unsigned char repeatedByte = 0;   // the last letter's byte, 0 at a word's start
    auto endWord = [&] {
        // A letter alone is a marker or an abbreviation ("Ф30", "г."): it
        // tells nothing; nor do the letters of a short abbreviation ("ЛПУ",
        // "ЦРБ"), only their case.
        if (letters == 1) {
            score += kAlone;
        } else {
            score += letters <= 3 || (runs.size() == 1 && letters == 4) ? letters * kAlone
                                                                      : pairs + pairCost(previous, 0);
            const bool firstUpper = runs[0].first;
            // Two letters in any case ("мВ", "дБ", "Ед") and up to four in one case ("СТР", "стр", "ЦРБ" after
            // a form's "Ф") tell nothing: an abbreviation in one code page is a short word in the other.
            if (letters == 2 || (runs.size() == 1 && letters <= 4)) score += kShort;
            else if (runs.size() == 1) score += firstUpper ? kUpper : kLower;
            else if (runs.size() == 2 && firstUpper) score += runs[0].second == 1 ? kCapital : kMixed;   // "ФАПы"
            else if (letters <= 3 || (!firstUpper && runs.size() <= 3 && runs[1].second == 1))
                score += kMixed;   // units: "мВ", "кВА", "МэВ", "мкВт"
            else score += kOddCase;
        }
        runs.clear();
        pairs = 0;
        previous = letters = 0;
        repeatedByte = 0;
    };
    for (char c : bytes) {
        const unsigned char b = static_cast<unsigned char>(c);
        const Byte *byte = b >= 0x80 ? &table.bytes[b - 0x80] : nullptr;
        if (!byte || !byte->letter) {
            if (letters) endWord();
            if (byte) score += byte->cost;
            continue;
        }
        // A letter repeated right after itself tells nothing in any code page:
        // a run of one letter ("Форма" and sixty "ж", "Ф" and a hundred "Б")
        // reads as that letter once.
        if (b == repeatedByte) continue;
        repeatedByte = b;
        pairs += pairCost(previous, byte->letter);
        previous = byte->letter;
        ++letters;
        if (runs.isEmpty() || runs.back().first != byte->upper) runs.append({byte->upper, 1});
        else ++runs.back().second;
    }
    if (letters) endWord();
    return score;
}

// How much likelier another code page must read for the text to be taken
// for it: a few letters say too little, and code page 1251 is what the
// program writes.
constexpr double kMargin = 6.0;

// The first byte 0x80..0xFF from p on, or end; eight bytes at a time.
const char *nextHighByte(const char *p, const char *end) {
    while (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080ULL) break;
        p += 8;
    }
    while (p < end && (uchar(*p) & 0x80) == 0) ++p;
    return p;
}

struct PageScores {
    double cp1251 = 0, koi8 = 0, cp866 = 0;
};

// The text's score in each code page (russianScore). A byte below 0x80 ends
// the word before it and adds nothing, so the score is the sum of the runs of
// bytes 0x80..0xFF; the runs a file repeats (a form's name on every line, an
// institution's) count once.
PageScores russianScores(const QByteArray &bytes) {
    PageScores total;
    std::unordered_set<std::string_view> scored;
    const char *p = bytes.constData(), *const end = p + bytes.size();
    while ((p = nextHighByte(p, end)) < end) {
        const char *runEnd = p;
        while (runEnd < end && (uchar(*runEnd) & 0x80)) ++runEnd;
        const std::string_view run(p, std::size_t(runEnd - p));
        // A run met again is the same bytes: it tells the code page no more
        // than the first time (a name on every line and in several fields).
        if (scored.insert(run).second) {
            total.cp1251 += russianScore(run, Page::Cp1251);
            total.koi8 += russianScore(run, Page::Koi8);
            total.cp866 += russianScore(run, Page::Cp866);
        }
        p = runEnd;
    }
    return total;
}

QString cyrillicCodePage(const QByteArray &bytes) {
    if (nextHighByte(bytes.constData(), bytes.constData() + bytes.size()) == bytes.constData() + bytes.size())
        return {};
    const PageScores scores = russianScores(bytes);
    const double as1251 = scores.cp1251, asKoi8 = scores.koi8, as866 = scores.cp866;
    if (std::max(asKoi8, as866) - as1251 > kMargin)
        return asKoi8 >= as866 ? QStringLiteral("KOI8-R") : QStringLiteral("DOS (cp866)");
    if (bytes.contains('\x98')) return QString::fromUtf8(kUndefinedByte);
    return {};
}

// Characters a UTF-8 file for this program may hold: those of code page
// 1251, Latin, Greek and Cyrillic letters of other languages, signs and
// pictographs. Code page 1251 bytes that happen to form a UTF-8 sequence
// ("СЁ" reads as U+0468) mostly give characters outside these.
bool plausibleUtf8(char32_t u) {
    return (u >= 0xA0 && u <= 0x24F) || (u >= 0x370 && u <= 0x3FF) || (u >= 0x400 && u <= 0x45F) ||
           (u >= 0x490 && u <= 0x4FF) || (u >= 0x2000 && u <= 0x2BFF) || (u >= 0xFE00 && u <= 0xFE0F) ||
           (u >= 0x1F000 && u <= 0x1FAFF);
}

struct Utf8Evidence {
    int sequences = 0;   // well-formed sequences of plausible characters
    int faults = 0;      // bytes that begin no well-formed sequence, or one of an odd character
};

Utf8Evidence utf8Evidence(const QByteArray &bytes) {
    Utf8Evidence e;
    const qsizetype n = bytes.size();
    auto at = [&](qsizetype i) { return i < n ? static_cast<unsigned char>(bytes[i]) : 0u; };
    auto cont = [](unsigned b) { return (b & 0xC0) == 0x80; };
    const char *const begin = bytes.constData();
    for (qsizetype i = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0; i < n;) {
        const unsigned b = at(i);
        if (b < 0x80) {
            i = nextHighByte(begin + i, begin + n) - begin;
            continue;
        }
        int len = 0;
        char32_t u = 0;
        const unsigned b1 = at(i + 1), b2 = at(i + 2), b3 = at(i + 3);
        if (b >= 0xC2 && b <= 0xDF && cont(b1)) {
            len = 2;
            u = ((b & 0x1F) << 6) | (b1 & 0x3F);
        } else if (b >= 0xE0 && b <= 0xEF && cont(b1) && cont(b2) && !(b == 0xE0 && b1 < 0xA0) &&
                   !(b == 0xED && b1 > 0x9F)) {
            len = 3;
            u = ((b & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
        } else if (b >= 0xF0 && b <= 0xF4 && cont(b1) && cont(b2) && cont(b3) && !(b == 0xF0 && b1 < 0x90) &&
                   !(b == 0xF4 && b1 > 0x8F)) {
            len = 4;
            u = ((b & 0x07) << 18) | ((b1 & 0x3F) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
        }
        if (len && plausibleUtf8(u)) {
            ++e.sequences;
            i += len;
        } else {
            ++e.faults;
            i += len ? len : 1;
        }
    }
    return e;
}

} // namespace

const char kDamagedUtf8[] = "UTF-8 с недопустимыми байтами";
const char kUndefinedByte[] = "Windows-1251 с неопределённым байтом 0x98";
const char kNulBytes[] = "с нулевыми байтами";

QString foreignEncoding(const QByteArray &bytes) {
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) return QStringLiteral("UTF-16");
    // UTF-16 without its mark: the ASCII characters leave a NUL byte on one side.
    qsizetype nulEven = 0, nulOdd = 0;
    const char *const begin = bytes.constData(), *const end = begin + bytes.size();
    for (const char *p = begin; (p = static_cast<const char *>(std::memchr(p, 0, std::size_t(end - p)))); ++p)
        ++(((p - begin) % 2) ? nulOdd : nulEven);
    if (nulEven + nulOdd > 0 && std::max(nulEven, nulOdd) * 10 >= (nulEven + nulOdd) * 9)
        return QStringLiteral("UTF-16");
    // NUL bytes on both sides: UTF-16 with a byte lost or added on the way
    // (a stray byte moves the NULs after it to the other side), or no text at
    // all. Code page 1251 text never holds NUL, and what is read past such a
    // byte would be written back as garbage.
    if (nulEven + nulOdd > 0) return QString::fromUtf8(kNulBytes);
    // UTF-8 by its sequences: all well-formed is UTF-8; mostly well-formed
    // is UTF-8 damaged, never code page 1251 (whose Russian text forms such
    // sequences only by chance, one or two in a file).
    const Utf8Evidence utf8 = utf8Evidence(bytes);
    if (bytes.startsWith("\xEF\xBB\xBF") || (utf8.sequences > 0 && utf8.faults == 0))
        return QString::fromUtf8(utf8.faults ? kDamagedUtf8 : "UTF-8");
    if (utf8.sequences >= 2 && utf8.sequences >= 4 * utf8.faults) return QString::fromUtf8(kDamagedUtf8);
    return cyrillicCodePage(bytes);
}

QString encodingMessage(const QString &encoding) {
    if (encoding == QString::fromUtf8(kUndefinedByte))
        return QStringLiteral("файл содержит байт 0x98, которого нет в кодировке Windows-1251. Сохраните его в "
                              "кодировке Windows-1251 и повторите.");
    if (encoding == QString::fromUtf8(kNulBytes))
        return QStringLiteral("файл содержит нулевые байты, которых не бывает в тексте в кодировке Windows-1251: "
                              "это поврежденный файл в кодировке UTF-16 или не текстовый файл. Сохраните его в "
                              "кодировке Windows-1251 и повторите.");
    return QStringLiteral("файл сохранён не в кодировке Windows-1251, а в кодировке ") + encoding +
           QStringLiteral(". Сохраните его в кодировке Windows-1251 и повторите.");
}

QString encodingProblem(const QByteArray &bytes) {
    const QString encoding = foreignEncoding(bytes);
    return encoding.isEmpty() ? QString() : encodingMessage(encoding);
}


bool readLines(const QString &path, QStringList &lines, QString *error, Encoding encoding, QString *guess) {
    lines.clear();
    if (guess) guess->clear();
    QFile f(path);
    errno = 0;
    // A folder of that name: Qt refuses it before the system says why.
    if (QFileInfo(path).isDir()) errno = EISDIR;
    if (errno == EISDIR || !f.open(QIODevice::ReadOnly)) {
        const QString why = errno == ENOENT ? QStringLiteral("файл не найден") : systemReason(errno);
        if (error) *error = why;
        return false;
    }
    const QByteArray bytes = f.readAll();
    QString all;
    QString foreign = foreignEncoding(bytes);
    if (encoding == Encoding::Cp1251OrUtf8) {
        // The settings file is the program's own: read as 1251 whatever a
        // code page guess says; only UTF-8 and what cannot be 1251 differ.
        if (foreign == QStringLiteral("KOI8-R") || foreign == QStringLiteral("DOS (cp866)")) {
            if (guess) *guess = foreign;
            foreign.clear();
        }
        // The byte 0x98 has no character in code page 1251 whatever the guess
        // said: read, it would be written back as "?".
        if (foreign.isEmpty() && bytes.contains('\x98')) foreign = QString::fromUtf8(kUndefinedByte);
        if (foreign == QStringLiteral("UTF-8")) {
            QByteArrayView view(bytes);
            if (view.startsWith("\xEF\xBB\xBF")) view = view.sliced(3);
            QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            all = utf8.decode(view);
            if (utf8.hasError()) foreign = QString::fromUtf8(kDamagedUtf8);
            else foreign.clear();
        } else if (foreign.isEmpty()) {
            all = decode(bytes);
        }
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

bool writeFile(const QString &path, const QByteArray &bytes, QString *error, const QDateTime &modified) {
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
    errno = 0;
    if (modified.isValid() && !f.setFileTime(modified, QFileDevice::FileModificationTime)) {
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
    const QString encoding = foreignEncoding(bytes);
    return encoding == QStringLiteral("UTF-8") || encoding == QString::fromUtf8(kDamagedUtf8);
}

} // namespace cp1251
