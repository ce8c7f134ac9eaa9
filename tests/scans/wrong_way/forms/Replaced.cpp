// A report's year replaced from a file without a word about the forms it empties.
void load(qint64 id, const QString &path) { transfer::loadReport(id, path); }
