# Fails when the mark of a check tree's node is read past IsTreeNodeMarked:
# from its font weight (the bold font only shows the mark) or from the data
# role the mark is kept under.
# Run: cmake -DROOT=<source folder> -P TreeMarks.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  # A tree item's font of a column asked for its weight; the mark's role.
  PATTERN "font\\([^)]+\\) *[.]bold\\(\\)|kNodeMarkRole"
  ALLOW_FILES
    # The marking itself: it keeps the state and draws it.
    "core/TreeMarking.h"
    "core/TreeMarking.cpp"
  WHAT "tree mark(s) read past IsTreeNodeMarked"
  OK "tree marks: read through IsTreeNodeMarked")
