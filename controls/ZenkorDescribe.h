#pragma once
// Readable descriptions of imported controls (commnt of zenkor_controls).
// The fill itself is TControlMatchImporter::UpdateControlDescriptions and its
// helpers (controls/ZenkorImporter.h); the number rewriting used by it is
// declared here.
#include <QString>

class NameValueList;

namespace zenkor {

// Rewrites every whole number n of a "СТР[n]" group (RenumberColumnRefs: "ГР[n]")
// into the map's value for n when it has one. A null map changes nothing.
QString RenumberRowRefs(const QString &side, const NameValueList *map);
QString RenumberColumnRefs(const QString &side, const NameValueList *map);

} // namespace zenkor
