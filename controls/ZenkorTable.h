#pragma once
// The imported control book in the main database (table zenkor_controls) and
// the import run that fills it; the run itself is
// TControlMatchImporter::ImportControls (controls/ZenkorImporter.h). Helpers
// of the run that tests reach directly are declared here.
#include <QString>
#include <QStringList>

namespace zenkor {

// Takes the outer parentheses off one side of a control-book rule: a side
// whose parenthesised parts are joined by an operator loses every
// parenthesis; a side wrapped whole in one pair loses that pair. The right
// side reacts to fewer joining patterns than the left one.
QString UnwrapSide(const QString &side, bool leftSide);

// Joins the rebuilt terms of one side. Each term after the first gets the
// operator that follows (after blanks) the previous term's source item in
// sideText, when it is one of * + - / X x; otherwise "+".
QString JoinSideTerms(const QStringList &terms, const QStringList &sourceItems, const QString &sideText);

} // namespace zenkor
