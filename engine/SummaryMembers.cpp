#include "engine/SummaryMembers.h"

#include "engine/TextUtil.h"
#include "platform/Database.h"

#include <QHash>
#include <QSet>
#include <QSqlQuery>

namespace {

QString idsText(const QList<qint64> &ids) {
    QStringList parts;
    for (qint64 id : ids) parts.append(QString::number(id));
    return parts.join(QStringLiteral(", "));
}

QString whose(MemberKind kind) {
    return kind == MemberKind::Reports ? QStringLiteral("входящие отчеты") : QStringLiteral("входящие учреждения");
}

QString noMembersMessage(const SummaryMembers &m) {
    const QString tail = QStringLiteral("отчет не пересчитан. Сохраненные значения не изменены.");
    if (m.unresolved.isEmpty())
        return QStringLiteral("Не заданы ") + whose(m.kind) + QStringLiteral(", ") + tail;
    QString found = whose(m.kind);
    found[0] = found.at(0).toUpper();
    return found + QStringLiteral(" не найдены (коды: ") + idsText(m.unresolved) + QStringLiteral("): ") + tail;
}

} // namespace

ValueTable SummaryMembers::valueTable() const {
    return kind == MemberKind::Reports ? ValueTable::RepData : ValueTable::Data;
}

QString SummaryMembers::unresolvedNote() const {
    if (unresolved.isEmpty()) return {};
    return QStringLiteral("Не найдены и не учтены ") + whose(kind) + QStringLiteral(" (коды: ") +
           idsText(unresolved) + QStringLiteral(").");
}

SummaryMembers ResolveMembers(MemberKind kind, const QString &list, qint64 self) {
    SummaryMembers out;
    out.kind = kind;
    QList<qint64> named;
    QSet<qint64> seen;
    // A composite report listing itself is left out as itself, not as a
    // report that was not found.
    if (kind == MemberKind::Reports) seen.insert(self);
    for (qint64 id : text::parseIdList(list))
        if (!seen.contains(id)) {
            seen.insert(id);
            named.append(id);
        }
    if (named.isEmpty()) return out;
    const QString sql = kind == MemberKind::Reports
                            ? QStringLiteral("select id from reports where id in (%1) and id<>?")
                            : QStringLiteral("select id from administration where id in (%1) and "
                                             "coalesce(medicaltype, -1)<>-1");
    const QVariantList params = kind == MemberKind::Reports ? QVariantList{self} : QVariantList{};
    QSet<qint64> exists;
    for (const QVariant &v : db::column(db::connection(db::kMain), sql.arg(db::inList(named)), params))
        exists.insert(v.toLongLong());
    for (qint64 id : named) (exists.contains(id) ? out.ids : out.unresolved).append(id);
    return out;
}

namespace {

QString nameSql(MemberKind kind) {
    return kind == MemberKind::Reports ? QStringLiteral("select id, report from reports")
                                       : QStringLiteral("select id, unit from administration");
}

QString mark(const QString &name, qint64 id) { return name + QStringLiteral(" #") + QString::number(id); }

} // namespace

QList<MemberName> MemberNames(const SummaryMembers &members) {
    QHash<qint64, QString> names;
    QSqlQuery q = db::exec(db::connection(db::kMain),
                           nameSql(members.kind) + QStringLiteral(" where id in (%1)").arg(db::inList(members.ids)));
    while (q.next()) names.insert(q.value(0).toLongLong(), q.value(1).toString());
    QList<MemberName> out;
    QHash<QString, int> uses;
    for (qint64 id : members.ids) {
        out.append(MemberName{id, names.value(id), names.value(id)});
        ++uses[text::upper(out.constLast().name)];
    }
    for (MemberName &m : out)
        if (uses.value(text::upper(m.name)) > 1) m.marked = mark(m.name, m.id);
    return out;
}

QString MarkedUnitName(MemberKind kind, qint64 id, const QString &name) {
    QSqlQuery q = db::exec(db::connection(db::kMain), nameSql(kind) + QStringLiteral(" where id<>?"), {id});
    while (q.next())
        if (text::sameNoCase(q.value(1).toString(), name)) return mark(name, id);
    return name;
}

NoMembersError::NoMembersError(const SummaryMembers &members) : EngineError(noMembersMessage(members)) {}

SummaryMembers RequireMembers(MemberKind kind, const QString &list, qint64 self) {
    SummaryMembers m = ResolveMembers(kind, list, self);
    if (m.isEmpty()) throw NoMembersError(m);
    return m;
}
