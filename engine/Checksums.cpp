#include "engine/Checksums.h"
#include "engine/Lookups.h"
#include "engine/SharedState.h"
#include "platform/Database.h"

#include <QSqlQuery>
#include <cstring>

quint32 ChecksumStep(quint32 hash, double value) {
    const float f = float(value);
    quint32 bits = 0;
    std::memcpy(&bits, &f, sizeof bits);
    return hash ^ (hash << 5) ^ bits;
}

namespace {

// Steps the hash over the stored values of one table; returns how many there were.
int hashTable(quint32 &hash, ValueTable table, qint64 institution, qint64 ident) {
    QSqlQuery q = db::exec(db::kData,
                           QStringLiteral("select data from %1 where hospital=? and \"table\"=? and year=? "
                                          "order by \"row\", \"column\"").arg(ValueTableName(table)),
                           {institution, ident, shared().Year});
    int n = 0;
    while (q.next()) {
        hash = ChecksumStep(hash, q.value(0).toDouble());
        ++n;
    }
    return n;
}

} // namespace

quint32 TableDataChecksum(ValueTable table, qint64 institution, qint64 tableIdent) {
    quint32 h = 5381;
    return hashTable(h, table, institution, tableIdent) == 0 ? 0 : h;
}

quint32 FormDataChecksum(ValueTable table, qint64 institution, qint64 formId) {
    const QVariantList idents = db::column(db::connection(db::kMain),
                                           QStringLiteral("select ident from tables where form=? order by ident"),
                                           {formId});
    quint32 h = 5381;
    for (const QVariant &ident : idents) hashTable(h, table, institution, ident.toLongLong());
    return h;
}
