#pragma once
// Data services shared by the work windows: table and form lookups over the
// caches of the open year, reading and writing a whole table of values
// through DataMatrix, summing institutions, value checksums and small text
// helpers. No window of its own; everything here is callable from tests.
//
// Values are read from and written to the value table named by
// shared().DataTableName on connection db::kData; definitions come from
// db::kMain.
#include "engine/EngineError.h"
#include "engine/StringList.h"

#include <QString>
#include <stdexcept>

class ProgressSink;


// A text that should be a number and is not (a list item, a form id, ...).
class ConversionError : public EngineError {
public:
    using EngineError::EngineError;
};

// Column count + 1, row count + 1, fixed columns, fixed rows of a table.
// colCountPlus1 is 0 when the table was not found; the lookups then leave the
// other three fields as the caller set them.
struct TableGeometry {
    int colCountPlus1 = 0;
    int rowCountPlus1 = 0;
    int fixCols = 0;
    int fixRows = 0;
    bool found() const { return colCountPlus1 != 0; }
};

// ---- Lookups over the caches (FormsList, TablesList, TablesArray) ----------
// Table key is the table number with its parentheses, e.g. "(1000)". Form
// names and keys are matched without regard to letter case.
bool GetTableGeometry(const QString &formName, const QString &tableKey, TableGeometry &geometry);
bool GetTableGeometryByFormId(qint64 formId, const QString &tableKey, TableGeometry &geometry);
qint64 GetTableIdent(const QString &formName, const QString &tableKey);     // -1 when none
qint64 GetTableIdentByFormId(qint64 formId, const QString &tableKey);       // -1 when none
// The form id as text; throws ConversionError when it is no integer.
qint64 GetTableIdentByFormId(const QString &formIdText, const QString &tableKey);
int IndexOfTableIdent(qint64 ident);                                        // -1 when none
QString GetFormNameById(qint64 formId);                                     // upper case; empty when none

// ---- Database lookups and services ----------------------------------------
qint64 GetFormIdByName(const QString &formName);   // forms.id, -1 when none
qint64 FindFormId(const QString &formName);        // same as GetFormIdByName

// The value table named by DataTableName, normalised to "data" or "repdata"
// (any letter case; empty means "data"). Throws db::Error for another name.
QString ValueTableName();

// Rewrites the institution's stored values of the table and year from
// DataMatrix (zero cells are not stored), in one transaction.
void SaveTableData(qint64 institution, qint64 formId, const QString &tableKey);
// Adds the values of the table and year of every institution of IncludeList
// (table "data") into DataMatrix, which must already be created.
void SumHospitalsData(qint64 formId, const QString &tableKey, ProgressSink *progress = nullptr);

// Checksums of stored values (value table DataTableName, the open year):
// h = h xor (h shl 5) xor bits(float(value)), starting from 5381, values in
// row, column order. A table without values gives 0; a form gives 5381.
quint32 TableDataChecksum(qint64 institution, qint64 tableIdent);
quint32 FormDataChecksum(qint64 institution, qint64 formId);
// One step of that hash (exposed for callers that hash values themselves).
quint32 ChecksumStep(quint32 hash, double value);

// ---- Text helpers (positions are 1-based) ---------------------------------
// Position of sub at or after start; text.length() + 1 when absent (start
// itself when start lies beyond the text).
int PosFrom(const QString &sub, const QString &text, int start);
// Position of the last sub that begins at or before index - sub.length();
// 0 or less when absent.
int PosBackFrom(const QString &text, int index, const QString &sub);
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
