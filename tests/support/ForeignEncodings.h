#pragma once
// A text's bytes in the encodings other than code page 1251 that a user's
// editor may save a file in.
#include <QByteArray>
#include <QString>

#include <string>

inline QByteArray cp866(const QString &text) {
    QByteArray out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) out += char(u);
        else if (u >= 0x0410 && u <= 0x043F) out += char(0x80 + (u - 0x0410));
        else if (u >= 0x0440 && u <= 0x044F) out += char(0xE0 + (u - 0x0440));
        else if (u == 0x0401) out += char(0xF0);
        else if (u == 0x0451) out += char(0xF1);
        else out += '?';
    }
    return out;
}

inline QByteArray koi8r(const QString &text) {
    static const char16_t order[] = u"юабцдефгхийклмнопярстужвьызшэщчъ";
    QByteArray out;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80) out += char(u);
        else if (u == 0x0451) out += char(0xA3);
        else if (u == 0x0401) out += char(0xB3);
        else {
            const char16_t l = (u >= 0x0410 && u <= 0x042F) ? char16_t(u + 0x20) : u;
            const auto at = std::char_traits<char16_t>::find(order, 32, l);
            out += at ? char((l == u ? 0xC0 : 0xE0) + (at - order)) : '?';
        }
    }
    return out;
}

inline QByteArray utf16(const QString &text, bool bigEndian, bool mark) {
    QByteArray out;
    if (mark) out += bigEndian ? QByteArray("\xFE\xFF") : QByteArray("\xFF\xFE");
    for (QChar c : text) {
        const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xFF);
        out += bigEndian ? QByteArray{&hi, 1} + QByteArray{&lo, 1} : QByteArray{&lo, 1} + QByteArray{&hi, 1};
    }
    return out;
}
