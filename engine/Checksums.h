#pragma once
// Checksums of stored values (of the given value table, the open year):
// h = h xor (h shl 5) xor bits(float(value)), starting from 5381, values in
// row, column order. A table without values gives 0; a form gives 5381.
#include "engine/WorkModes.h"

#include <QtGlobal>

quint32 TableDataChecksum(ValueTable table, qint64 institution, qint64 tableIdent);
quint32 FormDataChecksum(ValueTable table, qint64 institution, qint64 formId);
// One step of that hash (exposed for callers that hash values themselves).
quint32 ChecksumStep(quint32 hash, double value);
