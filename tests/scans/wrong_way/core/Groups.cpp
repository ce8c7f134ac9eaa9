// A table and a column group found by hand in a formula view.
qsizetype table(const QString &up) { return up.indexOf(QStringLiteral("Т(")); }
qsizetype columnGroup(const QString &up) { return up.indexOf(QStringLiteral("ГР[")); }
