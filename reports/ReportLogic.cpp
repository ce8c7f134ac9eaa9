#include "reports/ReportLogic.h"

#include "engine/Populations.h"
#include "engine/SummaryMembers.h"
#include "engine/TextUtil.h"
#include "engine/WorkModes.h"
#include "platform/Database.h"

#include <QRegularExpression>
#include <QSqlQuery>

namespace reports {

namespace {

QSqlDatabase mainDb() { return db::connection(db::kMain); }

QString text0(const QVariant &v) { return v.isNull() ? QString() : v.toString(); }

QString reportGone() {
    return QStringLiteral("Отчет удален в другом окне или другой копией программы. Изменение не сохранено: откройте "
                          "окно заново.");
}

// A report deleted behind the window takes no member lists or populations.
void requireReport(const QSqlDatabase &d, qint64 id) {
    db::requireRow(d, QStringLiteral("select 1 from reports where id=?"), {id}, reportGone());
}

} // namespace

QList<ReportRow> listReports(bool netOnly) {
    QList<ReportRow> out;
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select id, report, net from reports %1 order by ind, id")
                                         .arg(netOnly ? QStringLiteral("where net") : QString()));
    while (q.next()) out.append(ReportRow{q.value(0).toLongLong(), text0(q.value(1)), db::storedYes(q.value(2))});
    return out;
}

QString reportName(qint64 id) {
    return text0(db::scalar(mainDb(), QStringLiteral("select report from reports where id=?"), {id}));
}

qint64 addReport(const QString &name, bool net) {
    const QSqlDatabase d = mainDb();
    db::exec(d, QStringLiteral("insert into reports (report, net) values (?, ?)"), {text::entry(name), net});
    return db::lastInsertId(d);
}

void renameReport(qint64 id, const QString &name, bool net) {
    db::execRow(mainDb(), QStringLiteral("update reports set report=?, net=? where id=?"),
                {text::entry(name), net, id}, reportGone());
}

bool toggleNet(qint64 id) {
    const QSqlDatabase d = mainDb();
    db::execRow(d, QStringLiteral("update reports set net=(not coalesce(net, 0)) where id=?"), {id}, reportGone());
    return db::storedYes(db::scalar(d, QStringLiteral("select net from reports where id=?"), {id}));
}

void deleteReport(qint64 id) {
    db::exec(db::connection(db::kData), QStringLiteral("delete from %1 where hospital=?").arg(ValueTableName(ValueTable::RepData)), {id});
    db::exec(mainDb(), QStringLiteral("delete from reports where id=?"), {id});
}

void saveOrder(const QList<qint64> &ids) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        for (int i = 0; i < ids.size(); ++i)
            db::execRow(d, QStringLiteral("update reports set ind=? where id=?"), {i, ids[i]},
                        QStringLiteral("Отчет удален в другом окне. Порядок не сохранен: откройте окно заново."));
    });
}

// ---- Member lists ----------------------------------------------------------

QString storedInclude(qint64 id) {
    return text0(db::scalar(mainDb(), QStringLiteral("select include from reports where id=?"), {id}));
}

QString reportMemberList(qint64 id) {
    // The stored text ends with a comma; a list written without it (by hand or
    // by an older copy) must not lose the last digit of its last id.
    return text::joinIdList(text::parseIdList(storedInclude(id)));
}

QString compositeMemberList(qint64 id) {
    QSqlQuery q = db::exec(mainDb(), QStringLiteral("select include from statistics where base=? order by rowid"),
                           {id});
    QString last;
    while (q.next()) last = text0(q.value(0));
    return text::joinIdList(text::parseIdList(last));
}

MemberKind memberKindFor(ReportMode reportMode, bool forIndicators) {
    const bool own = forIndicators ? (reportMode == ReportMode::Single || reportMode == ReportMode::Svod)
                                   : (reportMode == ReportMode::Single || reportMode == ReportMode::Svod ||
                                      reportMode == ReportMode::Net);
    return own ? MemberKind::Institutions : MemberKind::Reports;
}

QString memberListFor(ReportMode reportMode, qint64 id, bool forIndicators) {
    return memberKindFor(reportMode, forIndicators) == MemberKind::Institutions ? reportMemberList(id)
                                                                                : compositeMemberList(id);
}

QString includeText(const QList<qint64> &institutions) {
    QString s;
    for (qint64 id : institutions) s += QString::number(id) + QLatin1Char(',');
    return s;
}

void setReportInclude(qint64 id, const QList<qint64> &institutions) {
    db::execRow(mainDb(), QStringLiteral("update reports set include=? where id=?"), {includeText(institutions), id},
                reportGone());
}

QString markingText(const QString &memberList) {
    const QList<qint64> ids = text::parseIdList(memberList);
    if (ids.isEmpty()) return QString();
    QString s = QStringLiteral("-");
    for (qint64 id : ids) s += QString::number(id) + QLatin1Char('-');
    return s;
}

bool markingHas(const QString &marking, qint64 id) {
    return marking.contains(QLatin1Char('-') + QString::number(id) + QLatin1Char('-'));
}

void setComposition(qint64 id, const QList<qint64> &members) {
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireReport(d, id);
        db::exec(d, QStringLiteral("delete from statistics where base=?"), {id});
        if (!members.isEmpty())
            db::exec(d, QStringLiteral("insert into statistics (base, include) values (?, ?)"),
                     {id, text::joinIdList(members)});
    });
}

// ---- Populations -----------------------------------------------------------

namespace {

Population populationOf(const QSqlQuery &q, int first) {
    Population p;
    p.common = text0(q.value(first));
    p.olds = text0(q.value(first + 1));
    p.teens = text0(q.value(first + 2));
    p.childs = text0(q.value(first + 3));
    return p;
}

Population sums(const QString &table, const QList<qint64> &units, int year) {
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select coalesce(sum(common),0), coalesce(sum(olds),0), "
                                          "coalesce(sum(teens),0), coalesce(sum(childs),0) from %1 "
                                          "where year=? and unit in (%2)")
                               .arg(table, db::inList(units)),
                           {year});
    q.next();
    return populationOf(q, 0);
}

qint64 countValue(const QString &text, const QString &label) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,7}$"));
    const QString t = text.trimmed();
    if (!digits.match(t).hasMatch())
        throw db::Error(QStringLiteral("Поле \"%1\" должно содержать целое число не более чем из 7 цифр. "
                                       "Население не сохранено.").arg(label));
    return t.toLongLong();
}

} // namespace

std::optional<Population> readPopulation(qint64 id, int year) {
    QSqlQuery q = db::exec(mainDb(),
                           QStringLiteral("select common, olds, teens, childs from populations "
                                          "where year=? and unit=?"),
                           {year, id});
    if (!q.next()) return std::nullopt;
    return populationOf(q, 0);
}

Population countByInstitutions(qint64 id, int year) {
    return sums(QStringLiteral("populations1"), ResolveMembers(MemberKind::Institutions, storedInclude(id)).ids, year);
}

std::optional<Population> countByReports(qint64 id, int year) {
    const QList<qint64> members = ResolveMembers(MemberKind::Reports, compositeMemberList(id), id).ids;
    if (members.isEmpty()) return std::nullopt;
    return sums(QStringLiteral("populations"), members, year);
}

void savePopulation(qint64 id, int year, const Population &p) {
    const qint64 common = countValue(p.common, QStringLiteral("Всего"));
    const qint64 olds = countValue(p.olds, QStringLiteral("Взрослые"));
    const qint64 teens = countValue(p.teens, QStringLiteral("Подростки"));
    const qint64 childs = countValue(p.childs, QStringLiteral("Дети"));
    const QSqlDatabase d = mainDb();
    db::transaction(d, [&] {
        requireReport(d, id);
        StorePopulation(d, PopulationTable::Reports, id, year, {common, olds, teens, childs});
    });
}

} // namespace reports
