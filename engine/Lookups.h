#pragma once
// Table and form lookups over the caches of the open year
// (shared().Caches, filled by engine/Caches) and in the forms catalogue of
// db::kMain.
#include "engine/EngineError.h"
#include "engine/WorkModes.h"

#include <QString>
#include <QStringList>

struct CachedTable;

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

// ---- Database lookups -------------------------------------------------------
qint64 GetFormIdByName(const QString &formName);   // forms.id, -1 when none
qint64 FindFormId(const QString &formName);        // same as GetFormIdByName
