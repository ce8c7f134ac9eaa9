#pragma once
// The rows a statement gives, each as its fields joined: the one way tests compare stored rows before and after.
#include "platform/Database.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

inline QStringList queryRows(const QSqlDatabase &d, const QString &sql, const QVariantList &params = {},
                             const QString &separator = QStringLiteral("|")) {
    QStringList out;
    QSqlQuery q = db::exec(d, sql, params);
    while (q.next()) {
        QStringList f;
        for (int i = 0; i < q.record().count(); ++i) f << q.value(i).toString();
        out << f.join(separator);
    }
    return out;
}
