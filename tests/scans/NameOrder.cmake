# Fails when a list is sorted past the one order of names (text::compareNames
# in platform/NameOrder.cpp, the collation NAMES in the databases): Qt's own
# sorts and comparisons of texts put "ЦРБ №10" before "ЦРБ №2" and Ё apart.
# Run: cmake -DROOT=<source folder> -P NameOrder.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "\\.sort\\(\\)|localeAwareCompare|sortItems\\(|setSortingEnabled\\(true|QCollator"
  ALLOW_LINES
    # The order of files inside an update archive: byte order, the same on every machine.
    "updates/UpdateSupport.cpp:files.sort()"
  WHAT "sort(s) past the order of names"
  OK "names: one order")
