# Fails when a window keeps a widget or a command slot under a numbered name
# (Label2, N5, Button1Click) in its header, when the code of the program
# reaches a numbered member (->N5, .Memo1) of any window, or when a test or a
# benchmark reaches a numbered member that none of the windows still to be
# rebuilt declares: windows keep their widgets in a private struct under names
# of what they show or do, and other code talks to them through intent-named
# methods.
#
# The windows still to be rebuilt (the forms tree and the summation window)
# keep numbered members, which their own code, the
# tests and the benchmarks reach; their headers are read for the names they
# declare, so that a reach of any other numbered name is listed.
# Run: cmake -DROOT=<source folder> -P WindowMembers.cmake
cmake_minimum_required(VERSION 3.20)
if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

# The numbered names the form designer gives: a widget kind, a number, and for
# a handler what it handles ("N5Click", "ListView1KeyF7", "LAdm4_1").
set(kind "N|Label|Edit|MaskEdit|Button|BitBtn|SpeedButton|ComboBox|CheckBox|CheckListBox|ListBox|FileListBox|DirectoryListBox|ListView|TreeView|Memo|RichEdit|Panel|GroupBox|RadioGroup|RadioButton|StringGrid|Gauge|ProgressBar|MainMenu|PopupMenu|Splitter|Timer|Image|Bevel|TabSheet|PageControl|abcMouseLabel|abcBackground|Lrek|LAdm|Ladm|LLev|Word|Excel")
set(numbered "(${kind})[0-9]+(_[0-9]+)?[A-Za-z0-9]*")
# A member or slot declared under such a name: "QLabel *Label1 = nullptr;",
# ", *N12 = nullptr", "void N5Click();".
set(declared "\\*[ ]*${numbered}[ ]*(=|;|,)|(^|[^0-9A-Za-z_])${numbered}[ ]*\\(")
set(reached "(->|\\.)${numbered}([^0-9A-Za-z_]|$)")
# The windows still to be rebuilt.
set(pending "^forms/tree/FormList|^reports/Summation")

set(offenders)
set(pendingNames)
file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/forms/*.h ${ROOT}/reports/*.h)
list(FILTER headers INCLUDE REGEX "${pending}")
foreach(f IN LISTS headers)
  file(STRINGS ${ROOT}/${f} lines ENCODING UTF-8 REGEX "${declared}")
  foreach(line IN LISTS lines)
    string(REGEX MATCHALL "(^|[^0-9A-Za-z_])${numbered}" names "${line}")
    foreach(n IN LISTS names)
      string(REGEX REPLACE "^[^0-9A-Za-z_]" "" n "${n}")
      list(APPEND pendingNames "${n}")
    endforeach()
  endforeach()
endforeach()

# Window headers, but for those still to be rebuilt.
foreach(folder platform engine core widgets forms controls reports updates app)
  file(GLOB_RECURSE headers RELATIVE ${ROOT} ${ROOT}/${folder}/*.h)
  foreach(f IN LISTS headers)
    if(f MATCHES "${pending}")
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} window ENCODING UTF-8 REGEX "Q_OBJECT")
    if(NOT window)
      continue()
    endif()
    file(STRINGS ${ROOT}/${f} lines ENCODING UTF-8 REGEX "${declared}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ ]*//" OR NOT line MATCHES "${declared}")
        continue()
      endif()
      string(REGEX REPLACE "[ ]*//.*$" "" line "${line}")
      string(STRIP "${line}" line)
      string(REPLACE ";" "" line "${line}")
      list(APPEND offenders "${f}: declares ${line}")
    endforeach()
  endforeach()
endforeach()

# Reaches, anywhere in the program, its tests and benchmarks.
foreach(folder platform engine core widgets forms controls reports updates app tests bench)
  file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/${folder}/*.h ${ROOT}/${folder}/*.cpp)
  foreach(f IN LISTS files)
    if(f MATCHES "^tests/scans/")
      continue()
    endif()
    # The program reaches no numbered member at all, not even one of a
    # window still to be rebuilt; tests and benchmarks may drive those, and
    # those windows their own.
    set(program FALSE)
    if(NOT f MATCHES "^(tests|bench)/" AND NOT f MATCHES "${pending}")
      set(program TRUE)
    endif()
    file(STRINGS ${ROOT}/${f} lines ENCODING UTF-8 REGEX "${reached}")
    foreach(line IN LISTS lines)
      if(line MATCHES "^[ ]*//")
        continue()
      endif()
      # Texts are not code ("Main.Label2.Caption" in a message).
      string(REGEX REPLACE "\"([^\"\\\\]|\\\\.)*\"" "\"\"" code "${line}")
      string(REGEX MATCHALL "(->|\\.)${numbered}" names "${code}")
      foreach(n IN LISTS names)
        string(REGEX REPLACE "^(->|\\.)" "" n "${n}")
        if(program OR NOT n IN_LIST pendingNames)
          string(STRIP "${line}" line)
          string(REPLACE ";" "" line "${line}")
          list(APPEND offenders "${f}: reaches ${n}: ${line}")
          break()
        endif()
      endforeach()
    endforeach()
  endforeach()
endforeach()

if(offenders)
  list(LENGTH offenders count)
  string(REPLACE ";" "\n  " text "${offenders}")
  message(FATAL_ERROR "${count} numbered window member(s) past the windows still to be rebuilt:\n  ${text}")
endif()
message(STATUS "windows: no numbered members but in those still to be rebuilt, none reached from the program")
