#pragma once
// Summation of sub-report levels: the institutions' values of several source
// levels (values databases data<N>.mdb of the year folder) are added cell by
// cell and written into a receiver level, replacing the receiver's values of
// those institutions for the year. Positions listed in the non-summable
// positions file are not added: the receiver takes them from one chosen
// source only.
#include "engine/ProgressSink.h"

#include <QHash>
#include <functional>
#include <QList>
#include <QSet>
#include <QString>

namespace merge {

struct Level {
    qint64 id = 0;
    QString name;
};
// Rows of subreps in id order (the annual level is no row of it).
QList<Level> subReportLevels();
// Values database of a level in the open year: <ConfigPath><year>/data<id>.mdb.
QString levelFile(qint64 levelId);
// "Несуммируемые позиции.txt" in the program folder.
QString nonSummableFile();

// Non-summable positions of the catalogue's tables.
class ExclList {
public:
    struct Entry {
        bool columnsListed = false, rowsListed = false;
        QSet<int> columns;    // column numbers as in references (stored column - 1)
        QSet<int> rows;       // row numbers as in references (stored row - fixrows - 1)
        // Every position of the table: neither columns nor rows listed.
        bool whole() const { return !columnsListed && !rowsListed; }
    };

    // Reads the file (code page 1251); a missing file leaves every position
    // summable. Each line: form name, table number, one column, row numbers,
    // separated by ","; later fields may be missing. A line with only a form
    // names every table of it, a line without column and rows a whole table.
    // Form names and table numbers are compared by text::sameName. A second
    // line of a table merges into its entry, columns and rows alike: an empty
    // field empties the entry's list (the whole axis), numbers are added to
    // a list that holds some and dropped when it is empty.
    void load(const QString &path);
    // False when the line names no table of the catalogue (an empty line
    // names nothing and is no fault: true).
    bool addLine(const QString &line);
    void clear() {
        m_entries.clear();
        m_unmatched.clear();
    }
    // "строка 3: Ф99,(1000),5": the lines of the file load read that name no
    // table, for the window to name them.
    const QStringList &unmatched() const { return m_unmatched; }

    bool isEmpty() const { return m_entries.isEmpty(); }
    bool contains(qint64 ident) const { return m_entries.contains(ident); }
    const Entry entry(qint64 ident) const { return m_entries.value(ident); }
    // False for a non-summable position of a table (stored numbering).
    bool summable(qint64 ident, int storedColumn, int storedRow, int fixrows) const;

private:
    QHash<qint64, Entry> m_entries;
    QStringList m_unmatched;
};

struct Request {
    QList<qint64> sources;          // source level ids
    qint64 receiver = 0;            // receiver level id (0: "Годовой")
    qint64 fixedSource = 0;         // source whose values fill the non-summable positions
    QList<qint64> institutions;     // empty: every institution
    int year = 0;
};

struct Result {
    int institutions = 0;
    int cells = 0;
    int outside = 0;   // source values outside their table's cells (left out)
};

// Every institution (no territories) in list order.
QList<qint64> allInstitutions();

// True when the receiver level already holds values of the year for the
// request's institutions: the run would replace them.
bool receiverHoldsValues(const Request &request);

// Runs the summation one institution after another in id order (the source
// levels read ahead of the writer, each on its own connection) in one
// transaction of the receiver: a failure, or "Отмена" on the progress
// (Cancelled), changes nothing. The gauge counts institutions. Throws
// db::Error when a level's file is missing, when the receiver is one of the
// sources or on a database error.
// What the window's two progress images show, measured the way the window
// keeps its lists: the ids joined by one separator, each taken from the
// front; total is the length of the whole text, remaining the length of what
// is left once the item is taken.
struct ListCount {
    int total = 0;
    int remaining = 0;
    bool operator==(const ListCount &) const = default;
};
// The counts of the items of a list in their order.
QList<ListCount> listCounts(const QList<qint64> &ids);
// Told at the start of each institution (its name; the window's upper image)
// and before each of its tables is written (the lower image).
struct ImageProgress {
    std::function<void(ListCount, const QString &name)> institution;
    std::function<void(ListCount)> table;
};

Result run(const Request &request, const ExclList &excl, ProgressSink &progress = noProgress(),
           const ImageProgress &images = {});

} // namespace merge
