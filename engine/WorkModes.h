#pragma once
// The two work modes the main window sets before it opens a work window: the
// value table the windows read and write, and the kind of work (entry,
// summary reports, network report, indicators). The code compares the enums;
// each has exactly one spelling as text, read and written only here.
#include <QString>
#include <optional>

// Table of the values database: institutions' values or reports' values.
enum class ValueTable { None, Data, RepData };

// The one text of a value table in SQL: "data", "repdata"; None is the
// institutions' table "data" (what a context without a choice reads and
// writes). Every statement on a value table names it by this alone: the
// table travels as ValueTable, never as a text a user or a file gave.
QString ValueTableName(ValueTable table);
// Any letter case ("Data", "RepData", "Repdata", "REpData", ...), blanks
// around ignored; "" gives None; another name gives nothing.
std::optional<ValueTable> valueTableFromName(const QString &name);

// What a summary's member list names: institutions (their values in "data")
// or, for a composite report, other reports (their values in "repdata").
enum class MemberKind { Institutions, Reports };

enum class ReportMode { None, Input, Svod, Net, Terrain, Types, Single };

// "Input", "Svod", "Net", "Terrain", "Types", "Single"; "" for None.
QString reportModeText(ReportMode mode);
// Exactly those spellings; "" gives None; another text gives nothing.
std::optional<ReportMode> reportModeFromText(const QString &text);
