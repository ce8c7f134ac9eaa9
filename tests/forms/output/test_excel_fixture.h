#pragma once
// The spreadsheet output tests' fixture: the sample year, the form Ф30 as a
// tree node and a way to add institutions. Used by the output tests and the
// forms-tree commands that make it.
#include "core/SampleConfig.h"
#include "forms/output/ExcelOutput.h"
#include "platform/Database.h"
#include "platform/office/ExcelWorkbook.h"
#include "support/WindowTestBase.h"

#include <QStringList>

struct ExcelOutputTest : InputWindowTest {

    excelout::FormNode f30() const {
        return {"Ф30 - Сведения", {{sample::ids::TableF30Staff, "(1000) - Штаты"}, {sample::ids::TableF30Visits, "(2000) - Посещения"}}};
    }
    qint64 addInstitution(const QString &name) {
        db::exec(db::connection(db::kMain),
                 "insert into administration (unit, dependence, medicaltype) values (?, ?, ?)",
                 {name, sample::ids::North, sample::ids::TypeHospital});
        return db::lastInsertId(db::connection(db::kMain));
    }
    static QStringList sheetNames(office::ExcelWorkbook &b) {
        QStringList out;
        for (int i = 1; i <= b.sheetCount(); ++i) out << b.sheet(i).name();
        return out;
    }
};
