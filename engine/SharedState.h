#pragma once
// The open configuration and year, the work modes the main window sets for
// the windows it opens, and the lookup caches of the open year. One
// process-wide object, reached through shared(); a rule run copies what it
// needs into its own context (RuleRunContext) and keeps its rules, errors
// and held table to itself.
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

    // Lookup caches of the open year.
    YearCaches Caches;
};

SharedState &shared();
