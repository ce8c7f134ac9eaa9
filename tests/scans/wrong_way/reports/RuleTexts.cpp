// Rule texts read past the notation: a regular expression, a LIKE pattern and a form mark looked for by hand.
int tablesOf(const QString &text) { static const QRegularExpression ref(QStringLiteral("Ф[^Т]*Т\\[[^\\]]*\\]")); return int(text.count(ref)); }
QString rulesOfForm(const QString &form) { return QStringLiteral("%") + form + QStringLiteral("т%"); }
bool namesForm(const QString &atom) { return atom.indexOf(u'Ф') >= 0; }
// A reference written out and a message with places to fill read nothing.
QString cellText(int row, int column) { return QStringLiteral("СТР%1ГР%2").arg(row).arg(column); }
QString loaded(const QString &form) { return QStringLiteral("Таблица %1Т%2 загружена").arg(form, QStringLiteral("(1)")); }
