#pragma once
// What the forms tree sets before it opens a table window, and the window shown with its table loaded.
#include "engine/SharedState.h"
#include "support/TestWork.h"
#include "engine/WorkContext.h"
#include "forms/table/TableWindow.h"

#include <QApplication>
#include <QString>
#include <memory>

// Input of an institution's values ("Data", no network) into one table; tableIdent 0 lets the window look the table up
// by form and number. Returns the table as the forms tree passes it to the window.
inline TableWindowParams aimTableWindow(qint64 institution, qint64 formId, const QString &formName,
                                        const QString &tableNumber, qint64 tableIdent = 0) {
    SharedState &s = shared();
    testWork().mode = ReportMode::Input;
    testWork().net = false;
    testWork().table = ValueTable::Data;
    testWork().institution = institution;
    return TableWindowParams{formId, tableIdent, tableNumber, formName};
}

inline std::unique_ptr<TVTable> showTableWindow(const TableWindowParams &table, FormNavigator *tables = nullptr) {
    auto w = std::make_unique<TVTable>(table, testWork(), nullptr, tables);
    w->show();
    QApplication::processEvents();
    return w;
}
