#pragma once
// Database layer: named SQLite connections in place of the aliases "dbmain"
// (main database of the year) and "dbdat" (values database of the current
// level), extra connections for other files, statements with bound values.
//
// Every connection gets a Unicode-aware upper(), lower() and like() and the
// collation UNOCASE, so Cyrillic names match without regard to letter case,
// and the collation NAMES: the order of names of the lists (text::compareNames).
#include "platform/Errors.h"
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <atomic>
#include <functional>
#include <thread>
#include <vector>
#include <stdexcept>

namespace db {

inline const QString kMain = QStringLiteral("dbmain");
inline const QString kData = QStringLiteral("dbdat");

// A failed statement or connection. The message is ready to show to the user.
// A failed statement also carries the bare reason (errorReason), for a
// caller that tells the user what its whole job did instead of naming the
// step that failed.
class Error : public AppError {
public:
    using AppError::AppError;
    Error(const QString &message, const QString &reason) : AppError(message), m_reason(reason) {}
    // The reason alone; the message when there is none.
    QString reason() const { return m_reason.isEmpty() ? message() : m_reason; }

private:
    QString m_reason;
};

// Why a statement or connection failed, in Russian (from SQLite's result
// code; neither the driver's English text nor the statement).
QString errorReason(const QSqlError &e);
// Same, asking the connection for the code when the driver passed none.
QString errorReason(const QSqlDatabase &db, const QSqlError &e);
// The one translation of SQLite's result codes (what went wrong and what to
// do); sqliteCode -1 when unknown, driverText SQLite's own text.
QString failureReason(int sqliteCode, const QString &driverText = QString());
// A failed statement as the user is told it: what could not be done, the
// file and why (for statements prepared outside this layer).
Error statementFailure(const QSqlDatabase &db, const QString &sql, const QSqlError &e);

enum class OpenMode { ReadWrite, ReadOnly, Create };

// Opens (or re-opens on another file) the named connection. ReadWrite and
// ReadOnly require the file to exist; Create makes an empty database file.
// Throws db::Error with a Russian message on failure; the connection is then
// left closed.
QSqlDatabase open(const QString &name, const QString &file, OpenMode mode = OpenMode::ReadWrite);
// Same, reporting failure by the result instead of an exception.
bool tryOpen(const QString &name, const QString &file, OpenMode mode, QString *error);
void close(const QString &name);
bool isOpen(const QString &name);
QSqlDatabase connection(const QString &name);   // throws when the name is unknown or closed
QString fileOf(const QString &name);            // file of an open connection, empty when closed
// A fresh unique connection name with the given prefix, for short-lived connections.
QString uniqueName(const QString &prefix);

// Closes a short-lived connection when it goes out of scope.
class ScopedConnection {
public:
    ScopedConnection(const QString &file, OpenMode mode, const QString &prefix = QStringLiteral("tmp"));
    // Waits for a locked file, while it opens, only while keepWaiting() answers
    // true (as BusyWait does for its statements).
    ScopedConnection(const QString &file, OpenMode mode, const QString &prefix,
                     const std::function<bool()> &keepWaiting);
    ~ScopedConnection();
    ScopedConnection(const ScopedConnection &) = delete;
    ScopedConnection &operator=(const ScopedConnection &) = delete;
    QSqlDatabase db() const;
    const QString &name() const { return m_name; }
private:
    QString m_name;
};

// Quotes an identifier for SQL: "table", "column", "row", ...
QString quoteId(const QString &identifier);
// A text matched literally by "like ? escape '\\'": its "%", "_" and "\\"
// lose their pattern meaning.
QString likeLiteral(const QString &text);
// A stored yes/no value as every reader takes it: empty or NULL is no;
// "true", "yes", "да" are yes and "false", "no", "нет" no, in any letter
// case; any other text is yes when it is a number other than 0.
bool storedYes(const QVariant &value);

// Runs one statement with positional (?) parameters; throws db::Error.
QSqlQuery exec(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {});
QSqlQuery exec(const QString &connectionName, const QString &sql, const QVariantList &params = {});
// Runs a statement that writes stored rows named by their key, such as the
// row a window shows. One that changed no row found none: the row was deleted
// behind the window. Then throws Error(gone), so that nothing is shown as
// saved and a transaction around it takes back what it did.
QSqlQuery execRow(const QSqlDatabase &db, const QString &sql, const QVariantList &params, const QString &gone);
// Runs the update; when it changed no row, the insert instead (a record kept
// per place, written whether or not it was there). True when it inserted.
bool updateOrInsert(const QSqlDatabase &db, const QString &update, const QVariantList &updateParams,
                    const QString &insert, const QVariantList &insertParams);
// Throws Error(gone) unless the query finds a row: a row a write depends on,
// such as the parent of a row it inserts.
void requireRow(const QSqlDatabase &db, const QString &sql, const QVariantList &params, const QString &gone);
// First column of the first row, or an invalid QVariant when there is no row.
QVariant scalar(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {});
// All rows of the first column.
QVariantList column(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {});
// Id of the row the last insert of this connection made.
qint64 lastInsertId(const QSqlDatabase &db);

// Runs work inside one transaction: commits when it returns, rolls back and
// rethrows when it throws. Called inside another transaction of the same
// connection, the work joins that one (all or nothing together).
void transaction(const QSqlDatabase &db, const std::function<void()> &work);

bool tableExists(const QSqlDatabase &db, const QString &table);

// Copies a database file into target (overwriting) through SQLite itself, so
// an open source file is copied consistently. Throws db::Error.
void copyDatabase(const QString &sourceFile, const QString &targetFile);

// Attaches another database file to a connection under an alias (for
// statements that name another file); detach when done.
void attach(const QSqlDatabase &db, const QString &file, const QString &alias);
void detach(const QSqlDatabase &db, const QString &alias);

// Registers the Unicode functions and collation on an open connection.
void registerUnicode(const QSqlDatabase &db);
// Long reads and writes of value rows straight through the sqlite3 API,
// where a QVariant per field would cost more than the database work.
// readNumbers hands the first `columns` fields of each row to row() as
// numbers; throws Error.
void readNumbers(const QSqlDatabase &db, const QString &sql, const QVariantList &params, int columns,
                 const std::function<void(const double *fields)> &row);
// readRows hands each row to row(), which takes its fields as texts (a null
// QString for NULL) or whole numbers, each converted only when asked for;
// throws Error.
class ReadRow {
public:
    QString text(int column) const;
    qint64 integer(int column) const;

private:
    friend void readRows(const QSqlDatabase &, const QString &, const QVariantList &,
                         const std::function<void(const ReadRow &)> &);
    explicit ReadRow(void *statement) : m_statement(statement) {}
    void *m_statement;
};
void readRows(const QSqlDatabase &db, const QString &sql, const QVariantList &params,
              const std::function<void(const ReadRow &row)> &row);
// The name of a table the value-row readers and writers below work on,
// checked once: ASCII letters, digits and "_" (not first), an attached
// file's table written "alias.table". Made only by TableName::checked, so
// that these statements take no unchecked text; the engine makes it of its
// ValueTable alone (engine/TableValues.h), its only caller.
class TableName {
public:
    // Throws Error for any other text ("data; drop table units", "", a
    // quote, a blank, a letter beyond ASCII).
    static TableName checked(const QString &name);
    // For SQL, each part quoted: "data", "src0"."data".
    const QString &sql() const { return m_sql; }

private:
    explicit TableName(QString sql) : m_sql(std::move(sql)) {}
    QString m_sql;
};

// The rows of one institution and year of a values table (`table` may name
// an attached file's table: "src0.data"), `fields` a select list of numbers.
// Its rows usually lie together (a load writes them at once): then they are
// read as one stretch of the table instead of one look-up per row through
// the index. The rows come in the order they lie in the table.
void readInstitutionRows(const QSqlDatabase &db, const TableName &table, qint64 hospital, int year,
                         const QString &fields, int columns, const std::function<void(const double *fields)> &row);
// Inserts rows (hospital, data, year, table, column, row) into a values table.
class ValueRowInsert {
public:
    ValueRowInsert(const QSqlDatabase &db, const TableName &table);
    ~ValueRowInsert();
    ValueRowInsert(const ValueRowInsert &) = delete;
    ValueRowInsert &operator=(const ValueRowInsert &) = delete;
    void add(qint64 hospital, double data, int year, qint64 table, int column, int row);

private:
    void *m_handle;
    void *m_statement = nullptr;
};

// Inserts rows (hospital, data, year, table, column, row) into a values table
// many to a statement: the rows of one statement go through the same cursors,
// so rows that follow one another in an index's order are added at its end
// without a search from its root. Rows wait in memory until the batch is
// full or flush() (which must follow the last add: rows still waiting when
// the object goes are dropped).
class ValueRowBatch {
public:
    ValueRowBatch(const QSqlDatabase &db, const TableName &table, int rowsPerStatement = 256);
    ~ValueRowBatch();
    ValueRowBatch(const ValueRowBatch &) = delete;
    ValueRowBatch &operator=(const ValueRowBatch &) = delete;
    void add(qint64 hospital, double data, int year, qint64 table, int column, int row);
    void flush();

private:
    struct Row {
        qint64 hospital;
        double data;
        int year;
        qint64 table;
        int column, row;
    };
    void write(void *statement, int rows);
    void *m_handle;
    void *m_full = nullptr;
    ValueRowInsert m_single;
    std::vector<Row> m_rows;
    int m_size;
};

// While it lives, a long run of writes on the connection keeps more pages in
// memory (8 MB) and, for a run of many savepoints, its temporary files
// (their journals) in memory too; the connection's own settings come back at
// its end. Sorts of a whole table want temporary files on disk. Not more
// pages: once they are full, the journal of all of them is synced to disk in
// one step of a statement, where the window cannot paint (at 32 MB such a
// step took 70 ms, and over 100 ms on a slower disk).
class BulkWork {
public:
    enum class Temp { OnDisk, InMemory };
    explicit BulkWork(const QSqlDatabase &db, Temp temp = Temp::OnDisk);
    ~BulkWork();
    BulkWork(const BulkWork &) = delete;
    BulkWork &operator=(const BulkWork &) = delete;

private:
    QSqlDatabase m_db;
    QVariant m_cacheSize, m_tempStore;
};

// While it lives, the statements of the connection call poll every few
// thousand steps; poll returning false interrupts the statement, which then
// fails (its transaction rolls back). poll must not throw.
//
// While it lives, the end of the connection's outermost transaction
// (db::transaction) runs aside as well: the commit, which spends its time
// writing pages where no statement step polls, and the rollback. poll keeps
// being called meanwhile; during the commit its false interrupts it when the
// commit has not begun to write (the work is rolled back and Cancelled
// thrown), and a rollback runs to its end whatever it answers.
class StatementPoll {
public:
    StatementPoll(const QSqlDatabase &db, std::function<bool()> poll);
    ~StatementPoll();
    StatementPoll(const StatementPoll &) = delete;
    StatementPoll &operator=(const StatementPoll &) = delete;
    // Runs a statement without parameters that spends long inside one step
    // (emptying a table, dropping an index, the sort of an index build),
    // where poll would not be called, on a thread of its own, and calls poll
    // on this thread meanwhile, also after it answered false; false
    // interrupts the statement, which then throws Cancelled. Nothing else may
    // use the connection until it returns. Throws Error when it fails.
    void execAside(const QString &sql);

    // For db::transaction: ends the transaction aside (see above).
    void commitAside();
    void rollbackAside();

    // For the statements' progress handler: false interrupts the statement.
    // A statement that writes is interrupted only when it goes on past
    // kWriteGraceMs after poll first answered false (an interrupted write
    // rolls the transaction back inside its step, where nothing paints).
    bool keepStepping();
    static constexpr int kWriteGraceMs = 150;

private:
    struct Outcome {
        int rc = 0;
        QString why;
        bool interrupted = false;
    };
    Outcome runAside(const QByteArray &sql, bool interruptible);

    QSqlDatabase m_db;
    std::function<bool()> m_poll;
    std::atomic<bool> m_stopWaiting{false};   // a wait for a locked file ends at once
    std::thread::id m_owner = std::this_thread::get_id();
    QElapsedTimer m_refusedSince;   // poll answered false while a statement wrote
};

// While it lives, a statement of the connection that finds its file locked
// waits for it (up to the busy timeout of five seconds) only while
// keepWaiting() answers true, asking every hundredth of a second; false
// fails the statement at once as busy. keepWaiting runs on the statement's
// thread and must not throw.
class BusyWait {
public:
    BusyWait(const QSqlDatabase &db, std::function<bool()> keepWaiting);
    ~BusyWait();
    BusyWait(const BusyWait &) = delete;
    BusyWait &operator=(const BusyWait &) = delete;

private:
    QSqlDatabase m_db;
    std::function<bool()> m_keepWaiting;
};

// Comma list of integers for "in (...)" built from numbers only; never empty:
// an empty list gives "NULL", which matches nothing.
QString inList(const QList<qint64> &ids);
QString inList(const QList<int> &ids);

} // namespace db
