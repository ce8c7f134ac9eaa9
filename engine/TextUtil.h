#pragma once
// Small text helpers shared by every part of the program.
#include "platform/NameOrder.h"

#include <QDate>
#include <QList>
#include <QTime>
#include <QString>
#include <QStringList>

namespace text {

// Upper case and comparison that treat Cyrillic letters like Latin ones.
QString upper(const QString &s);
bool sameNoCase(const QString &a, const QString &b);
// The one comparison of form names and table numbers, the catalogue gate's:
// blanks around them and letter case (Cyrillic included) do not count.
// Every look-up, file reader and edit compares names and numbers so (a
// source scan keeps it that way).
bool sameName(const QString &a, const QString &b);

// A name or title as typed: every Tab becomes a blank (a Tab would split
// the lines of the files that carry names and titles).
QString tabsToBlanks(const QString &s);

// The one gate of a text stored where it ends up in a code page 1251 file
// (or in database text that is exported): every statement that stores a
// name, number, title, rule side, cycle, comment, formula, condition or
// indicator text passes it, whatever the path (typing, replace, loaders,
// the update installer, Word import). Returns the text as it is stored: a
// Tab becomes a blank; in a one-line text (names, numbers, comments) and in
// a formula (rule sides, cycle, calculation formulas) a line break, and any
// other control character (bytes 1 and 2 of a record's line breaks), becomes
// a blank too, so "1", line break, "0" is "1 0" and never "10". Throws
// EngineError naming the field (when given) and the first character code
// page 1251 cannot hold, as the user sees it (one character, not the halves
// of an emoji): such a text would come back with "?".
enum class Field { OneLine, MultiLine, Formula };
QString entry(const QString &typed, Field kind = Field::OneLine, const QString &field = QString());
// The refusal entry would throw, or empty: for dialogs that check a field
// before they close, so that what was typed stays.
QString entryProblem(const QString &typed, const QString &field = QString());
// The same without the check of characters (for windows that refuse them
// with their own focus handling).
QString entryLayout(const QString &typed, Field kind);
// The message naming the characters of text that code page 1251 cannot
// hold; empty when it holds them all.
QString unencodableProblem(const QString &text);
// "\"≥\" (U+2265)": a character as the messages name it.
QString characterName(char32_t c);

// Order of names: compareNames and nameLess (platform/NameOrder.h).
void sortNames(QStringList &names);

// A field of a file or an entry as a message quotes it: at most 100
// characters, a longer text cut with "…" (a message never carries a whole
// megabyte field).
QString shownField(const QString &s);

// Title texts and one-line records keep special characters as control bytes:
// ":" as byte 3 in title texts, LF as byte 1 and CR as byte 2 in records.
QString encodeColon(const QString &s);   // ":" -> \x03
QString decodeColon(const QString &s);   // \x03 -> ":"
QString encodeLineBreaks(const QString &s);  // LF -> \x01, CR -> \x02
QString decodeLineBreaks(const QString &s);  // \x01 -> LF, \x02 -> CR
// A field of a line of a tab-separated file: LF as byte 1 and CR as byte 2
// (as encodeLineBreaks), and Tab, bytes 0, 1, 2, 3, every other control
// character and DEL as byte 3 followed by the character 64 away from it
// ("\x03I" for Tab, "\x03A" for byte 1), so that no field splits its line
// or its line the file, and each reads back as it was. Decoding takes byte 3
// before any other character as it stands (a file written before byte 3
// was an escape).
QString encodeFieldControls(const QString &s);
QString decodeFieldControls(const QString &s);

// Institution lists: ids as decimal text joined by "," with no spaces and no
// trailing comma. Parsing skips empty items and a trailing comma; items that
// are not integers are skipped too (ok is set false when any was).
QList<qint64> parseIdList(const QString &list, bool *ok = nullptr);
QString joinIdList(const QList<qint64> &ids);
// True when the text is a proper institution list (digits separated by ",").
bool isIdList(const QString &list);

// Date and time as the Russian system formats write them: "06.12.2026",
// "14:05:09". The program's locale is C (for the "." decimal separator), so
// these are fixed here instead of taken from the locale.
QString shortDate(const QDate &date);
QString longTime(const QTime &time);

} // namespace text

// ---- Positions and characters ---------------------------------------------
// Positions count from 1. PosFrom: the first occurrence of sub in text at or
// after start; text.size() + 1 when there is none, start itself when it lies
// beyond the text. An empty sub is found nowhere.
qsizetype PosFrom(const QString &sub, const QString &text, qsizetype start);
// PosBackFrom: the last occurrence of sub in text that begins at or before
// index - sub.size(); 0 when there is none (or an empty sub).
qsizetype PosBackFrom(const QString &text, qsizetype index, const QString &sub);
// Every character a digit or "." (true for the empty text).
bool IsDigitsText(const QString &text);
// Not empty and every character a digit or ".".
bool IsDecimalText(const QString &text);
QString ReplaceChar(const QString &text, QChar what, QChar with);
QString RemoveChar(const QString &text, QChar what);
