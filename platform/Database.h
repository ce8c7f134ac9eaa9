#pragma once
// Database layer: named SQLite connections in place of the aliases "dbmain"
// (main database of the year) and "dbdat" (values database of the current
// level), extra connections for other files, statements with bound values.
//
// Every connection gets a Unicode-aware upper(), lower() and like() and the
// collation UNOCASE, so Cyrillic names match without regard to letter case.
#include "platform/Errors.h"
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <functional>
#include <stdexcept>

namespace db {

inline const QString kMain = QStringLiteral("dbmain");
inline const QString kData = QStringLiteral("dbdat");

// A failed statement or connection. The message is ready to show to the user.
class Error : public AppError {
public:
    using AppError::AppError;
};

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

// Runs one statement with positional (?) parameters; throws db::Error.
QSqlQuery exec(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {});
QSqlQuery exec(const QString &connectionName, const QString &sql, const QVariantList &params = {});
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
QStringList columnNames(const QSqlDatabase &db, const QString &table);

// Copies a database file into target (overwriting) through SQLite itself, so
// an open source file is copied consistently. Throws db::Error.
void copyDatabase(const QString &sourceFile, const QString &targetFile);

// Attaches another database file to a connection under an alias (for
// statements that name another file); detach when done.
void attach(const QSqlDatabase &db, const QString &file, const QString &alias);
void detach(const QSqlDatabase &db, const QString &alias);

// Registers the Unicode functions and collation on an open connection.
void registerUnicode(const QSqlDatabase &db);

// Comma list of integers for "in (...)" built from numbers only; never empty:
// an empty list gives "NULL", which matches nothing.
QString inList(const QList<qint64> &ids);
QString inList(const QList<int> &ids);

} // namespace db
