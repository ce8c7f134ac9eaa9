// Value rows read past the engine's wrapper, the table named by a text of the caller's.
void sumRows(const QSqlDatabase &d, const QString &chosen, qint64 hospital, int year) {
    db::readInstitutionRows(d, db::TableName::checked(chosen), hospital, year, "data", 1, [](const double *) {});
}
