# Fails when a header of engine/ includes engine/SharedState.h (the state of
# the open year) without being allowed below: the engine's sources reach the
# state, its headers declare without it, so that including a lookup or a
# value service does not bring the whole state along.
# Run: cmake -DROOT=<source folder> -P EngineStateIncludes.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
# Headers that need the state in what they declare, each with the reason.
set(ALLOWED)

file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/engine/*.h)
set(offenders)
foreach(f IN LISTS headers)
  if(f STREQUAL "engine/SharedState.h" OR f IN_LIST ALLOWED)
    continue()
  endif()
  # Any spelling of the path: "engine/SharedState.h", <engine/…>, or
  # relative ("SharedState.h", "../engine/SharedState.h").
  file(STRINGS ${ROOT}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*/)?SharedState\\.h[\">]")
  if(lines)
    list(APPEND offenders "${f}")
  endif()
endforeach()
if(offenders)
  list(LENGTH offenders n)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${n} engine header(s) include the state of the open year:\n  ${text}")
endif()
message(STATUS "engine headers: none includes the state of the open year")
