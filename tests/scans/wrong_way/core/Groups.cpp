// A column group found by hand in a formula view.
qsizetype columnGroup(const QString &up) { return up.indexOf(QStringLiteral("ГР[")); }
