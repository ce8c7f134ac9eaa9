#include "platform/NameOrder.h"

namespace text {

namespace {

// Weight of one character in the first comparison: case and the dots of Ё
// do not count.
uint primaryWeight(QChar c) {
    const char16_t u = c.toUpper().unicode();
    return u == 0x0401 ? 0x0415u : uint(u);
}

bool isDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// The run of digits starting at i: its significant part (no leading zeros).
QStringView digitRun(const QString &s, qsizetype &i) {
    qsizetype start = i;
    while (i < s.size() && isDigit(s[i])) ++i;
    qsizetype first = start;
    while (first < i - 1 && s[first] == u'0') ++first;
    return QStringView(s).mid(first, i - first);
}

bool isYo(QChar c) { return c.unicode() == 0x0401 || c.unicode() == 0x0451; }

} // namespace

int compareNames(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const QStringView na = digitRun(a, i), nb = digitRun(b, j);
            if (na.size() != nb.size()) return na.size() < nb.size() ? -1 : 1;
            if (const int c = na.compare(nb); c != 0) return c < 0 ? -1 : 1;
            continue;
        }
        const uint wa = primaryWeight(a[i]), wb = primaryWeight(b[j]);
        if (wa != wb) return wa < wb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
    // Equal at first sight: Е before Ё at the first place they differ so,
    // then upper case first, then any fixed order.
    for (qsizetype k = 0; k < std::min(a.size(), b.size()); ++k)
        if (isYo(a[k]) != isYo(b[k])) return isYo(a[k]) ? 1 : -1;
    const int c = a.compare(b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

} // namespace text
