// A list sorted by Qt's own order.
void f(QStringList &names) { names.sort(); }
