#pragma once
// An empty year for tests that build their own content instead of the sample: the main database (and the values
// database) made from the schema in a temporary folder and opened as "dbmain" (and "dbdat"), shared() pointed at the
// year, and helpers that add forms, tables, institutions and values. Closes the databases and clears the shared state
// when it goes.
#include "engine/Schema.h"
#include "support/TestWork.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

struct YearOptions {
    int year = 2024;
    // The configuration's layout (<folder>/<year>/orvmain.mdb, shared().ConfigPath
    // set) or both files straight in the temporary folder.
    bool configLayout = true;
    bool values = true;   // data0.mdb beside orvmain.mdb
};

class YearBuilder {
public:
    explicit YearBuilder(const YearOptions &o = {}) : options(o) {
        EXPECT_TRUE(dir.isValid());
        SharedState &s = shared();
        testWork() = WorkContext{};
        s.Caches.clear();
        s.Year = o.year;
        if (o.configLayout) s.ConfigPath = dir.path() + QLatin1Char('/');
        yearFolder = o.configLayout ? s.yearFolder() : dir.path() + QLatin1Char('/');
        QDir().mkpath(yearFolder);
        schema::createMainDatabase(yearFolder + QStringLiteral("orvmain.mdb"));
        db::open(db::kMain, yearFolder + QStringLiteral("orvmain.mdb"));
        if (o.values) {
            schema::createValuesDatabase(yearFolder + QStringLiteral("data0.mdb"));
            db::open(db::kData, yearFolder + QStringLiteral("data0.mdb"));
        }
    }
    ~YearBuilder() {
        if (options.values) db::close(db::kData);
        db::close(db::kMain);
        SharedState &s = shared();
        testWork() = WorkContext{};
        s.Year = 0;
        if (options.configLayout) s.ConfigPath.clear();
        s.Caches.clear();
    }
    YearBuilder(const YearBuilder &) = delete;
    YearBuilder &operator=(const YearBuilder &) = delete;

    QSqlDatabase mainDb() const { return db::connection(db::kMain); }
    QSqlDatabase dataDb() const { return db::connection(db::kData); }

    qint64 addForm(const QString &name, const QString &decipher, int ind = 1, bool net = false) {
        db::exec(mainDb(), QStringLiteral("insert into forms (formname, decipher, ind, net) values (?, ?, ?, ?)"),
                 {name, decipher, ind, net});
        return db::lastInsertId(mainDb());
    }
    qint64 addTable(qint64 form, const QString &tablen, const QString &name, int colCount, int rowCount,
                    int fixCols, int fixRows, int scan = 0) {
        db::exec(mainDb(),
                 QStringLiteral("insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows, scan) "
                                "values (?, ?, ?, ?, ?, ?, ?, ?)"),
                 {form, tablen, name, colCount, rowCount, fixCols, fixRows, scan});
        return db::lastInsertId(mainDb());
    }
    qint64 addUnit(const QString &name, qint64 parent, qint64 type, bool rural, int ind) {
        db::exec(mainDb(),
                 QStringLiteral("insert into administration (unit, dependence, medicaltype, country, ind) "
                                "values (?, ?, ?, ?, ?)"),
                 {name, parent, type, rural ? 1 : 0, ind});
        return db::lastInsertId(mainDb());
    }
    // A value at stored column and row.
    void put(qint64 hospital, qint64 table, int column, int row, double value, int year,
             const QString &valueTable = QStringLiteral("data")) {
        db::exec(dataDb(),
                 QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                "values (?, ?, ?, ?, ?, ?)").arg(valueTable),
                 {hospital, value, year, table, column, row});
    }

    QTemporaryDir dir;
    YearOptions options;
    QString yearFolder;   // ends with '/'
};
