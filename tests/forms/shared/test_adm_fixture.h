#pragma once
// A small year of one configuration: three forms with tables, a territory with institutions and institution types,
// caches loaded. Used by the transfer, territory and forms-tree tests.
#include "engine/Caches.h"
#include "support/YearBuilder.h"

#include <QSqlQuery>

namespace admtest {

struct YearFixture : YearBuilder {
    // Form ids, table idents, unit ids.
    qint64 f30 = 0, f12 = 0, f47 = 0;
    qint64 t30a = 0, t30b = 0, t12 = 0, t47 = 0;
    qint64 region = 0, crb = 0, poly = 0, city = 0, hospital = 0;
    qint64 typeGroup = 0, typeHosp = 0, typePoly = 0;

    YearFixture() : YearBuilder(YearOptions{2026}) {
        f30 = form(QStringLiteral("Ф30"), QStringLiteral("Сведения об учреждении"), 1, false);
        f12 = form(QStringLiteral("ф12"), QStringLiteral("Заболеваемость"), 2, false);
        f47 = form(QStringLiteral("Ф47"), QStringLiteral("Сеть"), 3, true);
        // colcount, rowcount, fixcols, fixrows: stored columns 3..6, rows 4..8.
        t30a = table(f30, QStringLiteral("(1000)"), QStringLiteral("Штаты"), 6, 8, 1, 2);
        t30b = table(f30, QStringLiteral("(2000)"), QStringLiteral("Койки"), 4, 5, 1, 1);
        t12 = table(f12, QStringLiteral("(1000)"), QStringLiteral("Дети"), 5, 5, 1, 1);
        t47 = table(f47, QStringLiteral("(1)"), QStringLiteral("Сеть"), 3, 3, 0, 0);
        typeGroup = medType(0, QStringLiteral("Больничные учреждения"), 0);
        typeHosp = medType(typeGroup, QStringLiteral("Больницы"), 0);
        typePoly = medType(0, QStringLiteral("Поликлиники"), 1);
        region = unit(QStringLiteral("Район"), 0, -1, 0);
        crb = unit(QStringLiteral("ЦРБ"), region, typeHosp, 0);
        poly = unit(QStringLiteral("Поликлиника №1"), region, typePoly, 1);
        city = unit(QStringLiteral("Город"), 0, -1, 1);
        hospital = unit(QStringLiteral("Больница"), city, typeHosp, 0);
        assign(typeHosp, f30);
        assign(typeHosp, f12);
        assign(typePoly, f12);
        caches::reloadAll();
    }

    qint64 form(const QString &name, const QString &decipher, int ind, bool net) {
        return addForm(name, decipher, ind, net);
    }
    qint64 table(qint64 formId, const QString &tablen, const QString &name, int cols, int rows, int fixcols,
                 int fixrows) {
        return addTable(formId, tablen, name, cols, rows, fixcols, fixrows);
    }
    qint64 medType(qint64 parent, const QString &name, int ind) {
        db::exec(mainDb(), QStringLiteral("insert into medicaltypes (parent, type, ind) values (?,?,?)"),
                 {parent, name, ind});
        return db::lastInsertId(mainDb());
    }
    qint64 unit(const QString &name, qint64 parent, qint64 type, int ind) {
        return addUnit(name, parent, type, false, ind);
    }
    void assign(qint64 type, qint64 formId) {
        db::exec(mainDb(), QStringLiteral("insert into med_type_forms values (?,?)"), {type, formId});
    }
    void value(qint64 hosp, qint64 ident, int column, int row, double v, int year = 2026,
               const QString &table = QStringLiteral("data")) {
        put(hosp, ident, column, row, v, year, table);
    }
    // "hospital|table|column|row=value" lines of a value table, sorted.
    QStringList values(const QString &table = QStringLiteral("data")) const {
        QStringList out;
        QSqlQuery q = db::exec(dataDb(), QStringLiteral("select hospital, \"table\", \"column\", \"row\", data, year "
                                                        "from %1 order by hospital, \"table\", \"column\", \"row\"")
                                             .arg(table));
        while (q.next())
            out.append(QStringLiteral("%1|%2|%3|%4=%5@%6")
                           .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                                q.value(3).toString(), q.value(4).toString(), q.value(5).toString()));
        return out;
    }
};

} // namespace admtest
