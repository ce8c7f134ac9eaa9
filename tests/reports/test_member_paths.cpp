// Every path that reads a report's members, run through the same three reports: one of institutions, a composite one
// (its members are reports whose ids other institutions also have) and one whose institutions are all gone. Each takes
// the members resolved once (engine/SummaryMembers): institutions for the first, the member reports for the second,
// none for the third. The recalculation paths are run through the same cases in test_recalc_paths.
#include "engine/SharedState.h"
#include "engine/SummaryMembers.h"
#include "forms/output/ExcelOutput.h"
#include "platform/Database.h"
#include "reports/IndicatorEval.h"
#include "reports/ReportLogic.h"
#include "support/SourceScan.h"
#include "support/WindowTestBase.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <functional>
#include <gtest/gtest.h>

namespace ids = sample::ids;

namespace {

struct Report { const char *what; qint64 id; MemberKind kind; QStringList names; };

// The members' names each path produced (or the sums it made, named by the members summed).
struct MemberPath { const char *name; std::function<QStringList(const Report &, SampleFixture &)> run; };

QString memberList(const Report &r) {
    return r.kind == MemberKind::Reports ? reports::compositeMemberList(r.id) : reports::reportMemberList(r.id);
}

QList<MemberPath> paths() {
    return {
        {"Вся форма по входящим", [](const Report &r, SampleFixture &fx) {
             const QString folder = fx.root() + "per" + QString::number(r.id);
             QStringList names;
             for (const QString &f : excelout::exportFormPerMember(folder, {"Ф30 - Сведения", {}}, memberList(r), r.kind))
                 names << QFileInfo(f).completeBaseName().mid(QStringLiteral("Ф30 - ").size());
             return names;
         }},
        {"Таблица по входящим", [](const Report &r, SampleFixture &) {
             office::ExcelWorkbook book = excelout::exportTablePerMember({ids::TableF30Visits, "(2000) - Посещения"},
                                                                         "Ф30", memberList(r), r.kind, {});
             QStringList names;
             for (int i = book.sheetCount() - 1; i >= 1; --i)   // newest sheet first
                 if (!book.sheet(i).value(4, 5).isNull() || book.sheet(i).name() != "Лист1")
                     names << book.sheet(i).name();
             names.removeAll("Лист1");
             return names;
         }},
        {"Показатели: разрез", [](const Report &r, SampleFixture &) {
             WorkContext work = testWork();
             work.mode = r.kind == MemberKind::Reports ? ReportMode::Terrain : ReportMode::Svod;
             work.institution = r.id;
             work.includeList = memberList(r);
             work.members = r.kind;
             QStringList names;
             for (qint64 id : indicators::SplitMembers(work))
                 names << db::scalar(db::connection(db::kMain),
                                     r.kind == MemberKind::Reports ? "select report from reports where id=?"
                                                                   : "select unit from administration where id=?",
                                     {id}).toString();
             return names;
         }},
        {"Население: подсчет", [](const Report &r, SampleFixture &fx) {
             const QString counted = r.kind == MemberKind::Reports
                                         ? reports::countByReports(r.id, fx.year()).value_or(reports::Population{}).common
                                         : reports::countByInstitutions(r.id, fx.year()).common;
             // The sum the members' own populations give, named by those members.
             const QString table = r.kind == MemberKind::Reports ? "populations" : "populations1";
             const QStringList ids = memberList(r).split(',', Qt::SkipEmptyParts);
             qint64 expected = 0;
             QStringList names;
             for (const QString &id : ids) {
                 const QVariant name = db::scalar(db::connection(db::kMain),
                                                  r.kind == MemberKind::Reports
                                                      ? "select report from reports where id=?"
                                                      : "select unit from administration where id=? and medicaltype<>-1",
                                                  {id.toLongLong()});
                 if (!name.isValid() || name.isNull()) continue;
                 names << name.toString();
                 expected += db::scalar(db::connection(db::kMain),
                                        QStringLiteral("select coalesce(sum(common), 0) from %1 where unit=? and year=?")
                                            .arg(table), {id.toLongLong(), fx.year()}).toLongLong();
             }
             return counted.toLongLong() == expected ? names : QStringList{"сумма " + counted};
         }},
    };
}

using MemberPathsTest = SampleTest;

} // namespace

TEST_F(MemberPathsTest, EveryPathTakesTheResolvedMembers) {
    // Institution 2 is a district, 99 never existed, 0 is nobody.
    db::exec(db::kMain, "insert into reports (id, report, include, net) values (7, 'Ушедшие', '99,0,2,', 0)");
    const QList<Report> reportsToTry = {
        {"учреждения", ids::ReportNorth, MemberKind::Institutions,
         {"Северная ЦРБ", "Северная поликлиника", "ФАП Озёрный", "ФАП Лесной"}},
        {"составной", ids::ReportComposite, MemberKind::Reports, {"Свод по области", "Свод по Северному району"}},
        {"все удалены", 7, MemberKind::Institutions, {}},
    };
    for (const MemberPath &p : paths())
        for (const Report &r : reportsToTry) {
            SCOPED_TRACE(std::string(p.name) + " / " + r.what);
            EXPECT_EQ(p.run(r, fx), r.names);
        }
    // The resolution itself names what it left out.
    const SummaryMembers gone = ResolveMembers(MemberKind::Institutions, reports::reportMemberList(7));
    EXPECT_TRUE(gone.isEmpty());
    EXPECT_EQ(gone.unresolved, (QList<qint64>{99, 0, 2}));
    EXPECT_EQ(gone.unresolvedNote(), "Не найдены и не учтены входящие учреждения (коды: 99, 0, 2).");
    // A composite report that lists itself leaves itself out as itself: only what names nothing is "not found".
    const QString list = QStringLiteral("%1,99,%2,%1").arg(ids::ReportComposite).arg(ids::ReportNorth);
    const SummaryMembers composite = ResolveMembers(MemberKind::Reports, list, ids::ReportComposite);
    EXPECT_EQ(composite.ids, QList<qint64>{ids::ReportNorth});
    EXPECT_EQ(composite.unresolvedNote(), "Не найдены и не учтены входящие отчеты (коды: 99).");
    EXPECT_TRUE(ResolveMembers(MemberKind::Reports, QString::number(ids::ReportComposite), ids::ReportComposite)
                    .unresolved.isEmpty());
}

// A member list is read as ids only where it is resolved: a new reader of reports.include or statistics.include, or a
// new sum over an include list, has to go through engine/SummaryMembers.
TEST(MemberPathsScan, MemberListsAreResolvedInOnePlace) {
    const QRegularExpression reader(
        QStringLiteral(R"(include from (reports|statistics)|parseIdList\([^)]*(includeList|storedInclude|MemberList))"));
    const QStringList known{
        "reports/ReportLogic.cpp",    // the stored lists, handed to the resolution
        "reports/IndicatorEval.cpp",  // the institutions of chosen types: ids the types window read from the territory
        "engine/RuleEngine.cpp",      // the same, for the rule run over types
        "forms/table/Breakdown.cpp",        // the same, for the breakdown by types
        "forms/shared/AdmFormLogic.cpp",     // deleting an institution takes it out of every list
    };
    QStringList offenders;
    for (const auto &[rel, text] : productSources().asKeyValueRange())
        if (text.contains(reader) && !known.contains(rel)) offenders << rel;
    EXPECT_EQ(offenders, QStringList());
}
