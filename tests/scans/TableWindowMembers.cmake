# Fails when code outside the table window reaches one of its widgets by a
# numbered name (->N5, .StringGrid1): other windows and tests use the
# window's intent-named accessors and commands. A file counts as reaching the
# table window when it names TVTable or opens one (showTableWindow); numbered
# members of other windows in such a file are listed below.
# Run: cmake -DROOT=<source folder> -P TableWindowMembers.cmake
cmake_minimum_required(VERSION 3.20)
include(${CMAKE_CURRENT_LIST_DIR}/ScanLines.cmake)
scan_lines(
  FOLDERS platform engine core widgets forms controls reports updates app tests bench
  # The window's own files, and the trees the scans are tried on.
  SKIP_FILES "^forms/table/TableWindow|^tests/scans/"
  MENTIONS "TVTable|showTableWindow"
  PATTERN "(->|\\.)(N|StringGrid)[0-9]+([^0-9A-Za-z_]|$)"
  ALLOW_LINES
  # The forms tree (TFormList) opens table windows; these are its own
  # commands.
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N11->isVisible())"
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N26->isVisible())"
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N12->menuAction()->isVisible())"
  "tests/app/test_formlist_window.cpp:w.N9->setVisible(true)"
  WHAT "numbered member(s) of the table window reached from outside"
  OK "table window: reached only through its accessors and commands")
