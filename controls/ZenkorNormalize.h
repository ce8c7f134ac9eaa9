#pragma once
// Bringing one side of a control rule into a single comparable form, so that
// the program's own rules and the imported ones can be matched as plain
// strings: numbers after "ГР"/"СТР" bracketed, every operand qualified with
// its form (and table), the rule's cycle attached, upper case, no blanks.
// Pure text work: no database, no state.
#include <QString>

namespace zenkor {

// "гр5" -> "гр[5]", "СТР12ГР3" -> "СТР[12]ГР[3]"; only the run of digits
// right behind the letters is bracketed ("ГР 5" and "ГР[5]" stay); see
// notation::BracketBareNumbers.
QString BracketNumbersAfterRowCol(const QString &text);

// Puts a row cycle ("СТР...") or column cycle ("ГР...") into the text in
// place of its own row (column) list, or beside its other list.
QString AttachCycle(const QString &text, const QString &cycle);

// mode as QualifyFormulaRefs takes it: 0 form and table, 1 form only.
QString NormalizeFormulaForMatch(const QString &side, int mode, const QString &defaultForm,
                                 const QString &defaultTable, const QString &cycle);

} // namespace zenkor
