# Fails when a window finds another window, or another window's widget, by
# its object name (or walks the top-level windows): what a window needs from
# the one that opened it is passed in by that opener.
# Run: cmake -DROOT=<source folder> -P WindowLookup.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
set(FOLDERS platform engine core widgets forms controls reports updates app)
# Files allowed to look up widgets by name, each with its reason.
set(ALLOW_LIST
  # The formula highlighter finds the previous-year half it made itself
  # beside its own view, in the same window.
  "core/FormulaHighlighter.cpp"
  # The administrator mode recognises a window's own administrator menu bar
  # by its name.
  "core/AdminMode.cpp"
  # The main window's caption, found by its type (QMainWindow), for the
  # heading of a list.
  "forms/FormListCommon.cpp")
# Walking the top-level windows, comparing object names, or findChild with
# a name (Qt:: options alone are fine).
set(PATTERN "topLevelWidgets\\(|allWidgets\\(|objectName\\(\\) *[!=]=|findChild(ren)?<[^>]*>\\(([^)Q]|Q[^t])")
set(offenders)
foreach(folder IN LISTS FOLDERS)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    if(f IN_LIST ALLOW_LIST)
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines REGEX "${PATTERN}")
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      string(REPLACE ";" "," line "${line}")
      list(APPEND offenders "${f}: ${line}")
    endforeach()
  endforeach()
endforeach()
if(offenders)
  list(LENGTH offenders n)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${n} window lookup(s) by name:\n  ${text}")
endif()
message(STATUS "windows: none looked up by name")
