#include "forms/table/TableLayout.h"
#include "engine/CellNumbering.h"

#include "engine/Notation.h"

#include <QMap>
#include <algorithm>
#include <cmath>

namespace layout {

int sizeBefore(const QList<int> &pixelSizes, int n) {
    int total = 1;
    const int last = std::min<int>(n, int(pixelSizes.size()));
    for (int i = 0; i < last; ++i) total += pixelSizes[i] + 1;
    return total;
}

int spanSize(const QList<int> &pixelSizes, int start, int end) {
    if (end < start) std::swap(start, end);
    int total = 0;
    for (int i = start; i <= end; ++i)
        if (i >= 1 && i <= pixelSizes.size()) total += pixelSizes[i - 1];
    return total + (end - start);
}

bool DrawnRanges::registerRange(const QString &key) {
    auto it = std::lower_bound(m_keys.begin(), m_keys.end(), key);
    if (it != m_keys.end() && *it == key) return true;
    if (key.contains(u':')) m_keys.insert(it, key);
    return false;
}

TitleCode parseTitleCode(const QString &tchars) {
    TitleCode c;
    const QString t = tchars.left(6).toUpper();
    if (t.size() >= 1 && QStringLiteral("TCB").contains(t[0])) c.vertical = t[0];
    if (t.size() >= 2 && QStringLiteral("LCR").contains(t[1])) c.horizontal = t[1];
    if (t.size() >= 3) c.rotated = t[2] == u'1';
    if (t.size() >= 4) {
        bool ok = false;
        const int n = t.mid(3).trimmed().toInt(&ok);
        c.indent = ok ? (n & 0xFF) : 0;
    }
    return c;
}

QStringList wrapTitleText(const QString &source, int width, int indentPx,
                          const std::function<int(const QString &)> &measure) {
    QString text = source;
    text.remove(u'\r');
    const int room = width - indentPx;
    QStringList lines;
    QString line;
    QString separator;   // what joins the next word to the line

    auto place = [&](const QString &word) {
        if (line.isEmpty() && separator.isEmpty()) {
            line = word;
            return;
        }
        const QString candidate = line + separator + word;
        if (measure(candidate) < room || line.isEmpty()) {
            line = candidate;
        } else {
            lines.append(line);
            line = word;
        }
    };

    QString word;
    for (QChar ch : text) {
        if (ch == u'\n') {
            place(word);
            lines.append(line);
            line.clear();
            separator.clear();
            word.clear();
        } else if (ch == u' ') {
            place(word);
            separator = QStringLiteral(" ");
            word.clear();
        } else if (ch == u'-') {
            word += ch;
            place(word);
            separator.clear();
            word.clear();
        } else {
            word += ch;
        }
    }
    place(word);
    lines.append(line);
    return lines;
}

QList<QPoint> placeTitleLines(const QStringList &lines, const TitleCode &code, int width, int extent,
                              int lineHeight, int indentPx,
                              const std::function<int(const QString &)> &measure) {
    QList<QPoint> out;
    int v = 0;
    const int block = extent - int(lines.size()) * lineHeight;
    if (code.vertical == u'B') v = block;
    else if (code.vertical == u'C') v = block / 2;
    for (const QString &line : lines) {
        const int lw = measure(line);
        int u = 0;
        if (code.horizontal == u'C') u = (width - lw) / 2;
        else if (code.horizontal == u'R') u = width - lw;
        out.append(QPoint(u + indentPx, v));
        v += lineHeight;
    }
    return out;
}

QList<QRect> titleLineRects(const QList<QPoint> &at, const QStringList &lines, bool rotated, int width,
                            int lineHeight, const std::function<int(const QString &)> &measure) {
    QList<QRect> out;
    const int n = int(std::min(at.size(), lines.size()));
    out.reserve(n);
    for (int i = 0; i < n; ++i) {
        const int u = at[i].x(), v = at[i].y();
        const int lw = measure(lines[i]);
        if (rotated) out.append(QRect(v, width - u - lw, lineHeight, lw));
        else out.append(QRect(u, v, lw, lineHeight));
    }
    return out;
}

QString compactNumberList(QList<int> numbers) {
    QList<notation::NumberSpan> spans;
    for (int n : numbers) spans.append({n, n});
    spans = notation::CanonicalSpans(spans);
    const QString list = notation::WriteNumberSpans(spans);
    // More than one number in brackets.
    if (notation::SpanCount(spans) > 1) return u'[' + list + u']';
    return list;
}

QString markedReferenceText(const QList<CellPos> &marks, int fixcols, bool byRows) {
    QMap<int, QList<int>> groups;
    for (const CellPos &p : marks) {
        if (byRows) groups[p.row].append(cells::refColumnOfGrid(p.column, fixcols));
        else groups[p.column].append(cells::refRowOfGrid(p.row));
    }
    QString out;
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        if (byRows)
            out += QStringLiteral("стр%1гр").arg(cells::refRowOfGrid(it.key()));
        else
            out += QStringLiteral("гр%1стр").arg(cells::refColumnOfGrid(it.key(), fixcols));
        out += compactNumberList(it.value()) + u'+';
    }
    if (out.endsWith(u'+')) out.chop(1);
    return out;
}

} // namespace layout
