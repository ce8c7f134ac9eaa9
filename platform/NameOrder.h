#pragma once
// The order of names shown in lists, as in a Russian dictionary: letter case
// ignored, Ё with Е (on a tie Е first), digits and Latin letters before
// Cyrillic ones, and numbers inside names compared by value ("ЦРБ №2" before
// "ЦРБ №10"). Names equal but for case keep a fixed order (upper case first).
// Every list of names the program sorts uses this order; databases sort
// with it through the collation NAMES (platform/Database.h).
#include <QString>

namespace text {

int compareNames(const QString &a, const QString &b);
inline bool nameLess(const QString &a, const QString &b) { return compareNames(a, b) < 0; }

} // namespace text
