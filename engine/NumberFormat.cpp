#include "engine/NumberFormat.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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
    return QString::number(r, 'f', 2);
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

} // namespace num
