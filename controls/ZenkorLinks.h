#pragma once
// The code-mapping database Links.mdb as the control-book import reads it:
// per book table (key: normalised form code + the book's table code, the key
// of Links.mdb's tables, rows and cols) the swap flag and the maps of book
// row and column numbers to the program's numbers.
#include "platform/Database.h"

#include <QHash>
#include <QString>
#include <memory>

namespace zenkor {

struct LinksTable {
    bool swapped = false;               // book rows are the program's columns
    QHash<QString, QString> rows;       // book number without leading zeros -> program number
    QHash<QString, QString> columns;
};

// Reads one table's maps on an open connection (a later row with the same
// number replaces an earlier one). Throws db::Error.
LinksTable readLinksTable(const QSqlDatabase &linksDb, const QString &key);

// Links.mdb during one import run: one read-only connection, each table read
// once, on first use.
class LinksIndex {
public:
    explicit LinksIndex(const QString &path);   // throws db::Error
    const LinksTable &table(const QString &key);
    QSqlDatabase connection() const { return m_conn->db(); }

private:
    std::unique_ptr<db::ScopedConnection> m_conn;
    QHash<QString, LinksTable> m_tables;
};

} // namespace zenkor
