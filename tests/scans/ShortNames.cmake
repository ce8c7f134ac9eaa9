# Fails when a form name, table number or other key is cut to the lengths of
# old fixed-length texts (10, 15, 20 characters): two tables whose numbers agree
# in their first ten characters, "(1000-дополнение-1)" and
# "(1000-дополнение-2)", would be taken for one.
# Run: cmake -DROOT=<source folder> -P ShortNames.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "\\.(left|first|truncate|resize)\\((10|15|20)\\)|\\.mid\\(0, *(10|15|20)\\)"
  ALLOW_LINES
    # A document password: the office format keeps 15 characters of it.
    "platform/office/WordDocument.cpp:for (QChar c : password.left(15)) {"
    # A sheet name is a caption, written and looked up by the same rule.
    "forms/table/TableExcel.cpp:return office::fittedSheetName((formName + tableNumber).left(20))"
  WHAT "name(s) cut to a fixed length"
  OK "names: kept whole")
