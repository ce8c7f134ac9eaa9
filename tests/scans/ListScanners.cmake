# Fails when the line markers of the notation ("СТР", "ГР", with or without
# their "["), its range marker ".." or a table's "Т[" / "Т(" are searched for
# outside engine/Notation: lists, ranges, groups, cycles and table keys of the
# program's own texts are found and read there alone (notation::FindGroups,
# ReadCycle, ReadListItems, BracketBareNumbers, FindReferences,
# ReadLineReferences, SquareTableBrackets, ReadTableKey, TableKeyOf,
# StoredTableKey, CutSide, ExpandedNumbers), so that every reader takes a
# text as the rule check and the rule run take it. Hand bracket and list
# scanners count too: a bracket looked for (indexOf of "[", "]", "(" or ")"),
# a character compared with a square bracket, a "[" looked for with contains,
# a text cut at its commas (split, tokenize), a marker looked for with its
# bracket (indexOf(kT + u'[')), a side cut at a set of its signs ("+-*/()").
# Readers of rule texts that go around the notation by other means count as
# well: a regular expression over them (a text holding a marker "Ф", "Т",
# "СТР" or "ГР" and a sign of a regular expression: a doubled backslash
# before a bracket, s, d or w, or a class "[^...]"), a LIKE pattern over them
# (a marker beside a "%"), and a form or table mark looked for by hand
# (indexOf, contains, split of "Ф" or "Т", a character compared with "Ф").
# The control book's own notation is another language, read by its importer
# and its proof on their own.
# Run: cmake -DROOT=<source folder> -P ListScanners.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
set(markers "\\(u?\"(СТР|ГР)\\[?\\]?\"\\)|(СТР|ГР)\\\\\\\\s|[A-Za-z]\\((QStringLiteral|QLatin1String)\\(\"(\\.\\.|Т\\(|Т\\[\\]?)\"\\)|[=!]= u'(Т|т)'")
# Without groups (a CMake pattern holds at most nine) and with balanced
# square brackets (an unbalanced one joins the arguments that follow).
set(char "[uQLatinChar1(]*")
set(brackets "[iI]ndexOf\\(${char}'[][()]'|[=!]= ${char}'[][]'|contains\\(${char}'[][]'|split\\(${char}','|tokenize\\(${char}','|split\\([QStringLiteral(]*\",\"|(indexOf|contains)\\([A-Za-z]+ \\+ u'[][(]'\\)|\"[()*+/-][()*+/-][()*+/-][()*+/-][()*+/-]")
# Lines that cut or look for brackets and commas of texts that are no
# notation, matched by their text (forms/ files move among its rooms).
set(not_notation
  # The table window's cell keys "row,column" (MakeCellKey).
  "const QStringList p = key\\.split\\(u','\\)"
)
list(JOIN not_notation "|" not_notation)
# Regular expressions, LIKE patterns and marks looked for by hand (each
# pattern with its own nine groups).
set(regexSign "(\\\\\\\\[][()sdw]|\\[\\^.*\\])")
set(regexes "\"[^\"]*(Ф|Т|СТР|ГР)[^\"]*${regexSign}|\"[^\"]*${regexSign}[^\"]*(Ф|Т|СТР|ГР)")
# (a "%" before a digit is a place of QString::arg)
set(likes "%(Ф|Т|т|СТР|ГР)|(Ф|Т|т|СТР|ГР)%([^0-9]|$)")
set(mark "(Ф|Т|ф|т)")
set(marks "(indexOf|contains|startsWith|endsWith|split|count)\\((k[FT][,)]|u?\"${mark}\"|QStringLiteral\\(\"${mark}\"\\)|u'${mark}')|[=!]= u'(Ф|ф)'")
scan_lines(
  UTF8
  PATTERN "${markers}|${brackets}"
  # Comments.
  SKIP "^ *//|${not_notation}"
  ALLOW_FILES
    engine/Notation.cpp
    # The control book's lines: their importer and the per-line proof.
    controls/ZenkorConvert.cpp
    controls/ZenkorImporter.cpp
    controls/ZenkorProof.cpp
    controls/ZenkorTable.cpp
    # The update server's JSON answers.
    updates/UpdateLists.cpp
  ALLOW_LINES
    # The tags of the structure file's row, column and title lines.
    "engine/CatalogGate.cpp:for (const QString &tag : {QStringLiteral(\"СТР\"), QStringLiteral(\"ГР\"), QStringLiteral(\"ЗАГ\")})"
    # The catalogue refuses a table number holding a square bracket: a check of a name.
    "engine/CatalogGate.cpp:if (inner.contains(QLatin1Char('[')) || inner.contains(QLatin1Char(']')))"
    # A description spells a list the control book's way: "1..3" as "1+..+3".
    "controls/ZenkorDescribe.cpp:s.replace(QStringLiteral(\"..\"), QStringLiteral(\"+..+\"))"
    "controls/ZenkorDescribe.cpp:list.replace(QStringLiteral(\"..\"), QStringLiteral(\"+..+\"))"
    # The cached shape of a table: "fixcols,fixrows,colcount,rowcount".
    "controls/ZenkorDescribe.cpp:const QStringList geometry = TableGeometryCache.value(key).split(u',')"
    # The bold "[...]" of a line of the rule comparison's own result.
    "controls/ControlMatch.cpp:const int open = int(line.lastIndexOf(u'['))"
    "controls/ControlMatch.cpp:const int close = int(line.indexOf(u']', open))"
    # An expression is cut into terms at operators outside its brackets; no list or key is read.
    "engine/FormulaParser.cpp:else if (c == u'[') ++bracket"
    "engine/FormulaParser.cpp:else if (c == u']') --bracket"
    # Id lists of the settings and the database (text::parseIdList).
    "engine/TextUtil.cpp:for (const QString &part : list.split(u',', Qt::SkipEmptyParts)) {"
    # The fields of a Word template's cell-mapping file.
    "engine/CatalogRename.cpp:QStringList f = line.split(QLatin1Char(','))"
    # The fields of the non-summable positions file.
    "reports/SummationLogic.cpp:for (const QString &part : field.split(QLatin1Char(','), Qt::SkipEmptyParts)) {"
    # A path that climbs out of its folder.
    "updates/UpdateSupport.cpp:return !parts.contains(QStringLiteral(\"..\"))"
  ALSO "${regexes}" "${likes}" "${marks}"
  WHAT "list or group scanner(s) past the notation"
  OK "lists and groups: one reader")
