# Fails when a list or table key of the rule notation is cut out of its
# square brackets by hand: the rule check and the rule run read "[list]",
# blanks included, only through engine/Notation (notation::ListOfPart,
# CutReferenceParts), so that the check accepts exactly what the run reads.
# Run: cmake -DROOT=<source folder> -P RuleNotation.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "startsWith\\(u'\\['\\)|endsWith\\(u'\\]'\\)|startsWith\\(QLatin1Char\\('\\['\\)\\)|endsWith\\(QLatin1Char\\('\\]'\\)\\)"
  ALLOW_FILES
    engine/Notation.cpp
    # Section headers of INI files, no rule text.
    platform/IniFile.cpp
  # The kind of a listed rule ("Межтабличный" in brackets) before its comment in the editor's list.
  SKIP "oldText\\.startsWith"
  WHAT "rule list(s) read past the notation"
  OK "rule notation: one reading")
