#pragma once
// Layout arithmetic of the table window: sizes from points, the positions of
// header titles, title span keys, the title layout code and the word wrap and
// placement of title text. Pure functions, no widgets.
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>

namespace layout {

// 1 + sum over items 1..n of (pixels + 1); 1 when n < 1. The list holds the
// pixel sizes of items 1..count at indexes 0..count-1.
int sizeBefore(const QList<int> &pixelSizes, int n);
// Sum of pixel sizes of items start..end plus the (end - start) lines between.
int spanSize(const QList<int> &pixelSizes, int start, int end);

// Keeps the keys of drawn merged titles. A single-cell key is never kept.
class DrawnRanges {
public:
    // True when the key was drawn already; otherwise false, and a merged key
    // is remembered.
    bool registerRange(const QString &key);
    void clear() { m_keys.clear(); }
private:
    QStringList m_keys;   // sorted
};

// The title layout code: vertical alignment, horizontal alignment, rotation
// and indent count ("CC00", "TL1", "BR02", ...).
struct TitleCode {
    QChar vertical = u'C';     // T, C, B
    QChar horizontal = u'C';   // L, C, R
    bool rotated = false;
    int indent = 0;            // count of three-blank widths, 0..255
};
TitleCode parseTitleCode(const QString &tchars);

// Splits a title text into lines no wider than width - indentPx: breaks at a
// line feed, a blank or "-" ("-" stays with the word before it). A word wider
// than the line gets a line of its own. measure gives a text's width.
QStringList wrapTitleText(const QString &text, int width, int indentPx,
                          const std::function<int(const QString &)> &measure);

// Where each wrapped line is drawn: (u, v) in the title's own orientation,
// u across the line (indent included), v from the top of the text block.
// width is the line length W and extent the block extent H; lineHeight is
// the height of one line.
QList<QPoint> placeTitleLines(const QStringList &lines, const TitleCode &code, int width, int extent,
                              int lineHeight, int indentPx,
                              const std::function<int(const QString &)> &measure);

// Rectangles of the placed lines inside the title's image (origin at its
// top-left corner), from the points placeTitleLines gave. A horizontal line
// starts at (u, v) and runs right. A rotated line reads upward: its top edge
// (the side the letters' tops face) lies at x = v and it starts at y = W - u,
// so it covers x v..v+lineHeight-1 and y W-u-lineWidth..W-u-1.
QList<QRect> titleLineRects(const QList<QPoint> &at, const QStringList &lines, bool rotated, int width,
                            int lineHeight, const std::function<int(const QString &)> &measure);

// Reference text built from the marked cells of the template view: marks
// holds (grid column, grid row) pairs. Grouped by rows gives
// "стр1гр[3..5,8]+стр2гр4", by columns "гр3стр[1,2]+...".
struct CellPos {
    int column = 0;
    int row = 0;
};
QString markedReferenceText(const QList<CellPos> &marks, int fixcols, bool byRows);

// "1..3,5,7..8" from ascending numbers; wrapped in "[" "]" when it holds ","
// or "..".
QString compactNumberList(QList<int> numbers);

} // namespace layout
