# Fails when a list is sorted past the one order of names (text::compareNames
# in platform/NameOrder.cpp, the collation NAMES in the databases): Qt's own
# sorts and comparisons of texts put "ЦРБ №10" before "ЦРБ №2" and Ё apart.
# Run: cmake -DROOT=<source folder> -P NameOrder.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
set(FOLDERS platform engine core widgets forms controls reports updates app)
# "<file>:<text of the line>" that may sort otherwise, each with its reason.
set(ALLOW_LIST
  # The order of files inside an update archive: byte order, the same on every machine.
  "updates/UpdateSupport.cpp:files.sort()")
set(offenders)
foreach(folder IN LISTS FOLDERS)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    file(STRINGS ${ROOT}/${f} lines REGEX "\\.sort\\(\\)|localeAwareCompare|sortItems\\(|setSortingEnabled\\(true|QCollator")
    foreach(line IN LISTS lines)
      string(STRIP "${line}" line)
      string(REPLACE ";" "" key "${line}")
      if("${f}:${key}" IN_LIST ALLOW_LIST)
        continue()
      endif()
      list(APPEND offenders "${f}: ${key}")
    endforeach()
  endforeach()
endforeach()
if(offenders)
  list(LENGTH offenders n)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${n} sort(s) past the order of names:\n  ${text}")
endif()
message(STATUS "names: one order")
