#pragma once
// A small configuration made for engine tests: empty main and values
// databases in a temporary folder, opened as "dbmain" and "dbdat", with
// helpers to add forms, tables, institutions, values and rules.
#include "core/Caches.h"
#include "core/CellNumbering.h"
#include "core/Schema.h"
#include "core/SharedState.h"
#include "platform/Database.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

class EngineDb {
public:
    static constexpr int kYear = 2024;

    EngineDb() {
        EXPECT_TRUE(dir.isValid());
        const QString mainFile = dir.filePath(QStringLiteral("orvmain.mdb"));
        const QString dataFile = dir.filePath(QStringLiteral("data0.mdb"));
        schema::createMainDatabase(mainFile);
        schema::createValuesDatabase(dataFile);
        db::open(db::kMain, mainFile);
        db::open(db::kData, dataFile);
        SharedState &s = shared();
        s.resetWork();
        s.Year = kYear;
        s.ReportMode = QStringLiteral("Input");
        s.DataTableName = QStringLiteral("Data");
    }
    ~EngineDb() {
        db::close(db::kData);
        db::close(db::kMain);
        shared().resetWork();
        shared().Year = 0;
        shared().FormsList.clear();
        shared().TablesList.clear();
        shared().TablesArray.clear();
    }

    qint64 addForm(const QString &name) {
        QSqlDatabase d = db::connection(db::kMain);
        db::exec(d, QStringLiteral("insert into forms (formname, decipher, ind) values (?, ?, 1)"),
                 {name, QStringLiteral("Форма ") + name});
        return db::lastInsertId(d);
    }
    qint64 addTable(qint64 form, const QString &tablen, int colCount, int rowCount, int fixCols, int fixRows,
                    int scan = 0) {
        QSqlDatabase d = db::connection(db::kMain);
        db::exec(d,
                 QStringLiteral("insert into tables (form, tablen, name, colcount, rowcount, fixcols, fixrows, scan) "
                                "values (?, ?, ?, ?, ?, ?, ?, ?)"),
                 {form, tablen, QStringLiteral("Таблица"), colCount, rowCount, fixCols, fixRows, scan});
        return db::lastInsertId(d);
    }
    qint64 addInstitution(const QString &name, int type, bool rural, int ind) {
        QSqlDatabase d = db::connection(db::kMain);
        db::exec(d,
                 QStringLiteral("insert into administration (unit, dependence, medicaltype, country, ind) "
                                "values (?, 0, ?, ?, ?)"),
                 {name, type, rural ? 1 : 0, ind});
        return db::lastInsertId(d);
    }
    // A value at stored column and row.
    void put(qint64 hospital, qint64 table, int column, int row, double value,
             const QString &valueTable = QStringLiteral("data"), int year = kYear) {
        db::exec(db::kData,
                 QStringLiteral("insert into %1 (hospital, data, year, \"table\", \"column\", \"row\") "
                                "values (?, ?, ?, ?, ?, ?)").arg(valueTable),
                 {hospital, value, year, table, column, row});
    }
    // A value at reference column ("гр") and data row ("стр").
    void putRef(qint64 hospital, qint64 table, int fixRows, int refColumn, int refRow, double value) {
        put(hospital, table, cells::storedColumnOfRef(refColumn), cells::storedRowOfRef(refRow, fixRows), value);
    }
    void addCondition(qint64 tid, int row, int column, bool sum, const QString &formula, const QString &condition,
                      int koeff, bool rural, bool average, const QString &types) {
        db::exec(db::kMain,
                 QStringLiteral("insert into conditions values (?, ?, ?, ?, ?, ?, ?, ?, '', '', ?, ?)"),
                 {tid, row, column, sum ? 1 : 0, formula, condition, koeff, rural ? 1 : 0,
                  average ? QStringLiteral("True") : QStringLiteral("False"), types});
    }
    void reload() {
        caches::GetForms();
        caches::GetTables();
    }

    QTemporaryDir dir;
};
