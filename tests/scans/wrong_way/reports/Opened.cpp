// A file error passed on in Qt's English.
QString why(QFile &f) { return f.errorString(); }
