// A form name of a manifest compared past the catalogue's comparison.
bool sameForm(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }
