# Fails when a source includes a folder above its own:
#   platform < engine < core, widgets < forms < controls, reports, updates < app
# (core and widgets do not include each other; neither do controls, reports
# and updates). Also fails when the engine names a Qt Widgets or Gui header.
# Run: cmake -DROOT=<source folder> -P CheckLayers.cmake
# Every offender is listed as "file: its folder -> included path".
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

set(ALLOWED_platform platform)
set(ALLOWED_engine   platform engine)
set(ALLOWED_core     platform engine core)
set(ALLOWED_widgets  platform engine widgets)
set(ALLOWED_forms    platform engine core widgets forms)
set(ALLOWED_controls platform engine core widgets forms controls)
set(ALLOWED_reports  platform engine core widgets forms reports)
set(ALLOWED_updates  platform engine core widgets forms updates)
set(ALLOWED_app      platform engine core widgets forms controls reports updates app)
set(FOLDERS platform engine core widgets forms controls reports updates app)

# Includes that break the order but cannot be mended yet, as
# "<file relative to ROOT>:<included path>", each with the reason.
set(ALLOW_LIST)

set(offenders)
foreach(folder IN LISTS FOLDERS)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    file(STRINGS ${ROOT}/${f} lines REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS lines)
      if(line MATCHES "#[ \t]*include[ \t]*\"([a-z]+)/([^\"]*)\"")
        set(target ${CMAKE_MATCH_1})
        set(path "${CMAKE_MATCH_1}/${CMAKE_MATCH_2}")
        list(FIND FOLDERS ${target} known)
        list(FIND ALLOWED_${folder} ${target} ok)
        list(FIND ALLOW_LIST "${f}:${path}" excused)
        if(known GREATER -1 AND ok EQUAL -1 AND excused EQUAL -1)
          list(APPEND offenders "${f}: ${folder} -> ${path}")
        endif()
      elseif(folder STREQUAL "engine" AND line MATCHES "#[ \t]*include[ \t]*<(QtWidgets|QtGui)/")
        list(APPEND offenders "${f}: engine -> ${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endforeach()
endforeach()

if(offenders)
  list(LENGTH offenders count)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "${count} include(s) against the layer order:\n  ${text}")
endif()
message(STATUS "Layer order kept")
