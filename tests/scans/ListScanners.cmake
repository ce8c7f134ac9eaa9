# Fails when the line markers of the notation ("СТР", "ГР", with or without
# their "["), its range marker ".." or a table's "Т[" / "Т(" are searched for
# outside engine/Notation: lists, ranges, groups, cycles and table keys of the
# program's own texts are found and read there alone (notation::FindGroups,
# ReadCycle, ReadListItems, BracketBareNumbers, FindReferences,
# ReadLineReferences, SquareTableBrackets), so that every reader takes a text
# as the rule check and the rule run take it. The control book's own notation is
# another language, read by its importer and its proof on their own.
# Run: cmake -DROOT=<source folder> -P ListScanners.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  UTF8
  PATTERN "\\(u?\"(СТР|ГР)\\[?\\]?\"\\)|(СТР|ГР)\\\\\\\\s|[A-Za-z]\\((QStringLiteral|QLatin1String)\\(\"(\\.\\.|Т\\(|Т\\[\\]?)\"\\)|[=!]= u'(Т|т)'"
  # Comments.
  SKIP "^ *//"
  ALLOW_FILES
    engine/Notation.cpp
    # The control book's lines: their importer and the per-line proof.
    controls/ZenkorConvert.cpp
    controls/ZenkorImporter.cpp
    controls/ZenkorProof.cpp
    controls/ZenkorTable.cpp
  ALLOW_LINES
    # The tags of the structure file's row, column and title lines.
    "engine/CatalogGate.cpp:for (const QString &tag : {QStringLiteral(\"СТР\"), QStringLiteral(\"ГР\"), QStringLiteral(\"ЗАГ\")})"
    # A description spells a list the control book's way: "1..3" as "1+..+3".
    "controls/ZenkorDescribe.cpp:s.replace(QStringLiteral(\"..\"), QStringLiteral(\"+..+\"))"
    "controls/ZenkorDescribe.cpp:list.replace(QStringLiteral(\"..\"), QStringLiteral(\"+..+\"))"
    # A path that climbs out of its folder.
    "updates/UpdateSupport.cpp:return !parts.contains(QStringLiteral(\"..\"))"
  WHAT "list or group scanner(s) past the notation"
  OK "lists and groups: one reader")
