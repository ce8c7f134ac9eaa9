#pragma once
// The meaning of one control-book line, read straight from the book's
// notation, and the proof that the rules made from it mean the same.
//
// The reader here shares nothing with the conversion into our notation: it
// cuts the line itself, expands its lists and ranges and maps every book
// number through Links.mdb one by one. The proof then evaluates the line on
// generated cell values twice, once by this reader and once by the rule
// engine running the rules that would be stored, and compares the results.
//
// Meaning of the book notation as read here:
//  - a side is arithmetic (+ - * / and the product sign X or x, brackets,
//    a leading sign) over references and constants; a constant is a number
//    with a decimal point or comma and ends at an operator;
//  - a reference is form code, table code, rows and columns; rows and columns
//    are each a number, a sum ("1+2" and, in rows, "1П3", the rows 1 to 3
//    summed), a list ("1,2", "1.2", ranges "1..3", "1:3") or arithmetic over
//    such pieces ("4-6", "4/2", "4 X 2"), each arithmetic term keeping the
//    other part of the reference;
//  - a list means "each": the line is one check per position of its lists,
//    every list of the line taken at the same position; so all lists of a line
//    must have the same length, and a reference may not hold a list both in
//    its rows and its columns (that would be a cross of two lists);
//  - a range stands for every book number from its start to its end;
//  - every book number is mapped through Links.mdb on its own; a number the
//    map does not know stays as written;
//  - a quoted row or column part is a list of our own numbers, not mapped;
//    a quoted constant is a number.
#include "controls/ZenkorImporter.h"

#include <QList>
#include <QPair>
#include <QString>
#include <functional>

namespace zenkor {

// Brackets and signs nested deeper than this make a side unreadable.
inline constexpr int kDeepestNesting = 64;

// Reasons a line is listed instead of stored (or besides being stored).
inline const QString kReasonUnreadable = QStringLiteral("строка не прочитана");
inline const QString kReasonBadNumber = QStringLiteral("ошибка в номере строки или графы");
inline const QString kReasonQuoted = QStringLiteral("текст в апострофах не является числом или списком номеров");
inline const QString kReasonCross = QStringLiteral("нужно перекрёстное сочетание списков");
inline const QString kReasonMeaning = QStringLiteral("смысл изменился при преобразовании");
inline const QString kReasonUnmapped = QStringLiteral("номера без соответствия в Links.mdb");
inline const QString kReasonForms = QStringLiteral("формы без сопоставления");
inline const QString kReasonChecker = QStringLiteral("правило не прошло проверку");

// How the run resolves the book's codes.
struct BookResolver {
    // Form of a reference as the stored rules name it ("Ф30").
    std::function<QString(const QString &formCode)> form;
    // Our table number of a book table ("1000"); empty when unknown.
    std::function<QString(const QString &formCode, const QString &tableCode)> table;
    // Our number of a book row (rows) or column; the book number itself, with
    // unmapped set, when the table's map does not know it.
    std::function<qint64(const QString &formCode, const QString &tableCode, bool rows, qint64 number,
                         bool &unmapped)>
        number;
};

// Cell values of one trial: form as the rules name it (upper case), our table
// number, column, row.
using CellValueFn = std::function<double(const QString &form, const QString &table, int column, int row)>;

class BookLine {
public:
    // Reads both sides; false with the reason when the line has no single
    // meaning or cannot be read.
    bool read(const QString &left, const QString &right, const BookResolver &resolver, QString *reason);
    // Whether a book number was kept because the map did not know it.
    bool hasUnmappedNumbers() const { return m_unmapped; }
    // Both sides of every check of the line, in check order.
    QList<QPair<double, double>> evaluate(const CellValueFn &value) const;
    // Highest column and row the line reads in a table ("Ф30|1000").
    QHash<QString, QPair<int, int>> extents() const;

    struct Piece {
        enum Kind { Single, Sum, List } kind = Single;
        QList<qint64> numbers;   // our numbers, in book order
    };
    struct NumberSpec {
        QList<Piece> pieces;
        QList<QChar> ops;        // between pieces: - / *
    };
    struct Ref {
        QString form, table;     // as the rules name them
        NumberSpec rows, columns;
    };
    struct Token {
        enum Kind { Number, Reference, Op, Open, Close } kind = Number;
        double number = 0;
        int ref = -1;
        QChar op;
    };

private:
    bool readSide(const QString &side, QList<Token> &out, QString *reason);
    bool readReference(const QString &form, const QString &table, const QString &rows, const QString &columns,
                       QString *reason);
    bool readSpec(const QString &text, bool rows, const QString &formCode, const QString &tableCode, NumberSpec &out,
                  QString *reason);

    const BookResolver *m_resolver = nullptr;
    QList<Ref> m_refs;
    QList<Token> m_sides[2];
    int m_checks = 1;
    bool m_unmapped = false;
};

// Runs the rules on generated values through the rule engine and compares
// them with the book line; true when every trial gives the same checks.
// defaultText completes references that lack their form (and table), as a
// control run of these rules does.
bool ProveRules(const BookLine &book, const QList<TControlData> &rules, const QString &defaultText);

} // namespace zenkor
