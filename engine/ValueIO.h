#pragma once
// Reading and writing a whole table of values through a value matrix, and
// summing the members of a summary into one.
//
// Values are read from and written to the value table the caller names on
// connection db::kData; definitions come from db::kMain.
#include "engine/ValueMatrix.h"
#include "engine/WorkModes.h"

#include <QString>

class ProgressPacer;

// Rewrites the institution's stored values of the table and year in the
// value table from the matrix (zero cells are not stored), in one transaction;
// a value past the storable range (RequireStorableValue) stores nothing.
void SaveTableData(const ValueMatrix &matrix, ValueTable valueTable, qint64 institution, qint64 formId,
                   const QString &tableKey);
// Adds the values of the table and year of every member of the include list
// into the matrix, which must already be created: institutions' values
// ("data"), or for MemberKind::Reports the stored values of the member
// reports other than self ("repdata"). Throws NoMembersError
// (engine/SummaryMembers; the matrix untouched) when the members resolve to
// none. The pacer keeps the progress window painting and stops the run on
// "Отмена".
void SumHospitalsData(ValueMatrix &matrix, const QString &includeList, qint64 formId, const QString &tableKey,
                      ProgressPacer *pacer = nullptr, MemberKind kind = MemberKind::Institutions, qint64 self = 0);
