# Fails when code outside the table window reaches one of its widgets by a
# numbered name (->N5, .StringGrid1): other windows and tests use the
# window's intent-named accessors and commands. A file counts as reaching the
# table window when it names TVTable or opens one (showTableWindow); numbered
# members of other windows in such a file are listed below.
# Run: cmake -DROOT=<source folder> -P TableWindowMembers.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
set(pattern "(->|\\.)(N|StringGrid)[0-9]+([^0-9A-Za-z_]|$)")
set(allowed
  # The forms tree (TFormList) and the report list (TRepList) open table
  # windows; these are their own commands.
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N11->isVisible())"
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N26->isVisible())"
  "tests/app/test_formlist_window.cpp:EXPECT_FALSE(w->N12->menuAction()->isVisible())"
  "tests/app/test_formlist_window.cpp:w.N9->setVisible(true)"
  "tests/app/test_report_road.cpp:w->N7->trigger()"
  "tests/app/test_report_road.cpp:w->N10->trigger()")
set(offenders)
foreach(folder platform engine core widgets forms controls reports updates app tests bench)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    # The window's own files, and the trees the scans are tried on.
    if(f MATCHES "^forms/table/TableWindow|^tests/scans/")
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} mentions REGEX "TVTable|showTableWindow")
    if(NOT mentions)
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines REGEX "${pattern}")
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      string(REPLACE ";" "" key "${line}")
      if("${f}:${key}" IN_LIST allowed)
        continue()
      endif()
      list(APPEND offenders "${f}: ${key}")
    endforeach()
  endforeach()
endforeach()
if(offenders)
  list(LENGTH offenders n)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${n} numbered member(s) of the table window reached from outside:\n  ${text}")
endif()
message(STATUS "table window: reached only through its accessors and commands")
