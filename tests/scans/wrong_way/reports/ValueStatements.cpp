// Value tables spelt in the statements themselves.
void clearReport(qint64 report) {
    db::exec(db::kData, QStringLiteral("delete from repdata where hospital=?"), {report});
}

qint64 count(int year) {
    return db::scalar(db::kData, QStringLiteral("SELECT count(*) FROM \"data\" WHERE year=?"), {year}).toLongLong();
}

void copyFrom(const QSqlDatabase &d) { db::exec(d, QStringLiteral("insert into main.data select * from src.data")); }

QVariantList indexes(const QSqlDatabase &d) {
    return db::column(d, QStringLiteral("select name from sqlite_master where tbl_name='repdata'"));
}

void makeIndex(const QSqlDatabase &d) {
    db::exec(d, QStringLiteral("create index if not exists data_key on data (hospital)"));
}

// The value column, a word that ends in "on" and other tables are no value tables.
double total(const QSqlDatabase &d, const QString &table) {
    db::exec(d, QStringLiteral("update %1 set data=0 where data is null and hospital in (select id from metadata)")
                    .arg(table));
    return db::scalar(d, QStringLiteral("select sum(data) from %1 where condition data_rows").arg(table)).toDouble();
}
