#pragma once
// Control files: plain text in code page 1251, CR LF, one rule a line, seven
// double-quoted fields joined by commas (form name, table number, left side,
// relation, right side, cycle, comment); a double quote inside a field is
// written doubled (quoted::join / quoted::split). Lines that do not begin
// with a double quote are passed over (comments, the messages of a rejects
// file).
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace controls {

inline const QString kControlFileFilter = QStringLiteral("Файлы контролей (*.orv)");
inline const QString kRejectsFileName = QStringLiteral("Несогласованные контроли.orv");

struct ControlLine {
    QString formName, table, lft, reltion, rght, cycl, commnt;
};

// Cuts a rule line into its seven fields; nothing when the line does not
// begin with a double quote or does not hold exactly seven fields.
std::optional<ControlLine> ParseControlLine(const QString &line);
QString FormatControlLine(const ControlLine &line);

enum class LoadMode { Append = 0, Replace = 1 };

struct LoadResult {
    int inserted = 0;
    QStringList rejects;      // lines of the rejects file
    QString rejectsFile;      // written when rejects is not empty
    QString rejectsError;     // why the rejects file could not be written (the rules stay loaded)
};

// Loads a control file into int_control of mainDb. Each line is checked
// against the forms and tables of mainDb; lines that do not fit go to the
// rejects file beside the loaded one. dbError is told of every line whose
// insert failed (the line is set aside and the load goes on).
// A file that cannot be read, that holds no rule line, or of which not one
// line passes the checks, changes nothing (in either mode) and throws
// db::Error with the reason (and a hint when the text does not read as code
// page 1251). In replace mode the old rules are deleted only when at least
// one line is stored. The whole load is one transaction.
LoadResult LoadControlFile(const QSqlDatabase &mainDb, const QString &path, LoadMode mode,
                           const std::function<void(const QString &)> &dbError = {});

// ---- Writers ---------------------------------------------------------------
// Lines of the given rules, in the given order; keys without a row are
// passed over. Form names come from the forms cache (empty for 0).
QStringList ControlFileLinesForKeys(const QSqlDatabase &mainDb, const QList<qint64> &keys);
// Every rule.
QStringList ControlFileLinesAll(const QSqlDatabase &mainDb);
// The rules of a form: its own and every inter-form rule that names it
// (formName directly followed by "т" in either side, any letter case),
// ordered by table, left and right side.
QStringList ControlFileLinesForForm(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// Deletes the same rule set as ControlFileLinesForForm; returns the count.
int DeleteFormRules(const QSqlDatabase &mainDb, qint64 formId, const QString &formName);
// Writes the lines (overwriting); throws db::Error on failure.
void WriteControlFile(const QString &path, const QStringList &lines);

} // namespace controls
