#include "forms/ControlHighlight.h"

#include "core/AdminMode.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cmath>

QString MakeCellKey(int gridRow, int gridColumn) {
    return QString::number(gridRow) + u',' + QString::number(gridColumn);
}

bool IsNumberInList(const QString &list, int n) {
    const QStringList items = list.split(u',');
    for (const QString &item : items) {
        bool ok = false;
        const int v = item.trimmed().toInt(&ok);
        if (ok && v == n) return true;
    }
    return false;
}

namespace {

// Nearest integer, halves to the even one.
int roundEven(double v) { return int(std::nearbyint(v)); }

double strength(qint32 n) {
    if (n >= 5) return 1.0;
    if (n >= 1) return n / 5.0 * 0.7 + 0.3;
    return 0.0;
}

} // namespace

QColor controlCountColor(const TControlCount &c) {
    const qint64 total = c.Total();
    if (total <= 0) return QColor(255, 255, 255);
    struct Kind {
        qint32 count;
        int base[3];
    };
    const Kind kinds[3] = {
        {c.IntraTableCount, {255, 255, 100}},
        {c.InterTableCount, {100, 180, 255}},
        {c.InterFormCount, {255, 120, 180}},
    };
    double sum[3] = {0, 0, 0};
    for (const Kind &k : kinds) {
        const double s = strength(k.count);
        const double weight = double(k.count) / double(total);
        for (int ch = 0; ch < 3; ++ch) {
            const int channel = k.count > 0 ? roundEven(255.0 - (255.0 - k.base[ch]) * s) : 255;
            sum[ch] += channel * weight;
        }
    }
    int out[3];
    for (int ch = 0; ch < 3; ++ch) out[ch] = roundEven(std::clamp(sum[ch], 0.0, 255.0));
    return QColor(out[0], out[1], out[2]);
}

QColor GetControlCellColor(const ControlCountList *list, const QString &key) {
    if (!list) return QColor(255, 255, 255);
    const auto it = list->constFind(key);
    if (it == list->constEnd()) return QColor(255, 255, 255);
    return controlCountColor(it.value());
}

QColor formulaFlagsColor(int bits) {
    int r = 255, g = 255, b = 255, n = 0;
    if (bits & 1) { r += 255; g += 255; b += 208; ++n; }
    if (bits & 2) { r += 208; g += 255; b += 208; ++n; }
    if (bits & 4) { r += 208; g += 208; b += 255; ++n; }
    return QColor(std::min(255, r / (n + 1)), std::min(255, g / (n + 1)), std::min(255, b / (n + 1)));
}

QColor FormulaCellColor(const FormulaFlagList *list, const QString &key) {
    if (!IsAdminMode() || !list) return QColor(255, 255, 255);
    const auto it = list->constFind(key);
    if (it == list->constEnd()) return QColor(255, 255, 255);
    return formulaFlagsColor(it.value());
}

void MarkFormulaCells(const QSqlDatabase &d, qint64 tableIdent, int colcount, int rowcount,
                      FormulaFlagList &list) {
    list.clear();
    if (!IsAdminMode()) return;
    const QString notBlank = QStringLiteral(
        " and ((formula is not null and trim(formula)<>'') or (condition is not null and trim(condition)<>'')"
        " or (trim(condition)<>'' and condition<>'*'))");
    const QString head = QStringLiteral("select \"row\", \"column\" from conditions where tid=? and ");
    auto flag = [&](int row, int column, int bit) { list[MakeCellKey(row, column)] |= bit; };

    QSqlQuery q = db::exec(d, head + QStringLiteral("(\"row\">=0 and \"column\">=0)") + notBlank, {tableIdent});
    while (q.next()) flag(q.value(0).toInt(), q.value(1).toInt(), 1);
    q = db::exec(d, head + QStringLiteral("(\"row\">=0 and \"column\"=-1)") + notBlank, {tableIdent});
    while (q.next())
        for (int c = 0; c <= colcount; ++c) flag(q.value(0).toInt(), c, 2);
    q = db::exec(d, head + QStringLiteral("(\"row\"=-1 and \"column\">=0)") + notBlank, {tableIdent});
    while (q.next())
        for (int r = 0; r <= rowcount; ++r) flag(r, q.value(1).toInt(), 4);
}
