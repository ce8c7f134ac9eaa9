#pragma once
// The imported control book in the main database (table zenkor_controls) and
// the import run that fills it; the run itself is
// TControlMatchImporter::ImportControls (controls/ZenkorImporter.h). Helpers
// of the run that tests reach directly are declared here.
#include <QString>
#include <QStringList>

namespace zenkor {

// One side of a book rule in the rule notation, rebuilt from its items as
// SplitSideIntoReferences cut them: a reference item (refIndex >= 0) becomes
// its converted text, a number or an apostrophe-quoted constant stays a term,
// operators and brackets keep their places ("X" is written "*"). Brackets
// around a single plain term and around the whole side are dropped; a
// converted reference that is itself an expression is bracketed. lost is set
// (and the result is empty) when an item is neither, a reference converted to
// nothing, or the items do not form an expression.
QString BuildSide(const QStringList &items, const QList<int> &refIndex, const QStringList &converted, bool &lost);

// True when every row and column list of a stored side reads as whole
// numbers and upward ranges, so that a rule run sees what the book meant.
bool SideListsReadable(const QString &side);

// The code page a control book's bytes were saved in when its own notation
// shows it is not 1251: "KOI8-R", "DOS (cp866)" or "UTF-8" (the names
// cp1251::encodingMessage takes); empty otherwise. A book holds few letters,
// too few for a guess by letter frequencies, but its grammar allows only "П"
// between two numbers (rows 1П3): every letter that stands there (outside
// apostrophes, blanks aside) reads "П" in that code page and none is the
// 1251 "П".
QString BookCodePage(const QByteArray &bytes);

} // namespace zenkor
