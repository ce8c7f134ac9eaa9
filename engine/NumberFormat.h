#pragma once
// Number texts as the program writes and reads them: "." as the decimal
// separator always, never a thousands separator.
#include <QString>

namespace num {

// Rounds to two decimals, ties away from zero (2.345 -> 2.35, -2.345 -> -2.35).
double round2(double value);
// Two decimals, ties away from zero: 1 -> "1.00", 2.005 -> "2.01". A value
// has fifteen significant digits, so from 10^13 on it shows fewer decimals
// (12345678901234.5), from 10^14 on none, and from 10^15 on its fifteen
// digits followed by zeros (3857142857142860000), instead of digits it has not.
QString fixed2(double value);
// A whole number, ties away from zero: 2.5 -> "3"; from 10^15 on its fifteen
// digits followed by zeros, as fixed2 writes it.
QString wholeText(double value);
// General form with up to fifteen significant digits: 1.5 -> "1.5", 3 -> "3".
QString general(double value);
// The value as stored: fifteen significant digits, the digits general()
// writes (0.1 + 0.2 is stored as 0.3, not 0.30000000000000004).
double stored(double value);
// A sum keeps no more precision than its terms carry: rounded to the
// fifteen significant digits of its largest term (by magnitude), so that
// 0.1 + 0.2 - 0.3 and 10.1 + 20.2 - 30.3 are 0, not a residue of 1e-17.
// largestTerm 0 leaves the sum as it is.
double settledSum(double sum, double largestTerm);

// The one way rules, calculated cells, indicators and sums add numbers: a
// running sum that remembers its largest term, read settled (settledSum).
class Sum {
public:
    void add(double term) {
        m_sum += term;
        const double a = term < 0 ? -term : term;
        if (a > m_largest) m_largest = a;
    }
    // Adds a term that is itself a sum whose largest term is largest.
    void addSum(double term, double largest) {
        add(term);
        if (largest > m_largest) m_largest = largest;
    }
    double value() const { return settledSum(m_sum, m_largest); }

private:
    double m_sum = 0;
    double m_largest = 0;
};

// The largest magnitude a stored value may have: from 10^15 on a double no
// longer holds the fifteen digits every value is written with.
inline constexpr double kStorableLimit = 1e15;
// True for a finite value whose stored form (stored()) lies below
// kStorableLimit in magnitude: one that may be stored as a value of a cell.
// The bound is taken after the rounding, so 999999999999999.9, stored as
// 10^15, is refused.
bool isStorableValue(double value);

// Parses a number written with "." (a "," is accepted as well); false when it is none.
bool parse(const QString &text, double &value);
double parseOr(const QString &text, double def = 0.0);
// Rounds to an integer, ties away from zero.
double roundInt(double value);

// A count with its noun in Russian agreement: counted(5, "строка", "строки",
// "строк") is "5 строк"; 1, 21, 101 take one, 2-4, 22-24 take few, the
// rest (11-14 among them) take many.
QString counted(qint64 n, const QString &one, const QString &few, const QString &many);

} // namespace num
