#pragma once
// Value transfer files: one stored cell per line, six double-quoted fields
// joined by commas (value, year, form, tablen, column, row), code page 1251,
// CR LF. ".orw"/".rpd" carry the form's name, ".orv"/".rps" its id.
//
// Inside a field a double quote is written doubled (platform/QuotedFields).
//
// Every load reads and checks the whole file first and then replaces the
// target scope in one transaction. One policy for every reader: a malformed
// line (also a value that is nan, inf or overflows), one cell given twice, a
// file of another year or of an unknown kind, and a file with no line for the
// target change nothing and say why (db::Error). Lines naming a cell outside
// the table's value cells are skipped and counted; the table number of a line
// must match the catalogue exactly.
#include "engine/ImportPolicy.h"
#include "engine/UnitTree.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>

namespace transfer {

enum class FileKind { Unknown, ById, ByName };

// Kind by the file's extension, without regard to case: "orv" and "rps" hold
// form ids, "orw" and "rpd" form names; anything else is Unknown.
FileKind kindOfFile(const QString &path);

struct Record {
    double value = 0;
    int year = 0;
    QString form;    // form name or form id, by file kind
    QString tablen;  // with its parentheses
    int column = 0;  // stored numbering
    int row = 0;
    int line = 0;    // line of the file, from 1 (0 when not read from a file)
};

// One line of a file.
QString formatRecord(const QString &data, const QString &year, const QString &form, const QString &tablen,
                     int column, int row);
// Splits a line into its six fields. False with a reason when the line is not
// six quoted fields, the value is not a number or column/row are not integers.
bool parseRecord(const QString &line, Record &out, QString *why = nullptr);

// Reads and checks a whole file: its kind, every line. Blank lines are
// ignored. Throws db::Error naming the file and the first bad line.
struct ParsedFile {
    FileKind kind = FileKind::Unknown;
    QList<Record> records;
};
ParsedFile readFile(const QString &path);

// Reads the files of a group as readFile does, on threads of their own, a
// few files ahead of the one the caller works on: the caller's own work (the
// database) and the reading overlap. take() hands the files over in order;
// the reads still running when it goes are waited for.
class ReadAhead {
public:
    // whileWaiting runs while a file taken is still being read (it may
    // throw, as "Отмена" does).
    ReadAhead(const QStringList &paths, int ahead, std::function<void()> whileWaiting = {});
    ~ReadAhead();
    ReadAhead(const ReadAhead &) = delete;
    ReadAhead &operator=(const ReadAhead &) = delete;
    // The file paths[i] as readFile reads it, or what readFile threw. Each
    // index at most once, rising; files passed over are dropped.
    ParsedFile take(qsizetype i);

private:
    struct Pending;
    QStringList m_paths;
    int m_ahead;
    qsizetype m_next = 0;   // the next file to start reading
    std::deque<std::unique_ptr<Pending>> m_running;
    std::function<void()> m_whileWaiting;
};

// ---- Writers ---------------------------------------------------------------

struct WriteResult {
    int written = 0;
    int skipped = 0;            // values whose table is no longer in the catalogue
    QList<qint64> skippedTables;
};

// Writes the values of one institution (table "data") or one summary report
// (table "repdata") of the year from the values database, name kind.
WriteResult writeValues(const QSqlDatabase &values, ValueTable valueTable, qint64 hospital, int year,
                        const QString &path);

// The institution's values of the open year from "dbdat" (table "data").
WriteResult SaveHosp(qint64 institutionId, const QString &path);

// True when an institution ("data") or a report ("repdata") has values of
// the year that a writer would put in a file (tables of the catalogue); a
// file without them would only be refused as empty by every load.
bool hasValuesToWrite(ValueTable valueTable, qint64 id, int year);
// The message an unload gives instead of writing such a file.
QString nothingToWriteMessage(const QString &name, int year);

// Longest name, in bytes, of a file the unloads make: a file name may hold
// 255 bytes, and the group unload's pending suffix ".part" and the temporary
// name a file is written under (".XXXXXX") must still fit after it.
constexpr int kMaxUnitFileNameBytes = 255 - 5 - 7;

// File name of one unit: unitFileStem(node text) + " - " + level + " - " + year + ".orw".
// The level is shortened when the whole name would pass kMaxUnitFileNameBytes.
QString unitFileName(const QString &nodeText, const QString &levelText, int year);
QString unitFileNameOfStem(const QString &stem, const QString &levelText, int year);
// Stems of sibling units (name, id) as the group unload writes them: a stem
// that another sibling's equals without regard to letter case is followed by
// " #" and the unit's id, which a copy of the same configuration reads back.
QStringList siblingStems(const QList<QPair<QString, qint64>> &siblings);
// The stem of a unit of the territory tree among its siblings.
QString unitStemOfNode(const UnitBranch &unit);
// The unit's name as it stands in file and folder names: the name itself, or,
// when it cannot stand there as it is (characters a file name cannot hold,
// " - ", leading or trailing blanks, more than 80 characters), a cleaned and
// shortened name followed by " ~" and a mark made of the whole name, which
// FindUnitIdByFileName maps back to the unit.
QString unitFileStem(const QString &name);
QString safeFileName(const QString &name);
// Where a dialog that loads a transfer file starts: the folder the unloads
// write into (created when missing, so that the dialog opens there and not
// in the program's working folder) and the proposed name as it can stand in
// a file name (none when empty).
QString loadDialogStart(const QString &folder, const QString &name = QString());
// safeFileName(base) + extension (".docx"), the base shortened so that the
// whole name fits kMaxUnitFileNameBytes; a shortened base is followed by
// " ~" and a mark made of the whole base, so two long bases stay apart.
QString fittedFileName(const QString &base, const QString &extension);

// Writes the subtree of a unit of the territory tree: a unit with children
// becomes a subfolder named by its stem, a leaf a file.
// progress gets each leaf's name before it is written (and may stop the run
// with Cancelled). The files replace the older ones only once all are
// written: a run that stops leaves every older file as it was.
struct TreeWriteResult {
    int files = 0;
    int skippedValues = 0;
    QStringList writtenFiles;
    // Institutions without values of the year get no file (a group load
    // would find it empty); an older file of theirs in place is removed.
    QStringList withoutValues;   // their names
    int removedOlder = 0;
};
// The closing message's lines on the institutions left without a file
// (empty when there are none).
QString withoutValuesNote(const TreeWriteResult &r);
// keepPainting (which must not throw) runs between the replacements, which
// on some file systems wait for the new file's data to reach the disk.
TreeWriteResult SaveHospTree(const UnitBranch &unit, const QString &folder, const QString &levelText, int year,
                             const std::function<void(const QString &)> &progress = {},
                             const std::function<void()> &keepPainting = {});

// ---- Readers ---------------------------------------------------------------

struct LoadResult {
    int lines = 0;       // lines in the file
    int inserted = 0;    // rows stored (a zero has no row)
    int skipped = 0;     // lines outside the scope (other form, table, year)
    int outside = 0;     // lines of the scope naming a cell outside the table's value cells
    importpolicy::UnknownTargets unknown;   // lines of forms and tables the configuration lacks
    importpolicy::UnknownTargets otherType; // lines of forms the institution's type does not have
    // Loads that replace a whole year (an institution, a report): forms that
    // held values and got no line of the file, and so were emptied.
    QStringList emptiedForms;
};
// The closing-message line of otherType.
QString otherTypeNote(const importpolicy::UnknownTargets &lines);

// Every load and clearing works on one institution of the administration
// table ("data") or one summary report ("repdata"); id 0 (the forms tree of
// institution types) or an id that is not there is refused (db::Error).
void requireTarget(ValueTable valueTable, qint64 id);

// The load's closing message: done + the count of skipped outside cells, if any.
QString loadedMessage(const QString &done, int outside);
// The same with the lines of unknown forms and tables named.
QString loadedMessage(const QString &done, const LoadResult &r);

// Institution name of a transfer file: the file name without folder, without
// its extension (when its last "." lies in the last four characters), cut
// before its first " - ".
QString unitNameOfFile(const QString &path);
// administration.id of the unit whose name or unitFileStem, followed by " - "
// or nothing, begins the file name (without extension; letters compared
// without regard to case); the longest such name wins; -1 when none.
qint64 FindUnitIdByFileName(const QString &path);
// The same for many files: the units' names are read once. Units whose names
// are equal without regard to letter case are told apart by the folders the
// file lies in (the district chain the group unload wrote) and by the mark
// the unload adds to the names that siblings share.
class UnitNames {
public:
    UnitNames();
    // id >= 0: the unit; -1: no unit's name begins the file name; -2: several
    // units fit and neither a mark nor the folders tell them apart (candidates).
    struct Match {
        qint64 id = -1;
        QList<qint64> candidates;
        QString level;   // the level the name gives after the unit ("1 квартал"); empty when none
    };
    Match match(const QString &path) const;
    qint64 idOfFile(const QString &path) const;
    // "Район / Участок / ФАП": the unit with its parents, for messages.
    QString pathOf(qint64 id) const;

private:
    struct Unit {
        qint64 id = 0;
        qint64 parent = 0;
        QString name;
        QString raw;        // as stored
        QStringList keys;   // upper-case name, stem and marked stem
    };
    struct Key {
        QString upper;
        qint64 id;
    };
    QHash<qint64, Unit> m_units;
    QList<Key> m_keys;   // in the order of the units' ids
    QHash<QChar, QList<qsizetype>> m_keysByFirst;   // indexes into m_keys by the key's first letter
};

// The question a one-institution load asks before it replaces target's
// values from path, when the file's name names another institution of the
// configuration; empty when the name names target, nobody or is not a unit's.
QString otherUnitQuestion(const UnitNames &units, qint64 target, const QString &path);
// The question a load asks when the level a file's name gives differs from
// the open level (a file name shortened to 255 bytes gives the start of it);
// empty when every file fits.
QString levelQuestion(const UnitNames &units, const QStringList &files, const QString &openLevel);

// How a load writes the file's values once every line is checked: in a
// transaction of its own (a savepoint of a running one), or, for a group of
// files in one transaction, straight into the running transaction: a write
// that fails there throws WriteFailed, and the caller rolls the whole
// transaction back.
enum class Writing { OwnTransaction, IntoRunning };
class WriteFailed : public db::Error {
public:
    using db::Error::Error;
};

// the form's tables in valueTable (Data or RepData) of "dbdat".
// the form's tables in valueTable ("data" or "repdata") of "dbdat".
LoadResult loadForm(qint64 hospital, const QString &path, ValueTable valueTable, qint64 formId,
                    const QString &formName);

// Forms tree, one table of an institution from a group of files (range checked).
LoadResult LoadTableFromFile(qint64 hospital, const QString &path, qint64 tableIdent,
                             Writing writing = Writing::OwnTransaction);
LoadResult LoadTableFromFile(qint64 hospital, const QString &path, const ParsedFile &file, qint64 tableIdent,
                             Writing writing);

// Table window, the shown table of an institution or report.
LoadResult loadTable(qint64 hospital, const QString &path, ValueTable valueTable, qint64 formId,
                     const QString &formName, qint64 tableIdent, const QString &tableNumber);

// Administrative structure: the whole institution, or only the tables of the
// chosen forms (groupLoadForms, names joined by ","; empty = every form).
// clearChosenOnly: delete only the chosen forms' values first instead of all
// the institution's values of the year.
LoadResult LoadUnitInfo(qint64 hospital, const QString &path, const QString &groupLoadForms,
                        bool clearChosenOnly, const std::function<void(int, int)> &lineProgress = {},
                        Writing writing = Writing::OwnTransaction);
// The same with the file already read (readFile, ReadAhead). With
// knownEmptied, what formsEmptiedByUnitLoad answered for the same file just
// before, the forms it empties are not looked for again.
LoadResult LoadUnitInfo(qint64 hospital, const QString &path, const ParsedFile &file, const QString &groupLoadForms,
                        bool clearChosenOnly, const std::function<void(int, int)> &lineProgress, Writing writing,
                        const QStringList *knownEmptied = nullptr);

// Summary reports: replaces the report's "repdata" values of the year.
LoadResult loadReport(qint64 reportId, const QString &path);

// What LoadUnitInfo and loadReport would empty (LoadResult::emptiedForms),
// with the file checked as they check it (db::Error) and nothing written.
QStringList formsEmptiedByUnitLoad(qint64 hospital, const QString &path, const QString &groupLoadForms,
                                   bool clearChosenOnly);
QStringList formsEmptiedByUnitLoad(qint64 hospital, const QString &path, const ParsedFile &file,
                                   const QString &groupLoadForms, bool clearChosenOnly);
QStringList formsEmptiedByReportLoad(qint64 reportId, const QString &path);

// The forms a load empties, per institution or report, for the question
// before it and the closing message; both empty when nothing is emptied.
struct Emptied {
    QString target;       // institution or report name
    QStringList forms;
};
QString emptiedFormsQuestion(const QList<Emptied> &emptied, int year);
QString emptiedFormsNote(const QList<Emptied> &emptied);
// Summary reports: writes the report's "repdata" values of the open year.
WriteResult saveReport(qint64 reportId, const QString &path);

} // namespace transfer
