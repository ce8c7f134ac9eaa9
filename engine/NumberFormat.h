#pragma once
// Number texts as the program writes and reads them: "." as the decimal
// separator always, never a thousands separator.
#include <QString>

namespace num {

// Rounds to two decimals, ties away from zero (2.345 -> 2.35, -2.345 -> -2.35).
double round2(double value);
// Two decimals, ties away from zero: 1 -> "1.00", 2.005 -> "2.01".
QString fixed2(double value);
// General form with up to fifteen significant digits: 1.5 -> "1.5", 3 -> "3".
QString general(double value);
// The value as stored: fifteen significant digits, the digits general()
// writes (0.1 + 0.2 is stored as 0.3, not 0.30000000000000004).
double stored(double value);
// Parses a number written with "." (a "," is accepted as well); false when it is none.
bool parse(const QString &text, double &value);
double parseOr(const QString &text, double def = 0.0);
// Rounds to an integer, ties away from zero.
double roundInt(double value);

} // namespace num
