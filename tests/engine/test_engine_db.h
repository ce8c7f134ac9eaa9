#pragma once
// A small configuration made for engine tests: the empty year of YearBuilder with both files in one folder, with
// helpers named for the engine's terms and for rules.
#include "engine/Caches.h"
#include "support/TestWork.h"
#include "engine/CellNumbering.h"
#include "support/YearBuilder.h"

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

class EngineDb : public YearBuilder {
public:
    static constexpr int kYear = 2024;

    EngineDb() : YearBuilder(YearOptions{kYear, false}) {
        testWork().mode = ReportMode::Input;
        testWork().table = ValueTable::Data;
    }

    qint64 addForm(const QString &name) { return YearBuilder::addForm(name, QStringLiteral("Форма ") + name); }
    qint64 addTable(qint64 form, const QString &tablen, int colCount, int rowCount, int fixCols, int fixRows,
                    int scan = 0) {
        return YearBuilder::addTable(form, tablen, QStringLiteral("Таблица"), colCount, rowCount, fixCols, fixRows,
                                     scan);
    }
    qint64 addInstitution(const QString &name, int type, bool rural, int ind) {
        return addUnit(name, 0, type, rural, ind);
    }
    // A value at stored column and row.
    void put(qint64 hospital, qint64 table, int column, int row, double value,
             const QString &valueTable = QStringLiteral("data"), int year = kYear) {
        YearBuilder::put(hospital, table, column, row, value, year, valueTable);
    }
    // A value at reference column ("гр") and data row ("стр").
    void putRef(qint64 hospital, qint64 table, int fixRows, int refColumn, int refRow, double value) {
        put(hospital, table, cells::storedColumnOfRef(refColumn), cells::storedRowOfRef(refRow, fixRows), value);
    }
    void addCondition(qint64 tid, int row, int column, bool sum, const QString &formula, const QString &condition,
                      int koeff, bool rural, bool average, const QString &types) {
        db::exec(db::kMain, QStringLiteral("insert into conditions values (?, ?, ?, ?, ?, ?, ?, ?, '', '', ?, ?)"),
                 {tid, row, column, sum ? 1 : 0, formula, condition, koeff, rural ? 1 : 0,
                  average ? QStringLiteral("True") : QStringLiteral("False"), types});
    }
    void reload() {
        caches::GetForms();
        caches::GetTables();
    }
};
