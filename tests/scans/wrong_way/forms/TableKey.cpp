// A table key cut out of its brackets, and a list cut at its commas, by hand.
QString tableKey(QStringView part) { const qsizetype close = part.indexOf(u']'); return part.left(close).toString(); }
QStringList items(const QString &list) { return list.split(u','); }
bool endsPiece(QChar c) { return QStringLiteral("()*+-/").contains(c); }
