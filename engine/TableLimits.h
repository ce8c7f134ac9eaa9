#pragma once
// The largest table the program accepts, far above any real report form.
// Files, imports and edits that describe a larger table are refused before
// anything is allocated or stored; the table window and the value matrix
// refuse to open one.
namespace limits {

constexpr int kMaxTableColumns = 1000;
constexpr int kMaxTableRows = 10000;

// A row height or column width in points: far above any header, and small
// enough that a table of the largest size still fits the table window's
// pixel sums.
constexpr double kMaxLineSize = 3000;
// The font size of a header title, in points.
constexpr int kMaxFontSize = 144;

inline bool tableSizeFits(long long columns, long long rows) {
    return columns >= 0 && rows >= 0 && columns <= kMaxTableColumns && rows <= kMaxTableRows;
}

} // namespace limits
