// A structure edit that compares table numbers with letter case, in code and in SQL.
bool namesTable(const QString &tablen, const QString &number) { return tablen == number; }
const char *kRules = "select * from int_control where formid=? and tble=?";
