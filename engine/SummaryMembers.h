#pragma once
// Who is summed into a summary. The members of a report of institutions are
// institutions (reports.include, a territory's institutions, the institutions
// of chosen types); the members of a composite report are other reports
// (statistics.include), whose own stored values are its terms. A member list
// is resolved here, once, and every path that sums, writes or counts members
// takes the result: report ids are never read as institution ids or the
// other way round, and an id that names nothing (a deleted institution, a
// territory, "0") is named to the user instead of being summed as nothing.
#include "engine/EngineError.h"
#include "engine/WorkModes.h"

#include <QList>
#include <QString>

struct SummaryMembers {
    MemberKind kind = MemberKind::Institutions;
    QList<qint64> ids;          // members that exist, each once, in list order
    QList<qint64> unresolved;   // ids of the list that name no such member, each once

    bool isEmpty() const { return ids.isEmpty(); }
    // The value table the members' values are read from: Data for
    // institutions, RepData for reports.
    ValueTable valueTable() const;
    // "Не найдены и не учтены входящие учреждения (коды: 99, 0)."; empty
    // when every id resolves.
    QString unresolvedNote() const;
};

// Resolves a member list ("12,15,20," or "3,7,9"; blanks, empty items and
// items that are no numbers are skipped). An institution is a unit of the
// administration table that is not a territory; a report is a row of
// reports other than `self` (a composite report is never its own member;
// `self` in its list is skipped, neither a member nor unresolved).
SummaryMembers ResolveMembers(MemberKind kind, const QString &list, qint64 self = 0);

// ---- Names of members in documents ------------------------------------------
// A document written per member (a workbook, a sheet, a printed copy) is
// named by the member's name; two members whose names are equal without
// regard to letter case would share one document. Such a name is followed by
// " #" and the member's id, the mark the transfer files use.

struct MemberName {
    qint64 id = 0;
    QString name;     // reports.report or administration.unit
    QString marked;   // name, or name + " #" + id when another member shares it
};
// The resolved members with their names, in their order.
QList<MemberName> MemberNames(const SummaryMembers &members);
// The name of one unit (institution or report) as a document names it: with
// the mark when another unit of its kind has the same name.
QString MarkedUnitName(MemberKind kind, qint64 id, const QString &name);

// A recalculation of a summary whose members resolve to none: summing
// nothing would replace its stored values (loaded from a transfer file, say)
// by none. Nothing is recalculated; the window shows the message as a warning.
class NoMembersError : public EngineError {
public:
    explicit NoMembersError(const SummaryMembers &members = {});
};

// The one check before any recalculation that stores the sums of a summary's
// members: the resolved members, or NoMembersError when there are none.
SummaryMembers RequireMembers(MemberKind kind, const QString &list, qint64 self = 0);
