#pragma once
// Window helpers shared by the territory, institution-type and forms-tree
// windows: the application title in captions, the name of the institution
// shown and the report of institutions a group load could not find. The
// generic failure and layout helpers live in platform/Errors and
// widgets/WindowLayout.
#include "engine/WorkModes.h"
#include "platform/Dialogs.h"
#include "platform/Errors.h"
#include "widgets/WindowLayout.h"

#include <QString>
#include <QStringList>

class QWidget;

namespace winutil {

// The application title that captions start with: year, configuration and
// sub-report level ("2024 - Пример - Годовой:"), or the program's name while
// no year is open.
QString appTitle();

// A group load could not find the institutions of these files: one message
// per name, then the refused files in one error message.
void reportGroupLoad(QWidget *w, const QStringList &missingUnits, const QStringList &failures);
// Stored name of the institution or report whose values are shown: with the
// value table Data administration.unit of the institution, otherwise the
// summary report's name (reports.report of the institution).
QString storedUnitName(ValueTable table, qint64 institution);
// The main window's caption (the program's name while there is none).
QString mainWindowCaption();

// After the closing message of a group load: the list window shows the
// institutions not found (each with a TAB) under "Пропущенные ЛПУ", if any.
void showSkippedUnits(const QStringList &missingUnits);

} // namespace winutil
