#include "engine/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <algorithm>
#include <cstdio>
#include <string>

namespace num {

double round2(double value) {
    // Work on the shortest decimal text of the value so that 2.675 (stored as
    // 2.67499999...) still rounds up as the user typed it.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    const double v = std::strtod(buf, nullptr);
    const double scaled = v * 100.0;
    double r = std::round(scaled);  // std::round rounds half away from zero
    // Guard against scaled values like 234.49999999999997 for 2.345.
    const double frac = std::fabs(scaled - std::trunc(scaled));
    if (std::fabs(frac - 0.5) < 1e-9) r = std::trunc(scaled) + (scaled < 0 ? -1.0 : 1.0);
    return r / 100.0;
}

double roundInt(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", value);
    return std::round(std::strtod(buf, nullptr));
}

QString fixed2(double value) {
    double r = round2(value);
    if (r == 0.0) r = 0.0;  // no "-0.00"
    // Fifteen significant digits in all: the whole part takes them first.
    int decimals = 2;
    const double a = std::fabs(r);
    if (a >= 1e15 && std::isfinite(a)) {
        // Fifteen digits and zeros: printing the binary value whole would
        // show digits no value holds.
        char buf[48];
        const auto end = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::scientific, 14).ptr;
        const std::string sci(buf, end);
        const std::size_t e = sci.find('e');
        int exponent = 0;
        std::from_chars(sci.data() + e + (sci[e + 1] == '+' ? 2 : 1), sci.data() + sci.size(), exponent);
        QString digits;
        for (std::size_t i = 0; i < e; ++i)
            if (sci[i] >= '0' && sci[i] <= '9') digits += QLatin1Char(sci[i]);
        while (digits.size() < exponent + 1) digits += u'0';
        return (r < 0 ? QStringLiteral("-") : QString()) + digits;
    }
    if (a >= 1e14 || !std::isfinite(a)) decimals = 0;
    else if (a >= 1e13) decimals = 1;
    if (decimals < 2) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.*f", decimals, r);
        QString text = QString::fromLatin1(buf);
        if (text == QLatin1String("-0") || text == QLatin1String("-0.0")) text.remove(0, 1);
        return text;
    }
    return QString::number(r, 'f', 2);
}

QString wholeText(double value) {
    const double r = roundInt(value);
    if (r == 0.0) return QStringLiteral("0");
    if (std::fabs(r) < 1e15) return QString::number(qint64(r));
    return fixed2(r);
}

QString general(double value) {
    if (value == 0.0) return QStringLiteral("0");
    // Whole numbers below 10^15 read the same in the general form.
    if (value == std::trunc(value) && std::fabs(value) < 1e15) return QString::number(qint64(value));
    return QString::number(value, 'g', 15);
}

double stored(double value) {
    if (value == 0.0 || !std::isfinite(value)) return value;
    if (value == std::trunc(value) && std::fabs(value) < 1e15) return value;   // whole numbers are exact
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15).ptr;
    double out = value;
    std::from_chars(text, end, out);
    return out;
}

namespace {
// The decimal exponent of a finite non-zero value as written with the given
// number of significant digits (9.9999999999999999 with 15 is 1.0e+01: 1).
int decimalExponent(double value, int digits) {
    char text[48];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::scientific, digits - 1).ptr;
    int e = 0;
    for (const char *p = end; p > text; --p)
        if (p[-1] == 'e') {
            std::from_chars(p[0] == '+' ? p + 1 : p, end, e);
            break;
        }
    return e;
}
} // namespace

double settledSum(double sum, double largestTerm) {
    const double magnitude = std::fabs(sum);
    // A sum at least as large as every term keeps fifteen digits of its own
    // when stored; only a sum that cancels can show digits its terms lack.
    if (sum == 0 || !std::isfinite(sum) || !(largestTerm > magnitude) || !std::isfinite(largestTerm)) return sum;
    const int lowest = decimalExponent(largestTerm, 15) - 14;   // exponent of the last digit kept
    const int digits = decimalExponent(sum, 17) - lowest + 1;   // digits of the sum down to it
    if (digits <= 0) {
        // Below one unit of the last digit: zero, or that unit when it rounds up.
        const double unit = std::pow(10.0, lowest);
        return digits == 0 && magnitude >= unit / 2 ? std::copysign(unit, sum) : 0.0;
    }
    char text[48];
    const auto end =
        std::to_chars(text, text + sizeof text, sum, std::chars_format::scientific, std::min(digits, 17) - 1).ptr;
    double out = sum;
    std::from_chars(text, end, out);
    return out;
}

bool isStorableValue(double value) {
    if (!std::isfinite(value)) return false;
    // Only a value within one unit of the limit can reach it by the rounding.
    if (std::fabs(value) < kStorableLimit - 1) return true;
    return std::fabs(stored(value)) < kStorableLimit;
}

bool parse(const QString &text, double &value) {
    QString t = text.trimmed();
    t.replace(u',', u'.');
    if (t.isEmpty()) return false;
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v)) return false;
    value = v;
    return true;
}

double parseOr(const QString &text, double def) {
    double v = 0;
    return parse(text, v) ? v : def;
}

QString counted(qint64 n, const QString &one, const QString &few, const QString &many) {
    const qint64 a = n < 0 ? -n : n;
    const qint64 tens = a % 100, units = a % 10;
    const QString &word = tens >= 11 && tens <= 14 ? many : units == 1 ? one : units >= 2 && units <= 4 ? few : many;
    return QString::number(n) + QLatin1Char(' ') + word;
}

} // namespace num
