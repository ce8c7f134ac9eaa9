# Fails when Qt's own (English) text of a failed file reaches the user past
# the translations (cp1251::systemReason, winutil::fileErrorText).
# Run: cmake -DROOT=<source folder> -P FileErrors.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "errorString\\(\\)"
  ALLOW_FILES
    # Network replies: told through NetworkErrorText (not files).
    "platform/Http.cpp"
    # A damaged update list, written to the update log only.
    "updates/UpdateLists.cpp"
  WHAT "file error text(s) past the translation"
  OK "file errors: one translation")
