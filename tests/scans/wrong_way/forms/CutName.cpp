// A table number cut to ten characters: the scan lists it.
#include <QString>
QString key(const QString &tablen) { return tablen.left(10); }
