#include "platform/QuotedFields.h"

namespace quoted {

QString join(const QStringList &fields) {
    QString out;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        if (i) out += u',';
        out += u'"';
        QString f = fields[i];
        out += f.replace(u'"', QStringLiteral("\"\""));
        out += u'"';
    }
    return out;
}

bool split(const QString &raw, QStringList &fields) {
    fields.clear();
    qsizetype n = raw.size();
    while (n > 0 && (raw[n - 1] == u' ' || raw[n - 1] == u'\t')) --n;
    if (n < 2 || raw[0] != u'"' || raw[n - 1] != u'"') return false;
    QString cur;
    qsizetype i = 1;
    while (i < n) {
        const QChar c = raw[i];
        if (c != u'"') {
            // The text up to the next quote in one piece.
            qsizetype q = raw.indexOf(u'"', i);
            if (q < 0 || q > n - 1) q = n - 1;
            cur += QStringView(raw).mid(i, q - i);
            i = q;
            continue;
        }
        if (i == n - 1) { // the closing quote of the line
            fields.append(cur);
            return true;
        }
        if (raw[i + 1] == u'"' && i + 1 < n - 1) { // a doubled quote inside the field
            cur += u'"';
            i += 2;
            continue;
        }
        if (raw[i + 1] == u',' && i + 2 < n && raw[i + 2] == u'"') { // end of field, next one opens
            fields.append(cur);
            cur.clear();
            i += 3;
            continue;
        }
        cur += c; // a lone quote of an older writer
        ++i;
    }
    fields.append(cur);
    return true;
}

} // namespace quoted
