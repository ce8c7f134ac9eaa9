# Fails when the library's own text of a failure (what(): English, or
# "std::bad_alloc" when the memory runs out) reaches a message past the one
# translation, winutil::errorText.
# Run: cmake -DROOT=<source folder> -P FailureTexts.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  PATTERN "\\.what\\(\\)"
  ALLOW_FILES
    # The translation itself.
    "platform/Errors.cpp"
  ALLOW_LINES
    # A failure before the application exists, to the terminal.
    "app/main.cpp:std::fprintf(stderr, \"%s\\n\", e.what())"
  WHAT "failure text(s) past the translation"
  OK "failure texts: one translation")
