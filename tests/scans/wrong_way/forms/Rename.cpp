// A structure edit that compares table numbers with letter case.
bool namesTable(const QString &tablen, const QString &number) { return tablen == number; }
