// A cycle list cut out of its brackets by hand.
QString list(QString l) { if (l.startsWith(u'[')) l = l.mid(1, l.size() - 2); return l; }
