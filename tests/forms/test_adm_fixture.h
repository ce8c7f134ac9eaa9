#pragma once
// A small year of one configuration in a temporary folder: main and values
// databases, three forms with tables, a territory with institutions and
// institution types, caches loaded. Used by the transfer, territory and
// forms-tree tests.
#include "core/Caches.h"
#include "core/Schema.h"
#include "core/SharedState.h"
#include "platform/Database.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace admtest {

struct YearFixture {
    QTemporaryDir dir;
    QString yearFolder;
    // Form ids, table idents, unit ids.
    qint64 f30 = 0, f12 = 0, f47 = 0;
    qint64 t30a = 0, t30b = 0, t12 = 0, t47 = 0;
    qint64 region = 0, crb = 0, poly = 0, city = 0, hospital = 0;
    qint64 typeGroup = 0, typeHosp = 0, typePoly = 0;

    YearFixture() {
        shared().resetWork();
        shared().ConfigPath = dir.path() + QStringLiteral("/");
        shared().Year = 2026;
        yearFolder = shared().yearFolder();
        QDir().mkpath(yearFolder);
        schema::createMainDatabase(yearFolder + QStringLiteral("orvmain.mdb"));
        schema::createValuesDatabase(yearFolder + QStringLiteral("data0.mdb"));
        db::open(db::kMain, yearFolder + QStringLiteral("orvmain.mdb"));
        db::open(db::kData, yearFolder + QStringLiteral("data0.mdb"));
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
    ~YearFixture() {
        db::close(db::kMain);
        db::close(db::kData);
        shared().resetWork();
    }

    QSqlDatabase mainDb() const { return db::connection(db::kMain); }
    QSqlDatabase dataDb() const { return db::connection(db::kData); }

    qint64 form(const QString &name, const QString &decipher, int ind, bool net) {
        db::exec(mainDb(), QStringLiteral("insert into forms (formname, decipher, ind, net) values (?,?,?,?)"),
                 {name, decipher, ind, net});
        return db::lastInsertId(mainDb());
    }
    qint64 table(qint64 formId, const QString &tablen, const QString &name, int cols, int rows, int fixcols,
                 int fixrows) {
        db::exec(mainDb(),
                 QStringLiteral("insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows) "
                                "values (?,?,?,?,?,?,?)"),
                 {formId, tablen, name, cols, rows, fixcols, fixrows});
        return db::lastInsertId(mainDb());
    }
    qint64 medType(qint64 parent, const QString &name, int ind) {
        db::exec(mainDb(), QStringLiteral("insert into medicaltypes (parent, type, ind) values (?,?,?)"),
                 {parent, name, ind});
        return db::lastInsertId(mainDb());
    }
    qint64 unit(const QString &name, qint64 parent, qint64 type, int ind) {
        db::exec(mainDb(),
                 QStringLiteral("insert into administration (unit, dependence, medicaltype, country, ind) "
                                "values (?,?,?,0,?)"),
                 {name, parent, type, ind});
        return db::lastInsertId(mainDb());
    }
    void assign(qint64 type, qint64 formId) {
        db::exec(mainDb(), QStringLiteral("insert into med_type_forms values (?,?)"), {type, formId});
    }
    void value(qint64 hosp, qint64 ident, int column, int row, double v, int year = 2026,
               const QString &table = QStringLiteral("data")) {
        db::exec(dataDb(), QStringLiteral("insert into %1 values (?,?,?,?,?,?)").arg(table),
                 {hosp, v, year, ident, column, row});
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
