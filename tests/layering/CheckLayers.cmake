# The part of the layer order the linker does not see: include lines.
#   platform < engine < core, widgets < forms < controls, reports, updates < app
# (core and widgets do not include each other; neither do controls, reports
# and updates). Calls against the order fail to link (tests/CMakeLists.txt:
# each folder's test program and link check has only the libraries below it).
# Checked here, for the sources of every folder and of its tests
# (tests/<folder>/):
#  - an include of a higher folder, written "folder/…", <folder/…> or
#    relative ("../folder/…");
#  - in the engine, a Qt Widgets or Gui header, and in the engine and the core
#    half of the platform, a header of the window half of the platform (the
#    dialog seam, fonts, the document opener);
#  - in the program, a header of the tests;
#  - in a room of forms/ (forms/<room>/ and tests/forms/<room>/), a header of
#    a higher room, and a file of forms/ or tests/forms/ outside every room;
#  - in forms/shared/ (the work without windows; its tests drive trees and
#    may), a Qt Widgets or Gui header, a header of core/ or widgets/, or of
#    the window half of the platform. Its library links without them
#    (CMakeLists.txt), so a bare <QTreeWidget> does not compile there and a
#    dialog call does not link; this names the include that comes first.
# Run: cmake -DROOT=<source folder> -DFORMS_ROOMS=<rooms, lowest first, joined
# by ","> -P CheckLayers.cmake (tests/CMakeLists.txt passes KELVANA_FORMS_ROOMS).
# Every offender is listed as "file: its folder -> included path as written".
if(NOT ROOT OR NOT FORMS_ROOMS)
  message(FATAL_ERROR "ROOT or FORMS_ROOMS is not set")
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

# The rooms of forms/, lowest first (KELVANA_FORMS_ROOMS): each is a library
# linked only to the rooms before it, and includes only those and itself; so
# do its tests (tests/forms/<room>/).
string(REPLACE "," ";" FORMS_ROOMS "${FORMS_ROOMS}")

# The window half of the platform (KELVANA_PLATFORM_UI in CMakeLists.txt):
# its headers, and the regular expression of all its files.
set(PLATFORM_UI_HEADERS platform/Dialogs.h platform/Fonts.h platform/office/Show.h)
set(PLATFORM_UI_FILES "^platform/(Dialogs\\.(h|cpp)|ErrorMessages\\.cpp|Fonts\\.(h|cpp)|office/Show\\.(h|cpp))$")

# Includes that break the order but cannot be mended yet, as
# "<file relative to ROOT>:<included path>", each with the reason.
set(ALLOW_LIST)

set(offenders)
foreach(base "" "tests/")
  foreach(folder IN LISTS FOLDERS)
    file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${base}${folder}/*.h ${ROOT}/${base}${folder}/*.cpp)
    foreach(f IN LISTS files)
      get_filename_component(dir ${ROOT}/${f} DIRECTORY)
      set(room "")
      if(folder STREQUAL "forms" AND f MATCHES "^${base}forms/([^/]+)/")
        set(room "${CMAKE_MATCH_1}")
        list(FIND FORMS_ROOMS "${room}" roomIndex)
        if(roomIndex EQUAL -1)
          list(APPEND offenders "${f}: forms -> in no room of forms/")
          set(room "")
        endif()
      elseif(folder STREQUAL "forms")
        list(APPEND offenders "${f}: forms -> in no room of forms/")
      endif()
      file(STRINGS ${ROOT}/${f} lines REGEX "^[ \t]*#[ \t]*include")
      foreach(line IN LISTS lines)
        if(NOT line MATCHES "#[ \t]*include[ \t]*([\"<])([^\">]*)[\">]")
          continue()
        endif()
        set(quoted "${CMAKE_MATCH_1}")
        set(path "${CMAKE_MATCH_2}")
        if(quoted STREQUAL "<")
          set(written "<${path}>")
        else()
          set(written "${path}")
        endif()
        if(folder STREQUAL "engine" AND path MATCHES "^(QtWidgets|QtGui)/")
          list(APPEND offenders "${f}: engine -> ${CMAKE_MATCH_1}")
          continue()
        endif()
        set(windowless FALSE)
        if(base STREQUAL "" AND room STREQUAL "shared")
          set(windowless TRUE)
          if(path MATCHES "^(QtWidgets|QtGui)(/|$)")
            list(APPEND offenders "${f}: forms/shared -> ${written}")
            continue()
          endif()
        endif()
        # A quoted path is looked up beside the file first: resolve it to the
        # path from the root (a test's own folder counts as that folder).
        if(quoted STREQUAL "\"" AND (path MATCHES "^\\.\\.?/" OR EXISTS ${dir}/${path}))
          get_filename_component(abs ${path} ABSOLUTE BASE_DIR ${dir})
          file(RELATIVE_PATH path ${ROOT} ${abs})
          string(REGEX REPLACE "^tests/([a-z]+/)" "\\1" path "${path}")
        endif()
        if(NOT path MATCHES "^([a-z]+)/")
          continue()
        endif()
        set(target ${CMAKE_MATCH_1})
        list(FIND ALLOW_LIST "${f}:${path}" excused)
        if(excused GREATER -1)
          continue()
        endif()
        list(FIND FOLDERS ${target} known)
        list(FIND ALLOWED_${folder} ${target} ok)
        list(FIND PLATFORM_UI_HEADERS "${path}" ui)
        set(higherRoom FALSE)
        # A room's tests name the test files of a room as "tests/forms/<room>/…".
        if(room AND path MATCHES "^(tests/)?forms/([^/]+)/")
          list(FIND FORMS_ROOMS "${CMAKE_MATCH_2}" targetIndex)
          if(targetIndex GREATER roomIndex)
            set(higherRoom TRUE)
          endif()
        endif()
        if(known GREATER -1 AND ok EQUAL -1)
          list(APPEND offenders "${f}: ${folder} -> ${written}")
        elseif(windowless AND (target STREQUAL "core" OR target STREQUAL "widgets" OR ui GREATER -1))
          list(APPEND offenders "${f}: forms/shared -> ${written}")
        elseif(higherRoom)
          list(APPEND offenders "${f}: forms/${room} -> ${written}")
        elseif(ui GREATER -1 AND (folder STREQUAL "engine" OR (folder STREQUAL "platform" AND base STREQUAL "" AND NOT f MATCHES "${PLATFORM_UI_FILES}")))
          list(APPEND offenders "${f}: ${folder} -> ${written}")
        elseif(target STREQUAL "tests" AND base STREQUAL "")
          list(APPEND offenders "${f}: ${folder} -> ${written}")
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(offenders)
  list(LENGTH offenders count)
  list(JOIN offenders "\n  " text)
  message(FATAL_ERROR "${count} include(s) against the layer order:\n  ${text}")
endif()
message(STATUS "Layer order kept")
