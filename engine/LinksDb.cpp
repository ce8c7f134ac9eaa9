#include "engine/LinksDb.h"

#include "engine/SharedState.h"
#include "platform/Paths.h"

#include <QFileInfo>

namespace links {

QStringList tableStatements() {
    return {
        QStringLiteral("create table if not exists raz (a1 text, a2 text, r3 boolean default 0)"),
        QStringLiteral("create table if not exists kodif (a1 text, a2 text)"),
        QStringLiteral("create table if not exists forms (nf text, mf text)"),
        QStringLiteral("create table if not exists tables (msk text, orv text, inv boolean default 0)"),
        QStringLiteral("create table if not exists cols (mskcol text, orvcol integer)"),
        QStringLiteral("create table if not exists \"rows\" (mskrow text, orvrow integer)"),
        QStringLiteral("create index if not exists tables_msk on tables (msk)"),
        QStringLiteral("create index if not exists cols_mskcol on cols (mskcol)"),
        QStringLiteral("create index if not exists rows_mskrow on \"rows\" (mskrow)"),
    };
}

void createLinksDatabase(const QString &path) {
    const db::OpenMode mode = QFileInfo::exists(path) ? db::OpenMode::ReadWrite : db::OpenMode::Create;
    db::ScopedConnection conn(path, mode, QStringLiteral("links_create"));
    const QSqlDatabase d = conn.db();
    db::transaction(d, [&] {
        for (const QString &sql : tableStatements()) db::exec(d, sql);
    });
}

QString findLinksFile() {
    const SharedState &s = shared();
    if (!s.ConfigPath.isEmpty()) {
        const QString inYear = s.yearFolder() + kFileName;
        if (QFileInfo::exists(inYear)) return inYear;
    }
    return paths::programFolder() + kFileName;
}

std::unique_ptr<db::ScopedConnection> openLinks(const QString &path) {
    return std::make_unique<db::ScopedConnection>(path, db::OpenMode::ReadOnly, QStringLiteral("links"));
}

std::unique_ptr<db::ScopedConnection> openLinks() {
    return openLinks(findLinksFile());
}

QString prefixCondition(const QString &column) {
    // A range on the code, so that the code index serves the look-up.
    return QStringLiteral("(%1 >= ? and %1 < ?)").arg(db::quoteId(column));
}

QVariantList prefixParams(const QString &prefix) {
    return {prefix, prefix + QChar(0xFFFF)};
}

} // namespace links
