// A statement error passed on with the driver's own text.
void f(QSqlQuery &q) { throw db::Error(q.lastError().text()); }
