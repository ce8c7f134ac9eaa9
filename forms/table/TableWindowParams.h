#pragma once
// The table a data-entry window opens: the form and one of its tables. The
// opener fills it; the window keeps its own copy and moves it on when it steps
// to another table.
#include <QString>
#include <QtGlobal>

struct TableWindowParams {
    qint64 formId = 0;
    // 0 lets the window find the table by form and number; the window sets it
    // from the stored structure when the table is shown.
    qint64 tableIdent = 0;
    QString tableNumber;   // "(1000)"
    QString formName;      // "Ф30"
};
