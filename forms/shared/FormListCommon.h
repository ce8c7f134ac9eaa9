#pragma once
// What the territory, institution-type and forms-tree windows show, made
// without a window: the application title in captions, the name of the
// institution shown and what a group load tells at its end. The windows
// show it through the dialog seam.
#include "engine/WorkModes.h"

#include <QString>
#include <QStringList>

namespace winutil {

// The application title that captions start with: year, configuration and
// sub-report level ("2024 - Пример - Годовой:"), or the program's name while
// no year is open.
QString appTitle();

// What a group load tells at its end, in this order: one message per
// institution whose file found none, the refused files in one error message,
// the closing message, then the list window with the institutions not found
// (each with a TAB) under skippedHeader. An empty part is not shown.
struct GroupLoadReport {
    QStringList notFound;
    QString refused;
    QString closing;
    QStringList skipped;
    QString skippedHeader;
};
GroupLoadReport groupLoadReport(const QStringList &missingUnits, const QStringList &failures,
                                const QString &closing);

// Stored name of the institution or report whose values are shown: with the
// value table Data administration.unit of the institution, otherwise the
// summary report's name (reports.report of the institution).
QString storedUnitName(ValueTable table, qint64 institution);

} // namespace winutil
