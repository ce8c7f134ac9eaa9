#pragma once
// The work state that the windows and the engine share while a form is
// entered, controlled or summed, and the lookup caches of the open year.
// One process-wide object, reached through shared(); windows and tests set it.
#include "engine/StringList.h"
#include "engine/ValueMatrix.h"

#include <QList>
#include <QString>
#include <array>

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

    // Work modes.
    QString ReportMode;          // "Input", "Svod", "Net", "Terrain", "Types", "Single"
    bool NetMode = false;
    QString DataTableName;       // "Data", "RepData", "Repdata", "data" or empty
    qint64 CurrentInstitution = 0;
    QString IncludeList;         // ids joined by ",", no trailing comma
    QString GroupLoadForms;

    // Parameters of the next table window.
    qint64 TableFormId = 0;
    qint64 TableIdent = 0;
    QString TableNumber;
    QString TableFormName;
    // Selection of the forms tree.
    qint64 SelectedFormId = 0;
    QString SelectedFormName;

    // Lookup caches of the open year.
    StringList FormsList;        // "ФОРМА - decipher", object = form id
    QStringList NetFormsList;
    StringList TablesList;       // "ФОРМА*Т(n) - name"
    QList<std::array<int, 9>> TablesArray;  // [i][1..8]: ident, colcount, rowcount, fixcols, fixrows, floattype, scan, counter
    QStringList StructList;
    QList<qint64> StructIds;
    QList<qint64> StructParents;
    QList<int> StructNodeIndexes;
    int StructCount = 0;
    QStringList TreeList;
    QList<qint64> TreeIdents;
    QList<qint64> TreeDepends;

    // Empties the work state (not the configuration and caches).
    void resetWork();
};

SharedState &shared();
