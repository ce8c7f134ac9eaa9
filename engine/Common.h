#pragma once
// Data services shared by the work windows: table and form lookups over the
// caches of the open year, reading and writing a whole table of values
// through a value matrix, summing institutions, value checksums and small text
// helpers. No window of its own; everything here is callable from tests.
//
// Values are read from and written to the value table the caller names on
// connection db::kData; definitions come from db::kMain.
#include "engine/EngineError.h"
#include "engine/SharedState.h"
#include "engine/StringList.h"
#include "engine/SummaryMembers.h"
#include "engine/ValueMatrix.h"

#include <QString>
#include <stdexcept>

class ProgressPacer;
struct CachedTable;


// A text that should be a number and is not (a list item, a form id, ...).
class ConversionError : public EngineError {
public:
    using EngineError::EngineError;
};

// NoMembersError and RequireMembers: engine/SummaryMembers.

// ---- Lookups over the caches of the open year (shared().Caches) ----------
// Table key is the table number with its parentheses, e.g. "(1000)". Form
// names and keys are matched without regard to letter case.
// The cached table; nullptr when none. Shapes: engine/TableShape.
const CachedTable *FindCachedTable(const QString &formName, const QString &tableKey);
qint64 GetTableIdent(const QString &formName, const QString &tableKey);     // -1 when none
qint64 GetTableIdentByFormId(qint64 formId, const QString &tableKey);       // -1 when none
// The form id as text; throws ConversionError when it is no integer.
qint64 GetTableIdentByFormId(const QString &formIdText, const QString &tableKey);
QString GetFormNameById(qint64 formId);                                     // upper case; empty when none
// Form names of a list joined by "," (the group-load choice), in capitals.
// A name of the catalogue that holds a comma itself ("Ф1,2") is kept whole.
QStringList SplitFormNameList(const QString &list);

// ---- Database lookups and services ----------------------------------------
qint64 GetFormIdByName(const QString &formName);   // forms.id, -1 when none
qint64 FindFormId(const QString &formName);        // same as GetFormIdByName

// SQL name of a value table: "data" or "repdata" (None means "data").
QString ValueTableName(ValueTable name);

// Rewrites the institution's stored values of the table and year in the
// value table from the matrix (zero cells are not stored), in one transaction;
// a value past the storable range (RequireStorableValue) stores nothing.
void SaveTableData(const ValueMatrix &matrix, const QString &valueTable, qint64 institution, qint64 formId,
                   const QString &tableKey);
// Adds the values of the table and year of every member of the include list
// into the matrix, which must already be created: institutions' values
// ("data"), or for MemberKind::Reports the stored values of the member
// reports other than self ("repdata"). Throws NoMembersError (the matrix
// untouched) when the members resolve to none. The pacer keeps the progress
// window painting and stops the run on "Отмена".
void SumHospitalsData(ValueMatrix &matrix, const QString &includeList, qint64 formId, const QString &tableKey,
                      ProgressPacer *pacer = nullptr, MemberKind kind = MemberKind::Institutions, qint64 self = 0);

// Checksums of stored values (of the given value table, the open year):
// h = h xor (h shl 5) xor bits(float(value)), starting from 5381, values in
// row, column order. A table without values gives 0; a form gives 5381.
quint32 TableDataChecksum(ValueTable table, qint64 institution, qint64 tableIdent);
quint32 FormDataChecksum(ValueTable table, qint64 institution, qint64 formId);
// One step of that hash (exposed for callers that hash values themselves).
quint32 ChecksumStep(quint32 hash, double value);

// ---- Text helpers ---------------------------------------------------------
// Positions count from 1. PosFrom: the first occurrence of sub in text at or
// after start; text.size() + 1 when there is none, start itself when it lies
// beyond the text. An empty sub is found nowhere.
qsizetype PosFrom(const QString &sub, const QString &text, qsizetype start);
// PosBackFrom: the last occurrence of sub in text that begins at or before
// index - sub.size(); 0 when there is none (or an empty sub).
qsizetype PosBackFrom(const QString &text, qsizetype index, const QString &sub);
// Every character a digit or "." (true for the empty text).
bool IsDigitsText(const QString &text);
// Not empty and every character a digit or ".".
bool IsDecimalText(const QString &text);
// Adds offset to every number of a comma list ("1,2,5" + 3 -> "4,5,8");
// throws ConversionError for an item that is no integer.
QString ShiftNumberList(const QString &list, int offset);
QString ReplaceChar(const QString &text, QChar what, QChar with);
QString RemoveChar(const QString &text, QChar what);
// First index whose object equals value, -1 when none.
int IndexOfObjectValue(qint64 value, const StringList &list);
