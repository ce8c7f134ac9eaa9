#pragma once
// Loading control files (format and writers: engine/ControlFileLines). Lines
// that do not begin with a double quote are passed over (comments, the
// messages of a rejects file).
#include "engine/ControlFileLines.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace controls {

inline const QString kControlFileFilter = QStringLiteral("Файлы контролей (*.orv)");
inline const QString kRejectsFileName = QStringLiteral("Несогласованные контроли.orv");

using ctlfile::ControlLine;
using ctlfile::FormatControlLine;
using ctlfile::ParseControlLine;

enum class LoadMode { Append = 0, Replace = 1 };

struct LoadResult {
    int inserted = 0;
    int alreadyStored = 0;    // lines identical to a stored rule in every field, not stored again
    QStringList rejects;      // lines of the rejects file
    QString rejectsFile;      // written when rejects is not empty
    QString rejectsError;     // why the rejects file could not be written (the rules stay loaded)
};

// Loads a control file into int_control of mainDb. Each line is checked
// against the forms and tables of mainDb; lines that do not fit go to the
// rejects file beside the loaded one. dbError is told of every line whose
// insert failed (the line is set aside and the load goes on). A line
// identical to a stored rule in every field (form, table, sides, relation,
// cycle, comment; sides read without regard to letter case) is not stored
// again and is counted in alreadyStored; a file all of whose lines are
// stored already changes nothing and is no failure.
// A file that cannot be read, that holds no rule line, or of which not one
// line passes the checks, changes nothing (in either mode) and throws
// db::Error with the reason (and a hint when the text does not read as code
// page 1251). In replace mode the old rules are deleted only when at least
// one line is stored. The whole load is one transaction.
LoadResult LoadControlFile(const QSqlDatabase &mainDb, const QString &path, LoadMode mode,
                           const std::function<void(const QString &)> &dbError = {});

// ---- Writers (engine/ControlFileLines) -----------------------------------
using ctlfile::ControlFileLinesAll;
using ctlfile::ControlFileLinesForForm;
using ctlfile::ControlFileLinesForKeys;
using ctlfile::DeleteFormRules;
using ctlfile::WriteControlFile;

} // namespace controls
