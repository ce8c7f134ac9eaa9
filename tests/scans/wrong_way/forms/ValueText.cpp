// A value table handed down as text and pasted into the statement.
void clearValues(const QString &valueTable, qint64 hospital) {
    db::exec(db::kData, QStringLiteral("delete from %1 where hospital=?").arg(valueTable), {hospital});
}

void clearReport(qint64 report) { clearValues(QStringLiteral("repdata"), report); }

// A value table read from the settings and handed on as text.
void clearChosen(const QSettings &settings, qint64 hospital) {
    const QString valueTable = settings.value("table").toString();
    clearValues(valueTable, hospital);
}
