# Fails when Qt's own (English) text of a failed file reaches the user past
# winutil::fileErrorText (platform/Errors.cpp).
# Run: cmake -DROOT=<source folder> -P FileErrors.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
set(FOLDERS platform engine core widgets forms controls reports updates app)
# Files allowed to read errorString(), each with its reason.
set(ALLOW_LIST
  # The text readers and writers name the system's code first (errno) and
  # fall back on Qt's text only for codes they do not know.
  "platform/Codepage.cpp"
  # Network replies: the server's and the network's texts (not files).
  "platform/Http.cpp"
  # A damaged update list, written to the update log only.
  "updates/UpdateLists.cpp")
set(offenders)
foreach(folder IN LISTS FOLDERS)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    if(f IN_LIST ALLOW_LIST)
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines REGEX "errorString\\(\\)")
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
  message(FATAL_ERROR "${n} file error text(s) past the translation:\n  ${text}")
endif()
message(STATUS "file errors: one translation")
