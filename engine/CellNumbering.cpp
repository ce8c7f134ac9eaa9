#include "engine/CellNumbering.h"

#include <QRegularExpression>
#include <cmath>

namespace cells {

namespace {

// Points (1/72 inch) to screen pixels, rounded to the nearest integer.
int pointsToPixels(int points, int dpi) {
    return int(std::lround(double(points) * dpi / 72.0));
}

} // namespace

QString titleSpanKey(int startColumn, int startRow, int endColumn, int endRow) {
    QString key = QStringLiteral("R%1C%2").arg(startRow).arg(startColumn);
    if (startColumn != endColumn || startRow != endRow)
        key += QStringLiteral(":R%1C%2").arg(endRow).arg(endColumn);
    return key;
}

bool parseTitleSpanKey(const QString &key, int &startColumn, int &startRow, int &endColumn, int &endRow) {
    static const QRegularExpression re(QStringLiteral("^R(\\d+)C(\\d+)(?::R(\\d+)C(\\d+))?$"));
    const auto m = re.match(key.trimmed());
    if (!m.hasMatch()) return false;
    startRow = m.captured(1).toInt();
    startColumn = m.captured(2).toInt();
    if (m.capturedLength(3) > 0) {
        endRow = m.captured(3).toInt();
        endColumn = m.captured(4).toInt();
    } else {
        endRow = startRow;
        endColumn = startColumn;
    }
    return true;
}


int tableWindowPixels(double points, int dpi) {
    if (dpi <= 0) dpi = 96;
    // Truncated toward zero, fractions of a point included; a size no table
    // can have counts as none.
    const double scaled = points * 96.0 / dpi;
    if (!std::isfinite(scaled) || scaled <= 0 || scaled > 1e6) return 0;
    return pointsToPixels(int(scaled), dpi);
}

} // namespace cells
