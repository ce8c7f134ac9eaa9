# Fails when a window finds another window, or another window's widget, by
# its object name (or walks the top-level windows): what a window needs from
# the one that opened it is passed in by that opener.
# Run: cmake -DROOT=<source folder> -P WindowLookup.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  # Walking the top-level windows, comparing object names, or findChild with
  # a name (Qt:: options alone are fine).
  PATTERN "topLevelWidgets\\(|allWidgets\\(|objectName\\(\\) *[!=]=|findChild(ren)?<[^>]*>\\(([^)Q]|Q[^t])"
  ALLOW_FILES
    # The formula highlighter finds the previous-year half it made itself
    # beside its own view, in the same window.
    "core/FormulaHighlighter.cpp"
    # The administrator mode recognises a window's own administrator menu bar
    # by its name.
    "core/AdminMode.cpp"
    # The main window's caption, found by its type (QMainWindow), for the
    # heading of a list.
    "forms/territory/AdmForm.cpp"
  WHAT "window lookup(s) by name"
  OK "windows: none looked up by name")
