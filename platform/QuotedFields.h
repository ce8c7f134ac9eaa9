#pragma once
// Lines of double-quoted fields joined by commas ("a","b","c"), the shape of
// the control files, the value transfer files and the rule files of update
// packages. Inside a field a double quote is written doubled and read back as
// one; a line written without quotes inside its fields reads as it always did.
#include <QString>
#include <QStringList>

namespace quoted {

// "f1","f2",...: every field quoted, every " inside a field doubled.
QString join(const QStringList &fields);

// Splits a line made by join (blanks or Tabs after the closing quote are
// ignored). Returns false when the line does not start and end with a quote.
// A lone quote inside a field that is not followed by ',"' is kept as text, so
// lines of older writers that did not double quotes still read.
bool split(const QString &line, QStringList &fields);

} // namespace quoted
