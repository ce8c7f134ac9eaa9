#pragma once
// The open configuration and year, the sub-report level and the lookup
// caches of the open year: the one process-wide state, reached through
// shared(). The work of a window (mode, value table, institution) comes in
// its constructor as a WorkContext; a rule run keeps its own context, rules,
// errors and held table.
#include "engine/StringList.h"
#include "engine/WorkModes.h"
#include "engine/YearCaches.h"

#include <QList>
#include <QString>

struct SharedState {
    // Open configuration and year.
    QString ConfigName;
    QString ConfigPath;          // ends with '/'
    StringList ConfigNameList;
    int LastConfigIndex = -1;
    bool StartingUp = false;
    int Year = 0;                // the reporting year; 0 when none is open
    QString yearText() const { return QString::number(Year); }
    QString yearFolder() const { return ConfigPath + yearText() + QLatin1Char('/'); }
    // yearFolder() while a configuration and year are open, otherwise "".
    QString openYearFolder() const {
        return !ConfigPath.isEmpty() && Year > 0 ? yearFolder() : QString();
    }
    int SubReportId = 0;         // current sub-report level (0 = "Годовой")
    QString AppTitle;            // "<year> - <configuration> - <level>:", set by the main window

    // Names of the forms chosen for a group load of institution files,
    // joined by "," in capitals (empty: every form); kept between group loads.
    QString GroupLoadForms;

    // Lookup caches of the open year.
    YearCaches Caches;
};

SharedState &shared();
