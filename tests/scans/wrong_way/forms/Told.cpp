// A failure's own text shown as it stands: the scan lists it.
#include <QString>
#include <exception>
QString told(const std::exception &e) { return QString::fromUtf8(e.what()); }
