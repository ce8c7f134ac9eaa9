#pragma once
// Summary reports: the rows of "reports", their member lists (institutions in
// reports.include, member reports in statistics), their populations and their
// values in "repdata". Plain functions over "dbmain" and "dbdat"; every text
// typed by the user is bound as a parameter.
#include "engine/WorkModes.h"

#include <QList>
#include <QString>
#include <optional>

namespace reports {

struct ReportRow {
    qint64 id = 0;
    QString name;
    bool net = false;
};

// Reports in list order (ind, then id); only the Form 47 reports when netOnly.
QList<ReportRow> listReports(bool netOnly);
// The report's name; empty when there is no such report.
QString reportName(qint64 id);

// Adds a report and returns its id (ind is left empty, so a new report sorts
// before the ordered ones until the order is saved).
qint64 addReport(const QString &name, bool net);
// Every write below to a report deleted behind the window (by another window
// or another copy of the program) is refused: db::Error, nothing stored.
void renameReport(qint64 id, const QString &name, bool net);
// Switches the Form 47 flag; returns the new flag.
bool toggleNet(qint64 id);
// Deletes the report and its values of every year in the current level's
// values database. Its statistics and populations rows stay.
void deleteReport(qint64 id);
// ind := position in the given order.
void saveOrder(const QList<qint64> &ids);

// ---- Member lists ----------------------------------------------------------

// reports.include as stored ("12,15,20," with the final comma; may be empty).
QString storedInclude(qint64 id);
// The stored include of a report as a list for SQL: "12,15,20" (the final
// comma dropped; a list stored without it is kept whole). Items that are not
// numbers are left out. Empty when the report has no institutions.
QString reportMemberList(qint64 id);
// statistics.include of a composite report ("3,7,9"), the last row when there
// are several; empty when none.
QString compositeMemberList(qint64 id);
// The member list the view commands use: the report's institutions in modes
// "Single", "Svod" and "Net" (for the indicators "Single" and "Svod"), its
// member reports otherwise.
QString memberListFor(ReportMode reportMode, qint64 id, bool forIndicators);
// What that list names: institutions, or member reports in the composite branch.
MemberKind memberKindFor(ReportMode reportMode, bool forIndicators);

// Stores the institutions of a report: each id followed by "," ("12,15,20,").
void setReportInclude(qint64 id, const QList<qint64> &institutions);
// Text of an include list for the report: each id followed by ",".
QString includeText(const QList<qint64> &institutions);

// Marking text of a member list: "-12-15-20-"; empty for an empty list.
QString markingText(const QString &memberList);
bool markingHas(const QString &marking, qint64 id);

// Member reports of a composite report: the row is replaced; no row when the
// list is empty.
void setComposition(qint64 id, const QList<qint64> &members);

// ---- Populations -----------------------------------------------------------

struct Population {
    QString common, olds, teens, childs;   // texts of the four counts
};
// The stored population of the report and year, none when there is no record.
std::optional<Population> readPopulation(qint64 id, int year);
// Sums of the institutions' populations (populations1) of the report's
// members; all "0" when the report has no institutions.
Population countByInstitutions(qint64 id, int year);
// Sums of the member reports' populations (populations); none when the report
// has no member reports.
std::optional<Population> countByReports(qint64 id, int year);
// Stores the population (update when a record exists, else insert). Each
// count must be a whole number of at most 7 digits (db::Error otherwise,
// nothing stored).
void savePopulation(qint64 id, int year, const Population &p);

} // namespace reports
