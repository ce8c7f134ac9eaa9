# Fails when a value table travels as text: a parameter, member or local of
# type QString named for it and not made by ValueTableName, or "data" /
# "repdata" written as a text of its own.
# The table goes down as ValueTable (engine/WorkModes.h) and its SQL name is
# made only by ValueTableName where the statement is built, so that no text a
# user or a file gave can name the table a statement works on.
# Run: cmake -DROOT=<source folder> -P ValueTables.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
set(named "QString[ &]+(m_)?(valueTable|dataTable)[A-Za-z]* *[,;)=]")
set(literal "Q(String|Latin1String)(Literal|View)?\\(\"(rep)?data\"\\)")
scan_lines(
  PATTERN "${named}|${literal}"
  # A local made by the conversion itself; the folder of unloaded report files, called "data" too.
  SKIP "= ValueTableName\\(|ConfigPath \\+ QStringLiteral\\(\"data\"\\)"
  WHAT "value table(s) passed as text"
  OK "value tables: one conversion")
