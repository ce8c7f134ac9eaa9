#pragma once
// The reference and number-list notation, read in one place:
//   "Ф" form name, "Т[" n "]" or "Т(" n ")", "СТР" row list, "ГР" column list;
//   lists are items joined by ",", an item is an integer or a range a..b.
// Example: Ф12Т[1000]СТР[1,3..5]ГР[3]. Markers are found in the upper-cased
// text (Cyrillic lower case accepted); parts are copied as written.
// Where each reference of an expression and each of its parts starts and
// ends, the "СТР[" / "ГР[" groups with their brackets, cycles, and number
// lists read and written as intervals and clipped to the table they refer to
// before anything is expanded (notation::VisitClipped). Every search for the
// markers and ranges of the program's texts is here (a source scan lists any
// other). Pure text work.
#include "engine/TableLimits.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <algorithm>
#include <optional>

// Numbers above this name no line of any table (see engine/TableLimits.h).
inline constexpr int kMaxListNumber = limits::kMaxTableRows;

// Expands ranges: "1,3..5,8" -> "1,3,4,5,8"; "5..3" stands for nothing.
// Every item counts as written, so "1..3,2" names row 2 twice (a reference
// sums its cells). The list is clipped to low..high, the lines of the table
// it refers to (notation::VisitClipped): each item's part outside is one
// number, so "1..100000000" in a 5-row table is 1..5 and 6. Bounds of any length are
// numbers. An item without ".." that is no whole number ("1.2") passes
// through as written; throws ConversionError for a range whose bounds are no
// whole numbers ("1..x").
QString ParseNumberList(const QString &list, qint64 low, qint64 high);

// ParseNumberList read as integers ("3..5" -> 3, 4, 5); a trailing comma adds
// nothing. Throws ConversionError for an item that is no integer.
QList<int> ParseIntegerList(QStringView list, qint64 low, qint64 high);

// The numbers of an expanded list (ParseNumberList: items joined by ","),
// in their order: each item read as an int, blanks around it and a sign
// allowed; an item that is none ("1.2", blank, too large) is passed over.
QList<int> ExpandedNumbers(QStringView list);
// Adds offset to every number of an expanded list ("1,2,5" + 3 ->
// "4,5,8"); throws ConversionError for an item that is no integer.
QString ShiftNumberList(const QString &list, int offset);

// "Т(" (either case) becomes "Т[" and the next ")" after it "]".
QString SquareTableBrackets(const QString &reference);

// The parts of an upper-cased reference (table in square brackets, see
// SquareTableBrackets) cut at its
// first "Ф", "Т[", "СТР" and "ГР"; each part runs to the next of these
// markers, so a part cannot swallow the one after it.
struct ReferenceParts {
    bool hasForm = false, hasTable = false, hasRows = false, hasColumns = false;
    QString form;       // "Ф12", blanks trimmed
    QString table;      // table key "(1000)"
    QString rows;       // list text without its square brackets
    QString columns;
    bool any() const { return hasForm || hasTable || hasRows || hasColumns; }
};
ReferenceParts CutReferenceParts(QStringView upperText);

namespace notation {

enum class Line { Rows, Columns };
// "СТР" or "ГР".
const QString &Marker(Line line);

// The text upper-cased character by character: every position is still that
// of the text ("ß" stays), so what is found in it can be cut from the text.
QString Upper(QStringView text);

// One part of a reference: from its marker (included) up to the next marker
// or the end of the text; at is -1 when the reference has no such part.
struct Part {
    qsizetype at = -1, end = -1;
    bool found() const { return at >= 0; }
    QStringView in(QStringView text) const { return found() ? text.mid(at, end - at) : QStringView(); }
};
// The first "Ф", "Т[", "СТР" and "ГР" of an upper-cased reference; lead is
// what stands before the first of them (the whole text when none).
struct Markers {
    Part form, table, rows, columns;
    qsizetype leadEnd = 0;
    const Part &line(Line l) const { return l == Line::Rows ? rows : columns; }
};
Markers FindMarkers(QStringView upperText);

// Where each reference of an upper-cased expression stands: from its "Ф" up
// to the first sign that ends it, blanks before that sign left out. A
// reference ends at a "Ф" past its form's name (a "Ф" in the name, up to the
// reference's next part, is the name's own), at "<", ">", a lone "=", and, outside its
// table's round brackets ("Т(", blanks allowed between), at ")", "*", "/",
// the words AND and OR standing apart from digits and Latin letters, and
// "+" or "-" unless it is a sign (right after "(", "[", or another of + - * /).
QList<Part> FindReferences(QStringView upperText);

// The pieces of a rule side (upper-cased, table brackets squared: see
// SquareTableBrackets) with the signs between them, as the rule run and the
// table window's error marks cut it: piece, sign, piece, ... (always an odd
// count), the signs "(", ")", "*", "+", "-" and "/" one character each.
QStringList CutSide(const QString &side);

// The run of digits right behind a "СТР" or "ГР" (any case) put into square
// brackets: "гр5" -> "гр[5]", "СТР12ГР3" -> "СТР[12]ГР[3]"; "ГР 5" and
// "ГР[5]" stay as they are.
QString BracketBareNumbers(const QString &text);

// One reference of an expression as ReadLineReferences finds it, upper-cased,
// parts as written; a part it does not name is empty.
struct LineReference {
    QString form;           // "Ф30"
    QString table;          // "(1000)", blanks inside the brackets left out
    QString rows, columns;  // "[1,3..5]" with its brackets, or bare "2"
};
// Every reference of an expression, its form and table free to be left out
// (a rule of one table names its own lines alone). Parts stand in the order
// form, table, rows, columns, blanks between them allowed; a part out of that
// order starts the next reference ("ГР5СТР1" is two). The form runs from "Ф"
// up to its table, rows or columns, a blank, a sign or a bracket; the table
// is in square or round brackets; a list is in square brackets up to the
// first "]", or bare digits, "." and ",".
QList<LineReference> ReadLineReferences(const QString &expression);

// Every "Т[" and "Т(" of an upper-cased text from left to right: where its
// "Т" stands and the first bracket of its kind after it that closes it ("]"
// or ")"; -1 when there is none).
struct TableKey {
    qsizetype at = -1, close = -1;
};
QList<TableKey> FindTableKeys(QStringView upperText);

// ---- Names a reference can name ---------------------------------------------------
// The one definition of a form name and a table number that references can
// name, as every reader of the program's texts reads them: the rule check and
// the rule run, the table window's marks, calculated cells and their
// conditions, indicator formulas, the control-book conversion. A reference
// names a form by its whole name, which begins with "Ф" (a reference's form
// part starts there) and goes on after it, and a table by its number in
// "Т[...]". Neither may hold
// what ends a part or a reference in one of those readers: a sign + - * /, a
// bracket, a relation < > =, ";", a double quote, a blank (conditions are read
// without blanks), the words AND and OR (conditions join atoms with them,
// wherever they stand), the outside-table mark "ВПТ"; nor, after the form's
// "Ф", "СТР" or "ГР"; a table number nor "Ф". Letter case does not count.
// Each answers why not, in Russian, naming the character or word; empty when
// the name can be named.
QString FormNameProblem(const QString &formname);
// The number as it is stored, "(1000)" (a text without round brackets is read
// as the number's inside).
QString TableNumberProblem(const QString &tablen);
// The scope a rule of a form (and of one of its tables) is run in, as the
// control run completes references that leave out their form or table:
// "Ф30Т[1000]", or "Ф30" without a table.
QString RuleScope(const QString &formname, const QString &tablen);
// Why the form and table (either may be empty: left out) of a name already
// stored cannot be named the way the program names them: as a rule's scope
// (inSide false: RuleScope, which the run reads whole) or by a reference in a
// side ("Ф30Т[1000]СТР1ГР1", cut at its signs as the rule check and the run
// cut it). The reason is that of FormNameProblem or TableNumberProblem;
// empty when the reader takes them back as they are stored. Names the
// catalogue accepts today always read back; older ones may not.
QString NamingProblem(const QString &formname, const QString &tablen, bool inSide);

// Every reference of a stored text (rule side, calculated cell's formula or
// condition, indicator formula) as a rename finds the names in it: the text,
// round table brackets squared, cut at ( ) * + - / < > = ; and the words AND
// and OR, as the rule run and the condition reader cut it, each piece read by
// FindMarkers; a piece is a reference when it has a part and nothing but
// blanks stands before its first part. A table's key is taken whole up to
// the bracket that closes it, signs included, so that a number stored before
// such numbers were refused is still found. Positions are those of the text.
struct TextReference {
    qsizetype formAt = -1, formEnd = -1;   // the form's name, blanks around it left out; -1: no form part
    qsizetype keyAt = -1, keyEnd = -1;     // inside the table's brackets, as written; -1: no table part
    bool hasForm() const { return formAt >= 0; }
    bool hasTable() const { return keyAt >= 0; }
};
QList<TextReference> FindTextReferences(QStringView text);

// A table number as it is stored, "(1000)", as a reference writes its key:
// "[1000]". A number not in round brackets stays as it is.
QString SquareTableKey(const QString &stored);

// The key of a table part as the rule check and the rule run read it, from
// the text after its "Т[" (round brackets squared, see SquareTableBrackets)
// up to the next marker: the text up to its "]", blanks inside the brackets
// left out, in round brackets as it is stored ("Т[ 1000 ]" -> "(1000)").
// closed is false when the part is no whole key: no "]", text after it, or
// nothing inside; the key is then the text with one trailing "]" dropped.
struct TableKeyPart {
    QString key;
    bool closed = false;
};
TableKeyPart ReadTableKey(QStringView afterBracket);
// The key a table text names, from its first "(" or "[" on, read as
// ReadTableKey does ("Т[ 7 ]", "т(7)", "(7)" -> "(7)"); the text itself
// when it has no bracket.
QString TableKeyOf(const QString &tableText);

// A table as a chosen or stored table's key: a bare number in round
// brackets ("1000" -> "(1000)"), a text with a bracket read by TableKeyOf
// ("Т[ 1000 ]", "[1000]" -> "(1000)"); blanks around left out, blanks only
// give the empty text.
QString StoredTableKey(const QString &table);

// A "СТР[" or "ГР[" group: where its marker starts, its "[" and the "]" that
// closes it (-1 when it is never closed).
struct Group {
    Line line = Line::Rows;
    qsizetype at = -1, open = -1, close = -1;
};
// Every group of an upper-cased text from left to right. Nested: the "]"
// that brings the bracket depth back to 0 closes a group (the engine's rule);
// otherwise the first "]" after the "[" does (the imported books' rule).
QList<Group> FindGroups(QStringView upperText, bool nested);

// The first group of the line; nothing when there is none.
std::optional<Group> FirstGroup(QStringView upperText, Line line, bool nested);
inline Line OtherLine(Line line) { return line == Line::Rows ? Line::Columns : Line::Rows; }

// Index of the bracket closing the one at open, nesting counted ("[" "]", and
// "(" ")" as the same kind when roundToo); -1 when it is never closed.
qsizetype MatchingBracket(QStringView text, qsizetype open, bool roundToo);

// The row (column) list of a reference as written: "СТР[" up to its closing
// "]" (nested), or "СТР" followed by blanks and a run of digits, "." and ",".
// Empty when absent, unclosed, or holding another marker.
QString LineListText(const QString &reference, Line line);

// The list of a part after its marker ("СТР", "ГР"), as the rule check and
// the rule run both read it: "[list]" or "list", blanks around either
// ignored. False for a "[" that the part does not end with (an unclosed
// bracket, or text after the "]"). The list may be empty.
bool ListOfPart(QStringView part, QStringView &list);

// A cycle text: "СТР" or "ГР" at its start (any case, blanks around the
// whole text ignored) and a list, with or without square brackets.
struct Cycle {
    bool found = false;   // false when the text starts with neither marker
    Line line = Line::Rows;
    QString marker;       // the marker as written ("стр")
    QString after;        // the text after the marker, as written
    // The list as the rule check and the rule run read it (ListOfPart);
    // "after" itself, which no list reader takes, when it is none.
    QString list() const {
        QStringView l;
        return ListOfPart(after, l) ? l.toString() : after;
    }
};
Cycle ReadCycle(const QString &cycle);
// The cycle as it is stored: blanks around it and after its marker gone,
// the marker in capitals, the list in square brackets ("гр 4..7" ->
// "ГР[4..7]"); the text itself when it is no cycle. Empty for blanks only.
QString CanonicalCycle(const QString &cycle);

// A number list as intervals [first, last].
using NumberSpan = QPair<qint64, qint64>;
// Reads a list of whole numbers and upward ranges a..b (blanks allowed; a
// bound of any length is a number, see kHugeBound); false for anything else.
// An empty list gives no spans. Nothing is expanded.
bool ReadNumberSpans(QStringView list, QList<NumberSpan> &spans);
// The canonical form of a list the control-book importer compares and
// writes: each number once, in ascending order ("1..3,2" -> 1..3), with
// overlapping and adjacent intervals merged. The engine keeps every item as
// written instead (see ParseNumberList).
QList<NumberSpan> CanonicalSpans(QList<NumberSpan> spans);
// Writes the intervals in their order, single numbers alone, longer runs as
// a..b; an interval that continues the one before it upwards joins it.
QString WriteNumberSpans(const QList<NumberSpan> &spans);
// Count of the numbers the intervals hold.
qint64 SpanCount(const QList<NumberSpan> &spans);

// Bounds beyond this are read as this (far outside every table), so a bound
// of any length is still a number.
inline constexpr qint64 kHugeBound = qint64(1) << 52;
// A list item by item as written: n gives [n, n], a..b gives [a, b] even
// when b is below a (that item stands for nothing). Blanks around numbers are
// allowed; empty items are passed over when skipEmpty, refused otherwise.
// False for an item that is not a whole number or range. Nothing is expanded.
bool ReadListItems(QStringView list, QList<NumberSpan> &items, bool skipEmpty);

// A list kept item by item for a reader that clips it to its table.
using NumberItems = QList<NumberSpan>;
// ReadListItems with empty items passed over; nothing for a list that is no
// list of whole numbers and ranges.
std::optional<NumberItems> ReadNumberItems(QStringView list);

// The one range rule of every reader: the numbers of the items in their
// order, clipped to low..high (the table the list refers to) before anything
// is made. The part of an item inside the table is visited whole; what lies
// outside is one number per item, the first the item names outside, in its
// place. So "1..3,2" still names 2 twice, a list costs at most its items
// times (high - low + 2), and no number outside the table is made but one
// per item. visit returns false to stop; the result is false when stopped.
template <typename Visit>
bool VisitClipped(const NumberItems &items, qint64 low, qint64 high, Visit &&visit) {
    for (const NumberSpan &it : items) {
        const qint64 a = it.first, b = it.second;
        if (a > b) continue;
        bool outside = false;
        if (a < low || a > high) {
            if (!visit(a)) return false;
            outside = true;
        }
        for (qint64 v = std::max(a, low), hi = std::min(b, high); v <= hi; ++v)
            if (!visit(v)) return false;
        if (!outside && b > high && !visit(std::max(a, high + 1))) return false;
    }
    return true;
}
// The visited numbers, each brought into the int range (an outside number
// stays outside).
QList<int> ClippedIntegers(const NumberItems &items, qint64 low, qint64 high);
// Ranges of the items as they will be read, for showing a huge list: each
// item clipped to low..high and written a..b, with its outside part named
// once ("1..5,6.." for 1..99999 in a 5-line table).
QString ClippedListText(const NumberItems &items, qint64 low, qint64 high);

} // namespace notation
