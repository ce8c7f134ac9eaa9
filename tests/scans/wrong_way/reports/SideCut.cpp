// A side cut into its operands by hand, and with the control book's cutter.
bool isOperator(QChar c) { return c == u'(' || c == u')' || c == u'*' || c == u'+' || c == u'-' || c == u'/'; }
QStringList operands(const QString &side) { return SplitFormulaTerms(side); }
